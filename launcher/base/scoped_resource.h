// One small owner for every Win32 resource the launcher holds: kernel handles,
// directory searches, modules, registry keys, COM interface pointers, system
// memory, mapped views and runtime file streams. The traits say what "empty"
// is and how the resource is given back.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <utility>

namespace launcher {

template <typename T, typename Traits>
class ScopedResource {
 public:
  ScopedResource() noexcept : value_(Traits::Empty()) {}
  explicit ScopedResource(T value) noexcept : value_(value) {}
  ScopedResource(const ScopedResource&) = delete;
  ScopedResource& operator=(const ScopedResource&) = delete;
  ScopedResource(ScopedResource&& other) noexcept : value_(other.Release()) {}
  ScopedResource& operator=(ScopedResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedResource() { Reset(); }

  bool IsValid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return IsValid(); }
  T Get() const noexcept { return value_; }
  // For interface pointers: calls go straight to the held object.
  T operator->() const noexcept { return value_; }

  // For out-parameters: frees what is held and hands out the slot.
  T* Receive() noexcept {
    Reset();
    return &value_;
  }

  [[nodiscard]] T Release() noexcept {
    T value = value_;
    value_ = Traits::Empty();
    return value;
  }

  // Freeing keeps the thread's last-error value: a caller that gives up a
  // resource after a failed call still reads that call's error.
  void Reset(T value = Traits::Empty()) noexcept {
    if (Traits::IsValid(value_)) {
      const DWORD error = ::GetLastError();
      Traits::Free(value_);
      ::SetLastError(error);
    }
    value_ = value;
  }

 private:
  T value_;
};

// Handles that report failure as null (processes, tokens, events).
struct HandleTraits {
  static HANDLE Empty() noexcept { return nullptr; }
  static bool IsValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) noexcept { ::CloseHandle(h); }
};

// Handles that report failure as INVALID_HANDLE_VALUE (files, pipes, snapshots).
struct FileHandleTraits {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) noexcept { ::CloseHandle(h); }
};

// Directory searches, which end with FindClose rather than CloseHandle.
struct FindHandleTraits {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) noexcept { ::FindClose(h); }
};

// Modules loaded with LoadLibrary.
struct ModuleTraits {
  static HMODULE Empty() noexcept { return nullptr; }
  static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
  static void Free(HMODULE module) noexcept { ::FreeLibrary(module); }
};

struct RegKeyTraits {
  static HKEY Empty() noexcept { return nullptr; }
  static bool IsValid(HKEY key) noexcept { return key != nullptr; }
  static void Free(HKEY key) noexcept { ::RegCloseKey(key); }
};

template <typename Interface>
struct ComTraits {
  static Interface* Empty() noexcept { return nullptr; }
  static bool IsValid(const Interface* p) noexcept { return p != nullptr; }
  static void Free(Interface* p) noexcept { p->Release(); }
};

// Memory the system hands out with LocalAlloc (security descriptors).
struct LocalMemoryTraits {
  static HLOCAL Empty() noexcept { return nullptr; }
  static bool IsValid(HLOCAL p) noexcept { return p != nullptr; }
  static void Free(HLOCAL p) noexcept { ::LocalFree(p); }
};

// Views of a file mapping.
struct MappedViewTraits {
  static void* Empty() noexcept { return nullptr; }
  static bool IsValid(const void* p) noexcept { return p != nullptr; }
  static void Free(void* p) noexcept { ::UnmapViewOfFile(p); }
};

// C runtime file streams, for libraries that read from a FILE*.
struct FileStreamTraits {
  static std::FILE* Empty() noexcept { return nullptr; }
  static bool IsValid(const std::FILE* f) noexcept { return f != nullptr; }
  static void Free(std::FILE* f) noexcept { std::fclose(f); }
};

using ScopedHandle = ScopedResource<HANDLE, HandleTraits>;
using ScopedFileHandle = ScopedResource<HANDLE, FileHandleTraits>;
using ScopedFindHandle = ScopedResource<HANDLE, FindHandleTraits>;
using ScopedModule = ScopedResource<HMODULE, ModuleTraits>;
using ScopedRegKey = ScopedResource<HKEY, RegKeyTraits>;
template <typename Interface>
using ScopedComPtr = ScopedResource<Interface*, ComTraits<Interface>>;
using ScopedFileStream = ScopedResource<std::FILE*, FileStreamTraits>;
using ScopedLocalMemory = ScopedResource<HLOCAL, LocalMemoryTraits>;
using ScopedMappedView = ScopedResource<void*, MappedViewTraits>;

// Pairs CoInitialize with CoUninitialize for the length of one call. A thread
// already in another apartment refuses the call (RPC_E_CHANGED_MODE); its
// apartment is then not ours to leave.
class ScopedComInitializer {
 public:
  ScopedComInitializer() noexcept : result_(::CoInitialize(nullptr)) {}
  ~ScopedComInitializer() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ScopedComInitializer(const ScopedComInitializer&) = delete;
  ScopedComInitializer& operator=(const ScopedComInitializer&) = delete;

 private:
  HRESULT result_;
};

}  // namespace launcher
