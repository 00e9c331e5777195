// The archive file as minizip reads it: a stream over an open file handle,
// served from a few cached blocks of the file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "ioapi.h"

namespace launcher {

// minizip reads headers a byte at a time and jumps between the central
// directory and the items' data, so reads are served from a few blocks of the
// file kept in memory; a seek is only remembered until the next read needs
// the disk. The file handle stays its owner's.
class ArchiveFileStream {
 public:
  ArchiveFileStream(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}

  uLong Read(void* out, uLong size);
  long Seek(ZPOS64_T offset, int origin);
  ZPOS64_T Tell() const { return position_; }
  bool Failed() const { return failed_; }

  // The functions minizip calls, with this stream as their opaque value.
  zlib_filefunc64_def Functions();

 private:
  static constexpr DWORD kBlockSize = 65536;
  struct Block {
    std::unique_ptr<unsigned char[]> data;
    std::uint64_t start = 0;
    DWORD length = 0;
    std::uint64_t lastUse = 0;
  };

  Block* BlockHolding(std::uint64_t position);
  Block* LeastRecentBlock();
  bool Fill(Block& block, std::uint64_t position);

  HANDLE file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::uint64_t filePosition_ = 0;
  std::uint64_t useClock_ = 0;
  bool failed_ = false;
  // One block stays on the central directory while the others follow the data.
  Block blocks_[3];
};

}  // namespace launcher
