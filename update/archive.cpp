#include "update/archive.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "unzip.h"
#include "update/archive_folders.h"
#include "update/archive_rules.h"
#include "update/archive_stream.h"
#include "update/item_writer.h"
#include "zlib.h"

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

}  // namespace

// One open archive: minizip's handle over the file, the root folder, the last
// item described and the buffer every file item is copied through. It moves
// through the central directory, describes items, and hands their data to the
// item writer.
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
  int CopyItemData(const Details& details);
  int CopyEncryptedItemData(const Details& details);
  // Inflates decrypted data of a deflated item and hands the output on.
  int InflateInto(z_stream& stream, unsigned char* data, std::size_t length, bool& ended);

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
  ArchiveFolders folders_;
  ItemWriter writer_;
  std::vector<bool> overlapping_;  // by index: data shared with another item
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

  zlib_filefunc64_def functions = stream_->Functions();
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
  folders_.EnsureRoot(root);
  const std::size_t targetLength = std::wcslen(targetPath);
  if ((cached_.item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    folders_.MakeFolderItem(root, targetPath, targetLength);
    return kArchiveOk;
  }
  std::size_t folderLength = targetLength;
  while (folderLength > 0 && !IsPathSeparator(targetPath[folderLength - 1])) --folderLength;
  folders_.MakeFoldersFor(root, targetPath, folderLength);
  // A file item needs a file name; one that ends in a separator (a folder as
  // some zip writers store it) has had its folders made, and no file.
  if (folderLength == targetLength) return kArchiveCannotOpen;
  if (index < static_cast<int>(overlapping_.size()) && overlapping_[static_cast<std::size_t>(index)]) {
    return kArchiveDataUnreadable;
  }
  return WriteFileItem(full, cached_);
}

int ArchiveReader::WriteFileItem(const wchar_t* fullPath, const Details& details) {
  int result = writer_.Begin(fullPath, details.item, details.fullUncompressedSize,
                             static_cast<std::uint32_t>(details.crc));
  if (result == kArchiveOk) result = CopyItemData(details);
  if (result == kArchiveOk) result = writer_.Commit();
  if (result != kArchiveOk) writer_.Discard();
  return result;
}

int ArchiveReader::OpenItemData(int index) {
  CloseItemData();
  if (::unzOpenCurrentFile(zip_) != UNZ_OK) return kArchiveDataUnreadable;
  openIndex_ = index;
  dataStarted_ = false;
  return kArchiveOk;
}

int ArchiveReader::CopyItemData(const Details& details) {
  const int index = details.item.index;
  if (current_ != index) {
    const int moved = MoveTo(index);
    if (moved != kArchiveOk) return moved;
  }
  if ((details.flags & 1u) != 0) return CopyEncryptedItemData(details);
  if (openIndex_ != index || dataStarted_) {
    const int opened = OpenItemData(index);
    if (opened != kArchiveOk) return opened;
  }
  dataStarted_ = true;
  if (!outputBuffer_) outputBuffer_.reset(new char[kOutputBufferSize]);
  for (;;) {
    const int got = ::unzReadCurrentFile(zip_, outputBuffer_.get(), kOutputBufferSize);
    if (got < 0) return kArchiveDataUnreadable;
    if (got == 0) break;
    const int written = writer_.Write(outputBuffer_.get(), static_cast<DWORD>(got));
    if (written != kArchiveOk) return written;
  }
  // The writer checks length and CRC-32 before the item takes its place.
  const int closed = ::unzCloseCurrentFile(zip_);
  openIndex_ = -1;
  return closed == UNZ_OK ? kArchiveOk : kArchiveDataUnreadable;
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

// The 12 bytes that open every encrypted item's decrypted data. The last one
// must match the check byte, or the password (always the empty one) is wrong.
class EncryptionHeader {
 public:
  explicit EncryptionHeader(unsigned char checkByte) : checkByte_(checkByte) {}

  // Takes header bytes off the front of data. False once a whole header has
  // arrived and fails its check.
  bool Consume(unsigned char*& data, std::size_t& length) {
    if (length_ == sizeof(bytes_)) return true;
    std::size_t take = sizeof(bytes_) - length_;
    if (take > length) take = length;
    std::memcpy(bytes_ + length_, data, take);
    length_ += take;
    data += take;
    length -= take;
    return length_ < sizeof(bytes_) || bytes_[sizeof(bytes_) - 1] == checkByte_;
  }
  bool Complete() const { return length_ == sizeof(bytes_); }

 private:
  unsigned char bytes_[12] = {};
  std::size_t length_ = 0;
  unsigned char checkByte_;
};

}  // namespace

int ArchiveReader::CopyEncryptedItemData(const Details& details) {
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
  EncryptionHeader header(static_cast<unsigned char>(
      (details.flags & 8u) != 0 ? (details.dosDate >> 8) & 0xFFu : (details.crc >> 24) & 0xFFu));
  bool ended = method != Z_DEFLATED;
  for (;;) {
    const int got = ::unzReadCurrentFile(zip_, encryptedInput_.get(), kOutputBufferSize);
    if (got < 0) return kArchiveDataUnreadable;
    if (got == 0) break;
    unsigned char* data = encryptedInput_.get();
    std::size_t length = static_cast<std::size_t>(got);
    decryptor.Decrypt(data, length);
    if (!header.Consume(data, length)) return kArchiveBadPassword;
    if (length == 0) continue;
    const int written = method == Z_DEFLATED
                            ? InflateInto(inflater.Stream(), data, length, ended)
                            : writer_.Write(data, static_cast<DWORD>(length));
    if (written != kArchiveOk) return written;
  }
  CloseItemData();
  if (!header.Complete() || !ended) return kArchiveDataUnreadable;
  return kArchiveOk;
}

int ArchiveReader::InflateInto(z_stream& stream, unsigned char* data, std::size_t length,
                               bool& ended) {
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
      const int written = writer_.Write(outputBuffer_.get(), produced);
      if (written != kArchiveOk) return written;
    }
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

}  // namespace launcher
