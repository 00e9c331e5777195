// What a shortcut file says of the properties the launcher sets on it, read
// from the file's bytes (the shell link binary format) instead of through the
// shell's link object: the launcher only needs the link object, and COM with
// it, when the shortcut must change. Plain functions, no Win32 state.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// A shortcut larger than this is left to the link object.
constexpr std::size_t kMaxShellLinkFileSize = 64 * 1024;

struct ShellLinkFile {
  // The target as the shell keeps it: its item list, terminator included,
  // checked to lie whole within the file. Empty when the file has none.
  std::vector<unsigned char> targetItems;
  std::wstring description;
  std::wstring workingFolder;
  std::wstring iconLocation;
  // The icon location in environment-variable form, when the shell chose to
  // keep it so; it then stands for iconLocation.
  std::wstring iconLocationUnexpanded;
  int iconIndex = 0;
};

// Empty for anything this reader cannot vouch for: not a shell link, a size
// or offset beyond the bytes, narrow strings, or a target the shell finds
// elsewhere than in the item list (an environment-variable path, an installer
// advertisement). Absent strings read as empty.
std::optional<ShellLinkFile> ReadShellLinkFile(const unsigned char* bytes, std::size_t size);

}  // namespace launcher
