// The launcher's own archive layer over minizip's unzip functions: it opens an
// archive relative to the current folder (the root), describes its items and
// writes them below the root with their Windows attributes and times.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "launcher/base/client_contract.h"

namespace launcher {

// Result codes of the four operations.
constexpr int kArchiveOk = 0;
constexpr int kArchiveNameTooLong = 0x100;         // name or full path of 260 units or more
constexpr int kArchiveCannotOpen = 0x200;          // archive not opened, or target not created
constexpr int kArchiveWriteFailed = 0x400;
constexpr int kArchiveHeaderMismatch = 0x700;      // local header vs. central record, or method
constexpr int kArchiveExtraFieldUnreadable = 0x800;
constexpr int kArchiveBadPassword = 0x1000;        // encrypted item refuses the empty password
constexpr int kArchiveUnsafeTarget = 0x2000;       // target could leave the root or name a device
constexpr int kArchiveDirectoryDamaged = 0x4000;   // central directory cannot be walked
constexpr int kArchiveBadIndex = 0x10000;          // missing handle or index outside the archive
constexpr int kArchiveWrongKind = 0x80000;
constexpr int kArchiveAlreadyOpen = 0x1000000;
constexpr int kArchiveDataUnreadable = 0x5000000;  // data unreadable, undecompressable or bad CRC

struct ArchiveItem {
  std::int32_t index;  // position in the central directory; the item count for index -1
  wchar_t name[kPathBufferSize];
  std::uint32_t attributes;  // FILE_ATTRIBUTE_* bits
  FILETIME accessTime;       // UTC
  FILETIME creationTime;
  FILETIME writeTime;
  std::uint32_t compressedSize;
  std::uint32_t uncompressedSize;
};

class ArchiveReader;

constexpr int kReadingArchiveHandle = 1;

struct ArchiveHandle {
  int kind = kReadingArchiveHandle;
  std::unique_ptr<ArchiveReader> reader;

  ArchiveHandle();
  ~ArchiveHandle();
};

// Opens fileName (relative names against the current folder, which becomes the
// root). On success *handle receives a handle that CloseArchive frees.
[[nodiscard]] int OpenArchive(const wchar_t* fileName, ArchiveHandle** handle);

// Describes item index, or gives the item count in item->index for index -1.
[[nodiscard]] int GetArchiveItem(ArchiveHandle* handle, int index, ArchiveItem* item);

// Writes item index to targetPath (relative to the root unless it begins with a
// separator or a drive letter and colon), or creates the folder it names. An
// existing file is replaced only by a complete, checked copy of the item.
[[nodiscard]] int ExtractArchiveItem(ArchiveHandle* handle, int index, const wchar_t* targetPath);

[[nodiscard]] int CloseArchive(ArchiveHandle* handle);

// Makes sure folder (and every folder above it) exists below root, or as given
// when root is null. Outcomes are not reported: a folder that could not be made
// shows up as a target file that cannot be created.
void EnsureFolder(const wchar_t* root, const wchar_t* folder);

// Lets ScopedResource own an open archive.
struct ArchiveHandleTraits {
  static ArchiveHandle* Empty() noexcept { return nullptr; }
  static bool IsValid(const ArchiveHandle* handle) noexcept { return handle != nullptr; }
  static void Free(ArchiveHandle* handle) noexcept { (void)CloseArchive(handle); }
};

}  // namespace launcher
