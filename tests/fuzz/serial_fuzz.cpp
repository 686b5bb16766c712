// Fuzz target of the readers of stored tables and functions (core/serial.cpp): the input is the
// contents of a file, served as a memory file through the file layer like any script's file. It
// is read as a table record and, from its start again, as a function record; every failure must
// come back as an error code, with no read past the bytes and no allocation beyond them.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "core/serial.h"
#include "core/vfile.h"
#include "vm/vm.h"

namespace {

struct Reading {
  qv::qvSerialFile* file;
  bool table;
  int32_t code;
};

void Read(qv::qvScriptState* L, void* arg) {
  auto* r = static_cast<Reading*>(arg);
  r->code = r->table ? qv::ReadTableRecord(L, r->file) : qv::ReadFunctionRecord(L, r->file);
}

bool Plausible(int32_t code) {
  return code == 0 || (code >= qv::kFirstErrorCode && code <= qv::kLastBuiltinError);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kNone = 0;
  qv::qvScriptState* L = qv::VmOpenState();
  if (L == nullptr) return 0;
  char name[256];
  if (!qv::RegisterMemoryFile("fuzz.bin", size > 0 ? data : &kNone, size, 7, nullptr, name,
                              sizeof name)) {
    __builtin_trap();
  }
  for (bool table : {true, false}) {
    qv::qvFile* file = qv::OpenFileQ(name, qv::kFileRead);
    if (file == nullptr) __builtin_trap();
    int64_t position = 0, length = int64_t(size);
    qv::qvSerialFile f{file, &position, &length};
    Reading r{&f, table, 0};
    int32_t thrown = qv::VmRunProtected(L, Read, &r);
    if (thrown != 0 && thrown != qv::ERR_MEM) __builtin_trap();
    if (!Plausible(r.code) || position > length) __builtin_trap();
    qv::CloseFileQ(file);
    qv::VmSetTop(L, 0);
  }
  qv::UnregisterMemoryFile(name);
  qv::VmCloseState(L);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(SerialFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
