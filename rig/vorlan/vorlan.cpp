// Reference client for tests and the demo: a stand-in for the real vorlan.exe
// that records what the launcher did to it.
//
// - Its whole command line goes, as raw UTF-16LE, to "vorlan.<pid>.cmdline"
//   in the record folder (VORLAN_RECORD_DIR, else its own folder).
// - It serves "\\.\Pipe\DIRIRA_vorlan" and appends every message, byte for
//   byte, to "vorlan.<pid>.pipe", each preceded by its length (4 bytes, little
//   endian).
// - It runs until the manual-reset event "vorlan_reference_exit" is set or it
//   is ended.
//
// - Right after recording its command line it sets the event
//   "vorlan_reference_started" when someone (a benchmark) has made it.
//
// Environment switches for tests: VORLAN_PIPE=0 serves no pipe;
// VORLAN_BUSY_MS=n keeps the only pipe instance busy for n milliseconds
// before the first message can be received; VORLAN_READ=0 accepts the first
// connection and never reads from it, behind pipe buffers of 4096 bytes, like
// a client that hangs; VORLAN_HOLD=name keeps that file of its own folder
// open without sharing for as long as it runs, as a client holds its data;
// VORLAN_EXIT=1 ends right after recording its start (for benchmarks).

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t kPipeName[] = L"\\\\.\\Pipe\\DIRIRA_vorlan";
const wchar_t kExitEventName[] = L"vorlan_reference_exit";

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  if (length == 0 || length >= 1024) return std::wstring();
  return std::wstring(value, length);
}

std::wstring RecordFolder() {
  std::wstring folder = EnvironmentValue(L"VORLAN_RECORD_DIR");
  if (folder.empty()) {
    std::vector<wchar_t> path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), 32768);
    folder.assign(path.data(), length);
    const std::wstring::size_type slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? L"." : folder.substr(0, slash);
  }
  return folder;
}

std::wstring RecordPath(const wchar_t* extension) {
  return RecordFolder() + L"\\vorlan." + std::to_wstring(::GetCurrentProcessId()) + extension;
}

void AppendToFile(const std::wstring& path, const void* data, DWORD size) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (size > 0) ::WriteFile(file, data, size, &written, nullptr);
  ::CloseHandle(file);
}

void RecordCommandLine() {
  const wchar_t* commandLine = ::GetCommandLineW();
  const std::wstring path = RecordPath(L".cmdline");
  // Written under a temporary name and renamed, so a reader never sees half.
  const std::wstring partial = path + L".partial";
  AppendToFile(partial, commandLine, static_cast<DWORD>(wcslen(commandLine) * sizeof(wchar_t)));
  ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void RecordMessage(const std::vector<char>& message) {
  std::vector<char> entry(4 + message.size());
  const std::uint32_t size = static_cast<std::uint32_t>(message.size());
  for (int i = 0; i < 4; ++i) entry[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  if (!message.empty()) memcpy(entry.data() + 4, message.data(), message.size());
  AppendToFile(RecordPath(L".pipe"), entry.data(), static_cast<DWORD>(entry.size()));
}

// Waits for an overlapped operation or the exit event; false means exit.
bool WaitForIo(HANDLE pipe, OVERLAPPED& overlapped, HANDLE exitEvent, DWORD& transferred,
               bool& ok) {
  HANDLE handles[2] = {overlapped.hEvent, exitEvent};
  const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (which != WAIT_OBJECT_0) {
    ::CancelIo(pipe);
    return false;
  }
  ok = ::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) != FALSE;
  return true;
}

HANDLE CreatePipeInstance(DWORD maxInstances, DWORD bufferSize) {
  return ::CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, maxInstances,
                            bufferSize, bufferSize, 0, nullptr);
}

// Occupies the pipe's only instance ourselves for a while and then frees it,
// so that a writer meanwhile finds the pipe present but busy.
void StayBusy(HANDLE pipe, HANDLE exitEvent, DWORD milliseconds) {
  HANDLE self = ::CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ::WaitForSingleObject(exitEvent, milliseconds);
  if (self != INVALID_HANDLE_VALUE) ::CloseHandle(self);
  ::DisconnectNamedPipe(pipe);
}

// Reads one message: everything the writer sends until it closes its end.
bool ReadMessage(HANDLE pipe, HANDLE ioEvent, HANDLE exitEvent, std::vector<char>& message) {
  char chunk[4096];
  for (;;) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ::ResetEvent(ioEvent);
    DWORD transferred = 0;
    bool ok = ::ReadFile(pipe, chunk, sizeof(chunk), &transferred, &overlapped) != FALSE;
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
      if (!WaitForIo(pipe, overlapped, exitEvent, transferred, ok)) return false;
    } else if (ok) {
      ::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE);
    }
    if (transferred > 0) message.insert(message.end(), chunk, chunk + transferred);
    if (!ok && ::GetLastError() != ERROR_MORE_DATA) return true;
  }
}

void ServePipe(HANDLE exitEvent, DWORD busyMilliseconds, bool reads) {
  // A busy server has one instance only; it is reused for every message.
  const DWORD maxInstances = busyMilliseconds > 0 ? 1 : PIPE_UNLIMITED_INSTANCES;
  const DWORD bufferSize = reads ? 65536 : 4096;
  HANDLE ioEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE pipe = CreatePipeInstance(maxInstances, bufferSize);
  if (pipe != INVALID_HANDLE_VALUE && busyMilliseconds > 0) StayBusy(pipe, exitEvent, busyMilliseconds);
  while (pipe != INVALID_HANDLE_VALUE && ::WaitForSingleObject(exitEvent, 0) != WAIT_OBJECT_0) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ::ResetEvent(ioEvent);
    bool connected = ::ConnectNamedPipe(pipe, &overlapped) != FALSE;
    const DWORD error = ::GetLastError();
    if (!connected && error == ERROR_IO_PENDING) {
      DWORD transferred = 0;
      if (!WaitForIo(pipe, overlapped, exitEvent, transferred, connected)) break;
    } else if (!connected && (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA)) {
      // A writer got in before we listened; it may even have written its
      // whole message and closed its end, which is still there to be read.
      connected = true;
    }
    // The next instance exists before this one is read, so a writer never
    // finds the pipe missing between two messages.
    HANDLE next = CreatePipeInstance(maxInstances, bufferSize);
    if (connected && !reads) {
      ::WaitForSingleObject(exitEvent, INFINITE);
      if (next != INVALID_HANDLE_VALUE) ::CloseHandle(next);
      break;
    }
    if (connected) {
      std::vector<char> message;
      const bool complete = ReadMessage(pipe, ioEvent, exitEvent, message);
      RecordMessage(message);
      if (!complete) {
        if (next != INVALID_HANDLE_VALUE) ::CloseHandle(next);
        break;
      }
    }
    ::DisconnectNamedPipe(pipe);
    if (next != INVALID_HANDLE_VALUE) {
      ::CloseHandle(pipe);
      pipe = next;
    }
  }
  if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
  ::CloseHandle(ioEvent);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  HANDLE exitEvent = ::CreateEventW(nullptr, TRUE, FALSE, kExitEventName);
  RecordCommandLine();
  HANDLE started = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"vorlan_reference_started");
  if (started != nullptr) {
    ::SetEvent(started);
    ::CloseHandle(started);
  }
  if (EnvironmentValue(L"VORLAN_EXIT") == L"1") {
    ::CloseHandle(exitEvent);
    return 0;
  }
  const std::wstring heldName = EnvironmentValue(L"VORLAN_HOLD");
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!heldName.empty()) {
    std::vector<wchar_t> path(32768, L'\0');
    std::wstring file(path.data(), ::GetModuleFileNameW(nullptr, path.data(), 32768));
    file.replace(file.find_last_of(L"\\/") + 1, std::wstring::npos, heldName);
    held = ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  const std::wstring busy = EnvironmentValue(L"VORLAN_BUSY_MS");
  if (EnvironmentValue(L"VORLAN_PIPE") == L"0") {
    ::WaitForSingleObject(exitEvent, INFINITE);
  } else {
    ServePipe(exitEvent, busy.empty() ? 0 : static_cast<DWORD>(std::wcstoul(busy.c_str(), nullptr, 10)),
              EnvironmentValue(L"VORLAN_READ") != L"0");
  }
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  ::CloseHandle(exitEvent);
  return 0;
}
