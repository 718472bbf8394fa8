#include "sim/request.h"

namespace kestova::sim {
namespace {

constexpr std::size_t kHeaderSize = 14;  // count 2, frame ID 1, routing 7, command 2, sub 2
constexpr std::uint8_t kFrameId = 0xF8;

std::uint16_t Le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

void DecodeFields(ReceivedRequest& request) {
  const auto& body = request.body;
  request.sum_ok =
      request.sum_status == SumStatus::NotChecked || request.sum_status == SumStatus::Ok;
  request.header_ok = body.size() >= kHeaderSize && body[2] == kFrameId;
  if (body.size() >= 2) request.byte_count = Le16(body, 0);
  if (body.size() >= 3) request.frame_id = body[2];
  for (std::size_t i = 0; i < request.routing.size() && 3 + i < body.size(); ++i)
    request.routing[i] = body[3 + i];
  if (body.size() < kHeaderSize) return;
  request.command = Le16(body, 10);
  request.subcommand = Le16(body, 12);
  request.data.assign(body.begin() + kHeaderSize, body.end());
}

}  // namespace kestova::sim
