#include "tests/support/system_rig.h"

#include <regex>

#include "launcher/base/scoped_resource.h"
#include "tests/support/test_support.h"

namespace system_testing {
namespace {
const wchar_t kCommandKey[] = L"quintarelox\\shell\\open\\command";
}  // namespace

OpenCommand ReadOpenCommand() {
  return testing_support::ReadRegistryValue(HKEY_CLASSES_ROOT, kCommandKey, L"");
}

void WriteOpenCommand(const std::wstring& text) {
  launcher::ScopedRegKey key;
  ::RegCreateKeyExW(HKEY_CLASSES_ROOT, kCommandKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    key.Receive(), nullptr);
  ::RegSetValueExW(key.Get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void RemoveProtocolKey() { ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"quintarelox"); }

std::vector<BYTE> OpenCommandFor(const std::wstring& launcherPath) {
  const std::wstring command = L"\"" + launcherPath + L"\" \"%1\"";
  const BYTE* bytes = reinterpret_cast<const BYTE*>(command.c_str());
  return std::vector<BYTE>(bytes, bytes + (command.size() + 1) * sizeof(wchar_t));
}

std::vector<std::string> OutputLines(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    end = end == std::string::npos ? output.size() : end + 1;
    std::string line = output.substr(start, end - start);
    start = end;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.erase(line.size() - 2, 1);
    }
    lines.push_back(line);
  }
  return lines;
}

std::string RecordText(const std::string& record) {
  static const std::regex header(R"(^\[VOV\]\[I\]\[\d+-\d+-\d+ \d+:\d+:\d+\] )");
  std::smatch match;
  if (!std::regex_search(record, match, header)) return "<bad header>";
  return match.suffix();
}

std::size_t WaitForClientCount(std::size_t count, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const std::size_t running = testing_support::TestClients().size();
    if (running == count || ::GetTickCount() - start >= timeoutMs) return running;
    ::Sleep(10);
  }
}

void LaunchingTest::SetUp() {
  testing_support::EndAllClients();
  RemoveProtocolKey();
}

void LaunchingTest::TearDown() {
  testing_support::EndAllClients();
  RemoveProtocolKey();
}

}  // namespace system_testing
