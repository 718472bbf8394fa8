#pragma once
// Runs a program to its end and collects what it printed; `on_first_line` may act on it
// (talk to it, signal it) once its first line is out.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace kestova::testing {

struct ProgramRun {
  int exit_status = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args,
                      const std::function<void(pid_t, const std::string& out)>& on_first_line = {});

}  // namespace kestova::testing
