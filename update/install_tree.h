// The installation folder as an update sees it: the root, opened once by its
// path, and every folder below it opened through its parent's handle and
// held open, without delete sharing, until the update is over. While it is
// held no one can rename a folder, remove it or put a link in its place, and
// every file the update makes, renames or deletes is named relative to one
// of these handles. A folder that is a link, junction or mount point, or
// that is not where its parent says, is refused with everything below it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "update/folder_handles.h"

namespace launcher {

// A folder the update makes: under a temporary name beside where it goes,
// filled there under the files' own names, and renamed into place when the
// update is committed, with everything in it at once. It may take the place
// of a file in its way.
struct StagedFolder {
  std::wstring parent;       // relative path of the folder that holds both
  std::wstring stagingName;  // the temporary name it is made under
  std::wstring targetName;   // the name it takes
  bool replacesFile;         // a file had that name
};

class InstallTree {
 public:
  // run: the update's run id, which every temporary name carries.
  explicit InstallTree(std::uint32_t run);
  InstallTree(const InstallTree&) = delete;
  InstallTree& operator=(const InstallTree&) = delete;

  // Opens the root, an existing folder, by its full path. An archive result code.
  int OpenRoot(const std::wstring& path);

  // From now on a folder the update makes is staged (see StagedFolder),
  // rather than made where it goes.
  void StageNewFolders() { stageNewFolders_ = true; }
  HANDLE Root() const { return root_.Get(); }
  const std::wstring& RootPath() const { return rootPath_; }

  // Whether a file in a folder's way may give way to it.
  using DeclaredFolder = std::function<bool(const std::wstring& relative)>;

  // The held folder at relative ('\' between components, no separator at
  // either end; empty for the root). When create is set, missing folders are
  // made, and a file in the way of a declared folder makes it staged. An
  // archive result code; folder is valid only with kArchiveOk.
  int Folder(const std::wstring& relative, bool create, HANDLE& folder,
             const DeclaredFolder& declared = nullptr);

  // Creates a new file under a fresh temporary name in folder, held without
  // sharing. A Win32 error code.
  DWORD CreateTemporary(HANDLE folder, DWORD attributes, ScopedFileHandle& file,
                        std::wstring& name);
  std::wstring NextTemporaryName();

  // Checks that an opened file or folder is a plain one (no link, no mount
  // point, on the root's volume) at exactly folderRelative\name.
  bool IsPlainEntryAt(HANDLE entry, const std::wstring& folderRelative, const std::wstring& name) const;

  const std::vector<StagedFolder>& StagedFolders() const { return staged_; }
  // What a held folder held when the update first looked: the attributes of
  // the entry of that name, or INVALID_FILE_ATTRIBUTES when there was none.
  // Listed once per folder (a folder the update made holds nothing of
  // before), so that an item need not ask the file system about its target.
  DWORD EntryBefore(const std::wstring& folderRelative, const std::wstring& name);

  // Whether the held folder at relative lies in a staged folder (or is one):
  // nothing there is installed yet, so files go in under their own names.
  bool IsStaged(const std::wstring& relative);

  // relative as it lies on disk now: a staged folder by its temporary name.
  std::wstring OnDiskPath(const std::wstring& relative) const;

  // The held handle of a folder already opened, null otherwise. A staged
  // folder's handle has DELETE access: the commit renames it.
  HANDLE HeldFolder(const std::wstring& relative) const;

  // Removes the folder at relative, which must be empty by now, and lets go
  // of its handle and those below it. False when it stays (in use, or not
  // empty).
  bool RemoveFolder(const std::wstring& relative);

  // Removes the folders this update made (those at or below under, when it
  // is given), deepest first, where they are empty: an update given up
  // leaves no new folders behind, nor a staged folder that nothing filled.
  void RemoveMadeFolders(const std::wstring& under = std::wstring());
  std::uint32_t Run() const { return run_; }

 private:
  struct Held {
    ScopedFileHandle handle;
    std::wstring location;  // volume path, as the handle reports it
    bool staged = false;    // made under a temporary name, or inside such a folder
    bool made = false;      // made by this update
    std::wstring relative;  // as the update named it
    bool listed = false;
    std::unordered_map<std::wstring, DWORD> entries;  // by folded name, when listed
  };
  Held* HeldEntry(const std::wstring& relative);

  struct Parent {
    HANDLE handle;
    const std::wstring& location;
    bool staged;
    const std::wstring& relative;
  };
  int OpenChild(const Parent& parent, const std::wstring& name, bool create,
                const DeclaredFolder& declared, Held& child);
  bool IsOnRootsVolume(HANDLE folder) const;
  int StageFolder(const Parent& parent, const std::wstring& name, bool replacesFile, Held& child);
  // Creates an entry in folder under the next temporary name no entry has.
  DWORD CreateUnderFreshName(HANDLE folder, const OpenRequest& request, ScopedFileHandle& entry,
                             std::wstring& name);

  std::uint32_t run_;
  std::uint32_t counter_ = 0;
  bool stageNewFolders_ = false;
  ScopedFileHandle root_;
  std::wstring rootPath_;
  std::wstring rootLocation_;
  DWORD volume_ = 0;
  bool volumeKnown_ = false;
  std::unordered_map<std::wstring, Held> folders_;  // by upper-case relative path
  Held rootHeld_;  // the root's listing
  std::vector<StagedFolder> staged_;
};

// What the update asks of a file it writes: its data, its attributes and
// times, and its name.
constexpr ACCESS_MASK kWrittenFileAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE;

// The archive result code for a Win32 error of a file or folder operation:
// in use or access denied is kArchiveTargetBusy, a full disk
// kArchiveWriteFailed, anything else kArchiveCannotOpen.
int ArchiveResultOf(DWORD error);

// A run id for a new tree: different for every update a machine runs, so
// that no two updates' temporary names meet.
std::uint32_t NewRunId();

// The upper-case form Windows compares names in, for keys of names that must
// not meet twice.
std::wstring FoldedName(const std::wstring& name);

// A relative path and a name below it; the root is the empty path.
std::wstring JoinedRelative(const std::wstring& parent, const std::wstring& name);

// Whether the relative path is folder or lies below it, letter case aside.
bool IsWithin(const std::wstring& relative, const std::wstring& folder);

}  // namespace launcher
