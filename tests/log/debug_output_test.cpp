// The debugger output as a debug-output viewer sees it: this test program acts
// as the viewer and collects its own pieces.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/base/scoped_resource.h"
#include "log/process_logger.h"
#include "tests/support/log_test_support.h"

namespace {

using launcher::ScopedHandle;
using namespace log_testing;

// Receives the OutputDebugStringA pieces of every process while it lives, as
// a debug-output viewer does (the DBWIN_BUFFER protocol), and keeps this
// process's own.
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

  // The pieces sent so far. A sender returns before its piece is read, but it
  // sends the next one only after the viewer has taken the last; so a marker
  // sent now guarantees that every earlier piece has arrived.
  std::vector<std::string> Pieces() {
    ::OutputDebugStringA(kMarker);
    std::lock_guard<std::mutex> lock(piecesMutex_);
    std::vector<std::string> pieces;
    for (const std::string& piece : pieces_) {
      if (piece != kMarker) pieces.push_back(piece);
    }
    return pieces;
  }

 private:
  static constexpr const char* kMarker = "\x01viewer marker";

  void Collect() {
    const DWORD self = ::GetCurrentProcessId();
    ::SetEvent(bufferReady_.Get());
    while (!stop_) {
      if (::WaitForSingleObject(dataReady_.Get(), 1000) != WAIT_OBJECT_0) continue;
      if (stop_) break;
      DWORD sender = 0;
      std::memcpy(&sender, view_, sizeof(sender));
      if (sender == self) {
        std::lock_guard<std::mutex> lock(piecesMutex_);
        pieces_.emplace_back(view_ + sizeof(DWORD));
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
  std::vector<std::string> pieces_;
};


std::vector<std::string> PiecesOf(const std::string& text) {
  DebugOutputViewer viewer;
  EXPECT_TRUE(viewer.Ready());
  cpplog::OutputDebugStringLogger logger;
  cpplog::LogData* record = new cpplog::LogData(cpplog::kInfo);
  record->out << text;
  EXPECT_TRUE(logger.deliver(record));
  delete record;
  return viewer.Pieces();
}

TEST(DebuggerOutput, ComesInPiecesOfAtMost256Characters) {
  const std::string a256(256, 'a');
  EXPECT_EQ(PiecesOf(a256), std::vector<std::string>{a256});
  EXPECT_EQ(PiecesOf(a256 + "b"), (std::vector<std::string>{a256, "b"}));
  EXPECT_EQ(PiecesOf(std::string(300, 'c')),
            (std::vector<std::string>{std::string(256, 'c'), std::string(44, 'c')}));
  EXPECT_EQ(PiecesOf(a256 + a256), (std::vector<std::string>{a256, a256}));
  EXPECT_EQ(PiecesOf("short\n"), std::vector<std::string>{"short\n"});
}

TEST(DebuggerOutput, TheProcessLoggerWritesThereFirstAndThenToStandardError) {
  FixedClock clock(UtcStamp(2026, 12, 7, 19, 59, 5));
  DebugOutputViewer viewer;
  ASSERT_TRUE(viewer.Ready());
  std::vector<std::string> piecesBeforeStdErr;
  {
    CapturedStdErr stderrText;
    // std::cerr reaches our capture only after the debugger output had its turn.
    struct Probe : std::streambuf {
      DebugOutputViewer* viewer;
      std::vector<std::string>* seen;
      std::streambuf* inner;
      int_type overflow(int_type c) override {
        if (seen->empty()) *seen = viewer->Pieces();
        return inner->sputc(static_cast<char>(c));
      }
      std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (seen->empty()) *seen = viewer->Pieces();
        return inner->sputn(s, n);
      }
    } probe;
    probe.viewer = &viewer;
    probe.seen = &piecesBeforeStdErr;
    probe.inner = std::cerr.rdbuf(&probe);
    LAUNCHER_LOG_INFO << L"par: " << std::wstring(300, L'x');
    std::cerr.rdbuf(probe.inner);
    EXPECT_EQ(stderrText.Text(), "[VOV][I][2026-12-7 19:59:5] par: " + std::string(300, 'x') + "\n");
  }
  const std::string record = "[VOV][I][2026-12-7 19:59:5] par: " + std::string(300, 'x') + "\n";
  const std::vector<std::string> expected = {record.substr(0, 256), record.substr(256)};
  EXPECT_EQ(piecesBeforeStdErr, expected);
  EXPECT_EQ(viewer.Pieces(), expected);
}

}  // namespace
