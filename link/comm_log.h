#pragma once
// The daily communication error log: "yyyymmdd.CEL" (local date at the time of writing)
// in a folder. Each record is opened for append, written with one write call, closed;
// lines end in CR LF on every platform. A folder that cannot be written raises the file
// error (52, 53, 70, 75, 76) as AutomationError.

#include <filesystem>
#include <string>
#include <string_view>

#include "link/clock.h"

namespace kestova {

// "2010-06-01 10:20:30"
std::string TimestampText(const LocalDateTime& when);
// "20100601.CEL"
std::string LogFileName(const LocalDateTime& when);
// Pads a line with blanks to the next multiple of 14 characters (none when it already is).
std::string PadToPrintZone(std::string line);

class CommLog {
 public:
  CommLog(std::filesystem::path folder, Clock& clock) : folder_(std::move(folder)), clock_(clock) {}

  // Appends the lines, each followed by CR LF, as one record to today's file.
  void Append(std::initializer_list<std::string_view> lines);

 private:
  std::filesystem::path folder_;
  Clock& clock_;
};

}  // namespace kestova
