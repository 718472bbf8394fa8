// Fault scheduling, line timing and the output schedule, without a line.
#include <gtest/gtest.h>

#include "sim/fault_scheduler.h"
#include "sim/line_timing.h"
#include "sim/output_schedule.h"

namespace kestova::sim {
namespace {

using namespace std::chrono_literals;

TEST(FaultScheduler, CountedFaultsUseThemselvesUp) {
  FaultScheduler scheduler;
  scheduler.Add(Fault::NoAnswer(), 2);
  scheduler.Add(Fault::Delay(1500ms), 1);
  auto plan = scheduler.Next();
  EXPECT_TRUE(plan.no_answer);
  EXPECT_EQ(plan.delay, 1500ms);
  EXPECT_EQ(plan.applied.size(), 2u);
  plan = scheduler.Next();
  EXPECT_TRUE(plan.no_answer);
  EXPECT_EQ(plan.delay, 0ms);
  plan = scheduler.Next();
  EXPECT_FALSE(plan.no_answer);
  EXPECT_TRUE(scheduler.empty());
}

TEST(FaultScheduler, SameSeedSameRun) {
  auto run = [](std::uint32_t seed) {
    FaultScheduler scheduler;
    scheduler.Add(Fault::AnswerTwice(), 0.5, seed);
    std::string fired;
    for (int i = 0; i < 64; ++i) fired += scheduler.Next().twice ? '1' : '0';
    return fired;
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
  const auto fired = run(7);
  const auto ones = std::count(fired.begin(), fired.end(), '1');
  EXPECT_GT(ones, 16);
  EXPECT_LT(ones, 48);
}

TEST(LineTiming, ReadsSettingsAndCountsBits) {
  struct Row {
    const char* settings;
    double bits;
    int baud;
  };
  const Row rows[] = {{"9600,n,8,1", 10, 9600},
                      {"115200,o,8,1", 11, 115200},
                      {"19200,E,7,2", 11, 19200},
                      {"4800,n,8,1.5", 10.5, 4800},
                      {" 38400 , m , 5 , 1 ", 8, 38400}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.settings);
    const auto timing = LineTiming::Parse(row.settings);
    EXPECT_DOUBLE_EQ(timing.BitsPerCharacter(), row.bits);
    EXPECT_EQ(timing.baud, row.baud);
  }
  EXPECT_EQ(LineTiming::Parse("115200,o,8,1").CharacterTime(), 95486ns);
  for (const char* bad : {"", "9600", "9600,x,8,1", "fast,n,8,1", "9600,n,9,1", "9600,n,8,3",
                          "0,n,8,1", "9600,n,8x,1"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(LineTiming::Parse(bad), std::invalid_argument);
  }
}

TEST(OutputSchedule, DueTimesAreAbsoluteFromTheStart) {
  using Clock = OutputSchedule::Clock;
  const Clock::time_point t0{};
  OutputSchedule out;
  OutputSchedule::Transmission paced;
  paced.bytes = {1, 2, 3, 4};
  paced.start = t0;
  paced.char_time = 1ms;
  out.Add(paced);
  OutputSchedule::Transmission after;
  after.bytes = {9};
  after.start = t0;
  out.Add(after);

  EXPECT_TRUE(out.Due(t0).empty());
  // A late wake-up sends everything that is due at once: no drift from oversleeping.
  EXPECT_EQ(out.Due(t0 + 3ms).size(), 3u);
  EXPECT_FALSE(out.Consumed(3));
  EXPECT_EQ(out.NextDue(), t0 + 4ms);
  EXPECT_TRUE(out.Consumed(1));
  // The next one waits for the end of the one before.
  EXPECT_EQ(out.NextDue(), t0 + 4ms);
  EXPECT_TRUE(out.Consumed(out.Due(t0 + 4ms).size()));
  EXPECT_TRUE(out.empty());
}

TEST(OutputSchedule, DropsOnlyDroppableAnswersNotYetBegun) {
  OutputSchedule out;
  OutputSchedule::Transmission delayed;
  delayed.bytes = {1, 2};
  delayed.start = OutputSchedule::Clock::now() + 1h;
  delayed.droppable = true;
  out.Add(delayed);
  out.DropUnstarted();
  EXPECT_TRUE(out.empty());

  delayed.start = OutputSchedule::Clock::time_point{};
  out.Add(delayed);
  out.Consumed(1);
  out.DropUnstarted();
  EXPECT_FALSE(out.empty());
}

}  // namespace
}  // namespace kestova::sim
