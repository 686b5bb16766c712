#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "qvasm/chunk_view.h"
#include "tools/qvasm/gtest_support.h"

using qvasm::Assemble;
using qvasm::AssembleOrFail;
using qvasm::Disassemble;
using qvtest::ParseChunk;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) { return {v.begin(), v.end()}; }

// The words of the main function of a one-function program around `body`.
std::vector<uint32_t> MainCode(const std::string& body) {
  auto r = AssembleOrFail(".function main\n" + body + "\n.end\n");
  if (!r.ok()) return {};
  return ParseChunk(r.bytes).main.code;
}

const char* const kExample = qvasm::kExampleProgram;

TEST(QvasmAssemble, MinimalChunkIsTheGolden61Bytes) {
  auto r = AssembleOrFail(".function main\n  RETURN R0, 1\n.end\n");
  auto want = Bytes({
      0x1B, 0x51, 0x56, 0x42, 0x01, 0x04, 0x04, 0x04, 0x06, 0x08, 0x09, 0x09, 0x08,  // header
      0xB6, 0x09, 0x93, 0x68, 0xE7, 0xF5, 0x7D, 0x41,                                // test number
      0,    0,    0,    0,                                                           // no source
      0,    0,    0,    0,                                                           // line defined
      0,    0,    0,    2,     // nups, params, vararg, maxstack
      0,    0,    0,    0,     // lines
      0,    0,    0,    0,     // locals
      0,    0,    0,    0,     // upvalue names
      0,    0,    0,    0,     // constants
      0,    0,    0,    0,     // nested functions
      1,    0,    0,    0,     // code count
      0x22, 0x80, 0x00, 0x00,  // RETURN R0 1
  });
  EXPECT_EQ(want.size(), 61u);
  EXPECT_EQ(r.bytes, want);
}

TEST(QvasmAssemble, EncodesInstructionWords) {
  struct Case {
    const char* text;
    uint32_t word;
  } const kCases[] = {
      {"RETURN R0 1", 0x00008022},
      {"JUMP +0", 0x1FFFFFDB},
      {"GOSUB +1", 0xA000001B},
      {"RETSUB", 34u | 1u << 6},
      {"MOVE R1, R2", 1u << 24 | 2u << 15},
      {"LOADCONST R3, K5", 1u | 5u << 6 | 3u << 24},
      {"LOADBOOL R1, 1, 1", 2u | 1u << 6 | 1u << 15 | 1u << 24},
      {"GETUPVAL R2, U7", 4u | 7u << 15 | 2u << 24},
      {"ADD R0, R1, K3", 11u | 253u << 6 | 1u << 15},
      {"SETTABLE R0, K261, R249", 9u | 249u << 6 | 511u << 15},
      {"EQ 1, R0, R1", 28u | 1u << 6 | 1u << 24},
      {"JUMP -1", 27u | (8388606u << 6)},
      {"FORLOOP R2, -3", 35u | (131068u << 6) | 2u << 24},
      {"FORINPREP R0, +2", 37u | (131073u << 6)},
      {"CALL R5, nargs=top, nres=all", 32u | 5u << 24},
      {"CALL R5, nargs=2, nres=1", 32u | 2u << 6 | 3u << 15 | 5u << 24},
      {"TAILCALL R1, 4, 0", 33u | 4u << 15 | 1u << 24},
      {"RETURN R3, n=top", 34u | 3u << 24},
      {"RETURN R3, 2, 1", 34u | 1u << 6 | 2u << 15 | 3u << 24},
      {"FORINLOOP R0, vars=2", 36u | 1u << 6},
      {"SETLIST R1, first=64, count=32", 38u | 95u << 6 | 1u << 24},
      {"SETLISTTOP R1, first=96", 39u | 96u << 6 | 1u << 24},
      {"SETLISTTOP R1, 2", 39u | 2u << 6 | 1u << 24},  // raw Bx, as a compiler writes {a, b, f()}
      {"NEWTABLE R0, arr=0, hashlog=0", 10u},
      {"NEWTABLE R0, arr=8, hashlog=3", 10u | 3u << 6 | 12u << 15},
      {"NEWTABLE R0, arr=1", 10u | 1u << 15},
      {"NEWTABLE R0, 255, 4", 10u | 4u << 6 | 255u << 15},
      {"CLOSE R7", 40u | 7u << 24},
      {"SELF R0, R1, K0", 42u | 250u << 6 | 1u << 15},
      {".word 0xDEADBEEF", 0xDEADBEEF},
      // Field overrides replace the bits after encoding.
      {"MOVE R0, R1, B=300", 300u << 15},
      {"MOVE R0, R1, C=7, A=9", 7u << 6 | 1u << 15 | 9u << 24},
      {"LOADCONST R0, K0, Bx=262143", 1u | 262143u << 6},
      {"FORLOOP R0, +0, sBx=-131071", 35u},
      {"JUMP +5, off=-8388607", 27u},
  };
  for (const auto& k : kCases) {
    auto code = MainCode(k.text);
    ASSERT_FALSE(code.empty()) << k.text;
    EXPECT_EQ(code[0], k.word) << k.text << " gave 0x" << std::hex << code[0];
  }
}

TEST(QvasmAssemble, ExampleProgram) {
  auto r = AssembleOrFail(kExample);
  ASSERT_TRUE(r.ok());
  auto v = ParseChunk(r.bytes);
  EXPECT_EQ(v.end, r.bytes.size());
  const auto& m = v.main;
  EXPECT_EQ(m.source, "@t.qvs");
  EXPECT_EQ(m.maxStack, 6);  // MOVE R5 / CALL R5 is the highest register
  ASSERT_EQ(m.code.size(), 14u);
  EXPECT_EQ(r.labels.at("body"), 7);
  EXPECT_EQ(r.labels.at("test"), 10);
  EXPECT_EQ(r.labels.at("bump"), 12);
  EXPECT_EQ(m.code[1], 41u | 1u << 24);                        // CLOSURE R1, function 0
  EXPECT_EQ(m.code[2], 0u);                                    // MOVE 0, R0 passes R0 as upvalue
  EXPECT_EQ(m.code[6], 27u | (8388607u + 3) << 6);             // JUMP @test
  EXPECT_EQ(m.code[9], 0x8000001Bu | (8388607u + 2) << 6);     // GOSUB @bump
  EXPECT_EQ(m.code[10], 35u | (131071u - 4) << 6 | 2u << 24);  // FORLOOP R2, @body
  ASSERT_EQ(m.consts.size(), 3u);  // 0, 10, 1: literals pooled once each
  EXPECT_EQ(m.consts[0].number, 0);
  EXPECT_EQ(m.consts[1].number, 10);
  EXPECT_EQ(m.consts[2].number, 1);
  std::vector<int32_t> lines = {1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(m.lines, lines);
  ASSERT_EQ(m.children.size(), 1u);
  const auto& inc = m.children[0];
  EXPECT_FALSE(inc.source.has_value());  // inherits "@t.qvs": written as absent
  EXPECT_EQ(inc.nups, 1);
  EXPECT_EQ(inc.upvalueNames.at(0), "n");
  EXPECT_TRUE(inc.lines.empty());
  EXPECT_EQ(inc.maxStack, 2);
  EXPECT_EQ(inc.code.size(), 4u);
}

TEST(QvasmAssemble, ConstantsArePooledByTypeAndBitPattern) {
  auto r = AssembleOrFail(R"(.function main
  LOADCONST R0, "late"       ; literals come after every .const, even later ones
  .const five = 5
  .const 5                   ; .const entries are never merged
  LOADCONST R0, 5
  LOADCONST R0, K:five
  LOADCONST R0, K1
  LOADCONST R0, -0
  LOADCONST R0, 0
  LOADCONST R0, 0x0
  LOADCONST R0, "5"
  LOADCONST R0, nil
  LOADCONST R0, nan
  LOADCONST R0, nan
  LOADCONST R0, -inf
  LOADCONST R0, 1e3
  LOADCONST R0, "late"
  LOADCONST R0, "a\"\\\n\r\t\0\x7Fb"
  RETURN R0, 1
.end
)");
  ASSERT_TRUE(r.ok());
  auto m = ParseChunk(r.bytes).main;
  auto bx = [&](size_t pc) { return (m.code[pc] >> 6) & 0x3FFFF; };
  ASSERT_EQ(m.consts.size(), 11u);
  EXPECT_EQ(m.consts[2].text, "late");
  EXPECT_EQ(bx(0), 2u);
  EXPECT_EQ(bx(1), 0u);  // 5 finds the first of the two
  EXPECT_EQ(bx(2), 0u);
  EXPECT_EQ(bx(3), 1u);
  EXPECT_TRUE(std::signbit(m.consts[bx(4)].number));
  EXPECT_NE(bx(4), bx(5));  // -0 and 0 differ in bits
  EXPECT_EQ(bx(5), bx(6));  // 0 and 0x0 do not
  EXPECT_EQ(m.consts[bx(7)].type, 4);
  EXPECT_EQ(m.consts[bx(7)].text, "5");
  EXPECT_EQ(m.consts[bx(8)].type, 0);
  EXPECT_TRUE(std::isnan(m.consts[bx(9)].number));
  EXPECT_EQ(bx(9), bx(10));
  EXPECT_EQ(m.consts[bx(11)].number, -INFINITY);
  EXPECT_EQ(m.consts[bx(12)].number, 1000);
  EXPECT_EQ(bx(13), 2u);
  EXPECT_EQ(m.consts[bx(14)].text, std::string("a\"\\\n\r\t\0\x7F"
                                               "b",
                                               9));
}

TEST(QvasmAssemble, RkReachEndsAtConstant261) {
  std::string pool;
  for (int i = 0; i < 262; ++i) pool += "  .const " + std::to_string(i) + "\n";
  auto at = [&](const std::string& line) {
    return ".function main\n" + pool + "  " + line + "\n  RETURN R0, 1\n.end\n";
  };
  auto ok = AssembleOrFail(at("ADD R0, R0, 261"));
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ParseChunk(ok.bytes).main.code[0], 11u | 511u << 6);

  for (const char* bad : {"ADD R0, R0, K262", "ADD R0, 262, R0", "EQ 0, R0, 1000"}) {
    auto r = Assemble(at(bad));
    ASSERT_EQ(r.diags.size(), 1u) << bad;
    EXPECT_EQ(r.diags[0].line, 264) << bad;
    EXPECT_NE(r.diags[0].message.find("LOADCONST"), std::string::npos) << r.diags[0].message;
    EXPECT_TRUE(r.bytes.empty());
  }
  // LOADCONST reaches every constant of the pool.
  auto far = AssembleOrFail(at("LOADCONST R0, 1000"));
  EXPECT_EQ((ParseChunk(far.bytes).main.code[0] >> 6) & 0x3FFFF, 262u);
  // A register from 250 on would read as a constant in an RK field.
  auto reg = Assemble(at("ADD R0, R250, R0"));
  ASSERT_EQ(reg.diags.size(), 1u);
  EXPECT_EQ(reg.diags[0].line, 264);
}

TEST(QvasmAssemble, MaxStackAuto) {
  struct Case {
    const char* options;
    const char* code;
    int maxStack;
  } const kCases[] = {
      {"", "RETURN R0, 1", 2},
      {"", "LOADNIL R0, R7", 8},
      {"", "MOVE R3, R1", 4},
      {"", "ADD R0, R0, 1", 2},             // a constant is no register
      {"", "GETUPVAL R2, U9", 3},           // nor is an upvalue
      {"", "CALL R3, nargs=4, nres=1", 8},  // arguments up to R7
      {"", "CALL R3, nargs=0, nres=6", 9},  // results up to R8
      {"", "CALL R3, nargs=top, nres=all", 4},
      {"", "RETURN R2, n=5", 7},
      {"", "CONCAT R0, R3, R9", 10},
      {"", "SELF R4, R0, R1", 6},
      {"", "FORLOOP R5, +0", 8},
      {"", "FORINPREP R5, +0", 7},
      {"", "FORINLOOP R1, vars=1", 7},   // A+5
      {"", "FORINLOOP R1, vars=9", 12},  // A+2+C with C = 8
      {"", "SETLIST R2, first=0, count=10", 13},
      {"", "EQ 1, R6, R0\nJUMP +0", 7},
      {"", "JUMP +0", 2},             // the jump's high bits are offset, not a register
      {"", "MOVE R0, R1, B=300", 2},  // overrides are not counted
      {"", ".word 0xFF000000", 2},    // nor raw words
      {"", "CLOSURE R0, c [R7]\n.function c\n.upvalue \"x\"\nRETURN R0, 1\n.end", 8},
      {"params=5 vararg", "RETURN R0, 1", 6},
      {"params=1", "RETURN R0, 1", 2},
      {"maxstack=1", "MOVE R9, R0", 1},  // explicit wins
      {"maxstack=251", "MOVE R250, R0", 251},
  };
  for (const auto& k : kCases) {
    auto r = AssembleOrFail(std::string(".function main ") + k.options + "\n" + k.code +
                            "\nRETURN R0, 1\n.end\n");
    if (r.ok()) {
      EXPECT_EQ(ParseChunk(r.bytes).main.maxStack, k.maxStack) << k.code;
    }
  }
  auto over = Assemble(".function main\n  MOVE R250, R0\n  RETURN R0, 1\n.end\n");
  ASSERT_EQ(over.diags.size(), 1u);
  EXPECT_EQ(over.diags[0].line, 1);
  EXPECT_NE(over.diags[0].message.find("251"), std::string::npos);
}

TEST(QvasmAssemble, BigByteOrderReversesEveryMultiByteValue) {
  std::string body = std::string(kExample).substr(std::strlen(".function main\n"));
  body.insert(0, "  .local \"i\" @body @test\n  .const \"str\"\n  .const -2.5\n");
  auto little = AssembleOrFail(".function main linedefined=7\n" + body);
  auto big = AssembleOrFail(".byteorder big\n.function main linedefined=7\n" + body);
  ASSERT_TRUE(little.ok() && big.ok());
  auto view = ParseChunk(little.bytes);
  std::vector<uint8_t> want = little.bytes;
  want[4] = 0;
  for (auto [offset, size] : view.values)
    std::reverse(want.begin() + offset, want.begin() + offset + size);
  EXPECT_EQ(big.bytes, want);
  // Spot checks: the test number and the last code word.
  EXPECT_EQ(std::vector<uint8_t>(big.bytes.begin() + 13, big.bytes.begin() + 21),
            Bytes({0x41, 0x7D, 0xF5, 0xE7, 0x68, 0x93, 0x09, 0xB6}));
  // Any byte other than 1 reverses too, and reading it back gives the same functions.
  auto odd = AssembleOrFail(".byteorder 7\n.function main linedefined=7\n" + body);
  EXPECT_EQ(odd.bytes[4], 7);
  EXPECT_TRUE(std::equal(odd.bytes.begin() + 5, odd.bytes.end(), big.bytes.begin() + 5));
  EXPECT_EQ(ParseChunk(big.bytes).main.code, view.main.code);
}

TEST(QvasmAssemble, HeaderOverridesTruncateAndAppend) {
  const std::string main = ".function main\n  RETURN R0, 1\n.end\n";
  auto r = AssembleOrFail(
      ".signature 1B 51 56 43\n.sizes 4 4 4 6 8 9 9 4\n"
      ".testnumber 31415926.9\n" +
      main);
  ASSERT_EQ(r.bytes.size(), 61u);
  EXPECT_EQ(r.bytes[3], 0x43);
  EXPECT_EQ(r.bytes[12], 4);
  double t;
  std::memcpy(&t, &r.bytes[13], 8);
  EXPECT_EQ(t, 31415926.9);

  auto full = AssembleOrFail(main);
  auto cut = AssembleOrFail(".truncate 60\n" + main);
  EXPECT_EQ(cut.bytes, std::vector<uint8_t>(full.bytes.begin(), full.bytes.begin() + 60));
  auto empty = AssembleOrFail(main + ".truncate 0\n");
  EXPECT_TRUE(empty.bytes.empty());
  EXPECT_TRUE(empty.ok());
  auto extra = AssembleOrFail(main + ".append DE AD\n.append BEEF\n");
  ASSERT_EQ(extra.bytes.size(), 65u);
  EXPECT_EQ(std::vector<uint8_t>(extra.bytes.begin() + 61, extra.bytes.end()),
            Bytes({0xDE, 0xAD, 0xBE, 0xEF}));
  auto beyond = Assemble(".truncate 62\n" + main);
  ASSERT_EQ(beyond.diags.size(), 1u);
  EXPECT_EQ(beyond.diags[0].line, 1);
}

TEST(QvasmAssemble, FunctionRecordDirectives) {
  auto r = AssembleOrFail(R"(.function main vararg=2 linedefined=-1
  .param "a" "b"
  .upvalues 3
  .upvalue "x" none
  .local none 1 @done
  .local "t" @top 9
  .lines raw 5 6 7
top:
  MOVE R2, R0
done:
  RETURN R0, 1
  .function kid params=1 maxstack=9 linedefined=12
    .source "other.qvs"
    .line 4
    RETURN R0, 1
    .function grandkid
      .source inherit
      .line 0
      RETURN R0, 1
    .end
  .end
  .function kid2
    .source none
    .lines none
    .line 3
    RETURN R0, 1
  .end
.end
)");
  ASSERT_TRUE(r.ok());
  auto m = ParseChunk(r.bytes).main;
  EXPECT_EQ(m.lineDefined, -1);
  EXPECT_EQ(m.params, 2);
  EXPECT_EQ(m.vararg, 2);
  EXPECT_EQ(m.maxStack, 4);  // params + vararg
  EXPECT_EQ(m.nups, 3);
  ASSERT_EQ(m.upvalueNames.size(), 2u);
  EXPECT_FALSE(m.upvalueNames[1].has_value());
  ASSERT_EQ(m.locals.size(), 4u);
  EXPECT_EQ(m.locals[0].name, "a");
  EXPECT_EQ(m.locals[1].end, 2);  // parameters live to the end of the code
  EXPECT_FALSE(m.locals[2].name.has_value());
  EXPECT_EQ(m.locals[2].start, 1);
  EXPECT_EQ(m.locals[2].end, 1);
  EXPECT_EQ(m.locals[3].start, 0);
  EXPECT_EQ(m.locals[3].end, 9);
  EXPECT_EQ(m.lines, (std::vector<int32_t>{5, 6, 7}));
  ASSERT_EQ(m.children.size(), 2u);
  const auto& kid = m.children[0];
  EXPECT_EQ(kid.source, "other.qvs");
  EXPECT_EQ(kid.params, 1);
  EXPECT_EQ(kid.maxStack, 9);
  EXPECT_EQ(kid.lineDefined, 12);
  EXPECT_EQ(kid.lines, std::vector<int32_t>{4});
  EXPECT_FALSE(kid.children.at(0).source.has_value());
  EXPECT_EQ(kid.children[0].lines, std::vector<int32_t>{0});
  EXPECT_TRUE(m.children[1].lines.empty());
  EXPECT_FALSE(m.children[1].source.has_value());
  EXPECT_EQ(r.labels.at("top"), 0);
  EXPECT_EQ(r.labels.count("kid.top"), 0u);
}

TEST(QvasmAssemble, NestedLabelsAndExports) {
  auto r = AssembleOrFail(R"(.function main
  .export "ONSTART"
  JUMP @end
  .export "ONBUTTONCLICK1"
end:
  RETURN R0, 1
  .function outer
    .function inner
again:
      JUMP @again
      RETURN R0, 1
    .end
again:
    CLOSURE R0, inner
    JUMP @again
    RETURN R0, 1
  .end
.end
)");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.labels.at("end"), 1);
  EXPECT_EQ(r.labels.at("outer.again"), 0);
  EXPECT_EQ(r.labels.at("outer.inner.again"), 0);
  ASSERT_EQ(r.exports.size(), 2u);
  EXPECT_EQ(r.exports[0], std::make_pair(std::string("ONSTART"), 0));
  EXPECT_EQ(r.exports[1], std::make_pair(std::string("ONBUTTONCLICK1"), 1));
  auto outer = ParseChunk(r.bytes).main.children.at(0);
  EXPECT_EQ(outer.code[1], 27u | (8388607u - 2) << 6);
}

TEST(QvasmAssemble, DiagnosticsNameTheLine) {
  struct Case {
    const char* text;
    int line;
    const char* words;
  } const kCases[] = {
      {".function main\n  FROB R0\n  RETURN R0, 1\n.end", 2, "unknown mnemonic FROB"},
      {".function main\n  JUMP @nowhere\n  RETURN R0, 1\n.end", 2, "unknown label @nowhere"},
      {".function main\nx:\nx:\n  RETURN R0, 1\n.end", 3, "defined twice"},
      {".function main\n  MOVE R256, R0\n  RETURN R0, 1\n.end", 2, "R256"},
      {".function main\n  MOVE R0, 5\n  RETURN R0, 1\n.end", 2, "expected a register"},
      {".function main\n  MOVE R0\n  RETURN R0, 1\n.end", 2, "expects 2 operands"},
      {".function main\n  LOADCONST R0, \"abc\n.end", 2, "unterminated string"},
      {".function main\n  LOADCONST R0, \"\\q\"\n.end", 2, "unknown escape"},
      {".function main\n  LOADCONST R0, \"\\x4\"\n.end", 2, "two hex digits"},
      {".function main\n  RETURN R0, 1\n", 1, "no .end"},
      {".function main\n  CLOSURE R0, nobody\n  RETURN R0, 1\n.end", 2, "unknown function"},
      {".function main\n  CLOSURE R0, c\n  RETURN R0, 1\n.function c\n.upvalue \"u\"\nRETURN R0, 1\n.end\n.end",
       2, "lists 0 upvalues"},
      {".function main\n  LOADCONST R0, K:pi\n  RETURN R0, 1\n.end", 2, "unknown constant alias"},
      {".function main\n  .function c\n  .export \"X\"\n  .end\n  RETURN R0, 1\n.end", 3,
       "main function"},
      {"  RETURN R0, 1\n", 1, "outside a .function"},
      {".function main\n  .frob 1\n  RETURN R0, 1\n.end", 2, "unknown directive .frob"},
      {".function main\n  SETLIST R0, first=5, count=1\n  RETURN R0, 1\n.end", 2, "multiple of 32"},
      {".function main\n  SETLIST R0, first=0, count=33\n  RETURN R0, 1\n.end", 2, "count"},
      {".function main\n  SETLISTTOP R0, first=2\n  RETURN R0, 1\n.end", 2, "multiple of 32"},
      {".function main\n  CALL R0, nargs=1\n  RETURN R0, 1\n.end", 2, "nres="},
      {".function main\n  MOVE R0, R1, Q=1\n  RETURN R0, 1\n.end", 2, "unknown option q="},
      {".function main\n  MOVE R0, R1, B=512\n  RETURN R0, 1\n.end", 2, "out of range"},
      {".function main\n  JUMP +8388609\n  RETURN R0, 1\n.end", 2, "out of range"},
      {".function main\n  RETURN R0, 1\n.end\n.function again\n.end", 4, "only one main"},
      {".function main\n  .end\n.end", 3, ".end outside"},
      {".function main\n  .header 16 \"x\"\n  RETURN R0, 1\n.end", 2, ".header number"},
      {"", 0, "no .function"},
  };
  for (const auto& k : kCases) {
    auto r = Assemble(k.text);
    ASSERT_FALSE(r.diags.empty()) << k.text;
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.diags[0].line, k.line) << k.text;
    EXPECT_NE(r.diags[0].message.find(k.words), std::string::npos)
        << k.text << "\n -> " << r.diags[0].message;
  }
  // Every bad line is reported, not just the first.
  auto many = Assemble(".function main\n  FROB\n  MOVE R0\n  JUMP @x\n  RETURN R0, 1\n.end\n");
  ASSERT_EQ(many.diags.size(), 3u);
  EXPECT_EQ(many.diags[0].line, 2);
  EXPECT_EQ(many.diags[1].line, 3);
  EXPECT_EQ(many.diags[2].line, 4);
}

TEST(QvasmAssemble, LexicalRules) {
  // Case-insensitive mnemonics and directives, case-sensitive labels, optional commas,
  // comments anywhere outside strings, a label sharing a line with an instruction.
  auto r = AssembleOrFail(R"(.FUNCTION main
  .Const x = ";not a comment"   ; a comment
Top: loadconst r0 K:x
top: JUMP @Top
  Return R0 1
.END
)");
  ASSERT_TRUE(r.ok());
  auto m = ParseChunk(r.bytes).main;
  EXPECT_EQ(m.consts.at(0).text, ";not a comment");
  EXPECT_EQ(r.labels.at("Top"), 0);
  EXPECT_EQ(r.labels.at("top"), 1);
  EXPECT_EQ(m.code[1], 27u | (8388607u - 2) << 6);
}

}  // namespace
