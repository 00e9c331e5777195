// ProductConfig.xml files written by the tests and read by the real parser.
#include <gtest/gtest.h>

#include <string>

#include "desktop/product_config.h"
#include "tests/support/test_support.h"

namespace {

using launcher::ReadProductConfig;
using launcher::ShortcutNames;
using namespace testing_support;

const std::wstring kChineseName = L"\x6C83\x5170\x5BA2\x6237\x7AEF";  // five CJK units
const std::string kChineseNameUtf8 = Narrow(kChineseName);

ShortcutNames Sentinels() {
  ShortcutNames names;
  names.shortcut_cn = L"cn before";
  names.shortcut_en = L"en before";
  names.shortcut_new_cn = L"new cn before";
  names.shortcut_new_en = L"new en before";
  return names;
}

bool SameNames(const ShortcutNames& a, const ShortcutNames& b) {
  return a.shortcut_cn == b.shortcut_cn && a.shortcut_en == b.shortcut_en &&
         a.shortcut_new_cn == b.shortcut_new_cn && a.shortcut_new_en == b.shortcut_new_en;
}

class ProductConfig : public ::testing::Test {
 protected:
  // Writes the bytes as ProductConfig.xml and reads them into an empty record.
  ShortcutNames Read(const std::string& bytes, bool expected = true) {
    const std::wstring path = folder_ / L"ProductConfig.xml";
    WriteFileBytes(path, bytes);
    ShortcutNames names;
    EXPECT_EQ(ReadProductConfig(names, path.c_str()), expected) << bytes;
    return names;
  }

  // The file must be refused and the record left exactly as it was.
  void ExpectRefused(const std::wstring& path, const std::string& what) {
    ShortcutNames names = Sentinels();
    EXPECT_FALSE(ReadProductConfig(names, path.c_str())) << what;
    EXPECT_TRUE(SameNames(names, Sentinels())) << what;
  }
  void ExpectRefusedBytes(const std::string& bytes) {
    const std::wstring path = folder_ / L"ProductConfig.xml";
    WriteFileBytes(path, bytes);
    ExpectRefused(path, bytes);
  }

  TestFolder folder_;
};

TEST_F(ProductConfig, NothingIsReadOrTouchedWithoutAUsableDocument) {
  ShortcutNames names = Sentinels();
  EXPECT_FALSE(ReadProductConfig(names, nullptr));
  EXPECT_TRUE(SameNames(names, Sentinels()));

  ExpectRefused(folder_ / L"ProductConfig.xml", "no file");
  ExpectRefused(folder_.Path(), "a folder");
  ExpectRefusedBytes("");
  ExpectRefusedBytes("  \r\n\t ");
  ExpectRefusedBytes("\xEF\xBB\xBF");
  ExpectRefusedBytes("this is not XML, only a line of text\r\n");
  ExpectRefusedBytes("<config><shortcut_cn>a</config>");
  ExpectRefusedBytes("<config><shortcut_cn>a</shortcut_cn>");
  ExpectRefusedBytes("<config/><second/>x<");
  ExpectRefusedBytes("<?xml version=\"1.0\"?><!-- only a comment -->");
}

// The file is opened by its wide path, whatever the ANSI code page can spell
// of its folder and however long the folder is in code page 936.
TEST_F(ProductConfig, AFileInAnyFolderIsRead) {
  const std::wstring folders[] = {
      L"\xD55C\xAD6D\xC5B4 \xD83D\xDE00",  // Korean and an emoji
      std::wstring(130, L'\x4E2D'),           // 260 bytes in code page 936
      L"\x00C5ngstr\x00F6m \x6C83\x5170",
  };
  for (const std::wstring& name : folders) {
    const std::wstring folder = folder_ / name;
    CreateFolders(folder);
    const std::wstring path = folder + L"\\ProductConfig.xml";
    WriteFileBytes(path, "<config><shortcut_cn>x</shortcut_cn></config>");
    ShortcutNames names;
    EXPECT_TRUE(ReadProductConfig(names, path.c_str())) << Narrow(name);
    EXPECT_EQ(names.shortcut_cn, L"x");
  }
}

TEST_F(ProductConfig, TheRootIsTheFirstElementWhateverItsName) {
  const ShortcutNames names = Read(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- installer output -->\r\n"
      "<Anything version=\"3\" shortcut_cn=\"attribute\">\r\n"
      "  root text is ignored\r\n"
      "  <shortcut_cn>" + kChineseNameUtf8 + "</shortcut_cn>\r\n"
      "  <shortcut_en>Vorlan Client</shortcut_en>\r\n"
      "  <shortcut_new_cn>" + kChineseNameUtf8 + " 2</shortcut_new_cn>\r\n"
      "  <shortcut_new_en>Vorlan</shortcut_new_en>\r\n"
      "  <other>ignored</other>\r\n"
      "</Anything>\r\n");
  EXPECT_EQ(names.shortcut_cn, kChineseName);
  EXPECT_EQ(names.shortcut_en, L"Vorlan Client");
  EXPECT_EQ(names.shortcut_new_cn, kChineseName + L" 2");
  EXPECT_EQ(names.shortcut_new_en, L"Vorlan");
}

TEST_F(ProductConfig, ARootWithoutEntriesLeavesTheNamesAsTheyWere) {
  const std::wstring path = folder_ / L"ProductConfig.xml";
  WriteFileBytes(path, "<config/>");
  ShortcutNames names = Sentinels();
  EXPECT_TRUE(ReadProductConfig(names, path.c_str()));
  EXPECT_TRUE(SameNames(names, Sentinels()));

  const ShortcutNames empty = Read("<config></config>");
  EXPECT_TRUE(SameNames(empty, ShortcutNames()));
}

TEST_F(ProductConfig, EntryNamesIgnoreAsciiCaseOnly) {
  const ShortcutNames names = Read(
      "<config><SHORTCUT_NEW_EN>upper</SHORTCUT_NEW_EN><Shortcut_CN>mixed</Shortcut_CN>"
      "<shortcut_en >spaced</shortcut_en >"
      "<shortcut_cn_extra>longer</shortcut_cn_extra><shortcut>shorter</shortcut>"
      "<ns:shortcut_new_cn>prefixed</ns:shortcut_new_cn>"
      "<\xC5\xBFhortcut_new_cn>long s</\xC5\xBFhortcut_new_cn></config>");
  EXPECT_EQ(names.shortcut_new_en, L"upper");
  EXPECT_EQ(names.shortcut_cn, L"mixed");
  EXPECT_EQ(names.shortcut_en, L"spaced");
  EXPECT_EQ(names.shortcut_new_cn, L"");
}

TEST_F(ProductConfig, ALaterEntryWinsUnlessItIsEmpty) {
  const ShortcutNames names = Read(
      "<config>"
      "<shortcut_cn>first</shortcut_cn><SHORTCUT_CN>second</SHORTCUT_CN>"
      "<shortcut_en>kept</shortcut_en><shortcut_en></shortcut_en><shortcut_en/>"
      "<shortcut_new_en>kept too</shortcut_new_en><SHORTCUT_NEW_EN><!-- c --></SHORTCUT_NEW_EN>"
      "</config>");
  EXPECT_EQ(names.shortcut_cn, L"second");
  EXPECT_EQ(names.shortcut_en, L"kept");
  EXPECT_EQ(names.shortcut_new_en, L"kept too");
}

TEST_F(ProductConfig, AnEntryHasTextOnlyWhenItsFirstChildIsText) {
  const ShortcutNames names = Read(
      "<config>"
      "<shortcut_cn><!-- first a comment -->after comment</shortcut_cn>"
      "<shortcut_en><![CDATA[<CDATA> & text]]></shortcut_en>"
      "<shortcut_new_cn><b>bold</b>after element</shortcut_new_cn>"
      "<group><shortcut_new_en>nested</shortcut_new_en></group>"
      "</config>");
  EXPECT_EQ(names.shortcut_cn, L"");
  EXPECT_EQ(names.shortcut_en, L"<CDATA> & text");
  EXPECT_EQ(names.shortcut_new_cn, L"");
  EXPECT_EQ(names.shortcut_new_en, L"");

  // Text before a child element is the first child and counts in full.
  const ShortcutNames leading = Read("<c><shortcut_cn>lead<i/>tail</shortcut_cn></c>");
  EXPECT_EQ(leading.shortcut_cn, L"lead");
}

TEST_F(ProductConfig, TextIsDecodedAsUtf8WithEntitiesAndBlanksKept) {
  const ShortcutNames names = Read(
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"GB2312\"?>"
      "<config>"
      "<shortcut_cn>" + kChineseNameUtf8 + "</shortcut_cn>"
      "<shortcut_en>A &amp; B &lt;&gt; &quot;q&quot; &apos;s&apos;</shortcut_en>"
      "<shortcut_new_cn>&#x4E2D;&#25991;</shortcut_new_cn>"
      "<shortcut_new_en>  two  blanks  </shortcut_new_en>"
      "</config>");
  EXPECT_EQ(names.shortcut_cn, kChineseName);
  EXPECT_EQ(names.shortcut_en, L"A & B <> \"q\" 's'");
  EXPECT_EQ(names.shortcut_new_cn, L"\x4E2D\x6587");
  EXPECT_EQ(names.shortcut_new_en, L"  two  blanks  ");
}

TEST_F(ProductConfig, AnEntryBeyond259UnitsIsSkippedNotCut) {
  const std::string fits(259, 'a');
  std::string cjkFits;  // 259 units in 777 bytes
  for (int i = 0; i < 259; ++i) cjkFits += kChineseNameUtf8.substr(0, 3);
  std::string pairsTooLong;  // 130 characters outside the BMP: 260 units
  for (int i = 0; i < 130; ++i) pairsTooLong += "\xF0\x9F\x98\x80";

  const ShortcutNames names = Read(
      "<config>"
      "<shortcut_cn>short</shortcut_cn><shortcut_cn>" + std::string(260, 'b') + "</shortcut_cn>"
      "<shortcut_en>" + fits + "</shortcut_en>"
      "<shortcut_new_cn>" + cjkFits + "</shortcut_new_cn>"
      "<shortcut_new_en>short</shortcut_new_en><shortcut_new_en>" + pairsTooLong +
      "</shortcut_new_en>"
      "</config>");
  EXPECT_EQ(names.shortcut_cn, L"short");
  EXPECT_EQ(names.shortcut_en, std::wstring(259, L'a'));
  EXPECT_EQ(names.shortcut_new_cn, std::wstring(259, kChineseName[0]));
  EXPECT_EQ(names.shortcut_new_en, L"short");
}

}  // namespace
