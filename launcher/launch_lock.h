// Launchers of one session (a double click, a browser opening several links)
// take their road one after the other: a named mutex of the session is held
// from before the single-instance guard until the client has been started,
// and across the prompt, so that a launcher behind it follows the user's
// answer instead of asking again. Beside it a small shared record tells the
// next launcher which client a sibling started and what the user answered.
//
// Both objects are the elevated launcher's alone: only Administrators and
// SYSTEM may open them, and they are owned by Administrators, which a
// process without elevation cannot make an object's owner. An object found
// under either name that is not owned so, or not of its kind, is someone
// else's: the launcher then goes on without lock and record, as one launcher
// alone would, and logs it; it never waits on that object or believes it.
#pragma once

#include <windows.h>

#include "launcher/base/scoped_resource.h"
#include "launcher/single_instance.h"

namespace launcher {

// The names in the session's own namespace.
constexpr wchar_t kLaunchLockName[] = L"Local\\quintarelox_launch_road";
constexpr wchar_t kLaunchRecordName[] = L"Local\\quintarelox_launch_record";

class LaunchLock {
 public:
  // Waits for the launchers before this one for as long as they run; a holder
  // that died is taken over.
  LaunchLock();
  ~LaunchLock() { Release(); }
  LaunchLock(const LaunchLock&) = delete;
  LaunchLock& operator=(const LaunchLock&) = delete;

  void Acquire();
  // Lets the next launcher go on.
  void Release();

  // Empty when the record is not ours.
  LaunchRecord Read() const;
  void Write(const LaunchRecord& record);
  // Records the client this launcher started; the record lives as long as
  // that client, so that a launcher started after this one has ended still
  // finds it.
  void RecordStartedClient(HANDLE client);

 private:
  ScopedHandle mutex_;
  ScopedHandle section_;
  ScopedMappedView view_;
  bool ours_ = false;
  bool held_ = false;
};

}  // namespace launcher
