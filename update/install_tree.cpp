#include "update/install_tree.h"

#include <algorithm>
#include <iterator>

#include "launcher/base/text_helpers.h"
#include "update/archive.h"
#include "update/archive_rules.h"
#include "update/folder_handles.h"
#include "update/self_replace.h"

namespace launcher {
namespace {

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
// Without delete sharing: no one else can rename or remove a held folder.
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr int kTemporaryNameAttempts = 64;

std::wstring Joined(const std::wstring& location, const std::wstring& name) {
  if (!location.empty() && location.back() == L'\\') return location + name;
  return location + L'\\' + name;
}

bool SameName(const std::wstring& left, const std::wstring& right) {
  return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

int ArchiveResultOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return kArchiveOk;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_USER_MAPPED_FILE:
      return kArchiveTargetBusy;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kArchiveWriteFailed;
    default:
      return kArchiveCannotOpen;
  }
}

std::uint32_t NewRunId() {
  LARGE_INTEGER now = {};
  ::QueryPerformanceCounter(&now);
  const std::uint32_t mixed = static_cast<std::uint32_t>(now.QuadPart) ^
                              (::GetCurrentProcessId() * 2654435761u) ^
                              static_cast<std::uint32_t>(now.QuadPart >> 32);
  return mixed == 0 ? 1 : mixed;
}

std::wstring FoldedName(const std::wstring& name) {
  if (name.empty()) return name;
  std::wstring folded(name.size(), L'\0');
  const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(),
                                     static_cast<int>(name.size()), &folded[0],
                                     static_cast<int>(folded.size()), nullptr, nullptr, 0);
  if (length <= 0) return name;
  folded.resize(static_cast<std::size_t>(length));
  return folded;
}

std::wstring JoinedRelative(const std::wstring& parent, const std::wstring& name) {
  return parent.empty() ? name : parent + L'\\' + name;
}

bool IsWithin(const std::wstring& relative, const std::wstring& folder) {
  return relative.size() >= folder.size() &&
         (relative.size() == folder.size() || relative[folder.size()] == L'\\') &&
         ::CompareStringOrdinal(relative.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

InstallTree::InstallTree(std::uint32_t run) : run_(run) {}

int InstallTree::OpenRoot(const std::wstring& path) {
  root_.Reset(::CreateFileW(path.c_str(), kFolderAccess | SYNCHRONIZE, kFolderShare, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root_) return ArchiveResultOf(::GetLastError());
  rootLocation_ = VolumePathOf(root_.Get());
  if (rootLocation_.empty()) return kArchiveCannotOpen;
  volumeKnown_ = ReadVolumeSerial(root_.Get(), volume_);
  rootPath_ = path;
  if (!rootPath_.empty() && rootPath_.back() != L'\\' && rootPath_.back() != L'/') rootPath_ += L'\\';
  return kArchiveOk;
}

bool InstallTree::IsOnRootsVolume(HANDLE folder) const {
  // Where the volume cannot be told (Wine's tmpfs drives), the reparse point
  // and path checks stand alone: they find every link that leads elsewhere.
  DWORD volume = 0;
  return !volumeKnown_ || !ReadVolumeSerial(folder, volume) || volume == volume_;
}

bool InstallTree::IsPlainEntryAt(HANDLE entry, const std::wstring& folderRelative,
                                 const std::wstring& name) const {
  const auto folder = folders_.find(FoldedName(folderRelative));
  const std::wstring& location = folderRelative.empty() ? rootLocation_
                                 : folder != folders_.end() ? folder->second.location
                                                            : std::wstring();
  // A file cannot lie on another volume than its folder but through a link,
  // which its attributes or its path give away; a folder is asked for its
  // volume too.
  FileFacts facts;
  return !location.empty() && ReadFileFacts(entry, facts) &&
         (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsOnRootsVolume(entry)) &&
         SameName(VolumePathOf(entry), Joined(location, name));
}

int InstallTree::Folder(const std::wstring& relative, bool create, HANDLE& folder,
                        const DeclaredFolder& declared) {
  folder = nullptr;
  if (!root_) return kArchiveCannotOpen;
  if (relative.empty()) {
    folder = root_.Get();
    return kArchiveOk;
  }
  const std::wstring key = FoldedName(relative);
  const auto known = folders_.find(key);
  if (known != folders_.end()) {
    folder = known->second.handle.Get();
    return kArchiveOk;
  }
  const std::wstring parentRelative = ParentFolderOf(relative);
  const std::wstring name = FileNameOf(relative.c_str());
  HANDLE parentHandle = nullptr;
  const int parentResult = Folder(parentRelative, create, parentHandle, declared);
  if (parentResult != kArchiveOk) return parentResult;

  std::wstring parentLocation = rootLocation_;
  bool parentStaged = false;
  if (!parentRelative.empty()) {
    const Held& held = folders_.at(FoldedName(parentRelative));
    parentLocation = held.location;
    parentStaged = held.staged;
  }
  const Parent parent = {parentHandle, parentLocation, parentStaged, parentRelative};
  Held child;
  const int result = OpenChild(parent, name, create, declared, child);
  if (result != kArchiveOk) return result;
  folder = child.handle.Get();
  child.relative = relative;
  folders_.emplace(key, std::move(child));
  return kArchiveOk;
}

int InstallTree::OpenChild(const Parent& parent, const std::wstring& name, bool create,
                           const DeclaredFolder& declared, Held& child) {
  OpenRequest request = {kFolderAccess, kFolderShare, FILE_OPEN, FILE_DIRECTORY_FILE, 0};
  child.staged = parent.staged;
  // Nothing is installed inside a staged folder yet: its folders are new.
  if (!parent.staged) {
    const DWORD opened = OpenInFolder(parent.handle, name, request, child.handle);
    if (opened == ERROR_SUCCESS) {
      child.location = VolumePathOf(child.handle.Get());
      FileFacts facts;
      const bool plain = ReadFileFacts(child.handle.Get(), facts) &&
                         (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                         IsOnRootsVolume(child.handle.Get()) &&
                         SameName(child.location, Joined(parent.location, name));
      return plain ? kArchiveOk : kArchiveLinkedTarget;
    }
    if (!IsMissing(opened)) {
      // A file in the folder's place gives way only to a folder the archive
      // declares, and only once the update is committed.
      ScopedFileHandle file;
      const OpenRequest probe = {FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_OPEN, FILE_NON_DIRECTORY_FILE, 0};
      if (OpenInFolder(parent.handle, name, probe, file) != ERROR_SUCCESS) {
        return ArchiveResultOf(opened);
      }
      if (!create || !declared || !declared(JoinedRelative(parent.relative, name))) {
        return kArchiveCannotOpen;
      }
      if (!IsPlainEntryAt(file.Get(), parent.relative, name)) return kArchiveLinkedTarget;
      // The running launcher's image would have to be renamed away for the
      // folder, leaving no launcher.exe at a kill and a folder after it.
      if (IsRunningImage(file.Get())) return kArchiveCannotOpen;
      return StageFolder(parent, name, true, child);
    }
    if (!create) return kArchiveCannotOpen;
    if (stageNewFolders_) return StageFolder(parent, name, false, child);
  }
  request.disposition = FILE_CREATE;
  const DWORD made = OpenInFolder(parent.handle, name, request, child.handle);
  if (made != ERROR_SUCCESS) return IsExists(made) ? kArchiveTargetBusy : ArchiveResultOf(made);
  child.location = Joined(parent.location, name);
  child.made = true;
  return kArchiveOk;
}

int InstallTree::StageFolder(const Parent& parent, const std::wstring& name, bool replacesFile,
                             Held& child) {
  // DELETE: the staged folder is renamed through this handle at the commit.
  const OpenRequest request = {kFolderAccess | DELETE, kFolderShare, FILE_CREATE,
                               FILE_DIRECTORY_FILE, 0};
  std::wstring stagingName;
  const DWORD error = CreateUnderFreshName(parent.handle, request, child.handle, stagingName);
  if (error != ERROR_SUCCESS) return ArchiveResultOf(error);
  child.location = Joined(parent.location, stagingName);
  child.staged = true;
  child.made = true;
  staged_.push_back(StagedFolder{parent.relative, stagingName, name, replacesFile});
  return kArchiveOk;
}

bool InstallTree::IsStaged(const std::wstring& relative) {
  const Held* held = HeldEntry(relative);
  return held != nullptr && held->staged;
}

HANDLE InstallTree::HeldFolder(const std::wstring& relative) const {
  if (relative.empty()) return root_.Get();
  const auto held = folders_.find(FoldedName(relative));
  return held == folders_.end() ? nullptr : held->second.handle.Get();
}

InstallTree::Held* InstallTree::HeldEntry(const std::wstring& relative) {
  if (relative.empty()) return &rootHeld_;
  const auto held = folders_.find(FoldedName(relative));
  return held == folders_.end() ? nullptr : &held->second;
}

DWORD InstallTree::EntryBefore(const std::wstring& folderRelative, const std::wstring& name) {
  HANDLE handle = nullptr;
  Held* held = nullptr;
  if (Folder(folderRelative, false, handle) != kArchiveOk ||
      (held = HeldEntry(folderRelative)) == nullptr) {
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!held->listed && !held->made) {
    (void)ListFolder(handle, [held](const std::wstring& entry, DWORD attributes) {
      held->entries[FoldedName(entry)] = attributes;
    });
  }
  held->listed = true;
  const auto entry = held->entries.find(FoldedName(name));
  return entry == held->entries.end() ? INVALID_FILE_ATTRIBUTES : entry->second;
}

std::wstring InstallTree::OnDiskPath(const std::wstring& relative) const {
  for (const StagedFolder& staged : staged_) {
    const std::wstring target = JoinedRelative(staged.parent, staged.targetName);
    if (IsWithin(relative, target)) {
      return JoinedRelative(staged.parent, staged.stagingName) + relative.substr(target.size());
    }
  }
  return relative;
}

bool InstallTree::RemoveFolder(const std::wstring& relative) {
  const std::wstring key = FoldedName(relative);
  const auto held = folders_.find(key);
  // A staged folder is held with DELETE access and goes through its handle.
  if (held != folders_.end() && MarkForDeletion(held->second.handle.Get())) {
    folders_.erase(held);
    return true;
  }
  // Any other is held without, which would keep others from listing it: it
  // is let go, with every folder below it, and opened once more, as itself.
  for (auto folder = folders_.begin(); folder != folders_.end();) {
    folder = IsWithin(folder->first, key) ? folders_.erase(folder) : std::next(folder);
  }
  const std::wstring parent = ParentFolderOf(relative);
  const std::wstring name = FileNameOf(relative.c_str());
  const HANDLE parentHandle = HeldFolder(parent);
  ScopedFileHandle entry;
  const OpenRequest request = {DELETE | FILE_READ_ATTRIBUTES, kFolderShare | FILE_SHARE_DELETE,
                               FILE_OPEN, FILE_DIRECTORY_FILE, 0};
  return parentHandle != nullptr &&
         OpenInFolder(parentHandle, name, request, entry) == ERROR_SUCCESS &&
         IsPlainEntryAt(entry.Get(), parent, name) && MarkForDeletion(entry.Get());
}

void InstallTree::RemoveMadeFolders(const std::wstring& under) {
  // A longer key lies deeper; a folder goes only once its own folders have.
  const std::wstring top = FoldedName(under);
  std::vector<std::wstring> made;
  for (const auto& folder : folders_) {
    if (folder.second.made && (top.empty() || IsWithin(folder.first, top))) {
      made.push_back(folder.first);
    }
  }
  std::sort(made.begin(), made.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() > b.size();
  });
  for (const std::wstring& key : made) {
    const auto folder = folders_.find(key);
    if (folder != folders_.end()) (void)RemoveFolder(folder->second.relative);
  }
  staged_.erase(std::remove_if(staged_.begin(), staged_.end(),
                               [&](const StagedFolder& staged) {
                                 const std::wstring key = FoldedName(
                                     JoinedRelative(staged.parent, staged.targetName));
                                 return folders_.count(key) == 0;
                               }),
                staged_.end());
}

std::wstring InstallTree::NextTemporaryName() { return TemporaryName(run_, ++counter_); }

DWORD InstallTree::CreateTemporary(HANDLE folder, DWORD attributes, ScopedFileHandle& file,
                                   std::wstring& name) {
  // Never shared: no one can open, rename or delete it while it is written.
  const OpenRequest request = {kWrittenFileAccess, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                               attributes};
  return CreateUnderFreshName(folder, request, file, name);
}

DWORD InstallTree::CreateUnderFreshName(HANDLE folder, const OpenRequest& request,
                                        ScopedFileHandle& entry, std::wstring& name) {
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && IsExists(error); ++attempt) {
    name = NextTemporaryName();
    error = OpenInFolder(folder, name, request, entry);
  }
  return error;
}

}  // namespace launcher
