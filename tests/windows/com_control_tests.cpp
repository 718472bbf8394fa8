// The control through IDispatch, the way a script or a late-bound client calls it, against
// the virtual PLC: ByRef, named, omitted optional and array arguments, events through a
// connection point, run-time errors as EXCEPINFO, and the persistence interfaces.

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "com_objects.h"
#include "server/kestova_h.h"
#include "server/log_folder.h"

namespace {

using namespace kestova::wintest;

Checks checks;

// An argument list in the order a caller writes it, positional ones first, then any
// named ones (Named gives the name of the value added next); owns its values.
class Args {
 public:
  Args() = default;
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  Args& I2(short value) {
    return Add(VT_I2, [&](VARIANT& v) { v.iVal = value; });
  }
  Args& I4(long value) {
    return Add(VT_I4, [&](VARIANT& v) { v.lVal = value; });
  }
  Args& Text(const wchar_t* value) {
    return Add(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(value); });
  }
  Args& Bool(bool value) {
    return Add(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  // What a script passes for a variable: a reference to its VARIANT.
  Args& Ref(VARIANT* target) {
    return Add(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = target; });
  }
  Args& RefI2(short* target) {
    return Add(VT_I2 | VT_BYREF, [&](VARIANT& v) { v.piVal = target; });
  }
  Args& RefI4(long* target) {
    return Add(VT_I4 | VT_BYREF, [&](VARIANT& v) { v.plVal = target; });
  }
  Args& Missing() {
    return Add(VT_ERROR, [&](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
  }
  Args& RefError(SCODE* target) {
    return Add(VT_ERROR | VT_BYREF, [&](VARIANT& v) { v.pscode = target; });
  }
  Args& Named(const wchar_t* name) {
    names_.push_back(name);
    return *this;
  }
  Args& Array(SAFEARRAY* array, VARTYPE element) {
    return Add(static_cast<VARTYPE>(VT_ARRAY | element), [&](VARIANT& v) { v.parray = array; });
  }
  const std::vector<const wchar_t*>& names() const { return names_; }
  // rgvarg order: the named values as named, then the positional ones last first.
  std::vector<VARIANT> InDispatchOrder() const {
    const std::size_t positional = values_.size() - names_.size();
    std::vector<VARIANT> order(values_.begin() + static_cast<std::ptrdiff_t>(positional),
                               values_.end());
    order.insert(order.end(), values_.rend() - static_cast<std::ptrdiff_t>(positional),
                 values_.rend());
    return order;
  }

 private:
  template <class Fill>
  Args& Add(VARTYPE type, Fill fill) {
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    fill(value);
    values_.push_back(value);
    return *this;
  }
  std::vector<VARIANT> values_;
  std::vector<const wchar_t*> names_;
};

struct Outcome {
  HRESULT hr = E_FAIL;
  HRESULT names_hr = E_FAIL;   // GetIDsOfNames for the member and the argument names
  std::vector<DISPID> ids;     // what it answered
  UINT argument_error = ~0u;
  VARIANT result{};
  EXCEPINFO error{};
  Outcome() { VariantInit(&result); }
  ~Outcome() {
    VariantClear(&result);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
  }
  Outcome(const Outcome&) = delete;
  Outcome& operator=(const Outcome&) = delete;

  long Long() const {
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&result), 0, VT_I4)))
      return -99999;
    return converted.lVal;
  }
  std::wstring Text() const {
    return result.vt == VT_BSTR && result.bstrVal ? result.bstrVal : L"<not a string>";
  }
  std::wstring Description() const { return error.bstrDescription ? error.bstrDescription : L""; }
};

class Control {
 public:
  explicit Control(IDispatch* dispatch) : dispatch_(dispatch) {}
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  ~Control() {
    if (dispatch_) dispatch_->Release();
  }
  IDispatch* get() const { return dispatch_; }

  // The way Basic clients call: the names through GetIDsOfNames, then Invoke; a put's
  // value is the one named DISPID_PROPERTYPUT, after any other named ones.
  void Call(Outcome& out, const wchar_t* name, const Args& args,
            WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) const {
    std::vector<LPOLESTR> names = {const_cast<LPOLESTR>(name)};
    for (const wchar_t* named : args.names()) names.push_back(const_cast<LPOLESTR>(named));
    out.ids.assign(names.size(), 0);
    out.names_hr = dispatch_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                            LOCALE_USER_DEFAULT, out.ids.data());
    std::vector<DISPID> named(out.ids.begin() + 1, out.ids.end());
    if (flags == DISPATCH_PROPERTYPUT) named.push_back(DISPID_PROPERTYPUT);
    std::vector<VARIANT> arguments = args.InDispatchOrder();
    DISPPARAMS parameters{arguments.data(), named.data(), static_cast<UINT>(arguments.size()),
                          static_cast<UINT>(named.size())};
    out.hr = dispatch_->Invoke(out.ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                               flags == DISPATCH_PROPERTYPUT ? nullptr : &out.result, &out.error,
                               &out.argument_error);
  }
  long CallLong(const wchar_t* name, const Args& args) const {
    Outcome out;
    Call(out, name, args);
    checks.That(out.hr == S_OK,
                Narrow(name) + " succeeds (" + Hex(out.hr) + " " + Narrow(out.Description()) + ")");
    return out.Long();
  }
  long GetLong(const wchar_t* name) const { return CallLong(name, Args()); }
  std::wstring GetText(const wchar_t* name) const {
    Outcome out;
    Call(out, name, Args(), DISPATCH_PROPERTYGET);
    return out.Text();
  }
  void Put(Outcome& out, const wchar_t* name, const Args& value) const {
    Call(out, name, value, DISPATCH_PROPERTYPUT);
  }
  void Set(const wchar_t* name, const Args& value) const {
    Outcome out;
    Put(out, name, value);
    checks.That(out.hr == S_OK, "let " + Narrow(name) + " succeeds (" + Hex(out.hr) + " " +
                                    Narrow(out.Description()) + ")");
  }

  template <class Interface>
  Interface* As(REFIID iid) const {
    Interface* out = nullptr;
    dispatch_->QueryInterface(iid, reinterpret_cast<void**>(&out));
    return out;
  }

 private:
  IDispatch* dispatch_;
};

IDispatch* CreateControl() {
  CLSID clsid{};
  if (!checks.That(SUCCEEDED(CLSIDFromProgID(L"Kestova.Tarvane", &clsid)),
                   "ProgID Kestova.Tarvane resolves")) {
    return nullptr;
  }
  IDispatch* dispatch = nullptr;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&dispatch));
  checks.That(SUCCEEDED(hr), "the control is created by ProgID (" + Hex(hr) + ")");
  return dispatch;
}

// Each configuration property but Settings: its initial value, and the one Configure lets
// (with the type a compiled client passes; PortOpen is never let).
struct Setting {
  const wchar_t* name;
  long initial;
  long configured;
  VARTYPE type;
};
const Setting kSettings[] = {
    {L"Enabled", -1, 0, VT_BOOL},     {L"CommPort", 1, 4, VT_I2},
    {L"Handshaking", 0, 2, VT_I4},    {L"Timeout", 3, 7, VT_I2},
    {L"StationNo", 0, 5, VT_I2},      {L"NetworkNo", 0, 6, VT_I2},
    {L"PCNumber", 255, 200, VT_I2},   {L"RqstDestMdIO", 1023, 70000, VT_I4},
    {L"RqstDestMdSta", 0, 9, VT_I2},  {L"PLCType", 0, 1, VT_I4},
    {L"SumCheck", 0, -1, VT_BOOL},    {L"PortOpen", 0, 0, VT_EMPTY},
};
constexpr const wchar_t* kInitialSettings = L"9600,n,8,1";
constexpr const wchar_t* kConfiguredSettings = L"19200,e,7,2";

void Configure(const Control& control) {
  for (const Setting& row : kSettings) {
    Args value;
    if (row.type == VT_BOOL) value.Bool(row.configured != 0);
    if (row.type == VT_I2) value.I2(static_cast<short>(row.configured));
    if (row.type == VT_I4) value.I4(row.configured);
    if (row.type != VT_EMPTY) control.Set(row.name, value);
  }
  control.Set(L"Settings", Args().Text(kConfiguredSettings));
}

void CheckSettings(const Control& control, bool configured, const std::string& how) {
  for (const Setting& row : kSettings) {
    const long wanted = configured ? row.configured : row.initial;
    checks.That(control.GetLong(row.name) == wanted,
                how + ": " + Narrow(row.name) + " is " + std::to_string(wanted));
  }
  const wchar_t* settings = configured ? kConfiguredSettings : kInitialSettings;
  checks.That(control.GetText(L"Settings") == settings, how + ": Settings is " + Narrow(settings));
}

void ExpectError(const Outcome& out, long number, const wchar_t* description,
                 const std::string& what) {
  checks.That(out.hr == DISP_E_EXCEPTION, what + ": DISP_E_EXCEPTION (" + Hex(out.hr) + ")");
  checks.That(out.error.scode == static_cast<SCODE>(0x800A0000 + number),
              what + ": scode " + Hex(out.error.scode) + ", expected " + Hex(0x800A0000 + number));
  checks.That(out.Description() == description,
              what + ": description \"" + Narrow(out.Description()) + "\"");
}

DWORD ConnectChecked(const Control& control, REFIID iid, IUnknown* sink) {
  const DWORD cookie = Connect(control.get(), iid, sink);
  checks.That(cookie != 0, "a sink connects");
  return cookie;
}

void Disconnect(const Control& control, REFIID iid, DWORD cookie) {
  IConnectionPoint* point = FindPoint(control.get(), iid);
  checks.That(point && point->Unadvise(cookie) == S_OK, "a sink disconnects");
  checks.That(point && point->Unadvise(cookie) == CONNECT_E_NOCONNECTION,
              "a stale cookie is refused");
  if (point) point->Release();
}

SAFEARRAY* VariantArray(const std::vector<long>& values) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
  for (LONG k = 0; k < static_cast<LONG>(values.size()); ++k) {
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_I4;
    element.lVal = values[static_cast<std::size_t>(k)];
    SafeArrayPutElement(array, &k, &element);
  }
  return array;
}

SAFEARRAY* IntegerArray(const std::vector<short>& values, LONG lower_bound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), lower_bound};
  SAFEARRAY* array = SafeArrayCreate(VT_I2, 1, &bound);
  for (LONG k = 0; k < static_cast<LONG>(values.size()); ++k) {
    LONG index = lower_bound + k;
    short value = values[static_cast<std::size_t>(k)];
    SafeArrayPutElement(array, &index, &value);
  }
  return array;
}

// The folder the control was loaded from, as registered.
std::wstring ControlFolder() {
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof(path);
  RegQueryValueW(HKEY_CLASSES_ROOT,
                 L"CLSID\\{62CEF092-9365-4015-A642-7F39482D21D0}\\InprocServer32", path, &size);
  std::wstring folder(path);
  const std::size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}

// Whether today's communication error log (yyyymmdd.CEL) next to the control holds text.
bool LogMentions(const std::wstring& text) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t name[32];
  swprintf(name, 32, L"\\%04u%02u%02u.CEL", now.wYear, now.wMonth, now.wDay);
  const std::wstring path = ControlFolder() + name;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string content(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr);
  CloseHandle(file);
  content.resize(got);
  return content.find(Narrow(text)) != std::string::npos;
}

// Calls in the forms VBA, .NET and script hosts make them, in order against the open port
// (a write, then the read that shows it): by reference, arrays, named and omitted
// arguments, and the refusals.
void ArgumentForms(const Control& control) {
  static VARIANT address{};
  static VARIANT value{};
  static VARIANT missing_variant{};
  static long start = 100;
  static short points = 2;
  static SCODE missing = DISP_E_PARAMNOTFOUND;
  address.vt = VT_I4;
  address.lVal = 100;
  value.vt = VT_I2;
  value.iVal = 1234;
  missing_variant.vt = VT_ERROR;
  missing_variant.scode = DISP_E_PARAMNOTFOUND;
  struct Form {
    const char* what;
    const wchar_t* member;
    void (*fill)(Args&);
    long result;                      // or the argument at fault, or the run-time error
    HRESULT hr = S_OK;
    HRESULT names_hr = S_OK;          // of GetIDsOfNames
    const wchar_t* error = nullptr;   // the run-time error's description
  };
  const Form forms[] = {
      {"WriteD(100, 1234) by VARIANT reference", L"WriteD",
       [](Args& a) { a.Ref(&address).Ref(&value); }, 0},
      {"ReadD(100, 2) by typed reference", L"ReadD",
       [](Args& a) { a.RefI4(&start).RefI2(&points); }, 0},
      {"PLCD(100)", L"PLCD", [](Args& a) { a.I2(100); }, 1234},
      {"WriteBlock(\"D200\", 3, Array(11, 22, 33))", L"WriteBlock",
       [](Args& a) { a.Text(L"D200").I2(3).Array(VariantArray({11, 22, 33}), VT_VARIANT); }, 0},
      {"WriteBlock(\"W10\", 2, Integer array)", L"WriteBlock",
       [](Args& a) { a.Text(L"W10").I2(2).Array(IntegerArray({-5, 7}, 0), VT_I2); }, 0},
      // Element 0 must exist: an array from 1 is refused before anything is sent.
      {"WriteBlock with an array from 1", L"WriteBlock",
       [](Args& a) { a.Text(L"W10").I2(2).Array(IntegerArray({1, 2}, 1), VT_I2); }, 9,
       DISP_E_EXCEPTION, S_OK, L"Subscript out of range"},
      {"WriteBlock with an array of String", L"WriteBlock",
       [](Args& a) { a.Text(L"D0").I2(1).Array(SafeArrayCreateVector(VT_BSTR, 0, 1), VT_BSTR); },
       13, DISP_E_EXCEPTION, S_OK, L"Type mismatch"},
      {"ReadD(200, 3)", L"ReadD", [](Args& a) { a.I4(200).I2(3); }, 0},
      {"PLCD(201)", L"PLCD", [](Args& a) { a.I2(201); }, 22},
      {"ReadW(10, 2)", L"ReadW", [](Args& a) { a.I4(10).I2(2); }, 0},
      {"PLCW(10)", L"PLCW", [](Args& a) { a.I2(10); }, -5},
      {"SetM(10)", L"SetM", [](Args& a) { a.I4(10); }, 0},
      {"ReadM(0, 1)", L"ReadM", [](Args& a) { a.I4(0).I2(1); }, 0},
      {"PLCM(10) after SetM", L"PLCM", [](Args& a) { a.I2(10); }, -1},
      {"ResetM(10)", L"ResetM", [](Args& a) { a.I4(10); }, 0},
      {"ReadM(0, 1) again", L"ReadM", [](Args& a) { a.I4(0).I2(1); }, 0},
      {"PLCM(10) after ResetM", L"PLCM", [](Args& a) { a.I2(10); }, 0},
      {"WriteD 300, Value:=4321", L"WriteD", [](Args& a) { a.I4(300).Named(L"Value").I2(4321); },
       0},
      {"ReadD ReadPoints:=1, StartAddress:=300", L"ReadD",
       [](Args& a) { a.Named(L"readpoints").I2(1).Named(L"StartAddress").I4(300); }, 0},
      {"PLCD(Index:=300)", L"PLCD", [](Args& a) { a.Named(L"Index").I2(300); }, 4321},
      {"RemoteRun ClearMode:=0", L"RemoteRun", [](Args& a) { a.Named(L"ClearMode").I2(0); }, 0},
      {"WriteBlock Points:=2, iData:=..., Device:=\"D400\"", L"WriteBlock",
       [](Args& a) {
         a.Named(L"Points").I2(2).Named(L"iData").Array(IntegerArray({5, 6}, 0), VT_I2);
         a.Named(L"Device").Text(L"D400");
       },
       0},
      {"RemoteStop()", L"RemoteStop", [](Args&) {}, 0},
      {"RemoteRun(missing, missing)", L"RemoteRun", [](Args& a) { a.Missing().Missing(); }, 0},
      {"RemoteRun(1)", L"RemoteRun", [](Args& a) { a.I2(1); }, 0},
      {"RemoteStop(missing by reference)", L"RemoteStop", [](Args& a) { a.RefError(&missing); },
       0},
      {"RemoteRun(1, reference to a missing Variant)", L"RemoteRun",
       [](Args& a) { a.I2(1).Ref(&missing_variant); }, 0},
      {"ReadD 100, StartAddress:=5 names a given argument", L"ReadD",
       [](Args& a) { a.I4(100).Named(L"StartAddress").I4(5); }, 0, DISP_E_PARAMNOTFOUND},
      {"SetM Adress:=1 names no argument", L"SetM", [](Args& a) { a.Named(L"Adress").I4(1); }, 0,
       DISP_E_PARAMNOTFOUND, DISP_E_UNKNOWNNAME},
      {"ReadD Result:=0 names the return value", L"ReadD",
       [](Args& a) { a.I4(0).I2(1).Named(L"Result").I2(0); }, 0, DISP_E_PARAMNOTFOUND,
       DISP_E_UNKNOWNNAME},
  };
  for (const Form& form : forms) {
    Args args;
    form.fill(args);
    Outcome out;
    control.Call(out, form.member, args);
    const std::string row = std::string(form.what) + ": ";
    checks.That(out.names_hr == form.names_hr && (form.names_hr == S_OK) ==
                                                     (out.ids.back() != DISPID_UNKNOWN),
                row + "GetIDsOfNames " + Hex(out.names_hr));
    if (form.hr == DISP_E_EXCEPTION) {
      ExpectError(out, form.result, form.error, form.what);
    } else if (checks.That(out.hr == form.hr, row + Hex(out.hr) + " " + Narrow(out.Description()))) {
      checks.That(form.hr == S_OK ? out.Long() == form.result
                                  : out.argument_error == static_cast<UINT>(form.result),
                  row + "result " + std::to_string(out.Long()) + ", argument at fault " +
                      std::to_string(out.argument_error));
    }
  }
  checks.That(address.lVal == 100 && value.iVal == 1234, "ByRef arguments are left unchanged");
}

void OperationsAgainstThePlc(const Control& control, int data_port, int silent_port) {
  EventSink* scribbler = new EventSink(DIID___Tarvane, true);
  EventSink* listener = new EventSink(DIID___Tarvane, false);
  const DWORD scribbler_cookie = ConnectChecked(control, DIID___Tarvane, scribbler);
  const DWORD listener_cookie = ConnectChecked(control, DIID___Tarvane, listener);

  // Port closed: every operation refuses with result 1 and says why.
  checks.That(control.CallLong(L"ReadD", Args().I4(0).I2(1)) == 1, "ReadD on a closed port is 1");
  checks.That(listener->received.size() == 1 && listener->received[0] == L"Port not Open",
              "MelsecOut \"Port not Open\" reaches the second sink unchanged");
  checks.That(scribbler->received.size() == 1, "MelsecOut reaches the first sink");

  // Script-style lets: text for a number.
  control.Set(L"CommPort", Args().Text(std::to_wstring(data_port).c_str()));
  control.Set(L"Timeout", Args().I4(1));
  control.Set(L"PortOpen", Args().Bool(true));
  checks.That(control.GetLong(L"PortOpen") == -1, "the port opens");

  Outcome read_m;
  control.Call(read_m, L"ReadM", Args().I4(0).I2(1));
  checks.That(read_m.hr == S_OK && read_m.result.vt == VT_I2,
              "ReadM returns an Integer in a Variant");
  ArgumentForms(control);

  // Run-time errors come back as DISP_E_EXCEPTION with the automation error number.
  Outcome overflow;
  control.Put(overflow, L"Timeout", Args().I4(40000));
  ExpectError(overflow, 6, L"Overflow", "Timeout = 40000");
  checks.That(control.GetLong(L"Timeout") == 1, "a failed let leaves Timeout as it was");
  Outcome already_open;
  control.Put(already_open, L"PortOpen", Args().Bool(true));
  ExpectError(already_open, 8005, L"Port already open", "PortOpen = True twice");
  Outcome while_open;
  control.Put(while_open, L"CommPort", Args().I2(static_cast<short>(silent_port)));
  ExpectError(while_open, 8000, L"Operation not valid while port is opened",
              "CommPort changed while open");
  // A second control cannot take a port the first one holds.
  {
    Control other(CreateControl());
    other.Set(L"CommPort", Args().I2(static_cast<short>(data_port)));
    Outcome in_use;
    other.Put(in_use, L"PortOpen", Args().Bool(true));
    ExpectError(in_use, 8005, L"Port already open", "a port another control holds");
    checks.That(other.GetLong(L"PortOpen") == 0, "the refused open leaves the port closed");
  }
  Outcome bad_index;
  control.Call(bad_index, L"PLCX", Args().I2(-1));
  ExpectError(bad_index, 9, L"Subscript out of range", "PLCX(-1)");

  // A PLC that never answers: result 1 and the TimeOut event.
  control.Set(L"PortOpen", Args().Bool(false));
  control.Set(L"CommPort", Args().I2(static_cast<short>(silent_port)));
  control.Set(L"PortOpen", Args().Bool(true));
  const std::size_t before = listener->received.size();
  checks.That(control.CallLong(L"WriteD", Args().I4(0).I2(1)) == 1,
              "WriteD against a silent PLC is 1");
  checks.That(listener->received.size() == before + 1 && listener->received.back() == L"TimeOut",
              "the time-out raises MelsecOut \"TimeOut\"");
  checks.That(LogMentions(L"WriteSingleWord Time Out"),
              "the time-out is logged in the .ocx's folder");
  control.Set(L"PortOpen", Args().Bool(false));

  Outcome no_port;
  control.Put(no_port, L"CommPort", Args().I2(0));
  ExpectError(no_port, 8002, L"Invalid port number", "CommPort = 0");

  // The Win32 serial port's own refusals, each leaving the control as it was.
  control.Set(L"CommPort", Args().I2(9));  // no COM9 in the test machine
  Outcome missing;
  control.Put(missing, L"PortOpen", Args().Bool(true));
  ExpectError(missing, 8002, L"Invalid port number", "opening a port that does not exist");
  Outcome bad_settings;
  control.Put(bad_settings, L"Settings", Args().Text(L"9600,x,8,1"));
  ExpectError(bad_settings, 380, L"Invalid property value", "Settings with parity x");
  checks.That(control.GetText(L"Settings") == L"9600,n,8,1", "refused Settings leave the old ones");
  Outcome bad_handshaking;
  control.Put(bad_handshaking, L"Handshaking", Args().I4(4));
  ExpectError(bad_handshaking, 380, L"Invalid property value", "Handshaking = 4");
  control.Set(L"CommPort", Args().I2(static_cast<short>(data_port)));
  control.Set(L"PortOpen", Args().Bool(true));
  control.Set(L"Handshaking", Args().I4(1));
  control.Set(L"Settings", Args().Text(L"19200,n,8,1"));
  checks.That(control.GetText(L"Settings") == L"19200,n,8,1", "Settings applied to an open port");
  control.Set(L"Settings", Args().Text(L"9600,n,8,1"));
  control.Set(L"Handshaking", Args().I4(0));
  control.Set(L"PortOpen", Args().Bool(false));

  Disconnect(control, DIID___Tarvane, scribbler_cookie);
  Disconnect(control, DIID___Tarvane, listener_cookie);
  scribbler->Release();
  listener->Release();
}

void PropertyNotifications(const Control& control) {
  PropertySink* sink = new PropertySink();
  const DWORD cookie = ConnectChecked(control, IID_IPropertyNotifySink, sink);
  IPersistStreamInit* stream = control.As<IPersistStreamInit>(IID_IPersistStreamInit);
  control.Set(L"StationNo", Args().I2(3));
  checks.That(sink->changed.size() == 1 && sink->changed[0] == 0x68030015,
              "StationNo let sends OnChanged(0x68030015)");
  checks.That(stream && stream->IsDirty() == S_OK, "a let marks the control dirty");
  if (stream) stream->Release();
  Disconnect(control, IID_IPropertyNotifySink, cookie);
  sink->Release();
}

void PropertyBagRoundTrip() {
  Control saved(CreateControl());
  if (!saved.get()) return;
  IPersistPropertyBag* persist = saved.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  checks.That(persist && persist->InitNew() == S_OK, "IPersistPropertyBag::InitNew");
  Configure(saved);
  MemoryBag* bag = new MemoryBag();
  checks.That(persist->Save(bag, TRUE, TRUE) == S_OK, "IPersistPropertyBag::Save");
  checks.That(persist->Load(bag, nullptr) == E_UNEXPECTED, "Load after InitNew is refused");
  persist->Release();

  const wchar_t* order[] = {L"Enabled",      L"CommPort",      L"Settings",  L"Handshaking",
                            L"Timeout",      L"StationNo",     L"NetworkNo", L"PCNumber",
                            L"RqstDestMdIO", L"RqstDestMdSta", L"PLCType",   L"SumCheck",
                            L"PortOpen"};
  const VARTYPE types[] = {VT_BOOL, VT_I2, VT_BSTR, VT_I4, VT_I2,   VT_I2,  VT_I2,
                           VT_I2,   VT_I4, VT_I2,   VT_I4, VT_BOOL, VT_BOOL};
  checks.That(bag->written.size() == 13, "thirteen keys written");
  for (std::size_t k = 0; k < 13 && k < bag->written.size(); ++k) {
    checks.That(bag->written[k] == order[k],
                "key " + std::to_string(k) + " is " + Narrow(order[k]));
    checks.That(bag->values[order[k]].vt == types[k], Narrow(order[k]) + " has its value type");
  }

  // Loading never opens the port, whatever was saved under PortOpen.
  VariantClear(&bag->values[L"PortOpen"]);
  bag->values[L"PortOpen"].vt = VT_BOOL;
  bag->values[L"PortOpen"].boolVal = VARIANT_TRUE;
  Control loaded(CreateControl());
  IPersistPropertyBag* load = loaded.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  checks.That(load && load->Load(bag, nullptr) == S_OK, "IPersistPropertyBag::Load");
  checks.That(load && load->InitNew() == E_UNEXPECTED, "InitNew after Load is refused");
  if (load) load->Release();
  CheckSettings(loaded, true, "property bag");

  MemoryBag* empty = new MemoryBag();
  Control fresh(CreateControl());
  IPersistPropertyBag* load_empty = fresh.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  checks.That(load_empty && load_empty->Load(empty, nullptr) == S_OK, "Load from an empty bag");
  if (load_empty) load_empty->Release();
  CheckSettings(fresh, false, "empty bag");

  // Text that is no number under Timeout fails the load with Type mismatch.
  MemoryBag* broken = new MemoryBag();
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"soon");
  broken->Write(L"Timeout", &text);
  VariantClear(&text);
  Control damaged(CreateControl());
  IPersistPropertyBag* load_broken = damaged.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  checks.That(load_broken && load_broken->Load(broken, nullptr) == static_cast<HRESULT>(0x800A000D),
              "a bag with text under Timeout fails with Type mismatch");
  if (load_broken) load_broken->Release();
  broken->Release();
  empty->Release();
  bag->Release();
}

void StreamRoundTrip() {
  Control saved(CreateControl());
  if (!saved.get()) return;
  IPersistStreamInit* persist = saved.As<IPersistStreamInit>(IID_IPersistStreamInit);
  checks.That(persist && persist->InitNew() == S_OK, "IPersistStreamInit::InitNew");
  checks.That(persist->IsDirty() == S_FALSE, "a new control is clean");
  Configure(saved);
  checks.That(persist->IsDirty() == S_OK, "a configured control is dirty");
  // A medium that fills up part-way: the save fails and the changes stay unsaved.
  FullStream* full = new FullStream(20);
  checks.That(persist->Save(full, TRUE) == STG_E_MEDIUMFULL, "a save that fills the stream fails");
  checks.That(persist->IsDirty() == S_OK, "a failed save leaves the control dirty");
  full->Release();
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  checks.That(persist->Save(stream, TRUE) == S_OK, "IPersistStreamInit::Save");
  checks.That(persist->IsDirty() == S_FALSE, "saving with clear-dirty cleans the control");
  checks.That(persist->Load(stream) == E_UNEXPECTED, "Load after InitNew is refused");
  persist->Release();

  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  Control loaded(CreateControl());
  IPersistStreamInit* load = loaded.As<IPersistStreamInit>(IID_IPersistStreamInit);
  checks.That(load && load->Load(stream) == S_OK, "IPersistStreamInit::Load");
  if (load) load->Release();
  CheckSettings(loaded, true, "stream");

  // A stream that is not ours is refused without being trusted.
  IStream* junk = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &junk);
  const char garbage[] = "KSTV\x01\x00\x00\x00\xff\xff\xff\x7f";
  junk->Write(garbage, 12, nullptr);
  junk->Seek(zero, STREAM_SEEK_SET, nullptr);
  Control refused(CreateControl());
  IPersistStreamInit* load_junk = refused.As<IPersistStreamInit>(IID_IPersistStreamInit);
  checks.That(load_junk && FAILED(load_junk->Load(junk)), "a stream with a huge length is refused");
  if (load_junk) load_junk->Release();
  junk->Release();
  stream->Release();
}

// All of a stream, from its start.
std::string Contents(IStream* stream) {
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::string bytes(4096, '\0');
  ULONG got = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  bytes.resize(got);
  return bytes;
}

// What document hosts do: OleCreate (which needs IPersistStorage), OleSave, SaveCompleted,
// OleLoad; the storage's "Contents" stream holds what IPersistStreamInit saves.
void StorageRoundTrip() {
  ILockBytes* memory = nullptr;
  IStorage* storage = nullptr;
  CreateILockBytesOnHGlobal(nullptr, TRUE, &memory);
  StgCreateDocfileOnILockBytes(memory, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                               &storage);
  IDispatch* created = nullptr;
  const HRESULT hr = OleCreate(CLSID_Tarvane, IID_IDispatch, OLERENDER_NONE, nullptr, nullptr,
                               storage, reinterpret_cast<void**>(&created));
  if (checks.That(hr == S_OK, "OleCreate into a storage (" + Hex(hr) + ")")) {
    Control saved(created);
    Configure(saved);
    IPersistStorage* persist = saved.As<IPersistStorage>(IID_IPersistStorage);
    checks.That(persist->Load(storage) == CO_E_ALREADYINITIALIZED, "Load after InitNew is refused");
    // Saving a copy elsewhere leaves the changes unsaved here.
    IStorage* copy = nullptr;
    storage->CreateStorage(L"copy", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                           &copy);
    checks.That(persist->Save(copy, FALSE) == S_OK && persist->SaveCompleted(nullptr) == S_OK &&
                    persist->IsDirty() == S_OK,
                "a copy saved elsewhere leaves the control dirty");
    copy->Release();
    checks.That(OleSave(persist, storage, TRUE) == S_OK && persist->IsDirty() == S_FALSE,
                "OleSave saves and cleans the control");
    checks.That(persist->Save(storage, TRUE) == E_UNEXPECTED, "no Save before SaveCompleted");
    checks.That(persist->HandsOffStorage() == S_OK && persist->SaveCompleted(nullptr) == E_INVALIDARG &&
                    persist->SaveCompleted(storage) == S_OK && persist->SaveCompleted(storage) == E_UNEXPECTED,
                "hands off the storage until SaveCompleted gives one back");
    IStream* contents = nullptr;
    storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents);
    IStream* plain = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &plain);
    IPersistStreamInit* stream_persist = saved.As<IPersistStreamInit>(IID_IPersistStreamInit);
    stream_persist->Save(plain, FALSE);
    checks.That(contents && Contents(contents) == Contents(plain),
                "\"Contents\" holds what the stream save writes");
    stream_persist->Release();
    plain->Release();
    if (contents) contents->Release();
    persist->Release();

    IDispatch* loaded = nullptr;
    checks.That(OleLoad(storage, IID_IDispatch, nullptr, reinterpret_cast<void**>(&loaded)) == S_OK,
                "OleLoad from the storage");
    Control reloaded(loaded);
    if (loaded) CheckSettings(reloaded, true, "storage");
  }
  storage->Release();
  memory->Release();
}

void ClassInfo(const Control& control) {
  IProvideClassInfo2* info = control.As<IProvideClassInfo2>(IID_IProvideClassInfo2);
  GUID source{};
  checks.That(info && info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK &&
                  IsEqualGUID(source, DIID___Tarvane),
              "IProvideClassInfo2 names __Tarvane as the default source");
  ITypeInfo* coclass = nullptr;
  checks.That(info && info->GetClassInfo(&coclass) == S_OK && coclass,
              "IProvideClassInfo gives the class's type info");
  if (coclass) coclass->Release();
  if (info) info->Release();
  IConnectionPointContainer* container =
      control.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  IEnumConnectionPoints* points = nullptr;
  std::vector<IID> offered;
  if (container && container->EnumConnectionPoints(&points) == S_OK) {
    IConnectionPoint* point = nullptr;
    ULONG fetched = 0;
    while (points->Next(1, &point, &fetched) == S_OK) {
      IID iid{};
      point->GetConnectionInterface(&iid);
      offered.push_back(iid);
      point->Release();
    }
    points->Release();
  }
  if (container) container->Release();
  checks.That(offered.size() == 2 && IsEqualIID(offered[0], DIID___Tarvane) &&
                  IsEqualIID(offered[1], IID_IPropertyNotifySink),
              "EnumConnectionPoints offers __Tarvane and IPropertyNotifySink");
  ISupportErrorInfo* errors = control.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
  checks.That(errors && errors->InterfaceSupportsErrorInfo(IID__Tarvane) == S_OK,
              "_Tarvane supports error info");
  if (errors) errors->Release();
  IUnknown* safety = nullptr;
  const IID iid_object_safety = {
      0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
  checks.That(
      FAILED(control.get()->QueryInterface(iid_object_safety, reinterpret_cast<void**>(&safety))),
      "the control does not claim to be safe for scripting");
  if (safety) safety->Release();
}

// Drops the host's last reference to the control from inside its event, as a Basic
// handler doing "Set Plc = Nothing" would.
class DroppingSink : public EventSink {
 public:
  explicit DroppingSink(IDispatch* control) : EventSink(DIID___Tarvane, false), control_(control) {}
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* error,
                                   UINT* argument) override {
    const HRESULT hr = EventSink::Invoke(id, iid, lcid, flags, parameters, result, error, argument);
    if (control_) {
      std::exchange(control_, nullptr)->Release();
      // The control is still running the call that raised this event: it must be alive,
      // so its module must refuse to unload.
      using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
      HMODULE module = GetModuleHandleW(L"Kestova.ocx");
      auto can_unload = reinterpret_cast<CanUnloadNow>(
          reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
      alive_during_call = can_unload && can_unload() == S_FALSE;
    }
    return hr;
  }
  bool alive_during_call = false;

 private:
  IDispatch* control_;
};

void ReleasedFromItsOwnEvent() {
  IDispatch* control = CreateControl();  // the one reference, handed to the sink
  if (!control) return;
  DroppingSink* sink = new DroppingSink(control);
  const DWORD cookie = Connect(control, DIID___Tarvane, sink);
  DISPID read_d = DISPID_UNKNOWN;
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"ReadD")};
  control->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &read_d);

  Args args;
  args.I4(0).I2(1);
  std::vector<VARIANT> arguments = args.InDispatchOrder();
  DISPPARAMS parameters{arguments.data(), nullptr, 2, 0};
  Outcome out;
  // The port is closed: the call raises "Port not Open", whose handler drops the control.
  out.hr = control->Invoke(read_d, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                           &out.result, &out.error, nullptr);
  checks.That(cookie != 0 && out.hr == S_OK && out.Long() == 1 && sink->received.size() == 1,
              "a handler that releases the control does not end the call early");
  checks.That(sink->alive_during_call, "the control outlives the call its handler released it in");
  sink->Release();
}

// Without LOCALAPPDATA the log still goes to an absolute folder, never to one relative to
// the host's current folder.
void LogFolderWithoutLocalAppData() {
  SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  const std::filesystem::path folder = kestova::server::LogFolder(L"C:\\no such folder");
  checks.That(folder.is_absolute() && folder.filename() == L"Kestova" &&
                  std::filesystem::is_directory(folder),
              "without LOCALAPPDATA the log folder is " + folder.string());
}

}  // namespace

int RunControlTests(int data_port, int silent_port) {
  {
    // A script host calls neither InitNew nor Load: the first access sees the defaults.
    Control control(CreateControl());
    if (!control.get()) return checks.Finish("");
    CheckSettings(control, false, "created by ProgID");
    ClassInfo(control);
    PropertyNotifications(control);
    OperationsAgainstThePlc(control, data_port, silent_port);
  }
  PropertyBagRoundTrip();
  StreamRoundTrip();
  StorageRoundTrip();
  ReleasedFromItsOwnEvent();
  LogFolderWithoutLocalAppData();
  return checks.Finish("KESTOVA COM CLIENT OK");
}
