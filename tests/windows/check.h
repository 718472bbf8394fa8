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
    ++(ok ? passed_ : failed_);
    if (!ok) std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
    return ok;
  }
  // Prints the summary; returns the process exit code.
  int Finish(const char* success_line) const {
    std::printf("%d passed, %d failed\n%s\n", passed_, failed_, failed_ ? "" : success_line);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

// Wide text as ASCII for the check messages (anything else shows as '?').
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

// An HRESULT or other 32-bit code as 0xXXXXXXXX.
inline std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace kestova::wintest
