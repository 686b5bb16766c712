// The assembler's display and declaration directives, read back by the player's own applet
// reader: what a test writes with `.display`, `.declare` and `.rawtag` is what start-up sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/applet.h"
#include "core/vfile.h"
#include "fixtures/temp_path.h"
#include "tools/qvasm/gtest_support.h"

namespace qv {
namespace {

// Assembles the applet, writes it and reads it with the player's reader: its code.
int ReadBack(const std::string& text, qvAppletSettings* settings) {
  qvasm::Result r = qvasm::AssembleApplet(text);
  for (const auto& d : r.diags) ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message;
  // Tests run in parallel processes, and test runs of other checkouts: each its own file.
  std::string path = qvtest::TempPath(
      std::string("directives_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
      ".qva");
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(r.bytes.data(), 1, r.bytes.size(), f);
  std::fclose(f);
  qvFile* file = OpenFileQ(path.c_str(), kFileRead);
  EXPECT_NE(file, nullptr);
  int code = ReadApplet(file, path.c_str(), 0, settings, 0);
  CloseFileQ(file);
  std::remove(path.c_str());
  return code;
}

TEST(AppletDirectives, DisplayTagsMakeDisplayOne) {
  qvAppletSettings s;
  ASSERT_EQ(ReadBack(R"(
.display name "Board"
.display size 320 200
.display color 0x123456
.display pos -5 7
.display borderless 1
.display fixed 0
.display scale auto 640 400 smooth
.display mode 2
.display backfill picture 4 10 -20 0xFF 0xFF00 scale
.function main
  RETURN R0, 1
.end
)",
                     &s),
            0);
  ASSERT_EQ(s.declarations.size(), 1u);
  const qvObjectDeclaration& decl = s.declarations[0];
  EXPECT_EQ(decl.kind, kDeclDisplay);
  EXPECT_EQ(decl.id, 1);
  const auto& d = std::get<qvDisplayRecord>(decl.sub);
  EXPECT_EQ(d.title, "Board");
  EXPECT_EQ(d.width, 320);
  EXPECT_EQ(d.height, 200);
  EXPECT_EQ(d.color, 0x123456u);
  EXPECT_EQ(d.x, -5);
  EXPECT_EQ(d.y, 7);
  EXPECT_EQ(d.valueFlags & (kDisplayBorderless | kDisplayFixed | kDisplayAutoScale |
                            kDisplaySmoothScale | kDisplayActive),
            kDisplayBorderless | kDisplayAutoScale | kDisplaySmoothScale | kDisplayActive);
  EXPECT_EQ(d.maskFlags & (kDisplayBorderless | kDisplayFixed), kDisplayBorderless | kDisplayFixed);
  EXPECT_EQ(d.scaleWidth, 640);
  EXPECT_EQ(d.scaleHeight, 400);
  EXPECT_EQ(s.displayMode, 2);
  EXPECT_EQ(s.backfill.type, kBackfillPicture);
  EXPECT_EQ(s.backfill.brushId, 4);
  EXPECT_EQ(s.backfill.pictureY, -20);
  EXPECT_EQ(s.backfill.endColor, 0xFF00);
  EXPECT_EQ(s.backfill.scalePicture, 1);
}

TEST(AppletDirectives, DeclarationsGoIntoOneRecordWithTheirFileNames) {
  qvAppletSettings s;
  ASSERT_EQ(ReadBack(R"(
.declare brush 3 "pics/ship.png" line=12 width=16 height=8
.declare display 2 "" width=100 height=50 color=0xFF0000 flags=0x800 title="Second" fillstyle=2 endcolor=0xFF angle=45
.declare button 9 "" rect=1,2,3,4
.declare file 4 "data.txt" extra2=7 stretch=100,25
.function main
  RETURN R0, 1
.end
)",
                     &s),
            0);
  ASSERT_EQ(s.declarations.size(), 4u);
  const qvObjectDeclaration& brush = s.declarations[0];
  EXPECT_EQ(brush.kind, kDeclBrush);
  EXPECT_EQ(brush.fileName, "pics/ship.png");
  EXPECT_EQ(brush.sourceLine, 12);
  EXPECT_EQ(brush.extra1, -1);
  const auto& b = std::get<qvBrushDecl>(brush.sub);
  EXPECT_EQ(b.width, 16);
  EXPECT_EQ(b.height, 8);
  EXPECT_EQ(b.globalAlpha, -1);

  const auto& d = std::get<qvDisplayRecord>(s.declarations[1].sub);
  EXPECT_EQ(s.declarations[1].id, 2);
  EXPECT_EQ(d.width, 100);
  EXPECT_EQ(d.color, 0xFF0000u);
  EXPECT_EQ(d.valueFlags, kDisplayHidden);
  EXPECT_EQ(d.title, "Second");
  EXPECT_EQ(d.x, -100000);
  EXPECT_EQ(d.fillStyle, 2);
  EXPECT_EQ(d.gradient.startColor, 0xFF0000u);
  EXPECT_EQ(d.gradient.endColor, 0xFFu);
  EXPECT_EQ(d.gradient.angle, 45);
  EXPECT_EQ(d.gradient.style, 2);
  EXPECT_DOUBLE_EQ(d.gradient.balance, 0.5);
  EXPECT_TRUE(d.dragRegions.empty());

  const auto& button = std::get<qvButtonDecl>(s.declarations[2].sub);
  EXPECT_EQ(button.values[3], 4);
  const qvObjectDeclaration& file = s.declarations[3];
  EXPECT_EQ(file.fileName, "data.txt");
  EXPECT_EQ(file.extra1, 0);
  EXPECT_EQ(file.extra2, 7);
  EXPECT_EQ(file.linkedOffset, 100u);
  EXPECT_EQ(file.linkedLength, 25u);
}

TEST(AppletDirectives, RawTagsWriteAnyRecord) {
  qvAppletSettings s;
  // Tag 5 (display colour) as raw bytes, then a record the reader does not know.
  EXPECT_EQ(ReadBack(R"(
.rawtag 5 "00 AB CD EF"
.function main
  RETURN R0, 1
.end
)",
                     &s),
            0);
  ASSERT_EQ(s.declarations.size(), 1u);
  EXPECT_EQ(std::get<qvDisplayRecord>(s.declarations[0].sub).color, 0xABCDEFu);
  qvAppletSettings t;
  EXPECT_EQ(ReadBack(".rawtag 99\n.function main\n  RETURN R0, 1\n.end\n", &t), ERR_UNKNOWNSEC);
  qvAppletSettings u;
  EXPECT_EQ(ReadBack(".rawtag 3 \"01\"\n.function main\n  RETURN R0, 1\n.end\n", &u),
            ERR_UNEXPECTEDEOF);
}

TEST(AppletDirectives, BadOperandsAreDiagnostics) {
  for (const char* line : {".display size 1", ".display frobnicate 1", ".display borderless 2",
                           ".declare thing 1 \"x\"", ".declare brush 1", ".rawtag 3 \"0\"",
                           ".declare button 1 \"\" rect=1,2", ".display scale auto 1 2 rough"}) {
    qvasm::Result r = qvasm::AssembleApplet(std::string(line) +
                                            "\n.function main\n  RETURN R0, 1\n.end\n");
    EXPECT_FALSE(r.diags.empty()) << line;
  }
}

}  // namespace
}  // namespace qv
