// The system library's timers as objects: registered with the object registry when the library
// opens, and all freed by the library's teardown whatever the script left running.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "vm/vm.h"

namespace qv {
namespace {

void StartTimers(qvScriptState* L, void*) {
  for (int id : {1, 2}) {
    VmPushString(L, "starttimer");
    VmGetTable(L, kGlobalsIndex);
    VmPushNumber(L, id);
    VmCall(L, 1, 0);
  }
  VmPushString(L, "starttimer");
  VmGetTable(L, kGlobalsIndex);
  VmPushNil(L);
  VmCall(L, 1, 1);
}

TEST(SystemTimers, TeardownFreesEveryTimer) {
  qvScriptState* L = VmOpenState(CoreVmHost());
  ASSERT_NE(L, nullptr);
  SetProcessVm(L);
  ASSERT_EQ(OpenLibrary(L, kSystemLibrary), 0);
  ASSERT_EQ(VmRunProtected(L, StartTimers, nullptr), 0);
  EXPECT_EQ(CountObjects(kObjectTimer), 3);
  FreeSystemLibrary();
  EXPECT_EQ(CountObjects(kObjectTimer), 0);
  FreeRegistries();
  VmCloseState(L);
  SetProcessVm(nullptr);
}

}  // namespace
}  // namespace qv
