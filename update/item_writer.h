// The item writer of the archive layer: how one file item reaches its target.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "update/archive.h"

namespace launcher {

// Writes the file items of one archive, one at a time: each is written beside
// its target and takes the target's place only once all of it has arrived
// intact, so a failed or interrupted item never leaves the installation
// anything but the file it had, or none. Begin, then Write as the data comes,
// then Commit; Discard when any step fails.
class ItemWriter {
 public:
  ItemWriter() = default;
  ItemWriter(const ItemWriter&) = delete;
  ItemWriter& operator=(const ItemWriter&) = delete;

  // Creates the file that item is written to for the full path target. A
  // read-only file or a folder in the target's place refuses the item, as
  // does a volume the declared size would leave less than its reserve.
  [[nodiscard]] int Begin(const wchar_t* target, const ArchiveItem& item,
                          std::uint64_t declaredSize, std::uint32_t declaredCrc);
  // Appends data: nothing beyond the declared size is ever written, data
  // that runs on is refused the moment it passes that size.
  [[nodiscard]] int Write(const void* data, DWORD size);
  // Checks length and CRC-32 against the declared ones, puts the file in the
  // target's place and gives it the item's times and attributes.
  [[nodiscard]] int Commit();
  // Deletes the written file; the target stays as it was.
  void Discard();

 private:
  [[nodiscard]] int CreateBeside(DWORD existingAttributes);
  [[nodiscard]] bool PutInPlace();
  void SetTimesAndAttributes();
  [[nodiscard]] bool FitsFreeSpace(const std::wstring& folder, std::uint64_t size);
  void RemoveLeftoverTemporaries(const std::wstring& folder);

  // The item being written.
  ScopedFileHandle out_;
  wchar_t target_[kPathBufferSize] = {};
  wchar_t written_[kPathBufferSize] = {};
  std::size_t folderLength_ = 0;
  bool inPlace_ = false;  // near the path limit a new file is written under its own name
  ArchiveItem item_ = {};
  std::uint64_t declaredSize_ = 0;
  std::uint32_t declaredCrc_ = 0;
  std::uint64_t total_ = 0;
  std::uint32_t crc_ = 0;

  // Per folder written to: free bytes as last asked, less what items declared since.
  std::unordered_map<std::wstring, std::uint64_t> freeSpace_;
  unsigned temporaryCounter_ = 0;
};

}  // namespace launcher
