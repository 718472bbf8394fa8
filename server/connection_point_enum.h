#pragma once
// IEnumConnectionPoints over the control's fixed set of connection points. It holds a
// reference to each point (and so to the control) for as long as it lives.

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "server/com_ptr.h"

namespace kestova::server {

class ConnectionPointEnumerator final : public IEnumConnectionPoints {
 public:
  // Hands out a new enumerator with one reference.
  static HRESULT Create(const std::vector<IConnectionPoint*>& points, std::size_t position,
                        IEnumConnectionPoints** out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override;

 private:
  ConnectionPointEnumerator() = default;
  ~ConnectionPointEnumerator() = default;

  LONG references_ = 1;
  std::vector<ComPtr<IConnectionPoint>> points_;
  std::size_t position_ = 0;
};

}  // namespace kestova::server
