// The product's shortcut on the desktop shared by all users: pointed at the
// launcher, given its folder, icon and description, and moved to the name the
// product configuration gives it. Only a shortcut that is already there is
// touched; none is ever created from nothing.
#pragma once

namespace launcher {

// Results of UpdateDesktopShortcut.
constexpr int kShortcutNoOldName = -1;     // no old name; nothing done
constexpr int kShortcutNoDesktop = -2;     // the desktop folder was not located
// Neither shortcut exists, a shortcut path (folder, '\', name, ".lnk") would
// not fit 259 units, or a name is not a plain file name ('\', '/' or ':' in
// it); nothing done.
constexpr int kShortcutNotFound = -3;
constexpr int kShortcutNotLoaded = 0;      // link object not made or not loaded
constexpr int kShortcutSaveAttempted = 1;  // refreshed and saved, or the save failed

// Every argument may be null; an empty name counts as absent. The old
// shortcut is removed after a save under a new name only when its target has
// the launcher's file name, so a shortcut to another program is left alone.
int UpdateDesktopShortcut(const wchar_t* oldName, const wchar_t* newName, const wchar_t* target,
                          const wchar_t* description, const wchar_t* iconPath,
                          const wchar_t* workingFolder);

// The same in the given desktop folder (no trailing separator).
int UpdateShortcutInFolder(const wchar_t* desktopFolder, const wchar_t* oldName,
                           const wchar_t* newName, const wchar_t* target,
                           const wchar_t* description, const wchar_t* iconPath,
                           const wchar_t* workingFolder);

}  // namespace launcher
