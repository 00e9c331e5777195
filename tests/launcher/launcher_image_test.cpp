// Every launcher.exe this build made (the shipped 32-bit one included, where
// the build is the 64-bit stand-in) carries its manifest, its application
// icon and its version; the shipped one is a 32-bit x86 image.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "launcher/launch_step_trace.h"
#include "tests/support/pe_image.h"
#include "tests/support/test_support.h"

namespace {

using launcher::ScopedModule;
using testing_support::BuiltImage;
using testing_support::LauncherImages;

// As a data file, so an image of either architecture loads into this process.
ScopedModule LoadImageResources(const std::wstring& path) {
  return ScopedModule(::LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// The embedded manifest's text; empty when the image has none.
std::string ManifestOf(const std::wstring& path) {
  ScopedModule image = LoadImageResources(path);
  if (!image.IsValid()) return std::string();
  HRSRC resource = ::FindResourceW(image.Get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  if (resource == nullptr) return std::string();
  const char* data = static_cast<const char*>(::LockResource(::LoadResource(image.Get(), resource)));
  return data ? std::string(data, ::SizeofResource(image.Get(), resource)) : std::string();
}

class LauncherImage : public testing::TestWithParam<BuiltImage> {};

TEST_P(LauncherImage, EmbedsTheManifestThatRequiresAdministratorRights) {
  const std::string manifest = ManifestOf(GetParam().path);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
}

TEST_P(LauncherImage, CarriesAnApplicationIcon) {
  ScopedModule image = LoadImageResources(GetParam().path);
  ASSERT_TRUE(image.IsValid());
  EXPECT_NE(::FindResourceW(image.Get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
}

TEST_P(LauncherImage, CarriesTheProjectVersionForExplorerAndTheElevationPrompt) {
  const std::wstring& path = GetParam().path;
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

// The step marks of the launch benchmark live in its own launcher only; the
// section they write to is named in that one, which shows the search works.
TEST_P(LauncherImage, CarriesNoStepTrace) {
  const std::wstring name = launcher::kLaunchStepTraceName;
  const char* const text = reinterpret_cast<const char*>(name.data());
  const auto holdsName = [&](const std::wstring& path) {
    const std::vector<char> bytes = testing_support::ReadFileBytes(path);
    return std::search(bytes.begin(), bytes.end(), text, text + name.size() * sizeof(wchar_t)) !=
           bytes.end();
  };
  EXPECT_FALSE(holdsName(GetParam().path));
  EXPECT_TRUE(holdsName(testing_support::BinFolder() + L"\\tracedlauncher.exe"));
}

INSTANTIATE_TEST_SUITE_P(Built, LauncherImage, testing::ValuesIn(LauncherImages()),
                         [](const testing::TestParamInfo<BuiltImage>& info) {
                           return std::string(info.param.label);
                         });

// What ships runs on every Windows, 32-bit editions included, so it is a
// PE32 image for x86, and its manifest names the same architecture.
TEST(ShippedLauncher, IsA32BitX86Image) {
  const std::vector<BuiltImage> images = LauncherImages();
  const auto shipped = std::find_if(images.begin(), images.end(),
                                    [](const BuiltImage& image) { return image.shipped; });
  if (shipped == images.end()) {
    GTEST_SKIP() << "this 64-bit build made no 32-bit launcher.exe (LAUNCHER_CHECK_SHIPPED_IMAGE is off)";
  }
  const testing_support::PeImage image =
      testing_support::ReadPeImage(testing_support::ReadFileBytes(shipped->path));
  ASSERT_EQ(image.error, "");
  EXPECT_FALSE(image.is64Bit) << "a PE32+ image";
  EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_I386);
  const std::string manifest = ManifestOf(shipped->path);
  EXPECT_NE(manifest.find("processorArchitecture=\"x86\""), std::string::npos) << manifest;
}

TEST(LauncherFile, KeepsAnEightDotThreeFileName) {
  // The shortcut update compares the old target's short name with ours.
  const std::wstring path = testing_support::BinFolder() + L"\\launcher.exe";
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH), 0u);
  EXPECT_EQ(std::wstring(launcher::FileNameOf(shortPath)), L"launcher.exe");
}

}  // namespace
