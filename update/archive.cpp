#include "update/archive.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "unzip.h"
#include "zlib.h"
#include "update/archive_rules.h"
#include "update/self_replace.h"

namespace launcher {
namespace {

constexpr DWORD kOutputBufferSize = 16384;
constexpr std::size_t kPathUnits = kPathBufferSize;
// Larger than any stored name that still decodes to fewer than 260 units (a
// UTF-8 sequence never gives fewer units than a third of its bytes).
constexpr uLong kStoredNameBufferSize = 1024;


bool IsAbsoluteTarget(const wchar_t* path) {
  return IsPathSeparator(path[0]) || (path[0] != 0 && path[1] == L':');
}

// The archive file as minizip reads it. minizip reads headers a byte at a
// time and jumps between the central directory and the items' data, so reads
// are served from a few blocks of the file kept in memory; a seek is only
// remembered until the next read needs the disk.
class ArchiveFileStream {
 public:
  ArchiveFileStream(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}

  uLong Read(void* out, uLong size) {
    auto* target = static_cast<unsigned char*>(out);
    uLong done = 0;
    while (done < size && position_ < size_) {
      Block* block = BlockHolding(position_);
      if (block == nullptr) {
        block = LeastRecentBlock();
        if (!Fill(*block, position_)) {
          failed_ = true;
          break;
        }
      }
      block->lastUse = ++useClock_;
      const std::uint64_t offset = position_ - block->start;
      std::uint64_t count = block->length - offset;
      if (count > size - done) count = size - done;
      std::memcpy(target + done, block->data.get() + offset, static_cast<std::size_t>(count));
      done += static_cast<uLong>(count);
      position_ += count;
    }
    return done;
  }

  long Seek(ZPOS64_T offset, int origin) {
    std::uint64_t base = 0;
    switch (origin) {
      case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
      case ZLIB_FILEFUNC_SEEK_CUR: base = position_; break;
      case ZLIB_FILEFUNC_SEEK_END: base = size_; break;
      default: return -1;
    }
    position_ = base + offset;
    return 0;
  }

  ZPOS64_T Tell() const { return position_; }
  bool Failed() const { return failed_; }

  bool ReadAt(std::uint64_t position, void* out, uLong size) {
    position_ = position;
    return Read(out, size) == size;
  }

 private:
  static constexpr DWORD kBlockSize = 65536;
  struct Block {
    std::unique_ptr<unsigned char[]> data;
    std::uint64_t start = 0;
    DWORD length = 0;
    std::uint64_t lastUse = 0;
  };

  Block* BlockHolding(std::uint64_t position) {
    for (Block& block : blocks_) {
      if (block.length != 0 && position >= block.start && position - block.start < block.length) {
        return &block;
      }
    }
    return nullptr;
  }

  Block* LeastRecentBlock() {
    Block* oldest = &blocks_[0];
    for (Block& block : blocks_) {
      if (block.lastUse < oldest->lastUse) oldest = &block;
    }
    return oldest;
  }

  bool Fill(Block& block, std::uint64_t position) {
    if (!block.data) block.data.reset(new unsigned char[kBlockSize]);
    block.length = 0;
    if (filePosition_ != position) {
      LARGE_INTEGER distance;
      distance.QuadPart = static_cast<LONGLONG>(position);
      if (!::SetFilePointerEx(file_, distance, nullptr, FILE_BEGIN)) return false;
      filePosition_ = position;
    }
    DWORD got = 0;
    if (!::ReadFile(file_, block.data.get(), kBlockSize, &got, nullptr) || got == 0) return false;
    filePosition_ += got;
    block.start = position;
    block.length = got;
    return true;
  }

  HANDLE file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::uint64_t filePosition_ = 0;
  std::uint64_t useClock_ = 0;
  bool failed_ = false;
  // One block stays on the central directory while the others follow the data.
  Block blocks_[3];
};

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int) { return opaque; }
uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<ArchiveFileStream*>(stream)->Read(buffer, size);
}
uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) {
  return static_cast<ArchiveFileStream*>(stream)->Tell();
}
long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  return static_cast<ArchiveFileStream*>(stream)->Seek(offset, origin);
}
// The file itself belongs to the reader, which closes it after minizip.
int ZCALLBACK CloseStream(voidpf, voidpf) { return 0; }
int ZCALLBACK TestStreamError(voidpf, voidpf stream) {
  return static_cast<ArchiveFileStream*>(stream)->Failed() ? -1 : 0;
}

// Joins root (may be null) and the first length units of folder; false when
// the result would not fit a path buffer.
bool JoinFolder(const wchar_t* root, const wchar_t* folder, std::size_t length,
                wchar_t (&out)[kPathUnits]) {
  const std::size_t rootLength = root == nullptr ? 0 : std::wcslen(root);
  if (rootLength + length >= kPathUnits) return false;
  if (rootLength != 0) std::wmemcpy(out, root, rootLength);
  std::wmemcpy(out + rootLength, folder, length);
  out[rootLength + length] = 0;
  return true;
}

using FolderSet = std::unordered_set<std::wstring>;

// The folder as a key for the folders already made sure of: trailing
// separators do not make it another folder.
std::wstring FolderKey(const wchar_t* joined) {
  std::size_t length = std::wcslen(joined);
  while (length > 1 && IsPathSeparator(joined[length - 1])) --length;
  return std::wstring(joined, length);
}

// Folders that folder items of the archive being extracted name. A plain file
// gives way to such a folder, and only when a file item needs the folder: an
// update that turns a file into a folder brings the folder's files along.
bool FolderExistsOrWasMade(const wchar_t* path, const FolderSet* declared) {
  const DWORD attributes = ::GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    // A read-only file stays, and the file items below it fail.
    if (declared == nullptr || declared->count(FolderKey(path)) == 0 || !::DeleteFileW(path)) {
      return false;
    }
  }
  return ::CreateDirectoryW(path, nullptr) != FALSE;
}

void EnsureFolderPart(const wchar_t* root, const wchar_t* folder, std::size_t length,
                      FolderSet* known, const FolderSet* declared = nullptr) {
  // Trailing separators name the same folder.
  while (length > 1 && IsPathSeparator(folder[length - 1])) --length;
  if (length == 0) return;
  wchar_t joined[kPathUnits];
  if (!JoinFolder(root, folder, length, joined)) return;
  std::wstring key;
  if (known != nullptr) {
    key = FolderKey(joined);
    if (known->count(key) != 0) return;
  }
  std::size_t last = length;
  while (last > 0 && !IsPathSeparator(folder[last - 1])) --last;
  // last is one past the separator; a separator at the very start has no parent.
  if (last > 1) EnsureFolderPart(root, folder, last - 1, known, declared);
  if (FolderExistsOrWasMade(joined, declared) && known != nullptr) known->insert(std::move(key));
}

constexpr std::uint64_t kFreeSpaceReserve = 64ull << 20;

bool LeavesReserve(std::uint64_t available, std::uint64_t size) {
  return size <= available && available - size >= kFreeSpaceReserve;
}

// Deletes a written file that is not taking its target's place.
void DiscardWritten(ScopedFileHandle& written, const wchar_t* path) {
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(written.Get(), FileDispositionInfo, &dispose,
                                    sizeof(dispose))) {
    written.Reset();
    ::DeleteFileW(path);
  }
}

void EnsureRoot(const wchar_t* root, FolderSet* known) {
  if (root == nullptr) return;
  if (known != nullptr && known->count(FolderKey(root)) != 0) return;
  if (FolderExistsOrWasMade(root, nullptr) && known != nullptr) {
    known->insert(FolderKey(root));
  }
}

}  // namespace

// One open archive: minizip's handle over the file, the root folder, the last
// item described and the buffer every file item is copied through.
class ArchiveReader {
 public:
  ArchiveReader() = default;
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader() {
    CloseItemData();
    if (zip_ != nullptr) ::unzClose(zip_);
  }

  int Open(const wchar_t* fileName);
  int Count() const { return count_; }
  int Describe(int index, ArchiveItem& item);
  int Extract(int index, const wchar_t* targetPath);

 private:
  struct Details {
    ArchiveItem item;
    uLong flags;
    uLong crc;
    uLong dosDate;
    std::uint64_t fullUncompressedSize;
  };

  void FindOverlappingItems();
  int MoveTo(int index);
  int ReadDescription(int index);
  int OpenItemData(int index);
  void CloseItemData();
  int CheckTarget(const wchar_t* targetPath, bool absolute, wchar_t (&full)[kPathUnits]);
  int WriteFileItem(const wchar_t* fullPath, const Details& details);
  bool FitsFreeSpace(const std::wstring& folder, std::uint64_t size);
  void RemoveLeftoverTemporaries(const std::wstring& folder);
  int CopyItemData(HANDLE out, const Details& details);
  int CopyEncryptedItemData(HANDLE out, const Details& details);
  int WriteOut(HANDLE out, const void* data, DWORD size);
  int Deliver(HANDLE out, const void* data, DWORD size, const Details& details,
              std::uint64_t& total, uLong& crc);

  unzFile zip_ = nullptr;
  ScopedFileHandle file_;
  std::unique_ptr<ArchiveFileStream> stream_;
  int count_ = 0;
  int current_ = -1;     // minizip's current entry, -1 when unknown
  int openIndex_ = -1;   // entry whose data minizip holds open
  bool dataStarted_ = false;
  bool damaged_ = false;
  wchar_t root_[kPathUnits] = {};
  wchar_t resolvedRoot_[kPathUnits] = {};
  std::size_t resolvedRootLength_ = 0;
  int cachedIndex_ = -1;
  Details cached_ = {};
  std::vector<char> extraField_;
  std::unique_ptr<char[]> outputBuffer_;
  std::unique_ptr<unsigned char[]> encryptedInput_;  // only for encrypted items
  FolderSet knownFolders_;
  FolderSet declaredFolders_;  // named by folder items, see FolderExistsOrWasMade
  // Per folder written to: free bytes as last asked, less what items declared since.
  std::unordered_map<std::wstring, std::uint64_t> freeSpace_;
  std::vector<bool> overlapping_;       // by index: data shared with another item
  bool rootEnsured_ = false;
  unsigned temporaryCounter_ = 0;
};

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

int ArchiveReader::Open(const wchar_t* fileName) {
  if (zip_ != nullptr) return kArchiveAlreadyOpen;
  const DWORD rootLength = ::GetCurrentDirectoryW(kPathUnits, root_);
  if (rootLength == 0 || rootLength >= kPathUnits - 1) return kArchiveCannotOpen;
  if (!IsPathSeparator(root_[rootLength - 1])) {
    root_[rootLength] = L'\\';
    root_[rootLength + 1] = 0;
  }
  // Targets are judged against the root as Windows resolves it.
  const DWORD resolved = ::GetFullPathNameW(root_, kPathUnits, resolvedRoot_, nullptr);
  if (resolved == 0 || resolved >= kPathUnits - 1) return kArchiveCannotOpen;
  if (resolvedRoot_[resolved - 1] != L'\\') {
    resolvedRoot_[resolved] = L'\\';
    resolvedRoot_[resolved + 1] = 0;
  }
  resolvedRootLength_ = std::wcslen(resolvedRoot_);

  file_.Reset(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return kArchiveCannotOpen;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file_.Get(), &size)) return kArchiveCannotOpen;
  stream_.reset(new ArchiveFileStream(file_.Get(), static_cast<std::uint64_t>(size.QuadPart)));

  // 64-bit offsets: a classic archive addresses 4 GiB, and zip64 beyond.
  zlib_filefunc64_def functions = {};
  functions.zopen64_file = OpenStream;
  functions.zread_file = ReadStream;
  functions.zwrite_file = WriteStream;
  functions.ztell64_file = TellStream;
  functions.zseek64_file = SeekStream;
  functions.zclose_file = CloseStream;
  functions.zerror_file = TestStreamError;
  functions.opaque = stream_.get();
  zip_ = ::unzOpen2_64("", &functions);
  if (zip_ == nullptr) return kArchiveCannotOpen;
  unz_global_info64 global = {};
  if (::unzGetGlobalInfo64(zip_, &global) != UNZ_OK) return kArchiveCannotOpen;
  count_ = static_cast<int>(global.number_entry);
  FindOverlappingItems();
  return kArchiveOk;
}

void ArchiveReader::FindOverlappingItems() {
  // Every item's data as it lies in the file. Several records pointing into
  // the same data would write it again and again (a zip bomb without
  // nesting), so items whose data overlaps another's are refused, all of
  // them, before anything is written.
  std::vector<DataSpan> spans;
  spans.reserve(static_cast<std::size_t>(count_));
  int index = 0;
  for (int step = ::unzGoToFirstFile(zip_); step == UNZ_OK && index < count_;
       step = ::unzGoToNextFile(zip_), ++index) {
    unz_file_info64 info = {};
    if (::unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      break;
    }
    if (info.compressed_size == 0) continue;
    // Opened raw, only to learn where the data starts behind its local header;
    // an item that cannot be opened fails on its own later.
    int method = 0;
    int level = 0;
    if (::unzOpenCurrentFile2(zip_, &method, &level, 1) != UNZ_OK) continue;
    const ZPOS64_T start = ::unzGetCurrentFileZStreamPos64(zip_);
    ::unzCloseCurrentFile(zip_);
    const ZPOS64_T end = info.compressed_size > ~start ? ~ZPOS64_T{0} : start + info.compressed_size;
    spans.push_back(DataSpan{start, end, index});
  }
  current_ = -1;
  overlapping_ = FindOverlappingSpans(spans, count_);
}

void ArchiveReader::CloseItemData() {
  if (openIndex_ < 0) return;
  ::unzCloseCurrentFile(zip_);
  openIndex_ = -1;
}

int ArchiveReader::MoveTo(int index) {
  if (damaged_) return kArchiveDirectoryDamaged;
  if (current_ == index) return kArchiveOk;
  CloseItemData();
  if (current_ < 0 || index < current_) {
    if (::unzGoToFirstFile(zip_) != UNZ_OK) {
      damaged_ = true;
      return kArchiveDirectoryDamaged;
    }
    current_ = 0;
  }
  while (current_ < index) {
    // A record that cannot be read ends the walk for good: asking again would
    // only meet it again.
    if (::unzGoToNextFile(zip_) != UNZ_OK) {
      damaged_ = true;
      current_ = -1;
      return kArchiveDirectoryDamaged;
    }
    ++current_;
  }
  return kArchiveOk;
}

int ArchiveReader::ReadDescription(int index) {
  if (index == cachedIndex_) return kArchiveOk;
  cachedIndex_ = -1;
  const int moved = MoveTo(index);
  if (moved != kArchiveOk) return moved;

  // The 64-bit record: a zip64 size whose high half is set must not pass for
  // its low half, or the data's length and CRC-32 would go unchecked.
  unz_file_info64 info = {};
  char storedName[kStoredNameBufferSize];
  if (::unzGetCurrentFileInfo64(zip_, &info, storedName, sizeof(storedName), nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
    damaged_ = true;
    return kArchiveDirectoryDamaged;
  }
  if (info.size_filename >= sizeof(storedName)) return kArchiveNameTooLong;
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
    return kArchiveHeaderMismatch;
  }

  // Opening the data checks the local header against the central record.
  CloseItemData();
  if (::unzOpenCurrentFile(zip_) != UNZ_OK) return kArchiveHeaderMismatch;
  openIndex_ = index;
  dataStarted_ = false;
  const int extraLength = ::unzGetLocalExtrafield(zip_, nullptr, 0);
  if (extraLength < 0) return kArchiveExtraFieldUnreadable;
  extraField_.resize(static_cast<std::size_t>(extraLength));
  if (extraLength > 0 &&
      ::unzGetLocalExtrafield(zip_, extraField_.data(), static_cast<unsigned>(extraLength)) !=
          extraLength) {
    return kArchiveExtraFieldUnreadable;
  }

  Details details = {};
  wchar_t decoded[kPathUnits] = {};
  if (::MultiByteToWideChar(CP_UTF8, 0, storedName, -1, decoded, kPathUnits) == 0) {
    return kArchiveNameTooLong;
  }
  const std::size_t start = NameRulesStart(decoded);
  std::wmemcpy(details.item.name, decoded + start, std::wcslen(decoded + start) + 1);
  details.item.index = index;
  details.item.attributes = MapExternalAttributes((info.version >> 8) & 0xFFu, info.external_fa);
  details.item.compressedSize = static_cast<std::uint32_t>(info.compressed_size);
  details.item.uncompressedSize = static_cast<std::uint32_t>(info.uncompressed_size);
  details.fullUncompressedSize = info.uncompressed_size;
  ItemTimes times = {};
  DosDateTimeToUtc(info.dosDate, times.writeTime);
  times.accessTime = times.writeTime;
  times.creationTime = times.writeTime;
  ApplyExtendedTimestamp(reinterpret_cast<const unsigned char*>(extraField_.data()),
                         extraField_.size(), times);
  details.item.accessTime = times.accessTime;
  details.item.creationTime = times.creationTime;
  details.item.writeTime = times.writeTime;
  details.flags = info.flag;
  details.crc = info.crc;
  details.dosDate = info.dosDate;

  cached_ = details;
  cachedIndex_ = index;
  return kArchiveOk;
}

int ArchiveReader::Describe(int index, ArchiveItem& item) {
  const int result = ReadDescription(index);
  if (result == kArchiveOk) item = cached_.item;
  return result;
}

int ArchiveReader::CheckTarget(const wchar_t* targetPath, bool absolute,
                               wchar_t (&full)[kPathUnits]) {
  if (absolute ? !IsSafeAbsoluteTarget(targetPath) : !IsSafeRelativeTarget(targetPath)) {
    return kArchiveUnsafeTarget;
  }
  const wchar_t* root = absolute ? L"" : root_;
  if (std::wcslen(root) + std::wcslen(targetPath) >= kPathUnits) return kArchiveNameTooLong;
  ::wsprintfW(full, L"%s%s", root, targetPath);
  if (absolute) return kArchiveOk;
  wchar_t resolved[kPathUnits];
  const DWORD length = ::GetFullPathNameW(full, kPathUnits, resolved, nullptr);
  if (length == 0 || length >= kPathUnits) return kArchiveNameTooLong;
  if (length <= resolvedRootLength_ ||
      ::CompareStringOrdinal(resolved, static_cast<int>(resolvedRootLength_), resolvedRoot_,
                             static_cast<int>(resolvedRootLength_), TRUE) != CSTR_EQUAL) {
    return kArchiveUnsafeTarget;
  }
  return kArchiveOk;
}

int ArchiveReader::Extract(int index, const wchar_t* targetPath) {
  const int described = ReadDescription(index);
  if (described != kArchiveOk) return described;
  if (targetPath == nullptr) return kArchiveUnsafeTarget;
  const bool absolute = IsAbsoluteTarget(targetPath);
  wchar_t full[kPathUnits];
  const int checked = CheckTarget(targetPath, absolute, full);
  if (checked != kArchiveOk) return checked;

  const wchar_t* root = absolute ? nullptr : root_;
  if (root != nullptr && !rootEnsured_) {
    EnsureRoot(root, &knownFolders_);
    rootEnsured_ = true;
  }
  const std::size_t targetLength = std::wcslen(targetPath);
  if ((cached_.item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    EnsureFolderPart(root, targetPath, targetLength, &knownFolders_);
    std::size_t length = targetLength;
    while (length > 1 && IsPathSeparator(targetPath[length - 1])) --length;
    wchar_t joined[kPathUnits];
    if (JoinFolder(root, targetPath, length, joined)) declaredFolders_.insert(FolderKey(joined));
    return kArchiveOk;
  }
  std::size_t folderLength = targetLength;
  while (folderLength > 0 && !IsPathSeparator(targetPath[folderLength - 1])) --folderLength;
  EnsureFolderPart(root, targetPath, folderLength, &knownFolders_, &declaredFolders_);
  // A file item needs a file name; one that ends in a separator (a folder as
  // some zip writers store it) has had its folders made, and no file.
  if (folderLength == targetLength) return kArchiveCannotOpen;
  if (index < static_cast<int>(overlapping_.size()) && overlapping_[static_cast<std::size_t>(index)]) {
    return kArchiveDataUnreadable;
  }
  return WriteFileItem(full, cached_);
}

int ArchiveReader::WriteFileItem(const wchar_t* fullPath, const Details& details) {
  // The item is written beside its target and takes the target's place only
  // once all of it has arrived intact, so a failed or interrupted item never
  // leaves the installation anything but the file it had, or none.
  std::size_t folderLength = std::wcslen(fullPath);
  while (folderLength > 0 && !IsPathSeparator(fullPath[folderLength - 1])) --folderLength;
  const DWORD readOnly = details.item.attributes & FILE_ATTRIBUTE_READONLY;
  DWORD createAttributes =
      details.item.attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  if (createAttributes == 0) createAttributes = FILE_ATTRIBUTE_NORMAL;

  // A read-only file or a folder in the target's place refuses the item, as a
  // target that cannot be created would.
  const DWORD existing = ::GetFileAttributesW(fullPath);
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return kArchiveCannotOpen;
  }
  const std::wstring folder(fullPath, folderLength);
  if (!FitsFreeSpace(folder, details.fullUncompressedSize)) return kArchiveWriteFailed;

  ScopedFileHandle out;
  wchar_t written[kPathUnits];
  bool inPlace = false;
  for (int attempt = 0; attempt < 16 && !out && !inPlace; ++attempt) {
    wchar_t suffix[40];
    const int suffixLength = ::wsprintfW(suffix, L"~upd%lx.%x.tmp", ::GetCurrentProcessId(),
                                         ++temporaryCounter_);
    if (folderLength + static_cast<std::size_t>(suffixLength) >= kPathUnits) {
      // Near the path limit a new file is written under its own name, as
      // there is nothing to protect; an existing one stays.
      if (existing != INVALID_FILE_ATTRIBUTES) return kArchiveNameTooLong;
      inPlace = true;
      break;
    }
    std::wmemcpy(written, fullPath, folderLength);
    std::wmemcpy(written + folderLength, suffix, static_cast<std::size_t>(suffixLength) + 1);
    out.Reset(::CreateFileW(written, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            createAttributes, nullptr));
    if (!out && ::GetLastError() != ERROR_FILE_EXISTS) return kArchiveCannotOpen;
  }
  if (inPlace) {
    std::wmemcpy(written, fullPath, std::wcslen(fullPath) + 1);
    out.Reset(::CreateFileW(written, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            createAttributes, nullptr));
  }
  if (!out) return kArchiveCannotOpen;

  int result = CopyItemData(out.Get(), details);
  if (result == kArchiveOk && !inPlace) {
    // A busy target refuses to be replaced and stays as it is; only the
    // launcher's own image makes way, by being moved aside.
    const bool placed = RenameOpenFile(out.Get(), fullPath, true) ||
                        (IsRunningImage(fullPath) && ReplaceRunningImage(out.Get(), fullPath));
    if (!placed) result = kArchiveCannotOpen;
  }
  if (result != kArchiveOk) {
    DiscardWritten(out, written);
    return result;
  }
  // Times are set on the file in its final place, so nothing the replaced
  // file leaves behind can stand in for them.
  FILE_BASIC_INFO basic = {};
  basic.CreationTime.LowPart = details.item.creationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(details.item.creationTime.dwHighDateTime);
  basic.LastAccessTime.LowPart = details.item.accessTime.dwLowDateTime;
  basic.LastAccessTime.HighPart = static_cast<LONG>(details.item.accessTime.dwHighDateTime);
  basic.LastWriteTime.LowPart = details.item.writeTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(details.item.writeTime.dwHighDateTime);
  // Zero leaves the attributes given at creation; read-only comes only now, so
  // that a failed replacement could still delete the written file.
  basic.FileAttributes = readOnly != 0 ? (details.item.attributes & ~FILE_ATTRIBUTE_DIRECTORY) : 0;
  ::SetFileInformationByHandle(out.Get(), FileBasicInfo, &basic, sizeof(basic));
  return kArchiveOk;
}

bool ArchiveReader::FitsFreeSpace(const std::wstring& folder, std::uint64_t size) {
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

void ArchiveReader::RemoveLeftoverTemporaries(const std::wstring& folder) {
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

int ArchiveReader::OpenItemData(int index) {
  CloseItemData();
  if (::unzOpenCurrentFile(zip_) != UNZ_OK) return kArchiveDataUnreadable;
  openIndex_ = index;
  dataStarted_ = false;
  return kArchiveOk;
}

int ArchiveReader::CopyItemData(HANDLE out, const Details& details) {
  const int index = details.item.index;
  if (current_ != index) {
    const int moved = MoveTo(index);
    if (moved != kArchiveOk) return moved;
  }
  if ((details.flags & 1u) != 0) return CopyEncryptedItemData(out, details);
  if (openIndex_ != index || dataStarted_) {
    const int opened = OpenItemData(index);
    if (opened != kArchiveOk) return opened;
  }
  dataStarted_ = true;
  if (!outputBuffer_) outputBuffer_.reset(new char[kOutputBufferSize]);
  std::uint64_t total = 0;
  uLong crc = ::crc32(0L, Z_NULL, 0);
  for (;;) {
    const int got = ::unzReadCurrentFile(zip_, outputBuffer_.get(), kOutputBufferSize);
    if (got < 0) return kArchiveDataUnreadable;
    if (got == 0) break;
    const int delivered =
        Deliver(out, outputBuffer_.get(), static_cast<DWORD>(got), details, total, crc);
    if (delivered != kArchiveOk) return delivered;
  }
  // minizip compares the CRC-32 only when the data ends exactly at the size
  // the record gives, so both are checked here whatever the record says.
  const int closed = ::unzCloseCurrentFile(zip_);
  openIndex_ = -1;
  if (closed != UNZ_OK || total != details.fullUncompressedSize || crc != details.crc) {
    return kArchiveDataUnreadable;
  }
  return kArchiveOk;
}

int ArchiveReader::WriteOut(HANDLE out, const void* data, DWORD size) {
  DWORD written = 0;
  if (!::WriteFile(out, data, size, &written, nullptr) || written != size) {
    return kArchiveWriteFailed;
  }
  return kArchiveOk;
}

int ArchiveReader::Deliver(HANDLE out, const void* data, DWORD size, const Details& details,
                           std::uint64_t& total, uLong& crc) {
  // Nothing beyond the declared size is ever written: data that runs on is
  // refused the moment it passes that size.
  if (size > details.fullUncompressedSize - total) return kArchiveDataUnreadable;
  const int written = WriteOut(out, data, size);
  if (written != kArchiveOk) return written;
  crc = ::crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(size));
  total += size;
  return kArchiveOk;
}

namespace {

// Pairs inflateInit2 with inflateEnd.
class RawInflater {
 public:
  RawInflater() { ready_ = ::inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~RawInflater() {
    if (ready_) ::inflateEnd(&stream_);
  }
  RawInflater(const RawInflater&) = delete;
  RawInflater& operator=(const RawInflater&) = delete;
  bool Ready() const { return ready_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_ = {};
  bool ready_ = false;
};

}  // namespace

int ArchiveReader::CopyEncryptedItemData(HANDLE out, const Details& details) {
  // This minizip is built without decryption: it hands over the raw data, and
  // the decryption, inflation and CRC-32 check happen here.
  CloseItemData();
  int method = 0;
  int level = 0;
  if (::unzOpenCurrentFile2(zip_, &method, &level, 1) != UNZ_OK) return kArchiveDataUnreadable;
  openIndex_ = details.item.index;
  dataStarted_ = true;
  if (!outputBuffer_) outputBuffer_.reset(new char[kOutputBufferSize]);
  if (!encryptedInput_) encryptedInput_.reset(new unsigned char[kOutputBufferSize]);
  RawInflater inflater;
  if (method == Z_DEFLATED && !inflater.Ready()) return kArchiveDataUnreadable;

  TraditionalDecryptor decryptor;
  unsigned char header[12];
  std::size_t headerLength = 0;
  const auto checkByte = static_cast<unsigned char>(
      (details.flags & 8u) != 0 ? (details.dosDate >> 8) & 0xFFu : (details.crc >> 24) & 0xFFu);
  uLong crc = ::crc32(0L, Z_NULL, 0);
  std::uint64_t total = 0;
  bool ended = method != Z_DEFLATED;
  for (;;) {
    const int got = ::unzReadCurrentFile(zip_, encryptedInput_.get(), kOutputBufferSize);
    if (got < 0) return kArchiveDataUnreadable;
    if (got == 0) break;
    unsigned char* data = encryptedInput_.get();
    decryptor.Decrypt(data, static_cast<std::size_t>(got));
    std::size_t length = static_cast<std::size_t>(got);
    if (headerLength < sizeof(header)) {
      std::size_t take = sizeof(header) - headerLength;
      if (take > length) take = length;
      std::memcpy(header + headerLength, data, take);
      headerLength += take;
      data += take;
      length -= take;
      if (headerLength == sizeof(header) && header[11] != checkByte) return kArchiveBadPassword;
    }
    if (method != Z_DEFLATED) {
      if (length == 0) continue;
      const int delivered = Deliver(out, data, static_cast<DWORD>(length), details, total, crc);
      if (delivered != kArchiveOk) return delivered;
      continue;
    }
    z_stream& stream = inflater.Stream();
    stream.next_in = data;
    stream.avail_in = static_cast<uInt>(length);
    // A full output buffer may leave output pending inside inflate even when
    // all input is used up, so inflate is asked again until it has room left.
    bool outputFull = false;
    while (!ended && (stream.avail_in != 0 || outputFull)) {
      stream.next_out = reinterpret_cast<Bytef*>(outputBuffer_.get());
      stream.avail_out = kOutputBufferSize;
      const int inflated = ::inflate(&stream, Z_NO_FLUSH);
      if (inflated == Z_STREAM_END) {
        ended = true;
      } else if (inflated == Z_BUF_ERROR) {
        break;  // no progress possible: the next input is needed
      } else if (inflated != Z_OK) {
        return kArchiveDataUnreadable;
      }
      outputFull = stream.avail_out == 0;
      const DWORD produced = kOutputBufferSize - stream.avail_out;
      if (produced != 0) {
        const int delivered =
            Deliver(out, outputBuffer_.get(), produced, details, total, crc);
        if (delivered != kArchiveOk) return delivered;
      }
    }
  }
  CloseItemData();
  if (headerLength < sizeof(header)) return kArchiveDataUnreadable;
  if (!ended || total != details.fullUncompressedSize || crc != details.crc) {
    return kArchiveDataUnreadable;
  }
  return kArchiveOk;
}

int OpenArchive(const wchar_t* fileName, ArchiveHandle** handle) {
  if (handle == nullptr) return kArchiveBadIndex;
  *handle = nullptr;
  if (fileName == nullptr) return kArchiveCannotOpen;
  std::unique_ptr<ArchiveHandle> opened(new ArchiveHandle);
  opened->reader.reset(new ArchiveReader);
  const int result = opened->reader->Open(fileName);
  if (result != kArchiveOk) return result;
  *handle = opened.release();
  return kArchiveOk;
}

namespace {

int CheckHandle(const ArchiveHandle* handle) {
  if (handle == nullptr) return kArchiveBadIndex;
  if (handle->kind != kReadingArchiveHandle) return kArchiveWrongKind;
  return handle->reader ? kArchiveOk : kArchiveBadIndex;
}

}  // namespace

int GetArchiveItem(ArchiveHandle* handle, int index, ArchiveItem* item) {
  const int checked = CheckHandle(handle);
  if (checked != kArchiveOk) return checked;
  if (item == nullptr) return kArchiveBadIndex;
  ArchiveReader& reader = *handle->reader;
  if (index < -1 || index >= reader.Count()) return kArchiveBadIndex;
  if (index == -1) {
    *item = ArchiveItem{};
    item->index = reader.Count();
    return kArchiveOk;
  }
  return reader.Describe(index, *item);
}

int ExtractArchiveItem(ArchiveHandle* handle, int index, const wchar_t* targetPath) {
  const int checked = CheckHandle(handle);
  if (checked != kArchiveOk) return checked;
  if (index < 0 || index >= handle->reader->Count()) return kArchiveBadIndex;
  return handle->reader->Extract(index, targetPath);
}

int CloseArchive(ArchiveHandle* handle) {
  const int checked = CheckHandle(handle);
  if (checked != kArchiveOk) return checked;
  delete handle;
  return kArchiveOk;
}

void EnsureFolder(const wchar_t* root, const wchar_t* folder) {
  EnsureRoot(root, nullptr);
  if (folder == nullptr) return;
  EnsureFolderPart(root, folder, std::wcslen(folder), nullptr);
}

}  // namespace launcher
