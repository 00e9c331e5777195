#include "launcher/launch_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "log/process_logger.h"

namespace launcher {
namespace {

// Owner Administrators; only Administrators and SYSTEM have any access.
constexpr wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

// Created by us with our descriptor, or found owned by Administrators.
bool IsOurs(HANDLE object, bool existed) {
  if (object == nullptr) return false;
  if (!existed) return true;
  PSID owner = nullptr;
  ScopedLocalMemory descriptor;
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD result = ::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                         &owner, nullptr, nullptr, nullptr, &raw);
  descriptor.Reset(raw);
  if (result != ERROR_SUCCESS || owner == nullptr) return false;
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(administrators);
  return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
         ::EqualSid(owner, administrators);
}

}  // namespace

LaunchLock::LaunchLock() {
  ScopedLocalMemory descriptor;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                             &raw, nullptr)) {
    descriptor.Reset(raw);
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};

  mutex_.Reset(::CreateMutexW(&attributes, FALSE, kLaunchLockName));
  const bool mutexOurs = IsOurs(mutex_.Get(), ::GetLastError() == ERROR_ALREADY_EXISTS);
  section_.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                      sizeof(LaunchRecord), kLaunchRecordName));
  const bool sectionOurs = IsOurs(section_.Get(), ::GetLastError() == ERROR_ALREADY_EXISTS);
  if (sectionOurs) {
    view_.Reset(::MapViewOfFile(section_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                sizeof(LaunchRecord)));
  }
  ours_ = descriptor && mutexOurs && view_;
  if (!ours_) {
    LAUNCHER_LOG_INFO << L"launch lock or record is not the launcher's own, going on without them";
    return;
  }
  Acquire();
}

void LaunchLock::Acquire() {
  if (!ours_ || held_) return;
  const DWORD result = ::WaitForSingleObject(mutex_.Get(), INFINITE);
  held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void LaunchLock::Release() {
  if (held_) ::ReleaseMutex(mutex_.Get());
  held_ = false;
}

LaunchRecord LaunchLock::Read() const {
  LaunchRecord record;
  if (held_) std::memcpy(&record, view_.Get(), sizeof(record));
  return record;
}

void LaunchLock::Write(const LaunchRecord& record) {
  if (held_) std::memcpy(view_.Get(), &record, sizeof(record));
}

void LaunchLock::RecordStartedClient(HANDLE client) {
  if (!held_) return;
  LaunchRecord record = Read();
  record.started = StampOf(client);
  Write(record);
  // A handle without any access right, in the client: it only keeps the
  // record in being.
  HANDLE inClient = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), section_.Get(), client, &inClient, 0, FALSE, 0);
}

}  // namespace launcher
