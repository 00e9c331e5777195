// Shortcut files written and read through the real shell link object, and
// names that belong to one test only.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace desktop_testing {

// What a shortcut file holds, as IShellLinkW reports it.
struct LinkProperties {
  std::wstring target;
  std::wstring arguments;
  std::wstring workingFolder;
  std::wstring description;
  std::wstring iconPath;
  int iconIndex = 0;
  int showCommand = SW_SHOWNORMAL;
  WORD hotKey = 0;
};

bool operator==(const LinkProperties& left, const LinkProperties& right);
std::string Describe(const LinkProperties& link);

std::wstring PublicDesktop();  // the desktop shared by all users
std::wstring UserDesktop();    // the current user's own desktop

// Writes a shortcut; the icon is set only when iconPath is not empty.
bool WriteLink(const std::wstring& path, const LinkProperties& link);
// Reads a shortcut back; the target as stored, not shortened.
LinkProperties ReadLink(const std::wstring& path);

// "<test name> <suffix>": shortcut names no other test uses.
std::wstring UniqueName(const std::wstring& suffix);

// Shortcut files on a desktop that are removed, if still there, at the end of
// the test.
class DesktopLinks {
 public:
  explicit DesktopLinks(std::wstring desktop) : desktop_(std::move(desktop)) {}
  ~DesktopLinks();
  DesktopLinks(const DesktopLinks&) = delete;
  DesktopLinks& operator=(const DesktopLinks&) = delete;

  // The path of "<desktop>\<name>.lnk"; the file is removed now and at the end.
  std::wstring PathOf(const std::wstring& name);

 private:
  std::wstring desktop_;
  std::vector<std::wstring> paths_;
};

}  // namespace desktop_testing
