// The launcher's DLL search hardening, in the test's own process: Wine keeps
// its own DLLs built in whatever the search order says, so a planted copy of a
// system DLL would prove nothing; a DLL of our own beside the program does.
#include <windows.h>

#include <gtest/gtest.h>

#include "launcher/base/scoped_resource.h"
#include "launcher/dll_search.h"

namespace {

// plantedprobe.dll lies beside the test program, in the application folder
// that the default search order visits first.
const wchar_t kPlantedDll[] = L"plantedprobe.dll";

TEST(DllSearch, APlantedDllBesideTheProgramIsNoLongerLoaded) {
  {
    const launcher::ScopedModule planted(::LoadLibraryW(kPlantedDll));
    ASSERT_TRUE(planted) << "the planted DLL must load before the restriction";
  }

  EXPECT_TRUE(launcher::RestrictDllSearchToSystemFolder());

  EXPECT_FALSE(launcher::ScopedModule(::LoadLibraryW(kPlantedDll)));
  EXPECT_TRUE(launcher::ScopedModule(::LoadLibraryW(L"version.dll"))) << "system DLLs still load";
}

TEST(DllSearch, GoesOnWhereWindowsLacksTheCall) {
  // The test program exports no SetDefaultDllDirectories, like an old kernel32.
  EXPECT_FALSE(launcher::RestrictDllSearchToSystemFolder(::GetModuleHandleW(nullptr)));
  EXPECT_FALSE(launcher::RestrictDllSearchToSystemFolder(nullptr));
}

}  // namespace
