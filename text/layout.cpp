// Text layout into runs, lines and a block bitmap (see layout.h).
#include "text/layout.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/options.h"

namespace qv {
namespace {

const qvFont* FontOf(const qvTextSettings& style) {
  return style.font ? style.font : GetDefaultFont();
}

bool SameStyle(const qvTextSettings& a, const qvTextSettings& b) {
  return a.style == b.style && a.colour == b.colour && a.shadowColour == b.shadowColour &&
         a.edgeColour == b.edgeColour && a.shadowSize == b.shadowSize &&
         a.shadowDirection == b.shadowDirection && a.edgeSize == b.edgeSize && a.font == b.font;
}

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The builder's pass over one text: the pending run, the line, the word.
class RunBuilder {
 public:
  RunBuilder(qvTextLayoutState* state, int32_t kind, bool literal, const qvConstantLookup& lookup,
             qvTextRuns* out)
      : s_(*state), kind_(kind), literal_(literal), lookup_(lookup), out_(*out) {}

  int32_t Run();

 private:
  void MeasurePending();
  int32_t PenX() {
    MeasurePending();
    return pendingX_ + measuredAdvance_;
  }
  // The pending text's drawn right edge (INT32_MIN while it is empty).
  int32_t PendingRight() {
    MeasurePending();
    return out_.text.size() > pendingOffset_ ? pendingX_ + measuredRight_ : INT32_MIN;
  }
  void ClosePending();
  void StartPending(int32_t x) {
    pendingOffset_ = measuredEnd_ = out_.text.size();
    pendingX_ = x;
    measuredAdvance_ = measuredRight_ = 0;
  }
  void LineBreak();
  int32_t EndWord(size_t wordStart, size_t firstRun);
  int32_t Tab();
  int32_t Tag(const char* text, size_t length, size_t* i, size_t wordStart, size_t* firstRun);
  int32_t Values(const char* text, size_t length, size_t* i, int32_t* values, int32_t most,
                 int32_t* count);

  qvTextLayoutState& s_;
  int32_t kind_;
  bool literal_;
  const qvConstantLookup& lookup_;
  qvTextRuns& out_;
  qvTextSettings style_;
  std::vector<uint32_t> colours_;
  int32_t fontHeight_ = 0;
  int32_t wrap_ = 0;
  int32_t y_ = 0;
  size_t pendingOffset_ = 0;
  int32_t pendingX_ = 0;
  // The pending text is measured piece by piece as it grows (a text of many words costs one pass):
  // up to measuredEnd_, its advance and drawn right edge from pendingX_.
  size_t measuredEnd_ = 0;
  int32_t measuredAdvance_ = 0;
  int32_t measuredRight_ = 0;
  bool lineHasWord_ = false;
  int32_t lineRight_ = 0;
  int32_t words_ = 0;
  size_t breakAt_ = 0;
  size_t tabAt_ = 0;
};

void RunBuilder::MeasurePending() {
  const size_t end = out_.text.size();
  if (measuredEnd_ >= end) return;
  qvStyledExtent e;
  MeasureStyledText(out_.text.data() + measuredEnd_, end - measuredEnd_, s_.encoding, style_, &e);
  measuredRight_ = std::max(measuredRight_, measuredAdvance_ + e.drawnWidth);
  measuredAdvance_ += e.font.advance;
  measuredEnd_ = end;
}

void RunBuilder::ClosePending() {
  if (out_.text.size() > pendingOffset_) {
    qvTextRun run;
    run.offset = pendingOffset_;
    run.length = out_.text.size() - pendingOffset_;
    run.x = pendingX_;
    run.y = y_;
    run.style = style_;
    MeasureStyledText(out_.text.data() + run.offset, run.length, s_.encoding, style_, &run.extent);
    out_.runs.push_back(run);
    StartPending(run.x + run.extent.font.advance);
  } else {
    StartPending(pendingX_);
  }
}

void RunBuilder::LineBreak() {
  ClosePending();
  y_ += fontHeight_;
  StartPending(0);
  lineHasWord_ = false;
  lineRight_ = 0;
}

int32_t RunBuilder::EndWord(size_t wordStart, size_t firstRun) {
  const int32_t index = words_++;
  bool breakHere = false;
  // The line's right edge with this word: the pending text's drawn width, and the runs before.
  int32_t right = lineRight_;
  for (size_t r = firstRun; r < out_.runs.size(); ++r)
    right = std::max(right, out_.runs[r].x + out_.runs[r].extent.drawnWidth);
  right = std::max(right, PendingRight());
  if (s_.breaksKnown) {
    while (breakAt_ < s_.breaks.size() && s_.breaks[breakAt_] < index) ++breakAt_;
    breakHere = breakAt_ < s_.breaks.size() && s_.breaks[breakAt_] == index;
  } else if (wrap_ > 0 && right > wrap_ && lineHasWord_) {
    if (s_.breaks.size() >= kMaxBreaks) return ERR_INTERNAL;
    s_.breaks.push_back(index);
    breakHere = true;
  }
  if (breakHere && lineHasWord_) {
    const bool split = firstRun < out_.runs.size();
    if (split) {
      // The word's runs move to the next line as a whole, re-based from x 0.
      const int32_t base = out_.runs[firstRun].x;
      for (size_t r = firstRun; r < out_.runs.size(); ++r) {
        out_.runs[r].x -= base;
        out_.runs[r].y += fontHeight_;
      }
      pendingX_ -= base;
      y_ += fontHeight_;
    } else {
      // The text before the word closes as a run of its own line; the word starts the next.
      std::string word = out_.text.substr(wordStart);
      out_.text.resize(wordStart);
      ClosePending();
      y_ += fontHeight_;
      StartPending(0);
      out_.text += word;
    }
    lineRight_ = 0;
    right = 0;
    for (size_t r = split ? firstRun : out_.runs.size(); r < out_.runs.size(); ++r)
      right = std::max(right, out_.runs[r].x + out_.runs[r].extent.drawnWidth);
    right = std::max(right, PendingRight());
  }
  lineRight_ = std::max(lineRight_, right);
  lineHasWord_ = true;
  return 0;
}

int32_t RunBuilder::Tab() {
  ClosePending();
  int32_t result = -1;
  if (s_.tabsKnown) {
    result = tabAt_ < s_.tabResults.size() ? s_.tabResults[tabAt_] : -1;
    ++tabAt_;
    if (result >= int32_t(s_.tabs.size())) result = -1;
  } else {
    const int32_t absolute = PenX() + s_.marginLeft;
    for (size_t t = 0; t < s_.tabs.size(); ++t) {
      if (s_.tabs[t] > absolute) {
        if (wrap_ <= 0 || s_.tabs[t] - s_.marginLeft < wrap_) result = int32_t(t);
        break;
      }
    }
    if (s_.tabResults.size() >= kMaxBreaks) return ERR_INTERNAL;
    s_.tabResults.push_back(result);
  }
  if (result < 0) {
    LineBreak();
  } else {
    StartPending(s_.tabs[size_t(result)] - s_.marginLeft);
  }
  return 0;
}

int32_t RunBuilder::Values(const char* text, size_t length, size_t* i, int32_t* values,
                           int32_t most, int32_t* count) {
  *count = 0;
  for (;;) {
    while (*i < length && IsBlankOrTab(text[*i])) ++*i;
    if (*i >= length || text[*i] == '"') return ERR_VALUEEXPECTED;
    double v = 0;
    if (text[*i] == '#') {
      int consumed = 0;
      if (!lookup_ || lookup_(text + *i, &v, &consumed) != 0 || consumed < 1)
        return ERR_VALUEEXPECTED;
      *i += size_t(consumed);
    } else {
      // The number ends where the tag's text does not go on as one.
      std::string piece(text + *i, std::min<size_t>(length - *i, 64));
      size_t end = piece.find_first_of(",] \t");
      if (end != std::string::npos) piece.resize(end);
      size_t used = 0;
      int error = 0;
      v = ParseNumber(piece.c_str(), &used, &error);
      if (error != 0 || used == 0) return ERR_VALUEEXPECTED;
      *i += used;
    }
    if (!std::isfinite(v)) v = 0;
    values[(*count)++] = int32_t(std::clamp(std::round(v), -2147483648.0, 2147483647.0));
    while (*i < length && IsBlankOrTab(text[*i])) ++*i;
    if (*count < most && *i < length && text[*i] == ',') {
      ++*i;
      continue;
    }
    return 0;
  }
}

// A tag from the "[" at *i: the style changed, *i after its "]".
int32_t RunBuilder::Tag(const char* text, size_t length, size_t* i, size_t wordStart,
                        size_t* firstRun) {
  size_t p = *i + 1;
  while (p < length && IsBlankOrTab(text[p])) ++p;
  bool closing = false;
  if (p < length && text[p] == '/') {
    closing = true;
    ++p;
    while (p < length && IsBlankOrTab(text[p])) ++p;
  }
  auto startsWith = [&](const char* name) {
    size_t n = std::char_traits<char>::length(name);
    if (length - p < n) return false;
    for (size_t k = 0; k < n; ++k)
      if (ToLowerChar(static_cast<unsigned char>(text[p + k])) != uint8_t(name[k])) return false;
    return true;
  };
  auto letterTag = [&](char letter) {
    if (p >= length || ToLowerChar(static_cast<unsigned char>(text[p])) != uint8_t(letter))
      return false;
    return p + 1 >= length || IsBlankOrTab(text[p + 1]) || text[p + 1] == ']';
  };
  qvTextSettings next = style_;
  int32_t values[3] = {0, 0, 0};
  int32_t count = 0;
  auto takeValues = [&](int32_t most) -> int32_t {
    while (p < length && IsBlankOrTab(text[p])) ++p;
    if (closing || p >= length || text[p] != '=') return 0;
    ++p;
    return Values(text, length, &p, values, most, &count);
  };
  if (letterTag('b') || letterTag('i') || letterTag('u')) {
    const char letter = char(ToLowerChar(static_cast<unsigned char>(text[p])));
    const int32_t flag = letter == 'b'   ? kStyleBold
                         : letter == 'i' ? kStyleItalic
                                         : kStyleUnderlined;
    next.style = closing ? next.style & ~flag : next.style | flag;
    ++p;
  } else if (startsWith("color")) {
    p += 5;
    if (int32_t rc = takeValues(1)) return rc;
    if (closing) {
      if (colours_.empty()) return ERR_TEXTSYNTAX;
      next.colour = colours_.back();
      colours_.pop_back();
    } else {
      if (count == 0) return ERR_TEXTARG;
      colours_.push_back(next.colour);
      next.colour = uint32_t(values[0]);
    }
  } else if (startsWith("shadow")) {
    p += 6;
    if (int32_t rc = takeValues(3)) return rc;
    if (closing) {
      next.style &= ~kStyleShadow;
    } else {
      next.style |= kStyleShadow;
      if (count >= 1) next.shadowColour = uint32_t(values[0]);
      if (count >= 2) {
        if (values[1] < 1 || values[1] > 64) return ERR_WRONGUSAGE;
        next.shadowSize = values[1];
      }
      if (count >= 3) next.shadowDirection = values[2];
    }
  } else if (startsWith("edge")) {
    p += 4;
    if (int32_t rc = takeValues(2)) return rc;
    if (closing) {
      next.style &= ~kStyleEdge;
    } else {
      next.style |= kStyleEdge;
      if (count >= 1) next.edgeColour = uint32_t(values[0]);
      if (count >= 2) {
        if (values[1] < 1 || values[1] > 8) return ERR_WRONGUSAGE;
        next.edgeSize = values[1];
      }
    }
  } else {
    return ERR_UNKTEXTFMT;
  }
  while (p < length && IsBlankOrTab(text[p])) ++p;
  if (p >= length || text[p] != ']') return ERR_SQBRACKETCLOSE;
  *i = p + 1;
  if (!SameStyle(next, style_)) {
    // The word's text before the tag becomes a run of its own, apart from the text before the
    // word, so that the word can move to the next line as a whole.
    if (*firstRun == SIZE_MAX && pendingOffset_ < wordStart) {
      std::string word = out_.text.substr(wordStart);
      out_.text.resize(wordStart);
      ClosePending();
      out_.text += word;
    }
    if (*firstRun == SIZE_MAX) *firstRun = out_.runs.size();
    ClosePending();
    style_ = next;
  }
  return 0;
}

int32_t RunBuilder::Run() {
  if (s_.encoding < 0 || s_.encoding > 1) return ERR_WRONGUSAGE;
  style_ = s_.style;
  const qvFont* font = FontOf(style_);
  fontHeight_ = font ? font->height : 0;
  out_.fontHeight = fontHeight_;
  out_.encoding = s_.encoding;
  int32_t x0 = 0;
  if (kind_ == kLayoutPrint) {
    x0 = s_.cursorX - s_.marginLeft;
    wrap_ = s_.marginRight - s_.marginLeft + 1;
  } else {
    wrap_ = s_.marginRight;
  }
  if (!s_.breaksKnown) s_.breaks.clear();
  if (!s_.tabsKnown) s_.tabResults.clear();
  StartPending(x0);
  const char* text = s_.text.data();
  const size_t length = s_.text.size();
  size_t i = 0;
  while (i < length && text[i] != '\0') {
    const char c = text[i];
    if (c == '\t' && kind_ == kLayoutPrint) {
      if (int32_t rc = Tab()) return rc;
      ++i;
    } else if (c == '\n') {
      LineBreak();
      ++i;
    } else if (c == '\r') {
      ++i;
    } else if (c == ' ' || c == '\t') {
      out_.text += ' ';
      ++i;
    } else {
      const size_t wordStart = out_.text.size();
      size_t firstRun = SIZE_MAX;
      while (i < length) {
        const char w = text[i];
        if (w == '\0' || w == ' ' || w == '\r' || w == '\n' || w == '\t') break;
        if (!literal_ && w == '[') {
          if (i + 1 < length && text[i + 1] == '[') {
            out_.text += '[';
            i += 2;
            continue;
          }
          if (int32_t rc = Tag(text, length, &i, wordStart, &firstRun)) return rc;
          continue;
        }
        if (!literal_ && w == ']') {
          if (i + 1 < length && text[i + 1] == ']') {
            out_.text += ']';
            i += 2;
            continue;
          }
          return ERR_TEXTSYNTAX;
        }
        out_.text += w;
        ++i;
      }
      if (int32_t rc = EndWord(wordStart, firstRun == SIZE_MAX ? out_.runs.size() : firstRun))
        return rc;
    }
  }
  ClosePending();
  out_.endX = pendingX_;
  out_.endY = y_;
  if (!s_.breaksKnown) s_.breaksKnown = s_.breaks.size() > 0;
  s_.tabsKnown = true;
  // Trailing blanks go from each line's last run when they would show.
  for (size_t r = 0; r < out_.runs.size();) {
    qvTextRun& run = out_.runs[r];
    const bool last = r + 1 == out_.runs.size() || out_.runs[r + 1].y != run.y;
    if (last && ((run.style.style & kStyleUnderlined) || s_.align != kCoordLeft)) {
      while (run.length > 0 && out_.text[run.offset + run.length - 1] == ' ') --run.length;
      if (run.length == 0) {
        out_.runs.erase(out_.runs.begin() + std::ptrdiff_t(r));
        continue;
      }
      MeasureStyledText(out_.text.data() + run.offset, run.length, s_.encoding, run.style,
                        &run.extent);
    }
    ++r;
  }
  return 0;
}

struct Bounds {
  int32_t left = INT32_MAX, right = INT32_MIN, inkRight = INT32_MIN;
  int32_t topExtra = 0, bottomExtra = 0, lastY = 0;
};

Bounds RunBounds(const qvTextRuns& runs) {
  Bounds b;
  for (const qvTextRun& r : runs.runs) {
    const qvStyledExtent& e = r.extent;
    b.left = std::min(b.left, r.x + std::min(e.font.left, 0) + e.leftExtra);
    b.right = std::max(b.right, r.x + e.drawnWidth + e.rightExtra);
    b.inkRight = std::max(b.inkRight, r.x + e.font.right + 1);
    b.topExtra = std::min(b.topExtra, e.topExtra);
    b.bottomExtra = std::max(b.bottomExtra, e.bottomExtra);
    b.lastY = std::max(b.lastY, r.y);
  }
  return b;
}

}  // namespace

void MeasureStyledText(const char* text, size_t length, int32_t encoding,
                       const qvTextSettings& style, qvStyledExtent* out) {
  *out = {};
  const qvFont* font = FontOf(style);
  MeasureTextRun(font, text, length, style.style, encoding, &out->font);
  qvTextExtent& e = out->font;
  const int32_t height = font ? font->height : 0, baseline = font ? font->baseline : 0;
  e.height = height;
  if ((style.style & kStyleBold) && !FontEngineDoesStyle(font, kStyleBold) &&
      !(style.style & kStyleAntialias))
    e.right += 1;
  if ((style.style & kStyleItalic) && !FontEngineDoesStyle(font, kStyleItalic)) {
    e.right += baseline / 2;
    e.left -= (height - baseline) / 2;
  }
  out->drawnWidth = e.right >= e.advance ? e.right + 1 : e.advance;
  if (style.style & kStyleEdge) {
    const int32_t edge = std::clamp(style.edgeSize, 1, 64);
    out->topExtra = out->leftExtra = -edge;
    out->bottomExtra = out->rightExtra = edge;
  }
  if (style.style & kStyleShadow) {
    int32_t dx = 0, dy = 0;
    ShadowOffset(style.shadowDirection, std::clamp(style.shadowSize, 1, 64), &dx, &dy);
    out->topExtra = std::min(out->topExtra, dy);
    out->bottomExtra = std::max(out->bottomExtra, dy);
    out->leftExtra = std::min(out->leftExtra, dx);
    out->rightExtra = std::max(out->rightExtra, dx);
  }
}

int32_t BuildTextRuns(qvTextLayoutState* state, int32_t kind, bool literal,
                      const qvConstantLookup& lookup, qvTextRuns* out) {
  *out = {};
  try {
    RunBuilder builder(state, kind, literal, lookup, out);
    int32_t rc = builder.Run();
    if (rc != 0) *out = {};
    return rc;
  } catch (const std::bad_alloc&) {
    *out = {};
    return ERR_MEM;
  }
}

void FreeTextBlock(qvTextBlockResult* block) {
  if (!block) return;
  FreeBitMap(block->bitmap);
  FreeMaskOrAlpha(block->mask);
  FreeMaskOrAlpha(block->alpha);
  *block = {};
}

int32_t RenderTextRuns(qvTextRuns* runs, int32_t align, int32_t widthLimit,
                       qvTextBlockResult* out) {
  *out = {};
  if (runs->runs.empty()) return 0;
  Bounds b = RunBounds(*runs);
  // Lines move right by what their ink lacks of the block's.
  if (align == kCoordCenter || align == kCoordRight) {
    for (size_t first = 0; first < runs->runs.size();) {
      size_t last = first;
      while (last + 1 < runs->runs.size() && runs->runs[last + 1].y == runs->runs[first].y) ++last;
      const qvTextRun& end = runs->runs[last];
      int32_t shift = b.inkRight - (end.x + end.extent.font.right) - 1;
      if (align == kCoordCenter) shift /= 2;
      for (size_t r = first; r <= last; ++r) runs->runs[r].x += shift;
      first = last + 1;
    }
  }
  int64_t width = int64_t(b.right) - b.left;
  if (widthLimit > 0) width = std::min<int64_t>(width, int64_t(widthLimit) - b.left);
  const int64_t height = int64_t(runs->fontHeight) + b.bottomExtra + b.lastY + 1 -
                         int64_t(b.topExtra);
  if (width < 1 || height < 1 || width > INT32_MAX / 8 || height > INT32_MAX / 8) return ERR_MEM;
  bool useAlpha = false;
  for (const qvTextRun& r : runs->runs) {
    const int32_t st = r.style.style;
    if ((st & kStyleAntialias) || (r.style.colour >> 24) != 0 ||
        ((st & kStyleShadow) && (r.style.shadowColour >> 24) != 0) ||
        ((st & kStyleEdge) && (r.style.edgeColour >> 24) != 0))
      useAlpha = true;
  }
  qvTextBlockResult block;
  block.width = int32_t(width);
  block.height = int32_t(height);
  block.xOffset = b.left;
  block.yOffset = b.topExtra;
  block.bitmap = AllocClearedBitMap(block.width, block.height);
  if (useAlpha)
    block.alpha = AllocAlphaChannel(block.width, block.height, true);
  else
    block.mask = AllocMask(block.width, block.height, true);
  if (!block.bitmap || (!block.alpha && !block.mask)) {
    FreeTextBlock(&block);
    return ERR_MEM;
  }
  const qvTextBlock target{block.bitmap, block.mask, block.alpha};
  for (const qvTextRun& r : runs->runs) {
    const qvFont* font = FontOf(r.style);
    if (!font) continue;
    const int32_t shapeWidth = std::max({r.extent.drawnWidth, r.extent.font.advance, 1}) + 1;
    qvPlane* glyphs = AllocMask(shapeWidth, font->height + 1, true);
    qvBitMap* colours = font->kind == kFontKindColorBitmap
                            ? AllocClearedBitMap(shapeWidth, font->height + 1)
                            : nullptr;
    if (!glyphs || (font->kind == kFontKindColorBitmap && !colours)) {
      FreeMaskOrAlpha(glyphs);
      FreeBitMap(colours);
      FreeTextBlock(&block);
      return ERR_MEM;
    }
    RenderTextRun(font, qvTextTarget{colours, glyphs}, 0, 0, runs->text.data() + r.offset, r.length,
                  r.style.style, runs->encoding, nullptr, kShapeMode);
    qvRunShape shape;
    shape.shape = glyphs;
    shape.colourGlyphs = colours;
    shape.width = shapeWidth;
    shape.height = font->height;
    shape.baseline = font->baseline;
    shape.advance = r.extent.font.advance;
    shape.softBold = !FontEngineDoesStyle(font, kStyleBold);
    shape.softItalic = !FontEngineDoesStyle(font, kStyleItalic);
    shape.softUnderline = !FontEngineDoesStyle(font, kStyleUnderlined);
    int32_t rc = EdgeDraw(target, r.x - b.left, r.y - b.topExtra, r.style, shape);
    FreeMaskOrAlpha(glyphs);
    FreeBitMap(colours);
    if (rc != 0) {
      FreeTextBlock(&block);
      return rc;
    }
  }
  *out = block;
  return 0;
}

int32_t LayoutTextBlock(qvTextLayoutState* state, int32_t kind, bool literal,
                        const qvConstantLookup& lookup, qvTextBlockResult* out) {
  *out = {};
  const qvFont* font = FontOf(state->style);
  if (!font) return ERR_MEM;
  if ((state->style.style & kStyleAntialias) && !font->antialias) return ERR_ANTIALIAS;
  qvTextRuns runs;
  // An empty text is one blank: a line of the font's height.
  std::string saved;
  const bool empty = state->text.empty();
  if (empty) {
    saved.swap(state->text);
    state->text.assign(1, ' ');
  }
  int32_t rc = BuildTextRuns(state, kind, literal, lookup, &runs);
  if (empty) state->text.swap(saved);
  if (rc != 0) return rc;
  if (runs.runs.empty()) {
    qvTextBlockResult block;
    block.width = 1;
    block.height = std::max(font->height, 1);
    block.bitmap = AllocClearedBitMap(1, block.height);
    block.mask = AllocMask(1, block.height, true);
    if (!block.bitmap || !block.mask) {
      FreeTextBlock(&block);
      return ERR_MEM;
    }
    *out = block;
  } else if ((rc = RenderTextRuns(&runs, state->align, 0, out)) != 0) {
    return rc;
  }
  if (kind == kLayoutPrint) {
    out->xOffset += state->marginLeft;
    out->yOffset += state->cursorY;
    state->cursorX = runs.endX + state->marginLeft;
    state->cursorY += runs.endY;
  }
  return 0;
}

}  // namespace qv
