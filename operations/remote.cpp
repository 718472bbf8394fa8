// Remote RUN, STOP and RESET (0x1001, 0x1002, 0x1006). The arguments go to the PLC
// unchecked; it judges them and answers with an end code.

#include "control/tarvane.h"
#include "link/frame.h"
#include "link/exchange.h"

namespace kestova {
namespace {

// Mode goes out low byte first; its high byte is range-tested, so a negative mode
// overflows before anything is sent.
std::array<std::uint8_t, 2> ModeBytes(std::int16_t mode) {
  return {static_cast<std::uint8_t>(mode & 0xFF), ToByte((mode - (mode & 0xFF)) / 256)};
}

}  // namespace

std::int16_t Tarvane::RemoteRun(std::int16_t mode, std::int16_t clear_mode) {
  ExchangePlan plan;
  plan.operation = "RemoteRun";
  plan.timeout_log_text = "RemoteRun Time Out";
  plan.build_request = [&] {
    const auto mode_bytes = ModeBytes(mode);
    return Request{0x0000, 0x1001, 0x0000, {mode_bytes[0], mode_bytes[1], ToByte(clear_mode), 0x00}};
  };
  return Exchange(plan);
}

std::int16_t Tarvane::RemoteStop(std::int16_t mode) {
  return VariantToInteger(RemoteOperation(0x1002, mode));
}

std::int16_t Tarvane::RemoteReset(std::int16_t mode) {
  return VariantToInteger(RemoteOperation(0x1006, mode));
}

Variant Tarvane::RemoteOperation(std::int16_t command, std::int16_t mode) {
  ExchangePlan plan;
  plan.operation = "RemoteOperation";
  // STOP and RESET share the bit write's time-out text in the log.
  plan.timeout_log_text = "WriteSingleBit Time Out";
  plan.build_request = [&] {
    const auto mode_bytes = ModeBytes(mode);
    return Request{0x0000, static_cast<std::uint16_t>(command), 0x0000, {mode_bytes[0], mode_bytes[1]}};
  };
  return Exchange(plan);
}

}  // namespace kestova
