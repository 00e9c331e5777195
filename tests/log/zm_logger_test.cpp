// The composite's dispatch by entry kind, and the process-wide logger.
#include <gtest/gtest.h>

#include <any>
#include <string>

#include "log/process_logger.h"
#include "tests/support/log_test_support.h"

namespace {

using namespace log_testing;
using cpplog::ZmFileLogger;
using cpplog::ZmLogger;

// A record at level 2 offered to the composite; the answer is the composite's.
bool Offer(ZmLogger& composite, const std::string& text = "r") {
  cpplog::LogData record(cpplog::kInfo);
  record.out << text;
  return composite.deliver(&record);
}

TEST(Composite, VisitsItsEntriesInListOrder) {
  RecordingLogger first, second;
  ZmFileLogger a(0, &first, false), b(0, &second, false);
  ZmLogger composite;
  composite.add(&a);
  composite.add(&b);
  EXPECT_EQ(composite.fileLogger, &b);
  EXPECT_TRUE(Offer(composite, "one"));
  EXPECT_EQ(first.texts, std::vector<std::string>{"one"});
  EXPECT_EQ(second.texts, std::vector<std::string>{"one"});
}

TEST(Composite, AFalseAnswerHidesTheRecordFromLaterLoggers) {
  RecordingLogger refusing(false), later;
  ZmFileLogger a(0, &refusing, false), b(0, &later, false);
  ZmLogger composite;
  composite.add(&a);
  composite.add(&b);
  // The refusing logger keeps the record it is given: give it one of its own.
  cpplog::LogData* record = new cpplog::LogData(cpplog::kInfo);
  EXPECT_FALSE(composite.deliver(record));
  EXPECT_EQ(refusing.kept.size(), 1u);
  EXPECT_TRUE(later.texts.empty());

  // Through a message: the message leaves the kept record alone.
  {
    cpplog::LogMessage(__FILE__, __LINE__, cpplog::kInfo, composite) << "second";
  }
  EXPECT_EQ(refusing.kept.size(), 2u);
  EXPECT_TRUE(later.texts.empty());
}

TEST(Composite, AnEntryIsKnownByThePointerTypeItHoldsNotByTheObject) {
  CapturedStdErr stderrText;
  RecordingLogger behindFile;
  cpplog::ZmStdLogger standard;
  ZmFileLogger file(0, &behindFile, false);
  ZmLogger composite;
  composite.addEntry(static_cast<cpplog::BaseLogger*>(&standard));
  composite.addEntry(static_cast<cpplog::FilteringLogger*>(&file));
  composite.addEntry(std::string("not a logger"));
  composite.addEntry(std::any());
  composite.addEntry(static_cast<cpplog::ZmStdLogger*>(nullptr));
  EXPECT_TRUE(Offer(composite));
  EXPECT_EQ(stderrText.Text(), "");
  EXPECT_TRUE(behindFile.texts.empty());

  // The same objects under their own types are called.
  composite.addEntry(&standard);
  composite.addEntry(&file);
  EXPECT_TRUE(Offer(composite, "seen"));
  EXPECT_EQ(stderrText.Text(), "seen");
  EXPECT_EQ(behindFile.texts, std::vector<std::string>{"seen"});
}

TEST(Composite, AKindWhoseSwitchIsOffIsSkipped) {
  CapturedStdErr stderrText;
  RecordingLogger behindFile;
  cpplog::ZmStdLogger standard;
  ZmFileLogger file(0, &behindFile, false);
  ZmLogger composite;
  composite.add(&standard);
  composite.add(&file);

  composite.stdOn = false;
  EXPECT_TRUE(Offer(composite, "a"));
  composite.stdOn = true;
  composite.fileOn = false;
  EXPECT_TRUE(Offer(composite, "b"));
  EXPECT_EQ(stderrText.Text(), "b");
  EXPECT_EQ(behindFile.texts, std::vector<std::string>{"a"});
}

TEST(Composite, AnExceptionEndsTheVisitWithTheAnswerReachedBeforeIt) {
  RecordingLogger before, after;
  ThrowingLogger throwing;
  ZmFileLogger a(0, &before, false), b(0, &throwing, false), c(0, &after, false);
  ZmLogger composite;
  composite.add(&a);
  composite.add(&b);
  composite.add(&c);
  EXPECT_TRUE(Offer(composite));
  EXPECT_EQ(before.texts.size(), 1u);
  EXPECT_TRUE(after.texts.empty());

  // A message over it still delivers and deletes its record.
  cpplog::LogMessage(__FILE__, __LINE__, cpplog::kInfo, composite) << "x";
  EXPECT_EQ(before.texts.size(), 2u);
}

TEST(Composite, AnEmptyListAnswersTrue) {
  ZmLogger composite;
  EXPECT_TRUE(Offer(composite));
}

TEST(ProcessLogger, IsReadyBeforeMainWithTheDebuggerOutputFirst) {
  EXPECT_EQ(n_log::logTag, "VOV");
  const ZmLogger& logger = n_log::processLogger;
  ASSERT_EQ(logger.loggers.size(), 2u);
  ASSERT_NE(logger.dbgLogger, nullptr);
  ASSERT_NE(logger.stdLogger, nullptr);
  EXPECT_EQ(logger.fileLogger, nullptr);
  EXPECT_TRUE(logger.stdOn && logger.dbgOn && logger.fileOn);
  const auto first = std::any_cast<cpplog::ZmDbgLogger*>(&logger.loggers[0]);
  const auto second = std::any_cast<cpplog::ZmStdLogger*>(&logger.loggers[1]);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(*first, logger.dbgLogger);
  EXPECT_EQ(*second, logger.stdLogger);
}

TEST(ProcessLogger, TheStatementFormWritesOneInfoRecordToStandardError) {
  FixedClock clock(UtcStamp(2026, 12, 7, 19, 59, 5));
  CapturedStdErr stderrText;
  LAUNCHER_LOG_INFO << L"set reg failure: ";
  LAUNCHER_LOG_INFO << L"par: " << std::wstring();
  EXPECT_EQ(stderrText.Text(),
            "[VOV][I][2026-12-7 19:59:5] set reg failure: \n"
            "[VOV][I][2026-12-7 19:59:5] par: \n");
}

}  // namespace
