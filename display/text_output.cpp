// Text into the output (see text_output.h).
#include "display/text_output.h"

#include <algorithm>

#include "base/errors.h"
#include "display/displays.h"
#include "display/draw_internal.h"
#include "display/output.h"

namespace qv {
namespace {

bool IsCoordConstant(int32_t v) {
  return v == kCoordCenter || v == kCoordLeft || v == kCoordRight || v == kCoordTop ||
         v == kCoordBottom;
}

// The block into the output with its mask or alpha, at (x, y) of the target.
int32_t BlitBlock(qvScriptState* L, qvDisplay* d, qvBGPic* target, const qvTextBlockResult& b,
                  int64_t x, int64_t y) {
  // A block placed beyond the 32-bit plane lies wholly outside every target.
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return 0;
  auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
  if (d->doubleBuffer) AddDirtyRect(px, py, b.width, b.height);
  return SafeBlt(L, b.bitmap, 0, 0, d->outBitmap, px, py, b.width, b.height, b.width, b.height,
                 target->width, target->height, kBltBeneathSprites | kBltRecompose, b.mask, b.alpha,
                 target->clipRegion);
}

// The output ready for text: the display, no layers, the device bound.
int32_t PrepareOutput(qvScriptState* L, qvDisplay** d, qvBGPic** target) {
  *d = CurrentDisplay();
  if (*d == nullptr) return ERR_WRONGUSAGE;
  // Text layers (edge and shadow as the layer's border and shadow) come with the layer system.
  if ((*d)->layersOn) return ERR_NOLAYERS;
  if (int code = draw::BindForDrawing(L, *d)) return code;
  *target = OutputTarget();
  return *target == nullptr ? ERR_WRONGUSAGE : 0;
}

// The plain case drawn line by line without runs: the text has no tags, tabs or breaks to keep,
// is opaque, in the normal style, left aligned, within any wrap width. Returns false when the
// general layout must do it.
bool FastPathApplies(const qvTextLayoutState& s, int32_t kind, bool literal, int32_t wrap) {
  const int32_t style = s.style.style;
  if (style != kStyleNormal && style != kStyleAntialias &&
      style != (kStyleNormal | kStyleAntialias))
    return false;
  if ((s.style.colour >> 24) != 0 || s.align != kCoordLeft || s.breaksKnown) return false;
  if (kind == kLayoutTextOut && (IsCoordConstant(s.x) || IsCoordConstant(s.y))) return false;
  const std::string& t = s.text;
  if (t.empty() || t.find('\t') != std::string::npos) return false;
  if (!literal && (t.find('[') != std::string::npos || t.find(']') != std::string::npos))
    return false;
  if (wrap > 0) {
    const size_t feed = t.find('\n');
    if (feed != std::string::npos && t.find_first_not_of("\r\n", feed) != std::string::npos)
      return false;
    qvStyledExtent e;
    MeasureStyledText(t.data(), t.size(), s.encoding, s.style, &e);
    const int32_t start = kind == kLayoutPrint ? s.cursorX - s.marginLeft : 0;
    if (start + e.drawnWidth > wrap) return false;
  }
  return true;
}

// The fast path: each line in the text colour into a block with its mask, at the pen; line feeds
// return to `lineStart` one font height down. The pen ends after the last character.
int32_t RenderLines(qvScriptState* L, qvDisplay* d, qvBGPic* target, const qvTextLayoutState& s,
                    int32_t lineStart, int32_t* penX, int32_t* penY) {
  const qvFont* font = s.style.font ? s.style.font : GetDefaultFont();
  if (font == nullptr) return ERR_MEM;
  const std::string& t = s.text;
  size_t from = 0;
  for (;;) {
    size_t feed = t.find('\n', from);
    std::string line = t.substr(from, feed == std::string::npos ? std::string::npos : feed - from);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (!line.empty()) {
      qvTextExtent e;
      MeasureTextRun(font, line.data(), line.size(), s.style.style, s.encoding, &e);
      const int32_t width = std::max({e.advance, e.right + 1, 1});
      qvTextBlockResult block;
      block.width = width;
      block.height = std::max(font->height, 1);
      block.bitmap = AllocClearedBitMap(block.width, block.height);
      block.mask = AllocMask(block.width, block.height, true);
      if (!block.bitmap || !block.mask) {
        FreeTextBlock(&block);
        return ERR_MEM;
      }
      RenderTextRun(font, qvTextTarget{block.bitmap, nullptr}, 0, 0, line.data(), line.size(),
                    s.style.style, s.encoding, nullptr, s.style.colour & 0xFFFFFF);
      RenderTextRun(font, qvTextTarget{nullptr, block.mask}, 0, 0, line.data(), line.size(),
                    s.style.style, s.encoding, nullptr, kShapeMode);
      int32_t code = BlitBlock(L, d, target, block, *penX, *penY);
      FreeTextBlock(&block);
      if (code != 0) return code;
      *penX += e.advance;
    }
    if (feed == std::string::npos) break;
    *penX = lineStart;
    *penY += font->height;
    from = feed + 1;
  }
  return 0;
}

}  // namespace

int32_t TextOutput(qvScriptState* L, const qvTextOutRequest& request,
                   const qvConstantLookup& lookup) {
  if (request.encoding < 0 || request.encoding > 1 || request.wrapWidth < 0) return ERR_WRONGUSAGE;
  if (request.breaks.size() > kMaxBreaks) return ERR_INTERNAL;
  qvDisplay* d = nullptr;
  qvBGPic* target = nullptr;
  if (int32_t code = PrepareOutput(L, &d, &target)) return code;
  qvTextLayoutState s;
  s.x = request.x;
  s.y = request.y;
  s.style = *GetTextSettings();
  if (request.colourGiven) s.style.colour = request.colour;
  s.text = request.text;
  s.align = request.align;
  s.marginRight = request.wrapWidth;
  s.encoding = request.encoding;
  if (request.breaksGiven) {
    s.breaks = request.breaks;
    s.breaksKnown = true;
  }
  const qvFont* font = s.style.font ? s.style.font : GetDefaultFont();
  if (font && (s.style.style & kStyleAntialias) && !font->antialias) return ERR_ANTIALIAS;
  if (FastPathApplies(s, kLayoutTextOut, false, s.marginRight)) {
    int32_t penX = s.x, penY = s.y;
    return RenderLines(L, d, target, s, s.x, &penX, &penY);
  }
  qvTextBlockResult block;
  if (int32_t code = LayoutTextBlock(&s, kLayoutTextOut, false, lookup, &block)) return code;
  const int64_t x = int64_t(ResolveCoordX(s.x, block.width, target->width, 0.0)) + block.xOffset;
  const int64_t y = int64_t(ResolveCoordY(s.y, block.height, target->height, 0.0)) + block.yOffset;
  int32_t code = BlitBlock(L, d, target, block, x, y);
  FreeTextBlock(&block);
  return code;
}

int32_t PrintText(qvScriptState* L, const std::string& text, bool literal,
                  const qvConstantLookup& lookup) {
  qvDisplay* d = nullptr;
  qvBGPic* target = nullptr;
  if (int32_t code = PrepareOutput(L, &d, &target)) return code;
  qvTextLayoutState s;
  s.x = kCoordCenter;  // a print's marker
  s.style = *GetTextSettings();
  s.text = text;
  s.cursorX = d->cursorX;
  s.cursorY = d->cursorY;
  s.marginLeft = d->marginLeft;
  s.marginRight = d->marginRight;
  s.tabs.assign(d->tabStops, d->tabStops + std::clamp(d->tabCount, 0, 32));
  s.encoding = GetDefaultEncoding();
  const qvFont* font = s.style.font ? s.style.font : GetDefaultFont();
  if (font && (s.style.style & kStyleAntialias) && !font->antialias) return ERR_ANTIALIAS;
  if (FastPathApplies(s, kLayoutPrint, literal, s.marginRight - s.marginLeft + 1)) {
    int32_t penX = s.cursorX, penY = s.cursorY;
    int32_t code = RenderLines(L, d, target, s, s.marginLeft, &penX, &penY);
    d->cursorX = penX;
    d->cursorY = penY;
    return code;
  }
  qvTextBlockResult block;
  if (int32_t code = LayoutTextBlock(&s, kLayoutPrint, literal, lookup, &block)) return code;
  d->cursorX = s.cursorX;
  d->cursorY = s.cursorY;
  int32_t code = BlitBlock(L, d, target, block, block.xOffset, block.yOffset);
  FreeTextBlock(&block);
  return code;
}

int32_t SetTextMargins(int32_t left, int32_t right) {
  qvDisplay* d = CurrentDisplay();
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return ERR_WRONGUSAGE;
  if (left >= right) return ERR_WRONGUSAGE;
  left = std::max(left, 0);
  right = std::min(right, target->width - 1);
  d->marginLeft = left;
  d->marginRight = right;
  d->cursorX = left;
  d->cursorY = 0;
  return 0;
}

int32_t LocateTextCursor(int32_t x, int32_t y) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  if (IsCoordConstant(x) || IsCoordConstant(y)) return ERR_NOCOORDCST;
  if (x < d->marginLeft || x > d->marginRight) x = d->marginLeft;
  d->cursorX = x;
  d->cursorY = y;
  return 0;
}

int32_t AddTextTab(int32_t position) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  if (position < 0) return ERR_NEGCOORDS;
  if (d->tabCount >= 32) return ERR_INTERNAL;
  int32_t at = d->tabCount;
  while (at > 0 && d->tabStops[at - 1] > position) {
    d->tabStops[at] = d->tabStops[at - 1];
    --at;
  }
  d->tabStops[at] = position;
  ++d->tabCount;
  return 0;
}

int32_t ResetTextTabs() {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  d->tabCount = 0;
  return 0;
}

}  // namespace qv
