// kestova-plcsim: the virtual PLC as a program. Prints the path to open on its first line
// and answers there until SIGINT or SIGTERM.
#include <getopt.h>
#include <signal.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/virtual_plc.h"

namespace {

using kestova::sim::Fault;
using kestova::sim::VirtualPlc;

const char kUsage[] = R"(Usage: kestova-plcsim [options]

A virtual QnA/Q-series serial communication module: MC protocol, QnA-compatible 4C
frame, format 5 (binary). It creates a pseudo-terminal, prints the path of its slave
end on the first line of standard output, and answers requests there until it gets
SIGINT or SIGTERM; then it exits with status 0.

Line:
  --sumcheck            expect and send the two sum-check characters after DLE ETX
  --link PATH           also make a symbolic link to the slave at PATH (replaces an
                        old link there, never a regular file; removed on exit)
  --device PATH         serve this serial device instead of a pseudo-terminal
  --settings TEXT       line settings "baud,parity,data bits,stop bits", parity one of
                        n e o m s (default 9600,n,8,1); used by --pace and --device
  --pace                write answers at the speed of --settings, each byte on an
                        absolute schedule from the start of the answer

Memory and CPU:
  --preset DEV=VALUE    set a device before serving, repeatable: D100=1234,
                        ZR16=0x1010, M5=1 (bit devices take 0 or 1)
  --stopped             start with the CPU in STOP (default RUN)

Faults (each applies to every request unless --count or --probability says otherwise):
  --delay MS            answer MS milliseconds late; a new request before then drops it
  --send-anyway         with --delay: send the late answer even after a new request
  --drop                give no answer (the command is still carried out)
  --cut K               send only the first K bytes of each answer
  --bad-sum             send wrong sum-check characters (with --sumcheck)
  --noise-before HEX    write these bytes before each answer, e.g. 00FF or "00 FF"
  --noise-after HEX     write these bytes after each answer
  --twice               send each answer twice
  --end-code HEX        answer with this end code (e.g. 4031) and carry nothing out
  --trickle MS          write answer bytes one by one, MS milliseconds apart
  --echo                send the request's own bytes back before each answer, as a
                        two-wire line does
  --broken-frame        before each answer, a frame broken off mid-data whose rest
                        holds 10 10 02 and a whole false answer (end code 4031)
  --hold MS             after each answer send XOFF, and XON MS milliseconds later
                        (holds the line of a control that uses XON/XOFF)
  --count N             the faults apply to the next N requests only
  --probability P       the faults apply to each request with probability P (0 to 1)
  --seed S              seed for --probability, so a run can be repeated (default 1)

  --help                show this text

Station behaviour:
  Commands 0401 batch read and 1401 batch write in word units (1 to 480 points),
  1402 random write in bit units, 1001 remote RUN, 1002 remote STOP, 1006 remote
  RESET (refused while running). RUN with clear mode 1 keeps the latch range (all
  of L, M10000 and up, D10000 and up); clear mode 2 clears it too. X, SM, SD, SB,
  SW and ZR are never cleared.
  End codes: 7E40 command, 7E41 request data, 7E42 number of points, 7E43 device,
  7F24 sum check, 4010 RESET while running.
)";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "kestova-plcsim: " << message << "\nTry kestova-plcsim --help\n";
  std::exit(2);
}

long Number(const std::string& option, const char* text, long low, long high, int base = 10) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
    Fail("--" + option + ": expected a number from " + std::to_string(low) + " to " +
         std::to_string(high) + ", got \"" + text + "\"");
  return value;
}

std::vector<std::uint8_t> HexBytes(const std::string& option, const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)))
      digits += c;
    else if (c != ' ' && c != ':' && c != ',')
      Fail("--" + option + ": not hexadecimal: \"" + text + "\"");
  }
  if (digits.empty() || digits.size() % 2 != 0)
    Fail("--" + option + ": give whole bytes, two hex digits each");
  for (std::size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

void Preset(VirtualPlc& plc, const std::string& text) {
  const auto equals = text.find('=');
  std::size_t letters = 0;
  while (letters < text.size() && std::isalpha(static_cast<unsigned char>(text[letters])))
    ++letters;
  if (equals == std::string::npos || letters == 0 || equals <= letters)
    Fail("--preset: expected DEVICE=VALUE such as D100=1234, got \"" + text + "\"");
  const auto family = kestova::sim::FamilyFromName(text.substr(0, letters));
  if (!family) Fail("--preset: unknown device family in \"" + text + "\"");
  const auto index = Number("preset", text.substr(letters, equals - letters).c_str(), 0,
                            kestova::sim::FamilySize(*family) - 1);
  const auto value = Number("preset", text.substr(equals + 1).c_str(), -32768, 65535, 0);
  const auto at = static_cast<std::int32_t>(index);
  if (kestova::sim::IsBitFamily(*family)) {
    if (value != 0 && value != 1) Fail("--preset: a bit device takes 0 or 1: \"" + text + "\"");
    plc.memory().SetBit(*family, at, value == 1);
  } else {
    plc.memory().SetWord(*family, at, static_cast<std::uint16_t>(value & 0xFFFF));
  }
}

// What the command line asks for.
struct CommandLine {
  VirtualPlc::Options options;
  std::vector<std::string> presets;
  std::vector<Fault> faults;
  bool stopped = false;
  bool send_anyway = false;
  std::optional<long> count;
  std::optional<double> probability;
  std::uint32_t seed = 1;
};

CommandLine Parse(int argc, char** argv) {
  enum Opt {
    kSumCheck = 256,
    kLink,
    kDevice,
    kSettings,
    kPace,
    kPreset,
    kStopped,
    kDelay,
    kSendAnyway,
    kDrop,
    kCut,
    kBadSum,
    kNoiseBefore,
    kNoiseAfter,
    kTwice,
    kEndCode,
    kTrickle,
    kEcho,
    kBrokenFrame,
    kHold,
    kCount,
    kProbability,
    kSeed,
    kHelp
  };
  const option options[] = {
      {"sumcheck", no_argument, nullptr, kSumCheck},
      {"link", required_argument, nullptr, kLink},
      {"device", required_argument, nullptr, kDevice},
      {"settings", required_argument, nullptr, kSettings},
      {"pace", no_argument, nullptr, kPace},
      {"preset", required_argument, nullptr, kPreset},
      {"stopped", no_argument, nullptr, kStopped},
      {"delay", required_argument, nullptr, kDelay},
      {"send-anyway", no_argument, nullptr, kSendAnyway},
      {"drop", no_argument, nullptr, kDrop},
      {"cut", required_argument, nullptr, kCut},
      {"bad-sum", no_argument, nullptr, kBadSum},
      {"noise-before", required_argument, nullptr, kNoiseBefore},
      {"noise-after", required_argument, nullptr, kNoiseAfter},
      {"twice", no_argument, nullptr, kTwice},
      {"end-code", required_argument, nullptr, kEndCode},
      {"trickle", required_argument, nullptr, kTrickle},
      {"echo", no_argument, nullptr, kEcho},
      {"broken-frame", no_argument, nullptr, kBrokenFrame},
      {"hold", required_argument, nullptr, kHold},
      {"count", required_argument, nullptr, kCount},
      {"probability", required_argument, nullptr, kProbability},
      {"seed", required_argument, nullptr, kSeed},
      {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0},
  };

  CommandLine line;
  int opt;
  while ((opt = getopt_long(argc, argv, "", options, nullptr)) != -1) {
    switch (opt) {
      case kSumCheck:
        line.options.sum_check = true;
        break;
      case kLink:
        line.options.link_path = optarg;
        break;
      case kDevice:
        line.options.device = optarg;
        break;
      case kSettings:
        line.options.settings = optarg;
        break;
      case kPace:
        line.options.paced = true;
        break;
      case kPreset:
        line.presets.emplace_back(optarg);
        break;
      case kStopped:
        line.stopped = true;
        break;
      case kDelay:
        line.faults.push_back(
            Fault::Delay(std::chrono::milliseconds(Number("delay", optarg, 0, 3600000))));
        break;
      case kSendAnyway:
        line.send_anyway = true;
        break;
      case kDrop:
        line.faults.push_back(Fault::NoAnswer());
        break;
      case kCut:
        line.faults.push_back(
            Fault::Cut(static_cast<std::size_t>(Number("cut", optarg, 0, 100000))));
        break;
      case kBadSum:
        line.faults.push_back(Fault::BadSum());
        break;
      case kNoiseBefore:
        line.faults.push_back(Fault::NoiseBefore(HexBytes("noise-before", optarg)));
        break;
      case kNoiseAfter:
        line.faults.push_back(Fault::NoiseAfter(HexBytes("noise-after", optarg)));
        break;
      case kTwice:
        line.faults.push_back(Fault::AnswerTwice());
        break;
      case kEndCode:
        line.faults.push_back(Fault::ForcedEndCode(
            static_cast<std::uint16_t>(Number("end-code", optarg, 0, 0xFFFF, 16))));
        break;
      case kTrickle:
        line.faults.push_back(
            Fault::Trickle(std::chrono::milliseconds(Number("trickle", optarg, 0, 60000))));
        break;
      case kEcho:
        line.faults.push_back(Fault::Echo());
        break;
      case kBrokenFrame:
        line.faults.push_back(Fault::BrokenFrame());
        break;
      case kHold:
        line.faults.push_back(
            Fault::Hold(std::chrono::milliseconds(Number("hold", optarg, 0, 3600000))));
        break;
      case kCount:
        line.count = Number("count", optarg, 1, 1000000000);
        break;
      case kProbability: {
        char* end = nullptr;
        const double p = std::strtod(optarg, &end);
        if (end == optarg || *end != '\0' || !(p >= 0.0 && p <= 1.0))
          Fail(std::string("--probability: expected 0 to 1, got \"") + optarg + "\"");
        line.probability = p;
        break;
      }
      case kSeed:
        line.seed = static_cast<std::uint32_t>(Number("seed", optarg, 0, 4294967295L));
        break;
      case kHelp:
        std::cout << kUsage;
        std::exit(0);
      default:
        Fail("unknown option");
    }
  }
  if (optind < argc) Fail(std::string("unexpected argument \"") + argv[optind] + "\"");
  if (line.count && line.probability) Fail("--count and --probability cannot be combined");

  return line;
}

// Memory, CPU state and faults as the command line asks, before serving starts.
void Configure(VirtualPlc& plc, CommandLine line) {
  for (const auto& preset : line.presets) Preset(plc, preset);
  if (line.stopped) plc.set_cpu_state(kestova::sim::CpuState::Stop);
  for (auto& fault : line.faults) {
    if (fault.kind == Fault::Kind::Delay) fault.send_anyway = line.send_anyway;
    if (line.probability)
      plc.InjectFault(fault, *line.probability, line.seed);
    else if (line.count)
      plc.InjectFault(fault, static_cast<int>(*line.count));
    else
      plc.InjectFault(fault, 1.0, line.seed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto line = Parse(argc, argv);

  // Signals are taken by sigwait below; blocked first so the serving thread inherits it.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    VirtualPlc plc(line.options);
    Configure(plc, line);
    const auto path = plc.Start();
    std::cout << path << std::endl;  // endl: whoever started us is waiting for this line

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    plc.Stop();
  } catch (const std::exception& e) {
    std::cerr << "kestova-plcsim: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
