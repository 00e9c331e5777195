#include "update/replacement.h"

#include "update/archive.h"
#include "update/archive_rules.h"
#include "update/folder_handles.h"
#include "update/install_tree.h"

namespace launcher {
namespace {

constexpr ACCESS_MASK kRenameAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens folder\name as itself, for renaming or deletion. exists is false when
// nothing has that name; a link, junction or an entry that is not where its
// name says is refused.
int OpenPlain(const InstallTree& tree, HANDLE folder, const std::wstring& folderRelative,
              const std::wstring& name, ULONG share, ScopedFileHandle& out, bool& exists) {
  exists = false;
  const OpenRequest request = {kRenameAccess, share, FILE_OPEN, 0, 0};
  const DWORD error = OpenInFolder(folder, name, request, out);
  if (IsMissing(error)) return kArchiveOk;
  if (error != ERROR_SUCCESS) return ArchiveResultOf(error);
  exists = true;
  if (tree.IsPlainEntryAt(out.Get(), folderRelative, name)) return kArchiveOk;
  out.Reset();
  return kArchiveLinkedTarget;
}

bool IsFolder(HANDLE entry) {
  FileFacts facts;
  return ReadFileFacts(entry, facts) && (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// everything: the folder is a staged one of the run, and all in it is the run's.
bool SweepFolder(InstallTree& tree, const std::wstring& relative, std::uint32_t run,
                 bool everything) {
  HANDLE held = nullptr;
  const int opened = tree.Folder(relative, false, held);
  // Gone, or a link that is no one's to follow: nothing of the run is left
  // there. Any other failure leaves the run to a later start.
  if (opened == kArchiveCannotOpen || opened == kArchiveLinkedTarget) return true;
  if (opened != kArchiveOk) return false;
  struct Entry {
    std::wstring name;
    DWORD attributes;
  };
  std::vector<Entry> entries;
  // Listed first, through the held folder; whatever is done to an entry
  // goes through it too.
  if (!ListFolder(held, [&](const std::wstring& name, DWORD attributes) {
        entries.push_back(Entry{name, attributes});
      })) {
    return false;
  }
  bool gone = true;
  for (const Entry& entry : entries) {
    std::uint32_t nameRun = 0;
    const bool ours =
        everything || (IsExtractionTemporaryName(entry.name.c_str(), &nameRun) && nameRun == run);
    const std::wstring child = JoinedRelative(relative, entry.name);
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;  // never followed
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (ours) gone = DeleteLeftover(tree, relative, entry.name) && gone;
    } else if (ours) {
      gone = SweepFolder(tree, child, run, true) && tree.RemoveFolder(child) && gone;
    } else {
      gone = SweepFolder(tree, child, run, false) && gone;
    }
  }
  return gone;
}

}  // namespace

bool SweepRun(InstallTree& tree, std::uint32_t run) { return SweepFolder(tree, std::wstring(), run, false); }

namespace {

// Two renames: the installed one moves aside, the new one takes its name.
int PutInPlaceInTwoSteps(HANDLE folder, Replacement& replacement, HANDLE installed) {
  const ReplacementNames& names = replacement.names;
  replacement.movedAside = installed != nullptr;
  if (installed != nullptr) {
    const DWORD moved = RenameIntoFolder(installed, folder, names.backup, false);
    if (moved != ERROR_SUCCESS) return ArchiveResultOf(moved);
    replacement.kept = true;
  }
  const DWORD renamed = RenameIntoFolder(replacement.Entry(), folder, names.target, false);
  if (renamed != ERROR_SUCCESS) {
    if (replacement.kept) (void)RenameIntoFolder(installed, folder, names.target, false);
    replacement.kept = false;
    return ArchiveResultOf(renamed);
  }
  return kArchiveOk;
}

// A read-only file with other names keeps its attribute, which belongs to
// every name a file has: it is moved aside instead of replaced.
bool IsSharedReadOnly(HANDLE installed) {
  FileFacts facts;
  return ReadFileFacts(installed, facts) && (facts.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         facts.links != 1;
}

// A read-only file refuses to be replaced: the attribute goes first.
int LetReadOnlyGo(HANDLE installed, bool& cleared) {
  FileFacts facts;
  cleared = false;
  if (!ReadFileFacts(installed, facts)) return kArchiveCannotOpen;
  if ((facts.attributes & FILE_ATTRIBUTE_READONLY) == 0) return kArchiveOk;
  if (!SetAttributes(installed, facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return kArchiveTargetBusy;
  }
  cleared = true;
  return kArchiveOk;
}

void RestoreReadOnly(HANDLE file) {
  FileFacts facts;
  if (ReadFileFacts(file, facts)) (void)SetAttributes(file, facts.attributes | FILE_ATTRIBUTE_READONLY);
}

}  // namespace

int PutInPlace(InstallTree& tree, Replacement& replacement) {
  const ReplacementNames& names = replacement.names;
  HANDLE folder = nullptr;
  int result = tree.Folder(names.folder, false, folder);
  if (result != kArchiveOk) return result;
  bool exists = false;
  if (replacement.Entry() == nullptr) {
    // Let go after it was written: opened again, and known by its identity
    // rather than its name, which anyone could have given another file.
    const OpenRequest request = {kRenameAccess, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE, 0};
    const DWORD opened = OpenInFolder(folder, names.temporary, request, replacement.entry);
    if (opened != ERROR_SUCCESS) return IsMissing(opened) ? kArchiveCannotOpen : ArchiveResultOf(opened);
    ULONGLONG index = 0;
    if (!ReadFileIndex(replacement.entry.Get(), index) || index != replacement.writtenIndex) {
      replacement.entry.Reset();
      return kArchiveLinkedTarget;
    }
  }
  // A name that was free stays free as a rule: one rename, and the careful
  // way only when something has taken it since.
  if (replacement.targetSeenAbsent && !replacement.folder) {
    const DWORD renamed = RenameIntoFolder(replacement.Entry(), folder, names.target, false);
    if (renamed == ERROR_SUCCESS) {
      replacement.done = true;
      return kArchiveOk;
    }
    if (!IsExists(renamed)) return ArchiveResultOf(renamed);
  }
  ScopedFileHandle installed;
  result = OpenPlain(tree, folder, names.folder, names.target, kShareAll, installed, exists);
  if (result != kArchiveOk) return result;
  // A file never takes the place of a folder.
  if (exists && IsFolder(installed.Get())) return kArchiveCannotOpen;
  replacement.hadTarget = exists;
  if (replacement.folder || (exists && IsSharedReadOnly(installed.Get()))) {
    result = PutInPlaceInTwoSteps(folder, replacement, exists ? installed.Get() : nullptr);
    replacement.done = result == kArchiveOk;
    return result;
  }
  if (exists) {
    result = LetReadOnlyGo(installed.Get(), replacement.readOnlyCleared);
    if (result != kArchiveOk) return result;
    // Without hard links (FAT volumes) the replacement cannot be taken back.
    replacement.kept = LinkIntoFolder(installed.Get(), folder, names.backup) == ERROR_SUCCESS;
  }
  // A file still open, by us too, refuses to be replaced.
  installed.Reset();
  const DWORD renamed = RenameIntoFolder(replacement.Entry(), folder, names.target, exists);
  if (renamed != ERROR_SUCCESS) {
    if (replacement.readOnlyCleared &&
        OpenPlain(tree, folder, names.folder, names.target, kShareAll, installed, exists) == kArchiveOk &&
        exists) {
      RestoreReadOnly(installed.Get());
    }
    if (replacement.kept) (void)DeleteLeftover(tree, names.folder, names.backup);
    replacement.kept = false;
    replacement.readOnlyCleared = false;
    return ArchiveResultOf(renamed);
  }
  replacement.done = true;
  return kArchiveOk;
}

void TakeBack(InstallTree& tree, Replacement& replacement) {
  if (!replacement.done) return;
  const ReplacementNames& names = replacement.names;
  HANDLE folder = nullptr;
  if (tree.Folder(names.folder, false, folder) != kArchiveOk) return;
  bool exists = false;
  ScopedFileHandle installed;
  const bool keptOpen =
      replacement.kept &&
      OpenPlain(tree, folder, names.folder, names.backup, kShareAll, installed, exists) == kArchiveOk &&
      exists;
  if (!replacement.movedAside && keptOpen) {
    // The installed file takes its name back in one rename; the new one is
    // left without a name, once nothing holds it open.
    replacement.entry.Reset();
    if (RenameIntoFolder(installed.Get(), folder, names.target, true) != ERROR_SUCCESS) return;
    if (replacement.readOnlyCleared) RestoreReadOnly(installed.Get());
    replacement.done = false;
    return;
  }
  // A new file or folder where there was none, or one that took the name of
  // one moved aside, gets its temporary name back.
  if (replacement.hadTarget && !replacement.movedAside) return;  // nothing to go back to
  if (replacement.Entry() == nullptr &&
      OpenPlain(tree, folder, names.folder, names.target, 0, replacement.entry, exists) != kArchiveOk) {
    return;
  }
  if (replacement.Entry() == nullptr ||
      RenameIntoFolder(replacement.Entry(), folder, names.temporary, false) != ERROR_SUCCESS) {
    return;
  }
  replacement.done = false;
  if (keptOpen) (void)RenameIntoFolder(installed.Get(), folder, names.target, false);
}

void DeleteUnused(InstallTree& tree, Replacement& replacement) {
  // A staged folder is one of the folders the tree made, and goes with them.
  if (replacement.folder || replacement.done) return;
  if (!replacement.entry) {
    HANDLE folder = nullptr;
    bool exists = false;
    if (tree.Folder(replacement.names.folder, false, folder) != kArchiveOk ||
        OpenPlain(tree, folder, replacement.names.folder, replacement.names.temporary, 0,
                  replacement.entry, exists) != kArchiveOk) {
      return;
    }
  }
  (void)DeleteThroughHandle(replacement.entry);
}

void ClearOwnReadOnlyInRoot(const InstallTree& tree, const wchar_t* name) {
  ScopedFileHandle file;
  const OpenRequest request = {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, 0};
  if (OpenInFolder(tree.Root(), name, request, file) == ERROR_SUCCESS &&
      tree.IsPlainEntryAt(file.Get(), std::wstring(), name)) {
    ClearOwnReadOnly(file.Get());
  }
}

bool DeleteLeftover(InstallTree& tree, const std::wstring& folderRelative, const std::wstring& name) {
  HANDLE folder = nullptr;
  const int opened = tree.Folder(folderRelative, false, folder);
  if (opened == kArchiveTargetBusy) return false;
  if (opened != kArchiveOk) return true;  // the folder is gone, and the file with it
  ScopedFileHandle entry;
  bool exists = false;
  const int result = OpenPlain(tree, folder, folderRelative, name, kShareAll, entry, exists);
  if (result == kArchiveTargetBusy) return false;
  if (result != kArchiveOk || !exists) return true;
  return DeleteThroughHandle(entry);
}

int FinishFromNames(InstallTree& tree, const ReplacementNames& names) {
  HANDLE folder = nullptr;
  int result = tree.Folder(names.folder, false, folder);
  // Files go in before folders: a staged folder that has its name already
  // took the files inside it along.
  if (result == kArchiveCannotOpen) return kArchiveOk;
  if (result != kArchiveOk) return result;
  Replacement replacement;
  replacement.names = names;
  bool exists = false;
  result = OpenPlain(tree, folder, names.folder, names.temporary, 0, replacement.entry, exists);
  // Without the new entry this replacement was finished before the kill.
  if (result != kArchiveOk || !exists) return result;
  ScopedFileHandle installed;
  result = OpenPlain(tree, folder, names.folder, names.target, kShareAll, installed, exists);
  if (result != kArchiveOk) return result;
  if (exists && IsFolder(installed.Get())) return kArchiveCannotOpen;
  if (IsFolder(replacement.entry.Get()) || (exists && IsSharedReadOnly(installed.Get()))) {
    // The installed one may have moved aside already.
    return PutInPlaceInTwoSteps(folder, replacement, exists ? installed.Get() : nullptr);
  }
  if (exists) {
    bool cleared = false;
    result = LetReadOnlyGo(installed.Get(), cleared);
    if (result != kArchiveOk) return result;
  }
  installed.Reset();
  return ArchiveResultOf(RenameIntoFolder(replacement.entry.Get(), folder, names.target, exists));
}

}  // namespace launcher
