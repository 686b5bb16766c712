// Tables and functions stored in files through the player: the exact bytes of small tables,
// nested tables with functions in both forms amid other data, records that python3 writes (also
// with re-broken Base64 lines), and cut or corrupt records, which give error codes without a
// crash or a huge allocation.
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

// A chunk of the function x -> x * 3 + 1, made by the test assembler, for python3 to wrap.
constexpr char kTriple[] = R"(
.function main
  .param "x"
  MUL R1, R0, 3
  ADD R1, R1, 1
  RETURN R1, n=1
.end
)";

TEST_F(DosTest, SmallTablesHaveTheirExactBytes) {
  RunScript(R"(
do OpenFile(1, "t.bin", 1006)
do WriteTable(1, {})
do WriteTable(1, {[1] = "a"})
)");
  std::string out = RunScript(R"(
do OpenFile(1, "t.bin")
t = ReadTable(1)
NextItem(t)
t = ReadTable(1)
RawGet(t, 1)
FilePos(1)
ReadTable(1)
FilePos(1)
)");
  EXPECT_EQ(out,
            "NextItem(t) Nil\nRawGet(t, 1) a\nFilePos(1) 25\nerror 1242 ReadTable\nReadTable(1)\n"
            "FilePos(1) 25\n");
  EXPECT_EQ(Python("print(open('t.bin', 'rb').read().hex(' '))\n"),
            "51 56 54 30 00 51 56 54 30 02 3f f0 00 00 00 00 00 00 03 00 00 00 01 61 00\n");
}

TEST_F(DosTest, NestedTablesWithFunctionsInBothFormsReadBackAndRun) {
  std::string out = RunScript(R"(
function double(x)
  return Mul(x, 2)
end
function inc(x)
  return Add(x, 1)
end
shared = {7, 8}
h = OpenFile(Nil, "mix.bin", 1006)
do WriteInt(h, 1234)
do WriteTable(h, {f = @double, sub = {g = @inc, n = 3, deep = {"x"}}, a = shared, b = shared, h = h})
do WriteLine(h, "between")
do WriteFunction(h, @inc, 1)
do WriteTable(h, {t = @double}, 1)
do WriteFunction(h, @double)
do WriteFloat(h, 2.5)
do CloseFile(h)
h = OpenFile(Nil, "mix.bin")
ReadInt(h)
t = ReadTable(h)
t.f(21)
t.sub.g(41)
t.sub.n
t.sub.deep
RawGet(t.sub.deep, 0)
t.h
RawEqual(t.a, t.b)
RawGet(t.b, 1)
ReadLine(h)
g = ReadFunction(h)
g(1)
u = ReadTable(h)
u.t(5)
g = ReadFunction(h)
g(100)
ReadFloat(h)
Eof(h)
)");
  // The table under two keys comes back as two tables; its items are all there.
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  EXPECT_NE(out.find("t.f(21) 42\nt.sub.g(41) 42\nt.sub.n 3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("RawGet(t.sub.deep, 0) x\nt.h 0\nRawEqual(t.a, t.b) 0\nRawGet(t.b, 1) 8\n"
                     "ReadLine(h) between\ng(1) 2\nu.t(5) 10\ng(100) 200\nReadFloat(h) 2.5\n"
                     "Eof(h) 1\n"),
            std::string::npos)
      << out;
  // The text form breaks its Base64 into lines of 72 characters and counts the breaks.
  EXPECT_EQ(Python(R"(
import base64, struct
b = open('mix.bin', 'rb').read()
at = b.index(b'between\r\n') + 9
assert b[at:at + 4] == b'QVF1'
n = int(b[at + 4:at + 12], 16)
text = b[at + 12:at + 12 + n]
lines = text.split(b'\r\n')
print(all(len(l) == 72 for l in lines[:-1]), 0 < len(lines[-1]) <= 72, len(lines) > 1)
print(base64.b64decode(b''.join(lines))[:4])
)"),
            "True True True\nb'\\x1bQVB'\n");
}

TEST_F(DosTest, RecordsWrittenByPythonLoad) {
  qvasm::Result chunk = qvasm::Assemble(kTriple);
  ASSERT_TRUE(chunk.diags.empty());
  WriteFile("triple.qvb", chunk.bytes);
  Python(R"(
import base64, struct
c = open('triple.qvb', 'rb').read()
text = base64.b64encode(c)
# Lines of 20 characters, indented, with LF only: white space is passed over.
rebroken = b'\n    '.join(text[i:i + 20] for i in range(0, len(text), 20)) + b'\n'
out = b'junk' + b'QVF0' + struct.pack('>I', len(c)) + c
out += b'QVF1' + b'%08x' % len(rebroken) + rebroken
out += b'QVT0' + b'\x03' + struct.pack('>I', 3) + b'fun' + b'\x05' + struct.pack('>I', len(c)) + c
out += b'\x03' + struct.pack('>I', 4) + b'text' + b'\x05' + b'%08x' % len(text) + text
out += b'\x02' + struct.pack('>d', -7) + b'\x04' + b'\x02' + struct.pack('>d', 0) + b'\x03' + struct.pack('>I', 2) + b'ok' + b'\x00'
out += b'\x03' + struct.pack('>I', 300) + b'k' * 300 + b'\x02' + struct.pack('>d', 1.25)
out += b'\x00'
open('py.bin', 'wb').write(out)
)");
  std::string out = RunScript(R"(
do OpenFile(1, "py.bin")
do Seek(1, 4)
f = ReadFunction(1)
f(2)
f = ReadFunction(1)
f(3)
t = ReadTable(1)
t.fun(4)
t.text(5)
RawGet(RawGet(t, -7), 0)
RawGet(t, RepeatStr("k", 300))
Eof(1)
)");
  EXPECT_EQ(out,
            "f(2) 7\nf(3) 10\nt.fun(4) 13\nt.text(5) 16\nRawGet(RawGet(t, -7), 0) ok\n"
            "RawGet(t, RepeatStr(\"k\", 300)) 1.25\nEof(1) 1\n");
}

TEST_F(DosTest, CutAndCorruptRecordsGiveCodes) {
  qvasm::Result chunk = qvasm::Assemble(kTriple);
  ASSERT_TRUE(chunk.diags.empty());
  WriteFile("triple.qvb", chunk.bytes);
  // Each file holds one damaged record; the script reads each and prints the code.
  Python(R"(
import struct
c = open('triple.qvb', 'rb').read()
def num(v): return b'\x02' + struct.pack('>d', v)
def s(t): return b'\x03' + struct.pack('>I', len(t)) + t
cases = {
  'hugestr': b'QVT0' + num(1) + b'\x03' + struct.pack('>I', 0xFFFFFFF0) + b'ab',
  'hugekey': b'QVT0' + b'\x03' + struct.pack('>I', 0x7FFFFFFF) + b'ab',
  'hugefun': b'QVF0' + struct.pack('>I', 0xFFFFFFFF) + c,
  'deep': b'QVT0' + (num(1) + b'\x04') * 999 + b'\x00' * 1000,
  'deeper': b'QVT0' + (num(1) + b'\x04') * 1000 + b'\x00' * 1001,
  'badb64': b'QVF1' + b'%08x' % 8 + b'QUJD*A==',
  'cut64': b'QVF1' + b'%08x' % 6 + b'QUJDRA',
  'badlen': b'QVF1' + b'00 0008x' + b'QUJDRA==',
  'badchunk': b'QVF0' + struct.pack('>I', 8) + b'\x1bQVBxxxx',
  'cutchunk': b'QVF0' + struct.pack('>I', len(c) - 5) + c[:-5],
  'keytag': b'QVT0' + b'\x04' + b'\x00',
  'valtag': b'QVT0' + num(1) + b'\x07',
  'endval': b'QVT0' + num(1) + b'\x00',
  'nankey': b'QVT0' + b'\x02' + b'\x7f\xf8' + b'\x00' * 6 + num(1) + b'\x00',
  'cut': b'QVT0' + s(b'key') + b'\x03\x00\x00',
  'nomagic': b'QVT1\x00',
  'funmagic': b'QVF2',
}
for name, data in cases.items():
  open(name + '.bin', 'wb').write(data)
)");
  std::string out = RunScript(R"(
do OpenFile(1, "hugestr.bin")
ReadTable(1)
FilePos(1)
do OpenFile(1, "hugekey.bin")
ReadTable(1)
do OpenFile(1, "hugefun.bin")
ReadFunction(1)
do OpenFile(1, "deep.bin")
t = ReadTable(1)
Eof(1)
do OpenFile(1, "deeper.bin")
ReadTable(1)
do OpenFile(1, "badb64.bin")
ReadFunction(1)
do OpenFile(1, "cut64.bin")
ReadFunction(1)
do OpenFile(1, "badlen.bin")
ReadFunction(1)
do OpenFile(1, "badchunk.bin")
ReadFunction(1)
do OpenFile(1, "cutchunk.bin")
ReadFunction(1)
do OpenFile(1, "keytag.bin")
ReadTable(1)
do OpenFile(1, "valtag.bin")
ReadTable(1)
do OpenFile(1, "endval.bin")
ReadTable(1)
do OpenFile(1, "nankey.bin")
ReadTable(1)
do OpenFile(1, "cut.bin")
ReadTable(1)
do OpenFile(1, "nomagic.bin")
ReadTable(1)
do OpenFile(1, "funmagic.bin")
ReadFunction(1)
ReadTable(1)
)");
  EXPECT_EQ(out,
            "error 1242 ReadTable\nReadTable(1)\nFilePos(1) 18\n"
            "error 1242 ReadTable\nReadTable(1)\n"
            "error 1242 ReadFunction\nReadFunction(1)\n"
            "Eof(1) 1\n"
            "error 1135 ReadTable\nReadTable(1)\n"
            "error 1323 ReadFunction\nReadFunction(1)\n"
            "error 1323 ReadFunction\nReadFunction(1)\n"
            "error 1322 ReadFunction\nReadFunction(1)\n"
            "error 1199 ReadFunction\nReadFunction(1)\n"
            "error 1198 ReadFunction\nReadFunction(1)\n"
            "error 1328 ReadTable\nReadTable(1)\n"
            "error 1328 ReadTable\nReadTable(1)\n"
            "error 1328 ReadTable\nReadTable(1)\n"
            "error 1328 ReadTable\nReadTable(1)\n"
            "error 1242 ReadTable\nReadTable(1)\n"
            "error 1328 ReadTable\nReadTable(1)\n"
            "error 1322 ReadFunction\nReadFunction(1)\n"
            "error 1242 ReadTable\nReadTable(1)\n");
}

TEST_F(DosTest, TablesTheStreamCannotHoldAreRefused) {
  std::string out = RunScript(R"(
do OpenFile(1, "w.bin", 1006)
t = {}
u = {t}
do RawSet(t, "loop", u)
WriteTable(1, u)
deep = {}
for i = 1, 1000
  deep = {deep}
end
WriteTable(1, deep)
deep = {}
for i = 1, 999
  deep = {deep}
end
WriteTable(1, deep)
WriteTable(1, {[t] = 1})
WriteFunction(1, DebugPrint)
WriteTable(1, {f = DebugPrint, a = {1, 2, 3}})
WriteTable(1, {a = {1, 2, 3}, b = {c = {"x"}, d = u}})
do CloseFile(1)
do OpenFile(2, "only.bin", 1006)
do WriteTable(2, deep)
do CloseFile(2)
)");
  EXPECT_EQ(out,
            "error 1055 WriteTable\nWriteTable(1, u)\nerror 1135 WriteTable\nWriteTable(1, deep)\n"
            "WriteTable(1, deep)\nerror 1055 WriteTable\nWriteTable(1, {[t] = 1})\n"
            "error 1324 WriteFunction\nWriteFunction(1, DebugPrint)\n"
            "error 1324 WriteTable\nWriteTable(1, {f = DebugPrint, a = {1, 2, 3}})\n"
            "error 1055 WriteTable\nWriteTable(1, {a = {1, 2, 3}, b = {c = {\"x\"}, d = u}})\n");
  // A refused table leaves no partial record: the file holds the one table written whole.
  EXPECT_TRUE(ReadFile("w.bin") == ReadFile("only.bin"));
  EXPECT_GT(ReadFile("only.bin").size(), 1000u);
}

}  // namespace
}  // namespace qv::testing
