// What keeps the suites from harming the machine they run on: they refuse to
// run outside Wine unless told to, and every program that takes the
// "machine_state" lock puts the protocol's registration back as it found it
// (machine_state_guard.cpp). Both are linked into the suites as objects of
// their own, so that the linker cannot drop them.
#pragma once

#include <string>

namespace testing_support {

// Set to "1", it lets the suites run on a real Windows.
constexpr wchar_t kAllowWindowsVariable[] = L"LAUNCHER_TESTS_ON_WINDOWS";

// True when ntdll.dll is Wine's.
bool IsUnderWine();

// Why the suites must not run here, or the empty string when they may.
// allowValue is the variable's value, or null when it is not set.
std::string RefusalToRun(bool underWine, const wchar_t* allowValue);

}  // namespace testing_support
