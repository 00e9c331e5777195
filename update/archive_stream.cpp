#include "update/archive_stream.h"

#include <cstring>

namespace launcher {
namespace {

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

}  // namespace

uLong ArchiveFileStream::Read(void* out, uLong size) {
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

long ArchiveFileStream::Seek(ZPOS64_T offset, int origin) {
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

zlib_filefunc64_def ArchiveFileStream::Functions() {
  // 64-bit offsets: a classic archive addresses 4 GiB, and zip64 beyond.
  zlib_filefunc64_def functions = {};
  functions.zopen64_file = OpenStream;
  functions.zread_file = ReadStream;
  functions.zwrite_file = WriteStream;
  functions.ztell64_file = TellStream;
  functions.zseek64_file = SeekStream;
  functions.zclose_file = CloseStream;
  functions.zerror_file = TestStreamError;
  functions.opaque = this;
  return functions;
}

ArchiveFileStream::Block* ArchiveFileStream::BlockHolding(std::uint64_t position) {
  for (Block& block : blocks_) {
    if (block.length != 0 && position >= block.start && position - block.start < block.length) {
      return &block;
    }
  }
  return nullptr;
}

ArchiveFileStream::Block* ArchiveFileStream::LeastRecentBlock() {
  Block* oldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (block.lastUse < oldest->lastUse) oldest = &block;
  }
  return oldest;
}

bool ArchiveFileStream::Fill(Block& block, std::uint64_t position) {
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

}  // namespace launcher
