// Malformed configuration files and random command-line tails: thousands of
// fixed-seed cases in-process, and a few dozen tails through the real
// launcher to the reference client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/desktop_shortcut.h"
#include "desktop/product_config.h"
#include "launcher/launch_command.h"
#include "tests/support/shortcut_rig.h"
#include "tests/support/test_support.h"
#include "tests/support/hostile_rig.h"

namespace {

using namespace testing_support;

const char kValidConfig[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<ProductConfig>\n"
    "  <shortcut_cn>\xE6\xB2\x83\xE5\x85\xB0</shortcut_cn>\n"
    "  <shortcut_en>Vorlan</shortcut_en>\n"
    "  <!-- renamed in this version -->\n"
    "  <shortcut_new_cn><![CDATA[\xE6\x96\xB0 Vorlan]]></shortcut_new_cn>\n"
    "  <Shortcut_New_EN>Vorlan &amp; Co</Shortcut_New_EN>\n"
    "</ProductConfig>\n";

launcher::ShortcutNames Untouched() {
  return launcher::ShortcutNames{L"cn before", L"en before", L"new cn before", L"new en before"};
}

bool SameNames(const launcher::ShortcutNames& a, const launcher::ShortcutNames& b) {
  return a.shortcut_cn == b.shortcut_cn && a.shortcut_en == b.shortcut_en &&
         a.shortcut_new_cn == b.shortcut_new_cn && a.shortcut_new_en == b.shortcut_new_en;
}

// A field is as it was, or a name the buffers can hold.
bool Plausible(const std::wstring& field, const std::wstring& before) {
  return field == before || (!field.empty() && field.size() <= 259);
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// The malformed files: every cut of the valid file, byte flips, random bytes,
// deep nesting, huge and numerous entries, odd references and encodings.
std::vector<std::string> MalformedConfigs() {
  std::vector<std::string> files;
  const std::string valid = kValidConfig;
  for (std::size_t cut = 0; cut < valid.size(); ++cut) files.push_back(valid.substr(0, cut));
  hostile::Random random(936);
  for (int i = 0; i < 1500; ++i) {
    std::string file = valid;
    const std::uint32_t flips = 1 + random.Below(6);
    for (std::uint32_t f = 0; f < flips; ++f) {
      const std::uint32_t at = random.Below(static_cast<std::uint32_t>(file.size()));
      file[at] = static_cast<char>(file[at] ^ (1 + random.Below(255)));
    }
    files.push_back(file);
  }
  for (int i = 0; i < 200; ++i) {
    std::string file(1 + random.Below(600), '\0');
    for (char& c : file) c = static_cast<char>(random.Below(256));
    if (i % 2 == 0) file = "<ProductConfig><shortcut_en>" + file;
    files.push_back(file);
  }
  for (std::size_t depth : {50u, 99u, 100u, 101u, 1000u, 20000u}) {
    files.push_back("<r>" + Repeat("<shortcut_en>", depth) + "deep" +
                    Repeat("</shortcut_en>", depth) + "</r>");
    files.push_back("<r>" + Repeat("<a>", depth));  // never closed
  }
  const std::string cjk = "\xE4\xB8\xAD";  // one unit, three bytes
  for (std::size_t units : {258u, 259u, 260u, 261u, 100000u}) {
    files.push_back("<r><shortcut_cn>" + Repeat(cjk, units) + "</shortcut_cn></r>");
    files.push_back("<r><shortcut_en>" + std::string(units, 'e') + "</shortcut_en></r>");
  }
  files.push_back("<r><shortcut_en>" + std::string(4 << 20, 'x') + "</shortcut_en></r>");
  files.push_back("<r>" + Repeat("<shortcut_en>many</shortcut_en>", 50000) + "</r>");
  files.push_back("<r " + Repeat("a", 100000) + "=\"1\"><shortcut_en>x</shortcut_en></r>");
  for (const char* text : {"&#0;", "&#xD800;", "&#x110000;", "&#99999999999;", "&unknown;",
                           "&#x;", "&", "\xED\xA0\x80", "\xFF\xFE", "\xC0\xAF", "a\0b",
                           "]]>", "<![CDATA[", "\xF4\x90\x80\x80"}) {
    files.push_back(std::string("<r><shortcut_en>") + text + "</shortcut_en></r>");
  }
  files.push_back(std::string("<r><shortcut_en>a\0b</shortcut_en></r>", 34));
  files.push_back("<!DOCTYPE r [<!ENTITY a \"" + std::string(1000, 'a') +
                  "\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><r><shortcut_en>&b;"
                  "</shortcut_en></r>");
  // UTF-16 with its byte-order mark, which the reader does not decode.
  files.push_back(std::string("\xFF\xFE<\0r\0>\0<\0/\0r\0>\0", 16));
  files.push_back("");
  files.push_back(std::string(1, '\0'));
  files.push_back("<?xml version=\"1.0\"?>");
  files.push_back("<!-- only a comment -->");
  return files;
}

TEST(HostileConfig, MalformedFilesGiveAConsistentAnswer) {
  TestFolder folder;
  const std::wstring path = folder / L"ProductConfig.xml";
  int read = 0;
  int refused = 0;
  const std::vector<std::string> files = MalformedConfigs();
  for (std::size_t i = 0; i < files.size(); ++i) {
    WriteFileBytes(path, files[i]);
    const launcher::ShortcutNames before = Untouched();
    launcher::ShortcutNames names = before;
    const bool result = launcher::ReadProductConfig(names, path.c_str());
    if (!result) {
      ++refused;
      EXPECT_TRUE(SameNames(names, before)) << "case " << i << ": a refused file changed names";
      continue;
    }
    ++read;
    EXPECT_TRUE(Plausible(names.shortcut_cn, before.shortcut_cn)) << "case " << i;
    EXPECT_TRUE(Plausible(names.shortcut_en, before.shortcut_en)) << "case " << i;
    EXPECT_TRUE(Plausible(names.shortcut_new_cn, before.shortcut_new_cn)) << "case " << i;
    EXPECT_TRUE(Plausible(names.shortcut_new_en, before.shortcut_new_en)) << "case " << i;
  }
  // Both answers occur, so the run exercised more than the parser's first check.
  EXPECT_GT(read, 100);
  EXPECT_GT(refused, 100);

  // The undamaged file still reads as written.
  WriteFileBytes(path, kValidConfig);
  launcher::ShortcutNames names;
  ASSERT_TRUE(launcher::ReadProductConfig(names, path.c_str()));
  EXPECT_EQ(names.shortcut_cn, L"\u6C83\u5170");
  EXPECT_EQ(names.shortcut_new_cn, L"\u65B0 Vorlan");
  EXPECT_EQ(names.shortcut_new_en, L"Vorlan & Co");
}

// A configuration brought by an update names the shortcut; whatever it says,
// only shortcuts on the desktop itself are saved or removed.
TEST(HostileConfig, ShortcutNamesReachNothingBesideTheDesktop) {
  TestFolder top;
  const hostile::Sandbox sandbox(top.Path());
  const std::wstring desktop = sandbox.Installation();
  // A target that exists, so the link object has nothing to search for.
  const std::wstring launcher = BinFolder() + L"\\launcher.exe";
  desktop_testing::LinkProperties link;
  link.target = launcher;
  ASSERT_TRUE(desktop_testing::WriteLink(desktop + L"\\vorlan.lnk", link));
  // A shortcut to the launcher one folder up, which a rename away from it
  // would delete.
  ASSERT_TRUE(desktop_testing::WriteLink(top.Path() + L"\\l1\\l2\\l3\\victim.lnk", link));
  const hostile::Snapshot outsideBefore = sandbox.Outside();

  for (const wchar_t* name :
       {L"..\\evil_lnk", L"../evil_lnk", L"..\\..\\..\\evil_lnk", L"sub\\..\\..\\evil_lnk",
        L"C:\\evil_lnk", L"C:evil_lnk", L"\\evil_lnk", L"vorlan:evil_lnk",
        L"\\\\?\\C:\\evil_lnk"}) {
    EXPECT_EQ(launcher::UpdateShortcutInFolder(desktop.c_str(), L"vorlan", name, launcher.c_str(),
                                               L"vorlan", nullptr, nullptr),
              launcher::kShortcutNotFound)
        << Narrow(name);
  }
  EXPECT_EQ(launcher::UpdateShortcutInFolder(desktop.c_str(), L"..\\victim", L"renamed",
                                             launcher.c_str(), L"vorlan", nullptr, nullptr),
            launcher::kShortcutNotFound);
  EXPECT_EQ(hostile::DescribeDifferences(outsideBefore, sandbox.Outside()), "");
  EXPECT_FALSE(FileExists(desktop + L"\\renamed.lnk"));

  // A plain new name still moves the shortcut.
  EXPECT_EQ(launcher::UpdateShortcutInFolder(desktop.c_str(), L"vorlan", L"Vorlan 2",
                                             launcher.c_str(), L"vorlan", nullptr, nullptr),
            launcher::kShortcutSaveAttempted);
  EXPECT_TRUE(FileExists(desktop + L"\\Vorlan 2.lnk"));
  EXPECT_FALSE(FileExists(desktop + L"\\vorlan.lnk"));
}

// --- Command-line tails -----------------------------------------------------

// What the client must receive for a tail, worked out from the rules of the
// command line rather than from the parser.
std::wstring ExpectedParameters(const std::wstring& tail) {
  static const std::wstring force = L"forcerun:";
  static const std::wstring scheme = L"quintarelox://";
  std::wstring text = tail;
  if (text.size() >= force.size() && text.substr(0, force.size()) == force) {
    text = text.substr(force.size());
  }
  for (std::size_t at = 0; at + scheme.size() <= text.size(); ++at) {
    if (text.compare(at, scheme.size(), scheme) == 0) return text.substr(at + scheme.size());
  }
  return text;
}

std::wstring RandomTail(hostile::Random& random, std::size_t maxPieces) {
  static const wchar_t* const kPieces[] = {
      L"forcerun:", L"quintarelox://", L"quintarelox:/", L"QUINTARELOX://", L"forcerun",
      L"\"",        L"\"\"",           L" ",            L"  ",             L"\t",
      L"room=1",    L"&a=b",           L"%1",           L"%PATH%",         L"\\",
      L"\\\"",      L"IsAdmin",        L"\u6C83\u5170", L"\U0001F600",     L"^",
      L"C:\\x y\\", L"//",             L"?x=\u00E9",    L"'",              L"|<>"};
  std::wstring tail;
  const std::size_t pieces = 1 + random.Below(static_cast<std::uint32_t>(maxPieces));
  for (std::size_t i = 0; i < pieces; ++i) {
    switch (random.Below(4)) {
      case 0:
        tail += kPieces[random.Below(sizeof(kPieces) / sizeof(kPieces[0]))];
        break;
      case 1:  // a lone surrogate of either half
        tail += static_cast<wchar_t>(0xD800 + random.Below(0x800));
        break;
      case 2:  // any unit but NUL
        tail += static_cast<wchar_t>(1 + random.Below(0xFFFE));
        break;
      default:
        tail += static_cast<wchar_t>(0x21 + random.Below(0x5E));
        break;
    }
  }
  return tail;
}

TEST(HostileCommandLine, RandomTailsParseByTheRules) {
  hostile::Random random(1401);
  for (int i = 0; i < 6000; ++i) {
    std::wstring tail = RandomTail(random, i % 100 == 0 ? 4000 : 40);
    const launcher::LaunchCommand command = launcher::ParseLaunchCommand(tail.c_str());
    ASSERT_EQ(command.ClientParameters(), ExpectedParameters(tail)) << "case " << i;
    ASSERT_EQ(command.force, tail.compare(0, 9, L"forcerun:") == 0) << "case " << i;
    if (command.HasScheme()) {
      ASSERT_EQ(command.Payload(), command.ClientParameters()) << "case " << i;
    }

    // The tail as the platform cuts it from a whole command line.
    const std::wstring program = random.Below(2) == 0 ? L"\"C:\\a b\\launcher.exe\"" : L"x.exe";
    const std::wstring line = program + std::wstring(random.Below(3), L' ') + tail;
    const std::wstring cut = launcher::CommandLineTail(line.c_str());
    ASSERT_LE(cut.size(), line.size());
    ASSERT_EQ(line.compare(line.size() - cut.size(), cut.size(), cut), 0) << "case " << i;
    ASSERT_TRUE(cut.empty() || cut[0] > L' ') << "case " << i;
  }
}

class HostileLaunch : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }
};

TEST_F(HostileLaunch, RandomTailsReachTheClientExactly) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  hostile::Random random(2026);
  for (int i = 0; i < 30; ++i) {
    std::wstring tail = RandomTail(random, i % 10 == 9 ? 600 : 24);
    // The platform drops blanks and control characters at the start of the
    // tail; a tail of ours starts with something it keeps.
    if (tail[0] <= L' ') tail[0] = L'x';
    const std::wstring records = folder / (L"run" + std::to_wstring(i));
    CreateFolders(records);
    const ProcessResult result =
        RunLauncher(launcher, tail, {{L"VORLAN_RECORD_DIR", records}});
    EXPECT_TRUE(result.finished) << "case " << i;
    EXPECT_EQ(result.exitCode, 0u) << "case " << i;
    const std::vector<ClientRecord> clients = WaitForClients(records, 1);
    ASSERT_EQ(clients.size(), 1u) << "case " << i;
    EXPECT_EQ(ParametersOf(clients[0]), ExpectedParameters(tail))
        << "case " << i << " tail " << Narrow(tail);
    EndAllClients();
  }
}

// Tails longer than a log record holds, in ASCII and in text the log
// converts to two bytes a character.
TEST_F(HostileLaunch, OverlongTailsReachTheClientExactly) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  hostile::Random random(77);
  std::wstring ascii = L"forcerun:x quintarelox://";
  while (ascii.size() < 25000) ascii += static_cast<wchar_t>(0x21 + random.Below(0x5E));
  std::wstring chinese = L"quintarelox://";
  while (chinese.size() < 12000) chinese += static_cast<wchar_t>(0x4E00 + random.Below(0x5000));
  int run = 0;
  for (const std::wstring& tail : {ascii, chinese}) {
    const std::wstring records = folder / (L"run" + std::to_wstring(run++));
    CreateFolders(records);
    const ProcessResult result = RunLauncher(launcher, tail, {{L"VORLAN_RECORD_DIR", records}});
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    const std::vector<ClientRecord> clients = WaitForClients(records, 1);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(ParametersOf(clients[0]), ExpectedParameters(tail));
    EndAllClients();
  }
}

// A sample of the malformed files as the installation's configuration: the
// launch goes on to the client every time.
TEST_F(HostileLaunch, MalformedConfigurationsDoNotStopTheLaunch) {
  TestFolder folder;
  const std::wstring launcher = InstallLauncher(folder.Path());
  const std::vector<std::string> files = MalformedConfigs();
  int run = 0;
  for (std::size_t i = 0; i < files.size(); i += 97) {
    WriteFileBytes(folder / L"ProductConfig.xml", files[i]);
    const std::wstring records = folder / (L"run" + std::to_wstring(run++));
    CreateFolders(records);
    const ProcessResult result = RunLauncher(launcher, L"cfg", {{L"VORLAN_RECORD_DIR", records}});
    EXPECT_TRUE(result.finished) << "case " << i;
    EXPECT_EQ(result.exitCode, 0u) << "case " << i;
    const std::vector<ClientRecord> clients = WaitForClients(records, 1);
    ASSERT_EQ(clients.size(), 1u) << "case " << i;
    EXPECT_EQ(ParametersOf(clients[0]), L"cfg");
    EndAllClients();
  }
}

}  // namespace
