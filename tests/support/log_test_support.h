// Loggers and helpers the logging tests share: a logger that keeps what it is
// given, and standard error captured in memory for the length of a test.
#pragma once

#include <cstdint>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "log/cpplog.h"

namespace log_testing {

// Keeps the text of every record it sees and answers as told. When it answers
// false it takes the record over, as the framework expects of such a logger.
class RecordingLogger : public cpplog::BaseLogger {
 public:
  explicit RecordingLogger(bool answer = true) : answer_(answer) {}

  bool deliver(cpplog::LogData* data) override {
    texts.push_back(data->text());
    if (!answer_) kept.emplace_back(data);
    return answer_;
  }

  std::vector<std::string> texts;
  std::vector<std::unique_ptr<cpplog::LogData>> kept;

 private:
  bool answer_;
};

class ThrowingLogger : public cpplog::BaseLogger {
 public:
  bool deliver(cpplog::LogData*) override { throw std::runtime_error("logger failed"); }
};

// Sends what the process writes to std::cerr into memory until destroyed.
class CapturedStdErr {
 public:
  CapturedStdErr() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CapturedStdErr() { std::cerr.rdbuf(previous_); }
  CapturedStdErr(const CapturedStdErr&) = delete;
  CapturedStdErr& operator=(const CapturedStdErr&) = delete;

  std::string Text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

// Records start at this time while the object lives.
class FixedClock {
 public:
  explicit FixedClock(std::int64_t stamp) : previous_(Install(stamp)) {}
  ~FixedClock() { cpplog::SetClock(previous_); }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

  static void Set(std::int64_t stamp) { stamp_ = stamp; }

 private:
  static std::int64_t Now() { return stamp_; }
  static cpplog::Clock Install(std::int64_t stamp) {
    stamp_ = stamp;
    return cpplog::SetClock(&Now);
  }
  static inline std::int64_t stamp_ = 0;
  cpplog::Clock previous_;
};

// Seconds since 1970 of a UTC date and time (proleptic Gregorian calendar).
inline std::int64_t UtcStamp(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace log_testing
