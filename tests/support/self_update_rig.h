// Shared by the suites in which the real launcher replaces its own image: an
// installation with such an update staged, the launcher images it stages,
// and the wait for the swap that puts one in place.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/update_test_support.h"
#include "update/self_replace.h"

namespace system_testing {

// Installs the launcher and the client in folder and stages archive.
inline std::wstring InstallWithStagedUpdate(const std::wstring& folder,
                                            const std::wstring& archive) {
  const std::wstring launcher = testing_support::InstallLauncher(folder);
  testing_support::CreateFolders(folder + L"\\temp");
  update_testing::CopyFixture(archive, folder + L"\\temp\\update.zip",
                              update_testing::Fixtures::kSystem);
  return launcher;
}

inline std::size_t StagedImageCount(const std::wstring& folder) {
  std::size_t count = 0;
  for (const std::wstring& name : update_testing::FolderEntries(folder)) {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    if (launcher::ParseStagedLauncherName(name.c_str(), size, crc)) ++count;
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

// The swap runs after the launcher has ended: true once path holds image.
inline bool WaitForImage(const std::wstring& path, const std::vector<char>& image,
                         DWORD timeoutMs = 15000) {
  for (DWORD waited = 0;; waited += 50) {
    if (testing_support::ReadFileBytes(path) == image) return true;
    if (waited >= timeoutMs) return false;
    ::Sleep(50);
  }
}

}  // namespace system_testing
