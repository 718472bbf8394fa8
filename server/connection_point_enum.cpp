#include "server/connection_point_enum.h"

#include <new>

namespace kestova::server {

HRESULT ConnectionPointEnumerator::Create(const std::vector<IConnectionPoint*>& points,
                                          std::size_t position, IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* enumerator = new (std::nothrow) ConnectionPointEnumerator();
  if (!enumerator) return E_OUTOFMEMORY;
  try {
    for (IConnectionPoint* point : points) {
      enumerator->points_.push_back(ComPtr<IConnectionPoint>::Share(point));
    }
  } catch (...) {
    enumerator->Release();
    return E_OUTOFMEMORY;
  }
  enumerator->position_ = position;
  *out = enumerator;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnumerator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumConnectionPoints)) {
    return E_NOINTERFACE;
  }
  *out = static_cast<IEnumConnectionPoints*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE ConnectionPointEnumerator::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE ConnectionPointEnumerator::Release() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) delete this;
  return static_cast<ULONG>(remaining);
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnumerator::Next(ULONG count, IConnectionPoint** points,
                                                          ULONG* fetched) {
  if (!points || (count > 1 && !fetched)) return E_POINTER;
  ULONG given = 0;
  while (given < count && position_ < points_.size()) {
    points[given] = points_[position_].get();
    points[given]->AddRef();
    ++given;
    ++position_;
  }
  if (fetched) *fetched = given;
  return given == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnumerator::Skip(ULONG count) {
  const std::size_t left = points_.size() - position_;
  const bool enough = count <= left;
  position_ += enough ? count : left;
  return enough ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnumerator::Clone(IEnumConnectionPoints** out) {
  try {
    std::vector<IConnectionPoint*> raw;
    for (const auto& point : points_) raw.push_back(point.get());
    return Create(raw, position_, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kestova::server
