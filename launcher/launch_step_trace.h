// Stamps of the launch road's steps, for the launch benchmark only. The
// benchmark builds the launch flow a second time with LAUNCHER_STEP_TRACE
// into a launcher of its own; there every mark writes the performance counter
// into a section the benchmark made. In launcher.exe every mark is empty.
#pragma once

namespace launcher {

// In the order the launch road passes them; each stamp ends its step.
enum class LaunchStep {
  kEntered,            // wWinMain runs, the DLL search restricted
  kLock,               // the launch lock is held
  kGuard,              // the single-instance guard has answered
  kRegistration,       // the protocol is registered
  kFolderAndRecords,   // the working folder is set and the two records written
  kPlacement,          // a staged update is placed
  kExtraction,         // a placed update is extracted, a staged launcher taken
  kConfiguration,      // ProductConfig.xml is read
  kShortcut,           // the desktop shortcut is refreshed
  kClientStart,        // the client is started and recorded
  kReturned,           // wWinMain returns
  kCount
};

constexpr wchar_t kLaunchStepTraceName[] = L"Local\\quintarelox_launch_step_trace";

// What the section holds: one performance counter value per step, 0 for a
// step not reached.
struct LaunchStepStamps {
  long long at[static_cast<int>(LaunchStep::kCount)];
};

#if defined(LAUNCHER_STEP_TRACE)
void MarkLaunchStep(LaunchStep step) noexcept;
#else
inline void MarkLaunchStep(LaunchStep) noexcept {}
#endif

}  // namespace launcher
