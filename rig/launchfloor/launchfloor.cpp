// The floor of the launch benchmark: what any program that starts the client
// the way the launcher does pays under Wine. It loads the system DLLs that
// launcher.exe imports and starts the client with the launcher's own client
// start, nothing else.
//
// Usage: launchfloor.exe PARAMETERS
// Starts vorlan.exe from its own folder with PARAMETERS, as the launcher does.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "launcher/base/text_helpers.h"
#include "launcher/client_start.h"
#include "launcher/launch_command.h"
#include "launcher/launch_step_trace.h"

namespace {

// Referenced, never called: the loader maps the same DLLs at the start as it
// does for launcher.exe (kernel32 and msvcrt come with the runtime).
using AnyFunction = void (*)();
AnyFunction volatile importedLikeTheLauncher[] = {
    reinterpret_cast<AnyFunction>(&::RegCloseKey),       // advapi32
    reinterpret_cast<AnyFunction>(&::CoInitialize),      // ole32
    reinterpret_cast<AnyFunction>(&::GetDesktopWindow),  // user32
    reinterpret_cast<AnyFunction>(&::SHChangeNotify),    // shell32
};

}  // namespace

// Built a second time with the launcher's step marks, as the benchmark's
// traced floor; the marks are empty in launchfloor.exe.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR parameters, int) {
  using launcher::LaunchStep;
  launcher::MarkLaunchStep(LaunchStep::kEntered);
  (void)importedLikeTheLauncher[0];  // a volatile read keeps the references
  const std::wstring folder = launcher::ParentFolderOf(launcher::OwnImagePath());
  const bool started = static_cast<bool>(launcher::StartClient(folder, parameters).process);
  launcher::MarkLaunchStep(LaunchStep::kClientStart);
  launcher::MarkLaunchStep(LaunchStep::kReturned);
  return started ? 0 : 2;
}
