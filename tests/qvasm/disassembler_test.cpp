#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/qvasm/gtest_support.h"

using qvasm::Assemble;
using qvasm::AssembleOrFail;
using qvasm::Disassemble;
using qvasm::kExampleProgram;

namespace {

const char* const kPrograms[] = {
    kExampleProgram,
    // Every opcode, constants of every kind, a closure over a register and an upvalue.
    R"(.function main params=2 vararg linedefined=3
  .source "@all.qvs"
  .param "x" "y"
  .upvalue "up"
  .const k = "key"
  .const 5
  .const 5
  MOVE R2, R0
  LOADCONST R2, K2
  LOADBOOL R3, 1, 1
  LOADNIL R3, R5
  GETUPVAL R3, U0
  GETGLOBAL R3, "print"
  GETTABLE R3, R0, K:k
  SETGLOBAL R3, "print"
  SETUPVAL R3, U0
  SETTABLE R0, "key", -0
  NEWTABLE R4, arr=100, hashlog=4
  ADD R3, R0, 1.5
  SUB R3, 1e300, R0
  MUL R3, R0, R1
  DIV R3, R0, inf
  INTDIV R3, R0, -inf
  MOD R3, R0, nan
  SHL R3, R0, 0x1F
  SHR R3, R0, nil
  BITOR R3, R0, R1
  BITAND R3, R0, R1
  BITXOR R3, R0, R1
  POW R3, R0, 0.1
  NEG R3, R0
  NOT R3, R0
  BITNOT R3, R0
  CONCAT R3, R0, R2
  EQ 1, R0, "a\"b\\c\n\r\t\0\xFF"
  JUMP @skip
  LT 0, R0, R1
  JUMP @skip
  LE 1, 2, R1
  JUMP +1000
skip:
  TEST R3, R0, 1
  JUMP -1000
  CALL R3, nargs=top, nres=all
  TAILCALL R3, nargs=2, nres=1
  FORINPREP R4, @iter
iter:
  FORINLOOP R4, vars=2
  JUMP @iter
  SETLIST R4, first=32, count=7
  SETLISTTOP R4, first=0
  SETLISTTOP R4, 34
  CLOSE R2
  CLOSURE R5, f [R2, U0]
  SELF R5, R0, "m"
  RETURN R3, 2, 1
  RETURN R3, n=top
  .function f
    .upvalue "a" "b"
    GOSUB @end
    RETSUB
end:
    RETURN R0, 1
  .end
.end
)",
    // Field overrides, raw words and the edge cases of the text form.
    R"(.function main maxstack=255
  .upvalues 2
  .upvalue none
  .local none 0 9
  .local "neg" -1 -5
  .lines raw 1 2
  MOVE R0, R1, C=3
  CLOSE R0, B=1, C=2
  FORINLOOP R0, vars=1, B=9
  GETUPVAL R0, U1, C=1
  RETURN R0, 0, 1
  .word 0x0000002B 0x4000001B 0xFFFFFFFF
  JUMP +0, off=100
  CLOSURE R0, 7
  CLOSURE R1, 0
  MOVE R0, R3
  MOVE R0, R4, A=1
  RETURN R0, 1
  .function g
    .upvalues 2
    .lines raw
    RETURN R0, 1
  .end
  .function h
    .source "@h.qvs"
    .function i
      .line 9
      CLOSURE R0, 0
      .line 10
      MOVE R0, R0
      RETURN R0, 1
      .function j
        .upvalue "p"
        RETURN R0, 1
      .end
    .end
    RETURN R0, 1
  .end
.end
)",
    // Header overrides and trailing data.
    R"(.byteorder big
.signature 1B 51 56 43
.sizes 4 4 4 6 8 9 9 4
.testnumber 31415926.9
.function main
  .line 7
  .const -0
  .const 0
  LOADCONST R0, K1
  RETURN R0, 1
.end
.append 0102030405
)",
    ".byteorder 9\n.function main\n  RETURN R0, 1\n.end\n",
    ".function main\n  RETURN R0, 1\n.end\n.truncate 0\n.append 1B 51\n",
};

TEST(QvasmDisassemble, RoundTripsByteForByte) {
  for (const char* program : kPrograms) {
    auto first = AssembleOrFail(program);
    ASSERT_TRUE(first.ok()) << program;
    std::string text = Disassemble(first.bytes);
    auto second = AssembleOrFail(text);
    EXPECT_EQ(second.bytes, first.bytes) << text;
    EXPECT_EQ(Disassemble(second.bytes), text);
    if (first.bytes.size() > 2) {
      EXPECT_EQ(text.find("the bytes as they are"), std::string::npos) << text;
    }
  }
}

TEST(QvasmDisassemble, ReadsLikeTheSource) {
  std::string text = Disassemble(AssembleOrFail(kPrograms[0]).bytes);
  for (const char* line :
       {".function main maxstack=6\n", "  .source \"@t.qvs\"\n",
        "  .const 0\n  .const 10\n  .const 1\n",
        "  .line 1\n  LOADCONST R0, 0\n  CLOSURE R1, f0 [R0]\n", "  JUMP @L10\nL7:\n  .line 2\n",
        "  CALL R5, nargs=0, nres=0\n  GOSUB @L12\n", "L10:\n  FORLOOP R2, @L7\n  RETURN R0, n=1\n",
        "L12:\n  ADD R0, R0, 1\n  RETSUB\n", "  .function f0 maxstack=2\n    .upvalue \"n\"\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  }
  // Constants that are duplicates of earlier ones are named by index.
  std::string dup = Disassemble(AssembleOrFail(kPrograms[1]).bytes);
  EXPECT_NE(dup.find("LOADCONST R2, K2\n"), std::string::npos) << dup;
  EXPECT_NE(dup.find("GETTABLE R3, R0, \"key\"\n"), std::string::npos) << dup;
  // SETLISTTOP's Bx reads as a first key only when its low five bits are clear.
  EXPECT_NE(dup.find("SETLISTTOP R4, first=0\n  SETLISTTOP R4, 34\n"), std::string::npos) << dup;
}

TEST(QvasmDisassemble, DefectiveChunksKeepTheirBytes) {
  auto full = AssembleOrFail(kPrograms[0]).bytes;
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + n);
    std::string text = Disassemble(cut);
    EXPECT_NE(text.find("defective chunk"), std::string::npos) << n;
    EXPECT_EQ(AssembleOrFail(text).bytes, cut) << text;
  }
  // A nested source written equal to its parent's cannot be expressed: the bytes stay raw,
  // the reading stays visible as comments.
  auto bytes = AssembleOrFail(
                   ".function main\n.source \"@a\"\n  RETURN R0, 1\n"
                   ".function c\n.source \"@b\"\nRETURN R0, 1\n.end\n.end\n")
                   .bytes;
  for (size_t i = 30; i + 1 < bytes.size(); ++i)
    if (bytes[i] == '@' && bytes[i + 1] == 'b') bytes[i + 1] = 'a';
  std::string text = Disassemble(bytes);
  EXPECT_NE(text.find("cannot express"), std::string::npos) << text;
  EXPECT_NE(text.find(";   .function f0"), std::string::npos) << text;
  EXPECT_EQ(AssembleOrFail(text).bytes, bytes);
}

TEST(QvasmDisassemble, SurvivesRandomBytes) {
  std::mt19937 rng(7);
  auto base = AssembleOrFail(kPrograms[1]).bytes;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b = base;
    for (int k = 0; k < 4; ++k) b[rng() % b.size()] = static_cast<uint8_t>(rng());
    std::string text = Disassemble(b);
    auto again = Assemble(text);
    ASSERT_TRUE(again.ok()) << text;
    EXPECT_EQ(again.bytes, b) << text;
  }
}

}  // namespace
