#include "tests/support/shortcut_rig.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <sstream>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace desktop_testing {
namespace {

using launcher::ScopedComInitializer;
using launcher::ScopedComPtr;

std::wstring FolderOf(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// A link object and its file interface, made with COM initialised.
struct LinkObject {
  ScopedComInitializer com;
  ScopedComPtr<IShellLinkW> link;
  ScopedComPtr<IPersistFile> file;

  LinkObject() {
    ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                       reinterpret_cast<void**>(link.Receive()));
    if (link) {
      link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive()));
    }
  }
  bool Load(const std::wstring& path) {
    return file && SUCCEEDED(file->Load(path.c_str(), STGM_READ));
  }
};

}  // namespace

bool operator==(const LinkProperties& l, const LinkProperties& r) {
  return l.target == r.target && l.arguments == r.arguments && l.workingFolder == r.workingFolder &&
         l.description == r.description && l.iconPath == r.iconPath &&
         l.iconIndex == r.iconIndex && l.showCommand == r.showCommand && l.hotKey == r.hotKey;
}

std::string Describe(const LinkProperties& link) {
  std::ostringstream out;
  out << "target=" << testing_support::Narrow(link.target)
      << " args=" << testing_support::Narrow(link.arguments)
      << " dir=" << testing_support::Narrow(link.workingFolder)
      << " desc=" << testing_support::Narrow(link.description)
      << " icon=" << testing_support::Narrow(link.iconPath) << "," << link.iconIndex
      << " show=" << link.showCommand << " hotkey=" << link.hotKey;
  return out.str();
}

std::wstring PublicDesktop() { return FolderOf(CSIDL_COMMON_DESKTOPDIRECTORY); }
std::wstring UserDesktop() { return FolderOf(CSIDL_DESKTOPDIRECTORY); }

bool WriteLink(const std::wstring& path, const LinkProperties& link) {
  LinkObject object;
  if (!object.file) return false;
  IShellLinkW* shellLink = object.link.Get();
  shellLink->SetPath(link.target.c_str());
  shellLink->SetArguments(link.arguments.c_str());
  shellLink->SetWorkingDirectory(link.workingFolder.c_str());
  shellLink->SetDescription(link.description.c_str());
  if (!link.iconPath.empty()) shellLink->SetIconLocation(link.iconPath.c_str(), link.iconIndex);
  shellLink->SetShowCmd(link.showCommand);
  shellLink->SetHotkey(link.hotKey);
  return SUCCEEDED(object.file->Save(path.c_str(), TRUE));
}

LinkProperties ReadLink(const std::wstring& path) {
  LinkProperties result;
  LinkObject object;
  if (!object.Load(path)) {
    result.target = L"<not loaded>";
    return result;
  }
  IShellLinkW* shellLink = object.link.Get();
  wchar_t text[INFOTIPSIZE] = {};
  if (SUCCEEDED(shellLink->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) result.target = text;
  text[0] = L'\0';
  if (SUCCEEDED(shellLink->GetArguments(text, INFOTIPSIZE))) result.arguments = text;
  text[0] = L'\0';
  if (SUCCEEDED(shellLink->GetWorkingDirectory(text, MAX_PATH))) result.workingFolder = text;
  text[0] = L'\0';
  if (SUCCEEDED(shellLink->GetDescription(text, INFOTIPSIZE))) result.description = text;
  text[0] = L'\0';
  if (SUCCEEDED(shellLink->GetIconLocation(text, MAX_PATH, &result.iconIndex))) {
    result.iconPath = text;
  }
  shellLink->GetShowCmd(&result.showCommand);
  shellLink->GetHotkey(&result.hotKey);
  return result;
}

std::wstring UniqueName(const std::wstring& suffix) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wstring name = testing_support::Widen(info != nullptr ? info->name() : "rig");
  for (wchar_t& c : name) {
    if (!std::iswalnum(c)) c = L'_';
  }
  return L"vorlan test " + name.substr(0, 60) + L" " + suffix;
}

std::wstring DesktopLinks::PathOf(const std::wstring& name) {
  const std::wstring path = desktop_ + L"\\" + name + L".lnk";
  ::DeleteFileW(path.c_str());
  paths_.push_back(path);
  return path;
}

DesktopLinks::~DesktopLinks() {
  for (const std::wstring& path : paths_) ::DeleteFileW(path.c_str());
}

}  // namespace desktop_testing
