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
// Already as a refresh would leave it, in place: not saved, nothing sent to
// the shell.
constexpr int kShortcutUpToDate = 2;

// The flags for IShellLinkW::Resolve: no dialog of its own (the restart
// prompt stays the launcher's only window) and a search for a moved target of
// at most kResolveTimeoutMs, in the flags' high word.
constexpr unsigned kResolveTimeoutMs = 1000;
unsigned long ShortcutResolveFlags();

// Every argument may be null; an empty name counts as absent. The old
// shortcut is removed after a save under a new name only when it is another
// file than the one saved and its target has the launcher's file name, so a
// shortcut to another program is left alone.
[[nodiscard]] int UpdateDesktopShortcut(const wchar_t* oldName, const wchar_t* newName, const wchar_t* target,
                          const wchar_t* description, const wchar_t* iconPath,
                          const wchar_t* workingFolder);

// The same in the given desktop folder (no trailing separator).
[[nodiscard]] int UpdateShortcutInFolder(const wchar_t* desktopFolder, const wchar_t* oldName,
                           const wchar_t* newName, const wchar_t* target,
                           const wchar_t* description, const wchar_t* iconPath,
                           const wchar_t* workingFolder);

}  // namespace launcher
