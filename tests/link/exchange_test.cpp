// The exchange on the in-memory port with the test clock: no real time passes.

#include "link/exchange.h"

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "support/bytes.h"
#include "support/memory_port.h"
#include "support/raised.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;
using testing::Answer;
using testing::Bytes;

// One character at 9600,n,8,1, the in-memory port's line: a request's wire time is added
// to the call's budget.
constexpr nanoseconds kCharacter = 1041666ns;

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

  // WriteBlock("D0", 480, ...): a 988-byte request.
  static ExchangePlan BlockWritePlan() {
    ExchangePlan plan = WritePlan();
    plan.build_request = [] {
      Request request{0, 0x1401, 0, Bytes("00 00 00 A8 E0 01")};
      request.data.resize(request.data.size() + 960, 0x01);
      return request;
    };
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

  // Every request is answered with `wire`, `delay` after it has left the port.
  void AnswerWith(std::vector<std::uint8_t> wire, std::chrono::nanoseconds delay = 10ms) {
    port_.SetResponder([wire, delay](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      port.Deliver(wire, delay);
    });
  }

  // A fresh start for the next row of a table.
  void Forget() {
    host_.SetLocalTime(2010, 6, 1, 10, 20, 30);
    host_.events.clear();
    std::filesystem::remove(host_.log_folder / "20100601.CEL");
    data_.clear();
    line_ = LineState();
  }

  testing::TestHost host_;
  testing::MemoryPort port_;
  LineState line_;
  ExchangeSettings settings_;
  std::vector<std::uint8_t> data_;
};

TEST_F(ExchangeTest, AClosedPortSendsNothingAndAVanishedDeviceRaisesInsteadOfHanging) {
  port_.SetPortOpen(false);
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"Port not Open"});
  EXPECT_TRUE(port_.outputs().empty());
  EXPECT_TRUE(host_.LogFiles().empty());
  EXPECT_FALSE(line_.unsettled());
  port_.SetPortOpen(true);
  port_.HangUp();
  EXPECT_EQ(testing::Raised([&] { Run(WritePlan()); }), ErrorNumber::DeviceIo);
  EXPECT_TRUE(line_.unsettled());
}

TEST_F(ExchangeTest, WriteTimeOutLogsTheRequest) {
  const auto start = host_.MonotonicNow();
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut"});
  EXPECT_EQ(host_.LogLines("20100601.CEL"),
            std::vector<std::string>{"2010-06-01 10:20:30WriteSingleWord Time Out"
                                     "10020000F80000FFFF03000001140000640000A8010005001003"});
  EXPECT_EQ(host_.MonotonicNow() - start, 4s + 26 * kCharacter);
  // One that ends after midnight goes to the new day's file, stamped with its start.
  Forget();
  host_.SetLocalTime(2010, 6, 1, 23, 59, 59, 500'000'000);
  EXPECT_EQ(Run(WritePlan()), 1);
  EXPECT_EQ(host_.LogFiles(), std::vector<std::string>{"20100602.CEL"});
  EXPECT_EQ(host_.LogLines("20100602.CEL").at(0).substr(0, 19), "2010-06-01 23:59:59");
}

// A read's time-out counts the seconds; its record holds the request.
TEST_F(ExchangeTest, TheStartFractionShapesTheWait) {
  // Plus the request's 26 characters of wire time, except with a negative Timeout.
  const nanoseconds wire = 26 * kCharacter;
  settings_.sum_check = true;
  const std::tuple<std::int16_t, std::int64_t, nanoseconds, const char*> cases[] = {  // Timeout, start fraction
      {3, 0, 4s + wire, "TimeOut 4 Second"},
      {3, 750'000'000, 3250ms + wire, "TimeOut 4 Second"},
      {0, 750'000'000, 250ms + wire, "TimeOut 1 Second"},
      {0, 0, 1s + wire, "TimeOut 1 Second"},
      {-1, 400'000'000, 0s, "TimeOut 0 Second"},
  };
  for (const auto& [timeout, fraction_ns, waited, event] : cases) {
    SCOPED_TRACE(::testing::Message() << "Timeout " << timeout << " f " << fraction_ns);
    Forget();
    host_.SetLocalTime(2010, 6, 1, 10, 20, 30, fraction_ns);
    settings_.timeout_seconds = timeout;
    const auto start = host_.MonotonicNow();
    EXPECT_EQ(Run(ReadPlan()), 1);
    EXPECT_EQ(host_.MonotonicNow() - start, waited);
    EXPECT_EQ(host_.events, std::vector<std::string>{event});
    EXPECT_EQ(host_.LogLines("20100601.CEL"),
              std::vector<std::string>{"2010-06-01 10:20:30ReadWord Time Out A8"
                                       "10020000F80000FFFF03000001040000640000A8020010033043"});
  }
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
  auto bad_sum = Answer(0x0000, Bytes("34 12 CD AB"), true);
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  const auto short_frame = Bytes("10 02 02 00 F8 00 10 03 46 41");  // sum characters "FA"
  // With XON/XOFF (Handshaking 1 or 3) the port swallows 0x11 and 0x13: never a misread.
  // Station 0x11 echoed in the header: without it the end code would come from the data.
  const auto station_xon = Bytes("10 02 10 10 00 F8 11 00 FF FF 03 00 00 FF FF 00 00 34 12 CD AB 10 03");
  struct Case {
    const char* name;
    std::vector<std::uint8_t> wire;
    const char* event;
    bool sum_check = true;
    std::int32_t handshaking = 0;
  } cases[] = {
      {"corrupted sum", bad_sum, "SumCheck Error"},
      {"no room for an end code", short_frame, "Answer Length Error"},
      {"one word where two were asked", Answer(0x0000, Bytes("34 12"), true), "Answer Length Error"},
      {"XON/XOFF ate a data byte, sum check on", Answer(0x0000, Bytes("11 12 CD AB"), true), "SumCheck Error",
       true, 1},
      {"XON/XOFF ate a data byte, sum check off", Answer(0x0000, Bytes("11 12 CD AB"), false),
       "Answer Length Error", false, 1},
      {"XON/XOFF ate a header byte, sum check off", station_xon, "Answer Length Error", false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Forget();
    settings_.sum_check = c.sum_check;
    port_.SetHandshaking(c.handshaking);
    AnswerWith(c.wire);
    EXPECT_EQ(Run(ReadPlan()), 1);
    EXPECT_EQ(host_.events, std::vector<std::string>{c.event});
    EXPECT_TRUE(data_.empty());
    const auto lines = host_.LogLines("20100601.CEL");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("2010-06-01 10:20:30ReadWord " + std::string(c.event) + "DeviceCode = A8", 0), 0u);
    auto arrived = c.wire;
    if (c.handshaking != 0) std::erase_if(arrived, [](std::uint8_t b) { return b == 0x11 || b == 0x13; });
    EXPECT_EQ(lines[1], "InBuffer = " + HexText(arrived));
    EXPECT_TRUE(line_.unsettled());
  }
}

TEST_F(ExchangeTest, NoiseAroundTheAnswerIsHarmlessAndTheNextRequestGoesOutAtOnce) {
  AnswerWith(testing::Join(Bytes("00 FF 10 10 03"), Answer(0x0000, Bytes("34 12 CD AB"), false), Bytes("10 10 42")));
  EXPECT_EQ(Run(ReadPlan()), 0);
  EXPECT_EQ(data_, Bytes("34 12 CD AB"));
  EXPECT_EQ(port_.pending(), 0u);
  // After an accepted answer the next call pays nothing: sent at once, done when its
  // answer is in.
  const auto start = host_.MonotonicNow();
  EXPECT_EQ(Run(ReadPlan()), 0);
  EXPECT_EQ(host_.MonotonicNow() - start, 10ms);
}

TEST_F(ExchangeTest, AStationWithoutSumCheckGetsTheHint) {
  settings_.sum_check = true;
  AnswerWith(Answer(0x0000, Bytes("34 12 CD AB"), false));
  EXPECT_EQ(Run(ReadPlan()), 1);
  EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut, Maybe because Sumcheck not set in PLC "});
}

TEST_F(ExchangeTest, ALateAnswerIsNeverTakenByTheNextCall) {
  // The first ReadD(100, points) times out at 4 s and 25 ms (Timeout 3 and its request's
  // wire time); its answer, or line noise, comes later. The next request may go out only
  // once the line has been quiet for 0.5 s, or for the owed answer's longest wire time
  // when that is longer; its own answer comes 0.5 s after it.
  settings_.timeout_seconds = 3;
  const auto stale = Answer(0, Bytes("11 11 11 11"), false);
  const auto own = Answer(0, Bytes("22 22 22 22"), false);
  const auto refusal = Answer(0x4031, {}, false);
  const auto stale_480 = Answer(0, std::vector<std::uint8_t>(960, 0x11), false);
  struct Late {
    std::vector<std::uint8_t> bytes;
    nanoseconds at;  // from the first request
  };
  std::vector<Late> noise;
  for (nanoseconds at = 3900ms; at < 9s; at += 200ms) noise.push_back({Bytes("55"), at});
  const std::vector<std::uint8_t> own_data_480(960, 0x22);
  struct Case {
    const char* name;
    std::int16_t points;
    std::vector<Late> late;
    std::vector<std::uint8_t> own;
    std::int16_t result;
    std::optional<nanoseconds> sent_at;  // the second request, from the first
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"0.3 s after the time-out", 2, {{stale, 4325ms}}, own, 0, 4825ms, Bytes("22 22 22 22")},
      {"then an error answer, whose record shows it", 2, {{stale, 4325ms}}, refusal, 0x4031, 4825ms, {}},
      {"noise that never stops: time-out, nothing sent", 2, noise, own, 1, std::nullopt, {}},
      {"part of a long answer: quiet for its wire time", 480,
       {{std::vector<std::uint8_t>(stale_480.begin(), stale_480.begin() + 100), 4100ms}},
       Answer(0, own_data_480, false), 0, 4100ms + 1952 * kCharacter, own_data_480},
  };
  for (const Case& c : cases) {
    Forget();
    const auto first_sent = host_.MonotonicNow();
    std::optional<nanoseconds> sent_at;
    int request = 0;
    port_.SetResponder([&](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      if (request++ == 0) {
        for (const Late& late : c.late) port.Deliver(late.bytes, late.at);
      } else {
        sent_at = host_.MonotonicNow() - first_sent;
        port.Deliver(c.own, 500ms);
      }
    });
    EXPECT_EQ(Run(ReadPlan(c.points)), 1) << c.name;
    const auto second_start = host_.MonotonicNow();
    EXPECT_EQ(Run(ReadPlan(c.points)), c.result) << c.name;
    EXPECT_EQ(sent_at, c.sent_at) << c.name;
    EXPECT_EQ(data_, c.data) << c.name;
    if (c.result == 0x4031) {
      EXPECT_EQ(host_.LogLines("20100601.CEL").back(), "InBuffer = " + HexText(stale) + HexText(refusal));
    }
    if (!c.sent_at) {
      EXPECT_EQ(host_.events, (std::vector<std::string>{"TimeOut 4 Second", "TimeOut 4 Second"})) << c.name;
      EXPECT_EQ(host_.MonotonicNow() - second_start, 4s - 24 * kCharacter) << c.name;
    }
  }
}

TEST_F(ExchangeTest, TheLinesEchoOfTheRequestIsSkippedAndTheLargestAnswerFits) {
  // Two-wire RS-485 and some converters hear the request go out: that is no answer.
  const std::tuple<const char*, ExchangePlan, std::vector<std::uint8_t>, bool> cases[] = {  // data, sum check
      {"ReadD(100, 3), no sum check", ReadPlan(3), Bytes("01 00 02 00 03 00"), false},
      {"ReadD(100, 3), sum check", ReadPlan(3), Bytes("01 00 02 00 03 00"), true},
      {"a 480-word block write", BlockWritePlan(), {}, true},
      {"ReadD(100, 480), every byte DLE", ReadPlan(480), std::vector<std::uint8_t>(960, 0x10), true},
  };
  for (const auto& [name, plan, answer_data, sum_check] : cases) {
    SCOPED_TRACE(name);
    Forget();
    settings_.sum_check = sum_check;
    const auto answer = Answer(0, answer_data, sum_check);
    port_.SetResponder([&](testing::MemoryPort& port, const std::vector<std::uint8_t>& request) {
      port.Deliver(request, 1ms);
      port.Deliver(answer, 20ms);
    });
    EXPECT_EQ(Run(plan), 0);
    EXPECT_EQ(data_, answer_data);
    EXPECT_TRUE(host_.events.empty());
    EXPECT_TRUE(host_.LogFiles().empty());
    EXPECT_FALSE(line_.unsettled());
  }
}

TEST_F(ExchangeTest, AHeldOrSlowLineMayUseTheWholeBudget) {
  // Flow control holds the line: WriteD's 26 characters leave late, or never. A 480-word
  // block write at 2400 baud is 988 bytes, 4.1 s on the line, longer than the whole
  // Timeout of 3: the PLC still has its time to answer.
  struct Case {
    const char* name;
    const char* line;
    ExchangePlan plan;
    std::int16_t timeout;
    nanoseconds held, answer_after;
    std::int16_t result;
    nanoseconds took;
  } cases[] = {
      {"never released", "9600,n,8,1", WritePlan(), 10, 1h, 10ms, 1, 11s + 26 * kCharacter},
      {"released after 9 s", "9600,n,8,1", WritePlan(), 10, 9s, 10ms, 0, 9s + 10ms},
      {"a long frame on a slow line", "2400,n,8,1", BlockWritePlan(), 3, 4100ms, 500ms, 0, 4600ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Forget();
    port_.SetSettings(c.line);
    settings_.timeout_seconds = c.timeout;
    port_.SetTransmitTime(c.held);
    AnswerWith(Answer(0, {}, false), c.answer_after);
    const int discarded = port_.discarded_outputs();
    const auto start = host_.MonotonicNow();
    EXPECT_EQ(Run(c.plan), c.result);
    EXPECT_EQ(host_.MonotonicNow() - start, c.took);
    if (c.result == 1) {
      EXPECT_EQ(host_.events, std::vector<std::string>{"TimeOut"});
      EXPECT_EQ(host_.LogLines("20100601.CEL").at(0).substr(0, 43), "2010-06-01 10:20:30WriteSingleWord Time Out");
      EXPECT_EQ(port_.discarded_outputs(), discarded + 1);
      EXPECT_TRUE(line_.unsettled());
    }
  }
}

TEST_F(ExchangeTest, EveryFailureKeepsItsRecordWhateverTheHandlerDoes) {
  settings_.sum_check = true;
  auto bad_sum = Answer(0x0000, Bytes("34 12 CD AB"), true);
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  const std::pair<const char*, std::vector<std::uint8_t>> failures[] = {{"time-out", {}}, {"refused", bad_sum}};
  const std::pair<const char*, std::function<void()>> handlers[] = {
      {"closes the port", [this] { port_.SetPortOpen(false); }},
      {"starts another call", [this] { Run(WritePlan()); }},
  };
  for (const auto& [failure, wire] : failures) {
    for (const auto& [handler, action] : handlers) {
      SCOPED_TRACE(std::string(failure) + ", the handler " + handler);
      Forget();
      if (!port_.PortOpen()) port_.SetPortOpen(true);
      int requests = 0;
      port_.SetResponder([&](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
        if (requests++ == 0 && !wire.empty()) port.Deliver(wire, 10ms);
      });
      bool handled = false;
      host_.on_melsec_out = [&](const std::string&) {
        if (!std::exchange(handled, true)) action();
      };
      EXPECT_EQ(Run(ReadPlan()), 1);
      host_.on_melsec_out = nullptr;
      // The first record is this call's, whole; the other call's own record follows it.
      const auto lines = host_.LogLines("20100601.CEL");
      const std::size_t own_lines = wire.empty() ? 1 : 2;
      ASSERT_EQ(lines.size(), own_lines + (requests == 2 ? 1 : 0));
      const std::string head = wire.empty() ? "Time Out A8" : "SumCheck ErrorDeviceCode = A8";
      EXPECT_EQ(lines[0].rfind("2010-06-01 10:20:30ReadWord " + head, 0), 0u);
      if (!wire.empty()) {
        EXPECT_EQ(lines[1], "InBuffer = " + HexText(wire));
      }
    }
  }
}

TEST_F(ExchangeTest, APortErrorAfterTheOutcomeWasDecidedSurfacesOnTheNextCall) {
  // The port fails on its first use after the one that brought the answer.
  const std::tuple<const char*, std::vector<std::uint8_t>, std::int16_t, std::size_t> cases[] = {  // result, log lines
      {"accepted read", Answer(0, Bytes("34 12 CD AB"), false), 0, 0},
      {"error answer", Answer(0x4031, {}, false), 0x4031, 2},
      {"refused answer", Answer(0, Bytes("34 12"), false), 1, 2},
  };
  for (const auto& [name, wire, result, log_lines] : cases) {
    SCOPED_TRACE(name);
    Forget();
    port_.SetResponder([&](testing::MemoryPort& port, const std::vector<std::uint8_t>&) {
      port.Deliver(wire, 10ms);
      port.FailInput(57, 1);
    });
    EXPECT_EQ(Run(ReadPlan()), result);
    EXPECT_EQ(data_, result == 0 ? Bytes("34 12 CD AB") : Bytes(""));
    EXPECT_EQ(host_.LogFiles().empty() ? 0u : host_.LogLines("20100601.CEL").size(), log_lines);
    AnswerWith(Answer(0, Bytes("56 78 9A BC"), false));
    EXPECT_EQ(testing::RaisedNumber([&] { Run(ReadPlan()); }), 57);
    EXPECT_EQ(Run(ReadPlan()), 0);
  }
}

}  // namespace
}  // namespace kestova
