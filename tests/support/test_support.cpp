#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <utility>

#include "launcher/base/process_list.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"

namespace testing_support {
namespace {

using launcher::ScopedFileHandle;
using launcher::ScopedHandle;

std::wstring TempRoot() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"launcher-tests";
  ::CreateDirectoryW(root.c_str(), nullptr);
  return root;
}

std::wstring CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return L"rig";
  std::wstring name = Widen(std::string(info->test_suite_name()) + "." + info->name());
  for (wchar_t& c : name) {
    if (!std::iswalnum(c) && c != L'.' && c != L'_' && c != L'-') c = L'_';
  }
  return name.substr(0, 80);
}

std::vector<wchar_t> BuildEnvironment(const std::map<std::wstring, std::wstring>& overrides) {
  std::map<std::wstring, std::wstring> merged;
  wchar_t* block = ::GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
    std::wstring entry(p);
    const std::wstring::size_type eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  ::FreeEnvironmentStringsW(block);
  for (const auto& kv : overrides) merged[kv.first] = kv.second;
  std::vector<wchar_t> result;
  for (const auto& kv : merged) {
    const std::wstring entry = kv.first + L"=" + kv.second;
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

// Under Wine a start has once failed on CI for no reason the test could see;
// a second attempt tells such a fault from a refusal, and the log says which.
bool CreateTestProcess(const std::wstring& commandLine, const std::wstring& workingFolder,
                       DWORD flags, void* environment, bool inheritHandles,
                       STARTUPINFOW& startup, PROCESS_INFORMATION& info) {
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  for (int attempt = 1; attempt <= 2; ++attempt) {
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                         flags, environment,
                         workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                         &info)) {
      return true;
    }
    std::fprintf(stderr, "attempt %d: CreateProcessW failed with error %lu: %s\n", attempt,
                 ::GetLastError(), Narrow(commandLine).c_str());
    if (attempt == 1) ::Sleep(200);
  }
  return false;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring BinFolder() {
  return launcher::ParentFolderOf(launcher::OwnImagePath());
}

namespace {
std::wstring FreshTestFolderPath() {
  static unsigned counter = 0;
  return TempRoot() + L"\\" + CurrentTestName() + L"-" + std::to_wstring(::GetCurrentProcessId()) +
         L"-" + std::to_wstring(++counter);
}
}  // namespace

TestFolder::TestFolder(const std::wstring& leafName) : path_(FreshTestFolderPath()) {
  RemoveTree(path_);
  CreateFolders(path_);
  if (!leafName.empty()) {
    path_ += L"\\" + leafName;
    CreateFolders(path_);
  }
}

TestFolder::~TestFolder() {
  // The leaf name may be nested; remove from the test's own top folder.
  const std::wstring root = TempRoot() + L"\\";
  std::wstring top = path_.substr(0, path_.find(L'\\', root.size()));
  RemoveTree(top);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  launcher::ScopedFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find.Get(), &data));
  }
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<char> ReadFileBytes(const std::wstring& path) {
  ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::vector<char> bytes;
  if (!file) return bytes;
  char chunk[65536];
  DWORD read = 0;
  while (::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    bytes.insert(bytes.end(), chunk, chunk + read);
  }
  return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid()) << Narrow(path);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                          nullptr));
}

void CreateFolders(const std::wstring& path) {
  for (std::wstring::size_type pos = path.find_first_of(L"\\/", 3); pos != std::wstring::npos;
       pos = path.find_first_of(L"\\/", pos + 1)) {
    ::CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
  }
  ::CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring InstallLauncher(const std::wstring& folder, const std::wstring& launcherSource) {
  const std::wstring bin = BinFolder();
  const std::wstring launcherPath = folder + L"\\launcher.exe";
  EXPECT_TRUE(::CopyFileW((bin + L"\\" + launcherSource).c_str(), launcherPath.c_str(), FALSE));
  EXPECT_TRUE(::CopyFileW((bin + L"\\vorlan.exe").c_str(), (folder + L"\\vorlan.exe").c_str(),
                          FALSE));
  return launcherPath;
}

DWORD StartProcess(const std::wstring& commandLine, const std::wstring& workingFolder,
                   const std::map<std::wstring, std::wstring>& environment) {
  std::vector<wchar_t> env = BuildEnvironment(environment);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateTestProcess(commandLine, workingFolder, CREATE_UNICODE_ENVIRONMENT, env.data(), false,
                         startup, info)) {
    return 0;
  }
  const ScopedHandle thread(info.hThread);
  const ScopedHandle process(info.hProcess);
  return info.dwProcessId;
}

KillableRun::KillableRun(const std::wstring& commandLine, const std::wstring& workingFolder)
    : job_(::CreateJobObjectW(nullptr, nullptr)) {
  if (!job_) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Suspended until it is in the job, so that nothing it starts escapes. It
  // inherits what the test made inheritable (a process handle to wait for).
  if (!CreateTestProcess(commandLine, workingFolder, CREATE_SUSPENDED, nullptr, true, startup,
                         info)) {
    return;
  }
  ScopedHandle thread(info.hThread);
  ScopedHandle process(info.hProcess);
  if (!::AssignProcessToJobObject(job_.Get(), process.Get())) {
    ::TerminateProcess(process.Get(), 1);
    return;
  }
  process_ = std::move(process);
  ::ResumeThread(thread.Get());
}

KillableRun::~KillableRun() { KillAll(); }

bool KillableRun::KillAll() {
  if (!process_) return false;
  const bool wasRunning = ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
  ::TerminateJobObject(job_.Get(), 99);
  ::WaitForSingleObject(process_.Get(), 20000);
  for (int round = 0; round < 400; ++round) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!::QueryInformationJobObject(job_.Get(), JobObjectBasicAccountingInformation, &accounting,
                                     sizeof(accounting), nullptr) ||
        accounting.ActiveProcesses == 0) {
      break;
    }
    ::Sleep(50);
  }
  return wasRunning;
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workingFolder,
                         DWORD timeoutMs, const std::map<std::wstring, std::wstring>& environment,
                         bool captureOutput) {
  ProcessResult result;
  std::vector<wchar_t> env = BuildEnvironment(environment);

  SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle readEnd, writeEnd;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (captureOutput) {
    HANDLE r = nullptr, w = nullptr;
    ::CreatePipe(&r, &w, &inheritable, 0);
    readEnd.Reset(r);
    writeEnd.Reset(w);
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
  }
  PROCESS_INFORMATION info = {};
  if (!CreateTestProcess(commandLine, workingFolder, CREATE_UNICODE_ENVIRONMENT, env.data(),
                         captureOutput, startup, info)) {
    return result;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  writeEnd.Reset();
  const DWORD start = ::GetTickCount();
  if (captureOutput) {
    char chunk[4096];
    DWORD read = 0;
    // The pipe ends when the process and every inheritor of its end are gone.
    while (::ReadFile(readEnd.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
      result.output.append(chunk, read);
    }
  }
  const DWORD elapsed = ::GetTickCount() - start;
  const DWORD wait = ::WaitForSingleObject(process.Get(), elapsed < timeoutMs ? timeoutMs - elapsed : 0);
  if (wait != WAIT_OBJECT_0) {
    std::fprintf(stderr, "not ended after %lu ms (wait %lu, error %lu), terminated: %s\n",
                 timeoutMs, wait, ::GetLastError(), Narrow(commandLine).c_str());
    ::TerminateProcess(process.Get(), 99);
    return result;
  }
  result.finished = true;
  ::GetExitCodeProcess(process.Get(), &result.exitCode);
  return result;
}

ProcessResult RunLauncher(const std::wstring& launcherPath, const std::wstring& tail,
                          const std::map<std::wstring, std::wstring>& environment,
                          bool captureOutput) {
  std::wstring commandLine = L"\"" + launcherPath + L"\"";
  if (!tail.empty()) commandLine += L" " + tail;
  return RunProcess(commandLine, L"", 30000, environment, captureOutput);
}

std::vector<ClientRecord> ReadClientRecords(const std::wstring& folder) {
  std::vector<ClientRecord> records;
  WIN32_FIND_DATAW data;
  launcher::ScopedFindHandle find(::FindFirstFileW((folder + L"\\vorlan.*.cmdline").c_str(), &data));
  if (!find) return records;
  do {
    ClientRecord record;
    const std::wstring name = data.cFileName;
    record.processId = static_cast<DWORD>(std::wcstoul(name.c_str() + 7, nullptr, 10));
    const std::vector<char> bytes = ReadFileBytes(folder + L"\\" + name);
    record.commandLine.assign(reinterpret_cast<const wchar_t*>(bytes.data()),
                              bytes.size() / sizeof(wchar_t));
    const std::vector<char> pipe =
        ReadFileBytes(folder + L"\\vorlan." + std::to_wstring(record.processId) + L".pipe");
    for (std::size_t pos = 0; pos + 4 <= pipe.size();) {
      std::uint32_t size = 0;
      for (int i = 0; i < 4; ++i) size |= static_cast<std::uint32_t>(static_cast<unsigned char>(pipe[pos + i])) << (8 * i);
      pos += 4;
      if (pos + size > pipe.size()) break;
      record.messages.emplace_back(pipe.data() + pos, size);
      pos += size;
    }
    records.push_back(record);
  } while (::FindNextFileW(find.Get(), &data));
  return records;
}

std::vector<ClientRecord> WaitForClients(const std::wstring& folder, std::size_t count,
                                         DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  std::vector<ClientRecord> records = ReadClientRecords(folder);
  while (records.size() < count && ::GetTickCount() - start < timeoutMs) {
    ::Sleep(20);
    records = ReadClientRecords(folder);
  }
  return records;
}

std::vector<std::string> WaitForMessages(const std::wstring& folder, std::size_t count,
                                         DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::vector<std::string> messages;
    for (const ClientRecord& record : ReadClientRecords(folder)) {
      messages.insert(messages.end(), record.messages.begin(), record.messages.end());
    }
    if (messages.size() >= count || ::GetTickCount() - start >= timeoutMs) return messages;
    ::Sleep(20);
  }
}

std::wstring ParametersOf(const ClientRecord& record) {
  const std::wstring& line = record.commandLine;
  std::wstring::size_type pos = 0;
  if (!line.empty() && line[0] == L'"') {
    pos = line.find(L'"', 1);
    pos = pos == std::wstring::npos ? line.size() : pos + 1;
  } else {
    pos = line.find(L' ');
    if (pos == std::wstring::npos) pos = line.size();
  }
  if (pos < line.size() && line[pos] == L' ') ++pos;
  return line.substr(pos);
}

std::vector<ListedProcess> RunningProcesses() {
  std::vector<ListedProcess> processes;
  launcher::WalkProcessList([&processes](DWORD processId, std::wstring_view imageName) {
    processes.push_back({processId, std::wstring(imageName)});
  });
  return processes;
}

std::vector<DWORD> ProcessesNamed(const std::wstring& imageName) {
  std::vector<DWORD> ids;
  launcher::WalkProcessList([&ids, &imageName](DWORD processId, std::wstring_view name) {
    if (name == imageName) ids.push_back(processId);
  });
  return ids;
}

bool IsProcessRunning(DWORD processId) {
  ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  return process && ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

bool IsPathBelow(const std::wstring& path, const std::wstring& folder) {
  std::wstring prefix = folder;
  while (!prefix.empty() && launcher::IsPathSeparator(prefix.back())) prefix.pop_back();
  if (prefix.empty() || path.size() <= prefix.size() + 1) return false;
  return launcher::IsPathSeparator(path[prefix.size()]) &&
         ::CompareStringOrdinal(path.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

namespace {

std::vector<std::wstring>& ExtraClientFolders() {
  static std::vector<std::wstring> folders;
  return folders;
}

// The long form, as a process's image path spells it.
std::wstring LongPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length) : path;
}

bool IsInClientFolder(const std::wstring& image) {
  // The tests' temporary folder and the build tree, looked up once.
  static const std::vector<std::wstring> kOwnFolders = [] {
    const std::wstring bin = BinFolder();
    return std::vector<std::wstring>{LongPath(TempRoot()),
                                     LongPath(launcher::ParentFolderOf(bin))};
  }();
  const auto below = [&image](const std::wstring& folder) { return IsPathBelow(image, folder); };
  return std::any_of(kOwnFolders.begin(), kOwnFolders.end(), below) ||
         std::any_of(ExtraClientFolders().begin(), ExtraClientFolders().end(), below);
}

// The process, opened with access, when it is a client the tests started.
ScopedHandle OpenTestClient(DWORD processId, DWORD access) {
  ScopedHandle process(
      ::OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return process;
  std::vector<wchar_t> image(32768);
  DWORD size = static_cast<DWORD>(image.size());
  if (!::QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size) ||
      !IsInClientFolder(std::wstring(image.data(), size))) {
    return ScopedHandle();
  }
  return process;
}

}  // namespace

void AddClientFolder(const std::wstring& folder) { ExtraClientFolders().push_back(folder); }

std::vector<DWORD> TestClients() {
  std::vector<DWORD> ids;
  for (const DWORD id : ProcessesNamed(L"vorlan.exe")) {
    if (OpenTestClient(id, SYNCHRONIZE)) ids.push_back(id);
  }
  return ids;
}

void EndAllClients() {
  // A client that outlives its end (under Wine, one whose parent was killed
  // while creating it may never start nor end) is reported once and kept
  // open, so its id is not reused, and no later call waits for it again.
  static std::vector<ScopedHandle> unending;
  const auto isUnending = [](DWORD id) {
    return std::any_of(unending.begin(), unending.end(),
                       [id](const ScopedHandle& held) { return ::GetProcessId(held.Get()) == id; });
  };
  for (int round = 0; round < 20; ++round) {
    std::vector<DWORD> ids = TestClients();
    ids.erase(std::remove_if(ids.begin(), ids.end(), isUnending), ids.end());
    if (ids.empty()) return;
    for (DWORD id : ids) {
      // Checked again on the handle that ends it: the id may have been reused.
      ScopedHandle process = OpenTestClient(id, PROCESS_TERMINATE | SYNCHRONIZE);
      if (!process) continue;
      ::TerminateProcess(process.Get(), 0);
      if (::WaitForSingleObject(process.Get(), 2000) != WAIT_TIMEOUT) continue;
      std::fprintf(stderr, "client %lu does not end; left alone\n", static_cast<unsigned long>(id));
      unending.push_back(std::move(process));
    }
  }
}

std::wstring RegistryValue::Text() const {
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

RegistryValue ReadRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName) {
  RegistryValue value;
  launcher::ScopedRegKey key;
  if (::RegOpenKeyExW(root, keyPath, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (::RegQueryValueExW(key.Get(), valueName, nullptr, &value.type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return value;
  }
  value.data.resize(size);
  value.present = ::RegQueryValueExW(key.Get(), valueName, nullptr, &value.type,
                                     value.data.data(), &size) == ERROR_SUCCESS;
  value.data.resize(size);
  return value;
}

}  // namespace testing_support
