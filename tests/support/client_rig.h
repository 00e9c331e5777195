// Reference clients started and watched by the guard and hand-off tests.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// Starts count reference clients from folder (which must hold vorlan.exe, or
// the program named by imageName) and waits until each has recorded its start.
// Returns their process ids; empty when they did not all start.
std::vector<DWORD> StartClients(const std::wstring& folder, std::size_t count,
                                const std::map<std::wstring, std::wstring>& environment = {},
                                const std::wstring& imageName = L"vorlan.exe");

// True when the process has ended within timeoutMs.
bool WaitUntilEnded(DWORD processId, DWORD timeoutMs = 10000);

// Ends the process the test started itself, by its id, and waits for it.
// False when it could not be opened or did not end within 10 s.
bool EndProcess(DWORD processId);

// Waits until the client pipe exists, whether free or busy. False after
// timeoutMs.
bool WaitForClientPipe(DWORD timeoutMs = 10000);

}  // namespace testing_support
