#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/vfile.h"

using namespace qv;

TEST(VfilePath, DisplayNames) {
  struct {
    const char* name;
    const char* want;
  } cases[] = {
      {":::chunk5:10*a.png/x.exe", "a.png"},
      {":::chunk40960:1234*logo.png/C:\\apps\\demo.exe", "logo.png"},
      {":::chunkS3:5*text.txt/7f001234", "text.txt"},
      {":::chunk5:10*/x.exe", ""},
      {"C:\\dir\\b.jpg", "b.jpg"},
      {"/home/user/c.gif", "c.gif"},
      {"dir/sub\\d.bmp", "d.bmp"},
      {"PROGDIR:e.png", "e.png"},
      {"plain", "plain"},
      {"/", "/"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_STREQ(GetDisplayName(c.name), c.want) << c.name;
  std::string longName = ":::chunk1:2*" + std::string(400, 'n') + "/c";
  EXPECT_EQ(std::strlen(GetDisplayName(longName.c_str())), kMaxDisplayName);
}

TEST(VfilePath, FileParts) {
  EXPECT_STREQ(GetFilePart("/tmp/x/file.txt"), "file.txt");
  EXPECT_STREQ(GetFilePart("C:\\a\\b.txt"), "b.txt");
  EXPECT_STREQ(GetFilePart("work:c.txt"), "c.txt");
  EXPECT_STREQ(GetFilePart("/file"), "file");
  EXPECT_STREQ(GetFilePart("dir/"), "");
  EXPECT_STREQ(GetFilePart("name"), "name");
}

TEST(VfilePath, JoinPathIsBounded) {
  char buf[16] = "";
  EXPECT_TRUE(JoinPath(buf, sizeof(buf), "a"));
  EXPECT_STREQ(buf, "a");
  EXPECT_TRUE(JoinPath(buf, sizeof(buf), "b"));
  EXPECT_STREQ(buf, "a/b");
  std::strcpy(buf, "c:\\");
  EXPECT_TRUE(JoinPath(buf, sizeof(buf), "d"));
  EXPECT_STREQ(buf, "c:\\d");
  std::strcpy(buf, "dir/");
  EXPECT_FALSE(JoinPath(buf, sizeof(buf), "a-very-long-name"));
  EXPECT_EQ(std::strlen(buf), sizeof(buf) - 1);
}

TEST(VfilePath, ComparePaths) {
  EXPECT_EQ(ComparePaths("data/Pic.PNG", "data\\pic.png"), 0);
  EXPECT_EQ(ComparePaths("DATA\\\xC4RGER.txt", "data/\xE4rger.TXT"), 0);  // Latin-1 folding
  EXPECT_NE(ComparePaths("data/a", "data/b"), 0);
  EXPECT_NE(ComparePaths("data", "data/"), 0);
}

TEST(VfilePath, NativePaths) {
  char out[kMaxPathLength + 1];
  EXPECT_STREQ(MakeNativePath("dir\\sub\\f.txt", out, sizeof(out)), "dir/sub/f.txt");
  EXPECT_STREQ(MakeNativePath(":::chunk1:2*a\\b/c\\d", out, sizeof(out)), ":::chunk1:2*a\\b/c\\d");
  SetProgramDir("/opt/qv");
  EXPECT_STREQ(MakeNativePath("PROGDIR:Catalogs\\x", out, sizeof(out)), "/opt/qv/Catalogs/x");
  SetProgramDir("/opt/qv/");
  EXPECT_STREQ(MakeNativePath("PROGDIR:y", out, sizeof(out)), "/opt/qv/y");
  SetProgramDir("");
  std::string tooLong(kMaxPathLength + 1, 'x');
  EXPECT_EQ(MakeNativePath(tooLong.c_str(), out, sizeof(out)), nullptr);
  char small[4];
  EXPECT_EQ(MakeNativePath("abcdef", small, sizeof(small)), nullptr);
}

TEST(VfilePath, ChunkNames) {
  char out[128];
  ASSERT_TRUE(
      MakeChunkName("images/logo.png", out, sizeof(out), 40000, 1234, 960, "C:\\apps\\demo.exe"));
  EXPECT_STREQ(out, ":::chunk40960:1234*logo.png/C:\\apps\\demo.exe");
  EXPECT_TRUE(IsVirtualName(out));
  EXPECT_FALSE(IsMemoryFileName(out));
  char container[64];
  ASSERT_TRUE(ParseChunkName(out, container, sizeof(container)));
  EXPECT_STREQ(container, "C:\\apps\\demo.exe");
  ASSERT_TRUE(ParseChunkName("plain/name", container, sizeof(container)));
  EXPECT_STREQ(container, "plain/name");
  char ext[16] = "/tmp/qv1";
  ASSERT_TRUE(GetChunkExtension(out, ext, sizeof(ext)));
  EXPECT_STREQ(ext, "/tmp/qv1.png");
  char tiny[20];
  EXPECT_FALSE(MakeChunkName("logo.png", tiny, sizeof(tiny), 1, 2, 0, "container"));
}
