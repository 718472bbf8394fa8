// The exchange on the in-memory port with the test clock: no real time passes.

#include "link/exchange.h"

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "support/bytes.h"
#include "support/memory_port.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::Bytes;

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() : port_(host_) { port_.SetPortOpen(true); }

  std::int16_t Run(const ExchangePlan& plan) {
    const LinkEnvironment env{port_, host_, host_.log_folder,
                              [this](const std::string& text) { host_.MelsecOut(text); }, line_};
    return RunExchange(env, settings_, plan);
  }

  // WriteD(100, 5).
  static ExchangePlan WritePlan() {
    ExchangePlan plan;
    plan.operation = "WriteSingleWord";
    plan.timeout_log_text = "WriteSingleWord Time Out";
    plan.build_request = [] { return Request{0, 0x1401, 0, Bytes("64 00 00 A8 01 00 05 00")}; };
    return plan;
  }

  // ReadD(100, points); the unpacked data land in `data_`.
  ExchangePlan ReadPlan(std::int16_t points = 2) {
    ExchangePlan plan;
    plan.operation = "ReadWord";
    plan.timeout_log_text = "ReadWord Time Out A8";
    plan.read_device_code = 0xA8;
    plan.answer_length_without_sum = 18 + 2 * points;
    plan.build_request = [points] {
      return Request{0, 0x0401, 0,
                     {0x64, 0x00, 0x00, 0xA8, static_cast<std::uint8_t>(points & 0xFF),
                      static_cast<std::uint8_t>(points >> 8)}};
    };
    plan.unpack = [this](std::span<const std::uint8_t> data) { data_.assign(data.begin(), data.end()); };
    return plan;
  }

  // Every request is answered with `wire`, `delay` after it was sent.
  void AnswerWith(std::vector<std::uint8_t> wire, std::chrono::nanoseconds delay = 10ms) {
    port_.SetResponder([wire, delay](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      port.Deliver(wire, delay);
    });
  }

  testing::TestHost host_;
  testing::MemoryPort port_;
  LineState line_;
  ExchangeSettings settings_;
  std::vector<std::uint8_t> data_;
};

TEST_F(ExchangeTest, ClosedPortSendsNothing) {
  port_.SetPortOpen(false);
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"Port not Open"});
  EXPECT_TRUE(port_.outputs().empty());
  EXPECT_TRUE(host_.LogFiles().empty());
}

TEST_F(ExchangeTest, WriteTimeOutLogsTheRequest) {
  const auto start = host_.MonotonicNow();
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut"});
  EXPECT_EQ(host_.LogLines("20100601.CEL"),
            std::vector<std::string>{"2010-06-01 10:20:30WriteSingleWord Time Out"
                                     "10020000F80000FFFF03000001140000640000A8010005001003"});
  EXPECT_EQ(host_.MonotonicNow() - start, 4s);
}

TEST_F(ExchangeTest, ReadTimeOutCountsTheSeconds) {
  settings_.sum_check = true;
  EXPECT_EQ(Run(ReadPlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut 4 Second"});
  EXPECT_EQ(host_.LogLines("20100601.CEL"),
            std::vector<std::string>{"2010-06-01 10:20:30ReadWord Time Out A8"
                                     "10020000F80000FFFF03000001040000640000A8020010033043"});
}

TEST_F(ExchangeTest, TheStartFractionShapesTheWait) {
  struct Case {
    std::int16_t timeout;
    std::int64_t fraction_ns;
    std::chrono::nanoseconds waited;
    const char* event;
  } cases[] = {
      {3, 0, 4s, "TimeOut 4 Second"},
      {3, 750'000'000, 3250ms, "TimeOut 4 Second"},
      {0, 750'000'000, 250ms, "TimeOut 1 Second"},
      {0, 0, 1s, "TimeOut 1 Second"},
      {-1, 400'000'000, 0s, "TimeOut 0 Second"},
  };
  for (const Case& c : cases) {
    host_.events.clear();
    host_.SetLocalTime(2010, 6, 1, 10, 20, 30, c.fraction_ns);
    settings_.timeout_seconds = c.timeout;
    line_ = LineState();
    const auto start = host_.MonotonicNow();
    EXPECT_EQ(Run(ReadPlan()), 1);
    EXPECT_EQ(host_.MonotonicNow() - start, c.waited) << "Timeout " << c.timeout << " f " << c.fraction_ns;
    EXPECT_EQ(host_.events, std::vector<std::string>{c.event}) << "Timeout " << c.timeout;
  }
}

TEST_F(ExchangeTest, ATimeOutAcrossMidnightGoesToTheNewDaysFile) {
  host_.SetLocalTime(2010, 6, 1, 23, 59, 59, 500'000'000);
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.LogFiles(), std::vector<std::string>{"20100602.CEL"});
  EXPECT_EQ(host_.LogLines("20100602.CEL").at(0).substr(0, 19), "2010-06-01 23:59:59");
}

TEST_F(ExchangeTest, RecordsOfOneDayAppendToOneFile) {
  EXPECT_EQ(Run(WritePlan()), 1);
  AnswerWith(Answer(0x4031, {}, false));
  EXPECT_EQ(Run(WritePlan()), 0x4031);
  const auto lines = host_.LogLines("20100601.CEL");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("WriteSingleWord Time Out"), std::string::npos);
  EXPECT_NE(lines[1].find("WriteSingleWord ErroCode=4031"), std::string::npos);
}

TEST_F(ExchangeTest, AnErrorAnswerToAReadIsJudgedAtOnce) {
  settings_.sum_check = true;
  const auto wire = Answer(0xC059, {}, true);
  AnswerWith(wire);
  const auto start = host_.MonotonicNow();
  EXPECT_EQ(Run(ReadPlan()), static_cast<std::int16_t>(0xC059));
  EXPECT_LT(host_.MonotonicNow() - start, 1s);
  EXPECT_TRUE(host_.events.empty());
  EXPECT_TRUE(data_.empty());
  const auto lines = host_.LogLines("20100601.CEL");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "2010-06-01 10:20:30ReadWord ErroCode=C059DeviceCode = A8"
            "10020000F80000FFFF03000001040000640000A8020010033043    ");
  EXPECT_EQ(lines[0].size() % 14, 0u);
  EXPECT_EQ(lines[1], "InBuffer = " + HexText(wire));
}

TEST_F(ExchangeTest, RefusesAnswersItCannotTrust) {
  settings_.sum_check = true;
  auto bad_sum = Answer(0x0000, Bytes("34 12 CD AB"), true);
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  auto short_frame = Bytes("10 02 02 00 F8 00 10 03");
  short_frame.push_back('F');
  short_frame.push_back('A');
  struct Case {
    const char* name;
    std::vector<std::uint8_t> wire;
    const char* event;
  } cases[] = {
      {"corrupted sum", bad_sum, "SumCheck Error"},
      {"no room for an end code", short_frame, "Answer Length Error"},
      {"one word where two were asked", Answer(0x0000, Bytes("34 12"), true), "Answer Length Error"},
  };
  for (const Case& c : cases) {
    host_.events.clear();
    std::filesystem::remove(host_.log_folder / "20100601.CEL");
    data_.clear();
    AnswerWith(c.wire);
    EXPECT_EQ(Run(ReadPlan()), 1) << c.name;
    EXPECT_EQ(host_.events, std::vector<std::string>{c.event}) << c.name;
    EXPECT_TRUE(data_.empty()) << c.name;
    const auto lines = host_.LogLines("20100601.CEL");
    ASSERT_EQ(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[0].rfind("2010-06-01 10:20:30ReadWord " + std::string(c.event) + "DeviceCode = A8", 0), 0u)
        << c.name;
    EXPECT_EQ(lines[1], "InBuffer = " + HexText(c.wire)) << c.name;
    EXPECT_TRUE(line_.unsettled()) << c.name;
  }
}

TEST_F(ExchangeTest, NoiseAroundTheAnswerIsHarmless) {
  auto wire = Bytes("00 FF 10 10 03");
  const auto answer = Answer(0x0000, Bytes("34 12 CD AB"), false);
  wire.insert(wire.end(), answer.begin(), answer.end());
  wire.insert(wire.end(), {0x10, 0x10, 0x42});
  AnswerWith(wire);
  EXPECT_EQ(Run(ReadPlan()), 0);
  EXPECT_EQ(data_, Bytes("34 12 CD AB"));
  EXPECT_EQ(port_.pending(), 0u);
}

TEST_F(ExchangeTest, TheLargestAnswerFits) {
  settings_.sum_check = true;
  const std::vector<std::uint8_t> all_dle(960, 0x10);
  const auto wire = Answer(0x0000, all_dle, true);
  ASSERT_GE(wire.size(), 1940u);
  AnswerWith(wire);
  EXPECT_EQ(Run(ReadPlan(480)), 0);
  EXPECT_EQ(data_, all_dle);
}

TEST_F(ExchangeTest, AStationWithoutSumCheckGetsTheHint) {
  settings_.sum_check = true;
  AnswerWith(Answer(0x0000, Bytes("34 12 CD AB"), false));
  EXPECT_EQ(Run(ReadPlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut, Maybe because Sumcheck not set in PLC "});
}

TEST_F(ExchangeTest, ALateAnswerIsNeverTakenByTheNextCall) {
  settings_.timeout_seconds = 0;
  // The first answer comes 1.3 s late, 0.3 s after the time-out; the next request's own
  // answer carries other data.
  int request = 0;
  port_.SetResponder([&](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
    if (request++ == 0) {
      port.Deliver(Answer(0, Bytes("11 11 11 11"), false), 1300ms);
    } else {
      port.Deliver(Answer(0, Bytes("22 22 22 22"), false), 10ms);
    }
  });
  EXPECT_EQ(Run(ReadPlan()), 1);
  EXPECT_EQ(Run(ReadPlan()), 0);
  EXPECT_EQ(data_, Bytes("22 22 22 22"));
}

TEST_F(ExchangeTest, TheClockStartsWhenTheFrameHasLeftThePort) {
  // A 480-word block write at 2400 baud: about 1000 bytes, 4.2 s on the line, longer than
  // the whole Timeout of 3; the answer comes 0.5 s after the frame has left.
  port_.SetSettings("2400,n,8,1");
  ExchangePlan plan = WritePlan();
  plan.build_request = [] {
    Request request{0, 0x1401, 0, Bytes("00 00 00 A8 E0 01")};
    request.data.resize(request.data.size() + 960, 0x01);
    return request;
  };
  port_.SetTransmitTime(4200ms);
  AnswerWith(Answer(0, {}, false), 4700ms);
  EXPECT_EQ(Run(plan), 0);
}

TEST_F(ExchangeTest, AFrameThatNeverLeavesIsATimeOutCountedFromTheSend) {
  // 26 bytes at 9600 baud take 27 ms; the line gives up after twice that and a second.
  port_.SetTransmitTime(1h);
  const auto start = host_.MonotonicNow();
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.MonotonicNow() - start, 2 * 26 * 1041666ns + 1s);
  EXPECT_EQ(port_.discarded_outputs(), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut"});
  EXPECT_EQ(host_.LogLines("20100601.CEL").at(0).substr(0, 43), "2010-06-01 10:20:30WriteSingleWord Time Out");
  EXPECT_TRUE(line_.unsettled());
}

TEST_F(ExchangeTest, AVanishedDeviceRaisesInsteadOfHanging) {
  port_.HangUp();
  try {
    Run(WritePlan());
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::DeviceIo);
  }
  EXPECT_TRUE(line_.unsettled());
}

}  // namespace
}  // namespace kestova
