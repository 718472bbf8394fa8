#pragma once
// What the in-process server knows about itself: its module handle and file, and the
// counts that decide whether it may be unloaded (DllCanUnloadNow).

#include <windows.h>

#include <filesystem>

namespace kestova::server {

class Module {
 public:
  static void Attach(HINSTANCE instance);
  static HINSTANCE Instance();
  static std::filesystem::path File();

  // Live objects (including class factories handed out) and LockServer locks; the lock
  // count never goes below zero.
  static void ObjectCreated();
  static void ObjectDestroyed();
  static void Lock();
  static void Unlock();
  static bool InUse();
};

}  // namespace kestova::server
