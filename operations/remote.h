#pragma once
// Remote RUN, STOP and RESET (0x1001, 0x1002, 0x1006). The arguments go to the PLC
// unchecked; it judges them and answers with an end code. Results: 0 accepted, 1 closed
// port or time-out, else the end code. A negative mode, or a clear mode outside 0..255,
// overflows (6) before anything is sent.

#include <cstdint>

#include "operations/operation_context.h"

namespace kestova::operations {

std::int16_t RemoteRun(OperationContext& context, std::int16_t mode, std::int16_t clear_mode);
std::int16_t RemoteStop(OperationContext& context, std::int16_t mode);
std::int16_t RemoteReset(OperationContext& context, std::int16_t mode);

}  // namespace kestova::operations
