#include "operations/remote.h"

#include "control/variant.h"
#include "link/frame.h"

namespace kestova::operations {
namespace {

// Mode goes out low byte first; its high byte is range-tested, so a negative mode
// overflows before anything is sent.
std::array<std::uint8_t, 2> ModeBytes(std::int16_t mode) {
  return {static_cast<std::uint8_t>(mode & 0xFF), ToByte((mode - (mode & 0xFF)) / 256)};
}

// STOP and RESET share one operation, and the bit write's time-out text in the log.
Variant RemoteOperation(OperationContext& context, std::int16_t command, std::int16_t mode) {
  ExchangePlan plan;
  plan.operation = "RemoteOperation";
  plan.timeout_log_text = "WriteSingleBit Time Out";
  plan.build_request = [&] {
    const auto mode_bytes = ModeBytes(mode);
    return Request{0x0000, static_cast<std::uint16_t>(command), 0x0000, {mode_bytes[0], mode_bytes[1]}};
  };
  return context.Exchange(plan);
}

}  // namespace

std::int16_t RemoteRun(OperationContext& context, std::int16_t mode, std::int16_t clear_mode) {
  ExchangePlan plan;
  plan.operation = "RemoteRun";
  plan.timeout_log_text = "RemoteRun Time Out";
  plan.build_request = [&] {
    const auto mode_bytes = ModeBytes(mode);
    return Request{0x0000, 0x1001, 0x0000, {mode_bytes[0], mode_bytes[1], ToByte(clear_mode), 0x00}};
  };
  return context.Exchange(plan);
}

std::int16_t RemoteStop(OperationContext& context, std::int16_t mode) {
  return VariantToInteger(RemoteOperation(context, 0x1002, mode));
}

std::int16_t RemoteReset(OperationContext& context, std::int16_t mode) {
  return VariantToInteger(RemoteOperation(context, 0x1006, mode));
}

}  // namespace kestova::operations
