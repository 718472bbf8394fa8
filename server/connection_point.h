#pragma once
// One outgoing interface of the control: the sinks that hosts connected through Advise.
// The point lives inside the control object and shares its lifetime (AddRef and Release
// go to the owner), as a connection point must keep its container alive.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "server/com_ptr.h"

namespace kestova::server {

class ConnectionPoint : public IConnectionPoint {
 public:
  // accepted_iid: the interface a sink must answer to; a dispatch-only source also takes
  // plain IDispatch sinks (script engines hand those out).
  ConnectionPoint(IUnknown& owner, IConnectionPointContainer& container, REFIID accepted_iid,
                  bool accept_plain_dispatch);
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Releases every sink; the owner calls it first thing when it is destroyed.
  void DisconnectAll();

  // The connected sinks at this moment, each with its own reference, so a sink that
  // disconnects while being called stays valid until the call returns.
  template <class Sink>
  std::vector<ComPtr<Sink>> Sinks() const {
    std::vector<ComPtr<Sink>> result;
    for (IUnknown* sink : sinks_) {
      if (sink) result.push_back(ComPtr<Sink>::Share(static_cast<Sink*>(sink)));
    }
    return result;
  }

 private:
  IUnknown& owner_;
  IConnectionPointContainer& container_;
  IID accepted_iid_;
  bool accept_plain_dispatch_;
  std::vector<IUnknown*> sinks_;  // slot k holds cookie k + 1; null when free
};

}  // namespace kestova::server
