// The built launcher.exe carries its manifest, its application icon and its
// version.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace {

using launcher::ScopedModule;

ScopedModule LoadLauncherImage() {
  const std::wstring path = testing_support::BinFolder() + L"\\launcher.exe";
  return ScopedModule(::LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

TEST(LauncherImage, EmbedsTheManifestThatRequiresAdministratorRights) {
  ScopedModule image = LoadLauncherImage();
  ASSERT_TRUE(image.IsValid());
  HRSRC resource = ::FindResourceW(image.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr);
  const DWORD size = ::SizeofResource(image.Get(), resource);
  const char* data = static_cast<const char*>(::LockResource(::LoadResource(image.Get(), resource)));
  ASSERT_NE(data, nullptr);
  const std::string manifest(data, size);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
}

TEST(LauncherImage, CarriesAnApplicationIcon) {
  ScopedModule image = LoadLauncherImage();
  ASSERT_TRUE(image.IsValid());
  EXPECT_NE(::FindResourceW(image.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr);
}

TEST(LauncherImage, KeepsAnEightDotThreeFileName) {
  // The shortcut update compares the old target's short name with ours.
  const std::wstring path = testing_support::BinFolder() + L"\\launcher.exe";
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH), 0u);
  const std::wstring shortName(shortPath);
  EXPECT_EQ(shortName.substr(shortName.find_last_of(L'\\') + 1), L"launcher.exe");
}

TEST(LauncherImage, CarriesTheProjectVersionForExplorerAndTheElevationPrompt) {
  const std::wstring path = testing_support::BinFolder() + L"\\launcher.exe";
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_NE(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(PROJECT_VERSION_TEXT, "%u.%u.%u", &major, &minor, &patch), 3);
  EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  WORD* translation = nullptr;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 2 * sizeof(WORD));
  wchar_t table[32];
  swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);

  const std::wstring version = L"" PROJECT_VERSION_TEXT;
  struct Expected {
    const wchar_t* name;
    std::wstring value;  // empty: any text but none
  };
  const Expected expected[] = {
      {L"ProductName", L"Quintarelox"},  {L"OriginalFilename", L"launcher.exe"},
      {L"FileVersion", version},         {L"ProductVersion", version},
      {L"FileDescription", L""},         {L"LegalCopyright", L""},
  };
  for (const Expected& entry : expected) {
    wchar_t* value = nullptr;
    const bool found = ::VerQueryValueW(block.data(), (std::wstring(table) + entry.name).c_str(),
                                        reinterpret_cast<void**>(&value), &length) &&
                       value != nullptr && length > 1;
    ASSERT_TRUE(found) << "no " << testing::PrintToString(std::wstring(entry.name));
    if (entry.value.empty()) continue;
    EXPECT_EQ(std::wstring(value), entry.value) << testing::PrintToString(std::wstring(entry.name));
  }
}

}  // namespace
