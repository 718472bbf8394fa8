// kestova-plcsim as a program: the first line names the terminal, it serves there, and a
// SIGTERM ends it with status 0.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "tests/sim/pty_line.h"

extern char** environ;

namespace kestova::sim {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::Spaced;

// A started kestova-plcsim with its standard output on a pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), KESTOVA_PLCSIM_PATH);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int failed =
        posix_spawn(&pid_, KESTOVA_PLCSIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    if (failed != 0) throw std::runtime_error("cannot start kestova-plcsim");
  }

  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // Everything printed until a newline, end of output or the deadline.
  std::string ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return line;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

  // Everything printed until the program closes its output or the deadline.
  std::string ReadAll(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string all;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return all;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
      char buffer[512];
      const auto n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return all;
      all.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Sends `signal` and returns the exit status (-1 when it did not exit normally).
  int Exit(int signal) {
    if (signal != 0) kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(PlcsimProgram, ServesUntilTerminated) {
  Program program({"--sumcheck", "--preset", "D100=0x1234", "--preset", "D101=-1"});
  const auto path = program.ReadLine(5s);
  ASSERT_FALSE(path.empty());
  test::PtyLine line(path);
  line.Send(Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 43"));
  EXPECT_EQ(Spaced(line.Read(25, 2s)),
            "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 FF FF 10 03 34 42");
  EXPECT_EQ(program.Exit(SIGTERM), 0);
}

TEST(PlcsimProgram, FaultOptionsApplyToTheCountedRequests) {
  Program program({"--end-code", "4031", "--count", "1"});
  test::PtyLine line(program.ReadLine(5s));
  const auto write =
      Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03");
  line.Send(write);
  line.Send(write);
  EXPECT_EQ(Spaced(line.Read(36, 2s)),
            "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 31 40 10 03 "
            "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03");
  EXPECT_EQ(program.Exit(SIGINT), 0);
}

TEST(PlcsimProgram, HelpDocumentsEveryOption) {
  Program program({"--help"});
  const auto help = program.ReadAll(5s);
  for (const char* option :
       {"--sumcheck",     "--link",        "--device",      "--settings", "--pace",    "--preset",
        "--stopped",      "--delay",       "--send-anyway", "--drop",     "--cut",     "--bad-sum",
        "--noise-before", "--noise-after", "--twice",       "--end-code", "--trickle", "--echo",
        "--broken-frame", "--hold",        "--count",       "--probability", "--seed", "--help"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(program.Exit(0), 0);
}

TEST(PlcsimProgram, RefusesABadOption) {
  Program program({"--delay", "soon"});
  EXPECT_EQ(program.Exit(0), 2);
}

}  // namespace
}  // namespace kestova::sim
