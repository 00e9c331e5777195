// EnsureFolder: the folders of a path made by name, for targets the caller
// gives as absolute paths.
#include <windows.h>

#include <cwchar>

#include "launcher/base/client_contract.h"
#include "launcher/base/text_helpers.h"
#include "update/archive.h"

namespace launcher {
namespace {

// Joins root (may be null) and the first length units of folder; false when
// the result would not fit a path buffer.
bool JoinFolder(const wchar_t* root, const wchar_t* folder, std::size_t length,
                wchar_t (&out)[kPathBufferSize]) {
  const std::size_t rootLength = root == nullptr ? 0 : std::wcslen(root);
  if (rootLength + length >= kPathBufferSize) return false;
  if (rootLength != 0) std::wmemcpy(out, root, rootLength);
  std::wmemcpy(out + rootLength, folder, length);
  out[rootLength + length] = 0;
  return true;
}

void EnsureFolderPart(const wchar_t* root, const wchar_t* folder, std::size_t length) {
  // Trailing separators name the same folder.
  while (length > 1 && IsPathSeparator(folder[length - 1])) --length;
  if (length == 0) return;
  std::size_t last = length;
  while (last > 0 && !IsPathSeparator(folder[last - 1])) --last;
  // last is one past the separator; a separator at the very start has no parent.
  if (last > 1) EnsureFolderPart(root, folder, last - 1);
  wchar_t joined[kPathBufferSize];
  // A folder that is there already refuses, and stays as it is.
  if (JoinFolder(root, folder, length, joined)) (void)::CreateDirectoryW(joined, nullptr);
}

}  // namespace

void EnsureFolder(const wchar_t* root, const wchar_t* folder) {
  if (root != nullptr) (void)::CreateDirectoryW(root, nullptr);
  if (folder == nullptr) return;
  EnsureFolderPart(root, folder, std::wcslen(folder));
}

}  // namespace launcher
