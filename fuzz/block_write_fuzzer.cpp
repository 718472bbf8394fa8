// WriteBlock's device text and argument checks, driven through the control on the tests'
// in-memory port, whose every frame a virtual PLC station in memory answers at once.
// Each input is judged against an independent reading of the rules: which refusal and
// message, which run-time error, or a write that lands in the station's memory with
// exactly the values given, nothing more.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "sim/station.h"
#include "support/memory_port.h"

namespace {

using kestova::AutomationError;
using kestova::ErrorNumber;

using kestova::fuzz::Require;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

struct HeadNumber {
  bool numeric = false;
  bool fits = true;  // inside the 32-bit range
  std::int64_t value = 0;
};

// Blanks, an optional sign, at least one decimal digit, blanks.
HeadNumber ReadHead(const std::string& text) {
  HeadNumber head;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t first_digit = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (head.value < (std::int64_t{1} << 40)) head.value = head.value * 10 + (text[i] - '0');
    ++i;
  }
  const bool has_digits = i > first_digit;
  while (i < text.size() && IsBlank(text[i])) ++i;
  head.numeric = has_digits && i == text.size();
  if (negative) head.value = -head.value;
  head.fits = head.value >= INT32_MIN && head.value <= INT32_MAX;
  return head;
}

struct Family {
  std::uint8_t code;
  kestova::sim::Family station_family;
  std::int64_t limit;
  const char* message;
};

std::optional<Family> FamilyOf(const std::string& prefix) {
  if (prefix.size() == 2) return Family{0xB0, kestova::sim::Family::ZR, 64000, "ZR Address over limit, 0 - 64000"};
  if (prefix == "D" || prefix == "d") return Family{0xA8, kestova::sim::Family::D, 20000, "D Address over limit 0 - 20000"};
  if (prefix == "W" || prefix == "w") return Family{0xB4, kestova::sim::Family::W, 20000, "W Address over limit 0 - 20000"};
  return std::nullopt;
}

// What the call should end in.
struct Expected {
  std::optional<std::string> refusal;  // result 1 with this event
  std::set<ErrorNumber> errors;        // one of these run-time errors
  bool written = false;                // result 0, the block in the station's memory
  kestova::sim::Family family{};       // where it lands
  std::int32_t head = 0;
};

struct Call {
  std::string device;
  std::int16_t points = 0;
  std::int32_t lower_bound = 0;
  int dimensions = 1;
  std::vector<std::int16_t> elements;
  bool routing_in_range = true;
};

Expected Judge(const Call& call) {
  Expected expected;
  if (call.points < 1 || call.points > 480) {
    expected.refusal = "Write Points should be from 1 to 480";
    return expected;
  }
  if (call.dimensions != 1) {
    expected.errors = {ErrorNumber::SubscriptOutOfRange};
    return expected;
  }
  const std::int64_t upper = std::int64_t{call.lower_bound} + static_cast<std::int64_t>(call.elements.size()) - 1;
  if (upper + 1 < call.points) {
    expected.refusal = "Dimension of data array less then the write points when writing block";
    return expected;
  }
  if (call.device.empty()) {
    expected.errors = {ErrorNumber::InvalidCall};
    return expected;
  }
  const bool zr = call.device.size() >= 2 && (call.device[0] == 'Z' || call.device[0] == 'z') &&
                  (call.device[1] == 'R' || call.device[1] == 'r');
  const std::string prefix = call.device.substr(0, zr ? 2 : 1);
  const HeadNumber head = ReadHead(call.device.substr(prefix.size()));
  const auto family = FamilyOf(prefix);
  if (!head.numeric) {
    expected.refusal = "Device Invalid, What follows D, W or  ZR should be a numeric";
    return expected;
  }
  if (!head.fits) {
    // A number that cannot be held overflows; whether that shows before the prefix is
    // looked at is not ours to pin down.
    expected.errors = {ErrorNumber::Overflow};
    if (!family) expected.refusal = "Device Invalid, Should start with D, W or  ZR";
    return expected;
  }
  if (!family) {
    expected.refusal = "Device Invalid, Should start with D, W or  ZR";
    return expected;
  }
  if (head.value + call.points - 1 > family->limit) {
    expected.refusal = family->message;
    return expected;
  }
  // The port is open: now the frame is built.
  if (head.value < 0 || head.value > 0xFFFF) expected.errors.insert(ErrorNumber::Overflow);
  if (!call.routing_in_range) expected.errors.insert(ErrorNumber::Overflow);
  if (call.lower_bound > 0) expected.errors.insert(ErrorNumber::SubscriptOutOfRange);
  expected.written = expected.errors.empty();
  expected.family = family->station_family;
  expected.head = static_cast<std::int32_t>(head.value);
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Call call;
  const bool sum_check = input.ConsumeBool();
  call.points = input.ConsumeBool() ? input.ConsumeIntegral<std::int16_t>()
                                    : static_cast<std::int16_t>(input.ConsumeIntegralInRange<int>(-1, 482));
  call.lower_bound = input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                                         : input.ConsumeIntegralInRange<std::int32_t>(-2, 2);
  call.dimensions = input.ConsumeIntegralInRange<int>(0, 15) == 0 ? 2 : 1;
  const std::int16_t station_no = input.ConsumeIntegralInRange<std::int16_t>(-1, 256);
  call.routing_in_range = station_no >= 0 && station_no <= 255;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 490);
  call.device = input.ConsumeRandomLengthString(24);
  call.elements.resize(count);
  for (auto& element : call.elements) element = input.ConsumeIntegral<std::int16_t>();

  const Expected expected = Judge(call);

  // One control, port and station for the whole run: building their device arrays afresh
  // costs more than the input itself under the sanitizers. A write is undone after its
  // check, so the station's memory is all zero at the start of every input.
  static kestova::testing::TestHost host;
  static kestova::sim::Station station;
  static kestova::testing::MemoryPort* const port = [] {
    auto* made = new kestova::testing::MemoryPort(host);
    made->SetResponder([](kestova::testing::MemoryPort& line, const std::vector<std::uint8_t>& frame) {
      if (auto answer = station.HandleFrame(frame)) line.Deliver(*answer);
    });
    return made;
  }();
  static kestova::Tarvane control(host, std::unique_ptr<kestova::SerialPort>(port));
  host.events.clear();
  port->ForgetOutputs();
  station.set_sum_check(sum_check);
  control.InitProperties();
  control.SetSumCheck(sum_check);
  control.SetStationNo(station_no);
  if (!control.PortOpen()) control.SetPortOpen(true);

  const kestova::IntegerArray array{call.lower_bound, call.elements, call.dimensions};
  std::optional<std::int16_t> result;
  std::optional<ErrorNumber> error;
  try {
    result = control.WriteBlock(call.device, call.points, array);
  } catch (const AutomationError& e) {
    error = e.number();
  }

  if (error) {
    Require(expected.errors.count(*error) == 1);
    Require(host.events.empty());
    Require(port->outputs().empty());
    return 0;
  }
  Require(result.has_value());
  if (expected.refusal) {
    Require(*result == 1);
    Require(host.events.size() == 1 && host.events[0] == *expected.refusal);
    Require(port->outputs().empty());
    return 0;
  }
  Require(expected.written);
  Require(*result == 0);
  Require(host.events.empty());
  Require(port->outputs().size() == 1);

  // The station holds exactly the words given, from the head on.
  const auto family = expected.family;
  const auto head = expected.head;
  for (std::int32_t k = 0; k < call.points; ++k) {
    const auto expected_word = static_cast<std::uint16_t>(call.elements[static_cast<std::size_t>(k - call.lower_bound)]);
    Require(station.memory().Word(family, head + k) == expected_word);
  }
  if (head > 0) Require(station.memory().Word(family, head - 1) == 0);
  Require(station.memory().Word(family, head + call.points) == 0);
  const std::vector<std::uint16_t> zeros(static_cast<std::size_t>(call.points), 0);
  station.memory().WriteWords(family, head, zeros);
  return 0;
}
