#include "soak_checks.h"

#include <algorithm>
#include <fstream>

namespace kestova::soak {
namespace {

// The device numbers a read covers.
std::pair<std::int32_t, std::int32_t> Covered(const Operation& read) {
  const std::int32_t count = read.points * (IsBitFamily(read.family) ? 16 : 1);
  return {read.address, read.address + count};
}

}  // namespace

std::vector<std::string> LogTail::NewLines() {
  std::vector<std::string> names;
  if (std::filesystem::exists(folder_)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      if (entry.path().extension() == ".CEL") names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> lines;
  for (const auto& name : names) {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::uintmax_t& offset = read_up_to_[name];
    in.seekg(static_cast<std::streamoff>(offset));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    offset += text.size();
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start) + "<no CR LF>");
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
  }
  return lines;
}

bool IsTimestamp(const std::string& text) {
  if (text.size() != 19) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char want = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '9';
    if (want == '9' ? !(c >= '0' && c <= '9') : c != want) return false;
  }
  return true;
}

ImageShadow::ImageShadow() {
  for (int f = 0; f < kDeviceFamilyCount; ++f) {
    expected_[static_cast<std::size_t>(f)].assign(
        static_cast<std::size_t>(LastImageIndex(static_cast<DeviceFamily>(f))) + 1, 0);
  }
}

int ImageShadow::TakeRead(const Tarvane& control, const sim::DeviceMemory& memory, const Operation& read) {
  auto& expected = expected_[static_cast<std::size_t>(read.family)];
  int mismatches = 0;
  const auto [first, end] = Covered(read);
  for (std::int32_t i = first; i < end; ++i) {
    const int value = MemoryElement(memory, read.family, i);
    expected[static_cast<std::size_t>(i)] = value;
    if (ImageElement(control, read.family, i) != value) ++mismatches;
  }
  return mismatches;
}

int ImageShadow::CheckUntouched(const Tarvane& control, const Operation& read) const {
  const auto& expected = expected_[static_cast<std::size_t>(read.family)];
  int mismatches = 0;
  const auto [first, end] = Covered(read);
  for (std::int32_t i = first; i < end; ++i) {
    if (ImageElement(control, read.family, i) != expected[static_cast<std::size_t>(i)]) ++mismatches;
  }
  return mismatches;
}

int ImageShadow::CheckAll(const Tarvane& control) const {
  int mismatches = 0;
  for (int f = 0; f < kDeviceFamilyCount; ++f) {
    const auto family = static_cast<DeviceFamily>(f);
    const auto& expected = expected_[static_cast<std::size_t>(f)];
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (ImageElement(control, family, static_cast<std::int32_t>(i)) != expected[i]) ++mismatches;
    }
  }
  return mismatches;
}

}  // namespace kestova::soak
