#include "launcher/launch_command.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace launcher {
namespace {

TEST(ParseLaunchCommand, ForcePrefixOnlyAtTheVeryStartInExactCase) {
  LaunchCommand c = ParseLaunchCommand(L"forcerun:quintarelox://room=1");
  EXPECT_TRUE(c.force);
  EXPECT_EQ(c.ClientParameters(), L"room=1");

  c = ParseLaunchCommand(L"forcerun:");
  EXPECT_TRUE(c.force);
  EXPECT_EQ(c.commandText, L"");
  EXPECT_FALSE(c.HasScheme());

  c = ParseLaunchCommand(L"forcerun: abc");
  EXPECT_TRUE(c.force);
  EXPECT_EQ(c.ClientParameters(), L" abc");

  for (const wchar_t* tail : {L"FORCERUN:abc", L"x forcerun:abc", L" forcerun:abc"}) {
    c = ParseLaunchCommand(tail);
    EXPECT_FALSE(c.force) << tail;
    EXPECT_EQ(c.ClientParameters(), tail);
  }
}

TEST(ParseLaunchCommand, FirstSchemeWinsAndTheClosingQuoteStays) {
  LaunchCommand c = ParseLaunchCommand(L"\"quintarelox://room=1\"");
  EXPECT_EQ(c.Payload(), L"room=1\"");
  EXPECT_EQ(c.ClientParameters(), L"room=1\"");

  c = ParseLaunchCommand(L"a quintarelox://b quintarelox://c");
  EXPECT_EQ(c.ClientParameters(), L"b quintarelox://c");

  c = ParseLaunchCommand(L"xquintarelox://mid");
  EXPECT_EQ(c.ClientParameters(), L"mid");

  c = ParseLaunchCommand(L"QUINTARELOX://b");
  EXPECT_FALSE(c.HasScheme());
  EXPECT_EQ(c.ClientParameters(), L"QUINTARELOX://b");

  c = ParseLaunchCommand(L"quintarelox://");
  EXPECT_TRUE(c.HasScheme());
  EXPECT_EQ(c.Payload(), L"");
}

TEST(ParseLaunchCommand, EmptyOrMissingTail) {
  for (const wchar_t* tail : {L"", static_cast<const wchar_t*>(nullptr)}) {
    const LaunchCommand c = ParseLaunchCommand(tail);
    EXPECT_FALSE(c.force);
    EXPECT_FALSE(c.HasScheme());
    EXPECT_EQ(c.ClientParameters(), L"");
  }
}

TEST(CommandLineTail, DropsTheProgramTokenAndTheBlanksAfterIt) {
  EXPECT_EQ(CommandLineTail(L"\"C:\\a b\\launcher.exe\" \"quintarelox://x\""),
            L"\"quintarelox://x\"");
  EXPECT_EQ(CommandLineTail(L"launcher.exe   forcerun: abc"), L"forcerun: abc");
  EXPECT_EQ(CommandLineTail(L"\"C:\\a\"b\\c.exe tail"), L"tail");
  EXPECT_EQ(CommandLineTail(L"\"C:\\a\"b\\c.exe\" tail"), L"");  // still inside quotes
  EXPECT_EQ(CommandLineTail(L"launcher.exe"), L"");
  EXPECT_EQ(CommandLineTail(L"launcher.exe\ttab"), L"tab");
}

TEST(FormatPaths, ConfigurationAndIconPathsJoinWithTwoSlashes) {
  wchar_t out[kPathBufferSize];
  ASSERT_TRUE(FormatConfigPath(L"C:\\Games\\Vorlan", out));
  EXPECT_STREQ(out, L"C:\\Games\\Vorlan//ProductConfig.xml");
  ASSERT_TRUE(FormatConfigPath(L"D:\\", out));
  EXPECT_STREQ(out, L"D:\\//ProductConfig.xml");
  ASSERT_TRUE(FormatIconPath(L"D:\\", kClientBaseName, out));
  EXPECT_STREQ(out, L"D:\\//vorlan.ico");
  ASSERT_TRUE(FormatIconPath(L"C:\\Program Files\\V", kClientBaseName, out));
  EXPECT_STREQ(out, L"C:\\Program Files\\V//vorlan.ico");
}

TEST(FormatPaths, APathThatWouldNotFitIsRefusedAndNothingIsOverrun) {
  // "//ProductConfig.xml" is 19 units: a 240-unit folder fits, 241 does not.
  struct Guarded {
    wchar_t buffer[kPathBufferSize];
    wchar_t guard[8];
  } g;
  std::wmemset(g.guard, L'G', 8);
  const std::wstring fits(240, L'f');
  ASSERT_TRUE(FormatConfigPath(fits, g.buffer));
  EXPECT_EQ(std::wcslen(g.buffer), 259u);

  EXPECT_FALSE(FormatConfigPath(std::wstring(241, L'f'), g.buffer));
  EXPECT_EQ(g.buffer[0], L'\0');
  // "//vorlan.ico" is 12 units.
  EXPECT_TRUE(FormatIconPath(std::wstring(247, L'f'), kClientBaseName, g.buffer));
  EXPECT_FALSE(FormatIconPath(std::wstring(248, L'f'), kClientBaseName, g.buffer));
  EXPECT_FALSE(FormatIconPath(std::wstring(5000, L'f'), kClientBaseName, g.buffer));
  for (wchar_t c : g.guard) EXPECT_EQ(c, L'G');
}

int ctrlCalls = 0, altCalls = 0;
SHORT ctrlState = 0, altState = 0;
SHORT WINAPI FakeKeys(int key) {
  if (key == VK_CONTROL) {
    ++ctrlCalls;
    return ctrlState;
  }
  if (key == VK_MENU) {
    ++altCalls;
    return altState;
  }
  return 0;
}

TEST(AreCtrlAndAltHeld, NeedsTheHighBitOfBothAndAsksAltOnlyWhileCtrlIsDown) {
  struct Case {
    SHORT ctrl, alt;
    bool held;
    int altAsked;
  } const cases[] = {
      {static_cast<SHORT>(0x8000), static_cast<SHORT>(0x8000), true, 1},
      {static_cast<SHORT>(0x8001), static_cast<SHORT>(0x8001), true, 1},
      {static_cast<SHORT>(0x8000), 0x0001, false, 1},  // pressed since last call only
      {0x0001, static_cast<SHORT>(0x8000), false, 0},
      {0, 0, false, 0},
  };
  for (const Case& c : cases) {
    ctrlCalls = altCalls = 0;
    ctrlState = c.ctrl;
    altState = c.alt;
    EXPECT_EQ(AreCtrlAndAltHeld(&FakeKeys), c.held) << c.ctrl << " " << c.alt;
    EXPECT_EQ(ctrlCalls, 1);
    EXPECT_EQ(altCalls, c.altAsked);
  }
}

}  // namespace
}  // namespace launcher
