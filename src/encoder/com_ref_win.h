#pragma once
#include <unknwn.h>

#include <utility>

namespace Sorvane {

// An owned COM reference: released on reset and destruction, moved but never copied implicitly.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  // Takes over a reference the caller owns.
  static ComRef Adopt(T* ptr) {
    ComRef ref;
    ref.ptr_ = ptr;
    return ref;
  }
  // Adds a reference of its own.
  static ComRef Share(T* ptr) {
    if (ptr != nullptr)
      ptr->AddRef();
    return Adopt(ptr);
  }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For out-parameters: releases what is held first.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (ptr_ != nullptr)
      std::exchange(ptr_, nullptr)->Release();
  }

  template <typename U>
  ComRef<U> As() const {
    ComRef<U> other;
    if (ptr_ != nullptr)
      ptr_->QueryInterface(__uuidof(U), other.PutVoid());
    return other;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace Sorvane
