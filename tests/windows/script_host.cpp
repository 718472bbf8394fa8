// A small VBScript host for the Windows tests, in the spirit of cscript: it runs a .vbs
// file through the system's VBScript engine (IActiveScript) and offers a WScript object
// with Echo, Quit and ConnectObject, so a script can create the control with CreateObject
// and handle its events in Sub <prefix>MelsecOut(Result). Unlike Wine's cscript it
// reports every script error and exits non-zero on one.
//
//   script_host FILE.vbs [ARGUMENT...]   WScript.Arguments(k) gives ARGUMENT k

#include <windows.h>
#include <activscp.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "com_objects.h"
#include "server/text.h"

namespace {

using kestova::wintest::SimpleObject;

// The scripting interfaces' IIDs, which the mingw import libraries do not carry.
constexpr IID kIidActiveScript = {
    0xBB1A2AE1, 0xA4F9, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
constexpr IID kIidActiveScriptSite = {
    0xDB01A1E3, 0xA42B, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
#ifdef _WIN64
constexpr IID kIidActiveScriptParse = {
    0xC7EF7658, 0xE1EE, 0x480E, {0x97, 0xEA, 0xD5, 0x2C, 0xB4, 0xD7, 0x6D, 0x17}};
#else
constexpr IID kIidActiveScriptParse = {
    0xBB1A2AE2, 0xA4F9, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
#endif

void PrintLine(const std::wstring& text) {
  std::printf("%s\n", kestova::server::Narrow(text).c_str());
  std::fflush(stdout);
}

std::wstring AsText(const VARIANT& value) {
  VARIANT text;
  VariantInit(&text);
  if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR))) {
    return L"<?>";
  }
  std::wstring result = text.bstrVal ? text.bstrVal : L"";
  VariantClear(&text);
  return result;
}

const VARIANT& Plain(const VARIANT& value) {
  return value.vt == (VT_VARIANT | VT_BYREF) && value.pvarVal ? *value.pvarVal : value;
}

// Calls <prefix><event name> in the script for every event of one connected object.
class EventForwarder : public SimpleObject<IDispatch> {
 public:
  EventForwarder(IActiveScript& script, std::wstring prefix, ITypeInfo* events, REFIID iid)
      : script_(script), prefix_(std::move(prefix)), events_(events), iid_(iid) {
    events_->AddRef();
  }
  ~EventForwarder() override { events_->Release(); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* error, UINT* argument) override {
    BSTR name = nullptr;
    UINT count = 0;
    if (FAILED(events_->GetNames(id, &name, 1, &count)) || !name) return DISP_E_MEMBERNOTFOUND;
    std::wstring handler = prefix_ + name;
    SysFreeString(name);
    IDispatch* global = nullptr;
    if (FAILED(script_.GetScriptDispatch(nullptr, &global))) return S_OK;
    LPOLESTR names[] = {handler.data()};
    DISPID handler_id = DISPID_UNKNOWN;
    HRESULT hr = S_OK;
    // A script without a handler for this event simply does not hear it.
    if (SUCCEEDED(global->GetIDsOfNames(IID_NULL, names, 1, lcid, &handler_id))) {
      hr = global->Invoke(handler_id, IID_NULL, lcid, DISPATCH_METHOD, parameters, result, error,
                          argument);
    }
    global->Release();
    return hr;
  }

 protected:
  bool Answers(REFIID iid) const override {
    return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_);
  }

 private:
  IActiveScript& script_;
  std::wstring prefix_;
  ITypeInfo* events_;
  IID iid_;
};

struct Connection {
  IConnectionPoint* point;
  DWORD cookie;
};

// WScript: Echo, Quit, ConnectObject and Arguments.
class ScriptObject : public SimpleObject<IDispatch> {
 public:
  enum : DISPID { kEcho = 1, kQuit, kConnectObject, kArguments };
  static constexpr SCODE kQuitRequested = static_cast<SCODE>(0x8004FF01);

  ScriptObject(std::vector<std::wstring> arguments) : arguments_(std::move(arguments)) {}
  ~ScriptObject() override { Disconnect(); }

  void SetScript(IActiveScript* script) { script_ = script; }
  bool quit_requested = false;
  int exit_code = 0;

  void Disconnect() {
    for (Connection& connection : connections_) {
      connection.point->Unadvise(connection.cookie);
      connection.point->Release();
    }
    connections_.clear();
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    const std::pair<const wchar_t*, DISPID> members[] = {{L"Echo", kEcho},
                                                         {L"Quit", kQuit},
                                                         {L"ConnectObject", kConnectObject},
                                                         {L"Arguments", kArguments}};
    HRESULT hr = S_OK;
    for (UINT k = 0; k < count; ++k) {
      ids[k] = DISPID_UNKNOWN;
      for (const auto& member : members) {
        if (_wcsicmp(names[k], member.first) == 0) ids[k] = member.second;
      }
      if (ids[k] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* error, UINT*) override {
    const UINT argc = parameters ? parameters->cArgs : 0;
    auto argument = [&](UINT k) -> const VARIANT& {
      return Plain(parameters->rgvarg[argc - 1 - k]);
    };
    switch (id) {
      case kEcho: {
        std::wstring line;
        for (UINT k = 0; k < argc; ++k) line += (k ? L" " : L"") + AsText(argument(k));
        PrintLine(line);
        return S_OK;
      }
      case kQuit: {
        VARIANT code;
        VariantInit(&code);
        if (argc > 0 &&
            SUCCEEDED(VariantChangeType(&code, const_cast<VARIANT*>(&argument(0)), 0, VT_I4))) {
          exit_code = code.lVal;
        }
        quit_requested = true;
        // Ends the script: the engine reports this error, and the host knows it was Quit.
        if (error) {
          *error = EXCEPINFO{};
          error->scode = kQuitRequested;
        }
        return DISP_E_EXCEPTION;
      }
      case kConnectObject:
        if (argc != 2) return DISP_E_BADPARAMCOUNT;
        return Connect(argument(0), AsText(argument(1)));
      case kArguments: {
        if (argc != 1) return DISP_E_BADPARAMCOUNT;
        VARIANT index;
        VariantInit(&index);
        if (FAILED(VariantChangeType(&index, const_cast<VARIANT*>(&argument(0)), 0, VT_I4)) ||
            index.lVal < 0 || static_cast<std::size_t>(index.lVal) >= arguments_.size()) {
          return DISP_E_BADINDEX;
        }
        if (result) {
          VariantInit(result);
          result->vt = VT_BSTR;
          result->bstrVal =
              SysAllocString(arguments_[static_cast<std::size_t>(index.lVal)].c_str());
        }
        return S_OK;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 protected:
  bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IDispatch); }

 private:
  // Finds the object's default event interface through its class information and
  // connects a forwarder to it.
  HRESULT Connect(const VARIANT& object, const std::wstring& prefix) {
    if (object.vt != VT_DISPATCH || !object.pdispVal || !script_) return DISP_E_TYPEMISMATCH;
    IProvideClassInfo2* class_info = nullptr;
    HRESULT hr = object.pdispVal->QueryInterface(IID_IProvideClassInfo2,
                                                 reinterpret_cast<void**>(&class_info));
    if (FAILED(hr)) return hr;
    IID events_iid{};
    ITypeInfo* coclass = nullptr;
    hr = class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events_iid);
    if (SUCCEEDED(hr)) hr = class_info->GetClassInfo(&coclass);
    class_info->Release();
    if (FAILED(hr)) return hr;
    ITypeLib* library = nullptr;
    UINT index = 0;
    ITypeInfo* events = nullptr;
    hr = coclass->GetContainingTypeLib(&library, &index);
    coclass->Release();
    if (SUCCEEDED(hr)) {
      hr = library->GetTypeInfoOfGuid(events_iid, &events);
      library->Release();
    }
    if (FAILED(hr)) return hr;

    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    hr = object.pdispVal->QueryInterface(IID_IConnectionPointContainer,
                                         reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr)) {
      hr = container->FindConnectionPoint(events_iid, &point);
      container->Release();
    }
    if (SUCCEEDED(hr)) {
      EventForwarder* forwarder = new EventForwarder(*script_, prefix, events, events_iid);
      DWORD cookie = 0;
      hr = point->Advise(forwarder, &cookie);
      forwarder->Release();
      if (SUCCEEDED(hr)) {
        connections_.push_back({point, cookie});
      } else {
        point->Release();
      }
    }
    events->Release();
    return hr;
  }

  std::vector<std::wstring> arguments_;
  IActiveScript* script_ = nullptr;
  std::vector<Connection> connections_;
};

class Site : public SimpleObject<IActiveScriptSite> {
 public:
  explicit Site(ScriptObject& wscript) : wscript_(wscript) {}
  bool failed = false;

  HRESULT STDMETHODCALLTYPE GetLCID(LCID* lcid) override {
    *lcid = 0x409;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                                        ITypeInfo** type) override {
    if (item) *item = nullptr;
    if (type) *type = nullptr;
    if (_wcsicmp(name, L"WScript") != 0) return TYPE_E_ELEMENTNOTFOUND;
    if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
      *item = static_cast<IDispatch*>(&wscript_);
      wscript_.AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR* version) override {
    *version = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
    EXCEPINFO info{};
    error->GetExceptionInfo(&info);
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    const bool quit = wscript_.quit_requested && info.scode == ScriptObject::kQuitRequested;
    if (!quit) {
      DWORD context = 0;
      ULONG line = 0;
      LONG column = 0;
      error->GetSourcePosition(&context, &line, &column);
      wchar_t head[96];
      swprintf(head, 96, L"SCRIPT ERROR line %lu: 0x%08lX ", line + 1,
               static_cast<unsigned long>(info.scode ? info.scode : info.wCode));
      PrintLine(head + std::wstring(info.bstrDescription ? info.bstrDescription : L""));
      failed = true;
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

 protected:
  bool Answers(REFIID iid) const override { return IsEqualIID(iid, kIidActiveScriptSite); }

 private:
  ScriptObject& wscript_;
};

int RunScript(const std::wstring& code, std::vector<std::wstring> arguments) {
  CLSID engine_id{};
  IActiveScript* script = nullptr;
  IActiveScriptParse* parse = nullptr;
  if (FAILED(CLSIDFromProgID(L"VBScript", &engine_id)) ||
      FAILED(CoCreateInstance(engine_id, nullptr, CLSCTX_INPROC_SERVER, kIidActiveScript,
                              reinterpret_cast<void**>(&script))) ||
      FAILED(script->QueryInterface(kIidActiveScriptParse, reinterpret_cast<void**>(&parse)))) {
    PrintLine(L"SCRIPT HOST: the VBScript engine is not available");
    if (script) script->Release();
    return 3;
  }
  ScriptObject* wscript = new ScriptObject(std::move(arguments));
  wscript->SetScript(script);
  Site* site = new Site(*wscript);

  HRESULT hr = script->SetScriptSite(site);
  if (SUCCEEDED(hr)) hr = parse->InitNew();
  if (SUCCEEDED(hr))
    hr = script->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_NOCODE);
  if (SUCCEEDED(hr)) {
    EXCEPINFO info{};
    hr = parse->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE,
                                nullptr, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
  if (SUCCEEDED(hr) || wscript->quit_requested) script->SetScriptState(SCRIPTSTATE_CONNECTED);
  const bool hard_failure = FAILED(hr) && !wscript->quit_requested && !site->failed;
  if (hard_failure) {
    wchar_t text[64];
    swprintf(text, 64, L"SCRIPT HOST: the script did not run (0x%08lX)",
             static_cast<unsigned long>(hr));
    PrintLine(text);
  }

  const int status = site->failed || hard_failure ? 1 : wscript->exit_code;
  wscript->Disconnect();
  script->Close();
  parse->Release();
  script->Release();
  site->Release();
  wscript->Release();
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: script_host FILE.vbs [ARGUMENT...]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::printf("script_host: cannot read the script\n");
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> arguments(argv + 2, argv + argc);
  if (FAILED(CoInitialize(nullptr))) return 2;
  const int status = RunScript(kestova::server::Widen(bytes), std::move(arguments));
  CoUninitialize();
  return status;
}
