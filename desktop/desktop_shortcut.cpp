#include "desktop/desktop_shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "desktop/shell_link_file.h"
#include "launcher/base/client_contract.h"
#include "launcher/base/file_identity.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"

namespace launcher {
namespace {

bool IsGiven(const wchar_t* text) { return text != nullptr && text[0] != L'\0'; }

bool Exists(const wchar_t* path) { return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// A shortcut name from the configuration names a file on the desktop and
// nothing else: with a separator or a colon it would reach into other folders
// (or a stream), and a rename would save or delete a shortcut there.
bool IsPlainFileName(const wchar_t* name) {
  return std::wcspbrk(name, L"\\/:") == nullptr;
}

// "<folder>\<name>.lnk" into a 260-unit buffer; false when it would not fit.
bool FormShortcutPath(const wchar_t* folder, const wchar_t* name,
                      wchar_t (&out)[kPathBufferSize]) {
  return CopyToPathBuffer(std::wstring(folder) + L"\\" + name + L".lnk", out);
}

struct ShortcutPlan {
  const wchar_t* oldName;
  const wchar_t* newName;  // null when the shortcut keeps its name
  wchar_t oldPath[kPathBufferSize];
  wchar_t newPath[kPathBufferSize];
  bool oldExists;
};

struct ShortcutProperties {
  const wchar_t* target;
  const wchar_t* description;
  const wchar_t* iconPath;
  const wchar_t* workingFolder;
};

// An F5 press for the desktop and a flushed association change, so the
// shell drops the removed shortcut from view at once.
void RemoveShortcut(const wchar_t* path) {
  ::DeleteFileW(path);
  ::PostMessageW(::GetDesktopWindow(), WM_KEYDOWN, VK_F5, 0);
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
}

void RefreshIcon(IShellLinkW* link, const wchar_t* iconPath) {
  if (IsGiven(iconPath) && Exists(iconPath)) {
    link->SetIconLocation(iconPath, 0);
    return;
  }
  // Without the icon file the shortcut keeps the icon it has.
  wchar_t present[kPathBufferSize] = {};
  int index = 0;
  if (SUCCEEDED(link->GetIconLocation(present, kPathBufferSize, &index))) {
    link->SetIconLocation(present, index);
  }
}

// The whole file when it is small enough to be a shortcut.
std::optional<std::vector<unsigned char>> ReadSmallFile(const wchar_t* path) {
  const ScopedFileHandle file(::CreateFileW(path, GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      size.QuadPart > static_cast<LONGLONG>(kMaxShellLinkFileSize)) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     &read, nullptr) ||
                         read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

std::wstring ExpandEnvironment(const std::wstring& text) {
  wchar_t expanded[kPathBufferSize] = {};
  const DWORD units = ::ExpandEnvironmentStringsW(text.c_str(), expanded, kPathBufferSize);
  return units > 0 && units <= kPathBufferSize ? expanded : std::wstring();
}

// True when a refresh of the shortcut at path would set nothing it does not
// already hold: the target (by its item list, as the shell reads it), the
// icon, the working folder and the description. Paths compare without ASCII
// letter case, as the file system does. Whatever cannot be read so is left
// to the refresh.
bool IsUpToDate(const wchar_t* path, const ShortcutProperties& wanted) {
  if (!IsGiven(wanted.target)) return false;
  const std::optional<std::vector<unsigned char>> bytes = ReadSmallFile(path);
  const std::optional<ShellLinkFile> link =
      bytes ? ReadShellLinkFile(bytes->data(), bytes->size()) : std::nullopt;
  if (!link || link->targetItems.empty()) return false;

  wchar_t target[kPathBufferSize] = {};
  if (!::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(link->targetItems.data()),
                              target) ||
      !EqualsIgnoringAsciiCase(target, wanted.target)) {
    return false;
  }
  if (IsGiven(wanted.iconPath) && Exists(wanted.iconPath)) {
    const std::wstring icon = link->iconLocationUnexpanded.empty()
                                  ? link->iconLocation
                                  : ExpandEnvironment(link->iconLocationUnexpanded);
    if (link->iconIndex != 0 || !EqualsIgnoringAsciiCase(icon.c_str(), wanted.iconPath)) {
      return false;
    }
  }
  if (IsGiven(wanted.workingFolder) &&
      !EqualsIgnoringAsciiCase(link->workingFolder.c_str(), wanted.workingFolder)) {
    return false;
  }
  return !IsGiven(wanted.description) || link->description == wanted.description;
}

// The one file a refresh would both load and save, or null when it would
// write another file than it reads (a move to the new name).
const wchar_t* RefreshedInPlace(const ShortcutPlan& plan, bool newExists) {
  if (!plan.oldExists) return plan.newPath;  // the new shortcut alone, by the caller's check
  if (plan.newName == nullptr) return plan.oldPath;
  return newExists && CompareFiles(plan.oldPath, plan.newPath) == FileComparison::kSame
             ? plan.oldPath
             : nullptr;
}

// Runs with COM initialised; every interface is released before returning.
int RefreshShortcut(const ShortcutPlan& plan, const ShortcutProperties& properties) {
  ScopedComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.Receive())))) {
    return kShortcutNotLoaded;
  }
  ScopedComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile,
                                        reinterpret_cast<void**>(file.Receive())))) {
    return kShortcutNotLoaded;
  }

  // The old target is read in its short form; its file name decides below
  // whether the old shortcut was the launcher's own.
  wchar_t oldTarget[kPathBufferSize] = {};
  if (plan.oldExists) {
    file->Load(plan.oldPath, STGM_READWRITE);
    if (FAILED(link->GetPath(oldTarget, kPathBufferSize, nullptr, SLGP_SHORTPATH))) {
      return kShortcutNotLoaded;
    }
  } else if (FAILED(file->Load(plan.newPath, STGM_READWRITE))) {
    return kShortcutNotLoaded;
  }
  oldTarget[kPathBufferSize - 1] = L'\0';  // a target filling the buffer stays terminated

  link->Resolve(nullptr, ShortcutResolveFlags());
  if (IsGiven(properties.target)) link->SetPath(properties.target);
  RefreshIcon(link.Get(), properties.iconPath);
  if (IsGiven(properties.workingFolder)) link->SetWorkingDirectory(properties.workingFolder);
  if (IsGiven(properties.description)) link->SetDescription(properties.description);

  const wchar_t* savePath = plan.newName != nullptr ? plan.newPath : plan.oldPath;
  if (FAILED(file->Save(savePath, TRUE))) return kShortcutSaveAttempted;

  // Identity, not names, tells whether the save went to the old file itself;
  // when it cannot be told, the only shortcut is not deleted on a guess.
  const bool renamed = plan.newName != nullptr &&
                       CompareFiles(plan.oldPath, plan.newPath) == FileComparison::kDifferent;
  const bool pointedAtLauncher =
      oldTarget[0] != L'\0' && IsGiven(properties.target) &&
      EqualsIgnoringAsciiCase(FileNameOf(oldTarget), FileNameOf(properties.target));
  if (plan.oldExists && renamed && pointedAtLauncher) RemoveShortcut(plan.oldPath);
  return kShortcutSaveAttempted;
}

}  // namespace

unsigned long ShortcutResolveFlags() {
  return (static_cast<unsigned long>(kResolveTimeoutMs) << 16) | SLR_NO_UI | SLR_UPDATE;
}

int UpdateShortcutInFolder(const wchar_t* desktopFolder, const wchar_t* oldName,
                           const wchar_t* newName, const wchar_t* target,
                           const wchar_t* description, const wchar_t* iconPath,
                           const wchar_t* workingFolder) {
  if (!IsGiven(oldName)) return kShortcutNoOldName;
  if (!IsGiven(desktopFolder)) return kShortcutNoDesktop;

  if (!IsPlainFileName(oldName) || (IsGiven(newName) && !IsPlainFileName(newName))) {
    return kShortcutNotFound;
  }

  ShortcutPlan plan = {};
  plan.oldName = oldName;
  plan.newName = IsGiven(newName) ? newName : nullptr;
  // A path that does not fit could only be cut short and name another file.
  if (!FormShortcutPath(desktopFolder, oldName, plan.oldPath)) return kShortcutNotFound;
  if (plan.newName != nullptr && !FormShortcutPath(desktopFolder, plan.newName, plan.newPath)) {
    return kShortcutNotFound;
  }
  plan.oldExists = Exists(plan.oldPath);
  const bool newExists = plan.newName != nullptr && Exists(plan.newPath);
  if (!plan.oldExists && !newExists) return kShortcutNotFound;

  const ShortcutProperties properties = {target, description, iconPath, workingFolder};
  // A shortcut already as the refresh would leave it is not saved again, so
  // the shell hears of no change; COM is not even started for it.
  const wchar_t* inPlace = RefreshedInPlace(plan, newExists);
  if (inPlace != nullptr && IsUpToDate(inPlace, properties)) return kShortcutUpToDate;
  ScopedComInitializer com;
  return RefreshShortcut(plan, properties);
}

int UpdateDesktopShortcut(const wchar_t* oldName, const wchar_t* newName, const wchar_t* target,
                          const wchar_t* description, const wchar_t* iconPath,
                          const wchar_t* workingFolder) {
  if (!IsGiven(oldName)) return kShortcutNoOldName;

  // The path straight away: an item list of the folder would cost the shell
  // a walk through its namespace. An empty folder would put the shortcut
  // paths at the root of the current drive.
  wchar_t desktopFolder[kPathBufferSize] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT,
                         desktopFolder) != S_OK ||
      desktopFolder[0] == L'\0') {
    return kShortcutNoDesktop;
  }
  return UpdateShortcutInFolder(desktopFolder, oldName, newName, target, description, iconPath,
                                workingFolder);
}

}  // namespace launcher
