#include "update/update_files.h"

#include <windows.h>

#include <cstdio>

namespace launcher {

void ClearReadOnly(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) !=
          FILE_ATTRIBUTE_READONLY) {
    return;
  }
  ::SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool RemoveUpdateArchive(const char* path) {
  if (std::remove(path) == 0) return true;
  ClearReadOnly(path);
  return std::remove(path) == 0;
}

}  // namespace launcher
