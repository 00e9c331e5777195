// A narrow stream whose text goes to the debugger output (OutputDebugStringA)
// in pieces of at most 256 characters: a piece leaves when the buffer is full
// and when the stream is flushed.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <sstream>

class OutputDebugStringBuf : public std::stringbuf {
 public:
  static constexpr std::size_t kPieceSize = 256;

  OutputDebugStringBuf();
  // Frees the buffer without sending what is pending.
  ~OutputDebugStringBuf() override;

  OutputDebugStringBuf(const OutputDebugStringBuf&) = delete;
  OutputDebugStringBuf& operator=(const OutputDebugStringBuf&) = delete;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  std::unique_ptr<char[]> piece_;
};

class outputdebug_buf : public OutputDebugStringBuf {};

class outputdebug_stream : public std::ostream {
 public:
  outputdebug_stream();
  ~outputdebug_stream() override;

  outputdebug_stream(const outputdebug_stream&) = delete;
  outputdebug_stream& operator=(const outputdebug_stream&) = delete;

 private:
  std::unique_ptr<outputdebug_buf> buffer_;
};
