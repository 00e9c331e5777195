#include "update/folder_handles.h"

#include <winternl.h>

#include <cstring>
#include <vector>

namespace launcher {
namespace {

UNICODE_STRING CountedName(const std::wstring& name) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(name.c_str());
  counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

DWORD ErrorOf(NTSTATUS status) {
  return status >= 0 ? ERROR_SUCCESS : ::RtlNtStatusToDosError(status);
}

// A rename and a new link take the same request: the new name relative to a
// folder handle.
DWORD NameIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name, bool replace,
                     FILE_INFORMATION_CLASS what) {
  const std::size_t nameBytes = name.size() * sizeof(wchar_t);
  std::vector<unsigned char> request(sizeof(FILE_RENAME_INFORMATION) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(request.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<ULONG>(nameBytes);
  std::memcpy(rename->FileName, name.c_str(), nameBytes);
  IO_STATUS_BLOCK status = {};
  return ErrorOf(::NtSetInformationFile(file, &status, request.data(),
                                        static_cast<ULONG>(request.size()), what));
}

}  // namespace

bool ReadFileFacts(HANDLE file, FileFacts& facts) {
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
      !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard))) {
    return false;
  }
  facts.attributes = basic.FileAttributes;
  facts.links = standard.NumberOfLinks;
  return true;
}

bool ReadVolumeSerial(HANDLE file, DWORD& serial) {
  // Asked of the volume alone: the file's own information would carry its
  // name too, which Wine cannot give for a path past 260 units.
  unsigned char buffer[sizeof(FILE_FS_VOLUME_INFORMATION) + 64 * sizeof(wchar_t)] = {};
  IO_STATUS_BLOCK status = {};
  const NTSTATUS result = ::NtQueryVolumeInformationFile(file, &status, buffer, sizeof(buffer),
                                                         FileFsVolumeInformation);
  // A volume label too long for the buffer still leaves the serial number.
  if (result < 0 && result != static_cast<NTSTATUS>(0x80000005L)) return false;
  serial = reinterpret_cast<const FILE_FS_VOLUME_INFORMATION*>(buffer)->VolumeSerialNumber;
  return true;
}

bool ReadFileIndex(HANDLE file, ULONGLONG& index) {
  FILE_INTERNAL_INFORMATION internal = {};
  IO_STATUS_BLOCK status = {};
  if (::NtQueryInformationFile(file, &status, &internal, sizeof(internal),
                               FileInternalInformation) < 0) {
    return false;
  }
  index = static_cast<ULONGLONG>(internal.IndexNumber.QuadPart);
  return true;
}

std::wstring VolumePathOf(HANDLE file) {
  // A name is at most 32767 units, in bytes behind the length field.
  std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
  if (!::GetFileInformationByHandleEx(file, FileNameInfo, buffer.data(),
                                      static_cast<DWORD>(buffer.size()))) {
    return std::wstring();
  }
  const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
  return std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

DWORD OpenInFolder(HANDLE folder, const std::wstring& name, const OpenRequest& request,
                   ScopedFileHandle& out) {
  if (name.empty() || name.size() > 32767) return ERROR_INVALID_NAME;
  UNICODE_STRING counted = CountedName(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status = {};
  HANDLE opened = nullptr;
  const NTSTATUS result = ::NtCreateFile(
      &opened, request.access | SYNCHRONIZE, &attributes, &status, nullptr, request.attributes,
      request.share, request.disposition,
      request.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (result < 0) return ErrorOf(result);
  out.Reset(opened);
  return ERROR_SUCCESS;
}

DWORD RenameIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name, bool replace) {
  return NameIntoFolder(file, folder, name, replace, FileRenameInformation);
}

DWORD LinkIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name) {
  return NameIntoFolder(file, folder, name, false, FileLinkInformation);
}

bool ListFolder(HANDLE folder, const std::function<void(const std::wstring&, DWORD)>& visit) {
  std::vector<unsigned char> buffer(64 * 1024);
  bool listed = false;
  for (FILE_INFO_BY_HANDLE_CLASS what = FileIdBothDirectoryRestartInfo;;
       what = FileIdBothDirectoryInfo) {
    if (!::GetFileInformationByHandleEx(folder, what, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
      return listed || ::GetLastError() == ERROR_NO_MORE_FILES;
    }
    listed = true;
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") visit(name, entry->FileAttributes);
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof(dispose)) !=
         FALSE;
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

void ClearOwnReadOnly(HANDLE file) {
  FileFacts facts;
  if (ReadFileFacts(file, facts) && (facts.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      facts.links == 1) {
    (void)SetAttributes(file, facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

bool DeleteThroughHandle(ScopedFileHandle& entry) {
  if (!entry) return true;
  ClearOwnReadOnly(entry.Get());
  const bool marked = MarkForDeletion(entry.Get());
  entry.Reset();
  return marked;
}

}  // namespace launcher
