// Putting what an update wrote in the places of the installed files: every
// new file (or staged folder) first moves the installed one aside under a
// temporary name, then takes its name. Each step can be taken back while
// the others fail, and each can be taken again after a kill from the names
// alone, which the update journal keeps.
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
  HANDLE Entry() const { return entry ? entry.Get() : borrowed; }
  bool folder = false;     // a staged folder rather than a file
  bool replaced = false;   // an installed target was moved aside
  bool done = false;
};

// Moves an installed target aside (when there is one) and gives the new entry
// its name. An archive result code; on failure nothing has changed.
int PutInPlace(InstallTree& tree, Replacement& replacement);

// Undoes PutInPlace: the new entry gets its temporary name back and the
// installed one its own name.
void TakeBack(InstallTree& tree, Replacement& replacement);

// Deletes the new entry that will not be used (a file, or an empty staged
// folder).
void DeleteUnused(InstallTree& tree, Replacement& replacement);

// Deletes folder\name, a file the update moved aside or left behind. False
// when it stays for now (in use, say); true when it is gone or was never
// there. A link or a file with other names is never followed: only the name
// goes.
bool DeleteLeftover(InstallTree& tree, const std::wstring& folder, const std::wstring& name);

// Deletes every file and staged folder the update run left in the tree: the
// names that carry its run id. False when some stay for now.
bool SweepRun(InstallTree& tree, std::uint32_t run);

// Finishes a replacement from its names alone, after a kill: whatever of
// PutInPlace had not happened yet happens now. An archive result code.
int FinishFromNames(InstallTree& tree, const ReplacementNames& names);

}  // namespace launcher
