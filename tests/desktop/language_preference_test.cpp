// The language follows the current user's registry value, read afresh on every
// call, with Chinese for everything but an exact "en-US".
#include <gtest/gtest.h>

#include <string>

#include "desktop/language_preference.h"
#include "tests/support/language_key_rig.h"

namespace {

using launcher::IsChineseLanguage;
using testing_support::LanguageKey;

TEST(LanguagePreference, MissingKeyOrValueReadsAsChinese) {
  LanguageKey key;
  key.Remove();
  EXPECT_TRUE(IsChineseLanguage());
  key.SetKeyWithoutValue();
  EXPECT_TRUE(IsChineseLanguage());
}

TEST(LanguagePreference, OnlyExactEnUsStoredAsTextIsEnglish) {
  LanguageKey key;
  key.SetText(L"en-US");  // UTF-16 in the registry, read as ANSI text
  EXPECT_FALSE(IsChineseLanguage());
  key.SetText(L"zh-CN");
  EXPECT_TRUE(IsChineseLanguage());

  for (const wchar_t* other : {L"EN-US", L"en-us", L"en_US", L"en", L"en-US ", L" en-US",
                               L"en-US\x00A0", L"", L"fr-FR", L"\x82F1\x8BED"}) {
    key.SetText(other);
    EXPECT_TRUE(IsChineseLanguage()) << testing::PrintToString(std::wstring(other));
  }
}

TEST(LanguagePreference, TheValuesTypeIsNotExamined) {
  LanguageKey key;
  key.SetBytes(REG_BINARY, std::string("en-US", 5));  // no terminator stored
  EXPECT_FALSE(IsChineseLanguage());
  key.SetBytes(REG_BINARY, std::string("en-US\0", 6));
  EXPECT_FALSE(IsChineseLanguage());
  key.SetBytes(REG_EXPAND_SZ, std::string("e\0n\0-\0U\0S\0\0\0", 12));
  EXPECT_FALSE(IsChineseLanguage());
  key.SetBytes(REG_BINARY, std::string("zh-CN", 5));
  EXPECT_TRUE(IsChineseLanguage());
}

TEST(LanguagePreference, DataLongerThanTheBufferReadsAsChinese) {
  LanguageKey key;
  // "en-US" padded with zero bytes: 260 bytes still fit, 261 do not.
  std::string fits("en-US");
  fits.resize(260, '\0');
  key.SetBytes(REG_BINARY, fits);
  EXPECT_FALSE(IsChineseLanguage());

  std::string tooLong("en-US");
  tooLong.resize(261, '\0');
  key.SetBytes(REG_BINARY, tooLong);
  EXPECT_TRUE(IsChineseLanguage());

  // A full buffer of text with no terminator is still read within the buffer.
  key.SetBytes(REG_BINARY, std::string(260, 'x'));
  EXPECT_TRUE(IsChineseLanguage());
  key.SetText(std::wstring(300, L'x'));
  EXPECT_TRUE(IsChineseLanguage());
}

TEST(LanguagePreference, EveryCallReadsTheValueAfresh) {
  LanguageKey key;
  key.SetText(L"en-US");
  EXPECT_FALSE(IsChineseLanguage());
  key.SetText(L"zh-CN");
  EXPECT_TRUE(IsChineseLanguage());
  key.SetText(L"en-US");
  EXPECT_FALSE(IsChineseLanguage());
  key.Remove();
  EXPECT_TRUE(IsChineseLanguage());
}

}  // namespace
