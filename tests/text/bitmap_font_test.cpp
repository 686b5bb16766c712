// The bitmap font engine: the built-in font against its drawing, the fixture fonts drawn and
// measured to the pixel, colour fonts, and the readers' refusals of damaged files.
#include "text/bitmap_font.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "base/errors.h"
#include "tests/text/font_fixture.h"
#include "text/fonts.h"

namespace qv {
namespace {

using qvtest::Rows;

struct BitmapDeleter {
  void operator()(qvBitMap* b) const { FreeBitMap(b); }
};
struct PlaneDeleter {
  void operator()(qvPlane* p) const { FreeMaskOrAlpha(p); }
};
using BitmapPtr = std::unique_ptr<qvBitMap, BitmapDeleter>;
using PlanePtr = std::unique_ptr<qvPlane, PlaneDeleter>;

struct FontDeleter {
  void operator()(qvFont* f) const {
    FreeBitmapFont(f);
    delete f;
  }
};
using FontPtr = std::unique_ptr<qvFont, FontDeleter>;

BitmapPtr Blank(int w, int h) { return BitmapPtr(AllocClearedBitMap(w, h)); }

Rows Draw(const qvFont* font, const std::string& text, int width, int x = 0,
          int32_t encoding = kEncodingIso8859_1, const qvClipBox* clip = nullptr) {
  BitmapPtr bitmap = Blank(width, font->height);
  qvTextTarget target;
  target.bitmap = bitmap.get();
  RenderTextRun(font, target, x, 0, text.data(), text.size(), kStyleNormal, encoding, clip,
                0xFFFFFF);
  return qvtest::Drawn(bitmap.get());
}

qvTextExtent Measure(const qvFont* font, const std::string& text,
                     int32_t encoding = kEncodingIso8859_1) {
  qvTextExtent e;
  MeasureTextRun(font, text.data(), text.size(), kStyleNormal, encoding, &e);
  return e;
}

std::vector<uint8_t> Bytes(const std::string& path) {
  std::string s = qvtest::ReadBytes(path);
  return {s.begin(), s.end()};
}

// ---- the built-in font ----

class BuiltinFont : public ::testing::Test {
 protected:
  FontPtr font{OpenDefaultBitmapFont()};
  std::map<int, Rows> drawing = qvtest::BuiltinDrawing();

  // The picture of the characters as the drawing has them, 8 pixels each.
  Rows Expected(const std::vector<int>& codes) {
    Rows picture = qvtest::Blank(int(codes.size()) * 8, 8);
    for (size_t i = 0; i < codes.size(); ++i) {
      int code = codes[i];
      bool own = (code >= 32 && code <= 126) || (code >= 160 && code <= 255);
      qvtest::Paste(&picture, drawing.at(own ? code : -1), int(i) * 8);
    }
    return picture;
  }
};

TEST_F(BuiltinFont, IsTheEightPixelFontOfTheDrawing) {
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->loadedName, "topaz");
  EXPECT_EQ(font->size, 8);
  EXPECT_EQ(font->height, 8);
  EXPECT_EQ(font->baseline, 6);
  EXPECT_EQ(font->kind, kFontKindBitmap);
  EXPECT_EQ(font->antialias, 0);
  ASSERT_EQ(drawing.size(), 192u);
  // Every character of the font, in runs of 32, against its own drawing; the codes without a
  // cell of their own (127-159) show the substitute.
  for (int first = 32; first < 256; first += 32) {
    std::string text;
    std::vector<int> codes;
    for (int c = first; c < first + 32; ++c) {
      text += char(c);
      codes.push_back(c);
    }
    EXPECT_EQ(Draw(font.get(), text, 256), Expected(codes)) << "codes from " << first;
  }
}

TEST_F(BuiltinFont, MeasuresEightPixelsACharacter) {
  qvTextExtent e = Measure(font.get(), "Hello");
  EXPECT_EQ(e.advance, 40);
  EXPECT_EQ(e.height, 8);
  EXPECT_EQ(e.left, 0);
  EXPECT_EQ(e.right, 39);
  EXPECT_EQ(e.top, -6);
  EXPECT_EQ(e.bottom, 1);
  EXPECT_EQ(Measure(font.get(), "").advance, 0);
}

// A text in UTF-8 is drawn by its code points; one that is not well-formed is drawn byte by byte.
TEST_F(BuiltinFont, ReadsTextInItsEncoding) {
  struct Case {
    const char* name;
    std::string text;
    int32_t encoding;
    std::vector<int> shown;
  } cases[] = {
      {"e acute as two bytes", "\xC3\xA9", kEncodingIso8859_1, {0xC3, 0xA9}},
      {"e acute in UTF-8", "\xC3\xA9", kEncodingUtf8, {0xE9}},
      {"a code point beyond the font", "a\xC4\x80z", kEncodingUtf8, {'a', 0x100, 'z'}},
      {"a lone continuation byte", "a\x80z", kEncodingUtf8, {'a', 0x80, 'z'}},
      {"a sequence cut by the end", "ab\xE2\x82", kEncodingUtf8, {'a', 'b', 0xE2, 0x82}},
      {"a lead byte without its follower", "\xC3(", kEncodingUtf8, {0xC3, '('}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Draw(font.get(), c.text, int(c.shown.size()) * 8, 0, c.encoding), Expected(c.shown))
        << c.name;
    EXPECT_EQ(Measure(font.get(), c.text, c.encoding).advance, int(c.shown.size()) * 8) << c.name;
  }
}

TEST(DecodeUtf8, DecodesWellFormedTextAndRefusesTheRest) {
  struct Case {
    std::string text;
    int32_t encoding;
    int32_t code;
    std::vector<uint32_t> points;
  } cases[] = {
      {"abc", kEncodingIso8859_1, ERR_USERABORT, {}},
      {"", kEncodingUtf8, 0, {}},
      {"A\xC3\xA9", kEncodingUtf8, 0, {'A', 0xE9}},
      {"\xE2\x82\xAC", kEncodingUtf8, 0, {0x20AC}},
      {"\xF0\x9F\x98\x80", kEncodingUtf8, 0, {0x1F600}},
      {"\xF8\x88\x80\x80\x80", kEncodingUtf8, 0, {0x200000}},          // five bytes
      {"\xC0\x80", kEncodingUtf8, 0, {0}},                             // overlong, as it decodes
      {"\xED\xA0\x80", kEncodingUtf8, 0, {0xD800}},                    // a surrogate, likewise
      {"\xFC\x84\x80\x80\x80\x80", kEncodingUtf8, ERR_USERABORT, {}},  // six leading ones
      {"\x80", kEncodingUtf8, ERR_USERABORT, {}},
      {"\xC3"
       "A",
       kEncodingUtf8,
       ERR_USERABORT,
       {}},
      {"\xE2\x82", kEncodingUtf8, ERR_USERABORT, {}},
      {"\xFF", kEncodingUtf8, ERR_USERABORT, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> points{99};
    EXPECT_EQ(DecodeUtf8(c.text.data(), c.text.size(), c.encoding, &points), c.code) << c.text;
    if (c.code == 0) EXPECT_EQ(points, c.points) << c.text;
  }
}

// ---- the proportional fixture ----

class PropFont : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadBitmapFont(qvtest::FontFixture("prop").c_str(), 7, font.get(), nullptr, false));
  }
  FontPtr font{new qvFont};
  Rows strip = qvtest::ReadRows(qvtest::FontFixture("prop-7.txt"));
  // Glyph columns in the strip: A 0-4, B 5-8, C 9-11, the substitute 12-15.
  Rows Glyph(char c) {
    switch (c) {
      case 'A':
        return qvtest::Columns(strip, 0, 5);
      case 'B':
        return qvtest::Columns(strip, 5, 4);
      case 'C':
        return qvtest::Columns(strip, 9, 3);
      default:
        return qvtest::Columns(strip, 12, 4);
    }
  }
};

TEST_F(PropFont, SkipsTheIncompleteEntryAndReadsTheHeader) {
  EXPECT_EQ(font->kind, kFontKindBitmap);
  EXPECT_EQ(font->loadedName, "prop");
  EXPECT_EQ(font->size, 7);
  EXPECT_EQ(font->height, 7);
  EXPECT_EQ(font->baseline, 5);
  EXPECT_EQ(font->unscaledHeight, 0);
  EXPECT_EQ(font->scalable, 0);
  ASSERT_NE(font->bitmap, nullptr);
  EXPECT_EQ(font->bitmap->lowest, 'A');
  EXPECT_EQ(font->bitmap->highest, 'C');
  EXPECT_TRUE(font->bitmap->Proportional());
  // A size that only an entry without its glyph file has, and one no entry has.
  qvFont other;
  EXPECT_FALSE(LoadBitmapFont(qvtest::FontFixture("prop").c_str(), 9, &other, nullptr, false));
  EXPECT_FALSE(LoadBitmapFont(qvtest::FontFixture("prop").c_str(), 8, &other, nullptr, false));
  EXPECT_EQ(other.bitmap, nullptr);
}

// Kerning moves a glyph before it is drawn, spacing after; a character outside A-C draws the
// substitute glyph.
TEST_F(PropFont, DrawsWithKerningSpacingAndTheSubstitute) {
  Rows expected = qvtest::Blank(24, 7);
  qvtest::Paste(&expected, Glyph('A'), 1);
  qvtest::Paste(&expected, Glyph('B'), 7);
  qvtest::Paste(&expected, Glyph('C'), 11);  // 12 kerned by -1
  qvtest::Paste(&expected, Glyph('Z'), 15);
  EXPECT_EQ(Draw(font.get(), "ABCZ", 24, 1), expected);

  // The same glyph bits OR-ed into a 1-bit plane, leaving what was set there.
  PlanePtr plane(AllocMask(24, 7, true));
  WriteBitMapPixel(plane.get(), 23, 6, 0);
  qvTextTarget target;
  target.plane = plane.get();
  RenderTextRun(font.get(), target, 1, 0, "ABCZ", 4, kStyleNormal, 0, nullptr, kShapeMode);
  expected[6][23] = '#';
  EXPECT_EQ(qvtest::Drawn(plane.get()), expected);
}

TEST_F(PropFont, DrawsOnlyInsideTheClipBoxAndTheTarget) {
  Rows full = Draw(font.get(), "ABCZ", 24, 1);
  const qvClipBox clip{8, 1, 6, 3};
  Rows expected = qvtest::Blank(24, 7);
  for (int y = 1; y < 4; ++y) {
    for (int x = 8; x < 14; ++x) expected[y][x] = full[y][x];
  }
  EXPECT_EQ(Draw(font.get(), "ABCZ", 24, 1, kEncodingIso8859_1, &clip), expected);
  // Glyphs partly left of the bitmap, and a pen far beyond it.
  Rows left = qvtest::Blank(10, 7);
  qvtest::Paste(&left, Glyph('A'), -3);
  qvtest::Paste(&left, Glyph('B'), 3);
  EXPECT_EQ(Draw(font.get(), "AB", 10, -3), left);
  EXPECT_EQ(Draw(font.get(), "AB", 10, 2147483000), qvtest::Blank(10, 7));
}

TEST_F(PropFont, MeasuresPerCharacter) {
  struct Case {
    const char* text;
    int advance, left, right;
  } cases[] = {
      {"A", 6, 0, 5},
      {"ABCZ", 19, 0, 18},
      {"C", 3, -1, 2},  // kerned left of the start
      {"", 0, 0, -1},
  };
  for (const Case& c : cases) {
    qvTextExtent e = Measure(font.get(), c.text);
    EXPECT_EQ(e.advance, c.advance) << c.text;
    EXPECT_EQ(e.left, c.left) << c.text;
    EXPECT_EQ(e.right, c.right) << c.text;
    EXPECT_EQ(e.height, 7);
    EXPECT_EQ(e.top, -5);
    EXPECT_EQ(e.bottom, 1);
  }
}

// ---- the colour fixture ----

class ColourFont : public ::testing::Test {
 protected:
  Rows strip = qvtest::ReadRows(qvtest::FontFixture("colour-6.txt"));

  // What "ab" and a substitute look like over a background of 0x123456: the palette's colours
  // where the strip has a digit, the background where it has none (index 0 is the key).
  Rows Expected() {
    Rows picture = qvtest::Blank(15, 6);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 12; ++x) picture[y][size_t(x / 4 * 5 + x % 4)] = strip[y][size_t(x)];
    }
    return picture;
  }
  static Rows Colours(const qvBitMap* bitmap) {
    Rows rows;
    for (int y = 0; y < bitmap->height; ++y) {
      std::string row;
      for (int x = 0; x < bitmap->width; ++x) {
        switch (ReadBitMapPixel(bitmap, x, y) & 0xFFFFFF) {
          case 0x123456:
            row += '.';
            break;
          case 0xFF0000:
            row += '1';
            break;
          case 0x00FF00:
            row += '2';
            break;
          case 0x0000FF:
            row += '3';
            break;
          default:
            row += '?';
        }
      }
      rows.push_back(row);
    }
    return rows;
  }
  Rows DrawColour(const qvFont* font, qvPlane* shape = nullptr) {
    BitmapPtr bitmap = Blank(15, 6);
    FillBitMapRect(bitmap.get(), 0, 0, 15, 6, 0x123456);
    qvTextTarget target;
    target.bitmap = bitmap.get();
    target.plane = shape;
    RenderTextRun(font, target, 0, 0, "ab~", 3, kStyleNormal, 0, nullptr,
                  shape != nullptr ? kShapeMode : 0xFFFFFF);
    return Colours(bitmap.get());
  }
};

TEST_F(ColourFont, DrawsItsPlanesInItsPalette) {
  FontPtr font(new qvFont);
  ASSERT_TRUE(LoadBitmapFont(qvtest::FontFixture("colour").c_str(), 6, font.get(), nullptr, false));
  EXPECT_EQ(font->kind, kFontKindColorBitmap);
  EXPECT_TRUE(font->pendingPixels.empty());
  EXPECT_EQ(DrawColour(font.get()), Expected());
  EXPECT_EQ(Measure(font.get(), "ab~").advance, 15);

  // In shape mode the glyphs' mask goes into the plane as well.
  PlanePtr shape(AllocMask(15, 6, true));
  EXPECT_EQ(DrawColour(font.get(), shape.get()), Expected());
  Rows mask = Expected();
  for (std::string& row : mask) {
    for (char& c : row) c = c == '.' ? '.' : '#';
  }
  EXPECT_EQ(qvtest::Drawn(shape.get()), mask);
}

// Loaded while objects are preloaded, a colour font keeps its pixels until the first display:
// it draws nothing before and the same picture after.
TEST_F(ColourFont, LoadedBeforeTheFirstDisplayDrawsOnceFinished) {
  auto* font = new qvFont;
  ASSERT_TRUE(LoadBitmapFont(qvtest::FontFixture("colour").c_str(), 6, font, nullptr, true));
  EXPECT_EQ(font->colorGlyphs, nullptr);
  EXPECT_EQ(font->pendingWidth, 16);
  EXPECT_EQ(font->pendingHeight, 6);
  EXPECT_EQ(DrawColour(font), qvtest::Blank(15, 6));

  qvFontObject* object = nullptr;
  ASSERT_EQ(AddFontObject(3, false, font, &object), 0);
  EXPECT_EQ(FinishColorFonts(), 0);
  EXPECT_TRUE(font->pendingPixels.empty());
  EXPECT_EQ(DrawColour(font), Expected());
  ASSERT_EQ(FreeFontObject(nullptr, {3, nullptr}), 0);
  FreeBitmapFont(font);
  delete font;
}

// ---- damaged files ----

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void PutWord(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}
void PutShort(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = uint8_t(v >> 8);
  (*b)[at + 1] = uint8_t(v);
}

TEST(GlyphFile, RefusesEveryDamage) {
  const std::vector<uint8_t> prop = Bytes(qvtest::FontFixture("prop/7"));
  const std::vector<uint8_t> colour = Bytes(qvtest::FontFixture("colour/6"));
  qvBitmapFont font;
  ASSERT_TRUE(ReadGlyphFile(prop.data(), prop.size(), &font));
  ASSERT_TRUE(ReadGlyphFile(colour.data(), colour.size(), &font));
  const size_t firstLocation = 32 + Word(prop, 130);

  struct Case {
    const char* name;
    bool colourFont;
    std::function<void(std::vector<uint8_t>*)> damage;
  } cases[] = {
      {"another identifier", false, [](auto* b) { (*b)[51] = 0x81; }},
      {"no glyph height", false, [](auto* b) { PutShort(b, 110, 0); }},
      {"a negative height", false, [](auto* b) { PutShort(b, 110, 0xFFFF); }},
      {"lowest above highest", false, [](auto* b) { (*b)[122] = 'D'; }},
      {"glyph data beyond the file", false, [](auto* b) { PutWord(b, 124, Word(*b, 124) + 200); }},
      {"a glyph pointer that wraps", false, [](auto* b) { PutWord(b, 124, 0xFFFFFFF0); }},
      {"rows wider than the file", false, [](auto* b) { PutShort(b, 128, 0xFFFF); }},
      {"locations beyond the file", false, [](auto* b) { PutWord(b, 130, 0xFFFFFFFF); }},
      {"a location past the row", false,
       [=](auto* b) { PutWord(b, firstLocation, 13u << 16 | 4); }},
      {"a location of the widest width", false,
       [=](auto* b) { PutWord(b, firstLocation, 0xFFFF); }},
      {"spacing beyond the file", false, [](auto* b) { PutWord(b, 134, Word(*b, 134) + 1000); }},
      {"kerning beyond the file", false, [](auto* b) { PutWord(b, 138, 0x7FFFFFFF); }},
      {"a highest character beyond the tables", false, [](auto* b) { (*b)[123] = 255; }},
      {"a colour record beyond the file", true, [](auto* b) { PutWord(b, 150, 0x10000); }},
      {"a colour table beyond the file", true,
       [](auto* b) { PutWord(b, 32 + Word(*b, 150) + 4, 0xFFFFFF00); }},
      {"a colour count beyond the file", true,
       [](auto* b) { PutShort(b, 32 + Word(*b, 150) + 2, 200); }},
      {"a plane beyond the file", true, [](auto* b) { PutWord(b, 158, Word(*b, 158) + 40); }},
      {"rows no plane could hold", true,
       [](auto* b) {
         PutShort(b, 128, 0x4000);
         PutWord(b, 154, 0);
         PutWord(b, 158, 0);
       }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.colourFont ? colour : prop;
    c.damage(&bytes);
    EXPECT_FALSE(ReadGlyphFile(bytes.data(), bytes.size(), &font)) << c.name;
  }
  // Every cut of either file loses something the reader needs.
  for (const std::vector<uint8_t>* file : {&prop, &colour}) {
    for (size_t size = 0; size < file->size(); ++size) {
      EXPECT_FALSE(ReadGlyphFile(file->data(), size, &font)) << "cut at " << size;
    }
  }
}

TEST(FontContents, FindsTheEntryOrRefuses) {
  const std::vector<uint8_t> good = Bytes(qvtest::FontFixture("prop.font"));
  std::string entry;
  ASSERT_TRUE(ReadFontContents(good.data(), good.size(), 7, &entry));
  EXPECT_EQ(entry, "prop/7");
  ASSERT_TRUE(ReadFontContents(good.data(), good.size(), 9, &entry));
  EXPECT_EQ(entry, "missing/9");
  EXPECT_FALSE(ReadFontContents(good.data(), good.size(), 8, &entry));

  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>*)> damage;
  } cases[] = {
      {"another identifier", [](auto* b) { (*b)[1] = 0x01; }},
      {"more entries than bytes", [](auto* b) { PutShort(b, 2, 4); }},
      {"a negative count", [](auto* b) { PutShort(b, 2, 0xFFFF); }},
      {"a name without its terminator", [](auto* b) { std::memset(b->data() + 4, 'x', 256); }},
      {"only the incomplete entry", [](auto* b) { PutShort(b, 2, 1); }},
      {"cut inside the header", [](auto* b) { b->resize(3); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.damage(&bytes);
    EXPECT_FALSE(ReadFontContents(bytes.data(), bytes.size(), 7, &entry)) << c.name;
  }
  // The second identifier is as good as the first.
  std::vector<uint8_t> other = good;
  other[1] = 0x02;
  EXPECT_TRUE(ReadFontContents(other.data(), other.size(), 7, &entry));
}

TEST(GlyphFilePath, JoinsBesideTheContentsOrCountsFromTheApplet) {
  struct Case {
    const char* contents;
    const char* entry;
    uint64_t appletOffset;
    const char* path;
  } cases[] = {
      {"fonts/prop.font", "prop/7", 0, "fonts/prop/7"},
      {"prop.font", "prop/7", 0, "prop/7"},
      {":::chunk100:40*prop.font/dir/app.qva", ":::chunk300:20*7/", 1000,
       ":::chunk1300:20*7/dir/app.qva"},
  };
  for (const Case& c : cases) {
    std::string path;
    ASSERT_TRUE(GlyphFilePath(c.contents, c.entry, c.appletOffset, &path)) << c.entry;
    EXPECT_EQ(path, c.path);
  }
  std::string path;
  EXPECT_FALSE(GlyphFilePath("x.font", ":::chunk:20*7/", 0, &path));
  EXPECT_FALSE(GlyphFilePath("x.font", ":::chunk18446744073709551615:1*7/", 1, &path));
}

}  // namespace
}  // namespace qv
