// VmTest: a machine per test that runs assembled programs (see the qvasm design note).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "tools/qvasm/gtest_support.h"
#include "vm/host.h"
#include "vm/state.h"
#include "vm/vm.h"

namespace qv::testing {

// A reader over bytes in memory, delivering `block` bytes per call (0: all at once).
struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t block;
  size_t pos = 0;
  static const char* Read(qvScriptState*, void* arg, size_t* size) {
    auto* r = static_cast<MemoryReader*>(arg);
    size_t n = r->size - r->pos;
    if (r->block != 0 && n > r->block) n = r->block;
    *size = n;
    const char* p = reinterpret_cast<const char*>(r->data + r->pos);
    r->pos += n;
    return n > 0 ? p : nullptr;
  }
};

inline int VectorWriter(qvScriptState*, const void* bytes, size_t size, void* arg) {
  auto* out = static_cast<std::vector<uint8_t>*>(arg);
  auto* b = static_cast<const uint8_t*>(bytes);
  out->insert(out->end(), b, b + size);
  return 0;
}

// A copy of a script value that outlives the stack.
struct Value {
  int32_t type = kTypeNone;
  double n = 0;
  std::string s;
  const void* p = nullptr;
};

struct RunResult {
  int32_t status = -1;
  std::vector<Value> values;
  size_t size() const { return values.size(); }
  double num(size_t i) const { return i < values.size() ? values[i].n : -12345; }
  std::string str(size_t i) const { return i < values.size() ? values[i].s : "<missing>"; }
  int32_t type(size_t i) const { return i < values.size() ? values[i].type : kTypeNone; }
};

class VmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessWords();
    L = VmOpenState(Host());
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    if (L != nullptr) {
      EXPECT_EQ(VmCloseStateResidue(L), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
    }
  }

  // The machine's own default host; suites of the player core hand it the core's.
  virtual const qvVmHost* Host() const { return nullptr; }

  virtual void ResetProcessWords() {
    SetErrorString("");
    SetErrorNumber(0);
  }

  // Loads a chunk; on success its main function is on the stack.
  int32_t Load(const std::vector<uint8_t>& bytes, size_t blockSize = 0) {
    MemoryReader reader{bytes.data(), bytes.size(), blockSize};
    return VmLoad(L, MemoryReader::Read, &reader, "test");
  }

  std::vector<uint8_t> Assemble(std::string_view text) {
    qvasm::Result r = qvasm::AssembleOrFail(text);
    return r.bytes;
  }

  // Assembles, loads (delivering 1, 7 or all bytes per read, in turn) and runs the main
  // function with the arguments under VmPCall; collects every result.
  template <typename... Args>
  RunResult Run(std::string_view text, Args... args) {
    RunResult result;
    std::vector<uint8_t> bytes = Assemble(text);
    if (bytes.empty()) return result;
    static const size_t kBlocks[] = {0, 1, 7};
    const int base = VmGetTop(L);
    result.status = Load(bytes, kBlocks[runs_++ % 3]);
    if (result.status != 0) return result;
    (PushArg(args), ...);
    result.status = VmPCall(L, int(sizeof...(args)), kMultipleResults, 0);
    if (result.status == 0) {
      for (int i = base + 1; i <= VmGetTop(L); ++i) result.values.push_back(Capture(i));
    }
    VmSetTop(L, base);
    return result;
  }

  void RegisterNative(const char* name, qvCFunction fn) {
    VmPushString(L, name);
    VmPushCClosure(L, fn, 0);
    VmSetTable(L, kGlobalsIndex);
  }

  int32_t ErrorLine() { return VmGetErrorLine(L); }

  Value Capture(int index) {
    Value v;
    v.type = VmType(L, index);
    if (v.type == kTypeNumber) v.n = VmToNumber(L, index);
    if (v.type == kTypeString) v.s.assign(VmToString(L, index), VmStrLen(L, index));
    v.p = VmToPointer(L, index);
    return v;
  }

  qvScriptState* L = nullptr;

 private:
  void PushArg(double n) { VmPushNumber(L, n); }
  void PushArg(int n) { VmPushNumber(L, n); }
  void PushArg(const char* s) { VmPushString(L, s); }
  void PushArg(std::nullptr_t) { VmPushNil(L); }
  int runs_ = 0;
};

}  // namespace qv::testing
