#include "launcher/dll_search.h"

namespace launcher {

bool RestrictDllSearchToSystemFolder(HMODULE kernel32) {
  // Looked up at run time: the launcher must still start where it is missing.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const FARPROC address =
      kernel32 != nullptr ? ::GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
  if (address != nullptr) {
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(address));
    if (setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  }
  ::SetDllDirectoryW(L"");
  return false;
}

}  // namespace launcher
