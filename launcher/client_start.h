// How the launcher starts the client: the vorlan.exe of its own folder by
// its full path, so that neither a search nor the shell's class registrations
// (which an elevated process still merges from the user's own keys) decide
// what runs with administrator rights.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/base/scoped_resource.h"

namespace launcher {

// The folder's vorlan.exe; a drive root keeps its one separator.
std::wstring ClientPathIn(const std::wstring& folder);

// The quoted path, one blank, then the parameters exactly as they stand.
std::wstring ClientCommandLine(const std::wstring& clientPath, const std::wstring& parameters);

struct StartedClient {
  std::wstring path;
  ScopedHandle process;  // null when the client did not start
  DWORD error = ERROR_SUCCESS;
};

// Starts the folder's client in that folder, shown as the shell would.
StartedClient StartClient(const std::wstring& folder, const std::wstring& parameters);

}  // namespace launcher
