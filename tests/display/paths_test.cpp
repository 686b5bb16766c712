// Vector paths without a plugin or a script: the segment stream byte for byte (every opcode, text
// padding, growth of the buffer at its boundaries), copies and appends, the dash pattern, and
// what the engine's answers become (missing engine, non-finite extents, fonts).
#include "display/paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/registry.h"

namespace qv {
namespace {

// The expected bytes, little-endian as the stream stores them.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& I(int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    return *this;
  }
  Bytes& D(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(u >> (8 * i)));
    return *this;
  }
  Bytes& Raw(std::initializer_list<uint8_t> raw) {
    b.insert(b.end(), raw);
    return *this;
  }
};

std::vector<uint8_t> StreamOf(const qvPath& p) {
  if (p.buffer == nullptr) return {};
  return {p.buffer, p.buffer + p.used + 4};
}

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterPaths(), 0); }
  void TearDown() override {
    SetVectorEngineOverride(nullptr);
    FreeAllPaths(nullptr);
    FreeRegistries();
  }
  qvPath* Start(int32_t number) {
    qvPath* p = nullptr;
    EXPECT_EQ(StartPath(nullptr, {number, 0}, &p), 0);
    return p;
  }
};

TEST_F(PathsTest, EveryOpcodeIsWrittenByteForByteWithTheEndMark) {
  qvPath* p = Start(1);
  const qvSegmentOperand move[] = {IntOperand(1), DoubleOperand(1.5), DoubleOperand(-2)};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_MOVETO, move, 3), 0);
  const qvSegmentOperand curve[] = {IntOperand(0),    DoubleOperand(1), DoubleOperand(2),
                                    DoubleOperand(3), DoubleOperand(4), DoubleOperand(5),
                                    DoubleOperand(6)};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CURVETO, curve, 7), 0);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_STARTSUBPATH, nullptr, 0), 0);
  const qvSegmentOperand arc[] = {DoubleOperand(10), DoubleOperand(20), DoubleOperand(5),
                                  DoubleOperand(6),  DoubleOperand(0),  DoubleOperand(360),
                                  IntOperand(1)};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_ARC, arc, 7), 0);
  const qvSegmentOperand box[] = {DoubleOperand(1), DoubleOperand(2), DoubleOperand(3),
                                  DoubleOperand(4), IntOperand(0),    IntOperand(25),
                                  IntOperand(50),   IntOperand(100)};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_BOX, box, 8), 0);
  const qvSegmentOperand text[] = {
      {kOperandHandle, 7, 0, nullptr}, IntOperand(12), TextOperand("abc")};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_TEXT, text, 3), 0);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);

  Bytes want;
  want.I(1).I(1).D(1.5).D(-2);
  want.I(3).I(0).D(1).D(2).D(3).D(4).D(5).D(6);
  want.I(5);
  want.I(7).D(10).D(20).D(5).D(6).D(0).D(360).I(1);
  want.I(8).D(1).D(2).D(3).D(4).I(0).I(25).I(50).I(100);
  want.I(9).I(7).I(12).Raw({'a', 'b', 'c', 0, 0, 0, 0, 0});  // 4 bytes with the zero: 8
  want.I(6);
  want.I(0);
  EXPECT_EQ(StreamOf(*p), want.b);
  EXPECT_EQ(PathStreamBytes(*p), want.b.size());
}

TEST_F(PathsTest, TextIsPaddedToTheLengthRoundedDownToFourPlusFour) {
  // n bytes with the zero take (n / 4) * 4 + 4: there is always at least one zero and at most four.
  const size_t padded[] = {4, 4, 4, 8, 8, 8, 8, 12, 12};
  for (size_t length = 0; length <= 8; ++length) {
    SCOPED_TRACE(length);
    qvPath* p = Start(1);
    std::string text(length, 'x');
    const qvSegmentOperand ops[] = {TextOperand(text.c_str())};
    ASSERT_EQ(AppendPathSegment(p, QV_SEG_TEXT, ops, 1), 0);
    ASSERT_EQ(p->used, 4 + padded[length]);
    EXPECT_EQ(std::memcmp(p->buffer + 4, text.data(), length), 0);
    for (size_t i = length; i < padded[length] + 4; ++i) EXPECT_EQ(p->buffer[4 + i], 0) << i;
  }
}

TEST_F(PathsTest, BufferGrowsByTheLargerOf1024AndTheRoomAsked) {
  qvPath* p = Start(1);
  EXPECT_EQ(p->buffer, nullptr);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  EXPECT_EQ(p->capacity, 1024u);
  // 4-byte segments until fewer than 128 bytes are free: the one that finds 128 free still fits.
  while (p->capacity - p->used > 128) {
    ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  }
  ASSERT_EQ(p->capacity - p->used, 128u);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  EXPECT_EQ(p->capacity, 1024u);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  EXPECT_EQ(p->capacity, 2048u);
  // A long text asks for its padded length plus 128, more than 1024.
  std::string text(3000, 'y');
  const qvSegmentOperand ops[] = {TextOperand(text.c_str())};
  const size_t used = p->used;
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_TEXT, ops, 1), 0);
  EXPECT_EQ(p->capacity, 2048u + 3004 + 128);
  EXPECT_EQ(p->used, used + 4 + 3004);
  EXPECT_EQ(p->buffer[p->used], 0);
}

TEST_F(PathsTest, StartPathTwiceLeavesOneEmptyPath) {
  qvPath* p = Start(1);
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  qvPath* again = Start(1);
  EXPECT_EQ(CountObjects(kObjectVectorPath), 1);
  qvPath* found = nullptr;
  ASSERT_EQ(FindPath({1, nullptr}, &found), 0);
  EXPECT_EQ(found, again);
  EXPECT_EQ(found->buffer, nullptr);
  EXPECT_EQ(FindPath({2, nullptr}, &found), ERR_FINDPATH);
  int dummy = 0;
  EXPECT_EQ(FindPath({0, &dummy}, &found), ERR_FINDARRAY);
}

TEST_F(PathsTest, CopyHasItsOwnHeaderAndOnlyTheSegments) {
  qvPath* a = Start(1);
  qvPath* b = Start(2);
  const qvSegmentOperand move[] = {IntOperand(0), DoubleOperand(3), DoubleOperand(4)};
  ASSERT_EQ(AppendPathSegment(a, QV_SEG_MOVETO, move, 3), 0);
  qvPath* copy = nullptr;
  ASSERT_EQ(CopyPath(nullptr, a, {0, 1}, &copy), 0);
  EXPECT_NE(copy->buffer, a->buffer);
  EXPECT_EQ(StreamOf(*copy), StreamOf(*a));
  EXPECT_EQ(copy->header.handle, copy);
  EXPECT_EQ(copy->header.id, 0);
  EXPECT_EQ(copy->header.data, nullptr);
  // The source's link still leads to path 2: a copied link would have cut it out of the list.
  EXPECT_EQ(a->header.next, &b->header);
  EXPECT_EQ(CountObjects(kObjectVectorPath), 3);
  // Onto an existing number: that path goes first; onto itself: refused.
  ASSERT_EQ(CopyPath(nullptr, a, {2, 0}, &copy), 0);
  EXPECT_EQ(CountObjects(kObjectVectorPath), 3);
  EXPECT_EQ(StreamOf(*copy), StreamOf(*a));
  EXPECT_EQ(CopyPath(nullptr, a, {1, 0}, &copy), ERR_WRONGUSAGE);
  // An empty path copies to an empty path.
  qvPath* empty = Start(5);
  ASSERT_EQ(CopyPath(nullptr, empty, {6, 0}, &copy), 0);
  EXPECT_EQ(copy->buffer, nullptr);
}

TEST_F(PathsTest, AppendAddsTheSegmentsBeforeOneEndMark) {
  qvPath* a = Start(1);
  qvPath* b = Start(2);
  const qvSegmentOperand move[] = {IntOperand(0), DoubleOperand(1), DoubleOperand(2)};
  ASSERT_EQ(AppendPathSegment(a, QV_SEG_MOVETO, move, 3), 0);
  const std::vector<uint8_t> before = StreamOf(*a);
  ASSERT_EQ(AppendPath(a, b), 0);  // an empty source changes nothing
  EXPECT_EQ(StreamOf(*a), before);
  EXPECT_EQ(AppendPath(a, a), ERR_WRONGUSAGE);
  ASSERT_EQ(AppendPathSegment(b, QV_SEG_CLOSEPATH, nullptr, 0), 0);
  ASSERT_EQ(AppendPath(a, b), 0);
  Bytes want;
  want.I(1).I(0).D(1).D(2).I(6).I(0);
  EXPECT_EQ(StreamOf(*a), want.b);
  // Into an empty destination.
  qvPath* c = Start(3);
  ASSERT_EQ(AppendPath(c, a), 0);
  EXPECT_EQ(StreamOf(*c), want.b);
}

TEST_F(PathsTest, DashPattern) {
  const double dashes[] = {0, 4, 2};
  ASSERT_EQ(SetPathDash(1.5, dashes, 3), 0);
  EXPECT_EQ(CurrentPathStyle().dashCount, 3);
  EXPECT_EQ(CurrentPathStyle().dashOffset, 1.5);
  EXPECT_EQ(CurrentPathStyle().dashes[0], 0);  // a first dash of 0 is an entry like any other
  const double off[] = {-1, 3};
  ASSERT_EQ(SetPathDash(7, off, 2), 0);
  EXPECT_EQ(CurrentPathStyle().dashCount, 0);
  EXPECT_EQ(CurrentPathStyle().dashes, nullptr);
  EXPECT_EQ(CurrentPathStyle().dashOffset, 0);
}

// A stand-in engine whose answers the test sets.
struct FakeEngine {
  static inline double extents[4];
  static inline int fonts = 0;
  static inline int freed = 0;
  static inline std::vector<uint8_t> lastStream;
  static int32_t Extents(qvPathExtentsRequest* r) {
    lastStream.assign(r->stream, r->stream + r->streamBytes);
    r->x = extents[0];
    r->y = extents[1];
    r->width = extents[2];
    r->height = extents[3];
    return 1;
  }
  static int32_t Translate(qvTranslatePathRequest* r) {
    lastStream.assign(r->stream, r->stream + r->streamBytes);
    return 1;
  }
  static int32_t Create(const qvVectorFontFace*) { return fonts; }
  static void Free(int32_t) { ++freed; }
  static constexpr qvVectorEngine kEngine{Extents, nullptr, Translate, nullptr, Create, Free};
};

TEST_F(PathsTest, EngineQuestions) {
  qvPath* p = Start(1);
  double e[4] = {9, 9, 9, 9};
  // An empty path answers zeros without an engine.
  EXPECT_EQ(GetPathExtents(*p, true, 1, false, e), 0);
  EXPECT_EQ(e[0] + e[1] + e[2] + e[3], 0);
  EXPECT_EQ(TranslatePath(p, 3, 4), 0);
  const qvSegmentOperand move[] = {IntOperand(0), DoubleOperand(1), DoubleOperand(2)};
  ASSERT_EQ(AppendPathSegment(p, QV_SEG_MOVETO, move, 3), 0);
  EXPECT_EQ(GetPathExtents(*p, true, 1, false, e), ERR_VECGFXPLUGIN);
  EXPECT_EQ(TranslatePath(p, 3, 4), ERR_VECGFXPLUGIN);
  EXPECT_EQ(TranslatePath(p, 0, 0), 0);  // nothing to move
  EXPECT_EQ(NormalizePath(p), ERR_VECGFXPLUGIN);
  EXPECT_FALSE(VectorEngineUsed());

  SetVectorEngineOverride(&FakeEngine::kEngine);
  const double answers[][4] = {{1, 2, 3, 4}, {NAN, 0, 1, 1}, {0, 0, INFINITY, 1}, {0, 0, -1, 5}};
  const bool kept[] = {true, false, false, false};
  for (size_t i = 0; i < std::size(answers); ++i) {
    SCOPED_TRACE(i);
    std::memcpy(FakeEngine::extents, answers[i], sizeof answers[i]);
    ASSERT_EQ(GetPathExtents(*p, true, 1, false, e), 0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(e[k], kept[i] ? answers[i][k] : 0);
  }
  EXPECT_TRUE(VectorEngineUsed());
  // The plugin sees the segments and the end mark, and no byte more.
  EXPECT_EQ(FakeEngine::lastStream, StreamOf(*p));
}

TEST_F(PathsTest, TextNeedsAnEngineThenAnOutlineFontThenAVectorFont) {
  qvPath* p = Start(1);
  qvPathFont font{kFontEngineInbuilt, {"face.ttf", nullptr, 0, 0}, 20, 0};
  EXPECT_EQ(AddTextToPath(p, &font, "a", 1, true), ERR_VECGFXPLUGIN);
  SetVectorEngineOverride(&FakeEngine::kEngine);
  EXPECT_EQ(AddTextToPath(p, nullptr, "a", 1, true), ERR_VFONTTYPE);
  qvPathFont bitmap = font;
  bitmap.engine = 1;
  EXPECT_EQ(AddTextToPath(p, &bitmap, "a", 1, true), ERR_VFONTTYPE);
  FakeEngine::fonts = 0;
  EXPECT_EQ(AddTextToPath(p, &font, "a", 1, true), ERR_VFONT);
  EXPECT_EQ(p->buffer, nullptr);
  FakeEngine::fonts = 3;
  // ISO-8859-1 "Aé" becomes UTF-8 (3 bytes, 4 with the zero, padded to 8).
  ASSERT_EQ(AddTextToPath(p, &font, "A\xE9", 2, false), 0);
  EXPECT_EQ(font.vectorFont, 3);
  Bytes want;
  want.I(9).I(3).I(20).Raw({'A', 0xC3, 0xA9, 0, 0, 0, 0, 0}).I(0);
  EXPECT_EQ(StreamOf(*p), want.b);
  FakeEngine::freed = 0;
  ReleasePathFont(&font);
  ReleasePathFont(&font);
  EXPECT_EQ(FakeEngine::freed, 1);
  EXPECT_EQ(font.vectorFont, 0);
}

}  // namespace
}  // namespace qv
