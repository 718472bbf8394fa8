#pragma once
// The tool's command line: options, commands, help, and the one-line usage errors.

namespace kestova::cli {

// Parses the command line, runs the command and returns the process exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace kestova::cli
