#include "launcher/base/file_identity.h"

#include "launcher/base/scoped_resource.h"

namespace launcher {

bool ReadFileIdentity(HANDLE file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  identity.volumeSerial = information.dwVolumeSerialNumber;
  identity.indexHigh = information.nFileIndexHigh;
  identity.indexLow = information.nFileIndexLow;
  return true;
}

bool ReadFileIdentity(const wchar_t* path, FileIdentity& identity) {
  if (path == nullptr) return false;
  const ScopedFileHandle file(::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
  return file && ReadFileIdentity(file.Get(), identity);
}

FileComparison CompareFiles(const wchar_t* left, const wchar_t* right) {
  FileIdentity leftIdentity, rightIdentity;
  if (!ReadFileIdentity(left, leftIdentity) || !ReadFileIdentity(right, rightIdentity)) {
    return FileComparison::kUnknown;
  }
  return leftIdentity == rightIdentity ? FileComparison::kSame : FileComparison::kDifferent;
}

bool AreSameFile(const wchar_t* left, const wchar_t* right) {
  return CompareFiles(left, right) == FileComparison::kSame;
}

}  // namespace launcher
