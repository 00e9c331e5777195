// Puts the protocol's registration back as the test program found it. Linked
// only into programs that take the "machine_state" lock: a program without
// the lock runs beside one that has it, and putting the key back at its end
// would undo what the locked test is checking at that moment.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/support/registry_tree.h"

namespace testing_support {
namespace {

// The protocol's key as HKEY_CLASSES_ROOT shows it is merged from these two;
// the launcher writes through the merged view.
const wchar_t kProtocolClassesKey[] = L"Software\\Classes\\quintarelox";

class MachineStateGuard : public ::testing::Environment {
 public:
  void SetUp() override {
    savedKeys_.push_back(std::make_unique<SavedRegistryKey>(HKEY_LOCAL_MACHINE, kProtocolClassesKey));
    savedKeys_.push_back(std::make_unique<SavedRegistryKey>(HKEY_CURRENT_USER, kProtocolClassesKey));
  }

  // Whatever the tests and the launchers they ran wrote goes.
  void TearDown() override { savedKeys_.clear(); }

 private:
  std::vector<std::unique_ptr<SavedRegistryKey>> savedKeys_;
};

// Registered before gtest_main runs the tests; GoogleTest owns it.
[[maybe_unused]] ::testing::Environment* const kMachineStateGuard =
    ::testing::AddGlobalTestEnvironment(new MachineStateGuard);

}  // namespace
}  // namespace testing_support
