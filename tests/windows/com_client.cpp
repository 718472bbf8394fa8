// Late-binding client of Kestova.ocx, run under Wine for each build, testing what only COM
// does: typelib (the registered type library), control PORT TIMEOUTPORT (com_control_tests),
// unload OCX (DllCanUnloadNow), registered|unregistered machine|user (the registry).

#include <algorithm>
#include <sstream>

#include "com_objects.h"
#include "server/kestova_h.h"

namespace {

using namespace kestova::wintest;

Checks checks;

template <class Info>  // ITypeInfo for a member, ITypeLib for the library (id -1)
std::wstring Documentation(Info* info, MEMBERID id, bool help) {
  BSTR text = nullptr;
  info->GetDocumentation(id, help ? nullptr : &text, help ? &text : nullptr, nullptr, nullptr);
  std::wstring result = text ? text : L"";
  SysFreeString(text);
  return result;
}
std::wstring MemberName(ITypeInfo* info, MEMBERID id) { return Documentation(info, id, false); }
std::wstring HelpString(ITypeInfo* info, MEMBERID id) { return Documentation(info, id, true); }

std::wstring TypeText(ITypeInfo* info, const TYPEDESC& desc) {
  if (desc.vt == VT_PTR) return TypeText(info, *desc.lptdesc) + L"*";
  if (desc.vt == VT_SAFEARRAY) return L"SAFEARRAY(" + TypeText(info, *desc.lptdesc) + L")";
  if (desc.vt == VT_USERDEFINED) {
    ITypeInfo* referenced = nullptr;
    if (FAILED(info->GetRefTypeInfo(desc.hreftype, &referenced))) return L"?";
    return MemberName(Held<ITypeInfo>(referenced).get(), MEMBERID_NIL);
  }
  const std::pair<VARTYPE, const wchar_t*> names[] = {
      {VT_I2, L"short"},     {VT_I4, L"long"},       {VT_BSTR, L"BSTR"}, {VT_BOOL, L"VARIANT_BOOL"},
      {VT_VARIANT, L"VARIANT"}, {VT_HRESULT, L"HRESULT"}, {VT_VOID, L"void"}};
  for (const auto& [vt, name] : names) {
    if (desc.vt == vt) return name;
  }
  return L"vt" + std::to_wstring(desc.vt);
}

struct ExpectedMember {
  std::wstring name;
  DISPID id;
  INVOKEKIND kind;
  std::wstring parameters;  // every parameter's type, the retval included
  int optional_defaults;    // trailing parameters that are [optional, defaultvalue(1)], VT_I2
};

// Consecutive members of one shape: blank-separated names whose DISPIDs go from `id` by
// `step`; a get/let property (kGetLet, the value's type as parameters) is two entries.
struct ExpectedRun {
  const wchar_t* names;
  DISPID id;
  int step;
  int kind;
  const wchar_t* parameters;
  int optional_defaults;
};

constexpr int kGetLet = -1;
constexpr int kGet = INVOKE_PROPERTYGET;
constexpr int kCall = INVOKE_FUNC;
constexpr DISPID P(int offset) { return 0x68030000 + offset; }
constexpr DISPID M(int offset) { return 0x60030000 + offset; }
const wchar_t* const kFlag = L"short*, VARIANT_BOOL*";  // indexed Boolean getter
const wchar_t* const kWord = L"short*, short*";         // indexed Integer getter

// _Tarvane in slot order: 61 members, 74 entries.
const ExpectedRun kMemberRuns[] = {
    {L"Enabled", P(0x1A), 0, kGetLet, L"VARIANT_BOOL", 0},
    {L"CommPort", P(0x19), 0, kGetLet, L"short", 0},
    {L"Settings", P(0x18), 0, kGetLet, L"BSTR", 0},
    {L"Handshaking", P(0x17), 0, kGetLet, L"KestovaHandshaking", 0},
    {L"Timeout StationNo NetworkNo PCNumber", P(0x16), -1, kGetLet, L"short", 0},
    {L"RqstDestMdIO", P(0x12), 0, kGetLet, L"long", 0},
    {L"RqstDestMdSta", P(0x11), 0, kGetLet, L"short", 0},
    {L"PLCX PLCY PLCM PLCB", P(0x10), -1, kGet, kFlag, 0},
    {L"PLCD PLCW PLCZR", P(0x0C), -1, kGet, kWord, 0},
    {L"ReadX ReadY ReadB ReadSB ReadSM ReadL ReadF ReadS ReadD ReadSD ReadW ReadSW ReadZR",
     M(0x1B), 1, kCall, L"long*, short*, short*", 0},
    {L"SetM SetY SetB SetL SetF SetS ResetY ResetM ResetB ResetL ResetF ResetS", M(0x28), 1,
     kCall, L"long*, short*", 0},
    {L"WriteD WriteW WriteZR", M(0x34), 1, kCall, L"long*, short*, short*", 0},
    {L"ReadM", M(0x37), 0, kCall, L"long*, short*, VARIANT*", 0},
    {L"ShowAboutBox", -552, 0, kCall, L"", 0},
    {L"PLCType", P(0x09), 0, kGetLet, L"MELSECPLCType", 0},
    {L"SumCheck PortOpen", P(0x08), -1, kGetLet, L"VARIANT_BOOL", 0},
    {L"RemoteStop RemoteReset", M(0x43), 1, kCall, L"short*, short*", 1},
    {L"PLCSM", P(0x06), 0, kGet, kFlag, 0},
    {L"PLCSD", P(0x05), 0, kGet, kWord, 0},
    {L"PLCSB", P(0x04), 0, kGet, kFlag, 0},
    {L"PLCSW", P(0x03), 0, kGet, kWord, 0},
    {L"PLCL PLCF PLCS", P(0x02), -1, kGet, kFlag, 0},
    {L"RemoteRun", M(0x46), 0, kCall, L"short*, short*, short*", 2},
    {L"WriteBlock", M(0x47), 0, kCall, L"BSTR*, short*, SAFEARRAY(short)*, short*", 0},
};

std::vector<ExpectedMember> ExpectedMembers() {
  std::vector<ExpectedMember> members;
  for (const ExpectedRun& run : kMemberRuns) {
    std::wistringstream names(run.names);
    DISPID id = run.id;
    for (std::wstring name; names >> name; id += run.step) {
      if (run.kind == kGetLet) {
        members.push_back({name, id, INVOKE_PROPERTYGET, std::wstring(run.parameters) + L"*", 0});
        members.push_back({name, id, INVOKE_PROPERTYPUT, run.parameters, 0});
      } else {
        members.push_back({name, id, static_cast<INVOKEKIND>(run.kind), run.parameters,
                           run.optional_defaults});
      }
    }
  }
  return members;
}

TYPEATTR Attributes(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  info->GetTypeAttr(&attributes);
  const TYPEATTR copy = *attributes;
  info->ReleaseTypeAttr(attributes);
  return copy;
}

void CheckDispatchInterface(ITypeInfo* info) {
  const TYPEATTR attributes = Attributes(info);
  const WORD wanted_flags =
      TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  const std::vector<ExpectedMember> members = ExpectedMembers();
  checks.That(attributes.typekind == TKIND_INTERFACE &&
                  (attributes.wTypeFlags & wanted_flags) == wanted_flags &&
                  attributes.cFuncs == members.size(),
              "_Tarvane is a dual, hidden, nonextensible, oleautomation interface of " +
                  std::to_string(members.size()) + " functions, found " +
                  std::to_string(attributes.cFuncs));
  const auto count = static_cast<UINT>(std::min<std::size_t>(attributes.cFuncs, members.size()));

  for (UINT index = 0; index < count; ++index) {
    const ExpectedMember& want = members[index];
    const std::string row = "slot entry " + std::to_string(index) + " (" + Narrow(want.name) + ")";
    FUNCDESC* func = nullptr;
    if (!checks.That(SUCCEEDED(info->GetFuncDesc(index, &func)), row + ": readable")) continue;
    checks.That(MemberName(info, func->memid) == want.name && func->memid == want.id &&
                    func->invkind == want.kind,
                row + ": name, DISPID " + Hex(func->memid) + ", kind");
    std::wstring parameters;
    int defaults = 0;
    for (SHORT k = 0; k < func->cParams; ++k) {
      const ELEMDESC& element = func->lprgelemdescParam[k];
      if (k > 0) parameters += L", ";
      parameters += TypeText(info, element.tdesc);
      // Basic reads the default with the parameter's own type: an Integer's is VT_I2.
      const USHORT flags = element.paramdesc.wParamFlags;
      if ((flags & PARAMFLAG_FOPT) && (flags & PARAMFLAG_FHASDEFAULT) &&
          element.paramdesc.pparamdescex) {
        const VARIANT& value = element.paramdesc.pparamdescex->varDefaultValue;
        if (value.vt == VT_I2 && value.iVal == 1) ++defaults;
      }
    }
    checks.That(parameters == want.parameters, row + ": parameters " + Narrow(parameters) +
                                                   ", expected " + Narrow(want.parameters));
    checks.That(defaults == want.optional_defaults,
                row + ": optional parameters default to the Integer 1");
    info->ReleaseFuncDesc(func);
  }

  checks.That(HelpString(info, P(0x19)) == L"Set or Return Comm Port", "CommPort help string");
  // The Settings help string is GBK text; it reads back through the system code page, so
  // compare the bytes it came from.
  const std::wstring settings_help = HelpString(info, P(0x18));
  std::string bytes(settings_help.size() * 2 + 1, '\0');
  const auto size = static_cast<int>(settings_help.size());
  bytes.resize(static_cast<std::size_t>(std::max(0, WideCharToMultiByte(
      CP_ACP, 0, settings_help.c_str(), size, bytes.data(), size * 2 + 1, nullptr, nullptr))));
  const char* gbk =
      "\xc9\xe8\xd6\xc3\x2f\xb7\xb5\xbb\xd8\xb2\xa8\xcc\xd8\xc2\xca\xa1\xa2\xc6\xe6\xc5\xbc\xd0"
      "\xa3\xd1\xe9\xa1\xa2\xca\xfd\xbe\xdd\xce\xbb\xba\xcd\xcd\xa3\xd6\xb9\xce\xbb\xb2\xce\xca"
      "\xfd\xa1\xa3";
  const bool same_text = settings_help == L"设置/返回波特率、奇偶校验、数据位和停止位参数。";
  checks.That(same_text || bytes == gbk, "Settings help string holds the GBK text");
}

void CheckEnum(ITypeLib* library, const wchar_t* name,
               const std::vector<std::pair<std::wstring, long>>& members, bool with_help_strings) {
  ITypeInfo* found_info = nullptr;
  MEMBERID id = 0;
  USHORT found = 1;
  std::wstring wanted = name;
  library->FindName(wanted.data(), 0, &found_info, &id, &found);
  const Held<ITypeInfo> info(found_info);
  if (!checks.That(found == 1 && info, "enumeration " + Narrow(name) + " found")) return;
  const TYPEATTR attributes = Attributes(info.get());
  checks.That(attributes.typekind == TKIND_ENUM && attributes.cVars == members.size(),
              Narrow(name) + " is an enumeration of " + std::to_string(members.size()));
  for (UINT k = 0; k < attributes.cVars && k < members.size(); ++k) {
    VARDESC* var = nullptr;
    info->GetVarDesc(k, &var);
    VARIANT value{};
    VariantChangeType(&value, var->lpvarValue, 0, VT_I4);
    const std::wstring& member = members[k].first;
    checks.That(MemberName(info.get(), var->memid) == member && value.lVal == members[k].second &&
                    (!with_help_strings || HelpString(info.get(), var->memid) == member),
                Narrow(name) + " member " + Narrow(member) +
                    (with_help_strings ? ", with its name as help string" : ""));
    info->ReleaseVarDesc(var);
  }
}

int CheckTypeLibrary() {
  ITypeLib* library = nullptr;
  if (!checks.That(SUCCEEDED(LoadRegTypeLib(LIBID_Kestova, 19, 0, 0x409, &library)),
                   "the type library is registered as Kestova 19.0")) {
    return checks.Finish("");
  }
  TLIBATTR* lib = nullptr;
  library->GetLibAttr(&lib);
  checks.That(lib->lcid == 0x409 && lib->wMajorVerNum == 19 && lib->wMinorVerNum == 0 &&
                  (lib->wLibFlags & LIBFLAG_FCONTROL) &&
                  Documentation(library, -1, false) == L"Kestova" &&
                  !Documentation(library, -1, true).empty(),
              "library Kestova 19.0, lcid 0x409, a control, with a help string");
  library->ReleaseTLibAttr(lib);

  // A dual interface is found as its dispatch face; its vtable face is implemented type -1.
  ITypeInfo* dispatch = nullptr;
  HREFTYPE vtable_ref = 0;
  ITypeInfo* dual = nullptr;
  const UINT vtable_face = static_cast<UINT>(-1);
  if (checks.That(SUCCEEDED(library->GetTypeInfoOfGuid(IID__Tarvane, &dispatch)) &&
                      SUCCEEDED(dispatch->GetRefTypeOfImplType(vtable_face, &vtable_ref)) &&
                      SUCCEEDED(dispatch->GetRefTypeInfo(vtable_ref, &dual)),
                  "_Tarvane found with its vtable face")) {
    CheckDispatchInterface(Held<ITypeInfo>(dual).get());
  }
  if (dispatch) dispatch->Release();

  ITypeInfo* events = nullptr;
  FUNCDESC* func = nullptr;
  if (checks.That(SUCCEEDED(library->GetTypeInfoOfGuid(DIID___Tarvane, &events)) &&
                      SUCCEEDED(events->GetFuncDesc(0, &func)),
                  "__Tarvane found")) {
    const TYPEATTR attributes = Attributes(events);
    checks.That(attributes.typekind == TKIND_DISPATCH &&
                    (attributes.wTypeFlags & TYPEFLAG_FHIDDEN) && attributes.cFuncs == 1,
                "__Tarvane is a hidden dispinterface of one member");
    checks.That(func->memid == 1 && MemberName(events, 1) == L"MelsecOut" && func->cParams == 1 &&
                    TypeText(events, func->lprgelemdescParam[0].tdesc) == L"BSTR*" &&
                    func->elemdescFunc.tdesc.vt == VT_VOID,
                "MelsecOut is DISPID 1, takes Result as BSTR* and returns nothing");
    events->ReleaseFuncDesc(func);
  }
  const Held<ITypeInfo> held_events(events);

  ITypeInfo* coclass = nullptr;
  if (checks.That(SUCCEEDED(library->GetTypeInfoOfGuid(CLSID_Tarvane, &coclass)),
                  "Tarvane class found")) {
    const TYPEATTR attributes = Attributes(coclass);
    checks.That((attributes.wTypeFlags & TYPEFLAG_FCONTROL) && attributes.wMajorVerNum == 1 &&
                    attributes.wMinorVerNum == 0,
                "Tarvane is a control, version 1.0");
  }
  const Held<ITypeInfo> held_coclass(coclass);

  CheckEnum(library, L"MELSECPLCType", {{L"Q_Fundmental", 0}, {L"Q_HighPerformance", 1}}, true);
  CheckEnum(library, L"KestovaHandshaking",
            {{L"HandshakeNone", 0}, {L"HandshakeXonXoff", 1}, {L"HandshakeRtsCts", 2},
             {L"HandshakeRtsCtsXonXoff", 3}},
            false);
  library->Release();
  return checks.Finish("KESTOVA TYPELIB OK");
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// How many subkeys the key has, -1 when it does not exist in that view.
int Subkeys(HKEY hive, const std::wstring& path, REGSAM view = 0) {
  HKEY key = nullptr;
  DWORD count = 0;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return -1;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return static_cast<int>(count);
}

// Registered: this bitness's keys, the Control category alone (never safe for scripting or
// initialisation), the class's Version as the library's, and (machine-wide) the control
// creates by ProgID and finds its type library. Unregistered: no key of ours in either
// registry view.
int CheckRegistration(bool expect_registered, const std::string& scope) {
  const HKEY hive = scope == "user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring clsid = classes + L"CLSID\\" + GuidText(CLSID_Tarvane);
  const std::wstring ours[] = {
      clsid + L"\\InprocServer32", clsid + L"\\Control", classes + L"Kestova.Tarvane\\CLSID",
      classes + L"Kestova.Tarvane.1\\CLSID", classes + L"TypeLib\\" + GuidText(LIBID_Kestova),
      classes + L"Interface\\" + GuidText(IID__Tarvane),
      classes + L"Interface\\" + GuidText(DIID___Tarvane)};
  if (!expect_registered) {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      for (const std::wstring& key : ours) {
        checks.That(Subkeys(hive, key, view) < 0,
                    scope + " " + Narrow(key) + " absent from the " +
                        (view == KEY_WOW64_32KEY ? "32" : "64") + "-bit view");
      }
    }
    return checks.Finish("KESTOVA UNREGISTERED OK");
  }
  for (const std::wstring& key : ours) {
    checks.That(Subkeys(hive, key) >= 0, scope + " " + Narrow(key) + " present");
  }
  const std::wstring categories = clsid + L"\\Implemented Categories";
  checks.That(Subkeys(hive, categories) == 1 &&
                  Subkeys(hive, categories + L"\\{40FC6ED4-2438-11CF-A3DB-080036F12502}") >= 0,
              scope + " in the Control category alone");
  wchar_t version[16] = {};
  DWORD size = sizeof version;
  RegGetValueW(hive, (clsid + L"\\Version").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, version,
               &size);
  checks.That(std::wstring(version) == L"19.0",
              scope + " class Version is the library's 19.0, got " + Narrow(version));
  // Wine's COM reads classes from the machine's keys only, so a per-user registration is
  // not tried out here.
  if (scope == "user") return checks.Finish("KESTOVA REGISTERED OK");
  CLSID by_name{};
  IUnknown* object = nullptr;
  ITypeLib* library = nullptr;
  checks.That(SUCCEEDED(CLSIDFromProgID(L"Kestova.Tarvane", &by_name)) &&
                  SUCCEEDED(CoCreateInstance(by_name, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                             Out(&object))),
              "the control creates by ProgID");
  checks.That(SUCCEEDED(LoadRegTypeLib(LIBID_Kestova, 19, 0, 0x409, &library)),
              "the type library loads");
  const Held<IUnknown> held_object(object), held_library(library);
  return checks.Finish("KESTOVA REGISTERED OK");
}

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// On its last release it reaches back to the control through the point it was advised
// on, as sinks that keep a plain pointer to their source do.
class UnadvisingSink : public EventSink {
 public:
  UnadvisingSink(IConnectionPoint* point, HRESULT& answer)
      : EventSink(DIID___Tarvane, false), point_(point), answer_(answer) {}
  ~UnadvisingSink() override {
    point_->AddRef();
    answer_ = point_->Unadvise(cookie);
    point_->Release();
  }
  DWORD cookie = 0;

 private:
  IConnectionPoint* point_;
  HRESULT& answer_;
};

// A sink's references through advise, unadvise and the control's end in every order;
// the connection point and the enumerator keep the control alive while they live.
void CheckConnectionReferences(IClassFactory* factory, CanUnloadNow can_unload) {
  enum Order { UnadviseFirst, ReleaseControlFirst, PointOutlivesControl, EnumeratorOutlivesControl };
  const std::pair<Order, const char*> orders[] = {
      {UnadviseFirst, "advise, unadvise, release the control"},
      {ReleaseControlFirst, "advise, release the control"},
      {PointOutlivesControl, "advise, release the control, unadvise through the point"},
      {EnumeratorOutlivesControl, "advise, enumerate, release the control, then the enumerator"},
  };
  for (const auto& [order, what] : orders) {
    const std::string row = std::string(what) + ": ";
    IConnectionPointContainer* container = nullptr;
    factory->CreateInstance(nullptr, IID_IConnectionPointContainer, Out(&container));
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(DIID___Tarvane, &point);
    auto* sink = new EventSink(DIID___Tarvane, false);
    DWORD cookie = 0;
    point->Advise(sink, &cookie);
    checks.That(References(sink) == 2, row + "the point holds one reference to the sink");
    IEnumConnectionPoints* points = nullptr;
    if (order == EnumeratorOutlivesControl) container->EnumConnectionPoints(&points);
    if (order == UnadviseFirst) {
      checks.That(point->Unadvise(cookie) == S_OK && References(sink) == 1,
                  row + "unadvise gives it back");
    }
    if (order != PointOutlivesControl) point->Release();
    container->Release();
    if (order == PointOutlivesControl) {
      checks.That(References(sink) == 2 && point->Unadvise(cookie) == S_OK &&
                      References(sink) == 1,
                  row + "the point keeps the control until unadvised");
      point->Release();
    }
    if (points) {
      checks.That(References(sink) == 2, row + "the enumerator keeps the control");
      points->Release();
    }
    checks.That(References(sink) == 1, row + "the sink is released once");
    sink->Release();
  }

  // A sink that unadvises itself while the control ends finds no connection left, and the
  // control is not ended twice: with the factory alive, the module stays in use.
  IUnknown* control = nullptr;
  factory->CreateInstance(nullptr, IID_IUnknown, Out(&control));
  IConnectionPoint* point = FindPoint(control, DIID___Tarvane);
  HRESULT answer = E_FAIL;
  auto* sink = new UnadvisingSink(point, answer);
  point->Advise(sink, &sink->cookie);
  sink->Release();
  point->Release();
  control->Release();
  checks.That(answer == CONNECT_E_NOCONNECTION, "a sink unadvising on its way out: " + Hex(answer));
  checks.That(can_unload() == S_FALSE, "after the control's end the factory still counts");
}

// DllCanUnloadNow in every order of factory (F, f: get, release), object (O, o), lock
// (L, U): after each step 1 means it may unload, 0 that it must not.
void CheckUnloadOrders(GetClassObject get_class_object, CanUnloadNow can_unload) {
  // The last: an unlock without its lock must not cancel the lock that follows.
  const std::pair<const char*, const char*> orders[] = {
      {"FOfo", "0001"}, {"FOof", "0001"}, {"FLfFUf", "000001"}, {"FLUf", "0001"},
      {"FUULfFUf", "00000001"}};
  for (const auto& [steps, expected] : orders) {
    IClassFactory* factory = nullptr;
    IUnknown* object = nullptr;
    std::string seen;
    for (const char* step = steps; *step; ++step) {
      const char what = *step;
      if (what == 'F') get_class_object(CLSID_Tarvane, IID_IClassFactory, Out(&factory));
      if (what == 'O') factory->CreateInstance(nullptr, IID_IUnknown, Out(&object));
      if (what == 'f') factory->Release();
      if (what == 'o') object->Release();
      if (what == 'L' || what == 'U') factory->LockServer(what == 'L');
      seen.push_back(can_unload() == S_OK ? '1' : '0');
    }
    checks.That(seen == expected,
                std::string("unload order ") + steps + ": " + seen + ", expected " + expected);
  }
}

int CheckUnloading(const std::wstring& ocx) {
  HMODULE module = LoadLibraryW(ocx.c_str());
  if (!checks.That(module != nullptr, "the control's module loads")) return checks.Finish("");
  auto get_class_object = Export<GetClassObject>(module, "DllGetClassObject");
  auto can_unload = Export<CanUnloadNow>(module, "DllCanUnloadNow");
  if (checks.That(get_class_object && can_unload, "undecorated exports")) {
    checks.That(can_unload() == S_OK, "nothing alive: may unload");
    IUnknown* nothing = nullptr;
    checks.That(get_class_object(IID__Tarvane, IID_IClassFactory, Out(&nothing)) ==
                    CLASS_E_CLASSNOTAVAILABLE,
                "an unknown class is not available");
    IClassFactory* factory = nullptr;
    get_class_object(CLSID_Tarvane, IID_IClassFactory, Out(&factory));
    if (checks.That(factory != nullptr, "DllGetClassObject gives the factory")) {
      IUnknown* object = nullptr;
      checks.That(factory->CreateInstance(factory, IID_IUnknown, Out(&object)) ==
                      CLASS_E_NOAGGREGATION,
                  "aggregation is refused");
      CheckConnectionReferences(factory, can_unload);
      factory->Release();
    }
    CheckUnloadOrders(get_class_object, can_unload);
    checks.That(can_unload() == S_OK, "all gone: may unload");
  }
  FreeLibrary(module);
  return checks.Finish("KESTOVA UNLOAD OK");
}

}  // namespace

int RunControlTests(int data_port, int silent_port);

int wmain(int argc, wchar_t** argv) {
  if (FAILED(OleInitialize(nullptr))) return 2;
  int status = 2;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"typelib") {
    status = CheckTypeLibrary();
  } else if (mode == L"control" && argc > 3) {
    status = RunControlTests(_wtoi(argv[2]), _wtoi(argv[3]));
  } else if (mode == L"unload" && argc > 2) {
    status = CheckUnloading(argv[2]);
  } else if ((mode == L"registered" || mode == L"unregistered") && argc > 2) {
    status = CheckRegistration(mode == L"registered", Narrow(argv[2]));
  }
  OleUninitialize();
  return status;
}
