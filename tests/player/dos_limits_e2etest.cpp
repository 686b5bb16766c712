// The dos library at its limits, through the player: a directory of 50,000 levels, a full path
// past the longest name, a file that shrinks while it is read.
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

// A path deeper than the file routines take is refused whole: nothing of it is left behind,
// where the levels up to the system's limit stayed before. One that fits is made.
TEST_F(DosTest, MakeDirectoryMakesAllLevelsOrNone) {
  std::string deep;
  for (int i = 0; i < 50000; ++i) deep += "d/";
  std::string fits;
  for (int i = 0; i < 500; ++i) fits += "e/";
  WriteFile("file", "a file in the way");
  std::string out = RunScript("do MakeDirectory(\"" + deep + "\")\ndo MakeDirectory(\"" + fits +
                              "\")\ndo MakeDirectory(\"f/g/../../file/x\")\n"
                              "do MakeDirectory(\"i/../file/k\")\n");
  EXPECT_EQ(out, "error 1084 MakeDirectory\nerror 1084 MakeDirectory\nerror 1084 MakeDirectory\n");
  EXPECT_FALSE(Exists("d"));
  EXPECT_TRUE(std::filesystem::is_directory(Path(fits)));
  // The levels made before the file in the way went again; a level that was there stays.
  EXPECT_FALSE(Exists("f"));
  EXPECT_FALSE(Exists("i"));
  EXPECT_EQ(ReadFile("file"), "a file in the way");
}

// A full path longer than the longest name is an error, not a name cut at 1,023 characters.
TEST_F(DosTest, FullPathPastTheLongestNameIsRefused) {
  std::string dir(1000, 'a'), name(23, 'b');
  std::string out = RunScript("FullPath(\"" + dir + "\", \"" + name.substr(0, 22) +
                              "\")\nFullPath(\"" + dir + "\", \"" + name + "\")\nFullPath(\"" +
                              std::string(1100, 'c') + "\", \"x\")\n");
  EXPECT_EQ(out, "FullPath(\"" + dir + "\", \"" + name.substr(0, 22) + "\") " + dir + "/" +
                     name.substr(0, 22) + "\nerror 1373 FullPath\nFullPath(\"" + dir + "\", \"" +
                     name + "\")\nerror 1373 FullPath\nFullPath(\"" + std::string(1100, 'c') +
                     "\", \"x\")\n");
}

// The file is emptied by a second handle after the first took its length: each read says that the
// file ended, not that it may be read protected.
TEST_F(DosTest, AFileThatShrinksWhileReadSaysItEnded) {
  WriteFile("f", std::string(100000, 'x') + "\n");
  std::string out = RunScript(R"(
do OpenFile(1, "f")
FileLength(1)
do OpenFile(2, "f", 1006)
ReadChr(1)
ReadString(1, 5000)
ReadLine(1)
ReadInt(1)
ReadTable(1)
do CopyFile("f", "copy")
)");
  EXPECT_EQ(out,
            "FileLength(1) 100001\nerror 1242 ReadChr\nReadChr(1)\nerror 1242 ReadString\n"
            "ReadString(1, 5000)\nerror 1242 ReadLine\nReadLine(1)\nerror 1242 ReadInt\n"
            "ReadInt(1)\nerror 1242 ReadTable\nReadTable(1)\n");
}

}  // namespace
}  // namespace qv::testing
