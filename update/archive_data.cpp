// An item's data on its way from the archive to the item writer: through
// minizip for plain items, decrypted and inflated here for encrypted ones.
#include <cstring>

#include "update/archive_reader.h"
#include "update/archive_rules.h"

namespace launcher {
namespace {

constexpr DWORD kOutputBufferSize = 16384;

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

}  // namespace launcher
