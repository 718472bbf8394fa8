#pragma once
// The run-time error an action raised: its automation error number, or 0 when it raised
// none. Lets a table compare errors as plain numbers.

#include "link/automation_error.h"

namespace kestova::testing {

template <typename Action>
int RaisedNumber(Action&& action) {
  try {
    action();
  } catch (const AutomationError& error) {
    return error.code();
  }
  return 0;
}

template <typename Action>
ErrorNumber Raised(Action&& action) {
  return static_cast<ErrorNumber>(RaisedNumber(action));
}

}  // namespace kestova::testing
