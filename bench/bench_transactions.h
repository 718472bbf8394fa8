#pragma once
// The four transactions the round-trip figures are taken for, each with the request
// the control builds for it, so the floor can put the very same bytes on the line.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kestova/tarvane.h"
#include "link/frame.h"

namespace kestova::bench {

struct BenchTransaction {
  std::string name;  // as the table shows it: "ReadD(0, 480)"
  // What the control sends for it with the default routing.
  Request request;
  // Runs it on the control; returns the control's result.
  std::function<std::int16_t(Tarvane&)> run;
};

// ReadD(0, 1), ReadD(0, 480), WriteD(0, 0x1234), WriteBlock("D0", 480, ...). The written
// words hold no 0x10 byte, so a later read's answer keeps its length on the wire.
const std::vector<BenchTransaction>& StandardTransactions();

// The wire bytes of one exchange in each direction.
struct WireExchange {
  std::vector<std::uint8_t> request;
  std::vector<std::uint8_t> answer;

  std::size_t total() const { return request.size() + answer.size(); }
};

// The request frame as the control sends it and the answer a PLC with zeroed memory gives
// (the answer lengths match a PLC holding any value without a 0x10 byte). Throws
// std::logic_error when the PLC would not answer the request.
WireExchange WireBytesOf(const BenchTransaction& transaction, bool sum_check);

}  // namespace kestova::bench
