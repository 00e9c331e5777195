#include "update/self_replace.h"

#include <vector>

#include "launcher/base/file_identity.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "update/archive.h"
#include "update/archive_rules.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "update/replacement.h"
#include "zlib.h"

namespace launcher {
namespace {

constexpr wchar_t kStagedPrefix[] = L"~launcher.";
constexpr wchar_t kStagedSuffix[] = L".exe";
// What launchers before the staged swap left: "~launcher<pid>.<n>.old".
constexpr wchar_t kMovedAsidePrefix[] = L"~launcher";
constexpr wchar_t kMovedAsideSuffix[] = L".old";

struct OwnIdentity {
  bool known = false;
  FileIdentity identity;
};

// Taken once: the image a process started from stays that file whatever
// names it gets later.
const OwnIdentity& OwnImageIdentity() {
  static const OwnIdentity own = [] {
    OwnIdentity taken;
    taken.known = ReadFileIdentity(OwnImagePath().c_str(), taken.identity);
    return taken;
  }();
  return own;
}

std::uint64_t WriteTimeOf(const WIN32_FIND_DATAW& found) {
  return (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
         found.ftLastWriteTime.dwLowDateTime;
}

}  // namespace

bool IsRunningImage(const wchar_t* path) {
  const OwnIdentity& own = OwnImageIdentity();
  FileIdentity other;
  return own.known && path != nullptr && ReadFileIdentity(path, other) && other == own.identity;
}

bool IsRunningImage(HANDLE file) {
  const OwnIdentity& own = OwnImageIdentity();
  FileIdentity other;
  return own.known && ReadFileIdentity(file, other) && other == own.identity;
}

std::wstring StagedLauncherName(std::uint32_t size, std::uint32_t crc) {
  wchar_t name[48];
  ::wsprintfW(name, L"%s%lx.%lx%s", kStagedPrefix, static_cast<unsigned long>(size),
              static_cast<unsigned long>(crc), kStagedSuffix);
  return name;
}

bool ParseStagedLauncherName(const wchar_t* name, std::uint32_t& size, std::uint32_t& crc) {
  return ParseNumberedName(name, kStagedPrefix, kStagedSuffix, size, crc);
}

bool IsSelfReplacementName(const wchar_t* name) {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  return ParseStagedLauncherName(name, first, second) ||
         ParseNumberedName(name, kMovedAsidePrefix, kMovedAsideSuffix, first, second);
}

bool HasContent(const std::wstring& path, std::uint64_t size, std::uint32_t crc) {
  // Read while it may be running: a running image is shared for reading.
  const ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER length = {};
  if (!file || !::GetFileSizeEx(file.Get(), &length) ||
      static_cast<std::uint64_t>(length.QuadPart) != size) {
    return false;
  }
  std::vector<unsigned char> buffer(65536);
  uLong sum = ::crc32(0L, Z_NULL, 0);
  DWORD got = 0;
  while (::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         got > 0) {
    sum = ::crc32(sum, buffer.data(), got);
  }
  return static_cast<std::uint32_t>(sum) == crc;
}

bool IsWholeStagedImage(const std::wstring& path) {
  std::uint32_t size = 0;
  std::uint32_t crc = 0;
  return ParseStagedLauncherName(FileNameOf(path.c_str()), size, crc) &&
         HasContent(path, size, crc);
}

std::wstring TakeStagedLauncher(const std::wstring& folder) {
  // Held only when the listing finds an image to take or to delete.
  WIN32_FIND_DATAW found = {};
  ScopedFindHandle find(::FindFirstFileW((folder + kMovedAsidePrefix + L"*").c_str(), &found));
  if (!find) return std::wstring();
  InstallTree tree(NewRunId());
  if (tree.OpenRoot(folder) != kArchiveOk) return std::wstring();
  std::wstring newest;
  std::uint64_t newestTime = 0;
  std::vector<std::wstring> obsolete;
  do {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (ParseNumberedName(found.cFileName, kMovedAsidePrefix, kMovedAsideSuffix, first, second)) {
      obsolete.push_back(found.cFileName);
    } else if (ParseStagedLauncherName(found.cFileName, first, second)) {
      // The newest whole image stays; a damaged or an older one goes.
      const bool newer = newest.empty() || WriteTimeOf(found) > newestTime;
      if (newer && HasContent(folder + found.cFileName, first, second)) {
        if (!newest.empty()) obsolete.push_back(newest);
        newest = found.cFileName;
        newestTime = WriteTimeOf(found);
      } else {
        obsolete.push_back(found.cFileName);
      }
    }
  } while (::FindNextFileW(find.Get(), &found));
  // One that still runs (a swap in progress, say) stays for a later start.
  for (const std::wstring& name : obsolete) (void)DeleteLeftover(tree, std::wstring(), name);
  return newest.empty() ? std::wstring() : folder + newest;
}

void DeleteSupersededStagedLaunchers(InstallTree& tree, const std::wstring& kept) {
  if (::GetFileAttributesW((tree.RootPath() + kept).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  WIN32_FIND_DATAW found = {};
  ScopedFindHandle find(
      ::FindFirstFileW((tree.RootPath() + kStagedPrefix + L"*").c_str(), &found));
  if (!find) return;
  std::vector<std::wstring> superseded;
  do {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        ParseStagedLauncherName(found.cFileName, size, crc) &&
        ::CompareStringOrdinal(found.cFileName, -1, kept.c_str(), -1, TRUE) != CSTR_EQUAL) {
      superseded.push_back(found.cFileName);
    }
  } while (::FindNextFileW(find.Get(), &found));
  find.Reset();
  for (const std::wstring& name : superseded) (void)DeleteLeftover(tree, std::wstring(), name);
}

DWORD SwapInStagedLauncher(const std::wstring& staged) {
  const std::wstring folder = FolderPartOf(staged);
  if (folder.empty()) return ERROR_INVALID_NAME;
  const std::wstring target = folder + kLauncherFileName;
  // A read-only launcher.exe would refuse the rename.
  InstallTree tree(NewRunId());
  if (tree.OpenRoot(folder) == kArchiveOk) ClearOwnReadOnlyInRoot(tree, kLauncherFileName);
  if (::MoveFileExW(staged.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return ERROR_SUCCESS;
  }
  return ::GetLastError();
}

}  // namespace launcher
