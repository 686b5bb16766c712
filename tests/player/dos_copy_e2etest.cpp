// Copying and deleting through the player: wildcard patterns, pattern lists and the directory
// filter, every callback action and answer, aborts that leave the old target whole, links that
// are never followed, copies onto themselves; the tree is made and checked by python3.
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

TEST_F(DosTest, MatchPatternCases) {
  std::string longList;
  for (int i = 0; i < 300; ++i) longList += "*.x" + std::to_string(i) + ";";
  longList += "*.txt";
  std::string out = RunScript(R"(
MatchPattern("file10.txt", "file#?.txt")
MatchPattern("file1.txt", "file#?.txt")
MatchPattern("file10.txt", "*.TXT")
MatchPattern("file10.txt", "*.doc;*.txt")
MatchPattern("d", "[!a-c]")
MatchPattern("b", "[!a-c]")
MatchPattern("]", "[]x]")
MatchPattern("x", "[]x]")
MatchPattern("[ab", "[ab")
MatchPattern("-", "[a-]")
MatchPattern("anything", "")
MatchPattern("", "")
MatchPattern("", "*")
MatchPattern("abcabcabd", "*abd")
MatchPattern("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*c")
MatchPattern("a.txt", ")" + longList +
                              R"(")
)");
  EXPECT_EQ(out,
            "MatchPattern(\"file10.txt\", \"file#?.txt\") 1\n"
            "MatchPattern(\"file1.txt\", \"file#?.txt\") 0\n"
            "MatchPattern(\"file10.txt\", \"*.TXT\") 0\n"
            "MatchPattern(\"file10.txt\", \"*.doc;*.txt\") 1\n"
            "MatchPattern(\"d\", \"[!a-c]\") 1\nMatchPattern(\"b\", \"[!a-c]\") 0\n"
            "MatchPattern(\"]\", \"[]x]\") 1\nMatchPattern(\"x\", \"[]x]\") 1\n"
            "MatchPattern(\"[ab\", \"[ab\") 1\nMatchPattern(\"-\", \"[a-]\") 1\n"
            "MatchPattern(\"anything\", \"\") 0\nMatchPattern(\"\", \"\") 0\n"
            "MatchPattern(\"\", \"*\") 1\nMatchPattern(\"abcabcabd\", \"*abd\") 1\n"
            "MatchPattern(\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab\", "
            "\"*a*a*a*a*a*a*a*a*a*a*c\") 0\n"
            "MatchPattern(\"a.txt\", \"" +
                longList + "\") 1\n");
}

constexpr char kTree[] = R"(
import os
os.makedirs('src/docs/old'); os.makedirs('src/img'); os.makedirs('outside/keep')
for n in ['a.txt', 'b.doc', 'docs/c.txt', 'docs/old/d.txt', 'img/e.png']:
  open('src/' + n, 'w').write(n * 3)
open('outside/keep/precious.txt', 'w').write('mine')
os.symlink(os.path.abspath('outside'), 'src/link')
os.symlink('a.txt', 'src/alias.txt')
os.utime('src/a.txt', (1000000000, 1000000000))
)";

// Every file under a directory with its bytes or link text, as python3 sees it.
constexpr char kList[] = R"(
import os, sys
for root in sys.argv[1:] if len(sys.argv) > 1 else ['dst']:
  for d, dirs, files in sorted(os.walk(root)):
    dirs.sort()
    for n in sorted(files + [x for x in dirs if os.path.islink(os.path.join(d, x))]):
      p = os.path.join(d, n)
      print(p, '->' + os.readlink(p) if os.path.islink(p) else open(p).read())
)";

TEST_F(DosTest, CopyFileTreesWithPatternsAndTheFilter) {
  Python(kTree);
  std::string out = RunScript(R"(
do CopyFile("src", "dst")
do CopyFile("src/", "pat", Nil, Nil, Nil, "*.txt;docs")
do CopyFile("src", "nofilter", Nil, Nil, Nil, "*.txt", 0)
do CopyFile("src/a.txt", "one/two", "renamed.txt")
CopyFile("src/a.txt", "dst", Nil, Nil, Nil, "*.txt")
CopyFile("src", "dst", "x")
CopyFile("src/a.txt", "src")
CopyFile("", "")
CopyFile("src/none", "dst")
)");
  EXPECT_EQ(out,
            "error 1481 CopyFile\nCopyFile(\"src/a.txt\", \"dst\", Nil, Nil, Nil, \"*.txt\")\n"
            "error 1055 CopyFile\nCopyFile(\"src\", \"dst\", \"x\")\n"
            "error 1055 CopyFile\nCopyFile(\"src/a.txt\", \"src\")\n"
            "error 1055 CopyFile\nCopyFile(\"\", \"\")\n"
            "error 1286 CopyFile\nCopyFile(\"src/none\", \"dst\")\n");
  std::string listing = Python(std::string(kList) + "\n");
  EXPECT_EQ(listing,
            "dst/a.txt a.txta.txta.txt\ndst/alias.txt ->a.txt\ndst/b.doc b.docb.docb.doc\n"
            "dst/link ->" +
                std::filesystem::canonical(dir_).string() +
                "/outside\n"
                "dst/docs/c.txt docs/c.txtdocs/c.txtdocs/c.txt\n"
                "dst/docs/old/d.txt docs/old/d.txtdocs/old/d.txtdocs/old/d.txt\n"
                "dst/img/e.png img/e.pngimg/e.pngimg/e.png\n");
  WriteFile("list.py", std::string(kList));
  EXPECT_EQ(Python("import subprocess\nfor r in ['pat', 'nofilter', 'one']:\n"
                   "  print(subprocess.run(['python3', 'list.py', r], capture_output=True, "
                   "text=True).stdout, end='')\n"
                   "import os\nprint(os.stat('dst/a.txt').st_mtime)\n"),
            "pat/a.txt a.txta.txta.txt\npat/alias.txt ->a.txt\n"
            "pat/docs/c.txt docs/c.txtdocs/c.txtdocs/c.txt\n"
            "nofilter/a.txt a.txta.txta.txt\nnofilter/alias.txt ->a.txt\n"
            "nofilter/docs/c.txt docs/c.txtdocs/c.txtdocs/c.txt\n"
            "nofilter/docs/old/d.txt docs/old/d.txtdocs/old/d.txtdocs/old/d.txt\n"
            "one/two/renamed.txt a.txta.txta.txt\n1000000000.0\n");
  // The link to a directory outside was copied as a link, not through.
  EXPECT_FALSE(Exists("dst/link/keep/precious.txt") &&
               !std::filesystem::is_symlink(Path("dst/link")));
}

TEST_F(DosTest, CopyCallbacksAnswerEveryQuestion) {
  Python(R"(
import os
os.makedirs('src'); os.makedirs('dst')
open('src/big.bin', 'wb').write(bytes(range(256)) * 200)
open('src/small.txt', 'w').write('new')
open('dst/big.bin', 'wb').write(b'old big')
open('dst/small.txt', 'w').write('old small')
os.chmod('dst/small.txt', 0o444)
)");
  std::string out = RunScript(R"(
function skip(m)
  do DebugPrint("ask", m.action, FilePart(m.destination), RawGet(m, "userdata"))
  return 0
end
do CopyFile("src/big.bin", "dst", Nil, @skip, "u1")
do CopyFile("src/small.txt", "dst", Nil, @skip)
do CopyFile("src/small.txt", "dst")
function abort(m)
  do DebugPrint("abort", m.action, RawGet(m, "copied"), RawGet(m, "filesize"))
  return RawGet({1, 2}, m.action)
end
do CopyFile("src/big.bin", "dst", Nil, @abort, Nil)
function go(m)
  return 2
end
do CopyFile("src/small.txt", "dst", Nil, @go)
function fail(m)
  return Error("boom")
end
CopyFile("src/big.bin", "dst", "c.bin", @fail)
)");
  EXPECT_EQ(out,
            "ask 1 big.bin u1\nask 1 small.txt Nil\nabort 1 Nil Nil\nabort 0 16384 51200\n"
            "error 1239 Error\n"
            "CopyFile(\"src/big.bin\", \"dst\", \"c.bin\", @fail)\n");
  EXPECT_EQ(Python(R"(
import os, stat
print(open('dst/big.bin', 'rb').read())
print(open('dst/small.txt').read(), bool(os.stat('dst/small.txt').st_mode & stat.S_IWUSR))
print(sorted(os.listdir('dst')))
)"),
            "b'old big'\nnew True\n['big.bin', 'small.txt']\n");
}

TEST_F(DosTest, DeleteFileWithPatternsCallbacksAndLinks) {
  Python(kTree);
  Python("import os\nos.chmod('src/b.doc', 0o444)\n");
  std::string out = RunScript(R"(
function status(m)
  do DebugPrint(m.action, FilePart(m.file), RawGet(m, "userdata"))
  return RawGet({2, 0}, m.action)
end
do DeleteFile("src/docs/", @status, Nil, "*.txt", 0)
Exists("src/docs/old")
do DeleteFile("src/", Nil, Nil, "*.doc")
Exists("src/b.doc")
do DeleteFile("src/", @status, "ud", "*.doc")
DeleteFile("src/a.txt", Nil, Nil, "*")
DeleteFile("")
DeleteFile("src/none")
function stop(m)
  return 1
end
do DeleteFile("src", @stop)
Exists("src/a.txt")
do DeleteFile("src")
Exists("src")
)");
  EXPECT_EQ(out,
            "0 c.txt Nil\n0 d.txt Nil\nExists(\"src/docs/old\") 1\nExists(\"src/b.doc\") 1\n"
            "1 b.doc ud\nerror 1481 DeleteFile\nDeleteFile(\"src/a.txt\", Nil, Nil, \"*\")\n"
            "error 1055 DeleteFile\nDeleteFile(\"\")\nerror 1286 DeleteFile\n"
            "DeleteFile(\"src/none\")\nExists(\"src/a.txt\") 1\nExists(\"src\") 1\n");
  // The protected file stays, so does its directory; the link went, not what it points to.
  EXPECT_EQ(
      Python("import os\nprint(open('outside/keep/precious.txt').read(), os.listdir('src'))\n"),
      "mine ['b.doc']\n");
}

}  // namespace
}  // namespace qv::testing
