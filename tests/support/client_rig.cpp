#include "tests/support/client_rig.h"

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace testing_support {

std::vector<DWORD> StartClients(const std::wstring& folder, std::size_t count,
                                const std::map<std::wstring, std::wstring>& environment,
                                const std::wstring& imageName) {
  std::map<std::wstring, std::wstring> env = environment;
  env[L"VORLAN_RECORD_DIR"] = folder;
  std::vector<DWORD> ids;
  const std::size_t before = ReadClientRecords(folder).size();
  for (std::size_t i = 0; i < count; ++i) {
    const DWORD id = StartProcess(L"\"" + folder + L"\\" + imageName + L"\"", folder, env);
    if (id == 0) return {};
    ids.push_back(id);
  }
  if (WaitForClients(folder, before + count).size() < before + count) return {};
  return ids;
}

bool WaitUntilEnded(DWORD processId, DWORD timeoutMs) {
  launcher::ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process) return true;
  return ::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool EndProcess(DWORD processId) {
  launcher::ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (!process) return false;
  ::TerminateProcess(process.Get(), 0);
  return ::WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0;
}

bool WaitForClientPipe(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    // Waiting zero-ish time tells a busy pipe (timeout) from a missing one.
    if (::WaitNamedPipeW(launcher::kClientPipeName, 1) ||
        ::GetLastError() != ERROR_FILE_NOT_FOUND) {
      return true;
    }
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(20);
  }
}

}  // namespace testing_support
