#include "launcher/base/scoped_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace launcher {
namespace {

// A resource whose release sets an error of its own, as a failing CloseHandle
// or FreeLibrary would.
struct NoisyTraits {
  static int Empty() noexcept { return 0; }
  static bool IsValid(int value) noexcept { return value != 0; }
  static void Free(int) noexcept { ::SetLastError(ERROR_GEN_FAILURE); }
};
using ScopedNoisy = ScopedResource<int, NoisyTraits>;

// A caller that gives up a resource after a failed call must still read that
// call's error.
TEST(ScopedResource, ReleasingKeepsTheLastError) {
  ScopedNoisy reset(1);
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  reset.Reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ScopedNoisy assigned(2);
  ::SetLastError(ERROR_ACCESS_DENIED);
  assigned = ScopedNoisy(3);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  {
    ScopedNoisy destroyed(4);
    ::SetLastError(ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

}  // namespace
}  // namespace launcher
