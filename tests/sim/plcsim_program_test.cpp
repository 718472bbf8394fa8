// kestova-plcsim as a program: the first line names the terminal, it serves there, and a
// SIGTERM ends it with status 0.
#include <gtest/gtest.h>
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
    const int failed = posix_spawn(&pid_, KESTOVA_PLCSIM_PATH, &actions, nullptr, argv.data(), environ);
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

  // The first line it prints (the terminal's path); it prints it at once or exits.
  std::string ReadLine() {
    std::string line;
    for (char c; read(out_, &c, 1) == 1 && c != '\n';) line += c;
    return line;
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
  const auto path = program.ReadLine();
  ASSERT_FALSE(path.empty());
  test::PtyLine line(path);
  line.Send(Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 43"));
  EXPECT_EQ(Spaced(line.Read(25, 2s)),
            "10 02 10 10 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 34 12 FF FF 10 03 34 42");
  EXPECT_EQ(program.Exit(SIGTERM), 0);
}

TEST(PlcsimProgram, FaultOptionsApplyToTheCountedRequests) {
  Program program({"--end-code", "4031", "--count", "1"});
  test::PtyLine line(program.ReadLine());
  const auto write = Bytes("10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03");
  line.Send(write);
  line.Send(write);
  EXPECT_EQ(Spaced(line.Read(36, 2s)),
            "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 31 40 10 03 "
            "10 02 0C 00 F8 00 00 FF FF 03 00 00 FF FF 00 00 10 03");
  EXPECT_EQ(program.Exit(SIGINT), 0);
}

TEST(PlcsimProgram, RefusesABadOption) {
  Program program({"--delay", "soon"});
  EXPECT_EQ(program.Exit(0), 2);
}

}  // namespace
}  // namespace kestova::sim
