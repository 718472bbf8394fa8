#pragma once
// What the process tells its caller; scripts branch on these.

#include <cstdint>

namespace kestova::cli {

enum class ExitStatus : int {
  kDone = 0,          // result 0
  kRefused = 1,       // result 1: refused argument, port closed, time-out, refused answer
  kUsage = 2,         // the command line could not be acted on
  kEndCode = 3,       // the PLC answered with an error end code
  kRunTimeError = 4,  // the control or the port raised a run-time error
};

inline ExitStatus ExitStatusFor(std::int16_t result) {
  if (result == 0) return ExitStatus::kDone;
  if (result == 1) return ExitStatus::kRefused;
  return ExitStatus::kEndCode;
}

}  // namespace kestova::cli
