// File chores shared by the placement and the extraction of an update
// archive, on narrow paths in the ANSI code page.
#pragma once

namespace launcher {

// Takes the read-only attribute off a file; folders and missing files are
// left as they are.
void ClearReadOnly(const char* path);

// Deletes a file, read-only or not: an update archive left behind would be
// applied again at every start and keep the next one from being placed.
bool RemoveUpdateArchive(const char* path);

}  // namespace launcher
