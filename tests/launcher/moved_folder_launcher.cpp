// The real launch flow after the launcher's own folder has gone: the restart
// prompt, answered OK, first moves that folder away, as an uninstaller might
// while the prompt is up. (A launcher path too long for 260 units would leave
// the folder unknown as well, but Wine starts no program from such a path.)
#include <windows.h>

#include <string>

#include "launcher/base/text_helpers.h"
#include "launcher/launch_flow.h"

namespace {

int MoveOwnFolderThenOk(const wchar_t*, const wchar_t*) {
  const std::wstring folder = launcher::ParentFolderOf(launcher::OwnImagePath());
  ::MoveFileW(folder.c_str(), (folder + L" moved").c_str());
  return IDOK;
}

}  // namespace

int main() {
  const std::wstring tail = launcher::CommandLineTail(::GetCommandLineW());
  return launcher::RunLauncher(tail.c_str(), &::GetAsyncKeyState, &MoveOwnFolderThenOk);
}
