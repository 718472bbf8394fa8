#pragma once
// What the programs run under Wine share (GoogleTest is not built for mingw here): a check
// recorder that ends with "N passed, N failed" and the program's success line, and the
// small COM objects handed to the control, each counting its own references.

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestova::wintest {

class Checks {
 public:
  bool That(bool ok, const std::string& what) {
    ++(ok ? passed_ : failed_);
    if (!ok) std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
    return ok;
  }
  int Finish(const char* success_line) const {  // the process exit code
    std::printf("%d passed, %d failed\n%s\n", passed_, failed_, failed_ ? "" : success_line);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

// Wide text as ASCII for the check messages (anything else shows as '?').
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

inline std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

template <class T>
void** Out(T** pointer) {
  return reinterpret_cast<void**>(pointer);
}

// An export of module, through void*: GetProcAddress's own type says nothing of the real one.
template <class Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// An interface pointer released when it goes out of scope (null holds nothing).
struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <class Interface>
using Held = std::unique_ptr<Interface, Releaser>;

// The object's Interface for iid, null when it has none; the caller releases it.
template <class Interface>
Interface* Query(IUnknown* object, REFIID iid) {
  Interface* out = nullptr;
  if (object) object->QueryInterface(iid, Out(&out));
  return out;
}
template <class Interface>
Held<Interface> Hold(IUnknown* object, REFIID iid) {
  return Held<Interface>(Query<Interface>(object, iid));
}

// Owners of VARIANTs and interface pointers are never copied.
struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

// An argument list in the order a caller writes it, positional ones first, then any
// named ones (Named gives the name of the value added next); owns its values.
class Args : NoCopy {
 public:
  ~Args() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  Args& I2(short x) { Add(VT_I2).iVal = x; return *this; }
  Args& I4(long x) { Add(VT_I4).lVal = x; return *this; }
  Args& Text(const wchar_t* x) { Add(VT_BSTR).bstrVal = SysAllocString(x); return *this; }
  Args& Bool(bool x) { Add(VT_BOOL).boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return *this; }
  // What a script passes for a variable: a reference to its VARIANT.
  Args& Ref(VARIANT* x) { Add(VT_VARIANT | VT_BYREF).pvarVal = x; return *this; }
  Args& RefI2(short* x) { Add(VT_I2 | VT_BYREF).piVal = x; return *this; }
  Args& RefI4(long* x) { Add(VT_I4 | VT_BYREF).plVal = x; return *this; }
  Args& Missing() { Add(VT_ERROR).scode = DISP_E_PARAMNOTFOUND; return *this; }
  Args& RefError(SCODE* x) { Add(VT_ERROR | VT_BYREF).pscode = x; return *this; }
  Args& Array(SAFEARRAY* x, VARTYPE element) { Add(VT_ARRAY | element).parray = x; return *this; }
  Args& Named(const wchar_t* name) { names_.push_back(name); return *this; }
  const std::vector<const wchar_t*>& names() const { return names_; }
  // rgvarg order: the named values as named, then the positional ones last first.
  std::vector<VARIANT> InDispatchOrder() const {
    const auto positional = static_cast<std::ptrdiff_t>(values_.size() - names_.size());
    std::vector<VARIANT> order(values_.begin() + positional, values_.end());
    order.insert(order.end(), values_.rend() - positional, values_.rend());
    return order;
  }

 private:
  VARIANT& Add(int type) {
    VARIANT& value = values_.emplace_back();
    VariantInit(&value);
    value.vt = static_cast<VARTYPE>(type);
    return value;
  }
  std::vector<VARIANT> values_;
  std::vector<const wchar_t*> names_;
};

struct Outcome : NoCopy {
  HRESULT hr = E_FAIL;
  HRESULT names_hr = E_FAIL;  // GetIDsOfNames for the member and the argument names
  std::vector<DISPID> ids;    // what it answered
  UINT argument_error = ~0u;
  VARIANT result{};
  EXCEPINFO error{};
  ~Outcome() {
    VariantClear(&result);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
  }
  long Long() const {
    VARIANT converted{};
    return SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&result), 0, VT_I4))
               ? converted.lVal
               : -99999;
  }
  std::wstring Description() const { return error.bstrDescription ? error.bstrDescription : L""; }
};

// The way Basic clients call: the names through GetIDsOfNames, then Invoke; a put's value
// is the one named DISPID_PROPERTYPUT, after any other named ones.
inline void Call(IDispatch* dispatch, Outcome& out, const wchar_t* name, const Args& args,
          WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
  std::vector<LPOLESTR> names = {const_cast<LPOLESTR>(name)};
  for (const wchar_t* named : args.names()) names.push_back(const_cast<LPOLESTR>(named));
  out.ids.assign(names.size(), 0);
  out.names_hr = dispatch->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                         LOCALE_USER_DEFAULT, out.ids.data());
  std::vector<DISPID> named(out.ids.begin() + 1, out.ids.end());
  if (flags == DISPATCH_PROPERTYPUT) named.push_back(DISPID_PROPERTYPUT);
  std::vector<VARIANT> arguments = args.InDispatchOrder();
  DISPPARAMS parameters{arguments.data(), named.data(), static_cast<UINT>(arguments.size()),
                        static_cast<UINT>(named.size())};
  out.hr = dispatch->Invoke(out.ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                            flags == DISPATCH_PROPERTYPUT ? nullptr : &out.result, &out.error,
                            &out.argument_error);
}

// IUnknown for an object of one or more interfaces: IUnknown is the first interface, any
// other IID is what Find gives. With one interface, Answers names the IIDs it stands for.
template <class Interface, class... More>
class SimpleObject : public Interface, public More... {
 public:
  virtual ~SimpleObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<Interface*>(this) : Find(iid);
    if (!*out) return E_NOINTERFACE;
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
  }

 protected:
  virtual void* Find(REFIID iid) { return Answers(iid) ? static_cast<Interface*>(this) : nullptr; }
  virtual bool Answers(REFIID) const { return false; }

 private:
  LONG references_ = 1;
};

// The object's connection point for iid, null when it has none; the caller releases it.
inline IConnectionPoint* FindPoint(IUnknown* object, REFIID iid) {
  IConnectionPoint* point = nullptr;
  if (auto* container = Query<IConnectionPointContainer>(object, IID_IConnectionPointContainer)) {
    container->FindConnectionPoint(iid, &point);
    container->Release();
  }
  return point;
}

inline DWORD Connect(IUnknown* object, REFIID iid, IUnknown* sink) {
  DWORD cookie = 0;
  if (IConnectionPoint* point = FindPoint(object, iid)) {
    point->Advise(sink, &cookie);
    point->Release();
  }
  return cookie;
}

// Receives MelsecOut through IDispatch::Invoke; optionally overwrites Result to prove
// that nothing it writes reaches anyone else.
class EventSink : public SimpleObject<IDispatch> {
 public:
  EventSink(REFIID events_iid, bool scribble) : events_iid_(events_iid), scribble_(scribble) {}
  std::vector<std::wstring> received;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || !parameters || parameters->cArgs != 1) return DISP_E_MEMBERNOTFOUND;
    VARIANT& argument = parameters->rgvarg[0];
    if (argument.vt != (VT_BSTR | VT_BYREF) || !argument.pbstrVal) return DISP_E_TYPEMISMATCH;
    received.emplace_back(*argument.pbstrVal ? *argument.pbstrVal : L"");
    if (scribble_) {
      SysFreeString(*argument.pbstrVal);
      *argument.pbstrVal = SysAllocString(L"written by a handler");
    }
    return S_OK;
  }

 protected:
  bool Answers(REFIID iid) const override {
    return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_iid_);
  }

 private:
  IID events_iid_;
  bool scribble_;
};

class PropertySink : public SimpleObject<IPropertyNotifySink> {
 public:
  std::vector<DISPID> changed;
  HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override {
    changed.push_back(id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }

 protected:
  bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IPropertyNotifySink); }
};

// Keeps what it is given, in the order written; a missing key reads as E_INVALIDARG.
class MemoryBag : public SimpleObject<IPropertyBag> {
 public:
  ~MemoryBag() override {
    for (auto& entry : values) VariantClear(&entry.second);
  }
  std::vector<std::wstring> written;
  std::map<std::wstring, VARIANT> values;

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    return VariantCopy(value, &found->second);
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    written.emplace_back(name);
    return VariantCopy(&values[name], value);  // a new entry starts as VT_EMPTY
  }

 protected:
  bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_IPropertyBag); }
};

// Takes `room` bytes, then fails as a full disk does; the save that meets it fails part-way.
class FullStream : public SimpleObject<IStream> {
 public:
  explicit FullStream(ULONG room) : room_(room) {}
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG count, ULONG* written) override {
    const ULONG taken = count < room_ ? count : room_;
    room_ -= taken;
    if (written) *written = taken;
    return taken > 0 ? S_OK : STG_E_MEDIUMFULL;
  }
  using U = ULARGE_INTEGER;
  HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, U*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSize(U) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, U, U*, U*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(U, U, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(U, U, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 protected:
  bool Answers(REFIID iid) const override {
    return IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream);
  }

 private:
  ULONG room_;
};

}  // namespace kestova::wintest
