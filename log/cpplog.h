// A small synchronous logging framework. A message object, a temporary of one
// logging statement, allocates a record, writes its header, takes the
// statement's text and, when the statement ends, terminates the text with a
// newline and hands the record to a logger. Loggers filter records by level
// and write them to streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <type_traits>

#include "log/outputdebug_stream.h"

namespace cpplog {

// Compared as unsigned numbers; values above kFatal are valid and named "OTHER".
using LogLevel = std::uint32_t;
constexpr LogLevel kTrace = 0;
constexpr LogLevel kDebug = 1;
constexpr LogLevel kInfo = 2;
constexpr LogLevel kWarn = 3;
constexpr LogLevel kError = 4;
constexpr LogLevel kFatal = 5;

// "TRACE" ... "FATAL", "OTHER" for any other value.
const char* LevelName(LogLevel level);
// "T" ... "F", "O" for any other value.
const char* LevelLetter(LogLevel level);

// The part of a source path after its last '/', or else after its last '\'.
const char* SourceNameOf(const char* sourcePath);

// Seconds since 1970-01-01 00:00:00 UTC.
using Clock = std::int64_t (*)();
std::int64_t SystemClock();
// Replaces the clock that stamps the records started from now on and returns
// the one it replaces. Tests use it to start records at a known time.
Clock SetClock(Clock clock);
// The broken-down UTC form of a stamp; all zero when it cannot be converted.
std::tm ToUtc(std::int64_t stamp);

namespace helpers {

// The record's text: a put area of a fixed size that never grows. Text beyond
// it is dropped, and the stream writing into it goes bad. One spare character
// after the put area leaves room for a terminating NUL even when it is full.
class fixed_streambuf : public std::streambuf {
 public:
  static constexpr std::size_t kCapacity = 20000;

  fixed_streambuf();
  fixed_streambuf(const fixed_streambuf&) = delete;
  fixed_streambuf& operator=(const fixed_streambuf&) = delete;

  const char* text() const { return pbase(); }
  std::size_t length() const { return static_cast<std::size_t>(pptr() - pbase()); }

  // Ends the text with one newline unless it already ends with one; a full
  // buffer gives up its last character for it.
  void endLine();
  // Puts a NUL right after the text.
  void terminate();

 private:
  char storage_[kCapacity + 1];
};

}  // namespace helpers

// One record: its text and what is known about where and when it started.
class LogData {
 public:
  explicit LogData(LogLevel recordLevel);
  virtual ~LogData();
  LogData(const LogData&) = delete;
  LogData& operator=(const LogData&) = delete;

  std::string text() const { return std::string(buffer.text(), buffer.length()); }

  helpers::fixed_streambuf buffer;
  std::ostream out;
  std::uint32_t headerLength = 0;
  LogLevel level;
  std::uint32_t line = 0;
  const char* sourcePath = nullptr;  // not owned
  const char* sourceName = nullptr;  // points into sourcePath
  std::int64_t stamp = 0;
  std::tm utc = {};
};

class BaseLogger {
 public:
  // True: the sender may delete the record now. False: the logger took the
  // record over (kept it, or freed it when nothing could take it), and the
  // sender must not delete it.
  virtual bool deliver(LogData* data) = 0;
  virtual ~BaseLogger();
};

// One record under construction; see the file comment.
class LogMessage {
 public:
  // Starts the record and writes the base header: the level name padded to
  // five characters, " - ", the source name and "(line): ".
  LogMessage(const char* sourcePath, std::uint32_t line, LogLevel level, BaseLogger& receiver);
  // Delivers the record if that has not happened yet, then deletes it unless
  // the logger kept it.
  virtual ~LogMessage();
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  virtual void writeHeader();
  // Ends the text with a newline and delivers the record; only the first call acts.
  void finish();

  std::ostream& getStream() { return data->out; }
  // The record; after delivery it may belong to the logger.
  LogData* getData() { return data.get(); }

  template <typename T>
  LogMessage& operator<<(const T& value) {
    static_assert(!std::is_same<typename std::decay<T>::type, wchar_t*>::value &&
                      !std::is_same<typename std::decay<T>::type, const wchar_t*>::value &&
                      !std::is_same<typename std::decay<T>::type, wchar_t>::value,
                  "wide text goes through the wide inserters");
    data->out << value;
    return *this;
  }
  template <std::size_t N>
  LogMessage& operator<<(const wchar_t (&text)[N]) {
    return *this << static_cast<const wchar_t*>(text);
  }
  // Wide text enters the narrow record through the log text conversion.
  LogMessage& operator<<(const wchar_t* text);
  LogMessage& operator<<(wchar_t* text) { return *this << static_cast<const wchar_t*>(text); }
  LogMessage& operator<<(const std::wstring& text);
  LogMessage& operator<<(wchar_t c) { return *this << std::wstring(1, c); }
  LogMessage& operator<<(std::ostream& (*manipulator)(std::ostream&));

 protected:
  struct NoHeader {};
  // Starts the record without a header, for messages that write their own.
  LogMessage(const char* sourcePath, std::uint32_t line, LogLevel level, BaseLogger& receiver,
             NoHeader);

  BaseLogger* logger;
  bool sent = false;
  bool deleteData = false;
  std::unique_ptr<LogData> data;
};

// Writes each record's text to a stream and flushes it.
class OstreamLogger : public BaseLogger {
 public:
  explicit OstreamLogger(std::ostream* stream) : target(stream) {}
  // Always true: a failing stream is not reported.
  bool deliver(LogData* data) override;

 protected:
  std::ostream* target;  // not owned
};

// The process standard error stream.
class StdErrLogger : public OstreamLogger {
 public:
  StdErrLogger();
};

// The debugger output, in pieces of at most 256 characters.
class OutputDebugStringLogger : public OstreamLogger {
 public:
  OutputDebugStringLogger();

 private:
  outputdebug_stream debugStream;
};

// Drops records below a minimum level and passes the others on.
class FilteringLogger : public BaseLogger {
 public:
  FilteringLogger(LogLevel minimum, BaseLogger* downstream, bool ownsDownstream)
      : minLevel(minimum), next(downstream), ownsNext(ownsDownstream) {}
  ~FilteringLogger() override;
  FilteringLogger(const FilteringLogger&) = delete;
  FilteringLogger& operator=(const FilteringLogger&) = delete;

  // A dropped record counts as handled (true); without a downstream logger
  // the record is not delivered (false) and the filter frees it.
  bool deliver(LogData* data) override;

  LogLevel getMinLevel() const { return minLevel; }
  BaseLogger* getNext() const { return next; }

 protected:
  LogLevel minLevel;
  BaseLogger* next;
  bool ownsNext;
};

}  // namespace cpplog
