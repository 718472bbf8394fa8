#pragma once
// Small COM objects the Windows tests hand to the control: an event sink, a property
// change sink, a property bag and a stream that fills up. Each counts its own references
// and answers only the interfaces it implements.

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <map>
#include <string>
#include <vector>

namespace kestova::wintest {

// IUnknown for an object of one or more interfaces: IUnknown is the first interface, any
// other IID is what Find gives. With one interface, Answers names the IIDs it stands for.
template <class Interface, class... More>
class SimpleObject : public Interface, public More... {
 public:
  SimpleObject() = default;
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
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  if (object && SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer,
                                                 reinterpret_cast<void**>(&container)))) {
    container->FindConnectionPoint(iid, &point);
    container->Release();
  }
  return point;
}

// Advises sink on that point: the cookie, 0 when refused.
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
  }  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*,
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
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, value);
    if (FAILED(hr)) return hr;
    auto found = values.find(name);
    if (found != values.end()) VariantClear(&found->second);
    values[name] = copy;
    return S_OK;
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
