// The item writer of the archive layer: how one file item is written beside
// its target, and the free space an update may use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "launcher/base/scoped_resource.h"
#include "update/archive.h"

namespace launcher {

class InstallTree;

// A file written and checked, waiting to take its target's place.
struct WrittenItem {
  std::wstring folder;     // relative path of the folder that holds it
  std::wstring temporary;  // the name it was written under
  std::wstring target;     // the name it is to take
  ScopedFileHandle file;   // held until it is in place, when there is room for it
  bool direct = false;     // written under its own name in a staged folder
};

// Writes the file items of one archive, one at a time, each into a new file
// of its own under a temporary name beside its target, or under its own name
// in a staged folder, where nothing is installed yet. Begin, then Write as
// the data comes, then Finish; Discard when any step fails.
class ItemWriter {
 public:
  ItemWriter() = default;
  ItemWriter(const ItemWriter&) = delete;
  ItemWriter& operator=(const ItemWriter&) = delete;
  ~ItemWriter() { Discard(); }

  // Creates the file for item in folder, the held folder at folderRelative.
  [[nodiscard]] int Begin(InstallTree& tree, HANDLE folder, const std::wstring& folderRelative,
                          const std::wstring& target, const ArchiveItem& item,
                          std::uint64_t declaredSize, std::uint32_t declaredCrc);
  // Appends data: nothing beyond the declared size is ever written, data
  // that runs on is refused the moment it passes that size.
  [[nodiscard]] int Write(const void* data, DWORD size);
  // Checks length and CRC-32 against the declared ones and hands the file
  // over; FinishWrittenFile does the rest, on any thread.
  [[nodiscard]] int Finish(WrittenItem& written);
  // Deletes the file written so far.
  void Discard();

 private:
  WrittenItem written_;
  std::uint64_t declaredSize_ = 0;
  std::uint32_t declaredCrc_ = 0;
  std::uint64_t total_ = 0;
  std::uint32_t crc_ = 0;
};

// Gives a written file its item's times and attributes and puts its data on
// disk. An archive result code.
int FinishWrittenFile(HANDLE file, const ArchiveItem& item);

// The free space an update may still take on the installation's volume: what
// the volume had when first asked, less what every item claimed since. The
// last 64 MiB are never taken. The volume is asked again only when the count
// says no, since other writers may have freed space meanwhile.
class SpaceReserve {
 public:
  [[nodiscard]] bool Claim(const std::wstring& folderOnVolume, std::uint64_t size);

 private:
  bool known_ = false;
  std::uint64_t available_ = 0;
};



}  // namespace launcher
