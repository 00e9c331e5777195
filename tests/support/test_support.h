// Shared rig for tests that drive the real launcher and the reference client
// under Wine: private folders, process runs, client records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "launcher/base/scoped_resource.h"

namespace testing_support {

// The folder of the running test program: build/bin, beside launcher.exe and
// vorlan.exe.
std::wstring BinFolder();

// A fresh, empty folder of the test's own, removed with everything in it at the
// end of the test. The name may carry blanks or any other text.
class TestFolder {
 public:
  explicit TestFolder(const std::wstring& leafName = L"");
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::vector<char> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
void CreateFolders(const std::wstring& path);

// Copies launcher.exe and vorlan.exe (and, when asked, another program under
// the launcher's name) into folder. Returns the launcher's path there.
std::wstring InstallLauncher(const std::wstring& folder,
                             const std::wstring& launcherSource = L"launcher.exe");

// A program started in a job object of its own, so that it can be killed
// together with every process it has started, a client that is still being
// created included. A snapshot by name misses such a client: it has no image
// name yet, and would start up after the test had ended "all" clients.
class KillableRun {
 public:
  KillableRun(const std::wstring& commandLine, const std::wstring& workingFolder);
  ~KillableRun();
  KillableRun(const KillableRun&) = delete;
  KillableRun& operator=(const KillableRun&) = delete;

  bool Started() const { return static_cast<bool>(process_); }
  // Ends the program and everything it started, and waits until all of them
  // are gone. Returns whether the program itself was still running.
  bool KillAll();

 private:
  launcher::ScopedHandle job_;
  launcher::ScopedHandle process_;
};

struct ProcessResult {
  bool finished = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error, when captured
};

// Runs a program with the given command line and waits for it. Environment
// entries are added to (or replace) the test's own environment.
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workingFolder = L"",
                         DWORD timeoutMs = 30000,
                         const std::map<std::wstring, std::wstring>& environment = {},
                         bool captureOutput = false);

// Runs the launcher at launcherPath with the given tail appended after its
// quoted path and one blank (no blank when the tail is empty).
ProcessResult RunLauncher(const std::wstring& launcherPath, const std::wstring& tail,
                          const std::map<std::wstring, std::wstring>& environment = {},
                          bool captureOutput = false);

// Starts a program without waiting; returns its process id.
DWORD StartProcess(const std::wstring& commandLine, const std::wstring& workingFolder = L"",
                   const std::map<std::wstring, std::wstring>& environment = {});

// What one reference client recorded.
struct ClientRecord {
  DWORD processId = 0;
  std::wstring commandLine;             // the whole command line, as it was
  std::vector<std::string> messages;    // pipe messages, byte for byte
};

std::vector<ClientRecord> ReadClientRecords(const std::wstring& folder);
// Waits until at least count clients have recorded their start in folder.
std::vector<ClientRecord> WaitForClients(const std::wstring& folder, std::size_t count,
                                         DWORD timeoutMs = 20000);
// Waits until the clients in folder have recorded at least count messages.
std::vector<std::string> WaitForMessages(const std::wstring& folder, std::size_t count,
                                         DWORD timeoutMs = 20000);

// The parameters a client received: its command line after its quoted program
// path and the one blank that the shell puts before the parameters.
std::wstring ParametersOf(const ClientRecord& record);

// Every running process of the system, walked as the launcher walks them.
struct ListedProcess {
  DWORD processId = 0;
  std::wstring imageName;  // a file name without folder
};
std::vector<ListedProcess> RunningProcesses();
// Ids of running processes with exactly this image name.
std::vector<DWORD> ProcessesNamed(const std::wstring& imageName);
bool IsProcessRunning(DWORD processId);

// True when path names something below folder (letter case aside).
bool IsPathBelow(const std::wstring& path, const std::wstring& folder);
// A folder outside the test folders and the build tree from which tests start
// clients too (a drive the set-up maps into the build tree).
void AddClientFolder(const std::wstring& folder);
// Reference clients the tests started: processes named vorlan.exe whose image
// lies below the temp root of TestFolder, the build tree (the folder above
// bin) or a folder given to AddClientFolder. A developer's own client is none
// of them.
std::vector<DWORD> TestClients();
// Ends every reference client the tests started and waits until none is
// left.
void EndAllClients();

// One registry value as stored; present is false when the key or the value is
// missing. Text() is the data as UTF-16 without a final NUL.
struct RegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::wstring Text() const;
};
RegistryValue ReadRegistryValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);

std::string Narrow(const std::wstring& text);  // UTF-8
std::wstring Widen(const std::string& text);   // from UTF-8

}  // namespace testing_support
