#include "launcher/client_handoff.h"

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/single_instance.h"

namespace launcher {
namespace {

// Pause before the next attempt when nothing better can be waited on; short,
// since a starting client may serve its pipe at any moment.
constexpr DWORD kRetryPauseMs = 20;

class HandOffDeadline {
 public:
  explicit HandOffDeadline(ULONGLONG limitMs) : end_(::GetTickCount64() + limitMs) {}
  DWORD RemainingMs() const {
    const ULONGLONG now = ::GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
  }
  bool HasPassed() const { return RemainingMs() == 0; }

 private:
  ULONGLONG end_;
};

// Overlapped, so that a client that stops reading cannot hold the write for
// ever.
ScopedFileHandle OpenPipeOnce() {
  return ScopedFileHandle(::CreateFileW(kClientPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
}

// Whether an open that failed with this error is worth another attempt. A
// missing pipe is worth it once the pipe has been seen (it may be gone for a
// moment between two instances) or while a client process runs: the client
// creates its pipe a moment after it starts, and a sibling launcher may have
// started it just now. With no client at all it fails at once.
bool IsWorthAnotherOpen(DWORD openError, bool pipeSeen) {
  if (openError != ERROR_FILE_NOT_FOUND) return true;
  return pipeSeen || !ProcessIdsNamed(kClientFileName).empty();
}

// Never returns at once without cause, so the attempts never spin: a busy pipe
// is waited on until an instance is free, anything else pauses.
void WaitBeforeNextOpen(DWORD openError, const HandOffDeadline& deadline) {
  const DWORD remaining = deadline.RemainingMs();
  if (openError == ERROR_PIPE_BUSY && ::WaitNamedPipeW(kClientPipeName, remaining)) return;
  ::Sleep(remaining < kRetryPauseMs ? remaining : kRetryPauseMs);
}

// The "open the pipe" step: attempts until the pipe opens, turns out to be
// missing with no client to serve it, or the deadline passes.
ScopedFileHandle OpenClientPipe(const HandOffDeadline& deadline) {
  bool pipeSeen = false;
  for (;;) {
    ScopedFileHandle pipe = OpenPipeOnce();
    if (pipe) return pipe;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) pipeSeen = true;
    if (!IsWorthAnotherOpen(error, pipeSeen) || deadline.HasPassed()) return ScopedFileHandle();
    WaitBeforeNextOpen(error, deadline);
  }
}

// One overlapped write of the pipe, waited on until the deadline; the pending
// write is cancelled when the deadline passes first.
PipeWriteStep OverlappedWrite(HANDLE pipe, HANDLE writeDone, const HandOffDeadline& deadline) {
  return [pipe, writeDone, &deadline](const char* data, DWORD size) {
    PipeWriteResult result;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = writeDone;
    ::ResetEvent(writeDone);
    if (!::WriteFile(pipe, data, size, nullptr, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
      return result;  // refused: a write failure, not a hung client
    }
    const bool inTime = ::WaitForSingleObject(writeDone, deadline.RemainingMs()) == WAIT_OBJECT_0;
    if (!inTime) ::CancelIo(pipe);
    // After a cancellation this waits until it has landed: the buffer must
    // outlive the write.
    DWORD count = 0;
    if (!::GetOverlappedResult(pipe, &overlapped, &count, TRUE)) {
      result.timedOut = !inTime;
      return result;
    }
    result.written = count;
    return result;
  };
}

// The whole message, however large; a byte pipe may take it in pieces. False
// when the deadline passed first.
bool WriteWholeMessage(HANDLE pipe, const std::vector<char>& message,
                       const HandOffDeadline& deadline) {
  const ScopedHandle writeDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!writeDone) return true;
  return WriteUntilAllSent(message, OverlappedWrite(pipe, writeDone.Get(), deadline));
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

bool WriteUntilAllSent(const std::vector<char>& message, const PipeWriteStep& write) {
  std::size_t sent = 0;
  while (sent < message.size()) {
    const std::size_t rest = message.size() - sent;
    const DWORD request = rest > MAXDWORD ? MAXDWORD : static_cast<DWORD>(rest);
    const PipeWriteResult step = write(message.data() + sent, request);
    if (step.timedOut) return false;
    if (step.written == 0) return true;
    sent += step.written;
  }
  return true;
}

int SendToRunningClient(const std::wstring& payload) {
  const HandOffDeadline deadline(kHandOffLimitMs);
  const ScopedFileHandle pipe = OpenClientPipe(deadline);
  if (!pipe) return 1;
  // A client that stops reading fails the hand-off; a write the pipe refuses
  // is not told apart from a delivered one: the pipe was there.
  return WriteWholeMessage(pipe.Get(), ClientMessageFor(payload), deadline) ? 0 : 1;
}

}  // namespace launcher
