#include "update/self_replace.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"

namespace launcher {
namespace {

constexpr wchar_t kMovedAsidePrefix[] = L"~launcher";
constexpr wchar_t kMovedAsideSuffix[] = L".old";
// Enough names for the leftovers of earlier starts that Wine or Windows gave
// the same process id, and that could not be deleted yet.
constexpr unsigned kMovedAsideAttempts = 16;

struct FileIdentity {
  bool known = false;
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

FileIdentity IdentityOf(const wchar_t* path) {
  FileIdentity identity;
  // Attributes only: an image that runs is open without write sharing.
  ScopedFileHandle file(::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || !::GetFileInformationByHandle(file.Get(), &information)) return identity;
  identity.known = true;
  identity.volumeSerial = information.dwVolumeSerialNumber;
  identity.indexHigh = information.nFileIndexHigh;
  identity.indexLow = information.nFileIndexLow;
  return identity;
}

std::wstring OwnImagePath() {
  DWORD error = 0;
  return ReadModulePath(nullptr, error);
}

// Taken once, as early as it is asked for: after this process has moved its
// image aside, its module path names the new image.
const FileIdentity& OwnImageIdentity() {
  static const FileIdentity identity = IdentityOf(OwnImagePath().c_str());
  return identity;
}

bool IsLowerHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

// Consumes one to eight lowercase hexadecimal digits.
bool SkipHexNumber(const wchar_t*& text) {
  const wchar_t* start = text;
  while (IsLowerHex(*text) && text - start < 8) ++text;
  return text != start && !IsLowerHex(*text);
}

std::wstring FolderWithSeparator(const wchar_t* folder) {
  std::wstring result = folder;
  if (!result.empty() && !IsPathSeparator(result.back())) result += L'\\';
  return result;
}

// What SetFileInformationByHandle needs to rename a file to target.
std::vector<unsigned char> RenameRequest(const wchar_t* target, bool replace) {
  const std::size_t nameBytes = std::wcslen(target) * sizeof(wchar_t);
  std::vector<unsigned char> request(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* renameInfo = reinterpret_cast<FILE_RENAME_INFO*>(request.data());
  renameInfo->ReplaceIfExists = replace ? TRUE : FALSE;
  renameInfo->RootDirectory = nullptr;
  renameInfo->FileNameLength = static_cast<DWORD>(nameBytes);
  // The request's own FileName unit holds the terminator.
  std::memcpy(renameInfo->FileName, target, nameBytes + sizeof(wchar_t));
  return request;
}

bool Rename(HANDLE file, std::vector<unsigned char>& request) {
  return ::SetFileInformationByHandle(file, FileRenameInfo, request.data(),
                                      static_cast<DWORD>(request.size())) != FALSE;
}

}  // namespace

bool IsRunningImage(const wchar_t* path) {
  const FileIdentity& own = OwnImageIdentity();
  if (!own.known || path == nullptr) return false;
  const FileIdentity other = IdentityOf(path);
  return other.known && other.volumeSerial == own.volumeSerial &&
         other.indexHigh == own.indexHigh && other.indexLow == own.indexLow;
}

bool RenameOpenFile(HANDLE file, const wchar_t* target, bool replace) {
  std::vector<unsigned char> request = RenameRequest(target, replace);
  return Rename(file, request);
}

bool ReplaceRunningImage(HANDLE replacement, const wchar_t* imagePath) {
  std::size_t folderLength = std::wcslen(imagePath);
  while (folderLength > 0 && !IsPathSeparator(imagePath[folderLength - 1])) --folderLength;
  const std::wstring folder(imagePath, folderLength);

  // Everything is prepared first: the name is missing only between two
  // renames that follow each other directly.
  std::vector<unsigned char> takeName = RenameRequest(imagePath, false);
  std::wstring aside;
  for (unsigned attempt = 0; attempt < kMovedAsideAttempts; ++attempt) {
    wchar_t name[48];
    ::wsprintfW(name, L"%s%lx.%x%s", kMovedAsidePrefix, ::GetCurrentProcessId(), attempt,
                kMovedAsideSuffix);
    aside = folder + name;
    if (aside.size() >= MAX_PATH) return false;
    if (::MoveFileExW(imagePath, aside.c_str(), 0)) break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    aside.clear();
  }
  if (aside.empty()) return false;
  if (Rename(replacement, takeName)) return true;

  // The old image takes its name back; should even that fail, a copy of it
  // does, since a running image can still be read.
  if (!::MoveFileExW(aside.c_str(), imagePath, 0)) ::CopyFileW(aside.c_str(), imagePath, TRUE);
  return false;
}

bool IsMovedAsideImageName(const wchar_t* name) {
  const std::size_t prefixLength = std::wcslen(kMovedAsidePrefix);
  if (name == nullptr || std::wcsncmp(name, kMovedAsidePrefix, prefixLength) != 0) return false;
  const wchar_t* rest = name + prefixLength;
  if (!SkipHexNumber(rest) || *rest++ != L'.' || !SkipHexNumber(rest)) return false;
  return std::wcscmp(rest, kMovedAsideSuffix) == 0;
}

void RemoveMovedAsideImages(const wchar_t* folder) {
  if (folder == nullptr) return;
  const std::wstring base = FolderWithSeparator(folder);
  const std::wstring pattern = base + kMovedAsidePrefix + L"*" + kMovedAsideSuffix;
  WIN32_FIND_DATAW found = {};
  ScopedFindHandle find(::FindFirstFileW(pattern.c_str(), &found));
  if (!find) return;
  do {
    // The pattern also matches short names and longer extensions.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !IsMovedAsideImageName(found.cFileName)) {
      continue;
    }
    ::DeleteFileW((base + found.cFileName).c_str());
  } while (::FindNextFileW(find.Get(), &found));
}

void RemoveMovedAsideImages() {
  // The image's identity is taken now, before this start renames anything.
  OwnImageIdentity();
  const std::wstring image = OwnImagePath();
  const std::size_t separator = image.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return;
  RemoveMovedAsideImages(image.substr(0, separator + 1).c_str());
}

}  // namespace launcher
