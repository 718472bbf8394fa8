#include "support/test_host.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestova::testing {
namespace {

std::filesystem::path MakeTempFolder() {
  static std::atomic<int> counter{0};
  auto base = std::filesystem::temp_directory_path() /
              ("kestova-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  return base;
}

}  // namespace

TestHost::TestHost() : log_folder(MakeTempFolder()) { SetLocalTime(2010, 6, 1, 10, 20, 30); }

TestHost::~TestHost() {
  std::error_code ec;
  std::filesystem::remove_all(log_folder, ec);
}

void TestHost::SetLocalTime(int year, int month, int day, int hour, int minute, int second,
                            std::int64_t nanosecond) {
  using namespace std::chrono;
  const sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                       std::chrono::day{static_cast<unsigned>(day)}};
  wall_ = date + hours{hour} + minutes{minute} + seconds{second} + nanoseconds{nanosecond};
}

void TestHost::Advance(std::chrono::nanoseconds by) {
  monotonic_ += by;
  wall_ += by;
}

LocalDateTime TestHost::LocalNow() {
  using namespace std::chrono;
  const sys_days date = floor<days>(wall_);
  const year_month_day ymd{date};
  const hh_mm_ss<nanoseconds> time{wall_ - date};
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
          static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
          time.subseconds().count()};
}

void TestHost::PropertyChanged(std::string_view property_name) { changed.emplace_back(property_name); }

void TestHost::MelsecOut(const std::string& result) {
  events.push_back(result);
  if (on_melsec_out) on_melsec_out(result);
}

void TestHost::ShowAboutBox(const std::string& version_line) { about_boxes.push_back(version_line); }

std::string TestHost::LogText(const std::string& file_name) const {
  std::ifstream in(log_folder / file_name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> TestHost::LogLines(const std::string& file_name) const {
  const std::string text = LogText(file_name);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) throw std::runtime_error("log line without CR LF in " + file_name);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> TestHost::LogFiles() const {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(log_folder)) {
    if (entry.path().extension() == ".CEL") files.push_back(entry.path().filename().string());
  }
  return files;
}

}  // namespace kestova::testing
