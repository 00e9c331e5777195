// Putting what an update wrote in the places of the installed files. A new
// file takes its target's name in one rename, so the name never stands
// empty; the installed file keeps a second name (a hard link under a
// temporary name) until the update is committed, so that its replacement
// can be taken back while others fail. Two renames, the installed one
// moved aside first, put a staged folder in the place of the file in its
// way, and a file in the place of a read-only one with other names, whose
// attribute cannot go without going everywhere. Each step can be taken
// again after a kill from the names alone, which the update journal keeps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"

namespace launcher {

class InstallTree;

// The names of one replacement, all in one folder.
struct ReplacementNames {
  std::wstring folder;     // relative path of the folder, empty for the root
  std::wstring temporary;  // the new file or staged folder
  std::wstring target;     // the name it takes
  std::wstring backup;     // the name the installed one is moved aside to
};

// A file the update moved aside or left behind, to delete once it can.
struct LeftoverName {
  std::wstring folder;
  std::wstring name;
};

struct Replacement {
  ReplacementNames names;
  ScopedFileHandle entry;    // the new file while it is still held, else empty
  HANDLE borrowed = nullptr; // a staged folder's handle, which the tree holds
  ULONGLONG writtenIndex = 0; // the new file's index, to know it again when it was let go
  HANDLE Entry() const { return entry ? entry.Get() : borrowed; }
  bool folder = false;            // a staged folder rather than a file
  bool targetSeenAbsent = false;  // no entry had the target's name when the update looked
  bool movedAside = false;        // the installed one moved aside rather than linked
  bool hadTarget = false;         // an installed file had the target's name
  bool kept = false;              // and it is kept under the backup name
  bool readOnlyCleared = false;   // its read-only attribute had to go first
  bool done = false;
};

// Gives the new entry its target's name, keeping the installed file under
// the backup name. An archive result code; on failure nothing has changed.
int PutInPlace(InstallTree& tree, Replacement& replacement);

// Undoes PutInPlace: the installed file gets its name back (where it could
// be kept), and a new file that had no installed one before goes.
void TakeBack(InstallTree& tree, Replacement& replacement);

// Deletes the new entry that will not be used (a file, or an empty staged
// folder).
void DeleteUnused(InstallTree& tree, Replacement& replacement);

// Deletes folder\name, a file the update moved aside or left behind. False
// when it stays for now (in use, say); true when it is gone or was never
// there. A link or a file with other names is never followed: only the name
// goes.
bool DeleteLeftover(InstallTree& tree, const std::wstring& folder, const std::wstring& name);

// Clears the read-only attribute of the root's file name where that plain
// file is its only name: a link is not followed, and a file with other names
// would lose the attribute everywhere.
void ClearOwnReadOnlyInRoot(const InstallTree& tree, const wchar_t* name);

// Deletes every file and staged folder the update run left in the tree: the
// names that carry its run id. False when some stay for now.
bool SweepRun(InstallTree& tree, std::uint32_t run);

// Finishes a replacement from its names alone, after a kill: whatever of
// PutInPlace had not happened yet happens now. An archive result code.
int FinishFromNames(InstallTree& tree, const ReplacementNames& names);

}  // namespace launcher
