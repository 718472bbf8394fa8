#pragma once
// One call of the soak: which public operation, with which arguments, and what the
// control calls it in its log records. Arguments are always ones the control accepts,
// so every call reaches the line.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "control/device_image.h"
#include "kestova/tarvane.h"
#include "sim/device_memory.h"

namespace kestova::soak {

struct Operation {
  enum class Kind { Read, WordWrite, BitWrite, BlockWrite, RemoteRun, RemoteStop, RemoteReset };

  Kind kind = Kind::Read;
  DeviceFamily family = DeviceFamily::D;
  std::int32_t address = 0;
  std::int16_t points = 1;  // words read or written
  std::int16_t value = 0;   // word write
  bool on = false;          // bit write
  std::string device_text;  // block write
  std::vector<std::int16_t> data;
  std::int16_t clear_mode = 0;

  bool is_read() const { return kind == Kind::Read; }
  // The name in the error and refusal records: "ReadWord", "WriteSingleWord", ...
  std::string record_name() const;
  // The time-out record's text after the timestamp.
  std::string timeout_text() const;
  std::string Describe() const;
};

// The binary device code of a family and its counterpart in the virtual PLC's memory.
std::uint8_t DeviceCodeOf(DeviceFamily family);
sim::Family StationFamily(DeviceFamily family);
// Highest device number the batch read accepts for the family.
std::int32_t ReadLimit(DeviceFamily family);

// A random operation; `small` keeps reads and blocks short (for paced or real lines).
Operation RandomOperation(std::mt19937_64& random, bool small);

// Calls the public method.
std::int16_t Invoke(Tarvane& control, const Operation& operation);

// One element of the device image as a number: a bit as 0/1, a word as its 16 bits.
int ImageElement(const Tarvane& control, DeviceFamily family, std::int32_t index);
int MemoryElement(const sim::DeviceMemory& memory, DeviceFamily family, std::int32_t index);

}  // namespace kestova::soak
