// RAII owners for the Win32 handle kinds the program uses. Each closes its
// handle exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

// Traits: Invalid() is the value that owns nothing, Close(h) releases h.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool Valid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }
  Handle Get() const { return handle_; }

  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
  // Closes the handle held; returns false when the close itself failed.
  bool Reset(Handle handle = Traits::Invalid()) {
    const Handle old = std::exchange(handle_, handle);
    return old == Traits::Invalid() || Traits::Close(old);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {  // processes, threads, snapshots: NULL means none
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};
struct FileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE means none
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};
struct FindHandleTraits {  // FindFirstFile searches
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return FindClose(h) != FALSE; }
};

struct IconHandleTraits {  // icons made by LoadImage without LR_SHARED
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return DestroyIcon(h) != FALSE; }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using IconHandle = UniqueHandle<IconHandleTraits>;
