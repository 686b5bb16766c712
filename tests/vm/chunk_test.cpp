// Chunks: the loader's error codes for every defect, the verifier, the writer's byte-exact
// round trip and the byte-order variant.
#include <cstring>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"
#include "vm/opcodes.h"

namespace qv::testing {
namespace {

using ChunkTest = VmTest;

const char* const kRich = R"qv(
.function main params=1 vararg
  .source "@rich.qvs"
  .param "a"
  .local "t" @start @done
  .const 0
  .const nil
  .const "text with \0 inside"
  .const -2.5
  .line 3
start:
  NEWTABLE R2, 0, 0
  SETTABLE R2, "k", -2.5
  CLOSURE R3, child [R2]
  .line 4
  MOVE R4, R3
  CALL R4, nargs=0, nres=1
done:
  RETURN R4, n=1
  .function child linedefined=7
    .upvalue "t"
    .line 8
    GETUPVAL R0, U0
    GETTABLE R0, R0, "k"
    CLOSURE R1, grandchild
    RETURN R0, n=1
    .function grandchild linedefined=9
      .source "@other.qvs"
      RETURN R0, n=0
    .end
  .end
.end
)qv";

std::vector<uint8_t> Dump(qvScriptState* L, int index, int32_t* status = nullptr) {
  std::vector<uint8_t> out;
  int32_t s = VmDump(L, index, VectorWriter, &out);
  if (status != nullptr) *status = s;
  return out;
}

TEST_F(ChunkTest, TheMinimalChunkIs61Bytes) {
  std::vector<uint8_t> bytes = Assemble(".function main\nRETURN R0, 1\n.end\n");
  ASSERT_EQ(bytes.size(), 61u);
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(Dump(L, -1), bytes);
}

TEST_F(ChunkTest, DumpingALoadedChunkGivesItsBytesBack) {
  std::vector<uint8_t> bytes = Assemble(kRich);
  for (size_t block : {size_t(0), size_t(1), size_t(7)}) {
    SCOPED_TRACE(block);
    ASSERT_EQ(Load(bytes, block), 0);
    EXPECT_EQ(Dump(L, -1), bytes);
    VmSetTop(L, 0);
  }
  // And the dumped function still runs.
  ASSERT_EQ(Load(bytes), 0);
  ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
  EXPECT_EQ(VmToNumber(L, -1), -2.5);
}

TEST_F(ChunkTest, ABigEndianChunkLoadsToTheSamePrototypes) {
  std::vector<uint8_t> little = Assemble(kRich);
  std::vector<uint8_t> big = Assemble(std::string(".byteorder big\n") + kRich);
  ASSERT_EQ(big.size(), little.size());
  ASSERT_NE(big, little);
  EXPECT_EQ(big[4], 0);
  ASSERT_EQ(Load(big, 7), 0);
  EXPECT_EQ(Dump(L, -1), little);  // the writer uses our own order
}

TEST_F(ChunkTest, TheMemoryChunkReader) {
  std::vector<uint8_t> bytes = Assemble(".function main\nLOADCONST R0, 42\nRETURN R0, 2\n.end\n");
  qvChunkBuffer buffer{reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  ASSERT_EQ(VmLoad(L, ChunkReader, &buffer, nullptr), 0);
  EXPECT_EQ(buffer.size, 0u);
  ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
  EXPECT_EQ(VmToNumber(L, -1), 42);
  size_t size = 1;
  EXPECT_EQ(ChunkReader(L, &buffer, &size), nullptr);  // nothing afterwards
  EXPECT_EQ(size, 0u);
}

TEST_F(ChunkTest, OnlyScriptFunctionsAreDumped) {
  int32_t status = 0;
  VmPushCClosure(
      L, [](qvScriptState*) -> int32_t { return 0; }, 0);
  EXPECT_TRUE(Dump(L, -1, &status).empty());
  EXPECT_EQ(status, ERR_NOQVFUNC);
  VmPushNumber(L, 1);
  EXPECT_TRUE(Dump(L, -1, &status).empty());
  EXPECT_EQ(status, ERR_NOQVFUNC);
}

TEST_F(ChunkTest, EveryTruncationEndsInUnexpectedEnd) {
  std::vector<uint8_t> bytes = Assemble(kRich);
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + n);
    ASSERT_EQ(Load(part, n % 5), ERR_UNEXPECTEDEOF) << n;
  }
  EXPECT_EQ(VmGetTop(L), 0);  // nothing pushed
}

TEST_F(ChunkTest, DefectsGiveTheirCodes) {
  struct Case {
    const char* what;
    std::string text;
    int32_t code;
  };
  auto main = [](const std::string& head, const std::string& body) {
    return head + "\n" + body + "\nRETURN R0, 1\n.end\n";
  };
  const std::string plain = ".function main";
  const std::string small = ".function main maxstack=10";
  const Case cases[] = {
      {"signature", ".signature 1B 51 56 43\n" + main(plain, ""), ERR_BADSIGNATURE},
      {"size byte", ".sizes 4 4 4 6 8 9 9 4\n" + main(plain, ""), ERR_VMMISMATCH},
      {"instruction size", ".sizes 4 4 8 6 8 9 9 8\n" + main(plain, ""), ERR_VMMISMATCH},
      {"test number", ".testnumber 31415927.5\n" + main(plain, ""), ERR_UNKNUMFMT},
      {"test number fraction", ".testnumber 31415926.9\n" + main(plain, ""), 0},
      {"test number NaN", ".testnumber nan\n" + main(plain, ""), ERR_UNKNUMFMT},
      {"negative local pc", main(plain, ".local \"x\" -1 1"), ERR_BADINTEGER},
      {"negative line defined",
       main(plain, "CLOSURE R0, child\n.function child linedefined=-5\nRETURN R0, 1\n.end"),
       ERR_BADINTEGER},
      {"upvalue names",
       main(plain,
            "CLOSURE R0, 0\n.function child\n.upvalues 2\n.upvalue \"x\"\nRETURN R0, 1\n.end"),
       ERR_BADUPVALUES},
      {"upvalues without names",
       main(
           plain,
           "CLOSURE R0, child [R0]\n.function child\n.upvalues 1\nGETUPVAL R0, U0\nRETURN R0, 2\n.end"),
       0},
      {"last is no RETURN", ".function main\nLOADCONST R0, 1\n.end\n", ERR_BADBYTECODE},
      {"max stack", main(".function main maxstack=251", ""), ERR_BADBYTECODE},
      {"line table length", main(plain, ".lines raw 1 2 3"), ERR_BADBYTECODE},
      {"register A", main(small, "LOADCONST R10, 1"), ERR_BADBYTECODE},
      {"register B", main(small, "MOVE R0, R10"), ERR_BADBYTECODE},
      {"constant C", main(small, "ADD R0, R0, R0, C=260"), ERR_BADBYTECODE},
      {"constant Bx", main(small, "LOADCONST R0, 1, Bx=3"), ERR_BADBYTECODE},
      {"jump outside", main(small, "JUMP +5"), ERR_BADBYTECODE},
      {"jump before start", main(small, "JUMP -2"), ERR_BADBYTECODE},
      {"upvalue index", main(small, "GETUPVAL R0, U0"), ERR_BADBYTECODE},
      {"global name", main(small, ".const 5\nGETGLOBAL R0, \"x\", Bx=0"), ERR_BADBYTECODE},
      {"concat order", main(small, "CONCAT R0, R2, R1"), ERR_BADBYTECODE},
      {"concat range", main(small, "CONCAT R0, R1, R10"), ERR_BADBYTECODE},
      {"open call", main(small, "CALL R0, nargs=0, nres=all"), ERR_BADBYTECODE},
      {"call arguments", main(small, "CALL R5, nargs=5, nres=0"), ERR_BADBYTECODE},
      {"call results", main(small, "CALL R5, nargs=0, nres=6"), ERR_BADBYTECODE},
      {"return range", main(small, "RETURN R5, n=6"), ERR_BADBYTECODE},
      {"setlist range", main(small, "SETLIST R0, first=0 count=10"), ERR_BADBYTECODE},
      {"forloop register", main(small, "FORLOOP R8, +0"), ERR_BADBYTECODE},
      {"forloop target", main(small, "FORLOOP R0, +100"), ERR_BADBYTECODE},
      {"forinprep register", main(small, "FORINPREP R9, +0"), ERR_BADBYTECODE},
      {"forinprep target", main(small, "FORINPREP R0, -5"), ERR_BADBYTECODE},
      {"forinloop register", main(small, "FORINLOOP R5, vars=1\nJUMP +0"), ERR_BADBYTECODE},
      {"forinloop variables", main(small, "FORINLOOP R0, vars=9\nJUMP +0"), ERR_BADBYTECODE},
      {"forinloop without jump", main(small, "FORINLOOP R0, vars=1\nLOADNIL R0, R0"),
       ERR_BADBYTECODE},
      {"test without jump", main(small, "EQ 1, 1, 1\nLOADNIL R0, R0"), ERR_BADBYTECODE},
      {"test at the end", ".function main\nEQ 1, 1, 1\nRETURN R0, 1\n.end\n", ERR_BADBYTECODE},
      {"loadbool skip at the end", ".function main\nLOADBOOL R0, 1, 1\nRETURN R0, 1\n.end\n",
       ERR_BADBYTECODE},
      {"closure index", main(small, "CLOSURE R0, 3"), ERR_BADBYTECODE},
      {"closure upvalue list",
       main(small,
            "CLOSURE R0, 0\nLOADNIL R0, R0\n.function child\n.upvalue \"x\"\nRETURN R0, 1\n.end"),
       ERR_BADBYTECODE},
      {"parameters and vararg", main(".function main params=2 vararg maxstack=2", ""),
       ERR_BADBYTECODE},
      {"no-op opcode", main(small, ".word 0x00000032"), 0},
      {"no-op opcode register", main(small, ".word 0xFF000032"), ERR_BADBYTECODE},
      {"text file", "", ERR_BADSIGNATURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes;
    if (c.text.empty()) {
      const char* text = "hello, world\n";
      bytes.assign(text, text + std::strlen(text));
    } else {
      bytes = Assemble(c.text);
      ASSERT_FALSE(bytes.empty());
    }
    EXPECT_EQ(Load(bytes, 3), c.code);
    VmSetTop(L, 0);
  }
  std::vector<uint8_t> none;
  EXPECT_EQ(Load(none), ERR_UNEXPECTEDEOF);  // an empty reader
}

// Patches the byte at the position of a marker found in the chunk.
std::vector<uint8_t> Patch(std::vector<uint8_t> bytes, const std::vector<uint8_t>& marker,
                           ptrdiff_t offset, const std::vector<uint8_t>& with) {
  auto it = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  EXPECT_NE(it, bytes.end());
  std::copy(with.begin(), with.end(), it + offset);
  return bytes;
}

TEST_F(ChunkTest, UnknownConstantTypes) {
  // The constant 2.0 is written as the type byte 3, then 00 00 00 00 00 00 00 40.
  std::vector<uint8_t> bytes = Assemble(".function main\n.const 2\nRETURN R0, 1\n.end\n");
  const std::vector<uint8_t> two = {3, 0, 0, 0, 0, 0, 0, 0, 0x40};
  for (uint8_t type : {1, 2, 5, 9, 255}) {
    EXPECT_EQ(Load(Patch(bytes, two, 0, {type})), ERR_BADCONSTANT) << int(type);
  }
  // An absent string is no string constant.
  bytes = Assemble(".function main\n.const \"ab\"\nRETURN R0, 1\n.end\n");
  const std::vector<uint8_t> ab = {4, 3, 0, 0, 0, 'a', 'b', 0};
  EXPECT_EQ(Load(Patch(bytes, ab, 1, {0, 0, 0, 0})), ERR_BADCONSTANT);
}

TEST_F(ChunkTest, FalseLengthsEndWithoutHugeAllocations) {
  std::vector<uint8_t> bytes = Assemble(
      ".function main\n.source \"@s\"\n.const \"ab\"\nLOADCONST R0, \"ab\"\nRETURN R0, 2\n.end\n");
  const uint64_t before = G(L)->nblocks;
  struct Case {
    std::vector<uint8_t> marker;
    ptrdiff_t offset;
  };
  // A string size, then the code count (the last count before the two words).
  const std::vector<uint8_t> source = {3, 0, 0, 0, '@', 's', 0};
  const std::vector<uint8_t> ab = {4, 3, 0, 0, 0, 'a', 'b', 0};
  for (const auto& [marker, offset] : {Case{source, 0}, Case{ab, 1}}) {
    EXPECT_EQ(Load(Patch(bytes, marker, offset, {0xF0, 0xFF, 0xFF, 0x7F}), 1), ERR_UNEXPECTEDEOF);
  }
  std::vector<uint8_t> count = bytes;
  size_t at = count.size() - 12;  // the code count before two instruction words
  ASSERT_EQ(count[at], 2);
  count[at + 3] = 0x7F;
  EXPECT_EQ(Load(count, 64), ERR_UNEXPECTEDEOF);
  VmSetGCThreshold(L, 0);
  EXPECT_LT(G(L)->nblocks, before + 4096);
}

TEST_F(ChunkTest, NestingIsCapped) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += ".function f" + std::to_string(i) + "\n";
    for (int i = 0; i < depth; ++i) text += "RETURN R0, 1\n.end\n";
    return text;
  };
  EXPECT_EQ(Load(Assemble(nested(200))), 0);
  VmSetTop(L, 0);
  EXPECT_EQ(Load(Assemble(nested(201))), ERR_BADBYTECODE);
}

TEST_F(ChunkTest, AMainFunctionWithUpvaluesRunsWithNilOnes) {
  // A function written with upvalues and read back as a main function.
  RunResult r = Run(".function main\n.upvalues 1\nGETUPVAL R0, U0\nRETURN R0, 2\n.end\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.type(0), kTypeNil);
}

}  // namespace
}  // namespace qv::testing
