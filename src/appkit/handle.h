// One move-only owner for the Windows handles the program opens. Closing
// keeps GetLastError() as it was, so an error code read after a scope that
// closed handles is still the failed call's.
#ifndef RAVEN_APPKIT_HANDLE_H
#define RAVEN_APPKIT_HANDLE_H

#include <windows.h>
#include <wininet.h>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;
  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) noexcept : h_(o.Take()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) Reset(o.Take());
    return *this;
  }

  Handle Get() const { return h_; }
  bool IsValid() const { return Traits::IsValid(h_); }
  explicit operator bool() const { return IsValid(); }
  [[nodiscard]] Handle Take() {
    Handle h = h_;
    h_ = Traits::Null();
    return h;
  }
  void Reset(Handle h = Traits::Null()) {
    if (Traits::IsValid(h_)) {
      DWORD saved = GetLastError();
      Traits::Close(h_);
      SetLastError(saved);
    }
    h_ = h;
  }
  Handle* Receive() {
    Reset();
    return &h_;
  }

 private:
  Handle h_ = Traits::Null();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
  }
  static void Close(Handle h) { CloseHandle(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};

// WinINet is loaded at first use (appkit/system_library.h); a handle exists
// only once it is.
void CloseInternetHandle(HINTERNET h);

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { CloseInternetHandle(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedInternetHandle = ScopedHandle<InternetHandleTraits>;

#endif
