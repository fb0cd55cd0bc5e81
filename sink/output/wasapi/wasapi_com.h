#pragma once
// The little of COM the WASAPI backend needs: a reference that releases what
// it holds, the calling thread's apartment for as long as it is needed, and
// the system's errors in words. Every WASAPI object of a stream is made, used
// and released on the one thread that renders it.
#include <windows.h>
// After windows.h, which it builds on.
#include <objbase.h>

#include <string>

namespace tavro::sink {

template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the calls that hand out a new reference.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// The calling thread in COM's multithreaded apartment until this goes:
// WASAPI's objects need no message pump there.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // S_FALSE (already in it) and RPC_E_CHANGED_MODE (a single-threaded one
  // the caller made) both leave COM usable.
  bool ready() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// "AUDCLNT_E_DEVICE_IN_USE (0x8889000A)", or the system's own text.
std::string hresultText(HRESULT result);
std::string utf8(const wchar_t* text);

}  // namespace tavro::sink
