// How an update reaches the launcher's own image. A running image cannot be
// overwritten or deleted, but it can be renamed: it is moved aside under a name
// of the launcher's own in the same folder, the new image takes its name, and a
// later start deletes what was moved aside once nothing runs from it.
#pragma once

#include <windows.h>

namespace launcher {

// Whether the file at path is the image this process runs from: the same volume
// serial number and file index, whatever name either is reached by.
bool IsRunningImage(const wchar_t* path);

// Renames the file open as file (with DELETE access) to target, replacing a
// file there only when replace is set.
[[nodiscard]] bool RenameOpenFile(HANDLE file, const wchar_t* target, bool replace);

// Moves the image at imagePath aside and renames replacement into its place.
// When the new image cannot take the name, the old one gets it back, so the
// name always leads to a launcher.
[[nodiscard]] bool ReplaceRunningImage(HANDLE replacement, const wchar_t* imagePath);

// Whether name is one that ReplaceRunningImage gives an image it moves aside:
// "~launcher", a hexadecimal process id, ".", a hexadecimal count, ".old".
bool IsMovedAsideImageName(const wchar_t* name);

// Deletes the images that earlier starts moved aside in folder (with or without
// a trailing separator). One that still runs cannot be deleted and waits for a
// later start; no other file is touched.
void RemoveMovedAsideImages(const wchar_t* folder);

// The same for the folder of this process's own image.
void RemoveMovedAsideImages();

}  // namespace launcher
