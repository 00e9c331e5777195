// The archive layer against archives made by real tools (and a few damaged or
// encrypted ones made byte by byte), extracted under a real Win32 file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/archive.h"

namespace {

using namespace launcher;
using namespace update_testing;
using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::Narrow;
using testing_support::TestFolder;


// A root folder of the test's own ("root" inside the test folder, so that
// anything escaping it lands where the test can see it), with the archive
// copied in and opened from there.
class ArchiveLayer : public ::testing::Test {
 protected:
  ArchiveLayer() : folder_(L"root"), current_(folder_.Path()) {}

  void Open(const std::wstring& fixture) {
    CopyFixture(fixture, Root(L"archive.zip"));
    ASSERT_EQ(OpenArchive(L"archive.zip", archive_.Receive()), kArchiveOk);
    ArchiveItem count = {};
    ASSERT_EQ(GetArchiveItem(archive_.Get(), -1, &count), kArchiveOk);
    count_ = count.index;
  }

  ArchiveItem Describe(int index, int expected = kArchiveOk) {
    ArchiveItem item = {};
    EXPECT_EQ(GetArchiveItem(archive_.Get(), index, &item), expected) << "item " << index;
    return item;
  }

  // Describes and extracts item index to its own name, as the launcher does.
  int Extract(int index) {
    ArchiveItem item = {};
    const int described = GetArchiveItem(archive_.Get(), index, &item);
    const int extracted = ExtractArchiveItem(archive_.Get(), index, item.name);
    if (described != kArchiveOk) {
      EXPECT_EQ(extracted, described);
    }
    return extracted;
  }

  int IndexOf(const std::wstring& name) {
    for (int i = 0; i < count_; ++i) {
      ArchiveItem item = {};
      if (GetArchiveItem(archive_.Get(), i, &item) == kArchiveOk && name == item.name) return i;
    }
    ADD_FAILURE() << "no item " << Narrow(name);
    return -1;
  }

  std::wstring Root(const std::wstring& relative = L"") const {
    return relative.empty() ? folder_.Path() : folder_ / relative;
  }
  std::wstring Outside() const { return launcher::ParentFolderOf(folder_.Path()); }

  TestFolder folder_;
  CurrentFolder current_;
  ScopedArchive archive_;
  int count_ = 0;
};

TEST_F(ArchiveLayer, OpeningRefusesMissingFilesAndWhatIsNotAZipArchive) {
  ArchiveHandle* handle = reinterpret_cast<ArchiveHandle*>(1);
  EXPECT_EQ(OpenArchive(L"missing.zip", &handle), kArchiveCannotOpen);
  EXPECT_EQ(handle, nullptr);
  CopyFixture(L"not_a_zip.zip", Root(L"text.zip"));
  EXPECT_EQ(OpenArchive(L"text.zip", &handle), kArchiveCannotOpen);
  EXPECT_EQ(handle, nullptr);
  // The refused file is not held open.
  EXPECT_TRUE(::DeleteFileW(Root(L"text.zip").c_str()));
}

TEST_F(ArchiveLayer, HandlesAndIndexesAreChecked) {
  Open(L"nested.zip");
  EXPECT_EQ(count_, 1);
  ArchiveItem item = {};
  EXPECT_EQ(GetArchiveItem(archive_.Get(), -2, &item), kArchiveBadIndex);
  EXPECT_EQ(GetArchiveItem(archive_.Get(), 1, &item), kArchiveBadIndex);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 1, L"x"), kArchiveBadIndex);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), -1, L"x"), kArchiveBadIndex);
  EXPECT_EQ(GetArchiveItem(nullptr, 0, &item), kArchiveBadIndex);
  EXPECT_EQ(ExtractArchiveItem(nullptr, 0, L"x"), kArchiveBadIndex);
  EXPECT_EQ(CloseArchive(nullptr), kArchiveBadIndex);
  ArchiveHandle foreign;
  foreign.kind = 2;
  EXPECT_EQ(GetArchiveItem(&foreign, 0, &item), kArchiveWrongKind);
  EXPECT_EQ(ExtractArchiveItem(&foreign, 0, L"x"), kArchiveWrongKind);
  EXPECT_EQ(CloseArchive(&foreign), kArchiveWrongKind);
  EXPECT_EQ(CloseArchive(archive_.Release()), kArchiveOk);
}

TEST_F(ArchiveLayer, AnArchiveWithoutItemsHasACountOfZero) {
  // With nothing before its directory, minizip does not recognise it at all.
  CopyFixture(L"no_items.zip", Root(L"bare.zip"));
  ArchiveHandle* handle = nullptr;
  EXPECT_EQ(OpenArchive(L"bare.zip", &handle), kArchiveCannotOpen);
  Open(L"no_items_preamble.zip");
  EXPECT_EQ(count_, 0);
  ArchiveItem item = {};
  EXPECT_EQ(GetArchiveItem(archive_.Get(), 0, &item), kArchiveBadIndex);
}

TEST_F(ArchiveLayer, FoldersOfAFileAreMadeWithoutFolderItems) {
  Open(L"nested.zip");
  const ArchiveItem item = Describe(0);
  EXPECT_EQ(item.index, 0);
  EXPECT_STREQ(item.name, L"a/b/c.txt");
  EXPECT_EQ(item.uncompressedSize, 12u);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, item.name), kArchiveOk);
  EXPECT_TRUE(FolderExists(Root(L"a")));
  EXPECT_TRUE(FolderExists(Root(L"a\\b")));
  EXPECT_EQ(ReadText(Root(L"a\\b\\c.txt")), "nested file\n");
  EXPECT_EQ(FolderEntries(Root(L"a\\b")), std::vector<std::wstring>{L"c.txt"});
}

TEST_F(ArchiveLayer, AFolderItemMakesEveryFolderOnItsPath) {
  Open(L"folder_item.zip");
  const ArchiveItem item = Describe(0);
  EXPECT_STREQ(item.name, L"sub/dir/");
  EXPECT_EQ(item.attributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, item.name), kArchiveOk);
  EXPECT_TRUE(FolderExists(Root(L"sub\\dir")));
  EXPECT_TRUE(FolderEntries(Root(L"sub\\dir")).empty());
}

TEST_F(ArchiveLayer, AFileItemEndingInASeparatorMakesItsFoldersAndNoFile) {
  Open(L"folder_as_file.zip");
  ASSERT_EQ(Describe(0).attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(Extract(0), kArchiveCannotOpen);
  EXPECT_TRUE(FolderExists(Root(L"javadir\\sub")));
  EXPECT_TRUE(FolderEntries(Root(L"javadir\\sub")).empty());
  EXPECT_EQ(Extract(1), kArchiveOk);
  EXPECT_EQ(ReadText(Root(L"javadir\\sub\\in.txt")), "inside\n");
}

TEST_F(ArchiveLayer, AnEmptyItemBecomesAnEmptyFileWithTheItemsTimes) {
  Open(L"empty_item.zip");
  const ArchiveItem item = Describe(0);
  const std::uint64_t expected = LocalToUtcTicks(2019, 1, 1, 12, 0, 0);
  EXPECT_EQ(Ticks(item.writeTime), expected);
  EXPECT_EQ(Ticks(item.accessTime), expected);
  EXPECT_EQ(Ticks(item.creationTime), expected);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, item.name), kArchiveOk);
  const FileTimes times = ReadTimes(Root(L"empty.txt"));
  EXPECT_EQ(times.creation, expected);
  EXPECT_EQ(times.write, expected);
  EXPECT_EQ(times.access, expected);
  EXPECT_TRUE(testing_support::ReadFileBytes(Root(L"empty.txt")).empty());
}

TEST_F(ArchiveLayer, NamesAreCutByTheNameRulesAndExtractedBelowTheRoot) {
  Open(L"names.zip");
  const wchar_t* expected[] = {L"x\\y.txt", L"server\\share\\f.txt", L"y.txt", L"c.txt"};
  const char* contents[] = {"drive", "unc", "parent", "mixed"};
  ASSERT_EQ(count_, 4);
  for (int i = 0; i < count_; ++i) {
    EXPECT_STREQ(Describe(i).name, expected[i]);
    EXPECT_EQ(Extract(i), kArchiveOk);
    EXPECT_EQ(ReadText(Root(expected[i])), contents[i]);
  }
}

// Nor to a name the launcher keeps or deletes in its folder.
TEST_F(ArchiveLayer, NothingIsWrittenOutsideTheRootOrToADevice) {
  Open(L"escapes.zip");
  std::vector<std::wstring> extracted;
  for (int i = 0; i < count_; ++i) {
    const ArchiveItem item = Describe(i);
    const int result = ExtractArchiveItem(archive_.Get(), i, item.name);
    if (result == kArchiveOk) {
      extracted.push_back(item.name);
    } else {
      EXPECT_EQ(result, kArchiveUnsafeTarget) << Narrow(item.name);
    }
  }
  // "D:escape7.txt" loses its drive to the name rules and stays inside.
  EXPECT_EQ(extracted, (std::vector<std::wstring>{L"escape7.txt", L"kept.txt"}));
  EXPECT_EQ(FolderEntries(Outside()), std::vector<std::wstring>{L"root"});
  EXPECT_EQ(FolderEntries(Root()),
            (std::vector<std::wstring>{L"archive.zip", L"escape7.txt", L"kept.txt"}));
  EXPECT_EQ(ReadText(Root(L"kept.txt")), "safe");
}

TEST_F(ArchiveLayer, AttributesFollowTheHostAndReachTheDisk) {
  Open(L"attributes.zip");
  const struct {
    const wchar_t* name;
    DWORD attributes;
  } cases[] = {
      {L"unix_plain.txt", FILE_ATTRIBUTE_ARCHIVE},
      {L"unix_readonly.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
      {L"unix_folder/", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY},
      {L"dos_archive_readonly.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
      {L"dos_folder", FILE_ATTRIBUTE_DIRECTORY},
      {L"ntfs_hidden_system.txt",
       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
  };
  ASSERT_EQ(count_, 6);
  for (int i = 0; i < count_; ++i) {
    const ArchiveItem item = Describe(i);
    EXPECT_STREQ(item.name, cases[i].name);
    EXPECT_EQ(item.attributes, cases[i].attributes) << Narrow(item.name);
    EXPECT_EQ(ExtractArchiveItem(archive_.Get(), i, item.name), kArchiveOk) << Narrow(item.name);
  }
  EXPECT_EQ(Attributes(Root(L"unix_plain.txt")), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Attributes(Root(L"unix_readonly.txt")),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Attributes(Root(L"dos_archive_readonly.txt")),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Attributes(Root(L"ntfs_hidden_system.txt")),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(FolderExists(Root(L"unix_folder")));
  EXPECT_TRUE(FolderExists(Root(L"dos_folder")));
  EXPECT_EQ(ReadText(Root(L"unix_readonly.txt")), "r");
}

TEST_F(ArchiveLayer, DosTimesAndExtendedTimestampsReachTheDisk) {
  Open(L"times.zip");
  const std::uint64_t dos = LocalToUtcTicks(2019, 1, 1, 12, 0, 0);
  const struct {
    const wchar_t* name;
    std::uint64_t access, creation, write;
  } cases[] = {
      {L"ut_write_zero.txt", dos, dos, 116444736000000000ULL},
      {L"ut_all.txt", UnixTicks(1100000000), UnixTicks(1200000000), UnixTicks(1000000000)},
      {L"ut_short.txt", dos, dos, UnixTicks(1000000000)},
      {L"dos_only.txt", dos, dos, dos},
  };
  ASSERT_EQ(count_, 4);
  for (int i = 0; i < count_; ++i) {
    const ArchiveItem item = Describe(i);
    EXPECT_STREQ(item.name, cases[i].name);
    EXPECT_EQ(Ticks(item.accessTime), cases[i].access) << Narrow(item.name);
    EXPECT_EQ(Ticks(item.creationTime), cases[i].creation) << Narrow(item.name);
    EXPECT_EQ(Ticks(item.writeTime), cases[i].write) << Narrow(item.name);
    ASSERT_EQ(ExtractArchiveItem(archive_.Get(), i, item.name), kArchiveOk);
    const FileTimes times = ReadTimes(Root(item.name));
    EXPECT_EQ(times.access, cases[i].access) << Narrow(item.name);
    EXPECT_EQ(times.write, cases[i].write) << Narrow(item.name);
  }
}

TEST_F(ArchiveLayer, TooLongNamesAndPathsAreSkippedWhole) {
  Open(L"long_names.zip");
  ASSERT_EQ(count_, 3);
  Describe(0, kArchiveNameTooLong);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, L"n.txt"), kArchiveNameTooLong);
  // 254 units fit an item name, not the root folder in front of them.
  const ArchiveItem longPath = Describe(1);
  EXPECT_EQ(std::wstring(longPath.name).size(), 254u);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 1, longPath.name), kArchiveNameTooLong);
  EXPECT_EQ(Extract(2), kArchiveOk);
  EXPECT_EQ(FolderEntries(Root()), (std::vector<std::wstring>{L"archive.zip", L"short.txt"}));
}

TEST_F(ArchiveLayer, EncryptedItemsOpenOnlyWithTheEmptyPassword) {
  Open(L"encrypted.zip");
  ASSERT_EQ(count_, 4);
  EXPECT_EQ(Extract(0), kArchiveBadPassword);
  EXPECT_FALSE(FileExists(Root(L"locked.txt")));
  EXPECT_EQ(Extract(1), kArchiveOk);
  EXPECT_EQ(ReadText(Root(L"after_locked.txt")), "plain text after the locked item\n");
  EXPECT_EQ(Extract(2), kArchiveOk);
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "empty password\n";
  EXPECT_EQ(ReadText(Root(L"open_lock.txt")), expected);
  EXPECT_EQ(Extract(3), kArchiveOk);
  EXPECT_EQ(ReadText(Root(L"open_lock_stored.txt")), "stored, empty password\n");
  EXPECT_EQ(FolderEntries(Root()),
            (std::vector<std::wstring>{L"after_locked.txt", L"archive.zip", L"open_lock.txt",
                                       L"open_lock_stored.txt"}));
}

TEST_F(ArchiveLayer, ItemsCanBeAskedForInAnyOrder) {
  Open(L"names.zip");
  EXPECT_STREQ(Describe(3).name, L"c.txt");
  EXPECT_STREQ(Describe(1).name, L"server\\share\\f.txt");
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 3, L"again/c.txt"), kArchiveOk);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, L"first.txt"), kArchiveOk);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, L"first_again.txt"), kArchiveOk);
  EXPECT_EQ(ReadText(Root(L"again\\c.txt")), "mixed");
  EXPECT_EQ(ReadText(Root(L"first.txt")), "drive");
  EXPECT_EQ(ReadText(Root(L"first_again.txt")), "drive");
}

// The walk ends for good at the damaged record: even the item read before it
// is not reached again, since a new walk would only meet the damage again.
TEST_F(ArchiveLayer, ADamagedCentralDirectoryEndsTheWalk) {
  Open(L"bad_directory.zip");
  ASSERT_EQ(count_, 3);
  EXPECT_EQ(Extract(0), kArchiveOk);
  for (const int index : {1, 2, 0}) {
    Describe(index, kArchiveDirectoryDamaged);
    EXPECT_EQ(ExtractArchiveItem(archive_.Get(), index, L"again.txt"), kArchiveDirectoryDamaged)
        << "item " << index;
  }
  EXPECT_EQ(FolderEntries(Root()), (std::vector<std::wstring>{L"archive.zip", L"one.txt"}));
}

TEST_F(ArchiveLayer, AbsoluteTargetsAreUsedAsGiven) {
  Open(L"nested.zip");
  TestFolder elsewhere;
  const std::wstring target = elsewhere / L"deep\\er\\copy.txt";
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, target.c_str()), kArchiveOk);
  EXPECT_EQ(ReadText(target), "nested file\n");
}

TEST(EnsureFolder, MakesTheRootAndEveryFolderAboveTheLast) {
  TestFolder folder;
  const std::wstring root = folder / L"new_root\\";
  EnsureFolder(root.c_str(), L"p/q\\r/");
  EXPECT_TRUE(FolderExists(folder / L"new_root\\p\\q\\r"));
  EnsureFolder(nullptr, (folder / L"abs\\s").c_str());
  EXPECT_TRUE(FolderExists(folder / L"abs\\s"));
  EnsureFolder(root.c_str(), L"");
  EXPECT_EQ(FolderEntries(folder / L"new_root"), std::vector<std::wstring>{L"p"});
}

// --- Replacing files that are already installed ---------------------------

class ArchiveReplacement : public ArchiveLayer {
 protected:
  void SetUp() override {
    testing_support::CreateFolders(Root(L"app"));
    testing_support::WriteFileBytes(Root(L"app\\data.bin"), oldData_);
  }
  // The old file is there byte for byte and nothing else was left beside it.
  void ExpectOldFileUntouched() {
    EXPECT_EQ(ReadText(Root(L"app\\data.bin")), oldData_);
    EXPECT_EQ(FolderEntries(Root(L"app")),
              (std::vector<std::wstring>{L"after.txt", L"data.bin"}));
  }
  const std::string oldData_ = "installed version\n";
};

TEST_F(ArchiveReplacement, AGoodItemReplacesTheInstalledFile) {
  Open(L"first.zip");
  EXPECT_EQ(Extract(0), kArchiveOk);
  EXPECT_EQ(Extract(1), kArchiveOk);
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "first version\n";
  EXPECT_EQ(ReadText(Root(L"app\\data.bin")), expected);
  EXPECT_EQ(FolderEntries(Root(L"app")), (std::vector<std::wstring>{L"data.bin", L"tool.exe"}));
}

TEST_F(ArchiveReplacement, AWrongCrcLeavesTheInstalledFileAsItWas) {
  Open(L"bad_crc.zip");
  EXPECT_EQ(Extract(0), kArchiveDataUnreadable);
  EXPECT_EQ(Extract(1), kArchiveOk);
  ExpectOldFileUntouched();
}

TEST_F(ArchiveReplacement, UnreadableDataLeavesTheInstalledFileAsItWas) {
  Open(L"bad_data.zip");
  EXPECT_EQ(Extract(0), kArchiveDataUnreadable);
  EXPECT_EQ(Extract(1), kArchiveOk);
  ExpectOldFileUntouched();
}

TEST_F(ArchiveReplacement, ALocalHeaderAtOddsWithTheDirectoryIsRefused) {
  Open(L"bad_local_header.zip");
  Describe(0, kArchiveHeaderMismatch);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 0, L"app/data.bin"), kArchiveHeaderMismatch);
  EXPECT_EQ(Extract(1), kArchiveOk);
  ExpectOldFileUntouched();
}

TEST_F(ArchiveReplacement, AnUnreadableLocalExtraFieldIsRefused) {
  Open(L"bad_extra.zip");
  EXPECT_EQ(Extract(0), kArchiveOk);
  Describe(1, kArchiveExtraFieldUnreadable);
  EXPECT_EQ(ExtractArchiveItem(archive_.Get(), 1, L"app/data.bin"), kArchiveExtraFieldUnreadable);
  ExpectOldFileUntouched();
}

TEST_F(ArchiveReplacement, AnInstalledFileInUseStaysAsItWasForALaterStart) {
  {
    const launcher::ScopedFileHandle busy(::CreateFileW(
        Root(L"app\\data.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    Open(L"first.zip");
    EXPECT_EQ(Extract(0), kArchiveTargetBusy);
    EXPECT_TRUE(IsTransientArchiveResult(kArchiveTargetBusy));
  }
  EXPECT_EQ(ReadText(Root(L"app\\data.bin")), oldData_);
  EXPECT_EQ(FolderEntries(Root(L"app")), std::vector<std::wstring>{L"data.bin"});
}

// Installers replace read-only, hidden and system files; the new file has the
// attributes its item gives.
TEST_F(ArchiveReplacement, ReadOnlyHiddenAndSystemInstalledFilesAreReplaced) {
  CopyFixture(L"first.zip", Root(L"archive.zip"));
  for (const DWORD installed : {DWORD{FILE_ATTRIBUTE_READONLY},
                                DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
    testing_support::WriteFileBytes(Root(L"app\\data.bin"), oldData_);
    ASSERT_TRUE(::SetFileAttributesW(Root(L"app\\data.bin").c_str(), installed));
    ScopedArchive archive;
    ASSERT_EQ(OpenArchive(L"archive.zip", archive.Receive()), kArchiveOk);
    EXPECT_EQ(ExtractArchiveItem(archive.Get(), 0, L"app/data.bin"), kArchiveOk) << installed;
    EXPECT_EQ(ReadText(Root(L"app\\data.bin")).substr(0, 14), "first version\n");
    EXPECT_EQ(Attributes(Root(L"app\\data.bin")), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(FolderEntries(Root(L"app")), std::vector<std::wstring>{L"data.bin"});
  }
}

// --- Archives written by Info-ZIP zip and 7z ----------------------------------

TEST_F(ArchiveLayer, AnInfoZipArchiveIsExtractedWithItsTimesAndModes) {
  Open(L"infozip.zip");
  for (int i = 0; i < count_; ++i) EXPECT_EQ(Extract(i), kArchiveOk);
  EXPECT_EQ(ReadTimes(Root(L"bin\\plugins\\plugin.cfg")).write, UnixTicks(1600000000));
  EXPECT_EQ(ReadTimes(Root(L"bin\\plugins\\plugin.cfg")).access, UnixTicks(1500000000));
  EXPECT_EQ(ReadText(Root(L"readme.txt")), "Read me.\n");
  EXPECT_EQ(ReadText(Root(L"bin\\plugins\\plugin.cfg")), "enabled=1\n");
  EXPECT_EQ(testing_support::ReadFileBytes(Root(L"bin\\app.dll")).size(), 10240u);
  EXPECT_EQ(Attributes(Root(L"locked.cfg")),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Attributes(Root(L"readme.txt")), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(ArchiveLayer, A7zArchiveIsExtracted) {
  Open(L"sevenzip.zip");
  for (int i = 0; i < count_; ++i) EXPECT_EQ(Extract(i), kArchiveOk);
  EXPECT_EQ(ReadText(Root(L"readme.txt")), "Read me.\n");
  EXPECT_EQ(ReadText(Root(L"bin\\plugins\\plugin.cfg")), "enabled=1\n");
  const std::vector<char> dll = testing_support::ReadFileBytes(Root(L"bin\\app.dll"));
  ASSERT_EQ(dll.size(), 10240u);
  EXPECT_EQ(static_cast<unsigned char>(dll[255]), 255u);
  EXPECT_NE(Attributes(Root(L"locked.cfg")) & FILE_ATTRIBUTE_READONLY, 0u);
}

}  // namespace
