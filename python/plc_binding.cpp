// kestova.VirtualPlc: the virtual PLC on a pseudo-terminal, for scripts and tests that
// want a PLC without the machine. Its memory is addressed by device name, as the control
// is, and it can be told to misbehave on the next requests.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "python/bindings.h"
#include "python/errors.h"
#include "sim/virtual_plc.h"
#include "values/device_name.h"

namespace py = pybind11;

namespace kestova::python {
namespace {

struct Cell {
  sim::Family family;
  std::int32_t index;
  std::optional<int> bit;  // a bit of a word device
};

Cell CellOf(const std::string& text) {
  const DeviceAddress device = ParseDevice(text);
  const std::optional<sim::Family> family = sim::FamilyFromName(FactsOf(device.family).name);
  if (!family) RaiseArgumentError(text + " is not held by the virtual PLC");
  if (device.number < 0 || device.number >= sim::FamilySize(*family)) {
    throw py::index_error(text + " is outside the virtual PLC's memory");
  }
  return {*family, static_cast<std::int32_t>(device.number), device.bit};
}

// plc.memory["D100"]: words as signed 16-bit ints, bits ("M5", "D100.5") as 0 or 1.
class Memory {
 public:
  explicit Memory(sim::VirtualPlc& plc) : plc_(plc) {}

  int Get(const std::string& device) const {
    const Cell cell = CellOf(device);
    sim::DeviceMemory& memory = plc_.memory();
    if (sim::IsBitFamily(cell.family)) return memory.Bit(cell.family, cell.index) ? 1 : 0;
    const std::uint16_t word = memory.Word(cell.family, cell.index);
    if (cell.bit) return (word >> *cell.bit) & 1;
    return static_cast<std::int16_t>(word);
  }

  void Set(const std::string& device, long long value) {
    const Cell cell = CellOf(device);
    sim::DeviceMemory& memory = plc_.memory();
    if (sim::IsBitFamily(cell.family) || cell.bit) {
      if (value != 0 && value != 1) RaiseArgumentError(device + " takes 0 or 1");
      if (!cell.bit) {
        memory.SetBit(cell.family, cell.index, value == 1);
        return;
      }
      const auto mask = static_cast<std::uint16_t>(1U << *cell.bit);
      const std::uint16_t word = memory.Word(cell.family, cell.index);
      memory.SetWord(cell.family, cell.index, static_cast<std::uint16_t>(value ? word | mask : word & ~mask));
      return;
    }
    if (value < -32768 || value > 65535) RaiseArgumentError(device + " takes -32768..65535");
    memory.SetWord(cell.family, cell.index, static_cast<std::uint16_t>(value));
  }

 private:
  sim::VirtualPlc& plc_;
};

class Plc {
 public:
  Plc(bool sum_check, const py::object& faults) : plc_(MakePlc(sum_check)), memory_(*plc_) {
    if (faults.is_none()) return;
    for (const auto& [kind, how] : faults.cast<py::dict>()) {
      if (py::isinstance<py::dict>(how)) {
        py::dict arguments = how.cast<py::dict>();
        Fault(kind.cast<std::string>(), arguments.contains("count") ? arguments["count"].cast<int>() : 1,
              Optional<long long>(arguments, "code"), Optional<long long>(arguments, "keep"),
              Optional<long long>(arguments, "ms"));
      } else {
        Fault(kind.cast<std::string>(), how.cast<int>(), std::nullopt, std::nullopt, std::nullopt);
      }
    }
  }

  std::string Start() {
    if (!port_) port_ = plc_->Start();
    return *port_;
  }
  void Stop() {
    py::gil_scoped_release released;  // the server thread may be finishing an answer
    plc_->Stop();
    port_.reset();
  }
  py::object Port() const { return port_ ? py::cast(*port_) : py::none(); }
  Memory& memory() { return memory_; }

  bool Running() const { return plc_->cpu_state() == sim::CpuState::Run; }
  void SetRunning(bool on) { plc_->set_cpu_state(on ? sim::CpuState::Run : sim::CpuState::Stop); }

  void Fault(const std::string& kind, int count, std::optional<long long> code, std::optional<long long> keep,
             std::optional<long long> ms) {
    if (count < 1) RaiseArgumentError("count must be 1 or more");
    sim::Fault fault;
    if (kind == "no_answer") {
      fault = sim::Fault::NoAnswer();
    } else if (kind == "bad_sum") {
      fault = sim::Fault::BadSum();
    } else if (kind == "end_code") {
      if (!code || *code < 0 || *code > 0xFFFF) RaiseArgumentError("end_code needs code=0..0xFFFF");
      fault = sim::Fault::ForcedEndCode(static_cast<std::uint16_t>(*code));
    } else if (kind == "cut") {
      if (!keep || *keep < 0) RaiseArgumentError("cut needs keep=<bytes kept>");
      fault = sim::Fault::Cut(static_cast<std::size_t>(*keep));
    } else if (kind == "delay") {
      if (!ms || *ms < 0) RaiseArgumentError("delay needs ms=<milliseconds>");
      fault = sim::Fault::Delay(std::chrono::milliseconds(*ms));
    } else {
      RaiseArgumentError("unknown fault " + kind + " (no_answer, end_code, bad_sum, cut, delay)");
    }
    plc_->InjectFault(fault, count);
  }
  void ClearFaults() { plc_->ClearFaults(); }
  std::size_t Requests() const { return plc_->request_count(); }

 private:
  static std::unique_ptr<sim::VirtualPlc> MakePlc(bool sum_check) {
    sim::VirtualPlc::Options options;
    options.sum_check = sum_check;
    return std::make_unique<sim::VirtualPlc>(options);
  }

  template <class T>
  static std::optional<T> Optional(const py::dict& arguments, const char* key) {
    if (!arguments.contains(key)) return std::nullopt;
    return arguments[key].cast<T>();
  }

  std::unique_ptr<sim::VirtualPlc> plc_;
  std::optional<std::string> port_;
  Memory memory_;
};

}  // namespace

void AddVirtualPlc(py::module_& module) {
  using namespace pybind11::literals;
  py::class_<Memory>(module, "PlcMemory", R"(The virtual PLC's devices by name.

memory["D100"] is a signed 16-bit int (assign -32768..65535); memory["M5"], memory["X1F"]
and memory["D100.5"] (bit 5 of D100) are 0 or 1. Safe while the PLC serves.)")
      .def("__getitem__", &Memory::Get, "device"_a)
      .def("__setitem__", &Memory::Set, "device"_a, "value"_a);

  py::class_<Plc>(module, "VirtualPlc", R"(A virtual PLC answering on a pseudo-terminal.

VirtualPlc(sum_check=False, faults=None)

Use it as a context manager (or start() and stop()); .port is the terminal path to hand
to Tarvane. faults is a dict of fault() calls to make at once: {"no_answer": 1} or
{"end_code": {"code": 0x4031, "count": 2}}.)")
      .def(py::init<bool, const py::object&>(), "sum_check"_a = false, "faults"_a = py::none())
      .def("start", &Plc::Start, "Starts serving and returns the terminal path (the same while it serves).")
      .def("stop", &Plc::Stop, "Stops serving and closes the terminal; stopping twice does nothing.")
      .def("__enter__", [](Plc& self) -> Plc& { self.Start(); return self; }, py::return_value_policy::reference)
      .def("__exit__", [](Plc& self, const py::args&) { self.Stop(); })
      .def_property_readonly("port", &Plc::Port, "The terminal path while serving, else None.")
      .def_property_readonly("memory", &Plc::memory, py::return_value_policy::reference_internal,
                             "The device memory (PlcMemory).")
      .def_property("running", &Plc::Running, &Plc::SetRunning, "True while the CPU is in RUN.")
      .def_property_readonly("request_count", &Plc::Requests, "Frames received so far.")
      .def("fault", &Plc::Fault, "kind"_a, "count"_a = 1, py::kw_only(), "code"_a = py::none(),
           "keep"_a = py::none(), "ms"_a = py::none(),
           R"(Misbehaves on the next `count` requests.

kind: "no_answer" (the command is carried out, nothing answered), "end_code" (answer
code=... with no data, the command not carried out; code=0 gives a short answer), "bad_sum" (sum characters wrong; needs the sum
check), "cut" (only the first keep=... bytes of the answer), "delay" (answer ms=... late).)")
      .def("clear_faults", &Plc::ClearFaults, "Drops every fault not yet applied.");
}

}  // namespace kestova::python
