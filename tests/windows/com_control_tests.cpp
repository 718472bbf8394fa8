// The control through IDispatch as a script or late-bound client calls it, against the virtual
// PLC: argument forms, events, run-time errors as EXCEPINFO, the port's refusals, persistence.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "com_objects.h"
#include "server/kestova_h.h"
#include "server/log_folder.h"

namespace {

using namespace kestova::wintest;

Checks checks;

class Control : NoCopy {
 public:
  explicit Control(IDispatch* dispatch) : dispatch_(dispatch) {}
  ~Control() {
    if (dispatch_) dispatch_->Release();
  }
  IDispatch* get() const { return dispatch_; }
  long CallLong(const wchar_t* name, const Args& args) const {
    Outcome out;
    Call(dispatch_, out, name, args);
    checks.That(out.hr == S_OK, Narrow(name) + ": " + Hex(out.hr));
    return out.Long();
  }
  long GetLong(const wchar_t* name) const { return CallLong(name, Args()); }
  std::wstring GetText(const wchar_t* name) const {
    Outcome out;
    Call(dispatch_, out, name, Args(), DISPATCH_PROPERTYGET);
    return out.result.vt == VT_BSTR && out.result.bstrVal ? out.result.bstrVal : L"<not text>";
  }
  void Set(const wchar_t* name, const Args& value) const {
    Outcome out;
    Call(dispatch_, out, name, value, DISPATCH_PROPERTYPUT);
    checks.That(out.hr == S_OK, "let " + Narrow(name) + ": " + Hex(out.hr));
  }
  template <class Interface>
  Held<Interface> As(REFIID iid) const { return Hold<Interface>(dispatch_, iid); }

 private:
  IDispatch* dispatch_;
};

IDispatch* CreateControl() {
  IDispatch* dispatch = nullptr;
  const HRESULT hr =
      CoCreateInstance(CLSID_Tarvane, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, Out(&dispatch));
  checks.That(SUCCEEDED(hr), "the control is created (" + Hex(hr) + ")");
  return dispatch;
}

// Each property in the order it is saved, with the type a host's bag stores: its initial
// value, and the one Configure lets (PortOpen is never let; Settings is text).
struct Setting {
  const wchar_t* name;
  long initial;
  long configured;
  VARTYPE type;
};
const Setting kSettings[] = {
    {L"Enabled", -1, 0, VT_BOOL}, {L"CommPort", 1, 4, VT_I2}, {L"Settings", 0, 0, VT_BSTR},
    {L"Handshaking", 0, 2, VT_I4}, {L"Timeout", 3, 7, VT_I2}, {L"StationNo", 0, 5, VT_I2},
    {L"NetworkNo", 0, 6, VT_I2}, {L"PCNumber", 255, 200, VT_I2}, {L"RqstDestMdIO", 1023, 70000, VT_I4},
    {L"RqstDestMdSta", 0, 9, VT_I2}, {L"PLCType", 0, 1, VT_I4}, {L"SumCheck", 0, -1, VT_BOOL},
    {L"PortOpen", 0, 0, VT_BOOL},
};
constexpr const wchar_t* kInitialSettings = L"9600,n,8,1";
constexpr const wchar_t* kConfiguredSettings = L"19200,e,7,2";

void Configure(const Control& control) {
  for (const Setting& row : kSettings) {
    Args value;
    if (row.type == VT_BOOL) value.Bool(row.configured != 0);
    if (row.type == VT_I2) value.I2(static_cast<short>(row.configured));
    if (row.type == VT_I4) value.I4(row.configured);
    if (row.type == VT_BSTR) value.Text(kConfiguredSettings);
    if (std::wstring(row.name) != L"PortOpen") control.Set(row.name, value);
  }
}

void CheckSettings(const Control& control, bool configured, const std::string& how) {
  for (const Setting& row : kSettings) {
    const long wanted = configured ? row.configured : row.initial;
    if (row.type == VT_BSTR) continue;
    checks.That(control.GetLong(row.name) == wanted,
                how + ": " + Narrow(row.name) + " is " + std::to_string(wanted));
  }
  const wchar_t* settings = configured ? kConfiguredSettings : kInitialSettings;
  checks.That(control.GetText(L"Settings") == settings, how + ": Settings is " + Narrow(settings));
}

void ExpectError(const Outcome& out, long number, const wchar_t* description,
                 const std::string& what) {
  checks.That(out.hr == DISP_E_EXCEPTION &&
                  out.error.scode == static_cast<SCODE>(0x800A0000 + number) &&
                  out.Description() == description,
              what + ": " + Hex(out.hr) + ", scode " + Hex(out.error.scode) + " \"" +
                  Narrow(out.Description()) + "\", expected error " + std::to_string(number));
}

void Refused(const Control& control, const wchar_t* property, const Args& value, long number,
             const wchar_t* description, const std::string& what) {
  Outcome out;
  Call(control.get(), out, property, value, DISPATCH_PROPERTYPUT);
  ExpectError(out, number, description, what);
}

DWORD ConnectChecked(const Control& control, REFIID iid, IUnknown* sink) {
  const DWORD cookie = Connect(control.get(), iid, sink);
  checks.That(cookie != 0, "a sink connects");
  return cookie;
}

void Disconnect(const Control& control, REFIID iid, DWORD cookie) {
  const Held<IConnectionPoint> point(FindPoint(control.get(), iid));
  checks.That(point && point->Unadvise(cookie) == S_OK &&
                  point->Unadvise(cookie) == CONNECT_E_NOCONNECTION,
              "a sink disconnects, and its stale cookie is refused");
}

SAFEARRAY* VariantArray(const std::vector<long>& values) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
  auto* element = static_cast<VARIANT*>(array->pvData);
  for (long value : values) {
    element->vt = VT_I4;
    (element++)->lVal = value;
  }
  return array;
}

SAFEARRAY* IntegerArray(const std::vector<short>& values, LONG lower_bound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), lower_bound};
  SAFEARRAY* array = SafeArrayCreate(VT_I2, 1, &bound);
  std::copy(values.begin(), values.end(), static_cast<short*>(array->pvData));
  return array;
}

// Whether today's log (yyyymmdd.CEL) beside the registered control holds text.
bool LogMentions(const std::string& text) {
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof(path);
  RegQueryValueW(HKEY_CLASSES_ROOT,
                 L"CLSID\\{62CEF092-9365-4015-A642-7F39482D21D0}\\InprocServer32", path, &size);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t name[16];
  swprintf(name, 16, L"%04u%02u%02u.CEL", now.wYear, now.wMonth, now.wDay);
  std::ifstream log(std::filesystem::path(path).parent_path() / name, std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  return content.find(text) != std::string::npos;
}

// Calls in the forms VBA, .NET and script hosts make them, in order against the open port
// (a write, then the read that shows it).
void ArgumentForms(const Control& control) {
  static VARIANT address{}, value{}, missing_variant{}, block{};
  static long start = 100;
  static short points = 2;
  static SCODE missing = DISP_E_PARAMNOTFOUND;
  address.vt = VT_I4;
  address.lVal = 100;
  value.vt = VT_I2;
  value.iVal = 1234;
  missing_variant.vt = VT_ERROR;
  missing_variant.scode = DISP_E_PARAMNOTFOUND;
  block.vt = VT_ARRAY | VT_VARIANT;  // a script's array variable, passed by reference
  block.parray = VariantArray({11, 22, 33});
  struct Form {
    const char* what;  // the member's name first
    void (*fill)(Args&);
    long result;                     // or the argument at fault, or the run-time error
    HRESULT hr = S_OK;
    HRESULT names_hr = S_OK;         // of GetIDsOfNames
    const wchar_t* error = nullptr;  // the run-time error's description
  };
  const Form forms[] = {
      {"WriteD(100, 1234) by VARIANT reference", [](Args& a) { a.Ref(&address).Ref(&value); }, 0},
      {"ReadD(100, 2) by typed reference", [](Args& a) { a.RefI4(&start).RefI2(&points); }, 0},
      {"PLCD(100)", [](Args& a) { a.I2(100); }, 1234},
      {"WriteBlock(\"D200\", 3, Data) with Data = Array(11, 22, 33)",
       [](Args& a) { a.Text(L"D200").I2(3).Ref(&block); }, 0},
      {"WriteBlock(\"W10\", 2, Integer array)",
       [](Args& a) { a.Text(L"W10").I2(2).Array(IntegerArray({-5, 7}, 0), VT_I2); }, 0},
      // Element 0 must exist: an array from 1 is refused before anything is sent.
      {"WriteBlock with an array from 1",
       [](Args& a) { a.Text(L"W10").I2(2).Array(IntegerArray({1, 2}, 1), VT_I2); }, 9,
       DISP_E_EXCEPTION, S_OK, L"Subscript out of range"},
      {"WriteBlock with an array of String",
       [](Args& a) { a.Text(L"D0").I2(1).Array(SafeArrayCreateVector(VT_BSTR, 0, 1), VT_BSTR); },
       13, DISP_E_EXCEPTION, S_OK, L"Type mismatch"},
      {"ReadD(200, 3)", [](Args& a) { a.I4(200).I2(3); }, 0},
      {"PLCD(201)", [](Args& a) { a.I2(201); }, 22},
      {"ReadW(10, 2)", [](Args& a) { a.I4(10).I2(2); }, 0},
      {"PLCW(10)", [](Args& a) { a.I2(10); }, -5},
      {"SetM(10)", [](Args& a) { a.I4(10); }, 0},
      {"ReadM(0, 1)", [](Args& a) { a.I4(0).I2(1); }, 0},
      {"PLCM(10) after SetM", [](Args& a) { a.I2(10); }, -1},
      {"ResetM(10)", [](Args& a) { a.I4(10); }, 0},
      {"ReadM(0, 1) again", [](Args& a) { a.I4(0).I2(1); }, 0},
      {"PLCM(10) after ResetM", [](Args& a) { a.I2(10); }, 0},
      {"WriteD 300, Value:=4321", [](Args& a) { a.I4(300).Named(L"Value").I2(4321); }, 0},
      {"ReadD ReadPoints:=1, StartAddress:=300",
       [](Args& a) { a.Named(L"readpoints").I2(1).Named(L"StartAddress").I4(300); }, 0},
      {"PLCD(Index:=300)", [](Args& a) { a.Named(L"Index").I2(300); }, 4321},
      {"RemoteRun ClearMode:=0", [](Args& a) { a.Named(L"ClearMode").I2(0); }, 0},
      {"WriteBlock Points:=2, iData:=..., Device:=\"D400\"", [](Args& a) {
         a.Named(L"Points").I2(2).Named(L"iData").Array(IntegerArray({5, 6}, 0), VT_I2);
         a.Named(L"Device").Text(L"D400");
       }, 0},
      {"RemoteStop()", [](Args&) {}, 0},
      {"RemoteRun(missing, missing)", [](Args& a) { a.Missing().Missing(); }, 0},
      {"RemoteRun(1)", [](Args& a) { a.I2(1); }, 0},
      {"RemoteStop(missing by reference)", [](Args& a) { a.RefError(&missing); }, 0},
      {"RemoteRun(1, reference to a missing Variant)",
       [](Args& a) { a.I2(1).Ref(&missing_variant); }, 0},
      {"ReadD 100, StartAddress:=5 names a given argument",
       [](Args& a) { a.I4(100).Named(L"StartAddress").I4(5); }, 0, DISP_E_PARAMNOTFOUND},
      {"SetM Adress:=1 names no argument", [](Args& a) { a.Named(L"Adress").I4(1); }, 0,
       DISP_E_PARAMNOTFOUND, DISP_E_UNKNOWNNAME},
      {"ReadD Result:=0 names the return value",
       [](Args& a) { a.I4(0).I2(1).Named(L"Result").I2(0); }, 0, DISP_E_PARAMNOTFOUND,
       DISP_E_UNKNOWNNAME},
  };
  for (const Form& form : forms) {
    Args args;
    form.fill(args);
    Outcome out;
    const char* end = std::strpbrk(form.what, "( ");
    Call(control.get(), out, std::wstring(form.what, end).c_str(), args);
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
  VariantClear(&block);
}

void OperationsAgainstThePlc(const Control& control, int data_port, int silent_port) {
  const Held<EventSink> scribbler(new EventSink(DIID___Tarvane, true)),
      listener(new EventSink(DIID___Tarvane, false));
  const DWORD scribbler_cookie = ConnectChecked(control, DIID___Tarvane, scribbler.get());
  const DWORD listener_cookie = ConnectChecked(control, DIID___Tarvane, listener.get());

  // Port closed: result 1, and MelsecOut says why, to each sink the same.
  checks.That(control.CallLong(L"ReadD", Args().I4(0).I2(1)) == 1, "ReadD on a closed port is 1");
  checks.That(scribbler->received.size() == 1 && listener->received.size() == 1 &&
                  listener->received[0] == L"Port not Open",
              "MelsecOut \"Port not Open\" reaches both sinks, the second unchanged");

  control.Set(L"CommPort", Args().Text(std::to_wstring(data_port).c_str()));
  control.Set(L"Timeout", Args().I4(1));
  control.Set(L"PortOpen", Args().Bool(true));
  checks.That(control.GetLong(L"PortOpen") == -1, "the port opens");

  Outcome read_m;
  Call(control.get(), read_m, L"ReadM", Args().I4(0).I2(1));
  checks.That(read_m.hr == S_OK && read_m.result.vt == VT_I2,
              "ReadM returns an Integer in a Variant");
  ArgumentForms(control);

  // Run-time errors come back as DISP_E_EXCEPTION with the automation error number; the
  // Win32 port refuses for itself, and a refused let leaves the port as it was.
  Refused(control, L"Timeout", Args().I4(40000), 6, L"Overflow", "Timeout = 40000");
  Refused(control, L"PortOpen", Args().Bool(true), 8005, L"Port already open", "opened twice");
  Refused(control, L"CommPort", Args().I2(static_cast<short>(silent_port)), 8000,
          L"Operation not valid while port is opened", "CommPort changed while open");
  Refused(control, L"Settings", Args().Text(L"9600,x,8,1"), 380, L"Invalid property value",
          "Settings with parity x");
  Refused(control, L"Handshaking", Args().I4(4), 380, L"Invalid property value",
          "Handshaking = 4");
  checks.That(control.GetText(L"Settings") == L"9600,n,8,1" && control.GetLong(L"Handshaking") == 0,
              "refused lets leave Settings and Handshaking");
  control.Set(L"Handshaking", Args().I4(1));
  control.Set(L"Settings", Args().Text(L"19200,n,8,1"));
  checks.That(control.GetText(L"Settings") == L"19200,n,8,1", "Settings applied to an open port");
  control.Set(L"Settings", Args().Text(L"9600,n,8,1"));
  control.Set(L"Handshaking", Args().I4(0));
  Control other(CreateControl());
  other.Set(L"CommPort", Args().I2(static_cast<short>(data_port)));
  Refused(other, L"PortOpen", Args().Bool(true), 8005, L"Port already open",
          "a port another control holds");
  checks.That(other.GetLong(L"PortOpen") == 0, "the refused open leaves the port closed");

  // A PLC that never answers: result 1, the TimeOut event and a line in the log.
  control.Set(L"PortOpen", Args().Bool(false));
  control.Set(L"CommPort", Args().I2(static_cast<short>(silent_port)));
  control.Set(L"PortOpen", Args().Bool(true));
  const std::size_t before = listener->received.size();
  checks.That(control.CallLong(L"WriteD", Args().I4(0).I2(1)) == 1,
              "WriteD against a silent PLC is 1");
  checks.That(listener->received.size() == before + 1 && listener->received.back() == L"TimeOut",
              "the time-out raises MelsecOut \"TimeOut\"");
  checks.That(LogMentions("WriteSingleWord Time Out"),
              "the time-out is logged in the .ocx's folder");
  control.Set(L"PortOpen", Args().Bool(false));

  Refused(control, L"CommPort", Args().I2(0), 8002, L"Invalid port number", "CommPort = 0");
  control.Set(L"CommPort", Args().I2(9));  // no COM9 in the test machine
  Refused(control, L"PortOpen", Args().Bool(true), 8002, L"Invalid port number",
          "opening a port that does not exist");

  Disconnect(control, DIID___Tarvane, scribbler_cookie);
  Disconnect(control, DIID___Tarvane, listener_cookie);
}

void PropertyNotifications(const Control& control) {
  const Held<PropertySink> sink(new PropertySink());
  const DWORD cookie = ConnectChecked(control, IID_IPropertyNotifySink, sink.get());
  control.Set(L"StationNo", Args().I2(3));
  checks.That(sink->changed == std::vector<DISPID>{0x68030015},
              "StationNo let sends OnChanged(0x68030015)");
  checks.That(control.As<IPersistStreamInit>(IID_IPersistStreamInit)->IsDirty() == S_OK,
              "a let marks the control dirty");
  Disconnect(control, IID_IPropertyNotifySink, cookie);
}

HRESULT LoadFromBag(IPropertyBag* bag, bool configured, const std::string& how) {
  Control loaded(CreateControl());
  const auto persist = loaded.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  const HRESULT hr = persist->Load(bag, nullptr);
  if (hr == S_OK) {
    checks.That(persist->InitNew() == E_UNEXPECTED, how + ": InitNew after Load is refused");
    CheckSettings(loaded, configured, how);
  }
  return hr;
}

void PropertyBagRoundTrip() {
  Control saved(CreateControl());
  const auto persist = saved.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  checks.That(persist->InitNew() == S_OK, "IPersistPropertyBag::InitNew");
  Configure(saved);
  const Held<MemoryBag> bag(new MemoryBag()), empty(new MemoryBag()), broken(new MemoryBag());
  checks.That(persist->Save(bag.get(), TRUE, TRUE) == S_OK, "IPersistPropertyBag::Save");
  checks.That(persist->Load(bag.get(), nullptr) == E_UNEXPECTED, "Load after InitNew is refused");
  checks.That(bag->written.size() == std::size(kSettings), "every key written");
  for (std::size_t k = 0; k < std::size(kSettings) && k < bag->written.size(); ++k) {
    checks.That(bag->written[k] == kSettings[k].name &&
                    bag->values[kSettings[k].name].vt == kSettings[k].type,
                "key " + std::to_string(k) + " is " + Narrow(kSettings[k].name) + " with its type");
  }
  checks.That(LoadFromBag(bag.get(), true, "property bag") == S_OK, "IPersistPropertyBag::Load");
  checks.That(LoadFromBag(empty.get(), false, "empty bag") == S_OK, "Load from an empty bag");
  VARIANT& text = broken->values[L"Timeout"];
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"soon");
  checks.That(LoadFromBag(broken.get(), false, "broken bag") == static_cast<HRESULT>(0x800A000D),
              "a bag with text under Timeout fails with Type mismatch");
}

// A fresh stream in memory, holding bytes when given.
Held<IStream> MemoryStream(const char* bytes = nullptr, ULONG size = 0) {
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  const LARGE_INTEGER zero{};
  if (bytes) stream->Write(bytes, size, nullptr);
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return Held<IStream>(stream);
}

void StreamRoundTrip() {
  Control saved(CreateControl());
  const auto persist = saved.As<IPersistStreamInit>(IID_IPersistStreamInit);
  checks.That(persist->InitNew() == S_OK && persist->IsDirty() == S_FALSE,
              "IPersistStreamInit::InitNew: a new control is clean");
  Configure(saved);
  checks.That(persist->IsDirty() == S_OK, "a configured control is dirty");
  // A medium that fills up part-way: the save fails and the changes stay unsaved.
  const Held<FullStream> full(new FullStream(20));
  checks.That(persist->Save(full.get(), TRUE) == STG_E_MEDIUMFULL && persist->IsDirty() == S_OK,
              "a save that fills the stream fails and leaves the control dirty");
  const Held<IStream> stream = MemoryStream();
  checks.That(persist->Save(stream.get(), TRUE) == S_OK && persist->IsDirty() == S_FALSE,
              "saving with clear-dirty cleans the control");
  checks.That(persist->Load(stream.get()) == E_UNEXPECTED, "Load after InitNew is refused");

  const LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  Control loaded(CreateControl());
  checks.That(loaded.As<IPersistStreamInit>(IID_IPersistStreamInit)->Load(stream.get()) == S_OK,
              "IPersistStreamInit::Load");
  CheckSettings(loaded, true, "stream");

  // A stream that is not ours is refused without being trusted.
  Control refused(CreateControl());
  checks.That(FAILED(refused.As<IPersistStreamInit>(IID_IPersistStreamInit)
                         ->Load(MemoryStream("KSTV\x01\x00\x00\x00\xff\xff\xff\x7f", 12).get())),
              "a stream with a huge length is refused");
}

std::string Contents(IStream* stream) {
  const LARGE_INTEGER zero{};
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
    const auto persist = saved.As<IPersistStorage>(IID_IPersistStorage);
    checks.That(persist->Load(storage) == CO_E_ALREADYINITIALIZED, "Load after InitNew is refused");
    // Saving a copy elsewhere leaves the changes unsaved here.
    IStorage* copy = nullptr;
    storage->CreateStorage(L"copy", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                           &copy);
    checks.That(persist->Save(Held<IStorage>(copy).get(), FALSE) == S_OK &&
                    persist->SaveCompleted(nullptr) == S_OK && persist->IsDirty() == S_OK,
                "a copy saved elsewhere leaves the control dirty");
    checks.That(OleSave(persist.get(), storage, TRUE) == S_OK && persist->IsDirty() == S_FALSE,
                "OleSave saves and cleans the control");
    checks.That(persist->Save(storage, TRUE) == E_UNEXPECTED, "no Save before SaveCompleted");
    checks.That(persist->HandsOffStorage() == S_OK && persist->SaveCompleted(nullptr) == E_INVALIDARG &&
                    persist->SaveCompleted(storage) == S_OK && persist->SaveCompleted(storage) == E_UNEXPECTED,
                "hands off the storage until SaveCompleted gives one back");
    const Held<IStream> plain = MemoryStream();
    saved.As<IPersistStreamInit>(IID_IPersistStreamInit)->Save(plain.get(), FALSE);
    IStream* contents = nullptr;  // opened exclusively: released before OleLoad opens it
    storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents);
    checks.That(contents && Contents(Held<IStream>(contents).get()) == Contents(plain.get()),
                "\"Contents\" holds what the stream save writes");

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
  GUID source{};
  ITypeInfo* coclass = nullptr;
  const auto info = control.As<IProvideClassInfo2>(IID_IProvideClassInfo2);
  checks.That(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK &&
                  IsEqualGUID(source, DIID___Tarvane) && info->GetClassInfo(&coclass) == S_OK &&
                  Held<ITypeInfo>(coclass),
              "IProvideClassInfo2 names __Tarvane as the default source and gives the class");
  IEnumConnectionPoints* points = nullptr;
  std::vector<IID> offered;
  if (control.As<IConnectionPointContainer>(IID_IConnectionPointContainer)
          ->EnumConnectionPoints(&points) == S_OK) {
    IConnectionPoint* point = nullptr;
    for (ULONG fetched = 0; points->Next(1, &point, &fetched) == S_OK; point->Release()) {
      point->GetConnectionInterface(&offered.emplace_back());
    }
    points->Release();
  }
  checks.That(offered.size() == 2 && IsEqualIID(offered[0], DIID___Tarvane) &&
                  IsEqualIID(offered[1], IID_IPropertyNotifySink),
              "EnumConnectionPoints offers __Tarvane and IPropertyNotifySink");
  const auto errors = control.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
  checks.That(errors && errors->InterfaceSupportsErrorInfo(IID__Tarvane) == S_OK,
              "_Tarvane supports error info");
  const IID iid_object_safety = {
      0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
  checks.That(!control.As<IUnknown>(iid_object_safety),
              "the control does not claim to be safe for scripting");
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
      auto can_unload = Export<CanUnloadNow>(GetModuleHandleW(L"Kestova.ocx"), "DllCanUnloadNow");
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
  const Held<DroppingSink> sink(new DroppingSink(control));
  const DWORD cookie = Connect(control, DIID___Tarvane, sink.get());
  // The port is closed: the call raises "Port not Open", whose handler drops the control.
  Outcome out;
  Call(control, out, L"ReadD", Args().I4(0).I2(1), DISPATCH_METHOD);
  checks.That(cookie != 0 && out.hr == S_OK && out.Long() == 1 && sink->received.size() == 1,
              "a handler that releases the control does not end the call early");
  checks.That(sink->alive_during_call, "the control outlives the call its handler released it in");
}

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
    CheckSettings(control, false, "created");
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
