#include "update/archive_folders.h"

#include <windows.h>

#include <cwchar>

#include "launcher/base/client_contract.h"
#include "launcher/base/text_helpers.h"
#include "update/archive.h"

namespace launcher {
namespace {

using FolderSet = std::unordered_set<std::wstring>;

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

// The folder as a key for the folders already made sure of: trailing
// separators do not make it another folder.
std::wstring FolderKey(const wchar_t* joined) {
  std::size_t length = std::wcslen(joined);
  while (length > 1 && IsPathSeparator(joined[length - 1])) --length;
  return std::wstring(joined, length);
}

// A plain file in the folder's place gives way only to a declared folder.
bool FolderExistsOrWasMade(const wchar_t* path, const FolderSet* declared) {
  const DWORD attributes = ::GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    // A read-only file stays, and the file items below it fail.
    if (declared == nullptr || declared->count(FolderKey(path)) == 0 || !::DeleteFileW(path)) {
      return false;
    }
  }
  return ::CreateDirectoryW(path, nullptr) != FALSE;
}

void EnsureFolderPart(const wchar_t* root, const wchar_t* folder, std::size_t length,
                      FolderSet* known, const FolderSet* declared = nullptr) {
  // Trailing separators name the same folder.
  while (length > 1 && IsPathSeparator(folder[length - 1])) --length;
  if (length == 0) return;
  wchar_t joined[kPathBufferSize];
  if (!JoinFolder(root, folder, length, joined)) return;
  std::wstring key;
  if (known != nullptr) {
    key = FolderKey(joined);
    if (known->count(key) != 0) return;
  }
  std::size_t last = length;
  while (last > 0 && !IsPathSeparator(folder[last - 1])) --last;
  // last is one past the separator; a separator at the very start has no parent.
  if (last > 1) EnsureFolderPart(root, folder, last - 1, known, declared);
  if (FolderExistsOrWasMade(joined, declared) && known != nullptr) known->insert(std::move(key));
}

void EnsureRootFolder(const wchar_t* root, FolderSet* known) {
  if (root == nullptr) return;
  if (known != nullptr && known->count(FolderKey(root)) != 0) return;
  if (FolderExistsOrWasMade(root, nullptr) && known != nullptr) {
    known->insert(FolderKey(root));
  }
}

}  // namespace

void ArchiveFolders::EnsureRoot(const wchar_t* root) {
  if (root == nullptr || rootEnsured_) return;
  EnsureRootFolder(root, &known_);
  rootEnsured_ = true;
}

void ArchiveFolders::MakeFolderItem(const wchar_t* root, const wchar_t* target,
                                    std::size_t length) {
  EnsureFolderPart(root, target, length, &known_);
  while (length > 1 && IsPathSeparator(target[length - 1])) --length;
  wchar_t joined[kPathBufferSize];
  if (JoinFolder(root, target, length, joined)) declared_.insert(FolderKey(joined));
}

void ArchiveFolders::MakeFoldersFor(const wchar_t* root, const wchar_t* target,
                                    std::size_t folderLength) {
  EnsureFolderPart(root, target, folderLength, &known_, &declared_);
}

void EnsureFolder(const wchar_t* root, const wchar_t* folder) {
  EnsureRootFolder(root, nullptr);
  if (folder == nullptr) return;
  EnsureFolderPart(root, folder, std::wcslen(folder), nullptr);
}

}  // namespace launcher
