#include "server/connection_point.h"

#include <utility>

namespace kestova::server {

ConnectionPoint::ConnectionPoint(IUnknown& owner, IConnectionPointContainer& container,
                                 REFIID accepted_iid, bool accept_plain_dispatch)
    : owner_(owner),
      container_(container),
      accepted_iid_(accepted_iid),
      accept_plain_dispatch_(accept_plain_dispatch) {}

ConnectionPoint::~ConnectionPoint() { DisconnectAll(); }

void ConnectionPoint::DisconnectAll() {
  // Each slot is emptied before its sink is released: a sink that unadvises itself on its
  // way out then finds no connection, instead of being released a second time.
  for (std::size_t slot = 0; slot < sinks_.size(); ++slot) {
    if (IUnknown* sink = std::exchange(sinks_[slot], nullptr)) sink->Release();
  }
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ConnectionPoint::AddRef() { return owner_.AddRef(); }
ULONG STDMETHODCALLTYPE ConnectionPoint::Release() { return owner_.Release(); }

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = accepted_iid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE
ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = &container_;
  container_.AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  IUnknown* accepted = nullptr;
  if (FAILED(sink->QueryInterface(accepted_iid_, reinterpret_cast<void**>(&accepted)))) {
    if (!accept_plain_dispatch_ ||
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&accepted)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
  }
  for (std::size_t slot = 0; slot < sinks_.size(); ++slot) {
    if (!sinks_[slot]) {
      sinks_[slot] = accepted;
      *cookie = static_cast<DWORD>(slot + 1);
      return S_OK;
    }
  }
  try {
    sinks_.push_back(accepted);
  } catch (...) {
    accepted->Release();
    return E_OUTOFMEMORY;
  }
  *cookie = static_cast<DWORD>(sinks_.size());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
  IUnknown* sink = sinks_[cookie - 1];
  sinks_[cookie - 1] = nullptr;
  sink->Release();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace kestova::server
