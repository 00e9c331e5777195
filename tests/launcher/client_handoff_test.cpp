// The hand-off through the real pipe of a reference client under Wine: what
// the client receives, byte for byte, and the exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "launcher/base/client_contract.h"
#include "launcher/client_handoff.h"
#include "launcher/launch_command.h"
#include "tests/support/client_rig.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;
using launcher::HandOffResult;

std::vector<launcher::ClientStamp> StampsOf(const std::vector<DWORD>& ids) {
  std::vector<launcher::ClientStamp> stamps;
  for (const DWORD id : ids) {
    const launcher::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    stamps.push_back(launcher::StampOf(process.Get()));
  }
  return stamps;
}

class ClientHandoff : public ::testing::Test {
 protected:
  void SetUp() override { EndAllClients(); }
  void TearDown() override { EndAllClients(); }

  // Starts one client (by default vorlan.exe of the test's folder) and waits
  // for its pipe.
  void StartClient(const std::map<std::wstring, std::wstring>& environment = {},
                   const std::wstring& folder = L"", const std::wstring& imageName = L"vorlan.exe") {
    const std::wstring from = folder.empty() ? folder_.Path() : folder;
    InstallLauncher(from);
    if (imageName != L"vorlan.exe") {
      ::CopyFileW((from + L"\\vorlan.exe").c_str(), (from + L"\\" + imageName).c_str(), FALSE);
    }
    clients_ = StampsOf(StartClients(from, 1, environment, imageName));
    ASSERT_EQ(clients_.size(), 1u);
    if (environment.count(L"VORLAN_PIPE") == 0) {
      ASSERT_TRUE(WaitForClientPipe());
    }
  }

  HandOffResult Send(const std::wstring& payload) {
    return launcher::SendToRunningClient(payload, folder_.Path(), clients_);
  }

  // Sends payload and returns the one message the client received.
  std::string Deliver(const std::wstring& payload) {
    const std::size_t before = WaitForMessages(folder_.Path(), 0, 0).size();
    EXPECT_EQ(Send(payload), HandOffResult::kDelivered);
    const std::vector<std::string> messages = WaitForMessages(folder_.Path(), before + 1);
    EXPECT_EQ(messages.size(), before + 1);
    return messages.size() > before ? messages.back() : std::string("<none>");
  }

  TestFolder folder_;
  std::vector<launcher::ClientStamp> clients_;
};

TEST_F(ClientHandoff, TheQuotedLinkArrivesAsTextAndOneZeroByte) {
  StartClient();
  // The payload of "quintarelox://abc" as the protocol delivers it, quotes and all.
  const launcher::LaunchCommand command =
      launcher::ParseLaunchCommand(L"\"quintarelox://abc\"");
  EXPECT_EQ(Deliver(command.Payload()), std::string("abc\"\0", 5));
  EXPECT_EQ(Deliver(L""), std::string(1, '\0'));
  EXPECT_EQ(Deliver(L"room=1&x=a b"), std::string("room=1&x=a b\0", 13));
}

TEST_F(ClientHandoff, CharactersTheCodePageLacksBecomeItsDefaultCharacter) {
  StartClient();
  CPINFO info = {};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  const char fallback = static_cast<char>(info.DefaultChar[0]);
  // Georgian letters are in no ANSI code page of this system.
  EXPECT_EQ(Deliver(L"a\x10D0\x10D1z"), std::string("a") + fallback + fallback + "z" + '\0');
  // Nor are fullwidth quotes and solidus in code page 1252, whose best fit
  // would turn them into the ASCII characters they look like.
  if (::GetACP() == 1252) {
    EXPECT_EQ(Deliver(L"a\xFF02\xFF0Fz"), std::string("a") + fallback + fallback + "z" + '\0');
  }
}

// The product's users run Chinese Windows, code page 936: Chinese text
// reaches the client as GBK bytes. Runs in the Chinese-locale pass.
TEST_F(ClientHandoff, ChineseTextArrivesAsGbkUnderAChineseSystemLocale) {
  if (::GetACP() != 936) GTEST_SKIP() << "needs the Chinese system locale (code page 936)";
  StartClient();
  EXPECT_EQ(Deliver(L"room=\x623F\x95F4&name=\x6C83\x5170"),
            std::string("room=\xB7\xBF\xBC\xE4&name=\xCE\xD6\xC0\xBC\0", 20));
}

TEST_F(ClientHandoff, APayloadOfAnySizeArrivesWhole) {
  StartClient();
  std::wstring payload;
  for (int i = 0; i < 50000; ++i) payload += static_cast<wchar_t>(L'a' + i % 26);
  const std::string expected = Narrow(payload) + '\0';
  const std::string received = Deliver(payload);
  EXPECT_EQ(received.size(), 50001u);
  EXPECT_TRUE(received == expected) << "the message differs from the payload";
  // Exactly at and just past the old 10240-byte mark.
  EXPECT_EQ(Deliver(std::wstring(10239, L'q')), std::string(10239, 'q') + '\0');
  EXPECT_EQ(Deliver(std::wstring(10240, L'q')), std::string(10240, 'q') + '\0');
}

TEST_F(ClientHandoff, WithoutAPipeNothingIsDelivered) {
  // No client at all: nothing to wait for, and the link may take the launch road.
  ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(Send(L"abc"), HandOffResult::kNoClientLeft);
  EXPECT_LT(::GetTickCount64() - start, 2000u);
  // A client that serves no pipe: waited for as one still starting, within bounds.
  StartClient({{L"VORLAN_PIPE", L"0"}});
  start = ::GetTickCount64();
  EXPECT_EQ(Send(L"abc"), HandOffResult::kNotDelivered);
  EXPECT_LT(::GetTickCount64() - start, 7000u);
  EXPECT_TRUE(WaitForMessages(folder_.Path(), 1, 300).empty());
}

// Present, but with no free instance at this moment.
bool IsClientPipeBusy() {
  return !::WaitNamedPipeW(launcher::kClientPipeName, 1) && ::GetLastError() == ERROR_SEM_TIMEOUT;
}

TEST_F(ClientHandoff, APipeBusyForAMomentStillGetsThePayload) {
  StartClient({{L"VORLAN_BUSY_MS", L"1200"}});
  ASSERT_TRUE(IsClientPipeBusy());
  EXPECT_EQ(Deliver(L"busy=1"), std::string("busy=1\0", 7));
}

// Processor time of the calling thread, in milliseconds.
ULONGLONG ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  };
  return ms(kernel) + ms(user);
}

TEST_F(ClientHandoff, APipeThatStaysBusyGivesExitCodeOne) {
  StartClient({{L"VORLAN_BUSY_MS", L"8000"}});
  ASSERT_TRUE(IsClientPipeBusy());
  const ULONGLONG start = ::GetTickCount64();
  const ULONGLONG cpuBefore = ThreadCpuMs();
  EXPECT_EQ(Send(L"late"), HandOffResult::kNotDelivered);
  // Bounded: the launcher gives up long before the client frees its pipe, and
  // it waits rather than spins meanwhile.
  EXPECT_LT(::GetTickCount64() - start, 7000u);
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 1000u);
  EXPECT_TRUE(WaitForMessages(folder_.Path(), 1, 300).empty());
}

// A client that accepts the connection and never reads: once the message
// outgrows the pipe's buffers the write waits on the client, and the hand-off
// gives up at its time limit. A client that ends meanwhile breaks the pipe,
// and the link is free to take the launch road.
TEST_F(ClientHandoff, AClientThatNeverReadsHoldsTheHandOffForItsTimeLimitOnly) {
  const struct {
    const char* name;
    bool endsDuringTheWrite;
    HandOffResult expected;
    ULONGLONG atLeastMs, belowMs;
  } cases[] = {
      {"stays", false, HandOffResult::kNotDelivered, launcher::kHandOffLimitMs - 500,
       launcher::kHandOffLimitMs + 2000},
      {"ends during the write", true, HandOffResult::kNoClientLeft, 1000,
       launcher::kHandOffLimitMs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EndAllClients();
    StartClient({{L"VORLAN_READ", L"0"}});
    std::future<std::pair<HandOffResult, ULONGLONG>> handOff = std::async(std::launch::async, [this] {
      const ULONGLONG start = ::GetTickCount64();
      const HandOffResult result = Send(std::wstring(100000, L'h'));
      return std::make_pair(result, ::GetTickCount64() - start);
    });
    if (c.endsDuringTheWrite) {
      ASSERT_EQ(handOff.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
      EndAllClients();
    }
    const bool returned = handOff.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
    if (!returned) EndAllClients();  // a broken pipe ends the write
    ASSERT_TRUE(returned) << "the hand-off still waited after 15 s";
    const std::pair<HandOffResult, ULONGLONG> result = handOff.get();
    EXPECT_EQ(result.first, c.expected);
    EXPECT_GE(result.second, c.atLeastMs);
    EXPECT_LT(result.second, c.belowMs);
  }
}

// The pipe's server must be a program of this installation: the client, or
// another program installed beside it (the client's extension may serve the
// pipe from a process of its own), never one from another folder.
TEST_F(ClientHandoff, OnlyAServerFromTheInstallationFolderGetsTheLink) {
  TestFolder elsewhere;
  const struct {
    const char* name;
    bool fromElsewhere;
    const wchar_t* image;
    bool delivered;
  } servers[] = {
      {"the folder's client", false, L"vorlan.exe", true},
      {"a program beside it", false, L"vorlan_extension.exe", true},
      {"another folder's client", true, L"vorlan.exe", false},
  };
  for (const auto& server : servers) {
    SCOPED_TRACE(server.name);
    EndAllClients();
    StartClient({}, server.fromElsewhere ? elsewhere.Path() : folder_.Path(), server.image);
    const std::wstring records = server.fromElsewhere ? elsewhere.Path() : folder_.Path();
    const std::size_t before = WaitForMessages(records, 0, 0).size();
    EXPECT_EQ(Send(L"x"),
              server.delivered ? HandOffResult::kDelivered : HandOffResult::kNotDelivered);
    // A refused server saw a connection and nothing on it.
    const std::vector<std::string> messages =
        WaitForMessages(records, before + 1, server.delivered ? 20000 : 500);
    ASSERT_EQ(messages.size(), before + 1);
    EXPECT_EQ(messages.back(), server.delivered ? std::string("x", 2) : std::string());
    // A program beside the client is no client: ended here by its id.
    (void)EndProcess(clients_[0].processId);
  }
}

// Wine gives every process the caller's session: the sessions are the test's.
TEST(PipeServer, OnlyOneOfTheOwnSessionFromTheInstallationFolderIsTrusted) {
  using V = launcher::PipeServerVerdict;
  const struct {
    launcher::PipeServerFacts server;
    V expected;
  } cases[] = {
      {{true, 1, true}, V::kTrusted},
      {{false, 1, true}, V::kUnknown},
      {{true, 2, true}, V::kOtherSession},
      {{true, 1, false}, V::kOtherFolder},
      // Another session outweighs the folder: an image path read there says nothing.
      {{true, 2, false}, V::kOtherSession},
  };
  for (const auto& c : cases) EXPECT_EQ(launcher::JudgePipeServer(c.server, 1), c.expected);
}

}  // namespace

// The write loop fed by writers that take a few bytes per call, and that stop
// midway, refused or timed out. The real pipe takes a message of this size in
// one piece.
TEST(WriteUntilAllSent, SendsTheRestAfterEveryPartialWrite) {
  using Outcome = launcher::PipeWriteOutcome;
  struct Case {
    const char* name;
    DWORD bytesPerCall;
    int callsBeforeStop;  // -1: never stops
    bool stopByTimeout;
    Outcome expected;
    std::size_t expectedSent;
  };
  const std::string text = "room=1&seat=22&name=" + std::string(40, 'x') + '\0';
  const std::vector<char> message(text.begin(), text.end());
  const Case cases[] = {
      {"one byte per call", 1, -1, false, Outcome::kSent, message.size()},
      {"three bytes per call", 3, -1, false, Outcome::kSent, message.size()},
      {"all at once", 4096, -1, false, Outcome::kSent, message.size()},
      {"refused after four calls", 5, 4, false, Outcome::kRefused, 20},
      {"timed out after four calls", 5, 4, true, Outcome::kTimedOut, 20},
      {"timed out at once", 5, 0, true, Outcome::kTimedOut, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string received;
    int calls = 0;
    std::vector<DWORD> requests;
    const Outcome result = launcher::WriteUntilAllSent(message, [&](const char* data, DWORD size) {
      requests.push_back(size);
      launcher::PipeWriteResult step;
      if (c.callsBeforeStop >= 0 && calls++ == c.callsBeforeStop) {
        step.timedOut = c.stopByTimeout;
        return step;
      }
      step.written = size < c.bytesPerCall ? size : c.bytesPerCall;
      received.append(data, step.written);
      return step;
    });
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(received, text.substr(0, c.expectedSent));
    // Every call asks for exactly what is left.
    std::size_t left = message.size();
    for (const DWORD request : requests) {
      EXPECT_EQ(request, left);
      left -= request < c.bytesPerCall ? request : c.bytesPerCall;
    }
  }
}
