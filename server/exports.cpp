// The in-process server's entry points, exported undecorated through kestova.def.

#include <windows.h>
#include <objbase.h>

#include <cwctype>
#include <string_view>

#include "server/class_factory.h"
#include "server/kestova_h.h"
#include "server/module.h"
#include "server/registration.h"

using kestova::server::ClassFactory;
using kestova::server::Module;
using kestova::server::RegistrationScope;

namespace {

bool IsUserScope(const wchar_t* command_line) {
  if (!command_line) return false;
  constexpr std::wstring_view kUser = L"user";
  std::wstring_view text(command_line);
  if (text.size() != kUser.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (std::towlower(text[k]) != kUser[k]) return false;
  }
  return true;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    Module::Attach(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Tarvane)) return CLASS_E_CLASSNOTAVAILABLE;
  return ClassFactory::Create(iid, out);
}

STDAPI DllCanUnloadNow() { return Module::InUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return RegisterServer(RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return UnregisterServer(RegistrationScope::Machine); }

// regsvr32 /n /i:user registers for the current user only (no administrator rights);
// /u /n /i:user removes that registration.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  const RegistrationScope scope =
      IsUserScope(command_line) ? RegistrationScope::User : RegistrationScope::Machine;
  return install ? RegisterServer(scope) : UnregisterServer(scope);
}

}  // extern "C"
