// The plain rules of update extraction: names, safety of targets, attributes,
// times and the encryption header check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/archive_rules.h"

namespace {

using launcher::ItemTimes;
using testing_support::Narrow;
using update_testing::Ticks;

std::wstring AfterNameRules(const wchar_t* name) { return name + launcher::NameRulesStart(name); }

TEST(ArchiveNameRules, DriveSeparatorsAndParentStepsAreCutFromTheStart) {
  const struct {
    const wchar_t* stored;
    const wchar_t* kept;
  } cases[] = {
      {L"C:\\x\\y.txt", L"x\\y.txt"},
      {L"\\\\server\\share\\f.txt", L"server\\share\\f.txt"},
      {L"x/../y.txt", L"y.txt"},
      {L"a\\..\\b/../c.txt", L"c.txt"},
      {L"/x/../../y", L"../y"},  // left for the safety check
      {L"../x", L"../x"},
      {L"C:/D:\\/e.txt", L"e.txt"},
      {L"plain/name.txt", L"plain/name.txt"},
      {L"a/..b/c", L"a/..b/c"},
      {L"C:", L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AfterNameRules(c.stored), c.kept) << Narrow(c.stored);
  }
}

TEST(ArchiveTargetSafety, NamesThatCouldLeaveTheRootOrNameADeviceAreRefused) {
  const wchar_t* unsafe[] = {
      L"../x",       L"..\\x",         L"a/../../x",   L".. /x",         L"a/. ./x",
      L"a/.../b",    L"x/..",          L"x.txt:stream", L"D:x",          L"a/b:c/d",
      L"CON",        L"con.txt",       L"dir/nul",     L"Com1.log",      L"LPT0",
      L"lpt9.x.y",   L"CONIN$",        L"conout$.txt", L"AUX ",          L"nul .txt/x",
      L"COM\u00B9",  L"com\u00B2.txt", L"LPT\u00B3",   L"lpt\u00B9.a.b", L"",
  };
  for (const wchar_t* name : unsafe) {
    EXPECT_FALSE(launcher::IsSafeRelativeTarget(name)) << Narrow(name);
  }
  const wchar_t* safe[] = {L"a/b/c.txt", L"console.txt", L"COM10", L"LPT",      L"con_x/y",
                           L"a..b/c",    L"..a/b",       L"x./y",  L"./x.txt",  L"a//b",
                           L"COM\u2074", L"lpt\u00B9\u00B9"};
  for (const wchar_t* name : safe) {
    EXPECT_TRUE(launcher::IsSafeRelativeTarget(name)) << Narrow(name);
  }
  EXPECT_TRUE(launcher::IsSafeAbsoluteTarget(L"C:\\folder\\x.txt"));
  EXPECT_FALSE(launcher::IsSafeAbsoluteTarget(L"C:\\folder\\x.txt:ads"));
  EXPECT_FALSE(launcher::IsSafeAbsoluteTarget(L"C:\\folder\\..\\x.txt"));
  EXPECT_FALSE(launcher::IsSafeAbsoluteTarget(L"\\folder\\prn"));
}

TEST(ArchiveDataSpans, ItemsSharingAnyByteAreAllMarked) {
  const struct {
    const char* what;
    std::vector<launcher::DataSpan> spans;
    std::vector<bool> overlapping;
  } cases[] = {
      {"apart and touching", {{0, 10, 0}, {10, 20, 1}, {30, 40, 2}}, {false, false, false}},
      {"same data", {{5, 9, 0}, {5, 9, 1}, {5, 9, 2}}, {true, true, true}},
      {"inside a long one", {{0, 100, 2}, {40, 50, 0}, {200, 300, 1}}, {true, false, true}},
      {"reached past a short one", {{0, 100, 0}, {10, 20, 1}, {90, 120, 2}},
       {true, true, true}},
      {"empty data never overlaps", {{0, 100, 0}, {50, 50, 1}}, {false, false}},
      {"directory order does not matter", {{20, 30, 0}, {0, 21, 1}, {40, 41, 2}},
       {true, true, false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(launcher::FindOverlappingSpans(c.spans, static_cast<int>(c.overlapping.size())),
              c.overlapping)
        << c.what;
  }
}

TEST(ArchiveTemporaryNames, OnlyTheExtractionsOwnPatternMatches) {
  for (const wchar_t* name : {L"~upd1a2b.3.tmp", L"~updffffffff.ffffffff.tmp", L"~upd0.0.tmp"}) {
    EXPECT_TRUE(launcher::IsExtractionTemporaryName(name)) << Narrow(name);
  }
  for (const wchar_t* name :
       {L"~upd.1.tmp", L"~upd1..tmp", L"~upd1.2.tmp.txt", L"~upd1.2.tm", L"~upd123456789.1.tmp",
        L"~updg.1.tmp", L"upd1.2.tmp", L"~upd1.2.3.tmp", L"~upd1.2.TMP ", L"~self1.2.tmp"}) {
    EXPECT_FALSE(launcher::IsExtractionTemporaryName(name)) << Narrow(name);
  }
}

TEST(ArchiveAttributes, HostDecidesWhichHalfOfTheExternalAttributesCounts) {
  const struct {
    unsigned host;
    std::uint32_t external;
    DWORD attributes;
  } cases[] = {
      {3, 0x81A40000u, 0x20},  {3, 0x81240000u, 0x21}, {3, 0x41ED0000u, 0x30},
      {3, 0x00000000u, 0x21},  {3, 0x81A40001u, 0x20},  // low half ignored for Unix
      {0, 0x21u, 0x21},        {0, 0x10u, 0x10},        {0, 0x81A40000u, 0x00},
      {7, 0x02u, 0x02},        {11, 0x26u, 0x26},        {14, 0x07u, 0x07},
      {6, 0x02u, 0x02},        {10, 0x20u, 0x20},        {10, 0x01u, 0x01},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(launcher::MapExternalAttributes(c.host, c.external), c.attributes)
        << "host " << c.host << " external " << std::hex << c.external;
  }
}

TEST(ArchiveTimes, DosDateAndTimeAreLocalTimeTurnedIntoUtc) {
  FILETIME utc = {};
  ASSERT_TRUE(launcher::DosDateTimeToUtc(0x4E216000u, utc));
  EXPECT_EQ(Ticks(utc), update_testing::LocalToUtcTicks(2019, 1, 1, 12, 0, 0));
  // Seconds come in steps of two.
  ASSERT_TRUE(launcher::DosDateTimeToUtc((0x4E21u << 16) | 0x601Du, utc));
  EXPECT_EQ(Ticks(utc), update_testing::LocalToUtcTicks(2019, 1, 1, 12, 0, 58));
  // Month 0 is no calendar time: no time at all rather than a made-up one.
  EXPECT_FALSE(launcher::DosDateTimeToUtc(0x4E006000u, utc));
  EXPECT_EQ(Ticks(utc), 0u);
}

ItemTimes SampleTimes() {
  ItemTimes times;
  times.accessTime = FILETIME{1, 2};
  times.creationTime = FILETIME{3, 4};
  times.writeTime = FILETIME{5, 6};
  return times;
}

std::vector<unsigned char> Block(char a, char b, std::vector<unsigned char> data) {
  std::vector<unsigned char> block;
  block.push_back(static_cast<unsigned char>(a));
  block.push_back(static_cast<unsigned char>(b));
  block.push_back(static_cast<unsigned char>(data.size() & 0xFF));
  block.push_back(static_cast<unsigned char>(data.size() >> 8));
  for (unsigned char byte : data) block.push_back(byte);
  return block;
}

std::vector<unsigned char> Le32(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

std::vector<unsigned char> Concat(std::initializer_list<std::vector<unsigned char>> parts) {
  std::vector<unsigned char> all;
  for (const auto& part : parts) {
    for (unsigned char byte : part) all.push_back(byte);
  }
  return all;
}

TEST(ArchiveTimes, ExtendedTimestampOverridesOnlyTheTimesItCarries) {
  ItemTimes times = SampleTimes();
  const auto writeOnly = Block('U', 'T', Concat({{1}, Le32(0)}));
  launcher::ApplyExtendedTimestamp(writeOnly.data(), writeOnly.size(), times);
  EXPECT_EQ(Ticks(times.writeTime), 116444736000000000ULL);
  EXPECT_EQ(Ticks(times.accessTime), Ticks(SampleTimes().accessTime));
  EXPECT_EQ(Ticks(times.creationTime), Ticks(SampleTimes().creationTime));

  // Other blocks are skipped; only the first "UT" block counts.
  times = SampleTimes();
  const auto all = Concat({Block('X', 'Y', {9, 9, 9}),
                           Block('U', 'T', Concat({{7}, Le32(1000000000), Le32(-1), Le32(1200000000)})),
                           Block('U', 'T', Concat({{1}, Le32(5)}))});
  launcher::ApplyExtendedTimestamp(all.data(), all.size(), times);
  EXPECT_EQ(Ticks(times.writeTime), update_testing::UnixTicks(1000000000));
  EXPECT_EQ(Ticks(times.accessTime), update_testing::UnixTicks(-1));
  EXPECT_EQ(Ticks(times.creationTime), update_testing::UnixTicks(1200000000));
}

TEST(ArchiveTimes, ExtendedTimestampNeverReadsBeyondItsBlockOrTheField) {
  // Flags announce two counts, the block holds one.
  ItemTimes times = SampleTimes();
  const auto shortBlock = Block('U', 'T', Concat({{3}, Le32(1000000000)}));
  launcher::ApplyExtendedTimestamp(shortBlock.data(), shortBlock.size(), times);
  EXPECT_EQ(Ticks(times.writeTime), update_testing::UnixTicks(1000000000));
  EXPECT_EQ(Ticks(times.accessTime), Ticks(SampleTimes().accessTime));

  // The block claims more data than the field has.
  times = SampleTimes();
  auto cut = Block('U', 'T', Concat({{1}, Le32(1000000000)}));
  cut[2] = 200;
  launcher::ApplyExtendedTimestamp(cut.data(), cut.size() - 1, times);
  EXPECT_EQ(Ticks(times.writeTime), Ticks(SampleTimes().writeTime));

  // A block size that jumps past the end, and an empty field.
  times = SampleTimes();
  const std::vector<unsigned char> jump = {'Q', 'Q', 0xFF, 0xFF, 'U', 'T', 5, 0, 1, 0, 0, 0, 0};
  launcher::ApplyExtendedTimestamp(jump.data(), jump.size(), times);
  launcher::ApplyExtendedTimestamp(nullptr, 0, times);
  EXPECT_EQ(Ticks(times.writeTime), Ticks(SampleTimes().writeTime));
}

TEST(ArchiveEncryption, DecryptsWithTheEmptyPasswordAcrossCalls) {
  // Eleven zero bytes and the check byte 0xAB, encrypted with the empty
  // password by the fixture script's own implementation.
  unsigned char header[12] = {0xAB, 0x1A, 0xBF, 0xC5, 0x86, 0x7B,
                              0x47, 0xC5, 0x8D, 0xF2, 0x22, 0x10};
  launcher::TraditionalDecryptor decryptor;
  decryptor.Decrypt(header, 5);
  decryptor.Decrypt(header + 5, 7);
  const unsigned char plain[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAB};
  EXPECT_EQ(std::vector<unsigned char>(header, header + 12),
            std::vector<unsigned char>(plain, plain + 12));
}

}  // namespace
