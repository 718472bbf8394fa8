// kestova-plcsim as a program: the first line names the terminal, it serves there, and a
// SIGTERM ends it with status 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/program_runner.h"
#include "support/pty_pair.h"

namespace kestova::sim {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::Spaced;

// Runs kestova-plcsim with `args`: `talk` gets the terminal its first line names, then
// `signal` ends it; returns its exit status.
int RunPlcsim(const std::vector<std::string>& args, int signal, const std::function<void(testing::PtyPair&)>& talk) {
  return testing::RunProgram(KESTOVA_PLCSIM_PATH, args, [&](pid_t pid, const std::string& out) {
    testing::PtyPair line(out.substr(0, out.find('\n')));
    talk(line);
    kill(pid, signal);
  }).exit_status;
}

TEST(PlcsimProgram, ServesUntilTerminated) {
  const std::vector<std::string> args = {"--sumcheck", "--preset", "D100=0x1234", "--preset", "D101=-1"};
  EXPECT_EQ(RunPlcsim(args, SIGTERM, [](auto& line) {
              line.Send(Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 43"));
              EXPECT_EQ(Spaced(line.Read(25, 2s)),
                        "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 FF FF 10 03 34 42");
            }),
            0);
}

TEST(PlcsimProgram, FaultOptionsApplyToTheCountedRequests) {
  const auto status = RunPlcsim({"--end-code", "4031", "--count", "1"}, SIGINT, [](auto& line) {
    const auto write = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03");
    line.Send(write);
    line.Send(write);
    EXPECT_EQ(Spaced(line.Read(36, 2s)), "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 31 40 10 03 "
                                         "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03");
  });
  EXPECT_EQ(status, 0);
}

TEST(PlcsimProgram, RefusesABadOption) {
  EXPECT_EQ(testing::RunProgram(KESTOVA_PLCSIM_PATH, {"--delay", "soon"}).exit_status, 2);
}

}  // namespace
}  // namespace kestova::sim
