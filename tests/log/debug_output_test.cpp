// The debugger output as a debug-output viewer sees it: this test program acts
// as the viewer and collects its own pieces.
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "log/process_logger.h"
#include "tests/log/debug_output_viewer.h"
#include "tests/log/log_test_support.h"

namespace {

using namespace log_testing;

std::vector<std::string> PiecesOf(const std::string& text) {
  DebugOutputViewer viewer;
  EXPECT_TRUE(viewer.Ready());
  cpplog::OutputDebugStringLogger logger;
  cpplog::LogData* record = new cpplog::LogData(cpplog::kInfo);
  record->out << text;
  EXPECT_TRUE(logger.deliver(record));
  delete record;
  return viewer.Pieces();
}

TEST(DebuggerOutput, ComesInPiecesOfAtMost256Characters) {
  const std::string a256(256, 'a');
  EXPECT_EQ(PiecesOf(a256), std::vector<std::string>{a256});
  EXPECT_EQ(PiecesOf(a256 + "b"), (std::vector<std::string>{a256, "b"}));
  EXPECT_EQ(PiecesOf(std::string(300, 'c')),
            (std::vector<std::string>{std::string(256, 'c'), std::string(44, 'c')}));
  EXPECT_EQ(PiecesOf(a256 + a256), (std::vector<std::string>{a256, a256}));
  EXPECT_EQ(PiecesOf("short\n"), std::vector<std::string>{"short\n"});
}

TEST(DebuggerOutput, TheProcessLoggerWritesThereFirstAndThenToStandardError) {
  FixedClock clock(UtcStamp(2026, 12, 7, 19, 59, 5));
  DebugOutputViewer viewer;
  ASSERT_TRUE(viewer.Ready());
  std::vector<std::string> piecesBeforeStdErr;
  {
    CapturedStdErr stderrText;
    // std::cerr reaches our capture only after the debugger output had its turn.
    struct Probe : std::streambuf {
      DebugOutputViewer* viewer;
      std::vector<std::string>* seen;
      std::streambuf* inner;
      int_type overflow(int_type c) override {
        if (seen->empty()) *seen = viewer->Pieces();
        return inner->sputc(static_cast<char>(c));
      }
      std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (seen->empty()) *seen = viewer->Pieces();
        return inner->sputn(s, n);
      }
    } probe;
    probe.viewer = &viewer;
    probe.seen = &piecesBeforeStdErr;
    probe.inner = std::cerr.rdbuf(&probe);
    LAUNCHER_LOG_INFO << L"par: " << std::wstring(300, L'x');
    std::cerr.rdbuf(probe.inner);
    EXPECT_EQ(stderrText.Text(), "[VOV][I][2026-12-7 19:59:5] par: " + std::string(300, 'x') + "\n");
  }
  const std::string record = "[VOV][I][2026-12-7 19:59:5] par: " + std::string(300, 'x') + "\n";
  const std::vector<std::string> expected = {record.substr(0, 256), record.substr(256)};
  EXPECT_EQ(piecesBeforeStdErr, expected);
  EXPECT_EQ(viewer.Pieces(), expected);
}

}  // namespace
