#pragma once
// What the soak checks after every call: the new lines of the error log, and the device
// image against the virtual PLC's memory.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "soak_operation.h"

namespace kestova::soak {

// Reads the lines appended to the .CEL files of a folder since the last look.
class LogTail {
 public:
  explicit LogTail(std::filesystem::path folder) : folder_(std::move(folder)) {}
  // New complete lines without their CR LF; a line missing its CR LF is returned with
  // "<no CR LF>" appended, so it fails any comparison.
  std::vector<std::string> NewLines();

 private:
  std::filesystem::path folder_;
  std::map<std::string, std::uintmax_t> read_up_to_;
};

// True for "yyyy-mm-dd hh:mm:ss".
bool IsTimestamp(const std::string& text);

// The image the control must hold: what successful reads brought, zero elsewhere.
class ImageShadow {
 public:
  ImageShadow();
  // After a successful read: the covered elements now hold the PLC's memory. Returns
  // how many covered elements of the control's image differ from it.
  int TakeRead(const Tarvane& control, const sim::DeviceMemory& memory, const Operation& read);
  // Covered elements of a read that did not succeed: still as before. Returns mismatches.
  int CheckUntouched(const Tarvane& control, const Operation& read) const;
  // Every element of every family. Returns mismatches.
  int CheckAll(const Tarvane& control) const;

 private:
  std::array<std::vector<int>, kDeviceFamilyCount> expected_;
};

}  // namespace kestova::soak
