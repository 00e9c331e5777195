// The launcher's own archive layer over minizip's unzip functions: it opens an
// archive relative to the current folder (the root), describes its items and
// writes them below the root with their Windows attributes and times.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "update/replacement.h"

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
constexpr int kArchiveTargetBusy = 0x8000;         // target or its folder in use, or access denied
constexpr int kArchiveBadIndex = 0x10000;          // missing handle or index outside the archive
constexpr int kArchiveNameConflict = 0x20000;      // an earlier item has the same file or folder
constexpr int kArchiveLinkedTarget = 0x40000;      // a link, junction or mount point on the way
constexpr int kArchiveWrongKind = 0x80000;
constexpr int kArchiveAlreadyOpen = 0x1000000;
constexpr int kArchiveDataUnreadable = 0x5000000;  // data unreadable, undecompressable or bad CRC

// Failures that a later start may not meet again: the disk was full, or a
// target or folder was in use or refused access. Every other failure is the
// archive's own and stays what it is.
bool IsTransientArchiveResult(int result);

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

// Closes the archive. Whatever a transaction wrote and did not commit is
// deleted, and so are the folders it made.
[[nodiscard]] int CloseArchive(ArchiveHandle* handle);

// From now on ExtractArchiveItem writes each file beside its target (a folder
// that replaces a file is made under a temporary name) and leaves the
// installed one as it is, until the commit. run, when given, receives the
// run id that every temporary name of this transaction carries.
[[nodiscard]] int BeginArchiveTransaction(ArchiveHandle* handle, std::uint32_t* run = nullptr);

// Called with every replacement before the first one happens; false stops
// the commit before anything has changed.
using ArchiveCommitJournal = std::function<bool(const std::vector<ReplacementNames>& replacements)>;

struct ArchiveCommitReport {
  // Installed files moved aside that could not be deleted yet.
  std::vector<LeftoverName> movedAside;
  // Items that could not take their place for a cause of their own (a name
  // the volume refuses, a link put in the target's place), with the result.
  std::vector<std::pair<std::wstring, int>> refused;
};

// Puts everything written since BeginArchiveTransaction in its place: all of
// it, or, when a step fails for a passing cause (IsTransientArchiveResult),
// none, and that result is given. An item refused for a cause of its own is
// left out and reported.
[[nodiscard]] int CommitArchiveTransaction(ArchiveHandle* handle, const ArchiveCommitJournal& journal,
                                           ArchiveCommitReport& report);

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
using ScopedArchive = ScopedResource<ArchiveHandle*, ArchiveHandleTraits>;

}  // namespace launcher
