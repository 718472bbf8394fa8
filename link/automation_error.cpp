#include "link/automation_error.h"

namespace kestova {

const char* DescribeError(ErrorNumber number) {
  switch (number) {
    case ErrorNumber::InvalidCall: return "Invalid procedure call or argument";
    case ErrorNumber::Overflow: return "Overflow";
    case ErrorNumber::SubscriptOutOfRange: return "Subscript out of range";
    case ErrorNumber::TypeMismatch: return "Type mismatch";
    case ErrorNumber::BadFileName: return "Bad file name or number";
    case ErrorNumber::FileNotFound: return "File not found";
    case ErrorNumber::DeviceIo: return "Device I/O error";
    case ErrorNumber::PermissionDenied: return "Permission denied";
    case ErrorNumber::PathFileAccess: return "Path/File access error";
    case ErrorNumber::PathNotFound: return "Path not found";
    case ErrorNumber::InvalidPropertyValue: return "Invalid property value";
    case ErrorNumber::PortOpened: return "Operation not valid while port is opened";
    case ErrorNumber::InvalidPortNumber: return "Invalid port number";
    case ErrorNumber::PortAlreadyOpen: return "Port already open";
    case ErrorNumber::DeviceNotOpen: return "The device is not open";
    case ErrorNumber::CommStateFailed:
      return "Could not set comm state, there may be one or more invalid communication parameters";
  }
  return "Application-defined or object-defined error";
}

AutomationError::AutomationError(ErrorNumber number)
    : std::runtime_error(DescribeError(number)), number_(number) {}

AutomationError::AutomationError(ErrorNumber number, const std::string& description)
    : std::runtime_error(description), number_(number) {}

}  // namespace kestova
