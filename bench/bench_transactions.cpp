#include "bench/bench_transactions.h"

#include <array>
#include <stdexcept>

#include "control/device_family.h"
#include "sim/station.h"

namespace kestova::bench {
namespace {

const std::uint8_t kDeviceD = FactsOf(DeviceFamily::D).device_code;
constexpr std::int16_t kBlockWords = 480;
constexpr std::int16_t kWordValue = 0x1234;

// Low byte 0..6, high byte 0x01: never the DLE value.
std::array<std::int16_t, kBlockWords> BlockWords() {
  std::array<std::int16_t, kBlockWords> words{};
  for (std::size_t k = 0; k < words.size(); ++k) {
    words[k] = static_cast<std::int16_t>(0x0100 + static_cast<int>(k % 7));
  }
  return words;
}

const std::array<std::int16_t, kBlockWords>& StoredBlockWords() {
  static const std::array<std::int16_t, kBlockWords> words = BlockWords();
  return words;
}

Request ReadRequest(std::uint16_t points) {
  return Request{0x0000, 0x0401, 0x0000,
                 {0, 0, 0, kDeviceD, static_cast<std::uint8_t>(points & 0xFF),
                  static_cast<std::uint8_t>(points >> 8)}};
}

Request WordWriteRequest() {
  const auto bits = static_cast<std::uint16_t>(kWordValue);
  return Request{0x0000, 0x1401, 0x0000,
                 {0, 0, 0, kDeviceD, 0x01, 0x00, static_cast<std::uint8_t>(bits & 0xFF),
                  static_cast<std::uint8_t>(bits >> 8)}};
}

Request BlockWriteRequest() {
  Request request{0x0000, 0x1401, 0x0000,
                  {0, 0, 0, kDeviceD, static_cast<std::uint8_t>(kBlockWords & 0xFF),
                   static_cast<std::uint8_t>(kBlockWords >> 8)}};
  for (const std::int16_t word : StoredBlockWords()) {
    const auto bits = static_cast<std::uint16_t>(word);
    request.data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    request.data.push_back(static_cast<std::uint8_t>(bits >> 8));
  }
  return request;
}

std::vector<BenchTransaction> MakeTransactions() {
  return {
      {"ReadD(0, 1)", ReadRequest(1), [](Tarvane& control) { return control.ReadD(0, 1); }},
      {"ReadD(0, 480)", ReadRequest(kBlockWords),
       [](Tarvane& control) { return control.ReadD(0, kBlockWords); }},
      {"WriteD(0, 0x1234)", WordWriteRequest(),
       [](Tarvane& control) { return control.WriteD(0, kWordValue); }},
      {"WriteBlock(D0, 480)", BlockWriteRequest(),
       [](Tarvane& control) {
         return control.WriteBlock("D0", kBlockWords, IntegerArray::ZeroBased(StoredBlockWords()));
       }},
  };
}

}  // namespace

const std::vector<BenchTransaction>& StandardTransactions() {
  static const std::vector<BenchTransaction> transactions = MakeTransactions();
  return transactions;
}

WireExchange WireBytesOf(const BenchTransaction& transaction, bool sum_check) {
  WireExchange exchange;
  exchange.request = BuildFrame(transaction.request, Routing{}, sum_check).bytes;
  sim::Station station;
  station.set_sum_check(sum_check);
  const auto answer = station.HandleFrame(exchange.request);
  if (!answer) throw std::logic_error(transaction.name + ": the PLC does not answer this request");
  exchange.answer = *answer;
  return exchange;
}

}  // namespace kestova::bench
