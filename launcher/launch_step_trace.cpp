// Built into the benchmark's traced programs only (see launch_step_trace.h),
// and always with the marks on: their builds say so, and so does this file
// for the static analysis, which compiles it alone.
#ifndef LAUNCHER_STEP_TRACE
#define LAUNCHER_STEP_TRACE 1
#endif
#include "launcher/launch_step_trace.h"

#include <windows.h>

#include "launcher/base/scoped_resource.h"

namespace launcher {
namespace {

// The benchmark's section, opened at the first mark; without it (a traced
// launcher started by hand) the marks go nowhere.
class StepTraceSection {
 public:
  StepTraceSection()
      : section_(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, kLaunchStepTraceName)) {
    if (section_) {
      view_.Reset(::MapViewOfFile(section_.Get(), FILE_MAP_WRITE, 0, 0, sizeof(LaunchStepStamps)));
    }
  }
  LaunchStepStamps* Stamps() const { return static_cast<LaunchStepStamps*>(view_.Get()); }

 private:
  ScopedHandle section_;
  ScopedMappedView view_;
};

}  // namespace

void MarkLaunchStep(LaunchStep step) noexcept {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  static const StepTraceSection section;
  LaunchStepStamps* const stamps = section.Stamps();
  if (stamps != nullptr) stamps->at[static_cast<int>(step)] = now.QuadPart;
}

}  // namespace launcher
