#include "bench/bench_transactions.h"

#include <gtest/gtest.h>

namespace kestova::bench {
namespace {

// Frame lengths worked out by hand: 18 framing and header bytes + request data + 2 sum
// characters; answers 18 + response data + 2. No routing or data byte is 0x10.
TEST(WireBytesOf, LengthsOfTheFourTransactions) {
  struct Row {
    const char* name;
    bool sum_check;
    std::size_t request;
    std::size_t answer;
  };
  const Row rows[] = {
      {"ReadD(0, 1)", true, 26, 22},          {"ReadD(0, 480)", true, 26, 980},
      {"WriteD(0, 0x1234)", true, 28, 20},    {"WriteBlock(D0, 480)", true, 986, 20},
      {"ReadD(0, 1)", false, 24, 20},         {"ReadD(0, 480)", false, 24, 978},
      {"WriteD(0, 0x1234)", false, 26, 18},   {"WriteBlock(D0, 480)", false, 984, 18},
  };
  const auto& transactions = StandardTransactions();
  for (const Row& row : rows) {
    const auto found = std::find_if(transactions.begin(), transactions.end(),
                                    [&](const BenchTransaction& t) { return t.name == row.name; });
    ASSERT_NE(found, transactions.end()) << row.name;
    const WireExchange wire = WireBytesOf(*found, row.sum_check);
    const std::string what = std::string(row.name) + (row.sum_check ? " with" : " without") + " sum check";
    EXPECT_EQ(wire.request.size(), row.request) << what;
    EXPECT_EQ(wire.answer.size(), row.answer) << what;
    EXPECT_EQ(wire.total(), row.request + row.answer) << what;
  }
}

TEST(WireBytesOf, BlockWriteCarriesNoDleSoLaterReadsKeepTheirLength) {
  const BenchTransaction& block = StandardTransactions().back();
  ASSERT_EQ(block.name, "WriteBlock(D0, 480)");
  const auto& data = block.request.data;
  ASSERT_EQ(data.size(), 6u + 960u);
  EXPECT_EQ(std::count(data.begin() + 6, data.end(), 0x10), 0);
}

}  // namespace
}  // namespace kestova::bench
