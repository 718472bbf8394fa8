#include "server/log_folder.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <system_error>

namespace kestova::server {
namespace {

bool CanCreateFileIn(const std::filesystem::path& folder) {
  const std::filesystem::path probe =
      folder / (L"~kestova-" + std::to_wstring(GetCurrentProcessId()) + L".tmp");
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::filesystem::path LocalApplicationData() {
  std::wstring value(MAX_PATH, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  const std::filesystem::path from_environment(value);
  if (from_environment.is_absolute()) return from_environment;

  PWSTR known = nullptr;
  std::filesystem::path folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) folder = known;
  CoTaskMemFree(known);
  if (folder.is_absolute()) return folder;

  std::wstring temporary(MAX_PATH + 1, L'\0');
  temporary.resize(GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data()));
  return temporary;
}

}  // namespace

std::filesystem::path LogFolder(const std::filesystem::path& preferred) {
  if (!preferred.empty() && CanCreateFileIn(preferred)) return preferred;
  const std::filesystem::path fallback = LocalApplicationData() / L"Kestova";
  std::error_code ignored;
  std::filesystem::create_directories(fallback, ignored);
  return fallback;
}

}  // namespace kestova::server
