#include "launcher/launch_command.h"

#include <windows.h>

#include <cwchar>

namespace launcher {
namespace {

// Length of the root ("C:", "C:\", "\", "\\server\", "\\?\C:\") at the start
// of a path: the part that a parent never loses.
std::wstring::size_type RootLength(const std::wstring& path) {
  const std::wstring::size_type n = path.size();
  std::wstring::size_type pos = 0;
  if (n >= 4 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      (path[2] == L'?' || path[2] == L'.') && IsPathSeparator(path[3])) {
    pos = 4;  // a device or long-path prefix, then usually a drive
    if (n >= pos + 2 && path[pos + 1] == L':') pos += 2;
  } else if (n >= 2 && path[1] == L':') {
    pos = 2;
  } else if (n >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) && !IsPathSeparator(path[2])) {
    pos = 2;  // a network name runs to the next separator
    while (pos < n && !IsPathSeparator(path[pos])) ++pos;
  }
  if (pos < n && IsPathSeparator(path[pos])) ++pos;  // the root directory
  return pos;
}

}  // namespace

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

std::wstring LauncherFolderOf(const std::wstring& launcherPath) {
  const std::wstring::size_type root = RootLength(launcherPath);
  std::wstring::size_type end = launcherPath.size();
  while (end > root && !IsPathSeparator(launcherPath[end - 1])) --end;  // the file name
  while (end > root && IsPathSeparator(launcherPath[end - 1])) --end;   // its separators
  if (end < root) end = root;
  // A path that is only a root has no parent.
  if (end == launcherPath.size()) return std::wstring();
  return launcherPath.substr(0, end);
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
