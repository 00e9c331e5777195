#include "update/item_writer.h"

#include <cwchar>

#include "launcher/base/text_helpers.h"
#include "update/archive_rules.h"
#include "update/self_replace.h"
#include "zlib.h"

namespace launcher {
namespace {

constexpr std::uint64_t kFreeSpaceReserve = 64ull << 20;

bool LeavesReserve(std::uint64_t available, std::uint64_t size) {
  return size <= available && available - size >= kFreeSpaceReserve;
}

}  // namespace

int ItemWriter::Begin(const wchar_t* target, const ArchiveItem& item, std::uint64_t declaredSize,
                      std::uint32_t declaredCrc) {
  out_.Reset();
  inPlace_ = false;
  item_ = item;
  declaredSize_ = declaredSize;
  declaredCrc_ = declaredCrc;
  total_ = 0;
  crc_ = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  const std::size_t targetLength = std::wcslen(target);
  if (targetLength >= kPathBufferSize) return kArchiveNameTooLong;
  std::wmemcpy(target_, target, targetLength + 1);
  folderLength_ = targetLength;
  while (folderLength_ > 0 && !IsPathSeparator(target_[folderLength_ - 1])) --folderLength_;

  // A read-only file or a folder in the target's place refuses the item, as a
  // target that cannot be created would.
  const DWORD existing = ::GetFileAttributesW(target_);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return kArchiveCannotOpen;
  }
  if (!FitsFreeSpace(std::wstring(target_, folderLength_), declaredSize_)) {
    return kArchiveWriteFailed;
  }
  return CreateBeside(existing);
}

int ItemWriter::CreateBeside(DWORD existingAttributes) {
  DWORD createAttributes =
      item_.attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  if (createAttributes == 0) createAttributes = FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0; attempt < 16 && !out_ && !inPlace_; ++attempt) {
    wchar_t suffix[40];
    const int suffixLength = ::wsprintfW(suffix, L"~upd%lx.%x.tmp", ::GetCurrentProcessId(),
                                         ++temporaryCounter_);
    if (folderLength_ + static_cast<std::size_t>(suffixLength) >= kPathBufferSize) {
      // Near the path limit a new file is written under its own name, as
      // there is nothing to protect; an existing one stays.
      if (existingAttributes != INVALID_FILE_ATTRIBUTES) return kArchiveNameTooLong;
      inPlace_ = true;
      break;
    }
    std::wmemcpy(written_, target_, folderLength_);
    std::wmemcpy(written_ + folderLength_, suffix, static_cast<std::size_t>(suffixLength) + 1);
    out_.Reset(::CreateFileW(written_, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             createAttributes, nullptr));
    if (!out_ && ::GetLastError() != ERROR_FILE_EXISTS) return kArchiveCannotOpen;
  }
  if (inPlace_) {
    std::wmemcpy(written_, target_, std::wcslen(target_) + 1);
    out_.Reset(::CreateFileW(written_, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             createAttributes, nullptr));
  }
  return out_ ? kArchiveOk : kArchiveCannotOpen;
}

int ItemWriter::Write(const void* data, DWORD size) {
  if (size > declaredSize_ - total_) return kArchiveDataUnreadable;
  DWORD written = 0;
  if (!::WriteFile(out_.Get(), data, size, &written, nullptr) || written != size) {
    return kArchiveWriteFailed;
  }
  crc_ = static_cast<std::uint32_t>(
      ::crc32(crc_, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
  total_ += size;
  return kArchiveOk;
}

int ItemWriter::Commit() {
  // minizip compares the CRC-32 only when the data ends exactly at the size
  // the record gives, so both are checked here whatever the record says.
  if (total_ != declaredSize_ || crc_ != declaredCrc_) return kArchiveDataUnreadable;
  if (!inPlace_ && !PutInPlace()) return kArchiveCannotOpen;
  SetTimesAndAttributes();
  out_.Reset();
  return kArchiveOk;
}

bool ItemWriter::PutInPlace() {
  // A busy target refuses to be replaced and stays as it is; only the
  // launcher's own image makes way, by being moved aside.
  return RenameOpenFile(out_.Get(), target_, true) ||
         (IsRunningImage(target_) && ReplaceRunningImage(out_.Get(), target_));
}

void ItemWriter::SetTimesAndAttributes() {
  // Times are set on the file in its final place, so nothing the replaced
  // file leaves behind can stand in for them.
  FILE_BASIC_INFO basic = {};
  basic.CreationTime.LowPart = item_.creationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(item_.creationTime.dwHighDateTime);
  basic.LastAccessTime.LowPart = item_.accessTime.dwLowDateTime;
  basic.LastAccessTime.HighPart = static_cast<LONG>(item_.accessTime.dwHighDateTime);
  basic.LastWriteTime.LowPart = item_.writeTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(item_.writeTime.dwHighDateTime);
  // Zero leaves the attributes given at creation; read-only comes only now, so
  // that a failed replacement could still delete the written file.
  basic.FileAttributes = (item_.attributes & FILE_ATTRIBUTE_READONLY) != 0
                             ? (item_.attributes & ~FILE_ATTRIBUTE_DIRECTORY)
                             : 0;
  (void)::SetFileInformationByHandle(out_.Get(), FileBasicInfo, &basic, sizeof(basic));
}

void ItemWriter::Discard() {
  if (!out_) return;
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = TRUE;
  const bool marked = ::SetFileInformationByHandle(out_.Get(), FileDispositionInfo, &dispose,
                                                   sizeof(dispose)) != FALSE;
  // A file marked for deletion goes as it is closed; otherwise by its name.
  out_.Reset();
  if (!marked) ::DeleteFileW(written_);
}

bool ItemWriter::FitsFreeSpace(const std::wstring& folder, std::uint64_t size) {
  // An update must never fill the disk of the machine it runs on. The volume
  // is asked once per folder; after that what the items declared is taken
  // off, and the volume is asked again only when that estimate says no.
  auto known = freeSpace_.find(folder);
  if (known == freeSpace_.end()) {
    RemoveLeftoverTemporaries(folder);
  } else if (LeavesReserve(known->second, size)) {
    known->second -= size;
    return true;
  }
  ULARGE_INTEGER available = {};
  // A volume that cannot tell is not held against the item.
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
  const bool fits = LeavesReserve(available.QuadPart, size);
  freeSpace_[folder] = fits ? available.QuadPart - size : available.QuadPart;
  return fits;
}

void ItemWriter::RemoveLeftoverTemporaries(const std::wstring& folder) {
  // Temporary files of an extraction that was killed, once per folder (the
  // first time it is written to). One that an extraction still writes is
  // open without sharing and stays.
  WIN32_FIND_DATAW found;
  ScopedFindHandle search(::FindFirstFileW((folder + L"~upd*.tmp").c_str(), &found));
  if (!search) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsExtractionTemporaryName(found.cFileName)) {
      ::DeleteFileW((folder + found.cFileName).c_str());
    }
  } while (::FindNextFileW(search.Get(), &found));
}

}  // namespace launcher
