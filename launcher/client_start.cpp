#include "launcher/client_start.h"

#include <vector>

#include "launcher/base/client_contract.h"
#include "launcher/base/text_helpers.h"

namespace launcher {

std::wstring ClientPathIn(const std::wstring& folder) {
  const bool endsInSeparator = !folder.empty() && IsPathSeparator(folder.back());
  return folder + (endsInSeparator ? L"" : L"\\") + kClientFileName;
}

std::wstring ClientCommandLine(const std::wstring& clientPath, const std::wstring& parameters) {
  return L"\"" + clientPath + L"\" " + parameters;
}

StartedClient StartClient(const std::wstring& folder, const std::wstring& parameters) {
  StartedClient client;
  client.path = ClientPathIn(folder);
  const std::wstring commandLine = ClientCommandLine(client.path, parameters);
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  // None of the launcher's standard handles: the pipe or console that started
  // the launcher is not the client's to hold open.
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(client.path.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
    client.error = ::GetLastError();
    return client;
  }
  const ScopedHandle thread(info.hThread);
  client.process.Reset(info.hProcess);
  return client;
}

}  // namespace launcher
