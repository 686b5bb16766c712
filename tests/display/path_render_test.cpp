// The path renderer with the vector stand-in of tests/plugins, whose coverage is exactly the box
// of a path's points (grown by half the line width when stroked): where the picture goes, how
// large it is with a shadow, an edge or a transform, empty extents and "nothing drawn", refusals
// before anything is allocated, the temporary paths of shapes, and the blit onto a display.
#include "display/path_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/errors.h"
#include "core/plugins.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/records.h"
#include "fixtures/display_setup.h"

namespace qv {
namespace {

constexpr uint32_t kRed = 0xFF0000, kShadow = 0x000080, kEdge = 0x00FF00;

class PathRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadPlugin((std::string(QV_TEST_PLUGIN_DIR) + "/vecstub.qvp").c_str(), &plugin_), 0);
    const qvPluginInfo* info = plugin_->info;
    engine_.getPathExtents = reinterpret_cast<int32_t (*)(qvPathExtentsRequest*)>(info->vector[0]);
    engine_.drawPath = reinterpret_cast<int32_t (*)(qvDrawPathRequest*)>(info->vector[1]);
    SetVectorEngineOverride(&engine_);
    ASSERT_EQ(RegisterPaths(), 0);
    InitDrawStyle(&style_);
    style_.fillStyle = kFillColour;
  }
  void TearDown() override {
    SetVectorEngineOverride(nullptr);
    FreeAllPaths(nullptr);
    FreeRegistries();
    UnloadPlugin(plugin_);
  }
  // A path of the box from (x0, y0) to (x1, y1) by its corners.
  qvPath* Box(int32_t number, double x0, double y0, double x1, double y1) {
    qvPath* p = nullptr;
    EXPECT_EQ(StartPath(nullptr, {number, 0}, &p), 0);
    const qvSegmentOperand a[] = {IntOperand(0), DoubleOperand(x0), DoubleOperand(y0)};
    const qvSegmentOperand b[] = {IntOperand(0), DoubleOperand(x1), DoubleOperand(y1)};
    EXPECT_EQ(AppendPathSegment(p, QV_SEG_MOVETO, a, 3), 0);
    EXPECT_EQ(AppendPathSegment(p, QV_SEG_LINETO, b, 3), 0);
    return p;
  }
  int Render(const qvPath& path, int32_t x, int32_t y, qvPathImage* out,
             const qvTransformBlock* transform = nullptr) {
    qvPathRender r;
    EXPECT_EQ(BuildPathRender(path, style_, kRed, x, y, transform, &r), 0);
    return RenderPathImage(nullptr, &r, out);
  }
  // Rows of the picture: 'R' body, 'S' shadow, 'E' edge, '.' transparent, '?' anything else.
  static std::string Picture(const qvPathImage& image) {
    std::string out;
    for (int32_t y = 0; y < image.height; ++y) {
      for (int32_t x = 0; x < image.width; ++x) {
        uint32_t alpha =
            image.alpha->data[size_t(y) * size_t(image.alpha->bytesPerRow) + size_t(x)];
        uint32_t rgb = ReadBitMapPixel(image.bitmap, x, y) & 0xFFFFFF;
        out += alpha == 0       ? '.'
               : alpha != 255   ? '?'
               : rgb == kRed    ? 'R'
               : rgb == kShadow ? 'S'
               : rgb == kEdge   ? 'E'
                                : '?';
      }
      out += '\n';
    }
    return out;
  }

  qvPluginHandle* plugin_ = nullptr;
  qvVectorEngine engine_{};
  qvDrawStyle style_;
};

TEST_F(PathRenderTest, ExtentsCornerLandsOnThePosition) {
  qvPath* p = Box(1, 20, 30, 24, 33);
  qvPathImage image;
  ASSERT_EQ(Render(*p, 100, 100, &image), 0);
  EXPECT_EQ(image.x, 100);
  EXPECT_EQ(image.y, 100);
  EXPECT_EQ(Picture(image),
            "RRRR\n"
            "RRRR\n"
            "RRRR\n");
  FreePathImage(&image);
}

TEST_F(PathRenderTest, ShadowGrowsThePictureOnItsSides) {
  struct Case {
    int32_t direction;
    int32_t dx, dy;  // where the picture's corner lies against the position
    const char* picture;
  };
  const Case cases[] = {
      {kShadowSouthEast, 0, 0, "RRR.\nRRRS\nRRRS\n.SSS\n"},
      {kShadowNorth, 0, -1, ".S.\nRRR\nRRR\nRRR\n"},
      {kShadowWest, -1, 0, "SRRR\nSRRR\nSRRR\n"},
  };
  style_.formStyle = kFormShadow;
  style_.shadowDistance = 1;
  style_.shadowColour = kShadow;
  qvPath* p = Box(1, 0, 0, 3, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.direction);
    style_.shadowDirection = c.direction;
    qvPathImage image;
    ASSERT_EQ(Render(*p, 10, 10, &image), 0);
    EXPECT_EQ(image.x, 10 + c.dx);
    EXPECT_EQ(image.y, 10 + c.dy);
    // The stand-in's shadow is the body's box at the shadow's offset, under the body.
    std::string want = c.picture;
    if (c.direction == kShadowNorth) want = "SSS\nRRR\nRRR\nRRR\n";
    EXPECT_EQ(Picture(image), want);
    FreePathImage(&image);
  }
}

TEST_F(PathRenderTest, EdgeWidensTheExtentsAndOutlinesAreFreeOfForms) {
  style_.formStyle = kFormEdge | kFormShadow;
  style_.edgeSize = 1;
  style_.edgeColour = kEdge;
  style_.shadowDistance = 1;
  style_.shadowDirection = kShadowSouthEast;
  style_.shadowColour = kShadow;
  qvPath* p = Box(1, 0, 0, 2, 2);
  qvPathImage image;
  // Filled with EDGE: the extents are the stroke of twice the edge size, 1 pixel around; the
  // shadow is the edge's silhouette.
  ASSERT_EQ(Render(*p, 10, 10, &image), 0);
  EXPECT_EQ(image.x, 10);
  EXPECT_EQ(Picture(image),
            "EEEE.\n"
            "ERRES\n"
            "ERRES\n"
            "EEEES\n"
            ".SSSS\n");
  FreePathImage(&image);
  // FILLNONE ignores both forms: the stroke of the line width alone.
  style_.fillStyle = kFillNone;
  style_.lineWidth = 2;
  ASSERT_EQ(Render(*p, 10, 10, &image), 0);
  EXPECT_EQ(Picture(image),
            "RRRR\n"
            "RRRR\n"
            "RRRR\n"
            "RRRR\n");
  FreePathImage(&image);
}

TEST_F(PathRenderTest, TransformTurnsTheExtentsBox) {
  qvPath* p = Box(1, 5, 5, 8, 7);
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.matrix[0] = 2;  // twice as wide
  qvPathImage image;
  ASSERT_EQ(Render(*p, 0, 0, &image, &t), 0);
  EXPECT_EQ(image.width, 6);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(Picture(image), "RRRRRR\nRRRRRR\n");
  FreePathImage(&image);
}

TEST_F(PathRenderTest, LayerRedrawScalesByTheDisplayAndKeepsTheStoredExtents) {
  qvPath* p = Box(1, 10, 20, 13, 22);
  qvPathRender state;
  ASSERT_EQ(BuildPathRender(*p, style_, kRed, 7, 8, nullptr, &state), 0);
  qvPathImage first;
  ASSERT_EQ(RenderPathImage(nullptr, &state, &first), 0);
  EXPECT_EQ(state.extentsX, 10);
  EXPECT_EQ(state.extentsY, 20);
  FreePathImage(&first);
  qvTransformBlock t;
  InitTransformBlock(&t);
  qvPathImage image;
  ASSERT_EQ(DrawPathLayer(nullptr, t, 2, 3, state, &image), 0);
  EXPECT_EQ(image.x, 7);
  EXPECT_EQ(image.y, 8);
  EXPECT_EQ(image.width, 6);
  EXPECT_EQ(image.height, 6);
  EXPECT_EQ(Picture(image), "RRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\n");
  FreePathImage(&image);
}

TEST_F(PathRenderTest, EmptyPathsEmptyExtentsNothingDrawnAndHugeExtents) {
  qvPath* empty = nullptr;
  ASSERT_EQ(StartPath(nullptr, {1, 0}, &empty), 0);
  qvPathImage image;
  EXPECT_EQ(Render(*empty, 0, 0, &image), ERR_EMPTYPATH);
  // A line along x has no height as a fill.
  EXPECT_EQ(Render(*Box(2, 0, 5, 10, 5), 0, 0, &image), ERR_EMPTYPATH);
  // Not a number: the extents are empty.
  EXPECT_EQ(Render(*Box(3, 0, 0, NAN, 5), 0, 0, &image), ERR_EMPTYPATH);
  // The stand-in draws nothing for a stream that starts with StartSubPath: no picture, no error.
  qvPath* none = nullptr;
  ASSERT_EQ(StartPath(nullptr, {4, 0}, &none), 0);
  ASSERT_EQ(AppendPathSegment(none, QV_SEG_STARTSUBPATH, nullptr, 0), 0);
  const qvSegmentOperand a[] = {IntOperand(0), DoubleOperand(0), DoubleOperand(0)};
  const qvSegmentOperand b[] = {IntOperand(0), DoubleOperand(4), DoubleOperand(4)};
  ASSERT_EQ(AppendPathSegment(none, QV_SEG_MOVETO, a, 3), 0);
  ASSERT_EQ(AppendPathSegment(none, QV_SEG_LINETO, b, 3), 0);
  ASSERT_EQ(Render(*none, 0, 0, &image), 0);
  EXPECT_EQ(image.bitmap, nullptr);
  EXPECT_EQ(image.alpha, nullptr);
  // Beyond 2^31 pixels a side, and beyond what one picture may hold: refused before allocating.
  EXPECT_EQ(Render(*Box(5, 0, 0, 3e9, 1), 0, 0, &image), ERR_MEM);
  EXPECT_EQ(Render(*Box(6, 0, 0, 100000, 100000), 0, 0, &image), ERR_MEM);
  EXPECT_EQ(image.bitmap, nullptr);

  SetVectorEngineOverride(nullptr);
  EXPECT_EQ(Render(*Box(7, 0, 0, 1, 1), 0, 0, &image), ERR_VECGFXPLUGIN);
}

TEST_F(PathRenderTest, ShapesDrawThroughTemporaryPathsThatAlwaysGo) {
  qvShapeParams shape{};
  shape.type = kShapeBox;
  shape.width = 0;  // a box without width: empty extents
  shape.height = 4;
  EXPECT_EQ(DrawShapeAsPath(nullptr, shape, style_), ERR_EMPTYPATH);
  shape.type = 999;
  EXPECT_EQ(DrawShapeAsPath(nullptr, shape, style_), ERR_WRONGUSAGE);
  EXPECT_EQ(CountObjects(kObjectVectorPath), 0);

  // The segments each shape becomes, closed.
  const qvPointD points[] = {{1, 2}, {3, 4}};
  struct Case {
    int32_t type;
    std::vector<int32_t> opcodes;
  };
  const Case cases[] = {{kShapeBox, {QV_SEG_BOX, QV_SEG_CLOSEPATH}},
                        {kShapeCircle, {QV_SEG_ARC, QV_SEG_CLOSEPATH}},
                        {kShapeEllipse, {QV_SEG_ARC, QV_SEG_CLOSEPATH}},
                        {kShapePolygon, {QV_SEG_MOVETO, QV_SEG_LINETO, QV_SEG_CLOSEPATH}},
                        {kShapeArc, {QV_SEG_MOVETO, QV_SEG_ARC, QV_SEG_CLOSEPATH}}};
  for (const Case& c : cases) {
    qvPath* p = nullptr;
    ASSERT_EQ(StartPath(nullptr, {1, 0}, &p), 0);
    shape = {};
    shape.type = c.type;
    shape.points = points;
    shape.pointCount = 2;
    ASSERT_EQ(AppendShapeSegments(p, shape), 0) << c.type;
    std::vector<int32_t> seen;
    const size_t sizes[] = {0, 20, 20, 52, 0, 0, 0, 52, 48, 0};  // operand bytes by opcode
    for (size_t at = 0; at < p->used;) {
      int32_t op;
      std::memcpy(&op, p->buffer + at, 4);
      seen.push_back(op);
      at += 4 + sizes[op];
    }
    EXPECT_EQ(seen, c.opcodes) << c.type;
  }
}

TEST_F(PathRenderTest, DrawnOntoTheDisplayThroughItsBlit) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  ASSERT_EQ(test::OpenDisplayForTest(), 0);
  ASSERT_EQ(RegisterPaths(), 0);
  qvObjectId id{1, nullptr};
  qvDisplayTags tags = test::TagsOf({{"width", 20}, {"height", 10}, {"color", 0xFFFFFF}});
  qvDisplay* display = nullptr;
  ASSERT_EQ(CreateDisplayCore(nullptr, &id, false, &tags, &display), 0);
  ASSERT_EQ(OpenDisplayCore(nullptr, display, true), 0);
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  Box(1, 50, 50, 53, 52);
  EXPECT_EQ(DrawPathById(nullptr, {9, nullptr}, 0, 0, kRed, style_, nullptr), ERR_FINDPATH);
  ASSERT_EQ(DrawPathById(nullptr, {1, nullptr}, 4, 5, kRed, style_, nullptr), 0);
  for (int32_t y = 4; y <= 7; ++y) {
    for (int32_t x = 3; x <= 7; ++x) {
      bool inside = x >= 4 && x < 7 && y >= 5 && y < 7;
      EXPECT_EQ(ReadBitMapPixel(display->outBitmap, x, y) & 0xFFFFFF, inside ? kRed : 0xFFFFFF)
          << x << "," << y;
    }
  }
  test::CloseDisplayForTest();
}

}  // namespace
}  // namespace qv
