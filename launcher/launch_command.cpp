#include "launcher/launch_command.h"

#include <windows.h>

#include <cwchar>

namespace launcher {

std::wstring LaunchCommand::Payload() const {
  if (!HasScheme()) return std::wstring();
  return commandText.substr(schemePosition + LiteralLength(kSchemePrefix));
}

std::wstring LaunchCommand::ClientParameters() const {
  return HasScheme() ? Payload() : commandText;
}

LaunchCommand ParseLaunchCommand(const wchar_t* tail) {
  LaunchCommand command;
  command.commandText = tail != nullptr ? tail : L"";
  const std::wstring::size_type forceLength = LiteralLength(kForcePrefix);
  if (command.commandText.compare(0, forceLength, kForcePrefix) == 0) {
    command.commandText.erase(0, forceLength);
    command.force = true;
  }
  command.schemePosition = command.commandText.find(kSchemePrefix);
  return command;
}

std::wstring CommandLineTail(const wchar_t* commandLine) {
  if (commandLine == nullptr) return std::wstring();
  const wchar_t* p = commandLine;
  bool quoted = false;
  while (*p != L'\0' && (quoted || *p > L' ')) {
    if (*p == L'"') quoted = !quoted;
    ++p;
  }
  while (*p != L'\0' && *p <= L' ') ++p;
  return std::wstring(p);
}

bool FormatConfigPath(const std::wstring& launcherFolder, wchar_t (&out)[kPathBufferSize]) {
  return CopyToPathBuffer(launcherFolder + L"//ProductConfig.xml", out);
}

bool FormatIconPath(const std::wstring& launcherFolder, const std::wstring& baseName,
                    wchar_t (&out)[kPathBufferSize]) {
  return CopyToPathBuffer(launcherFolder + L"//" + baseName + L".ico", out);
}

bool AreCtrlAndAltHeld(KeyStateReader keyState) {
  const unsigned short down = 0x8000;
  if ((static_cast<unsigned short>(keyState(VK_CONTROL)) & down) == 0) return false;
  return (static_cast<unsigned short>(keyState(VK_MENU)) & down) != 0;
}

}  // namespace launcher
