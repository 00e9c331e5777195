#include "tests/support/test_isolation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

namespace testing_support {

bool IsUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string RefusalToRun(bool underWine, const wchar_t* allowValue) {
  if (underWine || (allowValue != nullptr && std::wcscmp(allowValue, L"1") == 0)) return "";
  return "These tests run under Wine. On a real Windows they end reference clients and "
         "rewrite the quintarelox protocol's registration and the desktop shortcut; set "
         "LAUNCHER_TESTS_ON_WINDOWS=1 to run them here anyway.";
}

namespace {

class TestIsolation : public ::testing::Environment {
 public:
  void SetUp() override {
    std::vector<wchar_t> allow(64);
    const DWORD length = ::GetEnvironmentVariableW(kAllowWindowsVariable, allow.data(),
                                                   static_cast<DWORD>(allow.size()));
    const bool allowSet = length > 0 && length < allow.size();
    const std::string refusal = RefusalToRun(IsUnderWine(), allowSet ? allow.data() : nullptr);
    ASSERT_TRUE(refusal.empty()) << refusal;
  }
};

// Registered before gtest_main runs the tests; GoogleTest owns it.
[[maybe_unused]] ::testing::Environment* const kTestIsolation =
    ::testing::AddGlobalTestEnvironment(new TestIsolation);

}  // namespace
}  // namespace testing_support
