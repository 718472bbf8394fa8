#pragma once
// The class factory of Tarvane. Aggregation is not supported.

#include <windows.h>
#include <unknwn.h>

namespace kestova::server {

class ClassFactory final : public IClassFactory {
 public:
  // Hands out a new factory with one reference (counted as a live object of the module).
  static HRESULT Create(REFIID iid, void** out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ClassFactory();
  ~ClassFactory();
  LONG references_ = 1;
};

}  // namespace kestova::server
