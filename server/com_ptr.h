#pragma once
// An owning interface pointer: releases what it holds, adds a reference when copied.

#include <unknwn.h>

#include <utility>

namespace kestova::server {

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns.
  static ComPtr Adopt(Interface* raw) {
    ComPtr result;
    result.raw_ = raw;
    return result;
  }
  // Adds a reference of its own.
  static ComPtr Share(Interface* raw) {
    if (raw) raw->AddRef();
    return Adopt(raw);
  }
  ComPtr(const ComPtr& other) : raw_(other.raw_) {
    if (raw_) raw_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(raw_, other.raw_);
    return *this;
  }
  ~ComPtr() {
    if (raw_) raw_->Release();
  }

  Interface* get() const { return raw_; }
  Interface* operator->() const { return raw_; }
  explicit operator bool() const { return raw_ != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  Interface** Receive() {
    *this = ComPtr();
    return &raw_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

 private:
  Interface* raw_ = nullptr;
};

}  // namespace kestova::server
