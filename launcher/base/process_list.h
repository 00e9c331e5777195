// The system's process list, for the launcher and its tests alike.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

namespace launcher {

// Calls visit(process id, image name) for every process of the system, of
// every session, the image name being a file name without folder. False when
// the list could not be taken at all.
bool WalkProcessList(const std::function<void(DWORD, std::wstring_view)>& visit);

}  // namespace launcher
