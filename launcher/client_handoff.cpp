#include "launcher/client_handoff.h"

#include "launcher/client_contract.h"
#include "launcher/scoped_resource.h"
#include "launcher/single_instance.h"

namespace launcher {
namespace {

// How long a pipe that is busy, or not yet served by a starting client, is
// waited for, in all.
constexpr ULONGLONG kPipeWaitMs = 5000;
// Pause before looking again for a pipe that is missing for the moment.
constexpr DWORD kMissingPipePollMs = 20;

ScopedFileHandle OpenPipeOnce() {
  return ScopedFileHandle(::CreateFileW(kClientPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

DWORD MillisecondsUntil(ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// The pipe does not exist at all, as opposed to free or busy.
bool IsClientPipeMissing() {
  return !::WaitNamedPipeW(kClientPipeName, 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The client creates its pipe a moment after its process starts, and a
// sibling launcher may have started it just now.
bool IsClientStartingWithoutPipe() {
  return IsClientPipeMissing() && !ProcessIdsNamed(kClientFileName).empty();
}

// Waits until the pipe exists, free or busy. False when the deadline passes
// first or no client process is left to serve it.
bool WaitForPipeToAppear(ULONGLONG deadline) {
  while (IsClientStartingWithoutPipe()) {
    const DWORD remaining = MillisecondsUntil(deadline);
    if (remaining == 0) return false;
    ::Sleep(remaining < kMissingPipePollMs ? remaining : kMissingPipePollMs);
  }
  return !IsClientPipeMissing();
}

// A pipe without any client fails at once. A client still starting is given
// time to serve its pipe, and a busy pipe is waited for, since the client
// frees an instance as soon as it has read a message.
ScopedFileHandle OpenClientPipe() {
  const ULONGLONG deadline = ::GetTickCount64() + kPipeWaitMs;
  ScopedFileHandle pipe = OpenPipeOnce();
  if (!pipe && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    if (!WaitForPipeToAppear(deadline)) return ScopedFileHandle();
    pipe = OpenPipeOnce();
  }
  if (pipe || ::GetLastError() != ERROR_PIPE_BUSY) return pipe;

  for (;;) {
    const DWORD remaining = MillisecondsUntil(deadline);
    if (remaining == 0) return ScopedFileHandle();
    if (!::WaitNamedPipeW(kClientPipeName, remaining)) {
      if (::GetLastError() == ERROR_SEM_TIMEOUT) return ScopedFileHandle();
      ::Sleep(remaining < kMissingPipePollMs ? remaining : kMissingPipePollMs);
    }
    pipe = OpenPipeOnce();
    if (pipe) return pipe;
  }
}

// The whole message, however large; a byte pipe may take it in pieces.
void WriteWholeMessage(HANDLE pipe, const std::vector<char>& message) {
  std::size_t sent = 0;
  while (sent < message.size()) {
    const std::size_t chunk = message.size() - sent;
    const DWORD request = chunk > MAXDWORD ? MAXDWORD : static_cast<DWORD>(chunk);
    DWORD written = 0;
    if (!::WriteFile(pipe, message.data() + sent, request, &written, nullptr) || written == 0) {
      return;
    }
    sent += written;
  }
}

}  // namespace

std::vector<char> ClientMessageFor(const std::wstring& payload) {
  const int size =
      ::WideCharToMultiByte(CP_ACP, 0, payload.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::vector<char>(1, '\0');
  std::vector<char> message(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, payload.c_str(), -1, message.data(), size, nullptr, nullptr);
  message.back() = '\0';
  return message;
}

int SendToRunningClient(const std::wstring& payload) {
  const ScopedFileHandle pipe = OpenClientPipe();
  if (!pipe) return 1;
  // A failed write is not told apart from a delivered one: the pipe was there.
  WriteWholeMessage(pipe.Get(), ClientMessageFor(payload));
  return 0;
}

}  // namespace launcher
