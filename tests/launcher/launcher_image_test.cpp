// The built launcher.exe carries its manifest and its application icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher/scoped_resource.h"
#include "tests/support/test_support.h"

namespace {

struct ModuleTraits {
  static HMODULE Empty() { return nullptr; }
  static bool IsValid(HMODULE m) { return m != nullptr; }
  static void Free(HMODULE m) { ::FreeLibrary(m); }
};
using ScopedModule = launcher::ScopedResource<HMODULE, ModuleTraits>;

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

}  // namespace
