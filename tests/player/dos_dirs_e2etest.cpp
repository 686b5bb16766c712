// Paths, directories, attributes and programs through the player: listings in order with their
// "" ends, the parts of paths, directories made with every level, renaming in place, dates and
// the read-only flag as python3's os.stat sees them, temporary names, programs that are waited
// for or not, linked programs run from one temporary copy, and the environment they get.
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

TEST_F(DosTest, ReadDirectoryListsInOrderWithEmptyEnds) {
  Python(R"(
import os
os.makedirs('d/Zed'); os.makedirs('d/alpha'); os.makedirs('empty')
for n in ['b.txt', 'A.txt', 'c', '.hidden']: open('d/' + n, 'w').write(n)
)");
  std::string out = RunScript(R"(
f = {}
ds = {}
ReadDirectory("d", f, ds)
ListItems(f)
RawGet(f, 0)
RawGet(f, 1)
RawGet(f, 2)
StrLen(RawGet(f, 3))
RawGet(ds, 0)
RawGet(ds, 1)
StrLen(RawGet(ds, 2))
e = {7, 8}
ReadDirectory("empty", e, e)
StrLen(RawGet(e, 0))
RawGet(e, 1)
ReadDirectory("missing", f, ds)
ReadDirectory("d/c", f, ds)
)");
  EXPECT_EQ(out,
            "ReadDirectory(\"d\", f, ds) 3 2\nListItems(f) 4\nRawGet(f, 0) A.txt\n"
            "RawGet(f, 1) b.txt\nRawGet(f, 2) c\nStrLen(RawGet(f, 3)) 0\nRawGet(ds, 0) Zed\n"
            "RawGet(ds, 1) alpha\nStrLen(RawGet(ds, 2)) 0\nReadDirectory(\"empty\", e, e) 0 0\n"
            "StrLen(RawGet(e, 0)) 0\nRawGet(e, 1) 8\nerror 1286 ReadDirectory\n"
            "ReadDirectory(\"missing\", f, ds)\nerror 1250 ReadDirectory\n"
            "ReadDirectory(\"d/c\", f, ds)\n");
}

TEST_F(DosTest, PathsAndPlaces) {
  Python(
      "import os\nos.makedirs('dir/sub')\nopen('dir/a.txt', 'w').write('12345')\n"
      "open('dir/taken.txt', 'w').write('x')\nopen('plain', 'w').write('')\n");
  std::string out = RunScript(R"(
PathPart("a/b/c.txt")
PathPart("c:x")
PathPart("x")
PathPart("a\\b")
FilePart("a/b/c.txt")
FullPath("dir", "a.txt")
FullPath("dir/", "a.txt")
Exists("dir/a.txt")
Exists("dir/none")
Exists("")
FileSize("dir/a.txt")
FileSize("dir/none")
IsDirectory("dir/sub")
IsDirectory("dir/a.txt")
IsDirectory("dir/none")
do Rename("dir/a.txt", "other/b.txt")
Exists("dir/b.txt")
Rename("dir/b.txt", "taken.txt")
Rename("dir/none", "x.txt")
do MakeDirectory("new/one/two/")
IsDirectory("new/one/two")
MakeDirectory("plain/x/y")
ChangeDirectory("nowhere")
do ChangeDirectory("dir/sub")
StrLen(PathPart(GetCurrentDirectory()))
FilePart(GetCurrentDirectory())
Exists("../taken.txt")
Sgn(GetVolumeInfo(".", 1))
Sgn(GetVolumeInfo(".", 0))
GetVolumeName("/")
GetVolumeInfo("", 1)
)");
  EXPECT_EQ(out,
            "PathPart(\"a/b/c.txt\") a/b/\nPathPart(\"c:x\") c:\nPathPart(\"x\") \n"
            "PathPart(\"a\\\\b\") a\\\nFilePart(\"a/b/c.txt\") c.txt\n"
            "FullPath(\"dir\", \"a.txt\") dir/a.txt\nFullPath(\"dir/\", \"a.txt\") dir/a.txt\n"
            "Exists(\"dir/a.txt\") 1\nExists(\"dir/none\") 0\nExists(\"\") 0\n"
            "FileSize(\"dir/a.txt\") 5\nFileSize(\"dir/none\") -1\nIsDirectory(\"dir/sub\") 1\n"
            "IsDirectory(\"dir/a.txt\") 0\nerror 1286 IsDirectory\nIsDirectory(\"dir/none\")\n"
            "Exists(\"dir/b.txt\") 1\nerror 1145 Rename\nRename(\"dir/b.txt\", \"taken.txt\")\n"
            "error 1145 Rename\nRename(\"dir/none\", \"x.txt\")\nIsDirectory(\"new/one/two\") 1\n"
            "error 1084 MakeDirectory\nMakeDirectory(\"plain/x/y\")\n"
            "error 1286 ChangeDirectory\nChangeDirectory(\"nowhere\")\n"
            "StrLen(PathPart(GetCurrentDirectory())) " +
                std::to_string(std::filesystem::canonical(dir_).string().size() + 5) +
                "\nFilePart(GetCurrentDirectory()) sub\nExists(\"../taken.txt\") 1\n"
                "Sgn(GetVolumeInfo(\".\", 1)) 1\nSgn(GetVolumeInfo(\".\", 0)) 1\n"
                "GetVolumeName(\"/\") /\nerror 1055 GetVolumeInfo\nGetVolumeInfo(\"\", 1)\n");
  EXPECT_EQ(Python("print(open('dir/taken.txt').read())\n"), "x\n");
}

TEST_F(DosTest, DatesAndTheReadOnlyFlagAsOsStatSeesThem) {
  Python("open('f.txt', 'w').write('abc')\n");
  std::string out = RunScript(R"(
do SetFileAttributes("f.txt", {time = "05-Mar-2021 07:08:09", lastaccesstime = "31-dec-1999 23:59:59", flags = 32768})
a = GetFileAttributes("f.txt")
a.time
a.lastaccesstime
a.flags
a.size
a.type
a.virtual
FilePart(a.path)
SetFileAttributes("f.txt", {time = "5-Mar-2021 07:08:09"})
SetFileAttributes("f.txt", {time = "05-Mar-2021 24:08:09"})
SetFileAttributes("f.txt", {time = "05-Mxr-2021 07:08:09"})
SetFileAttributes("none.txt", {flags = 0})
)");
  EXPECT_EQ(
      out,
      "a.time 05-Mar-2021 07:08:09\na.lastaccesstime 31-Dec-1999 23:59:59\n"
      "a.flags 32768\na.size 3\na.type 0\na.virtual 0\nFilePart(a.path) f.txt\n"
      "error 1285 SetFileAttributes\nSetFileAttributes(\"f.txt\", {time = \"5-Mar-2021 "
      "07:08:09\"})\nerror 1285 SetFileAttributes\nSetFileAttributes(\"f.txt\", {time = "
      "\"05-Mar-2021 24:08:09\"})\nerror 1285 SetFileAttributes\nSetFileAttributes(\"f.txt\", "
      "{time = \"05-Mxr-2021 07:08:09\"})\nerror 1286 SetFileAttributes\n"
      "SetFileAttributes(\"none.txt\", {flags = 0})\n");
  EXPECT_EQ(Python(R"(
import os, time, stat
st = os.stat('f.txt')
print(time.strftime('%d-%b-%Y %H:%M:%S', time.localtime(st.st_mtime)))
print(time.strftime('%d-%b-%Y %H:%M:%S', time.localtime(st.st_atime)))
print(bool(st.st_mode & stat.S_IWUSR))
)"),
            "05-Mar-2021 07:08:09\n31-Dec-1999 23:59:59\nFalse\n");
  out = RunScript(R"(
do SetFileAttributes("f.txt", {flags = 65536})
a = GetFileAttributes("f.txt")
a.flags
)");
  EXPECT_EQ(out, "a.flags 0\n");
  EXPECT_EQ(Python("import os, stat\nprint(bool(os.stat('f.txt').st_mode & stat.S_IWUSR))\n"),
            "True\n");
}

TEST_F(DosTest, DirectoryObjectsStepThroughEntries) {
  Python("import os\nos.makedirs('d/sub')\nopen('d/x.bin', 'wb').write(b'1234')\n");
  std::string out = RunScript(R"(
h = OpenDirectory(Nil, "d")
e = NextDirectoryEntry(h)
e.name
e.type
RawGet(e, "size")
e = NextDirectoryEntry(h)
e.name
e.type
e.size
NextDirectoryEntry(h)
NextDirectoryEntry(h)
do CloseDirectory(h)
NextDirectoryEntry(h)
NextDirectoryEntry(3)
OpenDirectory(3, "d/x.bin")
)");
  EXPECT_EQ(out,
            "e.name sub\ne.type 1\nRawGet(e, \"size\") Nil\ne.name x.bin\ne.type 0\ne.size 4\n"
            "NextDirectoryEntry(h)\nNextDirectoryEntry(h)\nerror 1041 NextDirectoryEntry\n"
            "NextDirectoryEntry(h)\nerror 1318 NextDirectoryEntry\nNextDirectoryEntry(3)\n"
            "error 1250 OpenDirectory\nOpenDirectory(3, \"d/x.bin\")\n");
}

TEST_F(DosTest, ProgramsAreWaitedForOrNotAndGetTheEnvironment) {
  std::string out = RunScript(R"(
GetEnv("QV_DOS_TEST")
do SetEnv("QV_DOS_TEST", "hello there")
GetEnv("QV_DOS_TEST")
do Execute("sh -c \"sleep 0.2; echo $QV_DOS_TEST > waited.txt\"")
Exists("waited.txt")
do Run("sh -c \"sleep 1; echo late > later.txt\"")
Exists("later.txt")
do UnsetEnv("QV_DOS_TEST")
GetEnv("QV_DOS_TEST")
SetEnv("", "x")
SetEnv("A=B", "x")
UnsetEnv("A=B")
Execute("")
Execute("\"unclosed")
Execute("no-such-program-here")
)");
  EXPECT_EQ(out,
            "GetEnv(\"QV_DOS_TEST\")  0\nGetEnv(\"QV_DOS_TEST\") hello there 1\n"
            "Exists(\"waited.txt\") 1\nExists(\"later.txt\") 0\nGetEnv(\"QV_DOS_TEST\")  0\n"
            "error 1440 SetEnv\nSetEnv(\"\", \"x\")\nerror 1440 SetEnv\nSetEnv(\"A=B\", \"x\")\n"
            "error 1441 UnsetEnv\nUnsetEnv(\"A=B\")\nerror 1055 Execute\nExecute(\"\")\n"
            "error 1055 Execute\nExecute(\"\\\"unclosed\")\nerror 1213 Execute\n"
            "Execute(\"no-such-program-here\")\n");
  EXPECT_EQ(Python("print(open('waited.txt').read().strip())\n"), "hello there\n");
}

TEST_F(DosTest, ALinkedScriptRunsFromOneTemporaryCopy) {
  WriteFile("tool.sh", "#!/bin/sh\necho \"$0 $1\" >> " + Path("runs.txt") + "\n");
  std::string out = RunScript(".link \"tool.sh\" \"" + Path("tool.sh") + R"("
do Execute("tool.sh first")
do Execute("tool.sh second")
t = GetTempFileName()
Exists(t)
do StringToFile("x", t)
Exists(t)
)");
  EXPECT_EQ(out, "Exists(t) 0\nExists(t) 1\n");
  EXPECT_EQ(Python(R"(
lines = open('runs.txt').read().split('\n')[:-1]
a, b = (l.split(' ') for l in lines)
print(len(lines), a[0] == b[0], a[0].endswith('.sh'), a[0].startswith('/'), a[1], b[1])
)"),
            "2 True True True first second\n");
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace qv::testing
