// The launcher's DLL search hardening, in the test's own process: Wine keeps
// its own DLLs built in whatever the search order says, so a planted copy of a
// system DLL would prove nothing; a DLL of our own beside the program does.
#include <windows.h>

#include <gtest/gtest.h>

#include "launcher/dll_search.h"

namespace {

// plantedprobe.dll lies beside the test program, in the application folder
// that the default search order visits first.
const wchar_t kPlantedDll[] = L"plantedprobe.dll";

TEST(DllSearch, APlantedDllBesideTheProgramIsNoLongerLoaded) {
  HMODULE planted = ::LoadLibraryW(kPlantedDll);
  ASSERT_NE(planted, nullptr) << "the planted DLL must load before the restriction";
  ::FreeLibrary(planted);

  EXPECT_TRUE(launcher::RestrictDllSearchToSystemFolder());

  planted = ::LoadLibraryW(kPlantedDll);
  EXPECT_EQ(planted, nullptr);
  if (planted != nullptr) ::FreeLibrary(planted);
  HMODULE system = ::LoadLibraryW(L"version.dll");
  EXPECT_NE(system, nullptr) << "system DLLs still load";
  if (system != nullptr) ::FreeLibrary(system);
}

TEST(DllSearch, GoesOnWhereWindowsLacksTheCall) {
  // The test program exports no SetDefaultDllDirectories, like an old kernel32.
  EXPECT_FALSE(launcher::RestrictDllSearchToSystemFolder(::GetModuleHandleW(nullptr)));
  EXPECT_FALSE(launcher::RestrictDllSearchToSystemFolder(nullptr));
}

}  // namespace
