#include "server/registration.h"

#include <objbase.h>

#include <string>

#include "server/com_error.h"
#include "server/kestova_h.h"
#include "server/module.h"
#include "server/resource_ids.h"

namespace kestova::server {
namespace {

constexpr const wchar_t* kClassName = L"Tarvane Control";
constexpr const wchar_t* kProgId = L"Kestova.Tarvane.1";
constexpr const wchar_t* kVersionIndependentProgId = L"Kestova.Tarvane";
// Type library versions are registered in hexadecimal: 19.0 is "13.0".
constexpr const wchar_t* kTypeLibVersion = L"13.0";
// Hosts load the class's type library through CLSID\...\TypeLib and \Version, so the
// version here is the library's (major.minor in decimal), not the class's own 1.0.
constexpr const wchar_t* kClassVersion = L"19.0";
constexpr const wchar_t* kTypeLibName = L"Kestova: MELSEC Q series PLC access over a serial line";
// Activate when visible, inside-out, can't link inside, set client site first,
// recompose on resize: what a small control on a form needs.
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;
// The standard marshalers for a dual interface and for a dispatch-only one.
constexpr const wchar_t* kDualMarshaler = L"{00020424-0000-0000-C000-000000000046}";
constexpr const wchar_t* kDispatchMarshaler = L"{00020420-0000-0000-C000-000000000046}";
// The category that tells containers' insert-control lists this is a control.
constexpr const wchar_t* kControlCategory = L"{40FC6ED4-2438-11CF-A3DB-080036F12502}";
#ifdef _WIN64
constexpr const wchar_t* kTypeLibPlatform = L"win64";
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr const wchar_t* kTypeLibPlatform = L"win32";
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Every key is opened from the hive with its full path: a registry view applies to the
// path as a whole, not to a path relative to a key already open.
std::wstring Classes(const std::wstring& path) { return L"Software\\Classes\\" + path; }

HKEY Hive(RegistrationScope scope) {
  return scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// A key below the scope's Classes key, created when missing, in our own view.
class RegistryKey {
 public:
  RegistryKey(HKEY hive, const std::wstring& path) {
    const LONG status = RegCreateKeyExW(hive, Classes(path).c_str(), 0, nullptr, 0,
                                        KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    if (status != ERROR_SUCCESS) throw ComFailure(HRESULT_FROM_WIN32(status));
  }
  ~RegistryKey() { RegCloseKey(key_); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  RegistryKey& Set(const wchar_t* name, const std::wstring& value) {
    const LONG status =
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) throw ComFailure(HRESULT_FROM_WIN32(status));
    return *this;
  }
  RegistryKey& Default(const std::wstring& value) { return Set(nullptr, value); }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Deletes a key with everything below it, in the given registry view (0: our own).
void DeleteTree(HKEY hive, const std::wstring& path, REGSAM view = 0) {
  const std::wstring full = Classes(path);
  HKEY key = nullptr;
  LONG status = RegOpenKeyExW(hive, full.c_str(), 0, KEY_ALL_ACCESS | view, &key);
  if (status == ERROR_FILE_NOT_FOUND) return;
  if (status == ERROR_SUCCESS) {
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(hive, full.c_str(), view, 0);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    throw ComFailure(HRESULT_FROM_WIN32(status));
  }
}

// Whether the other bitness's control is registered: its class key is in the other view.
bool OtherBitnessRegistered(HKEY hive) {
  const std::wstring path = Classes(L"CLSID\\" + GuidText(CLSID_Tarvane) + L"\\InprocServer32");
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | kOtherView, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void RegisterInterface(HKEY hive, REFIID iid, const wchar_t* name, const wchar_t* marshaler) {
  const std::wstring path = L"Interface\\" + GuidText(iid);
  RegistryKey(hive, path).Default(name);
  RegistryKey(hive, path + L"\\ProxyStubClsid").Default(marshaler);
  RegistryKey(hive, path + L"\\ProxyStubClsid32").Default(marshaler);
  RegistryKey(hive, path + L"\\TypeLib")
      .Default(GuidText(LIBID_Kestova))
      .Set(L"Version", kTypeLibVersion);
}

void WriteEntries(HKEY hive) {
  const std::wstring module = Module::File().wstring();
  const std::wstring folder = Module::File().parent_path().wstring();
  const std::wstring clsid = GuidText(CLSID_Tarvane);
  const std::wstring class_path = L"CLSID\\" + clsid;

  RegistryKey(hive, class_path).Default(kClassName);
  RegistryKey(hive, class_path + L"\\InprocServer32")
      .Default(module)
      .Set(L"ThreadingModel", L"Apartment");
  RegistryKey(hive, class_path + L"\\ProgID").Default(kProgId);
  RegistryKey(hive, class_path + L"\\VersionIndependentProgID").Default(kVersionIndependentProgId);
  RegistryKey(hive, class_path + L"\\Control");
  RegistryKey(hive, class_path + L"\\Implemented Categories\\" + kControlCategory);
  RegistryKey(hive, class_path + L"\\MiscStatus").Default(L"0");
  RegistryKey(hive, class_path + L"\\MiscStatus\\1").Default(std::to_wstring(kMiscStatus));
  RegistryKey(hive, class_path + L"\\ToolboxBitmap32")
      .Default(module + L", " + std::to_wstring(IDB_TOOLBOX));
  RegistryKey(hive, class_path + L"\\TypeLib").Default(GuidText(LIBID_Kestova));
  RegistryKey(hive, class_path + L"\\Version").Default(kClassVersion);

  RegistryKey(hive, kProgId).Default(kClassName);
  RegistryKey(hive, std::wstring(kProgId) + L"\\CLSID").Default(clsid);
  RegistryKey(hive, kVersionIndependentProgId).Default(kClassName);
  RegistryKey(hive, std::wstring(kVersionIndependentProgId) + L"\\CLSID").Default(clsid);
  RegistryKey(hive, std::wstring(kVersionIndependentProgId) + L"\\CurVer").Default(kProgId);

  const std::wstring library = L"TypeLib\\" + GuidText(LIBID_Kestova) + L"\\" + kTypeLibVersion;
  RegistryKey(hive, library).Default(kTypeLibName);
  RegistryKey(hive, library + L"\\FLAGS").Default(std::to_wstring(LIBFLAG_FCONTROL));
  RegistryKey(hive, library + L"\\HELPDIR").Default(folder);
  RegistryKey(hive, library + L"\\0\\" + kTypeLibPlatform).Default(module);
  RegisterInterface(hive, IID__Tarvane, L"_Tarvane", kDualMarshaler);
  RegisterInterface(hive, DIID___Tarvane, L"__Tarvane", kDispatchMarshaler);
}

// The 32-bit and the 64-bit control share the ProgIDs and the type library's key (the
// registry keeps one copy for both views); the class and the interfaces have a copy in
// each view. Each unregistration removes what its own bitness alone owns, and the last
// one removes the shared keys and the interfaces of both views.
void RemoveEntries(HKEY hive) {
  const std::wstring library_key = L"TypeLib\\" + GuidText(LIBID_Kestova);
  DeleteTree(hive, L"CLSID\\" + GuidText(CLSID_Tarvane));
  DeleteTree(hive, library_key + L"\\" + kTypeLibVersion + L"\\0\\" + kTypeLibPlatform);
  if (OtherBitnessRegistered(hive)) return;
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    DeleteTree(hive, kProgId, view);
    DeleteTree(hive, kVersionIndependentProgId, view);
    DeleteTree(hive, library_key, view);
    DeleteTree(hive, L"Interface\\" + GuidText(IID__Tarvane), view);
    DeleteTree(hive, L"Interface\\" + GuidText(DIID___Tarvane), view);
  }
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) {
  const HRESULT hr = Guard([&] { WriteEntries(Hive(scope)); });
  // Leave nothing half-written behind.
  if (FAILED(hr)) Guard([&] { RemoveEntries(Hive(scope)); });
  return hr;
}

HRESULT UnregisterServer(RegistrationScope scope) {
  return Guard([&] { RemoveEntries(Hive(scope)); });
}

}  // namespace kestova::server
