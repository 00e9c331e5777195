// Where the DLLs that the elevated launcher loads after its start may come from.
#pragma once

#include <windows.h>

namespace launcher {

// Restricts the search for every DLL loaded from now on (by the shell, COM or
// the C runtime) to the system folder, so that a DLL planted in the
// installation folder or the current folder never runs with administrator
// rights. Returns false where kernel32 lacks SetDefaultDllDirectories
// (Windows 7 without KB2533623); the current folder then at least leaves the
// search order, and the start goes on either way.
[[nodiscard]] bool RestrictDllSearchToSystemFolder(HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll"));

}  // namespace launcher
