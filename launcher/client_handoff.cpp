#include "launcher/client_handoff.h"

#include <algorithm>

#include "launcher/base/client_contract.h"
#include "launcher/base/file_identity.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"
#include "log/process_logger.h"

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
// ever. The server may learn who the launcher is, never act as it.
ScopedFileHandle OpenPipeOnce() {
  return ScopedFileHandle(::CreateFileW(
      kClientPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
      nullptr));
}

bool AnyClientRuns(const std::vector<ClientStamp>& clients) {
  return std::any_of(clients.begin(), clients.end(), IsRunning);
}

// Never returns at once without cause, so the attempts never spin: a busy pipe
// is waited on until an instance is free, anything else pauses.
void WaitBeforeNextOpen(DWORD openError, const HandOffDeadline& deadline) {
  const DWORD remaining = deadline.RemainingMs();
  if (openError == ERROR_PIPE_BUSY && ::WaitNamedPipeW(kClientPipeName, remaining)) return;
  ::Sleep(remaining < kRetryPauseMs ? remaining : kRetryPauseMs);
}

// The "open the pipe" step: attempts until the pipe opens or the deadline
// passes. A missing pipe is worth another attempt while one of the clients
// runs: a client creates its pipe a moment after it starts, and there may be
// a moment without an instance between two links. Once none runs, no one
// will serve it.
ScopedFileHandle OpenClientPipe(const HandOffDeadline& deadline,
                                const std::vector<ClientStamp>& clients, bool& noClientLeft) {
  for (;;) {
    ScopedFileHandle pipe = OpenPipeOnce();
    if (pipe) return pipe;
    const DWORD error = ::GetLastError();
    noClientLeft = error == ERROR_FILE_NOT_FOUND && !AnyClientRuns(clients);
    if (noClientLeft || deadline.HasPassed()) return ScopedFileHandle();
    WaitBeforeNextOpen(error, deadline);
  }
}

// The server's process and image, read for the check and for the log.
PipeServerFacts ReadPipeServer(HANDLE pipe, const std::wstring& installFolder, ULONG& serverId,
                               std::wstring& imagePath) {
  PipeServerFacts server;
  if (!::GetNamedPipeServerProcessId(pipe, &serverId)) return server;
  const ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
  std::vector<wchar_t> image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  if (!process || !::QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) {
    return server;
  }
  imagePath.assign(image.data(), size);
  server.known = true;
  server.sessionId = SessionOf(serverId);
  const std::wstring imageFolder = ParentFolderOf(imagePath);
  server.inInstallFolder = !installFolder.empty() && !imageFolder.empty() &&
                           AreSameFile(imageFolder.c_str(), installFolder.c_str());
  return server;
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

// The whole message, however large; a byte pipe may take it in pieces.
PipeWriteOutcome WriteWholeMessage(HANDLE pipe, const std::vector<char>& message,
                                   const HandOffDeadline& deadline) {
  const ScopedHandle writeDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!writeDone) return PipeWriteOutcome::kRefused;
  return WriteUntilAllSent(message, OverlappedWrite(pipe, writeDone.Get(), deadline));
}

// A pipe that broke under the write was most likely closed by a client on
// its way out: it is given until the deadline to be gone.
bool AllClientsEndWithin(const std::vector<ClientStamp>& clients, const HandOffDeadline& deadline) {
  while (AnyClientRuns(clients)) {
    if (deadline.HasPassed()) return false;
    ::Sleep(kRetryPauseMs);
  }
  return true;
}

}  // namespace

std::vector<char> ClientMessageFor(const std::wstring& payload) {
  // Code pages without best-fit tables (UTF-8) refuse the flag.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int size = ::WideCharToMultiByte(CP_ACP, flags, payload.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    size = ::WideCharToMultiByte(CP_ACP, flags, payload.c_str(), -1, nullptr, 0, nullptr, nullptr);
  }
  if (size <= 0) return std::vector<char>(1, '\0');
  std::vector<char> message(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, payload.c_str(), -1, message.data(), size, nullptr, nullptr);
  message.back() = '\0';
  return message;
}

PipeWriteOutcome WriteUntilAllSent(const std::vector<char>& message, const PipeWriteStep& write) {
  std::size_t sent = 0;
  while (sent < message.size()) {
    const std::size_t rest = message.size() - sent;
    const DWORD request = rest > MAXDWORD ? MAXDWORD : static_cast<DWORD>(rest);
    const PipeWriteResult step = write(message.data() + sent, request);
    if (step.timedOut) return PipeWriteOutcome::kTimedOut;
    if (step.written == 0) return PipeWriteOutcome::kRefused;
    sent += step.written;
  }
  return PipeWriteOutcome::kSent;
}

PipeServerVerdict JudgePipeServer(const PipeServerFacts& server, DWORD ownSession) {
  if (!server.known) return PipeServerVerdict::kUnknown;
  if (server.sessionId != ownSession) return PipeServerVerdict::kOtherSession;
  if (!server.inInstallFolder) return PipeServerVerdict::kOtherFolder;
  return PipeServerVerdict::kTrusted;
}

HandOffResult SendToRunningClient(const std::wstring& payload, const std::wstring& installFolder,
                                  const std::vector<ClientStamp>& clients) {
  const HandOffDeadline deadline(kHandOffLimitMs);
  bool noClientLeft = false;
  const ScopedFileHandle pipe = OpenClientPipe(deadline, clients, noClientLeft);
  if (!pipe) return noClientLeft ? HandOffResult::kNoClientLeft : HandOffResult::kNotDelivered;

  ULONG serverId = 0;
  std::wstring serverImage;
  const PipeServerFacts server = ReadPipeServer(pipe.Get(), installFolder, serverId, serverImage);
  const PipeServerVerdict verdict = JudgePipeServer(server, SessionOf(::GetCurrentProcessId()));
  // A server gone before it could be read, with every client gone too.
  if (verdict == PipeServerVerdict::kUnknown && !AnyClientRuns(clients)) {
    return HandOffResult::kNoClientLeft;
  }
  if (verdict != PipeServerVerdict::kTrusted) {
    LAUNCHER_LOG_INFO << L"link not handed over, the pipe's server is "
                      << (verdict == PipeServerVerdict::kUnknown         ? L"unknown"
                          : verdict == PipeServerVerdict::kOtherSession ? L"of another session"
                                                                         : L"of another folder")
                      << L": process " << serverId << L" " << serverImage;
    return HandOffResult::kNotDelivered;
  }
  // The foreground is the launcher's to give: the client may show the link.
  ::AllowSetForegroundWindow(serverId);
  for (const ClientStamp& client : clients) ::AllowSetForegroundWindow(client.processId);
  // A client that stops reading fails the hand-off. A write the pipe refuses
  // counts as delivered while a client runs: the pipe was there. Once every
  // client has ended, the link takes the launch road instead of being lost.
  switch (WriteWholeMessage(pipe.Get(), ClientMessageFor(payload), deadline)) {
    case PipeWriteOutcome::kSent:
      return HandOffResult::kDelivered;
    case PipeWriteOutcome::kTimedOut:
      return HandOffResult::kNotDelivered;
    case PipeWriteOutcome::kRefused:
      break;
  }
  return AllClientsEndWithin(clients, deadline) ? HandOffResult::kNoClientLeft
                                                : HandOffResult::kDelivered;
}

}  // namespace launcher
