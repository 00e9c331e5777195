// Files and folders reached through the handle of the folder that holds them,
// never through a path: between a check and the write that follows it no one
// can redirect a name to somewhere else. Each call names one component
// inside an open folder.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "launcher/base/scoped_resource.h"

namespace launcher {

// What Windows reports of one open file or folder, asked without the volume:
// Wine answers a question about the volume through its mount manager, a
// round trip that would cost every file of an update dearly.
struct FileFacts {
  DWORD attributes = 0;
  DWORD links = 0;  // names the file has; more than one is a hard link
};
[[nodiscard]] bool ReadFileFacts(HANDLE file, FileFacts& facts);

// The serial number of the volume that holds an open file or folder.
[[nodiscard]] bool ReadVolumeSerial(HANDLE file, DWORD& serial);

// The file's index on its volume: with the folder it was opened in, which
// file it is.
[[nodiscard]] bool ReadFileIndex(HANDLE file, ULONGLONG& index);

// Where an open file or folder really is: its path on its volume
// ("\Games\Quintarelox\data"), with every link on the way resolved. Empty
// when it cannot be read.
std::wstring VolumePathOf(HANDLE file);

struct OpenRequest {
  ACCESS_MASK access;
  ULONG share;
  ULONG disposition;  // FILE_OPEN, FILE_CREATE, ...
  ULONG options;      // FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE, ...
  DWORD attributes;   // for a file made by the request
};

// Opens or makes name, one component, inside folder. A link in name's place
// is opened as itself where Windows can tell it apart. Gives a Win32 error
// code, ERROR_SUCCESS when out holds the handle.
DWORD OpenInFolder(HANDLE folder, const std::wstring& name, const OpenRequest& request,
                   ScopedFileHandle& out);

// Gives the open file (which needs DELETE access) the name inside folder.
DWORD RenameIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);

// Gives the open file one more name inside folder, a hard link. ERROR_NOT_SUPPORTED
// on volumes without hard links.
DWORD LinkIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name);

// Lists the open folder (which needs FILE_LIST_DIRECTORY access) through its
// handle, "." and ".." left out: visit(name, attributes) for each entry.
// False when it could not be listed.
bool ListFolder(HANDLE folder, const std::function<void(const std::wstring&, DWORD)>& visit);

// The file goes when its last handle is closed.
[[nodiscard]] bool MarkForDeletion(HANDLE file);

// Sets the attributes (times stay as they are).
[[nodiscard]] bool SetAttributes(HANDLE file, DWORD attributes);

// Clears the read-only attribute of an open file, unless the file has other
// names: the attribute belongs to every name, and those would lose it too.
void ClearOwnReadOnly(HANDLE file);

// Deletes the file or empty folder open as entry (with DELETE access) and
// closes the handle; a read-only file loses the attribute first, as
// ClearOwnReadOnly allows. False when it stays (in use, say).
bool DeleteThroughHandle(ScopedFileHandle& entry);

inline bool IsExists(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}
inline bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace launcher
