#pragma once
// The one error type the control raises to its host: an automation run-time error
// number (the number a Basic host sees in Err.Number) with its English description.
// The COM shell turns it into DISP_E_EXCEPTION with scode 0x800A0000 + number.

#include <stdexcept>
#include <string>

namespace kestova {

enum class ErrorNumber : int {
  InvalidCall = 5,          // Invalid procedure call or argument
  Overflow = 6,
  SubscriptOutOfRange = 9,
  TypeMismatch = 13,
  BadFileName = 52,
  FileNotFound = 53,
  DeviceIo = 57,            // a serial device that vanished or failed mid-transfer
  PermissionDenied = 70,
  PathFileAccess = 75,
  PathNotFound = 76,
  InvalidPropertyValue = 380,
  // Serial port errors, numbered after the serial communications control's conventions.
  PortOpened = 8000,        // operation not valid while the port is open
  InvalidPortNumber = 8002,
  PortAlreadyOpen = 8005,
  DeviceNotOpen = 8012,
  CommStateFailed = 8015,
};

// The standard English text for an error number ("Overflow" for 6, ...).
const char* DescribeError(ErrorNumber number);

class AutomationError : public std::runtime_error {
 public:
  explicit AutomationError(ErrorNumber number);
  AutomationError(ErrorNumber number, const std::string& description);

  ErrorNumber number() const noexcept { return number_; }
  int code() const noexcept { return static_cast<int>(number_); }
  const char* description() const noexcept { return what(); }

 private:
  ErrorNumber number_;
};

}  // namespace kestova
