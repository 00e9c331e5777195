// Which file a handle or a path leads to: the volume's serial number and the
// file's index on that volume. Two names lead to one file when both agree,
// whatever the names say (letter case, 8.3 aliases, links).
#pragma once

#include <windows.h>

namespace launcher {

struct FileIdentity {
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;

  bool operator==(const FileIdentity& other) const {
    return volumeSerial == other.volumeSerial && indexHigh == other.indexHigh &&
           indexLow == other.indexLow;
  }
};

// False when the handle's information cannot be read.
[[nodiscard]] bool ReadFileIdentity(HANDLE file, FileIdentity& identity);

// The path is opened for its attributes only, refusing no sharing, so a
// running image or a folder answers too.
[[nodiscard]] bool ReadFileIdentity(const wchar_t* path, FileIdentity& identity);

enum class FileComparison { kSame, kDifferent, kUnknown };

// Whether two paths lead to one file; kUnknown when either cannot be opened,
// so that no caller acts on a guess.
FileComparison CompareFiles(const wchar_t* left, const wchar_t* right);

// True when both paths name one file, whatever the names: letter case folds
// in all of Unicode, and a file may also answer to its 8.3 alias or another
// link. False when either cannot be opened.
bool AreSameFile(const wchar_t* left, const wchar_t* right);

}  // namespace launcher
