#pragma once
// Where the control writes its daily communication error log: the folder of Kestova.ocx
// when a file can be created there, else Kestova in the user's local application data
// folder (%LOCALAPPDATA%, or the shell's own answer when the variable is not set), else
// Kestova in the temporary folder. Never a relative path: that would follow the host's
// current folder.

#include <filesystem>

namespace kestova::server {

// The fallback folder is created when missing.
std::filesystem::path LogFolder(const std::filesystem::path& preferred);

}  // namespace kestova::server
