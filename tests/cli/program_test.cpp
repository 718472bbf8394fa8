// The built `kestova` program against a virtual PLC started in this process on a
// pseudo-terminal: every command in text and in JSON, the exit statuses, the defaults and
// options as the bytes they send, and the usage errors. One row, one run of the program.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/virtual_plc.h"
#include "support/bytes.h"
#include "support/program_runner.h"

namespace kestova::testing {
namespace {

using sim::Family;
using sim::VirtualPlc;

struct Row {
  const char* name;
  std::vector<std::string> args;  // after --port and --log-dir, unless `standalone`
  int exit_status;
  std::string out = {};          // the exact standard output, when `out_pattern` is empty
  std::string out_pattern = {};  // else a regular expression the whole output must match
  std::string err = {};          // a regular expression for the whole standard error
  std::function<void(VirtualPlc&)> arrange = {};
  std::function<void(VirtualPlc&)> check = {};
  bool standalone = false;  // the command runs without the test's PLC (demo, simulate, help)
  bool interrupt = false;   // Ctrl-C once the first line is out
  bool plc_sum_check = false;
};

std::string LogText(const std::filesystem::path& folder) {
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    text += content.str();
  }
  return text;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// "X1F0 1\nX1F1 0\n..." for the 16 bits of one word.
std::string BitLines(const char* family, int start, unsigned word) {
  std::vector<std::string> lines;
  for (int b = 0; b < 16; ++b) {
    char label[32];
    std::snprintf(label, sizeof label, "%s%X %u", family, start + b, (word >> b) & 1U);
    lines.emplace_back(label);
  }
  return Lines(lines);
}

const std::string kUsageLine = "kestova: [^\n]+; usage: kestova [^\n]+\n";

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestova-cli-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    log_dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(log_dir_); }

  std::filesystem::path log_dir_;
};

TEST_F(ProgramTest, EveryCommandExitStatusNotationAndUsage) {
  const std::filesystem::path& log_dir = log_dir_;
  const std::vector<Row> rows = {
      // ---- write ---------------------------------------------------------------------
      {"write text", {"write", "D100", "4660"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) { EXPECT_EQ(plc.memory().Word(Family::D, 100), 4660); }},
      {"defaults on the wire: routing 00 00 FF FF 03 00, no sum check", {"write", "D100", "5"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(Spaced(plc.requests().back().raw),
                   "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03");
       }},
      {"options on the wire", {"--station", "1", "--network", "2", "--pc", "3", "--module-io", "0x3E0",
                               "--module-station", "4", "--sumcheck", "write", "D100", "5"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(Spaced(plc.requests().back().raw),
                   "10 02 00 00 F8 01 02 03 E0 03 04 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03 30 43");
       }, false, false, true},
      {"write json, hex family, upper half of the word range", {"--json", "write", "W1A", "65535"}, 0,
       "{\"result\":0,\"messages\":[]}\n", "", "",
       {}, [](VirtualPlc& plc) { EXPECT_EQ(plc.memory().Word(Family::W, 0x1A), 0xFFFF); }},
      // ---- read and the device notation --------------------------------------------------
      {"read text", {"read", "D100", "2"}, 0, "D100 4660\nD101 -21555\n", "", "",
       [](VirtualPlc& plc) {
         plc.memory().SetWord(Family::D, 100, 0x1234);
         plc.memory().SetWord(Family::D, 101, 0xABCD);
       }},
      {"read json, lower case, hex points", {"--json", "read", "d100", "0x2"}, 0,
       "{\"result\":0,\"device\":\"D100\",\"values\":[4660,-21555],\"messages\":[]}\n", "", "",
       [](VirtualPlc& plc) {
         plc.memory().SetWord(Family::D, 100, 0x1234);
         plc.memory().SetWord(Family::D, 101, 0xABCD);
       }},
      {"read X in hex, 16 bits per word", {"read", "x1f0", "1"}, 0, BitLines("X", 0x1F0, 0x8005), "", "",
       [](VirtualPlc& plc) { plc.memory().SetWord(Family::X, 0x1F0, 0x8005); }},
      {"read SB in hex", {"--json", "read", "SB10", "1"}, 0,
       "{\"result\":0,\"device\":\"SB10\",\"values\":[0,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0],\"messages\":[]}\n",
       "", "", [](VirtualPlc& plc) { plc.memory().SetBit(Family::SB, 0x11, true); }},
      {"read ZR above 32767", {"read", "ZR40000", "1"}, 0, "ZR40000 7\n", "", "",
       [](VirtualPlc& plc) { plc.memory().SetWord(Family::ZR, 40000, 7); }},
      {"read with the sum check on both sides", {"--sumcheck", "read", "D0", "1"}, 0, "D0 5\n", "", "",
       [](VirtualPlc& plc) { plc.memory().SetWord(Family::D, 0, 5); }, {}, false, false, true},
      // ---- set and reset -----------------------------------------------------------------
      {"set text", {"set", "M10"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) { EXPECT_TRUE(plc.memory().Bit(Family::M, 10)); }},
      {"set json, hex family", {"--json", "set", "y1f0"}, 0, "{\"result\":0,\"messages\":[]}\n", "", "",
       {}, [](VirtualPlc& plc) { EXPECT_TRUE(plc.memory().Bit(Family::Y, 0x1F0)); }},
      {"reset text", {"reset", "M10"}, 0, "result 0\n", "", "",
       [](VirtualPlc& plc) { plc.memory().SetBit(Family::M, 10, true); },
       [](VirtualPlc& plc) { EXPECT_FALSE(plc.memory().Bit(Family::M, 10)); }},
      {"reset json", {"--json", "reset", "B1A"}, 0, "{\"result\":0,\"messages\":[]}\n", "", "",
       [](VirtualPlc& plc) { plc.memory().SetBit(Family::B, 0x1A, true); },
       [](VirtualPlc& plc) { EXPECT_FALSE(plc.memory().Bit(Family::B, 0x1A)); }},
      // ---- block write: the hexadecimal W1A goes to the control as W26 --------------------
      {"write-block text", {"write-block", "W1A", "1", "2", "-3", "65535"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(plc.memory().ReadWords(Family::W, 26, 4),
                   (std::vector<std::uint16_t>{1, 2, 0xFFFD, 0xFFFF}));
       }},
      {"write-block json", {"--json", "write-block", "ZR40000", "5", "6"}, 0,
       "{\"result\":0,\"messages\":[]}\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(plc.memory().ReadWords(Family::ZR, 40000, 2), (std::vector<std::uint16_t>{5, 6}));
       }},
      // ---- typed values (--as), options after the command -----------------------------------
      {"write a float as its two words", {"write", "D200", "--as", "float", "3.5"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(plc.memory().ReadWords(Family::D, 200, 2), (std::vector<std::uint16_t>{0x0000, 0x4060}));
       }},
      {"read floats, POINTS counts values, --json after the command", {"read", "D200", "2", "--as", "float", "--json"},
       0, "{\"result\":0,\"device\":\"D200\",\"values\":[3.5,-1.0],\"messages\":[]}\n", "", "",
       [](VirtualPlc& plc) { plc.memory().WriteWords(Family::D, 200, std::vector<std::uint16_t>{0, 0x4060, 0, 0xBF80}); }},
      {"write-block int32, hex family", {"write-block", "W1A", "-2", "70000", "--as", "int32"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) {
         EXPECT_EQ(plc.memory().ReadWords(Family::W, 26, 4), (std::vector<std::uint16_t>{0xFFFE, 0xFFFF, 0x1170, 1}));
       }},
      {"read text", {"read", "ZR5", "5", "--as", "text", "--json"}, 0,
       "{\"result\":0,\"device\":\"ZR5\",\"values\":[\"Hello\"],\"messages\":[]}\n", "", "",
       [](VirtualPlc& plc) { plc.memory().WriteWords(Family::ZR, 5, std::vector<std::uint16_t>{0x6548, 0x6C6C, 0x6F}); }},
      {"value that does not fit sends nothing", {"write", "D0", "--as", "int16", "70000"}, 2, "", "",
       "kestova: 70000 does not fit int16; usage: [^\n]+\n", {},
       [](VirtualPlc& plc) { EXPECT_EQ(plc.request_count(), 0u); }},
      {"--as on a bit device", {"read", "X0", "1", "--as", "int16"}, 2, "", "", kUsageLine},
      {"bad settings say which field", {"--settings", "9600,x,8,1", "read", "D0", "1"}, 4, "", "",
       "kestova: run-time error 380: Invalid property value \\(--settings 9600,x,8,1: parity x: expected n, o, e, m "
       "or s\\)\n"},
      // ---- remote operations -------------------------------------------------------------
      {"stop text", {"stop"}, 0, "result 0\n", "", "",
       {}, [](VirtualPlc& plc) { EXPECT_EQ(plc.cpu_state(), sim::CpuState::Stop); }},
      {"run json", {"--json", "run", "1", "0"}, 0, "{\"result\":0,\"messages\":[]}\n", "", "",
       [](VirtualPlc& plc) { plc.set_cpu_state(sim::CpuState::Stop); },
       [](VirtualPlc& plc) { EXPECT_EQ(plc.cpu_state(), sim::CpuState::Run); }},
      {"reset-cpu text from STOP", {"reset-cpu"}, 0, "result 0\n", "", "",
       [](VirtualPlc& plc) { plc.set_cpu_state(sim::CpuState::Stop); }},
      // ---- exit 3: an end code -------------------------------------------------------------
      {"reset-cpu json while running: end code", {"--json", "reset-cpu"}, 3,
       "{\"result\":16400,\"end_code\":\"0x4010\",\"messages\":[]}\n"},
      {"forced end code above 0x7FFF text", {"write", "D100", "1"}, 3,
       "result -32767 (end code 0x8001)\n", "", "",
       [](VirtualPlc& plc) { plc.InjectFault(sim::Fault::ForcedEndCode(0x8001), 1); },
       [&log_dir](VirtualPlc&) {
         EXPECT_NE(LogText(log_dir).find("WriteSingleWord ErroCode=8001"), std::string::npos);
       }},
      // ---- watch -------------------------------------------------------------------------
      {"watch text: first read shows all, then only changes", {"watch", "D100", "1", "--count", "2", "--interval", "0"},
       0, "", R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} D100 4660\n)", "",
       [](VirtualPlc& plc) { plc.memory().SetWord(Family::D, 100, 4660); }},
      {"watch json", {"--json", "watch", "D100", "1", "--count", "2", "--interval", "0"}, 0, "",
       R"(\{"time":"[-0-9 :.]+","changes":\[\{"device":"D100","value":4660\}\]\}\n)"
       R"(\{"result":0,"reads":2,"failures":0,"messages":\[\]\}\n)",
       "", [](VirtualPlc& plc) { plc.memory().SetWord(Family::D, 100, 4660); }},
      {"watch until Ctrl-C: the long wait between reads ends at once",
       {"watch", "D100", "1", "--interval", "600000"}, 0, "",
       R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} D100 4660\n)", "",
       [](VirtualPlc& plc) { plc.memory().SetWord(Family::D, 100, 4660); }, {}, false, true},
      {"watch goes on after an error answer", {"--json", "watch", "D100", "1", "--count", "2", "--interval", "0"}, 3, "",
       R"(\{"time":"[-0-9 :.]+","result":16433,"end_code":"0x4031"\}\n)"
       R"(\{"time":"[-0-9 :.]+","changes":\[\{"device":"D100","value":7\}\]\}\n)"
       R"(\{"result":16433,"end_code":"0x4031","reads":2,"failures":1,"messages":\[\]\}\n)", "",
       [](VirtualPlc& plc) {
         plc.memory().SetWord(Family::D, 100, 7);
         plc.InjectFault(sim::Fault::ForcedEndCode(0x4031), 1);
       }},
      {"watch --stop-on-error", {"watch", "D100", "1", "--count", "2", "--interval", "0", "--stop-on-error"}, 3, "",
       R"(\d{4}-[-0-9 :.]+ result 16433 \(end code 0x4031\)\n1 of 1 reads failed\n)", "",
       [](VirtualPlc& plc) { plc.InjectFault(sim::Fault::ForcedEndCode(0x4031), 1); }},
      // ---- exit 1: refused, time-out ---------------------------------------------------------
      {"refused read address", {"--json", "read", "D20001", "1"}, 1,
       "{\"result\":1,\"device\":\"D20001\",\"messages\":[\"D Address Invalid\"]}\n", "", "D Address Invalid\n"},
      {"refused write address text", {"write", "D20001", "1"}, 1, "result 1\n", "", "D Address OverLimit\n"},
      {"time-out", {"--timeout", "0", "--json", "read", "D100", "1"}, 1, "",
       R"(\{"result":1,"device":"D100","messages":\["TimeOut \d+ Second"\]\}\n)", "TimeOut \\d+ Second\n",
       [](VirtualPlc& plc) { plc.InjectFault(sim::Fault::NoAnswer(), 1); },
       [&log_dir](VirtualPlc&) {
         EXPECT_NE(LogText(log_dir).find("ReadWord Time Out A8"), std::string::npos);
       }},
      {"texts go out verbatim, trailing blank kept", {"--sumcheck", "--timeout", "0", "--json", "read", "D0", "1"}, 1,
       "{\"result\":1,\"device\":\"D0\",\"messages\":[\"TimeOut, Maybe because Sumcheck not set in PLC \"]}\n",
       "", "TimeOut, Maybe because Sumcheck not set in PLC \n"},
      // ---- exit 4: run-time errors of the control and the port -----------------------------
      {"routing number out of its byte", {"--station", "300", "write", "D1", "1"}, 4, "", "",
       "kestova: run-time error 6: Overflow\n"},
      {"routing number out of 16 bits json", {"--json", "--pc", "70000", "write", "D1", "1"}, 4,
       "{\"error\":{\"number\":6,\"description\":\"Overflow\"},\"messages\":[]}\n"},
      {"negative mode", {"--json", "stop", "-1"}, 4,
       "{\"error\":{\"number\":6,\"description\":\"Overflow\"},\"messages\":[]}\n"},
      {"port that cannot be opened", {"--json", "--port", "/nonexistent/tty", "read", "D0", "1"}, 4, "",
       R"(\{"error":\{"number":8002,"description":"[^"]*"\},"messages":\[\]\}\n)", "", {}, {}, true},
      // ---- exit 2: usage ---------------------------------------------------------------------
      {"unknown family", {"read", "Q1", "1"}, 2, "", "", kUsageLine},
      {"bad points", {"read", "D100", "two"}, 2, "", "", kUsageLine},
      {"missing argument", {"read", "D100"}, 2, "", "", kUsageLine},
      {"family that cannot be written", {"write", "X1", "1"}, 2, "", "", kUsageLine},
      {"value out of range", {"write", "D1", "65536"}, 2, "", "", kUsageLine},
      {"input cannot be set", {"set", "X1"}, 2, "", "", kUsageLine},
      {"usage error with --json is still one line on standard error", {"--json", "read", "Q1", "1"}, 2, "", "",
       kUsageLine},
      {"unknown command", {"frob"}, 2, "", "", kUsageLine},
      {"no command", {}, 2, "", "", kUsageLine},
      // ---- the commands that bring their own PLC -----------------------------------------------
      {"help names the default log folder", {"--help"}, 0, "", "[\\s\\S]*--log-dir[\\s\\S]*default /[\\s\\S]*",
       "", {}, {}, true},
      {"simulate text", {"simulate"}, 0, "",
       "Virtual PLC answering on /dev/[^\n]+\n[\\s\\S]*Virtual PLC stopped\\.\n", "", {}, {}, true, true},
      {"simulate json", {"--json", "simulate", "--sumcheck"}, 0, "",
       R"(\{"path":"/dev/[^"]+","sum_check":true,"messages":\[\]\}\n)", "", {}, {}, true, true},
      {"demo text", {"--log-dir", log_dir.string(), "demo"}, 0, "",
       "Kestova demo[\\s\\S]*WriteSingleWord ErroCode=4031[\\s\\S]*ReadWord Time Out[\\s\\S]*"
       "Demo finished: every step gave the result it should\\.\n[\\s\\S]*",
       "TimeOut \\d+ Second\n", {}, {}, true},
      {"demo json", {"--json", "--log-dir", log_dir.string(), "demo"}, 0, "",
       R"(\{"result":0,"plc":"/dev/[^"]+","log_folder":"[^"]+","steps":\[.*\],"messages":\["TimeOut \d+ Second"\]\}\n)",
       "TimeOut \\d+ Second\n", {}, {}, true},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VirtualPlc::Options options;
    options.sum_check = row.plc_sum_check;
    VirtualPlc plc(options);
    std::vector<std::string> args;
    if (!row.standalone) {
      args = {"--port", plc.Start(), "--log-dir", log_dir.string()};
      if (row.arrange) row.arrange(plc);
    }
    args.insert(args.end(), row.args.begin(), row.args.end());

    const ProgramRun run = RunProgram(KESTOVA_CLI_PATH, args, [&](pid_t pid, const std::string&) {
      if (row.interrupt) ::kill(pid, SIGINT);
    });

    EXPECT_EQ(run.exit_status, row.exit_status) << "stderr: " << run.err;
    if (row.out_pattern.empty()) {
      EXPECT_EQ(run.out, row.out);
    } else {
      EXPECT_TRUE(std::regex_match(run.out, std::regex(row.out_pattern))) << "stdout: " << run.out;
    }
    EXPECT_TRUE(std::regex_match(run.err, std::regex(row.err))) << "stderr: " << run.err;  // "" takes only ""
    if (row.check) row.check(plc);
  }
}

}  // namespace
}  // namespace kestova::testing
