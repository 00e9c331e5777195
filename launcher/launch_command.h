// The launcher's command line and the paths formed from its own location:
// plain rules with no Win32 state, called by the entry point and by tests.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/base/client_contract.h"
#include "launcher/base/text_helpers.h"

namespace launcher {

struct LaunchCommand {
  std::wstring commandText;  // the tail without a leading force prefix
  bool force = false;        // the tail began with "forcerun:"
  std::wstring::size_type schemePosition = std::wstring::npos;  // first "quintarelox://"

  bool HasScheme() const { return schemePosition != std::wstring::npos; }
  // The text after the first scheme prefix, to its end.
  std::wstring Payload() const;
  // What the client receives: the payload when there is a scheme, else the
  // whole command text.
  std::wstring ClientParameters() const;
};

LaunchCommand ParseLaunchCommand(const wchar_t* tail);

// The command-line tail as the platform hands it to wWinMain: the first token
// (quotes toggle, it ends at the first unit at or below U+0020 outside them)
// and the blanks after it are dropped.
std::wstring CommandLineTail(const wchar_t* commandLine);

// "%s//ProductConfig.xml" and "%s//%s.ico" into 260-unit buffers. False, with
// the buffer all zero, when the formatted path would not fit.
[[nodiscard]] bool FormatConfigPath(const std::wstring& launcherFolder, wchar_t (&out)[kPathBufferSize]);
[[nodiscard]] bool FormatIconPath(const std::wstring& launcherFolder, const std::wstring& baseName,
                    wchar_t (&out)[kPathBufferSize]);

// Ctrl and Alt held together, as GetAsyncKeyState reports them; Alt is asked
// only while Ctrl is down.
using KeyStateReader = SHORT(WINAPI*)(int virtualKey);
bool AreCtrlAndAltHeld(KeyStateReader keyState);

}  // namespace launcher
