#include "log/outputdebug_stream.h"

#include <windows.h>

#include <string>

OutputDebugStringBuf::OutputDebugStringBuf() : piece_(new char[kPieceSize]()) {
  setp(piece_.get(), piece_.get() + kPieceSize);
}

OutputDebugStringBuf::~OutputDebugStringBuf() = default;

OutputDebugStringBuf::int_type OutputDebugStringBuf::overflow(int_type c) {
  if (sync() == -1) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int OutputDebugStringBuf::sync() {
  try {
    // OutputDebugStringA needs a terminator, which the full buffer has no room for.
    const std::string pending(pbase(), pptr());
    if (!pending.empty()) ::OutputDebugStringA(pending.c_str());
    setp(piece_.get(), piece_.get() + kPieceSize);
    return 0;
  } catch (...) {
    return -1;
  }
}

outputdebug_stream::outputdebug_stream() : std::ostream(nullptr), buffer_(new outputdebug_buf) {
  rdbuf(buffer_.get());
}

outputdebug_stream::~outputdebug_stream() { rdbuf(nullptr); }
