#include "log/cpplog.h"

#include <cstring>
#include <iostream>

#include "launcher/base/text_helpers.h"

namespace cpplog {
namespace {

Clock currentClock = &SystemClock;

}  // namespace

const char* LevelName(LogLevel level) {
  static const char* const kNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};
  return level <= kFatal ? kNames[level] : "OTHER";
}

const char* LevelLetter(LogLevel level) {
  static const char* const kLetters[] = {"T", "D", "I", "W", "E", "F"};
  return level <= kFatal ? kLetters[level] : "O";
}

const char* SourceNameOf(const char* sourcePath) {
  if (sourcePath == nullptr) return nullptr;
  if (const char* slash = std::strrchr(sourcePath, '/')) return slash + 1;
  if (const char* backslash = std::strrchr(sourcePath, '\\')) return backslash + 1;
  return sourcePath;
}

std::int64_t SystemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

Clock SetClock(Clock clock) {
  const Clock previous = currentClock;
  currentClock = clock != nullptr ? clock : &SystemClock;
  return previous;
}

std::tm ToUtc(std::int64_t stamp) {
  std::tm utc = {};
  const __time64_t time = static_cast<__time64_t>(stamp);
  if (_gmtime64_s(&utc, &time) != 0) utc = std::tm{};
  return utc;
}

namespace helpers {

fixed_streambuf::fixed_streambuf() {
  storage_[kCapacity] = '\0';
  setp(storage_, storage_ + kCapacity);
}

void fixed_streambuf::endLine() {
  const std::size_t used = length();
  if (used > 0 && pbase()[used - 1] == '\n') return;
  if (used == kCapacity) pbump(-1);
  *pptr() = '\n';
  pbump(1);
}

void fixed_streambuf::terminate() { *pptr() = '\0'; }

}  // namespace helpers

LogData::LogData(LogLevel recordLevel) : out(&buffer), level(recordLevel) {}

LogData::~LogData() = default;

BaseLogger::~BaseLogger() = default;

LogMessage::LogMessage(const char* sourcePath, std::uint32_t line, LogLevel level,
                       BaseLogger& receiver)
    : LogMessage(sourcePath, line, level, receiver, NoHeader()) {
  LogMessage::writeHeader();
}

LogMessage::LogMessage(const char* sourcePath, std::uint32_t line, LogLevel level,
                       BaseLogger& receiver, NoHeader)
    : logger(&receiver), data(new LogData(level)) {
  data->sourcePath = sourcePath;
  data->sourceName = SourceNameOf(sourcePath);
  data->line = line;
  // The record carries the time it started, not the time it was delivered.
  data->stamp = currentClock();
  data->utc = ToUtc(data->stamp);
}

LogMessage::~LogMessage() {
  // The destructor also runs while an exception unwinds through the logging
  // statement; nothing may escape it then.
  try {
    finish();
  } catch (...) {
  }
  if (!deleteData) static_cast<void>(data.release());  // the logger kept it
}

void LogMessage::writeHeader() {
  std::ostream& out = data->out;
  out.fill(' ');
  out.width(5);
  out.setf(std::ios_base::left, std::ios_base::adjustfield);
  out.setf(std::ios_base::dec, std::ios_base::basefield);
  out << LevelName(data->level) << " - " << (data->sourceName ? data->sourceName : "") << "("
      << data->line << "): ";
}

void LogMessage::finish() {
  if (sent) return;
  data->buffer.endLine();
  deleteData = logger->deliver(data.get());
  sent = true;
}

LogMessage& LogMessage::operator<<(const wchar_t* text) {
  if (text != nullptr) data->out << launcher::WideToLogText(text);
  return *this;
}

LogMessage& LogMessage::operator<<(const std::wstring& text) {
  data->out << launcher::WideToLogText(text);
  return *this;
}

LogMessage& LogMessage::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
  data->out << manipulator;
  return *this;
}

bool OstreamLogger::deliver(LogData* data) {
  data->buffer.terminate();
  if (target != nullptr) {
    target->write(data->buffer.text(), static_cast<std::streamsize>(data->buffer.length()));
    target->flush();
  }
  return true;
}

StdErrLogger::StdErrLogger() : OstreamLogger(&std::cerr) {}

// debugStream is built after the base, so the base learns of it afterwards.
OutputDebugStringLogger::OutputDebugStringLogger() : OstreamLogger(nullptr) {
  target = &debugStream;
}

FilteringLogger::~FilteringLogger() {
  if (ownsNext) delete next;
}

bool FilteringLogger::deliver(LogData* data) {
  if (data->level < minLevel) return true;
  if (next != nullptr) return next->deliver(data);
  // Nothing downstream takes the record, and the sender keeps only what a
  // logger answers true for: it ends here.
  delete data;
  return false;
}

}  // namespace cpplog
