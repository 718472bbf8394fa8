#pragma once
// `kestova demo`: a virtual PLC on a pseudo-terminal in this process, and a short
// narrated tour of every kind of operation against it, including one error answer and
// one time-out with the log lines they leave. Needs no hardware; POSIX only.

#include <filesystem>

#include "cli/exit_status.h"
#include "cli/reporter.h"

namespace kestova::cli {

// `log_dir` empty: a fresh temporary folder, named in the narration and kept afterwards
// so the log can be looked at. Exit status 0 when every step gave the result it should.
ExitStatus RunDemoTour(Reporter& reporter, const std::filesystem::path& log_dir);

}  // namespace kestova::cli
