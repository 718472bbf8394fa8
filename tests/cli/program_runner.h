#pragma once
// Runs a program to its end and collects what it printed, optionally interrupting it
// (SIGINT) as soon as it has printed its first line.

#include <string>
#include <vector>

namespace kestova::testing {

struct ProgramRun {
  int exit_status = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args,
                      bool interrupt_after_first_line = false);

}  // namespace kestova::testing
