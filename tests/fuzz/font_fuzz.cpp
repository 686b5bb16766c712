// Fuzz target of the ".font" readers: the first byte picks the reader (even: the contents file,
// odd: the glyph file), the second is the size asked of a contents file, the rest is the file.
// A glyph file that reads is made a font and draws every character, in colour and as a shape,
// into a small bitmap beside a clip box, and is measured: nothing read may point outside the
// file, and no location outside the glyph strip.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <string>

#include "image/image.h"
#include "text/bitmap_font.h"
#include "text/fonts.h"

volatile int32_t g_fontSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  if (size < 2) return 0;
  const uint8_t* file = data + 2;
  const size_t length = size - 2;
  if ((data[0] & 1) == 0) {
    std::string entry;
    if (ReadFontContents(file, length, data[1], &entry) && entry.size() > 255) __builtin_trap();
    return 0;
  }
  auto* record = new qvBitmapFont;
  if (!ReadGlyphFile(file, length, record)) {
    delete record;
    return 0;
  }
  qvFont font;
  font.kind = record->IsColor() ? kFontKindColorBitmap : kFontKindBitmap;
  font.height = record->height;
  font.baseline = record->baseline;
  if (record->IsColor()) {
    font.pendingWidth = record->rowBytes * 8;
    font.pendingHeight = record->height;
    font.pendingPixels = std::move(record->colorPixels);
  }
  font.bitmap = record;
  if (font.kind == kFontKindColorBitmap && !font.pendingPixels.empty()) BuildColorGlyphs(&font);

  std::string text;
  for (int c = 0; c < 256; ++c) text += static_cast<char>(c);
  qvBitMap* bitmap = AllocClearedBitMap(48, 12);
  qvPlane* plane = AllocMask(48, 12, true);
  if (bitmap != nullptr && plane != nullptr) {
    qvTextTarget target;
    target.bitmap = bitmap;
    RenderTextRun(&font, target, -3, -1, text.data(), text.size(), kStyleNormal, 0, nullptr,
                  0xFFFFFF);
    target.plane = plane;
    const qvClipBox clip{5, 2, 20, 6};
    RenderTextRun(&font, target, 2, 0, text.data(), text.size(), kStyleNormal, 0, &clip,
                  kShapeMode);
  }
  qvTextExtent extent;
  MeasureTextRun(&font, text.data(), text.size(), kStyleNormal, 0, &extent);
  g_fontSum = extent.advance + extent.left + extent.right;
  FreeBitMap(bitmap);
  FreeMaskOrAlpha(plane);
  FreeBitmapFont(&font);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(FontFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
