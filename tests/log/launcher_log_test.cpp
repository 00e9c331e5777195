// The real launcher's records on its standard error. (The debugger output of
// the real launcher is checked through Wine's trace: debugstr_trace_test.sh.)
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/log_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

struct LauncherOutput {
  std::vector<std::string> records;       // standard error, line by line, newline kept
  std::int64_t startedAt = 0;
  std::int64_t endedAt = 0;
  std::wstring clientParameters;
};

class LauncherLog : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }

  LauncherOutput Run(const std::wstring& tail, const std::wstring& launcherSource = L"launcher.exe") {
    TestFolder folder;
    const std::wstring launcher = InstallLauncher(folder.Path(), launcherSource);
    LauncherOutput output;
    output.startedAt = std::time(nullptr);
    const ProcessResult result = RunLauncher(launcher, tail, {}, true);
    output.endedAt = std::time(nullptr);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);

    std::size_t start = 0;
    while (start < result.output.size()) {
      std::size_t end = result.output.find('\n', start);
      end = end == std::string::npos ? result.output.size() : end + 1;
      std::string line = result.output.substr(start, end - start);
      start = end;
      // The runtime writes standard error in text mode: "\r\n" for each newline.
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.erase(line.size() - 2, 1);
      }
      output.records.push_back(line);
    }
    const std::vector<ClientRecord> clients = WaitForClients(folder.Path(), 1);
    EXPECT_EQ(clients.size(), 1u);
    if (!clients.empty()) output.clientParameters = ParametersOf(clients[0]);
    EndAllClients();
    return output;
  }
};

// The record's text after a header that has the record format and names a
// UTC time within [from, to]; "<bad header>" otherwise.
std::string TextAfterHeader(const std::string& record, std::int64_t from, std::int64_t to) {
  static const std::regex header(
      R"(^\[VOV\]\[I\]\[(0|[1-9]\d*)-(0|[1-9]\d*)-(0|[1-9]\d*) (0|[1-9]\d*):(0|[1-9]\d*):(0|[1-9]\d*)\] )");
  std::smatch match;
  if (!std::regex_search(record, match, header)) return "<bad header>";
  const std::int64_t stamp = log_testing::UtcStamp(std::stoi(match[1]), std::stoi(match[2]),
                                                   std::stoi(match[3]), std::stoi(match[4]),
                                                   std::stoi(match[5]), std::stoi(match[6]));
  if (stamp < from || stamp > to) return "<not the current UTC time>";
  return match.suffix();
}

TEST_F(LauncherLog, StandardErrorHoldsTheTwoRecordsInOrder) {
  const LauncherOutput output = Run(L"\"quintarelox://room=1\"");
  ASSERT_EQ(output.records.size(), 2u);
  EXPECT_EQ(TextAfterHeader(output.records[0], output.startedAt, output.endedAt),
            "class path: vorlan.exe\n");
  EXPECT_EQ(TextAfterHeader(output.records[1], output.startedAt, output.endedAt),
            "par: room=1\"\n");
  EXPECT_EQ(output.clientParameters, L"room=1\"");
}

TEST_F(LauncherLog, TheParametersAreLoggedWithoutTheAdminSuffix) {
  const LauncherOutput output = Run(L"a", L"heldkeys.exe");
  ASSERT_EQ(output.records.size(), 2u);
  EXPECT_EQ(TextAfterHeader(output.records[1], output.startedAt, output.endedAt), "par: a\n");
  EXPECT_EQ(output.clientParameters, L"a IsAdmin");
}

TEST_F(LauncherLog, EmptyAndChineseParametersAsTheyReachTheLog) {
  const LauncherOutput empty = Run(L"");
  ASSERT_EQ(empty.records.size(), 2u);
  EXPECT_EQ(TextAfterHeader(empty.records[1], empty.startedAt, empty.endedAt), "par: \n");

  // Code page 936 bytes for U+623F U+95F4.
  const LauncherOutput chinese = Run(L"room=\x623F\x95F4");
  ASSERT_EQ(chinese.records.size(), 2u);
  EXPECT_EQ(TextAfterHeader(chinese.records[1], chinese.startedAt, chinese.endedAt),
            "par: room=\xB7\xBF\xBC\xE4\n");
}

}  // namespace
