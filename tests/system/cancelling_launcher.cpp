// The real launch flow whose restart prompt is always answered with Cancel:
// what a user does who keeps the running client, without a box to click each
// time. Long runs of hand-offs use it.
#include <windows.h>

#include <string>

#include "launcher/launch_flow.h"

namespace {
int AlwaysCancel(const wchar_t*, const wchar_t*) { return IDCANCEL; }
}  // namespace

int main() {
  const std::wstring tail = launcher::CommandLineTail(::GetCommandLineW());
  return launcher::RunLauncher(tail.c_str(), &::GetAsyncKeyState, &AlwaysCancel);
}
