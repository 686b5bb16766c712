// Fonts by name: the names the resolver maps, the cache, the font paths and the order the
// ".font" file is looked for in, linked fonts behind their header, and the font objects.
#include "text/fonts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "core/vfile.h"
#include "tests/text/font_fixture.h"

namespace qv {
namespace {

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitTextState(), 0); }
  void TearDown() override { FreeTextState(nullptr); }

  // A copy of the proportional fixture as `name`.font (and its glyph file) in `dir`.
  static void CopyProp(const std::string& dir, const std::string& name) {
    std::filesystem::create_directories(dir + "/prop");
    std::filesystem::copy_file(qvtest::FontFixture("prop.font"), dir + "/" + name + ".font",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(qvtest::FontFixture("prop/7"), dir + "/prop/7",
                               std::filesystem::copy_options::overwrite_existing);
  }
};

TEST_F(Fonts, TheBuiltinFontIsTheDefaultAndTopazEight) {
  qvFont* font = nullptr;
  ASSERT_NE(GetDefaultFont(), nullptr);
  EXPECT_EQ(GetCurrentFont(), GetDefaultFont());
  for (const char* name : {":::default_bitmap", "topaz", "TOPAZ", "topaz.font"}) {
    ASSERT_EQ(ResolveFontName(name, 8, kFontEngineNative, 1, false, &font), 0) << name;
    EXPECT_EQ(font, GetDefaultFont()) << name;
  }
  // At another size "topaz" is a ".font" file like any other, and there is none.
  EXPECT_EQ(ResolveFontName("topaz", 9, kFontEngineNative, 1, false, &font), ERR_OPENFONT);
  EXPECT_STREQ(GetErrorString(), "Cannot open font topaz with size 9!");
  EXPECT_EQ(GetTextSettings()->style, kStyleNormal);
  EXPECT_EQ(GetTextSettings()->colour, 0xFFFFFFu);
  EXPECT_EQ(GetTextSettings()->edgeColour, 0x0093DDu);
  EXPECT_EQ(GetTextSettings()->shadowSize, 4);
  EXPECT_EQ(GetTextSettings()->shadowDirection, kTextShadowSouthEast);
  EXPECT_EQ(GetTextSettings()->edgeSize, 2);
}

TEST_F(Fonts, CachesByNameWithoutCaseSizeEngineAndCacheFlag) {
  qvtest::TempDir dir;
  CopyProp(dir.path(), "prop");
  ASSERT_EQ(AddFontPath(dir.path().c_str()), 0);
  qvFont* first = nullptr;
  qvFont* again = nullptr;
  ASSERT_EQ(ResolveFontName("prop.font", 7, kFontEngineNative, 1, false, &first), 0);
  EXPECT_EQ(first->resolvedName, "prop");
  EXPECT_EQ(first->loadedName, "prop");
  ASSERT_EQ(ResolveFontName("PROP", 7, kFontEngineNative, 1, false, &again), 0);
  EXPECT_EQ(again, first);
  // Another cache flag is another font; an outline request falls back to the bitmap font and
  // is filed under engine 0, where the first one already is.
  ASSERT_EQ(ResolveFontName("prop", 7, kFontEngineNative, 0, false, &again), 0);
  EXPECT_NE(again, first);
  ASSERT_EQ(ResolveFontName("prop", 7, kFontEngineInbuilt, 1, false, &again), 0);
  EXPECT_EQ(again, first);
  EXPECT_EQ(CachedFonts().size(), 2u);
  // The outline faces' names fall back likewise and, with no such ".font", fail.
  EXPECT_EQ(ResolveFontName(":::default_sans", 7, kFontEngineNative, 1, false, &again),
            ERR_OPENFONT);
  EXPECT_STREQ(GetErrorString(), "Cannot open font Bitstream Vera Sans with size 7!");
}

// A damaged file is refused with the font's name and size in the message, and nothing is cached.
TEST_F(Fonts, ADamagedFileCannotBeOpened) {
  qvtest::TempDir dir;
  std::filesystem::create_directories(dir.Path("bad"));
  std::filesystem::copy_file(qvtest::FontFixture("bad.font"), dir.Path("bad.font"));
  std::filesystem::copy_file(qvtest::FontFixture("bad/7"), dir.Path("bad/7"));
  ASSERT_EQ(AddFontPath(dir.path().c_str()), 0);
  qvFont* font = nullptr;
  EXPECT_EQ(ResolveFontName("bad", 7, kFontEngineNative, 1, false, &font), ERR_OPENFONT);
  EXPECT_STREQ(GetErrorString(), "Cannot open font bad with size 7!");
  EXPECT_TRUE(CachedFonts().empty());
}

TEST_F(Fonts, RefusesPathsUnlessOutline) {
  qvFont* font = nullptr;
  for (const char* name : {"dir/prop", "/abs/prop.font", "PROGDIR:prop"}) {
    EXPECT_EQ(ResolveFontName(name, 7, kFontEngineNative, 1, false, &font), ERR_FONTPATH) << name;
    EXPECT_STREQ(GetErrorString(), name);
  }
  EXPECT_EQ(ResolveFontName("dir/prop", 7, kFontEngineInbuilt, 1, false, &font), ERR_OPENFONT);
}

TEST_F(Fonts, LooksInTheFontPathsInOrderThenInFonts) {
  qvtest::TempDir first, second, here;
  CopyProp(second.path(), "x");
  std::string path;
  ASSERT_EQ(AddFontPath(first.path().c_str()), 0);
  ASSERT_EQ(AddFontPath(second.path().c_str()), 0);
  // A directory listed again, in other case, is taken as it is.
  std::string upper = second.path();
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(AddFontPath(upper.c_str()), 0);
  EXPECT_EQ(FontPaths().size(), 2u);
  ASSERT_TRUE(FindBitmapFontFile("x", &path));
  EXPECT_EQ(path, second.path() + "/x.font");
  CopyProp(first.path(), "x");
  ASSERT_TRUE(FindBitmapFontFile("x.font", &path));
  EXPECT_EQ(path, first.path() + "/x.font");
  EXPECT_FALSE(FindBitmapFontFile("y", &path));
  EXPECT_EQ(AddFontPath(here.Path("missing").c_str()), ERR_LOCK2);
  EXPECT_STREQ(GetErrorString(), here.Path("missing").c_str());

  // Without font paths: the name itself, then Fonts/ beside the current directory.
  FreeTextState(nullptr);
  ASSERT_EQ(InitTextState(), 0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(here.path().c_str()), 0);
  CopyProp(here.Path("Fonts"), "y");
  bool inFonts = FindBitmapFontFile("y", &path);
  std::string found = path;
  CopyProp(here.path(), "y");
  bool itself = FindBitmapFontFile("y", &path);
  ASSERT_EQ(chdir(old), 0);
  EXPECT_TRUE(inFonts);
  EXPECT_EQ(found, "Fonts/y.font");
  EXPECT_TRUE(itself);
  EXPECT_EQ(path, "y.font");
}

// A linked font is a stretch of the applet's file: a flags word, with flag 4 a length and that
// much extra data, then the contents file, whose entry names its glyph file by a ":::chunk" name
// counted from the applet's start.
TEST_F(Fonts, OpensALinkedFontBehindItsHeader) {
  const std::string contents = qvtest::ReadBytes(qvtest::FontFixture("prop.font"));
  const std::string glyphs = qvtest::ReadBytes(qvtest::FontFixture("prop/7"));
  auto word = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  for (uint32_t flags : {0u, 4u, 2u}) {
    std::string header = word(flags) + (flags & 4 ? word(3) + "xyz" : "");
    const size_t glyphAt = 16 + header.size() + contents.size();
    std::string entry = ":::chunk" + std::to_string(glyphAt) + ":" + std::to_string(glyphs.size()) +
                        "*7/";
    std::string linkedContents = contents;
    // The real entry is the third: its name replaced by the ":::chunk" one.
    std::memset(linkedContents.data() + 4 + 2 * 260, 0, 256);
    std::memcpy(linkedContents.data() + 4 + 2 * 260, entry.data(), entry.size());
    qvtest::TempDir dir;
    std::string applet = dir.Write("app", std::string(16, 'p') + header + linkedContents + glyphs);
    char name[kMaxPathLength + 1];
    ASSERT_TRUE(MakeChunkName("prop", name, sizeof name, 16, header.size() + linkedContents.size(),
                              0, applet.c_str()));
    qvFont* font = nullptr;
    int32_t code = OpenFontCore(name, 7, kFontEngineNative, 1, true, &font);
    if (flags & 2) {
      // Only the system engine may open it, and it finds nothing.
      EXPECT_EQ(code, ERR_OPENFONT);
      EXPECT_STREQ(GetErrorString(), "Cannot open font prop with size 7!");
      continue;
    }
    ASSERT_EQ(code, 0) << flags;
    EXPECT_EQ(font->loadedName, "prop");
    EXPECT_EQ(font->height, 7);
    ReleaseFont(font);
  }
  qvFont* font = nullptr;
  EXPECT_EQ(OpenFontCore(":::chunk0:10*x/nowhere/at/all", 7, kFontEngineNative, 1, true, &font),
            ERR_READFILE);
}

TEST_F(Fonts, FindsAndFreesFontObjects) {
  qvFontObject* numbered = nullptr;
  qvFontObject* automatic = nullptr;
  ASSERT_EQ(AddFontObject(5, false, GetDefaultFont(), &numbered), 0);
  ASSERT_EQ(AddFontObject(0, true, GetDefaultFont(), &automatic), 0);
  qvFontObject* found = nullptr;
  ASSERT_EQ(FindFont({5, nullptr}, &found), 0);
  EXPECT_EQ(found, numbered);
  ASSERT_EQ(FindFont({0, automatic}, &found), 0);
  EXPECT_EQ(found, automatic);
  EXPECT_EQ(FindFont({6, nullptr}, &found), ERR_FINDFONT2);
  EXPECT_EQ(GetErrorNumber(), 6);
  EXPECT_EQ(FindFont({0, &found}, &found), ERR_FINDARRAY);
  ASSERT_EQ(FreeFontObject(nullptr, {5, nullptr}), 0);
  EXPECT_EQ(FreeFontObject(nullptr, {5, nullptr}), ERR_FINDFONT2);
  ASSERT_EQ(FindFont({0, automatic}, &found), 0);
  // The font stays: objects do not own it.
  EXPECT_NE(GetDefaultFont(), nullptr);
}

TEST_F(Fonts, ScalesOnlyScalableFonts) {
  qvFont font;
  font.unscaledHeight = 10;
  font.unscaledBaseline = 7;
  font.height = 10;
  font.baseline = 7;
  SetFontScale(&font, 2.0, 1.5);
  EXPECT_EQ(font.height, 10);
  EXPECT_EQ(font.yScale, 1.0);
  font.scalable = 1;
  SetFontScale(&font, 2.0, 1.25);
  EXPECT_EQ(font.height, 13);   // ceiling of 12.5
  EXPECT_EQ(font.baseline, 9);  // ceiling of 8.75
  EXPECT_EQ(font.xScale, 2.0);
}

}  // namespace
}  // namespace qv
