// File chores shared by the placement and the extraction of an update
// archive, on wide paths, so that any installation folder can be named.
#pragma once

namespace launcher {

// Takes the read-only attribute off a file; folders and missing files are
// left as they are.
void ClearReadOnly(const wchar_t* path);

// Deletes a file, read-only or not: an update archive left behind would be
// applied again at every start and keep the next one from being placed.
[[nodiscard]] bool RemoveUpdateArchive(const wchar_t* path);

}  // namespace launcher
