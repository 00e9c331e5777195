#include "update/archive.h"

#include <cstring>
#include <cwchar>
#include <limits>

#include "launcher/base/text_helpers.h"
#include "update/archive_reader.h"
#include "update/archive_rules.h"

namespace launcher {
namespace {

// Larger than any stored name that still decodes to fewer than 260 units (a
// UTF-8 sequence never gives fewer units than a third of its bytes).
constexpr uLong kStoredNameBufferSize = 1024;
// The smallest central directory record: a count that needs more records than
// the file could hold is a lie.
constexpr std::uint64_t kSmallestDirectoryRecord = 46;
constexpr uLong kUtf8NameFlag = 0x800;
// Tools on Chinese Windows store names in the ANSI code page without the
// UTF-8 flag.
constexpr UINT kLegacyNameCodePage = 936;

}  // namespace

bool IsTransientArchiveResult(int result) {
  return result == kArchiveWriteFailed || result == kArchiveTargetBusy;
}

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

ArchiveReader::~ArchiveReader() {
  if (deferred_ && !committed_) Abandon();
  CloseItemData();
  if (zip_ != nullptr) ::unzClose(zip_);
}

int ArchiveReader::Open(const wchar_t* fileName) {
  if (zip_ != nullptr) return kArchiveAlreadyOpen;
  const DWORD rootLength = ::GetCurrentDirectoryW(kPathBufferSize, root_);
  if (rootLength == 0 || rootLength >= kPathBufferSize - 1) return kArchiveCannotOpen;
  if (!IsPathSeparator(root_[rootLength - 1])) {
    root_[rootLength] = L'\\';
    root_[rootLength + 1] = 0;
  }
  // Targets are judged against the root as Windows resolves it.
  const DWORD resolved = ::GetFullPathNameW(root_, kPathBufferSize, resolvedRoot_, nullptr);
  if (resolved == 0 || resolved >= kPathBufferSize - 1) return kArchiveCannotOpen;
  if (resolvedRoot_[resolved - 1] != L'\\') {
    resolvedRoot_[resolved] = L'\\';
    resolvedRoot_[resolved + 1] = 0;
  }
  resolvedRootLength_ = std::wcslen(resolvedRoot_);
  tree_.reset(new InstallTree(NewRunId()));
  const int rootOpened = tree_->OpenRoot(resolvedRoot_);
  if (rootOpened != kArchiveOk) return rootOpened;

  file_.Reset(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return kArchiveCannotOpen;
  // An archive in the root is read through no name but its own: a link put
  // in its place after it was looked at is not followed. Held without write
  // or delete sharing, it stays the file checked here.
  if (FileNameOf(fileName) == fileName &&
      !tree_->IsPlainEntryAt(file_.Get(), std::wstring(), fileName)) {
    return kArchiveLinkedTarget;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file_.Get(), &size)) return kArchiveCannotOpen;
  const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
  stream_.reset(new ArchiveFileStream(file_.Get(), fileSize));

  zlib_filefunc64_def functions = stream_->Functions();
  zip_ = ::unzOpen2_64("", &functions);
  if (zip_ == nullptr) return kArchiveCannotOpen;
  unz_global_info64 global = {};
  if (::unzGetGlobalInfo64(zip_, &global) != UNZ_OK) return kArchiveCannotOpen;
  // Checked before anything is sized by it.
  if (global.number_entry > fileSize / kSmallestDirectoryRecord ||
      global.number_entry > static_cast<ZPOS64_T>(std::numeric_limits<int>::max())) {
    return kArchiveDirectoryDamaged;
  }
  count_ = static_cast<int>(global.number_entry);
  FindUnreadableItems(fileSize);
  return kArchiveOk;
}

void ArchiveReader::FindUnreadableItems(std::uint64_t fileSize) {
  // Every item's data as it lies in the file. Several records pointing into
  // the same data would write it again and again (a zip bomb without
  // nesting), so items whose data overlaps another's are refused, all of
  // them, before anything is written; so is data said to run past the file.
  std::vector<DataSpan> spans;
  spans.reserve(static_cast<std::size_t>(count_));
  std::vector<int> beyondFile;
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
    if (start > fileSize || info.compressed_size > fileSize - start) {
      beyondFile.push_back(index);
      continue;
    }
    spans.push_back(DataSpan{start, start + info.compressed_size, index});
  }
  current_ = -1;
  unreadable_ = FindOverlappingSpans(spans, count_);
  for (const int beyond : beyondFile) unreadable_[static_cast<std::size_t>(beyond)] = true;
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

void ArchiveReader::DecodeName(const char* stored, uLong flags,
                               wchar_t (&decoded)[kPathBufferSize]) const {
  // A name that is valid UTF-8 is read as such. One that is not, and is not
  // flagged as UTF-8, comes from a tool that wrote the ANSI code page of a
  // Chinese Windows; read as UTF-8 every such character would become the
  // same replacement character and different names would meet.
  if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, stored, -1, decoded,
                            kPathBufferSize) != 0) {
    return;
  }
  const bool invalid = ::GetLastError() == ERROR_NO_UNICODE_TRANSLATION;
  if (invalid && (flags & kUtf8NameFlag) == 0 &&
      ::MultiByteToWideChar(kLegacyNameCodePage, MB_ERR_INVALID_CHARS, stored, -1, decoded,
                            kPathBufferSize) != 0) {
    return;
  }
  if (::MultiByteToWideChar(CP_UTF8, 0, stored, -1, decoded, kPathBufferSize) == 0) decoded[0] = 0;
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
  wchar_t decoded[kPathBufferSize] = {};
  storedName[info.size_filename] = 0;
  DecodeName(storedName, info.flag, decoded);
  if (decoded[0] == 0 && storedName[0] != 0) return kArchiveNameTooLong;
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
  details.method = info.compression_method;
  details.fullCompressedSize = info.compressed_size;

  cached_ = details;
  cachedIndex_ = index;
  return kArchiveOk;
}

int ArchiveReader::Describe(int index, ArchiveItem& item) {
  const int result = ReadDescription(index);
  if (result == kArchiveOk) item = cached_.item;
  return result;
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

std::uint32_t ArchiveReader::BeginTransaction() {
  deferred_ = true;
  tree_->StageNewFolders();
  if (!pool_) pool_.reset(new FinishingPool(kFinishingWorkers, kFinishingQueue));
  return tree_->Run();
}

int BeginArchiveTransaction(ArchiveHandle* handle, std::uint32_t* run) {
  const int checked = CheckHandle(handle);
  if (checked != kArchiveOk) return checked;
  const std::uint32_t begun = handle->reader->BeginTransaction();
  if (run != nullptr) *run = begun;
  return kArchiveOk;
}

int CommitArchiveTransaction(ArchiveHandle* handle, const ArchiveCommitJournal& journal,
                             ArchiveCommitReport& report) {
  const int checked = CheckHandle(handle);
  if (checked != kArchiveOk) return checked;
  return handle->reader->Commit(journal, report);
}

}  // namespace launcher
