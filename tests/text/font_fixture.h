// What the font tests share: glyph pictures read from the drawings the fixtures were made from,
// and a drawn bitmap or plane read back as rows of "#" and ".".
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image/image.h"
#include "tests/fixtures/temp_dir.h"

namespace qvtest {

using Rows = std::vector<std::string>;

inline std::string FontFixture(const std::string& name) {
  return std::string(QV_FONT_FIXTURES) + "/" + name;
}

// The rows of a text file of "#"/"." (or digit) rows.
inline Rows ReadRows(const std::string& path) {
  std::ifstream in(path);
  Rows rows;
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

// The built-in font's glyphs as drawn: code (-1 the substitute) to its 8 rows.
inline std::map<int, Rows> BuiltinDrawing() {
  std::map<int, Rows> glyphs;
  Rows rows = ReadRows(QV_BUILTIN_FONT_DRAWING);
  int current = 0;
  for (const std::string& line : rows) {
    if (line.empty() || line[0] == ';') continue;
    if (line == "substitute") {
      current = -1;
    } else if (line.rfind("char ", 0) == 0) {
      current = std::stoi(line.substr(5));
    } else {
      glyphs[current].push_back(line);
    }
  }
  return glyphs;
}

// A blank picture of `width` x `height` with `glyph` pasted at x (cells other than "." set).
inline Rows Blank(int width, int height) {
  return Rows(size_t(height), std::string(size_t(width), '.'));
}
inline void Paste(Rows* picture, const Rows& glyph, int x, char mark = '#') {
  for (size_t y = 0; y < glyph.size() && y < picture->size(); ++y) {
    for (size_t i = 0; i < glyph[y].size(); ++i) {
      int px = x + int(i);
      if (glyph[y][i] != '.' && px >= 0 && px < int((*picture)[y].size()))
        (*picture)[y][size_t(px)] = mark;
    }
  }
}
// Columns [from, from + width) of a strip's rows.
inline Rows Columns(const Rows& strip, int from, int width) {
  Rows out;
  for (const std::string& row : strip) out.push_back(row.substr(size_t(from), size_t(width)));
  return out;
}

// The bitmap's pixels: "#" where the pixel is `colour`, "." where 0, "?" otherwise.
inline Rows Drawn(const qv::qvBitMap* bitmap, uint32_t colour = 0xFFFFFF) {
  Rows rows;
  for (int y = 0; y < bitmap->height; ++y) {
    std::string row;
    for (int x = 0; x < bitmap->width; ++x) {
      uint32_t p = qv::ReadBitMapPixel(bitmap, x, y) & 0xFFFFFF;
      row += p == colour ? '#' : p == 0 ? '.' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}
inline Rows Drawn(const qv::qvPlane* plane) {
  Rows rows;
  for (int y = 0; y < plane->height; ++y) {
    std::string row;
    for (int x = 0; x < plane->width; ++x) row += qv::ReadBitMapPixel(plane, x, y) != 0 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

}  // namespace qvtest
