#include "launcher/client_handoff.h"

#include "launcher/client_contract.h"
#include "launcher/scoped_resource.h"

namespace launcher {
namespace {

// How long a pipe whose instances are all busy is waited for, in all.
constexpr ULONGLONG kBusyPipeWaitMs = 2000;
// Pause before looking again when the pipe vanished while it was waited for.
constexpr DWORD kVanishedPipePollMs = 50;

ScopedFileHandle OpenPipeOnce() {
  return ScopedFileHandle(::CreateFileW(kClientPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A missing pipe fails at once: no client serves it. A busy one is waited for,
// since the client frees an instance as soon as it has read a message.
ScopedFileHandle OpenClientPipe() {
  ScopedFileHandle pipe = OpenPipeOnce();
  if (pipe || ::GetLastError() != ERROR_PIPE_BUSY) return pipe;

  const ULONGLONG deadline = ::GetTickCount64() + kBusyPipeWaitMs;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return ScopedFileHandle();
    const DWORD remaining = static_cast<DWORD>(deadline - now);
    if (!::WaitNamedPipeW(kClientPipeName, remaining)) {
      if (::GetLastError() == ERROR_SEM_TIMEOUT) return ScopedFileHandle();
      ::Sleep(remaining < kVanishedPipePollMs ? remaining : kVanishedPipePollMs);
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
