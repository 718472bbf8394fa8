#pragma once
// The module's exceptions: one base, kestova.Error, and a class per way a call can fail.
// Every instance carries .result (the control's 16-bit result, None when the call ended
// without one) and .messages (the MelsecOut texts of the call); str() is the text that
// decided the class.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestova::python {

// Creates the classes and adds them to the module; also turns a C++ ValueError that
// escapes a binding into kestova.ArgumentError.
void AddErrors(pybind11::module_& module);

// How one control call ended, gathered while the interpreter was released.
struct CallOutcome {
  std::optional<std::int16_t> result;  // none when the control raised
  std::vector<std::string> messages;
  std::optional<int> automation_number;  // the control's run-time error, when it raised one
  std::string failure;                   // its text, or the typed layer's refusal
  bool refused_value = false;            // the typed layer refused before sending
  bool other_failure = false;            // anything else thrown below us
};

// Raises the exception the outcome calls for; returns when the call succeeded.
void RaiseFor(const CallOutcome& outcome);

// Raises kestova.ArgumentError for an argument the module itself refuses.
[[noreturn]] void RaiseArgumentError(const std::string& message);

}  // namespace kestova::python
