// A debug-output viewer inside a test program.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "launcher/scoped_resource.h"

namespace log_testing {

using launcher::ScopedHandle;

// Receives the OutputDebugStringA pieces of every process while it lives, as
// a debug-output viewer does (the DBWIN_BUFFER protocol). One viewer at a time
// per machine.
class DebugOutputViewer {
 public:
  DebugOutputViewer() {
    mutex_.Reset(::CreateMutexW(nullptr, FALSE, L"DBWinMutex"));
    bufferReady_.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    dataReady_.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    mapping_.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                        L"DBWIN_BUFFER"));
    view_ = static_cast<const char*>(::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0));
    ready_ = mutex_ && bufferReady_ && dataReady_ && mapping_ && view_ != nullptr;
    if (ready_) thread_ = std::thread([this] { Collect(); });
  }

  ~DebugOutputViewer() {
    stop_ = true;
    if (thread_.joinable()) {
      ::SetEvent(dataReady_.Get());
      thread_.join();
    }
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
  }

  bool Ready() const { return ready_; }

  // The pieces received so far; each OutputDebugStringA call returns only
  // after its piece has been taken, so nothing is still on its way.
  // The pieces of this process, or of every other process.
  std::vector<std::string> Pieces(bool ownProcess = true) {
    const DWORD self = ::GetCurrentProcessId();
    std::lock_guard<std::mutex> lock(piecesMutex_);
    std::vector<std::string> selected;
    for (const auto& piece : pieces_) {
      if ((piece.first == self) == ownProcess) selected.push_back(piece.second);
    }
    return selected;
  }

 private:
  void Collect() {
    ::SetEvent(bufferReady_.Get());
    while (!stop_) {
      if (::WaitForSingleObject(dataReady_.Get(), 1000) != WAIT_OBJECT_0) continue;
      if (stop_) break;
      DWORD sender = 0;
      std::memcpy(&sender, view_, sizeof(sender));
      {
        std::lock_guard<std::mutex> lock(piecesMutex_);
        pieces_.emplace_back(sender, std::string(view_ + sizeof(DWORD)));
      }
      ::SetEvent(bufferReady_.Get());
    }
  }

  ScopedHandle mutex_, bufferReady_, dataReady_, mapping_;
  const char* view_ = nullptr;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex piecesMutex_;
  std::vector<std::pair<DWORD, std::string>> pieces_;
};

}  // namespace log_testing
