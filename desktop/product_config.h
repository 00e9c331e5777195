// ProductConfig.xml in the installation folder names the client's desktop
// shortcut: the name it bears now and the name it shall bear, each in a
// Chinese and an English form.
#pragma once

#include <string>

namespace launcher {

// Names are stored without ".lnk"; each holds at most 259 UTF-16 units.
struct ShortcutNames {
  std::wstring shortcut_cn;
  std::wstring shortcut_en;
  std::wstring shortcut_new_cn;
  std::wstring shortcut_new_en;
};

// Fills names from the direct children of the document's first element, whose
// names are compared without regard to ASCII case; a later entry wins unless
// its text is empty, and an entry whose text would need more than 259 units is
// skipped. The file is opened by its wide path. False, with names untouched,
// when there is no path or no file, or the document is empty, malformed or
// without an element.
[[nodiscard]] bool ReadProductConfig(ShortcutNames& names, const wchar_t* path);

}  // namespace launcher
