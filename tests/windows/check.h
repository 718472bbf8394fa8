#pragma once
// A tiny check recorder for the programs that run under Wine (GoogleTest is not built
// for mingw here): each failed check prints what it was about, and the program ends
// with the usual "N passed, N failed" line and its own success line.

#include <cstdio>
#include <string>

namespace kestova::wintest {

class Checks {
 public:
  bool That(bool ok, const std::string& what) {
    if (ok) {
      ++passed_;
    } else {
      ++failed_;
      std::printf("FAILED: %s\n", what.c_str());
      std::fflush(stdout);
    }
    return ok;
  }
  // Prints the summary; returns the process exit code.
  int Finish(const char* success_line) const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    if (failed_ == 0) std::printf("%s\n", success_line);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

}  // namespace kestova::wintest
