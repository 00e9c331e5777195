// Shared by the suites in which the real launcher replaces its own image: an
// installation with such an update staged, and the images it moves aside.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/self_replace.h"

namespace system_testing {

// Installs the launcher and the client in folder and stages archive.
inline std::wstring InstallWithStagedUpdate(const testing_support::TestFolder& folder,
                                            const std::wstring& archive) {
  const std::wstring launcher = testing_support::InstallLauncher(folder.Path());
  testing_support::CreateFolders(folder / L"temp");
  update_testing::CopyFixture(archive, folder / L"temp\\update.zip",
                              update_testing::Fixtures::kSystem);
  return launcher;
}

inline std::size_t MovedAsideImageCount(const std::wstring& folder) {
  std::size_t count = 0;
  for (const std::wstring& name : update_testing::FolderEntries(folder)) {
    if (launcher::IsMovedAsideImageName(name.c_str())) ++count;
  }
  return count;
}

// The launcher as built, and the image the updates carry.
inline std::vector<char> BuiltLauncherImage() {
  return testing_support::ReadFileBytes(testing_support::BinFolder() + L"\\launcher.exe");
}
inline std::vector<char> NewLauncherImage() {
  return testing_support::ReadFileBytes(update_testing::FixturePath(L"launcher_new.exe", update_testing::Fixtures::kSystem));
}

}  // namespace system_testing
