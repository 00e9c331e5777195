// Where an item goes and how it gets there: its target resolved and claimed
// below the root, the folders it needs, and its data written beside the
// target (or under its own name in a staged folder).
#include <cwchar>
#include <memory>

#include "launcher/base/text_helpers.h"
#include "update/archive_reader.h"
#include "update/archive_rules.h"
#include "update/folder_handles.h"
#include "update/self_replace.h"
#include "update/update_journal.h"

namespace launcher {
namespace {

bool IsAbsoluteTarget(const wchar_t* path) {
  return IsPathSeparator(path[0]) || (path[0] != 0 && path[1] == L':');
}

// The names the update itself keeps in the root: no item may take them.
bool IsUpdatesOwnName(const std::wstring& relative) {
  return ::CompareStringOrdinal(relative.c_str(), -1, kUpdateArchiveName, -1, TRUE) == CSTR_EQUAL ||
         ::CompareStringOrdinal(relative.c_str(), -1, kUpdateJournalName, -1, TRUE) == CSTR_EQUAL ||
         ::CompareStringOrdinal(relative.c_str(), -1, kUpdateJournalDraftName, -1, TRUE) ==
             CSTR_EQUAL ||
         IsSelfReplacementName(relative.c_str());
}

}  // namespace

int ArchiveReader::ResolveTarget(const wchar_t* targetPath, std::wstring& relative) {
  if (!IsSafeRelativeTarget(targetPath)) return kArchiveUnsafeTarget;
  if (std::wcslen(root_) + std::wcslen(targetPath) >= kPathBufferSize) return kArchiveNameTooLong;
  wchar_t full[kPathBufferSize];
  ::wsprintfW(full, L"%s%s", root_, targetPath);
  // Windows' own reading of the name: '/' and '\' alike, trailing dots and
  // blanks dropped, empty and "." steps gone.
  wchar_t resolved[kPathBufferSize];
  const DWORD length = ::GetFullPathNameW(full, kPathBufferSize, resolved, nullptr);
  if (length == 0 || length >= kPathBufferSize) return kArchiveNameTooLong;
  if (length <= resolvedRootLength_ ||
      ::CompareStringOrdinal(resolved, static_cast<int>(resolvedRootLength_), resolvedRoot_,
                             static_cast<int>(resolvedRootLength_), TRUE) != CSTR_EQUAL) {
    return kArchiveUnsafeTarget;
  }
  relative.assign(resolved + resolvedRootLength_, length - resolvedRootLength_);
  while (!relative.empty() && relative.back() == L'\\') relative.pop_back();
  if (relative.empty()) return kArchiveUnsafeTarget;
  // Characters no Windows file name may hold are refused before any data is
  // written, as the file they name could never be made.
  for (const wchar_t c : relative) {
    if (c < 0x20 || std::wcschr(L"<>\"|?*", c) != nullptr) return kArchiveCannotOpen;
  }
  return IsUpdatesOwnName(relative) ? kArchiveUnsafeTarget : kArchiveOk;
}

int ArchiveReader::Claim(const std::wstring& relative, bool folder) {
  // Two stored names that Windows takes for one (letter case, '/' or '\',
  // trailing dots) never land on one file: the first has it. A file and a
  // folder of one name are refused the same way.
  const std::wstring key = FoldedName(relative);
  if (claimedFiles_.count(key) != 0 || (!folder && claimedFolders_.count(key) != 0)) {
    return kArchiveNameConflict;
  }
  for (std::wstring above = ParentFolderOf(key); !above.empty(); above = ParentFolderOf(above)) {
    if (claimedFiles_.count(above) != 0) return kArchiveNameConflict;
  }
  (folder ? claimedFolders_ : claimedFiles_).insert(key);
  for (std::wstring above = ParentFolderOf(key); !above.empty(); above = ParentFolderOf(above)) {
    if (!claimedFolders_.insert(above).second) break;
  }
  return kArchiveOk;
}

int ArchiveReader::Extract(int index, const wchar_t* targetPath) {
  const int described = ReadDescription(index);
  if (described != kArchiveOk) return described;
  if (targetPath == nullptr) return kArchiveUnsafeTarget;
  const bool folder = (cached_.item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (IsAbsoluteTarget(targetPath)) {
    if (!IsSafeAbsoluteTarget(targetPath)) return kArchiveUnsafeTarget;
    if (folder) {
      EnsureFolder(nullptr, targetPath);
      return kArchiveOk;
    }
    return ExtractAbsolute(targetPath);
  }
  std::wstring relative;
  const int resolved = ResolveTarget(targetPath, relative);
  if (resolved != kArchiveOk) return resolved;
  // A file item needs a file name; one that ends in a separator (a folder as
  // some zip writers store it) gets its folders made, and no file.
  const std::size_t targetLength = std::wcslen(targetPath);
  const bool endsAsFolder = IsPathSeparator(targetPath[targetLength - 1]);
  return ExtractBelowRoot(relative, folder || endsAsFolder);
}

int ArchiveReader::ExtractBelowRoot(const std::wstring& relative, bool folder) {
  const int claimed = Claim(relative, folder);
  if (claimed != kArchiveOk) return claimed;
  HANDLE handle = nullptr;
  if (folder) {
    // A file in a folder item's place stays; it gives way only when a file
    // item needs the folder.
    const bool folderItem = (cached_.item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folderItem) declaredFolders_.insert(FoldedName(relative));
    const int made = tree_->Folder(relative, true, handle);
    if (!folderItem) return made == kArchiveOk ? kArchiveCannotOpen : made;
    return made == kArchiveCannotOpen ? kArchiveOk : made;
  }
  // A file in the way of a declared folder gives way only at a commit.
  const InstallTree::DeclaredFolder declared = [this](const std::wstring& path) {
    return deferred_ && declaredFolders_.count(FoldedName(path)) != 0;
  };
  const std::wstring folderRelative = ParentFolderOf(relative);
  const int made = tree_->Folder(folderRelative, true, handle, declared);
  if (made != kArchiveOk) return made;
  return WriteFileItem(*tree_, Target{folderRelative, FileNameOf(relative.c_str()), handle},
                       deferred_);
}

int ArchiveReader::ExtractAbsolute(const wchar_t* targetPath) {
  // The caller's own path, used as given: its folders are made by name, and
  // the file is written beside its target there.
  const std::wstring path = targetPath;
  const std::wstring folder = FolderPartOf(path);
  if (folder.empty() || folder.size() == path.size()) return kArchiveCannotOpen;
  EnsureFolder(nullptr, folder.c_str());
  InstallTree tree(NewRunId());
  const int opened = tree.OpenRoot(folder);
  if (opened != kArchiveOk) return opened;
  return WriteFileItem(tree, Target{std::wstring(), path.substr(folder.size()), tree.Root()}, false);
}

int ArchiveReader::WriteFileItem(InstallTree& tree, const Target& target, bool deferred) {
  const std::size_t index = static_cast<std::size_t>(cached_.item.index);
  if (index < unreadable_.size() && unreadable_[index]) return kArchiveDataUnreadable;
  // A folder in the target's place refuses the item before anything is written.
  const DWORD existing = tree.EntryBefore(target.folder, target.name);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return kArchiveCannotOpen;
  }
  // The launcher's own running image is never replaced: the new one is
  // staged beside it for the swap, unless it is that image already.
  Target placed = target;
  const auto size = cached_.fullUncompressedSize;
  const auto crc = static_cast<std::uint32_t>(cached_.crc);
  if (target.folder.empty() && existing != INVALID_FILE_ATTRIBUTES &&
      ::CompareStringOrdinal(target.name.c_str(), -1, kLauncherFileName, -1, TRUE) == CSTR_EQUAL) {
    const std::wstring full = tree.RootPath() + target.name;
    if (IsRunningImage(full.c_str())) {
      if (size > 0xFFFFFFFFu) return kArchiveDataUnreadable;
      if (HasContent(full, size, crc)) {
        stagedLauncher_ = kLauncherFileName;  // what an earlier update staged is older
        return kArchiveOk;
      }
      placed.name = StagedLauncherName(static_cast<std::uint32_t>(size), crc);
      // The swap starts from the staged image's path, which CreateProcessW
      // and the swap's own checks take only below MAX_PATH: staged where it
      // could not run, it would count as applied and never arrive.
      if (tree.RootPath().size() + placed.name.size() >= MAX_PATH) return kArchiveNameTooLong;
      stagedLauncher_ = placed.name;
    }
  }
  // A size no data of this length could inflate to is a lie, whatever the
  // disk has room for.
  if (!IsPlausibleSize(cached_.method, cached_.flags, cached_.fullCompressedSize, size)) {
    return kArchiveDataUnreadable;
  }
  // An update never fills the disk of the machine it runs on.
  if (!reserve_.Claim(tree.RootPath(), size)) return kArchiveWriteFailed;
  int result = writer_.Begin(tree, placed.folderHandle, placed.folder, placed.name, cached_.item,
                             size, crc);
  if (result == kArchiveOk) result = CopyItemData(cached_);
  Replacement replacement;
  WrittenItem written;
  if (result == kArchiveOk) result = writer_.Finish(written);
  if (result != kArchiveOk) {
    writer_.Discard();
    return result;
  }
  if (written.direct) {
    // In a staged folder it is in place with its folder: finished and closed
    // beside the reading of the next items.
    stagedFiles_.push_back(LeftoverName{written.folder, written.target});
    const ArchiveItem item = cached_.item;
    auto owned = std::make_shared<ScopedFileHandle>(std::move(written.file));
    pool_->Submit(kStagedTicket + stagedFiles_.size() - 1, [owned, item] {
      const int finished = FinishWrittenFile(owned->Get(), item);
      owned->Reset();
      return finished;
    });
    return kArchiveOk;
  }
  replacement.names = {written.folder, written.temporary, written.target, tree.NextTemporaryName()};
  replacement.targetSeenAbsent = existing == INVALID_FILE_ATTRIBUTES;
  if (deferred) {
    // Finished beside the reading of the next items. Held open until its
    // commit while there are handles to spare, else closed and opened again.
    const HANDLE file = written.file.Get();
    const ArchiveItem item = cached_.item;
    if (heldEntries_ < kHeldEntries) {
      ++heldEntries_;
      replacement.entry = std::move(written.file);
      pool_->Submit(pending_.size(), [file, item] { return FinishWrittenFile(file, item); });
    } else {
      (void)ReadFileIndex(file, replacement.writtenIndex);
      auto owned = std::make_shared<ScopedFileHandle>(std::move(written.file));
      pool_->Submit(pending_.size(), [owned, item] { return FinishWrittenFile(owned->Get(), item); });
    }
    pending_.push_back(std::move(replacement));
    return kArchiveOk;
  }
  replacement.entry = std::move(written.file);
  result = FinishWrittenFile(replacement.entry.Get(), cached_.item);
  if (result != kArchiveOk) {
    DeleteUnused(tree, replacement);
    return result;
  }
  result = PutInPlace(tree, replacement);
  if (result != kArchiveOk) {
    DeleteUnused(tree, replacement);
    return result;
  }
  if (replacement.kept) {
    (void)DeleteLeftover(tree, replacement.names.folder, replacement.names.backup);
  }
  return kArchiveOk;
}

}  // namespace launcher
