// kestova.Tarvane: the control for Python scripts. Each call releases the interpreter while
// it waits on the line, gathers the control's texts meanwhile and hands them to on_message
// once the interpreter is held again, then turns a result other than 0 into an exception.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "link/platform_port.h"
#include "operations/block_write.h"
#include "python/bindings.h"
#include "python/errors.h"
#include "values/device_name.h"
#include "values/typed_access.h"
#include "values/value_error.h"

namespace py = pybind11;

namespace kestova::python {
namespace {

// The plain host's clocks and log folder; the texts are kept for the call that raised them.
class PythonHost final : public PlainHost {
 public:
  void MelsecOut(const std::string& result) override { texts_.push_back(result); }
  std::vector<std::string> TakeTexts() { return std::exchange(texts_, {}); }

 private:
  std::vector<std::string> texts_;
};

std::int16_t Int16Argument(long long value, long long low, long long high, const char* what) {
  if (value < low || value > high) {
    RaiseArgumentError(std::string(what) + " " + std::to_string(value) + " is outside " +
                       std::to_string(low) + ".." + std::to_string(high));
  }
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

DeviceAddress Device(const std::string& text, bool bit_allowed = false) {
  const DeviceAddress device = ParseDevice(text);  // ValueError becomes ArgumentError
  if (device.bit && !bit_allowed) RaiseArgumentError("a bit (" + text + ") is not taken here");
  return device;
}

class Control {
 public:
  Control(const py::object& port, const std::string& settings, std::int16_t timeout, bool sum_check,
          std::int16_t station, std::int16_t network, std::int16_t pc, std::int32_t module_io,
          std::int16_t module_station, std::int32_t handshaking, const py::object& log_dir) {
    // The interpreter's folder is no place for a script's logs, writable or not.
    host_.SetLogFolder(log_dir.is_none()
                           ? PlainHost::UserStateFolder()
                           : std::filesystem::path(py::module_::import("os").attr("fspath")(log_dir).cast<std::string>()));
    const bool numbered = py::isinstance<py::int_>(port);
    const std::int16_t number = numbered ? port.cast<std::int16_t>() : std::int16_t{1};
    control_ = std::make_unique<Tarvane>(
        host_, numbered ? MakePlatformSerialPort()
                        : MakePlatformSerialPort(py::module_::import("os").attr("fspath")(port).cast<std::string>()));
    control_->InitProperties();
    Configure([&] {
      if (numbered) control_->SetCommPort(number);
      control_->SetSettings(settings);
      control_->SetHandshaking(handshaking);
      control_->SetTimeout(timeout);
      control_->SetSumCheck(sum_check);
      control_->SetStationNo(station);
      control_->SetNetworkNo(network);
      control_->SetPCNumber(pc);
      control_->SetRqstDestMdIO(module_io);
      control_->SetRqstDestMdSta(module_station);
      return std::int16_t{0};
    });
  }

  void Open() {
    Configure([&] {
      if (!control_->PortOpen()) control_->SetPortOpen(true);
      return std::int16_t{0};
    });
  }
  void Close() {
    Configure([&] {
      if (control_->PortOpen()) control_->SetPortOpen(false);
      return std::int16_t{0};
    });
  }
  bool IsOpen() const { return control_->PortOpen(); }
  std::int16_t Timeout() const { return control_->Timeout(); }
  void SetTimeout(std::int16_t seconds) {
    Configure([&] {
      control_->SetTimeout(seconds);
      return std::int16_t{0};
    });
  }

  py::list Read(const std::string& device_text, long long points) {
    const DeviceAddress device = Device(device_text);
    const std::int16_t count = Int16Argument(points, -32768, 32767, "points");
    const auto start = static_cast<std::int32_t>(device.number);
    std::vector<int> values;
    Call([&] {
      const std::int16_t result = control_->Read(device.family, start, count);
      if (result == 0) {
        const int per_point = IsBitFamily(device.family) ? 16 : 1;
        values.reserve(static_cast<std::size_t>(count * per_point));
        for (int k = 0; k < count * per_point; ++k) values.push_back(control_->Image(device.family, start + k));
      }
      return result;
    });
    return py::cast(values);
  }

  void Write(const std::string& device_text, long long value) {
    const DeviceAddress device = Device(device_text);
    const std::int16_t word = Int16Argument(value, -32768, 65535, "value");
    Call([&] { return control_->WriteWord(device.family, static_cast<std::int32_t>(device.number), word); });
  }

  void WriteBlock(const std::string& device_text, const std::vector<long long>& values) {
    const DeviceAddress device = Device(device_text);
    std::vector<std::int16_t> words;
    for (long long value : values) words.push_back(Int16Argument(value, -32768, 65535, "value"));
    const std::int16_t points = Int16Argument(static_cast<long long>(words.size()), 0, 32767, "points");
    Call([&] { return control_->WriteBlock(BlockWriteHead(device), points, IntegerArray::ZeroBased(words)); });
  }

  void Switch(const std::string& device_text, bool on) {
    const DeviceAddress device = Device(device_text);
    Call([&] { return control_->SwitchBit(device.family, static_cast<std::int32_t>(device.number), on); });
  }

  void Run(std::int16_t mode, std::int16_t clear_mode) { Call([&] { return control_->RemoteRun(mode, clear_mode); }); }
  void Stop(std::int16_t mode) { Call([&] { return control_->RemoteStop(mode); }); }
  void ResetCpu(std::int16_t mode) { Call([&] { return control_->RemoteReset(mode); }); }

  template <class T>
  py::list ReadTyped(const std::string& device, int count,
                     std::int16_t (TypedAccess::*read)(std::string_view, int, std::vector<T>&)) {
    std::vector<T> values;
    Call([&] { return (TypedAccess(*control_).*read)(device, count, values); });
    return py::cast(values);
  }

  template <class T>
  void WriteTyped(const std::string& device, const py::object& value_or_values,
                  std::int16_t (TypedAccess::*write)(std::string_view, std::span<const T>)) {
    std::vector<T> values;
    if (py::isinstance<py::iterable>(value_or_values) && !py::isinstance<py::str>(value_or_values)) {
      values = value_or_values.cast<std::vector<T>>();
    } else {
      values.push_back(value_or_values.cast<T>());
    }
    Call([&] { return (TypedAccess(*control_).*write)(device, values); });
  }

  std::string ReadText(const std::string& device, int length) {
    std::string text;
    Call([&] { return TypedAccess(*control_).ReadText(device, length, text); });
    return text;
  }
  void WriteText(const std::string& device, const std::string& text) {
    Call([&] { return TypedAccess(*control_).WriteText(device, text); });
  }

  py::object on_message() const { return on_message_; }
  void set_on_message(const py::object& handler) {
    if (!handler.is_none() && !PyCallable_Check(handler.ptr())) {
      throw py::type_error("on_message takes a callable or None");
    }
    on_message_ = handler;
  }

 private:
  // Runs one control call without the interpreter, then delivers its texts and raises
  // what its outcome calls for. The lock keeps two Python threads out of one control.
  template <class Body>
  void Call(Body&& body) {
    CallOutcome outcome;
    {
      py::gil_scoped_release released;
      std::lock_guard<std::mutex> lock(mutex_);
      try {
        outcome.result = body();
      } catch (const AutomationError& error) {
        outcome.automation_number = error.code();
        outcome.failure = error.what();
      } catch (const ValueError& error) {
        outcome.refused_value = true;
        outcome.failure = error.what();
      } catch (const std::exception& error) {
        outcome.other_failure = true;
        outcome.failure = error.what();
      }
      outcome.messages = host_.TakeTexts();
    }
    if (!on_message_.is_none()) {
      for (const std::string& text : outcome.messages) on_message_(text);
    }
    RaiseFor(outcome);
  }

  // Property lets and the port raise no texts worth a handler, only run-time errors.
  template <class Body>
  void Configure(Body&& body) { Call(std::forward<Body>(body)); }

  PythonHost host_;
  std::unique_ptr<Tarvane> control_;
  std::mutex mutex_;
  py::object on_message_ = py::none();
};

}  // namespace

void AddTarvane(py::module_& module) {
  using namespace pybind11::literals;
  py::class_<Control>(module, "Tarvane", R"(The control on one serial port.

Tarvane(port, settings="9600,n,8,1", timeout=3, sum_check=False, station=0, network=0,
        pc=255, module_io=1023, module_station=0, handshaking=0, log_dir=None)

port is a device path ("/dev/ttyUSB0", VirtualPlc.port) or a port number (n opens
/dev/ttyS<n-1>). timeout is in whole seconds. Time-outs and error answers are recorded
in a daily log in log_dir (default: $XDG_STATE_HOME/kestova, else
~/.local/state/kestova). Use it as a context manager, which opens and closes the port,
or call open() and close(). One call at a time; other Python threads run while a call
waits on the line.)")
      .def(py::init<const py::object&, const std::string&, std::int16_t, bool, std::int16_t, std::int16_t,
                    std::int16_t, std::int32_t, std::int16_t, std::int32_t, const py::object&>(),
           "port"_a, "settings"_a = "9600,n,8,1", "timeout"_a = 3, "sum_check"_a = false, "station"_a = 0,
           "network"_a = 0, "pc"_a = 255, "module_io"_a = 1023, "module_station"_a = 0, "handshaking"_a = 0,
           "log_dir"_a = py::none())
      .def("open", &Control::Open, "Opens the port.")
      .def("close", &Control::Close, "Closes the port; closing a closed port does nothing.")
      .def("__enter__", [](Control& self) -> Control& { self.Open(); return self; },
           py::return_value_policy::reference)
      .def("__exit__", [](Control& self, const py::args&) { self.Close(); })
      .def_property_readonly("is_open", &Control::IsOpen, "True while the port is open.")
      .def_property("timeout", &Control::Timeout, &Control::SetTimeout, "Answer time-out in whole seconds.")
      .def_property("on_message", &Control::on_message, &Control::set_on_message,
                    "None or a callable receiving every text the control reports, after the call.")
      .def("read", &Control::Read, "device"_a, "points"_a,
           R"(Reads `points` words from `device` ("D100", "X1F0", "m8").

A word family gives one signed int per point; a bit family 16 bits (0 or 1) per point,
from the device named upwards.)")
      .def("write", &Control::Write, "device"_a, "value"_a,
           "Writes one word (-32768..65535) to a D, W or ZR device.")
      .def("write_block", &Control::WriteBlock, "device"_a, "values"_a,
           "Writes 1..480 words (-32768..65535 each) to consecutive D, W or ZR devices.")
      .def("set", [](Control& self, const std::string& device) { self.Switch(device, true); }, "device"_a,
           "Switches one M, Y, B, L, F or S device on.")
      .def("reset", [](Control& self, const std::string& device) { self.Switch(device, false); }, "device"_a,
           "Switches one M, Y, B, L, F or S device off.")
      .def("run", &Control::Run, "mode"_a = 1, "clear_mode"_a = 1,
           "Remote RUN (mode 1 normal, 3 forced; clear_mode 1 keeps the latch range, 2 clears all).")
      .def("stop", &Control::Stop, "mode"_a = 1, "Remote STOP.")
      .def("reset_cpu", &Control::ResetCpu, "mode"_a = 1, "Remote RESET (the CPU must be stopped).")
      .def("read_int16", [](Control& c, const std::string& d, int n) { return c.ReadTyped(d, n, &TypedAccess::ReadInt16); },
           "device"_a, "count"_a, "Reads `count` signed 16-bit values.")
      .def("read_uint16", [](Control& c, const std::string& d, int n) { return c.ReadTyped(d, n, &TypedAccess::ReadUInt16); },
           "device"_a, "count"_a, "Reads `count` unsigned 16-bit values.")
      .def("read_int32", [](Control& c, const std::string& d, int n) { return c.ReadTyped(d, n, &TypedAccess::ReadInt32); },
           "device"_a, "count"_a, "Reads `count` signed 32-bit values, two devices each, low word first.")
      .def("read_uint32", [](Control& c, const std::string& d, int n) { return c.ReadTyped(d, n, &TypedAccess::ReadUInt32); },
           "device"_a, "count"_a, "Reads `count` unsigned 32-bit values, two devices each, low word first.")
      .def("read_float", [](Control& c, const std::string& d, int n) { return c.ReadTyped(d, n, &TypedAccess::ReadFloat); },
           "device"_a, "count"_a, "Reads `count` single floats, two devices each, low word first.")
      .def("read_text", &Control::ReadText, "device"_a, "length"_a,
           "Reads up to `length` ASCII characters, two a device, ending early at a zero byte.")
      .def("write_int16", [](Control& c, const std::string& d, const py::object& v) { c.WriteTyped(d, v, &TypedAccess::WriteInt16); },
           "device"_a, "values"_a, "Writes one value or a list of signed 16-bit values in one block.")
      .def("write_uint16", [](Control& c, const std::string& d, const py::object& v) { c.WriteTyped(d, v, &TypedAccess::WriteUInt16); },
           "device"_a, "values"_a, "Writes one value or a list of unsigned 16-bit values in one block.")
      .def("write_int32", [](Control& c, const std::string& d, const py::object& v) { c.WriteTyped(d, v, &TypedAccess::WriteInt32); },
           "device"_a, "values"_a, "Writes one value or a list of signed 32-bit values in one block.")
      .def("write_uint32", [](Control& c, const std::string& d, const py::object& v) { c.WriteTyped(d, v, &TypedAccess::WriteUInt32); },
           "device"_a, "values"_a, "Writes one value or a list of unsigned 32-bit values in one block.")
      .def("write_float", [](Control& c, const std::string& d, const py::object& v) { c.WriteTyped(d, v, &TypedAccess::WriteFloat); },
           "device"_a, "values"_a, "Writes one value or a list of single floats in one block.")
      .def("write_text", &Control::WriteText, "device"_a, "text"_a,
           "Writes ASCII text, two characters a device, first in the low byte; no terminator.");
}

}  // namespace kestova::python
