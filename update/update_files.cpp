#include "update/update_files.h"

#include <windows.h>

namespace launcher {

void ClearReadOnly(const wchar_t* path) {
  const DWORD attributes = ::GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) !=
          FILE_ATTRIBUTE_READONLY) {
    return;
  }
  ::SetFileAttributesW(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool RemoveUpdateArchive(const wchar_t* path) {
  if (::DeleteFileW(path)) return true;
  ClearReadOnly(path);
  return ::DeleteFileW(path) != FALSE;
}

}  // namespace launcher
