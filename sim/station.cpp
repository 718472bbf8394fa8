#include "sim/station.h"

#include "sim/end_codes.h"
#include "sim/frame_decoder.h"

namespace kestova::sim {
namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kFrameId = 0xF8;
constexpr std::int32_t kMaxWordPoints = 480;

constexpr std::uint16_t kBatchRead = 0x0401;
constexpr std::uint16_t kBatchWrite = 0x1401;
constexpr std::uint16_t kRandomWrite = 0x1402;
constexpr std::uint16_t kRemoteRun = 0x1001;
constexpr std::uint16_t kRemoteStop = 0x1002;
constexpr std::uint16_t kRemoteReset = 0x1006;
constexpr std::uint16_t kWordUnits = 0x0000;
constexpr std::uint16_t kBitUnits = 0x0001;

constexpr std::uint16_t kModeNormal = 0x0001;
constexpr std::uint16_t kModeForced = 0x0003;

std::uint16_t Le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::int32_t Le24(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16);
}

char HexDigit(int value) { return "0123456789ABCDEF"[value & 0x0F]; }

// Head device, device code and points: the six bytes that open a word-unit batch request.
struct WordBlock {
  Family family;
  std::int32_t head;
  std::int32_t points;
};

// Checks the block header; returns an end code when it cannot be served.
std::uint16_t ReadBlock(const std::vector<std::uint8_t>& data, WordBlock& block) {
  const auto family = FamilyFromCode(data[3]);
  if (!family) return end_code::kDeviceError;
  block.family = *family;
  block.head = Le24(data, 0);
  block.points = Le16(data, 4);
  if (block.points == 0 || block.points > kMaxWordPoints) return end_code::kDataCountError;
  const std::int64_t devices =
      IsBitFamily(block.family) ? std::int64_t{block.points} * 16 : block.points;
  if (!DeviceMemory::InRange(block.family, block.head, devices)) return end_code::kDeviceError;
  return end_code::kNormal;
}

}  // namespace

std::vector<std::uint8_t> EncodeAnswer(const Answer& answer, bool sum_check, bool corrupt_sum) {
  std::vector<std::uint8_t> body;
  const std::size_t count = 1 + answer.routing.size() + 2 + 2 + answer.data.size();
  body.reserve(count + 2);
  body.push_back(static_cast<std::uint8_t>(count & 0xFF));
  body.push_back(static_cast<std::uint8_t>(count >> 8));
  body.push_back(kFrameId);
  body.insert(body.end(), answer.routing.begin(), answer.routing.end());
  body.push_back(0xFF);
  body.push_back(0xFF);
  body.push_back(static_cast<std::uint8_t>(answer.end_code & 0xFF));
  body.push_back(static_cast<std::uint8_t>(answer.end_code >> 8));
  body.insert(body.end(), answer.data.begin(), answer.data.end());

  std::vector<std::uint8_t> wire{kDle, kStx};
  wire.reserve(2 * body.size() + 6);
  std::uint8_t sum = 0;
  for (const auto byte : body) {
    wire.push_back(byte);
    if (byte == kDle) wire.push_back(kDle);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  wire.push_back(kDle);
  wire.push_back(kEtx);
  if (sum_check) {
    if (corrupt_sum) sum = static_cast<std::uint8_t>(sum + 1);
    wire.push_back(static_cast<std::uint8_t>(HexDigit(sum >> 4)));
    wire.push_back(static_cast<std::uint8_t>(HexDigit(sum)));
  }
  return wire;
}

std::optional<Answer> Station::Execute(const ReceivedRequest& request) {
  if (!request.header_ok) return std::nullopt;
  Answer answer;
  answer.routing = request.routing;
  if (!request.sum_ok) {
    answer.end_code = end_code::kSumCheckError;
    return answer;
  }
  switch (request.command) {
    case kBatchRead:
      answer.end_code = BatchRead(request, answer.data);
      break;
    case kBatchWrite:
      answer.end_code = BatchWrite(request);
      break;
    case kRandomWrite:
      answer.end_code = RandomBitWrite(request);
      break;
    case kRemoteRun:
      answer.end_code = RemoteRun(request);
      break;
    case kRemoteStop:
      answer.end_code = RemoteStop(request);
      break;
    case kRemoteReset:
      answer.end_code = RemoteReset(request);
      break;
    default:
      answer.end_code = end_code::kCommandError;
      break;
  }
  if (answer.end_code != end_code::kNormal) answer.data.clear();
  return answer;
}

std::optional<std::vector<std::uint8_t>> Station::HandleFrame(std::span<const std::uint8_t> wire) {
  FrameDecoder decoder(sum_check());
  auto answer_to = [&](const std::optional<ReceivedRequest>& request)
      -> std::optional<std::vector<std::uint8_t>> {
    if (!request) return std::nullopt;
    const auto answer = Execute(*request);
    if (!answer) return std::nullopt;
    return EncodeAnswer(*answer, sum_check());
  };
  for (const auto byte : wire)
    if (auto encoded = answer_to(decoder.Feed(byte))) return encoded;
  return answer_to(decoder.ExpireSum());
}

std::uint16_t Station::BatchRead(const ReceivedRequest& request, std::vector<std::uint8_t>& out) {
  if (request.subcommand != kWordUnits) return end_code::kCommandError;
  if (request.data.size() != 6) return end_code::kDataError;
  WordBlock block{};
  if (const auto code = ReadBlock(request.data, block); code != end_code::kNormal) return code;
  out.reserve(2 * static_cast<std::size_t>(block.points));
  for (const auto word : memory_.ReadWords(block.family, block.head, block.points)) {
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return end_code::kNormal;
}

std::uint16_t Station::BatchWrite(const ReceivedRequest& request) {
  if (request.subcommand != kWordUnits) return end_code::kCommandError;
  if (request.data.size() < 6) return end_code::kDataError;
  WordBlock block{};
  if (const auto code = ReadBlock(request.data, block); code != end_code::kNormal) return code;
  if (request.data.size() != 6 + 2 * static_cast<std::size_t>(block.points))
    return end_code::kDataCountError;
  std::vector<std::uint16_t> words;
  for (std::int32_t k = 0; k < block.points; ++k)
    words.push_back(Le16(request.data, 6 + 2 * static_cast<std::size_t>(k)));
  memory_.WriteWords(block.family, block.head, words);
  return end_code::kNormal;
}

std::uint16_t Station::RandomBitWrite(const ReceivedRequest& request) {
  if (request.subcommand != kBitUnits) return end_code::kCommandError;
  const auto& data = request.data;
  if (data.empty()) return end_code::kDataError;
  const std::size_t points = data[0];
  if (points == 0) return end_code::kDataCountError;
  if (data.size() != 1 + 5 * points) return end_code::kDataCountError;

  struct Point {
    Family family;
    std::int32_t index;
    bool on;
  };
  std::vector<Point> checked;
  // Every point is checked before any is written, so a refused request changes nothing.
  for (std::size_t p = 0; p < points; ++p) {
    const std::size_t at = 1 + 5 * p;
    const auto family = FamilyFromCode(data[at + 3]);
    if (!family || !IsBitFamily(*family)) return end_code::kDeviceError;
    const auto index = Le24(data, at);
    if (!DeviceMemory::InRange(*family, index, 1)) return end_code::kDeviceError;
    const auto state = data[at + 4];
    if (state > 0x01) return end_code::kDataError;
    checked.push_back({*family, index, state == 0x01});
  }
  for (const auto& point : checked) memory_.SetBit(point.family, point.index, point.on);
  return end_code::kNormal;
}

std::uint16_t Station::RemoteRun(const ReceivedRequest& request) {
  if (request.subcommand != kWordUnits) return end_code::kCommandError;
  if (request.data.size() != 4) return end_code::kDataError;
  const auto mode = Le16(request.data, 0);
  const auto clear_mode = request.data[2];
  if (mode != kModeNormal && mode != kModeForced) return end_code::kDataError;
  if (clear_mode > 2) return end_code::kDataError;
  if (clear_mode != 0) memory_.Clear(/*including_latched=*/clear_mode == 2);
  set_cpu_state(CpuState::Run);
  return end_code::kNormal;
}

std::uint16_t Station::RemoteStop(const ReceivedRequest& request) {
  if (request.subcommand != kWordUnits) return end_code::kCommandError;
  if (request.data.size() != 2) return end_code::kDataError;
  if (Le16(request.data, 0) != kModeNormal) return end_code::kDataError;
  set_cpu_state(CpuState::Stop);
  return end_code::kNormal;
}

std::uint16_t Station::RemoteReset(const ReceivedRequest& request) {
  if (request.subcommand != kWordUnits) return end_code::kCommandError;
  if (request.data.size() != 2) return end_code::kDataError;
  if (Le16(request.data, 0) != kModeNormal) return end_code::kDataError;
  if (cpu_state() == CpuState::Run) return end_code::kResetWhileRunning;
  // A reset starts the CPU afresh: memory outside the latch range is lost, and it stays
  // stopped until a remote RUN.
  memory_.Clear(/*including_latched=*/false);
  set_cpu_state(CpuState::Stop);
  return end_code::kNormal;
}

}  // namespace kestova::sim
