#include "update/item_writer.h"

#include "update/folder_handles.h"
#include "update/install_tree.h"
#include "zlib.h"

namespace launcher {
namespace {

constexpr std::uint64_t kFreeSpaceReserve = 64ull << 20;

bool LeavesReserve(std::uint64_t available, std::uint64_t size) {
  return size <= available && available - size >= kFreeSpaceReserve;
}

LARGE_INTEGER Ticks(const FILETIME& time) {
  LARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = static_cast<LONG>(time.dwHighDateTime);
  return ticks;
}

}  // namespace

int ItemWriter::Begin(InstallTree& tree, HANDLE folder, const std::wstring& folderRelative,
                      const std::wstring& target, const ArchiveItem& item,
                      std::uint64_t declaredSize, std::uint32_t declaredCrc) {
  Discard();
  declaredSize_ = declaredSize;
  declaredCrc_ = declaredCrc;
  total_ = 0;
  crc_ = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  written_ = WrittenItem{folderRelative, std::wstring(), target, ScopedFileHandle()};

  // Read-only comes with the times at the end; a file still being written
  // must stay deletable.
  DWORD attributes = item.attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  DWORD error = ERROR_SUCCESS;
  if (tree.IsStaged(folderRelative)) {
    const OpenRequest request = {kWrittenFileAccess, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                                 attributes};
    error = OpenInFolder(folder, target, request, written_.file);
    written_.temporary = target;
    written_.direct = true;
  } else {
    error = tree.CreateTemporary(folder, attributes, written_.file, written_.temporary);
  }
  return error == ERROR_SUCCESS ? kArchiveOk : ArchiveResultOf(error);
}

int ItemWriter::Write(const void* data, DWORD size) {
  if (size > declaredSize_ - total_) return kArchiveDataUnreadable;
  DWORD written = 0;
  if (!::WriteFile(written_.file.Get(), data, size, &written, nullptr) || written != size) {
    return ArchiveResultOf(::GetLastError()) == kArchiveTargetBusy ? kArchiveTargetBusy
                                                                    : kArchiveWriteFailed;
  }
  crc_ = static_cast<std::uint32_t>(
      ::crc32(crc_, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
  total_ += size;
  return kArchiveOk;
}

int ItemWriter::Finish(WrittenItem& written) {
  // minizip compares the CRC-32 only when the data ends exactly at the size
  // the record gives, so both are checked here whatever the record says.
  if (total_ != declaredSize_ || crc_ != declaredCrc_) return kArchiveDataUnreadable;
  written = std::move(written_);
  written_ = WrittenItem();
  return kArchiveOk;
}

int FinishWrittenFile(HANDLE file, const ArchiveItem& item) {
  FILE_BASIC_INFO basic = {};
  basic.CreationTime = Ticks(item.creationTime);
  basic.LastAccessTime = Ticks(item.accessTime);
  basic.LastWriteTime = Ticks(item.writeTime);
  // The file was made with every attribute but read-only; zero leaves them.
  if ((item.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    basic.FileAttributes = item.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  }
  (void)::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
  // On disk before the update counts on it: a power cut after the commit
  // must not leave a file with its name but without its data.
  return ::FlushFileBuffers(file) ? kArchiveOk : kArchiveWriteFailed;
}

void ItemWriter::Discard() {
  (void)DeleteThroughHandle(written_.file);
  written_ = WrittenItem();
}

bool SpaceReserve::Claim(const std::wstring& folderOnVolume, std::uint64_t size) {
  if (known_ && LeavesReserve(available_, size)) {
    available_ -= size;
    return true;
  }
  ULARGE_INTEGER available = {};
  // A volume that cannot tell is not held against the item.
  if (!::GetDiskFreeSpaceExW(folderOnVolume.c_str(), &available, nullptr, nullptr)) return true;
  known_ = true;
  available_ = available.QuadPart;
  if (!LeavesReserve(available_, size)) return false;
  available_ -= size;
  return true;
}

}  // namespace launcher
