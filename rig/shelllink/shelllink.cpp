// Writes or shows a shell shortcut, for scripts:
//   shelllink.exe write <file.lnk> <target>
//   shelllink.exe show <file.lnk>
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>
#include <shlguid.h>

#include <cstdio>
#include <cwchar>

#include "launcher/base/scoped_resource.h"

using launcher::ScopedComInitializer;
using launcher::ScopedComPtr;

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: shelllink write <file.lnk> <target> | show <file.lnk>\n");
    return 2;
  }
  const bool write = std::wcscmp(argv[1], L"write") == 0;
  if (write && argc < 4) return 2;
  ScopedComInitializer com;
  ScopedComPtr<IShellLinkW> link;
  ScopedComPtr<IPersistFile> file;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.Receive()))) ||
      FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive())))) {
    return 1;
  }
  if (write) {
    link->SetPath(argv[3]);
    return SUCCEEDED(file->Save(argv[2], TRUE)) ? 0 : 1;
  }
  if (FAILED(file->Load(argv[2], STGM_READ))) return 1;
  wchar_t text[MAX_PATH] = {};
  link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  std::wprintf(L"target: %ls\n", text);
  link->GetWorkingDirectory(text, MAX_PATH);
  std::wprintf(L"working folder: %ls\n", text);
  int index = 0;
  link->GetIconLocation(text, MAX_PATH, &index);
  std::wprintf(L"icon: %ls,%d\n", text, index);
  link->GetDescription(text, MAX_PATH);
  std::wprintf(L"description: %ls\n", text);
  return 0;
}
