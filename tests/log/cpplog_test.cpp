// Records, their headers and text limits, and the level filter.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "log/custom_log_message.h"
#include "log/process_logger.h"
#include "tests/support/log_test_support.h"

namespace {

using namespace log_testing;
using cpplog::helpers::fixed_streambuf;

constexpr std::size_t kCapacity = fixed_streambuf::kCapacity;
const std::int64_t kDecember7 = UtcStamp(2026, 12, 7, 19, 59, 5);
const std::string kDecember7Header = "[VOV][I][2026-12-7 19:59:5] ";

// The text one record delivers when the statement writes `text`.
std::string RecordFor(const std::string& text, cpplog::LogLevel level = cpplog::kInfo) {
  FixedClock clock(kDecember7);
  RecordingLogger logger;
  n_log::CustomLogMessage(__FILE__, __LINE__, level, logger, __func__) << text;
  return logger.texts.empty() ? "<nothing delivered>" : logger.texts[0];
}

TEST(SystemHeader, NumbersCarryNoLeadingZeros) {
  EXPECT_EQ(n_log::FormatSystemHeader("VOV", cpplog::kInfo, cpplog::ToUtc(UtcStamp(2026, 1, 2, 3, 4, 5))),
            "[VOV][I][2026-1-2 3:4:5] ");
  EXPECT_EQ(n_log::FormatSystemHeader("VOV", cpplog::kInfo, cpplog::ToUtc(kDecember7)),
            kDecember7Header);
  EXPECT_EQ(n_log::FormatSystemHeader("VOV", cpplog::kWarn, cpplog::ToUtc(UtcStamp(2000, 10, 31, 0, 0, 0))),
            "[VOV][W][2000-10-31 0:0:0] ");
  // Levels above FATAL print O.
  EXPECT_EQ(RecordFor("x", 6).substr(0, 9), "[VOV][O][");
  EXPECT_EQ(RecordFor("x", 0xFFFFFFFFu).substr(0, 9), "[VOV][O][");
}

TEST(SystemHeader, ARecordStartsWithItAndCarriesTheTimeItStarted) {
  FixedClock clock(UtcStamp(2026, 1, 2, 3, 4, 5));
  RecordingLogger logger;
  {
    n_log::CustomLogMessage message(__FILE__, 629, cpplog::kInfo, logger, "wWinMain");
    FixedClock::Set(kDecember7);  // later than the start: must not show
    message << "class path: " << L"vorlan.exe";
    EXPECT_EQ(message.getData()->headerLength, 25u);
    EXPECT_EQ(message.getData()->stamp, UtcStamp(2026, 1, 2, 3, 4, 5));
    EXPECT_EQ(message.getData()->line, 629u);
    EXPECT_STREQ(message.getData()->sourceName, "cpplog_test.cpp");
    EXPECT_STREQ(message.getFunctionName(), "wWinMain");
  }
  ASSERT_EQ(logger.texts.size(), 1u);
  EXPECT_EQ(logger.texts[0], "[VOV][I][2026-1-2 3:4:5] class path: vorlan.exe\n");
}

TEST(BaseHeader, PadsTheLevelNameAndNamesTheSourceFileAndLine) {
  RecordingLogger logger;
  cpplog::LogMessage(R"(C:\src/launcher\ZivOziror)", 629, cpplog::kInfo, logger) << "x" << 255;
  cpplog::LogMessage("C:\\src\\ZivOziror", 7, 9, logger) << "y";
  cpplog::LogMessage("ZivOziror", 8, cpplog::kError, logger);
  ASSERT_EQ(logger.texts.size(), 3u);
  // The last '/' wins over a later '\'.
  EXPECT_EQ(logger.texts[0], "INFO  - launcher\\ZivOziror(629): x255\n");
  EXPECT_EQ(logger.texts[1], "OTHER - ZivOziror(7): y\n");
  EXPECT_EQ(logger.texts[2], "ERROR - ZivOziror(8): \n");
}

TEST(RecordText, EndsWithExactlyOneNewline) {
  EXPECT_EQ(RecordFor(""), kDecember7Header + "\n");
  EXPECT_EQ(RecordFor("done\n"), kDecember7Header + "done\n");
  EXPECT_EQ(RecordFor("two\n\n"), kDecember7Header + "two\n\n");
  EXPECT_EQ(RecordFor("a\nb"), kDecember7Header + "a\nb\n");
}

TEST(RecordText, AFullBufferGivesUpItsLastCharacterForTheNewline) {
  const std::size_t room = kCapacity - kDecember7Header.size();
  std::string text(room - 1, 'a');
  text += 'Z';

  const std::string full = RecordFor(text);
  ASSERT_EQ(full.size(), kCapacity);
  EXPECT_EQ(full, kDecember7Header + text.substr(0, room - 1) + "\n");

  // One character short of full: the newline still fits after it.
  const std::string nearlyFull = RecordFor(text.substr(1));
  EXPECT_EQ(nearlyFull, kDecember7Header + text.substr(1) + "\n");

  // A full buffer whose last character is already a newline is left alone.
  text.back() = '\n';
  EXPECT_EQ(RecordFor(text), kDecember7Header + text);
}

TEST(RecordText, TextBeyondTheBufferIsDroppedAndLaterInsertionsDoNothing) {
  FixedClock clock(kDecember7);
  RecordingLogger logger;
  {
    n_log::CustomLogMessage message(__FILE__, __LINE__, cpplog::kInfo, logger, __func__);
    message << std::string(kCapacity + 500, 'b');
    EXPECT_TRUE(message.getStream().bad());
    message << "tail" << 42 << L"wide";
  }
  ASSERT_EQ(logger.texts.size(), 1u);
  EXPECT_EQ(logger.texts[0], kDecember7Header + std::string(kCapacity - 29, 'b') + "\n");
}

TEST(RecordText, WideTextIsConvertedToTheChineseCodePage) {
  // U+4E2D U+6587 are D6 D0 CE C4 in code page 936.
  FixedClock clock(kDecember7);
  RecordingLogger logger;
  const std::wstring chinese = L"\x4E2D\x6587";
  wchar_t mutableText[] = L"m";
  n_log::CustomLogMessage(__FILE__, __LINE__, cpplog::kInfo, logger, __func__)
      << L"par: " << chinese << L' ' << mutableText << static_cast<const wchar_t*>(nullptr);
  // A character the conversion cannot take makes its whole text empty.
  n_log::CustomLogMessage(__FILE__, __LINE__, cpplog::kInfo, logger, __func__)
      << L"par: " << std::wstring(L"a\x0E01" L"b");
  ASSERT_EQ(logger.texts.size(), 2u);
  EXPECT_EQ(logger.texts[0], kDecember7Header + "par: \xD6\xD0\xCE\xC4 m\n");
  EXPECT_EQ(logger.texts[1], kDecember7Header + "par: \n");
}

TEST(Delivery, ALoggerThatAnswersFalseKeepsTheRecord) {
  RecordingLogger keeper(false);
  cpplog::LogData* delivered = nullptr;
  {
    cpplog::LogMessage message(__FILE__, __LINE__, cpplog::kInfo, keeper);
    message << "kept";
    delivered = message.getData();
  }
  ASSERT_EQ(keeper.kept.size(), 1u);
  // Still alive and whole after the message is gone: the logger owns it now.
  // cppcheck-suppress invalidLifetime
  EXPECT_EQ(keeper.kept[0].get(), delivered);
  EXPECT_EQ(keeper.kept[0]->text().substr(keeper.kept[0]->text().size() - 5), "kept\n");
}

TEST(Delivery, AnExceptionUnwindingThroughTheStatementStillDeliversTheRecord) {
  RecordingLogger logger;
  auto fail = []() -> const char* { throw std::runtime_error("while logging"); };
  EXPECT_THROW(cpplog::LogMessage(__FILE__, __LINE__, cpplog::kInfo, logger) << "before " << fail(),
               std::runtime_error);
  ASSERT_EQ(logger.texts.size(), 1u);
  EXPECT_NE(logger.texts[0].find("before \n"), std::string::npos);
}

TEST(Filter, AMinimumOfZeroPassesEveryLevel) {
  RecordingLogger next;
  cpplog::FilteringLogger filter(0, &next, false);
  for (cpplog::LogLevel level : {0u, 2u, 5u, 6u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    cpplog::LogMessage(__FILE__, __LINE__, level, filter);
  }
  EXPECT_EQ(next.texts.size(), 6u);
}

TEST(Filter, ALevelBelowTheMinimumIsDroppedAndCountsAsHandled) {
  RecordingLogger next(false);
  cpplog::FilteringLogger filter(3, &next, false);
  cpplog::LogData low(2);
  EXPECT_TRUE(filter.deliver(&low));
  EXPECT_TRUE(next.texts.empty());

  // At or above the minimum the downstream logger's answer is the filter's.
  cpplog::LogData* high = new cpplog::LogData(0xFFFFFFFFu);
  EXPECT_FALSE(filter.deliver(high));
  EXPECT_EQ(next.texts.size(), 1u);

}

// A record whose destruction the test can see.
struct WatchedRecord : cpplog::LogData {
  explicit WatchedRecord(bool& destroyed) : LogData(cpplog::kInfo), destroyed_(destroyed) {}
  ~WatchedRecord() override { destroyed_ = true; }
  bool& destroyed_;
};

TEST(Filter, WithoutADownstreamLoggerTheRecordIsNotDeliveredButFreed) {
  cpplog::FilteringLogger alone(0, nullptr, false);
  bool destroyed = false;
  EXPECT_FALSE(alone.deliver(new WatchedRecord(destroyed)));
  EXPECT_TRUE(destroyed);
  // Through a message: the sender leaves the record to the filter.
  cpplog::LogMessage(__FILE__, __LINE__, cpplog::kInfo, alone) << "declined";
}

TEST(StreamLogger, WritesTheWholeTextAndFlushes) {
  std::ostringstream target;
  cpplog::OstreamLogger logger(&target);
  {
    FixedClock clock(kDecember7);
    n_log::CustomLogMessage(__FILE__, __LINE__, cpplog::kInfo, logger, __func__) << "text";
  }
  EXPECT_EQ(target.str(), kDecember7Header + "text\n");

  // A stream that fails is not reported; the record is still handled.
  std::ostringstream broken;
  broken.setstate(std::ios_base::badbit);
  cpplog::OstreamLogger failing(&broken);
  cpplog::LogData record(2);
  EXPECT_TRUE(failing.deliver(&record));
}

}  // namespace
