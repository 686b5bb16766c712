// A fresh machine per test, and a way to run test code inside a protected call.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "vm/state.h"
#include "vm/vm.h"

namespace qv::testing {

class StateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState();
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    if (L != nullptr) {
      EXPECT_EQ(VmCloseStateResidue(L), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
    }
  }

  // Runs body inside a native called through VmPCall; returns the status. The stack is put
  // back to its height before the call.
  int32_t Protected(const std::function<void(qvScriptState*)>& body) {
    int top = VmGetTop(L);
    VmPushLightUserdata(L, const_cast<std::function<void(qvScriptState*)>*>(&body));
    VmPushCClosure(L, Trampoline, 1);
    int32_t status = VmPCall(L, 0, 0, 0);
    VmSetTop(L, top);
    return status;
  }

  // The value at a stack index, for checks on identity.
  const qvScriptValue& At(int index) { return *VmIndexToAddress(L, index); }

  qvScriptState* L = nullptr;

 private:
  static int32_t Trampoline(qvScriptState* L) {
    auto* body = static_cast<std::function<void(qvScriptState*)>*>(
        VmToUserdata(L, VmUpvalueIndex(1)));
    (*body)(L);
    return 0;
  }
};

}  // namespace qv::testing
