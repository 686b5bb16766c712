// Whole files, virtual files, patches, checksums and memory blocks through the player, checked
// against python3 (hashlib, zlib and its own arithmetic).
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

TEST_F(DosTest, ChecksumsOfFilesEqualHashlibAndZlib) {
  Python(R"(
open('empty', 'wb').close()
open('abc', 'wb').write(b'abc')
import random
r = random.Random(7)
with open('big', 'wb') as f:
  for i in range(100):
    f.write(r.randbytes(1 << 20))
)");
  std::string out = RunScript(R"(
MD5("empty")
CRC32("empty")
MD5("abc")
CRC32("abc")
CRC32Str("abc")
MD5("big")
CRC32("big")
MD5("")
CRC32("none")
)");
  std::string want = Python(R"(
import hashlib, zlib
for n in ['empty', 'abc']:
  b = open(n, 'rb').read()
  print('MD5("%s") %s' % (n, hashlib.md5(b).hexdigest()))
  print('CRC32("%s") %d' % (n, zlib.crc32(b)))
print('CRC32Str("abc") %d' % zlib.crc32(b'abc'))
b = open('big', 'rb').read()
print('MD5("big") %s' % hashlib.md5(b).hexdigest())
print('CRC32("big") %d' % zlib.crc32(b))
)");
  EXPECT_EQ(out, want + "error 1055 MD5\nMD5(\"\")\nerror 1045 CRC32\nCRC32(\"none\")\n");
}

TEST_F(DosTest, VirtualFilesReadThroughEveryCommand) {
  Python("open('box.bin', 'wb').write(b'HEAD' + b'ab\\r\\ncd\\nef' + b'TAIL')\n");
  std::string out = RunScript(R"(
v = DefineVirtualFile("box.bin", 4, 9, "inner.txt")
FilePart(v)
FileSize(v)
Exists(v)
FileToString(v)
MD5(v)
do OpenFile(1, v)
ReadChr(1)
ReadLine(1)
ReadString(1, 2)
ReadLine(1)
ReadLine(1)
FileLength(1)
for l in FileLines(v)
  l
end
s = DefineVirtualFileFromString("one\ntwo", "mem.txt")
FilePart(s)
do OpenFile(2, s)
ReadLine(2)
do UndefineVirtualStringFile(s)
ReadLine(2)
OpenFile(3, s)
UndefineVirtualStringFile(s)
UndefineVirtualStringFile("box.bin")
DefineVirtualFileFromString("", "x")
DefineVirtualFile("box.bin", 0, 0, "x")
do CopyFile(v, "out")
FileToString("out/inner.txt")
OpenFile(4, v, 1006)
)");
  EXPECT_EQ(out,
            "FilePart(v) inner.txt\nFileSize(v) 9\nExists(v) 1\nFileToString(v) ab\r\ncd\nef 9\n"
            "MD5(v) " +
                Python("import hashlib\nprint(hashlib.md5(b'ab\\r\\ncd\\nef').hexdigest())\n") +
                "ReadChr(1) 97\nReadLine(1) b\nReadString(1, 2) cd\nReadLine(1) \n"
                "ReadLine(1) ef\nFileLength(1) 9\nl ab\nl cd\nl ef\nFilePart(s) mem.txt\n"
                "ReadLine(2) one\nReadLine(2) two\nerror 1045 OpenFile\nOpenFile(3, s)\n"
                "error 1055 UndefineVirtualStringFile\nUndefineVirtualStringFile(s)\n"
                "error 1055 UndefineVirtualStringFile\nUndefineVirtualStringFile(\"box.bin\")\n"
                "error 1055 DefineVirtualFileFromString\nDefineVirtualFileFromString(\"\", \"x\")\n"
                "error 1055 DefineVirtualFile\nDefineVirtualFile(\"box.bin\", 0, 0, \"x\")\n"
                "FileToString(\"out/inner.txt\") ab\r\ncd\nef 9\n"
                "error 1052 OpenFile\nOpenFile(4, v, 1006)\n");
}

TEST_F(DosTest, ApplyPatchAndWholeFiles) {
  Python(R"(
import random
r = random.Random(3)
open('src.bin', 'wb').write(r.randbytes(250))
open('patch.bin', 'wb').write(r.randbytes(100))
)");
  std::string out = RunScript(R"(
n = 0
function progress(m)
  n = Add(n, 1)
  last = m.progress
end
do OpenFile(1, "src.bin")
do OpenFile(2, "patch.bin")
do OpenFile(3, "out.bin", 1006)
do ApplyPatch(1, 2, 3, @progress)
n
last
FilePos(2)
FileLength(3)
do CloseFile(3)
do OpenFile(1, "src.bin")
do OpenFile(3, "out2.bin", 1006)
do ApplyPatch(1, 1, 3)
ApplyPatch(3, 2, 1)
do StringToFile("a\0b", "s.bin")
StrLen(FileToString("s.bin"))
StringToFile("x", "no/dir/s.bin")
)");
  EXPECT_EQ(out,
            "n 100\nlast 100\nFilePos(2) 100\nFileLength(3) 250\n"
            "error 1142 ApplyPatch\nApplyPatch(3, 2, 1)\nStrLen(FileToString(\"s.bin\")) 3\n"
            "error 1052 StringToFile\nStringToFile(\"x\", \"no/dir/s.bin\")\n");
  EXPECT_EQ(Python(R"(
s = open('src.bin', 'rb').read(); p = open('patch.bin', 'rb').read()
want = bytes(a ^ b for a, b in zip(s, p)) + bytes(255 - a for a in s[len(p):])
print(open('out.bin', 'rb').read() == want, open('out2.bin', 'rb').read() == bytes(255 - a for a in s))
print(open('s.bin', 'rb').read())
import os
print(sorted(f for f in os.listdir('.') if f.startswith('.')))
)"),
            "True True\nb'a\\x00b'\n[]\n");
}

// StringToFile writes the whole file beside the old one and renames it over it, but a link stays a
// link (the file it names gets the bytes), hard-linked names keep sharing one file, and the file
// keeps its mode and owner; a directory cannot be opened for writing.
TEST_F(DosTest, StringToFileKeepsLinksModeAndOwner) {
  Python(R"(
import os
os.mkdir('sub')
open('target.txt', 'w').write('old')
os.symlink('../target.txt', 'sub/link.txt')
open('one.txt', 'w').write('old')
os.link('one.txt', 'two.txt')
open('owned.txt', 'w').write('old')
os.chmod('owned.txt', 0o640)
if os.geteuid() == 0:
    os.chown('owned.txt', 65534, 65534)
os.mkdir('adir')
)");
  std::string out = RunScript(R"(
do StringToFile("through the link", "sub/link.txt")
do StringToFile("both names", "two.txt")
do StringToFile("same owner", "owned.txt")
StringToFile("x", "adir")
)");
  EXPECT_EQ(out, "error 1052 StringToFile\nStringToFile(\"x\", \"adir\")\n");
  EXPECT_EQ(Python(R"(
import os
print(os.path.islink('sub/link.txt'), open('target.txt').read())
print(open('one.txt').read(), os.stat('one.txt').st_ino == os.stat('two.txt').st_ino)
st = os.stat('owned.txt')
print(open('owned.txt').read(), oct(st.st_mode & 0o7777), st.st_uid == (65534 if os.geteuid() == 0 else os.geteuid()))
print(os.path.isdir('adir'), sorted(f for d in ('.', 'sub') for f in os.listdir(d) if f.startswith('.')))
)"),
            "True through the link\nboth names True\nsame owner 0o640 True\nTrue []\n");
}

TEST_F(DosTest, MemoryBlocks) {
  Python("open('data.bin', 'wb').write(bytes(range(40)))\n");
  std::string out = RunScript(R"(
do AllocMem(1, 20)
do FillMem(1, 0, 20)
do Poke(1, 0, 305419896)
Peek(1, 2, 6)
Peek(1, 0)
do Poke(1, 4, -1)
Peek(1, 4)
Peek(1, 16)
Peek(1, 17)
Peek(1, -1, 7)
do Poke(1, 8, "Hi you", 3)
Peek(1, 8, 3)
Peek(1, 8, 3, 2)
FillMem(1, 1, 6, 0, 1)
FillMem(1, 1, 4, 1, 6)
FillMem(1, 1, 4, 18, 6)
do FillMem(1, 258, 4, 16, 6)
Peek(1, 16)
CopyMem(1, 1, 4)
h = AllocMem(Nil, 8)
do CopyMem(1, h, 4, 16, 4)
Peek(h, 4)
CopyMem(1, h, 4, 0, 5)
Peek(1, 2147483647, 7)
Peek(1, 2147483645)
Poke(1, 2147483647, "x", 3)
Peek(1, 0, 9)
do DumpMem(1)
do DumpMem(1, 3, 17)
h2 = OpenFile(Nil, "data.bin")
do ReadMem(h2, 1, 16, 4)
FilePos(h2)
ReadMem(h2, 1, 30)
ReadMem(h2, 1, 25, 0)
FilePos(h2)
do OpenFile(3, "w.bin", 1006)
do WriteMem(3, 1, 20)
FilePos(3)
FileLength(3)
WriteMem(h2, 1, 1)
FreeMem(5)
do FreeMem(h)
Peek(h, 0)
)");
  EXPECT_EQ(out,
            "Peek(1, 2, 6) 22136\nPeek(1, 0) 305419896\nPeek(1, 4) 4294967295\nPeek(1, 16) 0\n"
            "error 1146 Peek\nPeek(1, 17)\nerror 1146 Peek\nPeek(1, -1, 7)\n"
            "Peek(1, 8, 3) Hi you\nPeek(1, 8, 3, 2) Hi\n"
            "error 1055 FillMem\nFillMem(1, 1, 6, 0, 1)\nerror 1055 FillMem\n"
            "FillMem(1, 1, 4, 1, 6)\nerror 1146 FillMem\nFillMem(1, 1, 4, 18, 6)\n"
            "Peek(1, 16) 16908546\nerror 1055 CopyMem\nCopyMem(1, 1, 4)\nPeek(h, 4) 16908546\n"
            "error 1146 CopyMem\nCopyMem(1, h, 4, 0, 5)\nerror 1146 Peek\n"
            "Peek(1, 2147483647, 7)\nerror 1146 Peek\nPeek(1, 2147483645)\n"
            "error 1146 Poke\nPoke(1, 2147483647, \"x\", 3)\nerror 1055 Peek\nPeek(1, 0, 9)\n"
            // 0xFF is a graphic character of ISO-8859-1.
            "00000000: 12 34 56 78 ff ff ff ff 48 69 20 79 6f 75 00 00 .4Vx\xff\xff\xff\xff"
            "Hi you..\n"
            "00000010: 01 02 01 02                                     ....\n"
            "00000011: 02 01 02                                        ...\n"
            "FilePos(h2) 16\nerror 1146 ReadMem\nReadMem(h2, 1, 30)\nerror 1146 ReadMem\n"
            "ReadMem(h2, 1, 25, 0)\nFilePos(h2) 16\nFilePos(3) 20\nFileLength(3) 20\n"
            "error 1141 WriteMem\nWriteMem(h2, 1, 1)\nerror 1180 FreeMem\nFreeMem(5)\n"
            "error 1041 Peek\nPeek(h, 0)\n");
  EXPECT_EQ(Python("print(open('w.bin', 'rb').read().hex())\n"),
            "12345678000102030405060708090a0b0c0d0e0f\n");
}

}  // namespace
}  // namespace qv::testing
