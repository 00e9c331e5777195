// The reader behind an ArchiveHandle, shared by the files of the archive
// layer: archive.cpp (opening, describing, extracting), archive_data.cpp
// (an item's data, plain or encrypted) and archive_transaction.cpp (the
// commit of everything written).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "unzip.h"
#include "update/archive.h"
#include "update/archive_stream.h"
#include "update/finishing_pool.h"
#include "update/install_tree.h"
#include "update/item_writer.h"
#include "update/replacement.h"
#include "zlib.h"

namespace launcher {

// One open archive: minizip's handle over the file, the root folder, the last
// item described and the buffer every file item is copied through. It moves
// through the central directory, describes items, and hands their data to the
// item writer.
class ArchiveReader {
 public:
  ArchiveReader() = default;
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader();

  int Open(const wchar_t* fileName);
  int Count() const { return count_; }
  int Describe(int index, ArchiveItem& item);
  int Extract(int index, const wchar_t* targetPath);

  std::uint32_t BeginTransaction();
  int Commit(const ArchiveCommitJournal& journal, ArchiveCommitReport& report);

 private:
  struct Details {
    ArchiveItem item;
    uLong flags;
    uLong crc;
    uLong dosDate;
    uLong method;
    std::uint64_t fullCompressedSize;
    std::uint64_t fullUncompressedSize;
  };
  // Where one file item goes: a folder below the root and a name in it.
  struct Target {
    std::wstring folder;
    std::wstring name;
    HANDLE folderHandle;  // the held folder at folder
  };

  void FindUnreadableItems(std::uint64_t fileSize);
  int MoveTo(int index);
  int ReadDescription(int index);
  void DecodeName(const char* stored, uLong flags, wchar_t (&decoded)[kPathBufferSize]) const;
  int OpenItemData(int index);
  void CloseItemData();
  int ResolveTarget(const wchar_t* targetPath, std::wstring& relative);
  int Claim(const std::wstring& relative, bool folder);
  int ExtractBelowRoot(const std::wstring& relative, bool folder);
  int ExtractAbsolute(const wchar_t* targetPath);
  int WriteFileItem(InstallTree& tree, const Target& target, bool deferred);
  int CopyItemData(const Details& details);
  int CopyEncryptedItemData(const Details& details);
  // Inflates decrypted data of a deflated item and hands the output on.
  int InflateInto(z_stream& stream, unsigned char* data, std::size_t length, bool& ended);
  void Abandon();

  unzFile zip_ = nullptr;
  ScopedFileHandle file_;
  std::unique_ptr<ArchiveFileStream> stream_;
  int count_ = 0;
  int current_ = -1;     // minizip's current entry, -1 when unknown
  int openIndex_ = -1;   // entry whose data minizip holds open
  bool dataStarted_ = false;
  bool damaged_ = false;
  wchar_t root_[kPathBufferSize] = {};
  wchar_t resolvedRoot_[kPathBufferSize] = {};
  std::size_t resolvedRootLength_ = 0;
  int cachedIndex_ = -1;
  Details cached_ = {};
  std::vector<char> extraField_;
  std::unique_ptr<char[]> outputBuffer_;
  std::unique_ptr<unsigned char[]> encryptedInput_;  // only for encrypted items
  std::vector<bool> unreadable_;  // by index: data shared with another item or beyond the file

  std::unique_ptr<InstallTree> tree_;
  ItemWriter writer_;
  SpaceReserve reserve_;
  // Folded relative paths of what this archive wrote so far: the first item
  // to claim a name has it.
  std::unordered_set<std::wstring> claimedFiles_;
  std::unordered_set<std::wstring> claimedFolders_;
  std::unordered_set<std::wstring> declaredFolders_;  // by folder items
  bool deferred_ = false;
  bool committed_ = false;
  std::vector<Replacement> pending_;
  std::vector<LeftoverName> stagedFiles_;  // written under their own names in staged folders
  std::wstring stagedLauncher_;            // the launcher image this update stages, if any
  // Written files stay open until their commit, this many at most: each costs
  // Wine a file descriptor in the server and one in the process.
  static constexpr std::size_t kHeldEntries = 4096;
  std::size_t heldEntries_ = 0;
  // Chosen by measurement on a 2-core machine (see the README's benchmarks).
  static constexpr unsigned kFinishingWorkers = 2;
  static constexpr std::size_t kFinishingQueue = 16;
  std::unique_ptr<FinishingPool> pool_;
  // Tickets of files in staged folders, apart from those of pending_.
  static constexpr std::size_t kStagedTicket = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
};

}  // namespace launcher
