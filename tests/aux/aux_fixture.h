// A fresh machine per test, and a way to run test code as a native with given arguments.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "core/errors.h"
#include "vm/vm.h"

namespace qv::testing {

class MachineTest : public ::testing::Test {
 protected:
  using Body = std::function<void(qvScriptState*)>;

  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override { VmCloseState(L); }

  // Calls `body` as a native function (inside a protected call) whose arguments are the values
  // that `pushArgs` pushes; returns the status. The stack is put back as it was.
  int32_t Run(const std::function<void()>& pushArgs, const Body& body) {
    int top = VmGetTop(L);
    VmPushLightUserdata(L, const_cast<Body*>(&body));
    VmPushCClosure(L, Trampoline, 1);
    pushArgs();
    int nargs = VmGetTop(L) - top - 1;
    int32_t status = VmPCall(L, nargs, 0, 0);
    VmSetTop(L, top);
    return status;
  }
  int32_t Run(const Body& body) {
    return Run([] {}, body);
  }

  qvScriptState* L = nullptr;

 private:
  static int32_t Trampoline(qvScriptState* L) {
    auto* body = static_cast<Body*>(VmToUserdata(L, VmUpvalueIndex(1)));
    (*body)(L);
    return 0;
  }
};

}  // namespace qv::testing
