#include "python/errors.h"

#include <cstdio>

#include "link/automation_error.h"
#include "values/value_error.h"

namespace py = pybind11;

namespace kestova::python {
namespace {

// The classes live as long as the interpreter: the module holds them too, and they are
// never unloaded, so plain pointers are enough.
struct ErrorClasses {
  PyObject* error = nullptr;
  PyObject* argument = nullptr;
  PyObject* timeout = nullptr;
  PyObject* end_code = nullptr;
  PyObject* sum_check = nullptr;
  PyObject* length = nullptr;
  PyObject* port = nullptr;
};
ErrorClasses classes;

PyObject* AddClass(py::module_& module, const char* name, const char* doc, py::tuple bases) {
  const std::string qualified = std::string("kestova.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
  if (type == nullptr) throw py::error_already_set();
  module.add_object(name, py::handle(type));  // steals nothing: the module takes its own reference
  return type;
}

[[noreturn]] void Raise(PyObject* type, const std::string& message, const CallOutcome* outcome,
                        std::optional<int> end_code = std::nullopt,
                        std::optional<int> number = std::nullopt) {
  py::object error = py::reinterpret_borrow<py::object>(type)(message);
  if (outcome != nullptr) {
    if (outcome->result) error.attr("result") = *outcome->result;
    py::tuple messages(outcome->messages.size());
    for (std::size_t k = 0; k < outcome->messages.size(); ++k) messages[k] = py::str(outcome->messages[k]);
    error.attr("messages") = messages;
  }
  if (end_code) error.attr("end_code") = *end_code;
  if (number) error.attr("number") = *number;
  PyErr_SetObject(type, error.ptr());
  throw py::error_already_set();
}

// The run-time errors that come from what the caller passed, not from the port.
bool IsArgumentNumber(int number) {
  switch (static_cast<ErrorNumber>(number)) {
    case ErrorNumber::InvalidCall:
    case ErrorNumber::Overflow:
    case ErrorNumber::SubscriptOutOfRange:
    case ErrorNumber::TypeMismatch:
    case ErrorNumber::InvalidPropertyValue:
      return true;
    default:
      return false;
  }
}

constexpr int kDeviceNotOpen = static_cast<int>(ErrorNumber::DeviceNotOpen);

}  // namespace

void AddErrors(py::module_& module) {
  py::module_ builtins = py::module_::import("builtins");
  classes.error = AddClass(module, "Error",
                           "Base of every error the module raises. Attributes: result (the "
                           "control's result code, or None), messages (the control's texts "
                           "during the call).",
                           py::make_tuple(builtins.attr("Exception")));
  py::object base = py::reinterpret_borrow<py::object>(classes.error);
  base.attr("result") = py::none();
  base.attr("messages") = py::tuple();
  base.attr("end_code") = py::none();
  base.attr("number") = py::none();

  classes.argument = AddClass(module, "ArgumentError",
                              "The control or the module refused an argument; nothing was sent.",
                              py::make_tuple(base, builtins.attr("ValueError")));
  classes.timeout = AddClass(module, "TimeoutError", "No complete answer within the time-out.",
                             py::make_tuple(base, builtins.attr("TimeoutError")));
  classes.end_code = AddClass(module, "EndCodeError",
                              "The PLC answered with an error end code (.end_code, 0..0xFFFF).",
                              py::make_tuple(base));
  classes.sum_check = AddClass(module, "SumCheckError",
                               "An answer arrived with wrong sum-check characters and was refused.",
                               py::make_tuple(base));
  classes.length = AddClass(module, "LengthError",
                            "An answer arrived with the wrong length and was refused.",
                            py::make_tuple(base));
  classes.port = AddClass(module, "PortError",
                          "The serial port is closed or failed (.number: the run-time error "
                          "number, 8012 for a closed port).",
                          py::make_tuple(base));

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const ValueError& refused) {
      PyErr_SetString(classes.argument, refused.what());
    }
  });
}

void RaiseArgumentError(const std::string& message) { Raise(classes.argument, message, nullptr); }

void RaiseFor(const CallOutcome& outcome) {
  if (outcome.refused_value) Raise(classes.argument, outcome.failure, &outcome);
  if (outcome.other_failure) Raise(classes.error, outcome.failure, &outcome);
  if (outcome.automation_number) {
    const int number = *outcome.automation_number;
    Raise(IsArgumentNumber(number) ? classes.argument : classes.port, outcome.failure, &outcome,
          std::nullopt, number);
  }
  const std::int16_t result = outcome.result.value_or(0);
  const std::string last = outcome.messages.empty() ? std::string() : outcome.messages.back();
  if (result == 0) {
    // A success raises no text at all, so a text with result 0 can only be a refusal.
    if (!outcome.messages.empty()) Raise(classes.argument, last, &outcome);
    return;
  }
  if (result != 1) {
    const int code = static_cast<std::uint16_t>(result);
    char text[48];
    std::snprintf(text, sizeof text, "the PLC answered with end code 0x%04X", code);
    Raise(classes.end_code, text, &outcome, code);
  }
  if (last == "Port not Open") Raise(classes.port, last, &outcome, std::nullopt, kDeviceNotOpen);
  if (last.rfind("TimeOut", 0) == 0) Raise(classes.timeout, last, &outcome);
  if (last == "SumCheck Error") Raise(classes.sum_check, last, &outcome);
  if (last == "Answer Length Error") Raise(classes.length, last, &outcome);
  if (last.empty()) Raise(classes.error, "the control returned 1 without a message", &outcome);
  Raise(classes.argument, last, &outcome);
}

}  // namespace kestova::python
