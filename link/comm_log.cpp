#include "link/comm_log.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "link/automation_error.h"

namespace kestova {
namespace {

std::string TwoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string FourDigits(int value) { return TwoDigits(value / 100) + TwoDigits(value % 100); }

AutomationError FileError(int error_number, const std::filesystem::path& path) {
  const std::string where = " (" + path.string() + ")";
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return AutomationError(ErrorNumber::PathNotFound, "Path not found" + where);
    case EACCES:
    case EPERM:
    case EROFS:
      return AutomationError(ErrorNumber::PermissionDenied, "Permission denied" + where);
    default:
      return AutomationError(ErrorNumber::PathFileAccess, "Path/File access error" + where);
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string TimestampText(const LocalDateTime& when) {
  return FourDigits(when.year) + "-" + TwoDigits(when.month) + "-" + TwoDigits(when.day) + " " +
         TwoDigits(when.hour) + ":" + TwoDigits(when.minute) + ":" + TwoDigits(when.second);
}

std::string LogFileName(const LocalDateTime& when) {
  return FourDigits(when.year) + TwoDigits(when.month) + TwoDigits(when.day) + ".CEL";
}

std::string PadToPrintZone(std::string line) {
  constexpr std::size_t kZone = 14;
  if (line.size() % kZone != 0) line.append(kZone - line.size() % kZone, ' ');
  return line;
}

void CommLog::Append(std::initializer_list<std::string_view> lines) {
  std::string record;
  for (std::string_view line : lines) {
    record.append(line);
    record.append("\r\n");
  }

  // The day is the one at the time of writing, so a record that ends after midnight
  // goes to the new day's file.
  const std::filesystem::path path = folder_ / LogFileName(clock_.LocalNow());
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "ab"));
  if (!file) throw FileError(errno, path);

  // One buffer the size of the record: the record reaches the file in one write, so two
  // controls logging at once never interleave their lines.
  std::setvbuf(file.get(), nullptr, _IOFBF, record.size() + 1);
  const bool written = std::fwrite(record.data(), 1, record.size(), file.get()) == record.size();
  const bool flushed = std::fflush(file.get()) == 0;
  if (!written || !flushed) throw FileError(errno, path);
}

}  // namespace kestova
