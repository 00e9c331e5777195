// The floor of the launch benchmark: what any program that starts the client
// the way the launcher does pays under Wine. It loads the system DLLs that
// launcher.exe imports and calls ShellExecuteW for the client, nothing else.
//
// Usage: launchfloor.exe PARAMETERS
// Starts vorlan.exe from the working folder with PARAMETERS, as the launcher
// does from its own folder.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// Referenced, never called: the loader maps the same DLLs at the start as it
// does for launcher.exe (kernel32 and msvcrt come with the runtime).
using AnyFunction = void (*)();
AnyFunction volatile importedLikeTheLauncher[] = {
    reinterpret_cast<AnyFunction>(&::RegCloseKey),       // advapi32
    reinterpret_cast<AnyFunction>(&::CoInitialize),      // ole32
    reinterpret_cast<AnyFunction>(&::GetDesktopWindow),  // user32
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR parameters, int) {
  (void)importedLikeTheLauncher[0];  // a volatile read keeps the references
  ::ShellExecuteW(nullptr, L"open", L"vorlan.exe", parameters, nullptr, SW_SHOW);
  return 0;
}
