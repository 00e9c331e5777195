// The real launch flow with Ctrl and Alt held down: the keyboard is the one
// thing a test cannot press under Wine, so this program answers for it.
#include <windows.h>

#include <string>

#include "launcher/launch_flow.h"

namespace {
SHORT WINAPI BothKeysDown(int) { return static_cast<SHORT>(0x8000); }
}  // namespace

int main() {
  const std::wstring tail = launcher::CommandLineTail(::GetCommandLineW());
  return launcher::RunLauncher(tail.c_str(), &BothKeysDown);
}
