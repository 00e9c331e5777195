// The rig's own guards: where the suites agree to run, which clients count as
// the tests' own, and a key put back exactly as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "tests/support/client_rig.h"
#include "tests/support/registry_tree.h"
#include "tests/support/test_isolation.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

TEST(TestIsolation, RunsUnderWineOrWhereTheVariableAllowsIt) {
  struct Case {
    bool underWine;
    const wchar_t* variable;
    bool runs;
  };
  const Case cases[] = {
      {true, nullptr, true}, {true, L"0", true},   {false, nullptr, false},
      {false, L"", false},   {false, L"0", false}, {false, L"yes", false},
      {false, L"1", true},
  };
  for (const Case& c : cases) {
    const std::string refusal = RefusalToRun(c.underWine, c.variable);
    EXPECT_EQ(refusal.empty(), c.runs)
        << "under Wine " << c.underWine << ", variable " << (c.variable ? Narrow(c.variable) : "unset");
    if (!c.runs) {
      EXPECT_NE(refusal.find("LAUNCHER_TESTS_ON_WINDOWS=1"), std::string::npos);
    }
  }
  EXPECT_TRUE(IsUnderWine()) << "this suite runs under Wine only";
}

TEST(TestIsolation, OnlyImagesBelowAFolderAreItsOwn) {
  struct Case {
    const wchar_t* path;
    const wchar_t* folder;
    bool below;
  };
  const Case cases[] = {
      {L"C:\\tmp\\launcher-tests\\a\\vorlan.exe", L"C:\\tmp\\launcher-tests", true},
      {L"C:\\TMP\\Launcher-Tests\\vorlan.exe", L"c:\\tmp\\launcher-tests\\", true},
      {L"Z:\\build/prompt_test.x/vorlan.exe", L"Z:\\build", true},
      {L"R:\\vorlan.exe", L"R:\\", true},
      {L"C:\\tmp\\launcher-tests2\\vorlan.exe", L"C:\\tmp\\launcher-tests", false},
      {L"C:\\tmp\\launcher-tests", L"C:\\tmp\\launcher-tests", false},
      {L"C:\\tmp\\launcher-tests\\", L"C:\\tmp\\launcher-tests", false},
      {L"C:\\Program Files\\vorlan\\vorlan.exe", L"C:\\tmp\\launcher-tests", false},
      {L"C:\\vorlan.exe", L"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPathBelow(c.path, c.folder), c.below) << Narrow(c.path) << " in " << Narrow(c.folder);
  }
}

// A client started from a folder that is none of the tests' own stands for a
// developer's real client: ending "all" clients leaves it running.
TEST(TestIsolation, EndingAllClientsSparesAClientOutsideTheTestsFolders) {
  const std::map<std::wstring, std::wstring> noPipe = {{L"VORLAN_PIPE", L"0"}};
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring outside =
      std::wstring(temp) + L"launcher-isolation-" + std::to_wstring(::GetCurrentProcessId());
  CreateFolders(outside);
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"\\vorlan.exe").c_str(),
                          (outside + L"\\vorlan.exe").c_str(), FALSE));
  const std::vector<DWORD> developers = StartClients(outside, 1, noPipe);
  TestFolder folder;
  InstallLauncher(folder.Path());
  const std::vector<DWORD> ours = StartClients(folder.Path(), 1, noPipe);

  EXPECT_EQ(TestClients(), ours);
  EndAllClients();
  for (const DWORD id : ours) EXPECT_TRUE(WaitUntilEnded(id));
  for (const DWORD id : developers) {
    EXPECT_TRUE(IsProcessRunning(id));
    (void)EndProcess(id);
  }
  EXPECT_EQ(developers.size(), 1u);
  EXPECT_EQ(ours.size(), 1u);
  RemoveTree(outside);
}

// A scratch key of the test's own: saved absent or full, changed every way,
// and put back byte for byte.
TEST(TestIsolation, ASavedKeyComesBackExactly) {
  const std::wstring key =
      L"Software\\launcher-tests-isolation-" + std::to_wstring(::GetCurrentProcessId());
  RegistryTree full;
  full.present = true;
  full.values = {{L"", REG_SZ, {'u', 0, 0, 0}},
                 {L"URL Protocol", REG_SZ, {0, 0}},
                 {L"raw", REG_BINARY, {0, 1, 2, 0xFF}},
                 {L"number", REG_DWORD, {7, 0, 0, 0}}};
  RegistryTree command;
  command.name = L"command";
  command.present = true;
  command.values = {{L"", REG_EXPAND_SZ, {'x', 0, 0, 0}}};
  RegistryTree open;
  open.name = L"open";
  open.present = true;
  open.subkeys = {command};
  RegistryTree shell;
  shell.name = L"shell";
  shell.present = true;
  shell.subkeys = {open};
  RegistryTree empty;
  empty.name = L"empty";
  empty.present = true;
  full.subkeys = {empty, shell};

  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "present" : "absent");
    if (present) WriteRegistryTree(HKEY_CURRENT_USER, key, full);
    const RegistryTree before = ReadRegistryTree(HKEY_CURRENT_USER, key);
    ASSERT_EQ(before.present, present);
    {
      const SavedRegistryKey saved(HKEY_CURRENT_USER, key);
      WriteRegistryTree(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", RegistryTree{});
      RegistryTree other;
      other.present = true;
      other.values = {{L"", REG_SZ, {'o', 0, 0, 0}}};
      WriteRegistryTree(HKEY_CURRENT_USER, key + L"\\added", other);
    }
    EXPECT_EQ(ReadRegistryTree(HKEY_CURRENT_USER, key), before);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

}  // namespace
