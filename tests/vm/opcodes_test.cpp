// The VM's mode table against the assembler's own transcription, and (in one process running
// the bytecode suites) the proof that the suites execute every opcode.
#include "vm/opcodes.h"

#include <cstdlib>

#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

TEST(Opcodes, TheModeTableMatchesTheAssemblers) {
  ASSERT_EQ(qvasm::kOpcodeCount, kOpCount);
  for (int op = 0; op < kOpCount; ++op) {
    const auto& row = qvasm::kOpcodes[op];
    EXPECT_EQ(row.number, op) << row.name;
    EXPECT_EQ(kOpModes[op], row.mode) << row.name;
  }
  for (int op = kOpCount; op < 64; ++op) EXPECT_EQ(kOpModes[op], 0) << op;
}

// With QV_CHECK_OPCODE_COVERAGE set, fails the run when an opcode never ran.
class OpcodeCoverage : public ::testing::Environment {
 public:
  void TearDown() override {
    if (std::getenv("QV_CHECK_OPCODE_COVERAGE") == nullptr) return;
    for (int op = 0; op < kOpCount; ++op)
      if (gOpcodeCounts[op] == 0)
        ADD_FAILURE() << "opcode " << qvasm::kOpcodes[op].name << " never ran";
  }
};
[[maybe_unused]] ::testing::Environment* const kCoverage = ::testing::AddGlobalTestEnvironment(
    new OpcodeCoverage);

}  // namespace
}  // namespace qv::testing
