// What the whole-system suites observe from outside the launcher: the
// protocol's open command, the launcher's standard error, reference clients.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace system_testing {

// The default value of HKCR\quintarelox\shell\open\command; present is false
// when the key or the value is missing.
using OpenCommand = testing_support::RegistryValue;
OpenCommand ReadOpenCommand();
void WriteOpenCommand(const std::wstring& text);
void RemoveProtocolKey();

// The exact bytes the launcher at this path must leave: the quoted command
// and its terminator.
std::vector<BYTE> OpenCommandFor(const std::wstring& launcherPath);

// Standard error text cut into records, the runtime's "\r\n" turned into "\n".
std::vector<std::string> OutputLines(const std::string& output);

// The text after a record's "[VOV][I][date time] " header, or "<bad header>".
std::string RecordText(const std::string& record);

// Running processes named vorlan.exe, polled until there are exactly count
// (or timeoutMs is over); returns the last number seen.
std::size_t WaitForClientCount(std::size_t count, DWORD timeoutMs = 10000);

// Tests that start real launchers: no client runs and the protocol key is
// gone before and after each.
class LaunchingTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace system_testing
