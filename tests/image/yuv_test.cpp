// Video frame conversion: the colour of known luma and chroma bytes, each format's packing, which
// luma and chroma samples each result pixel reads (odd sizes, scaling, rows past the frame), a
// grey ramp and in-gamut colours beside what the ffmpeg tool makes of the same frames, and every
// SIMD path equal to the scalar reference on every byte triple and on random frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/yuv_internal.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2})
    if (l <= BestSimdLevel()) levels.push_back(l);
  return levels;
}

std::string LevelName(SimdLevel l) {
  return l == SimdLevel::kScalar ? "scalar" : l == SimdLevel::kSse2 ? "SSE2" : "AVX2";
}

// Puts the path back as the test found it.
struct LevelGuard {
  SimdLevel saved = CurrentSimdLevel();
  ~LevelGuard() { SetSimdLevel(saved); }
};

// A frame's three planes, each in a block of its own sized to the byte (so that the sanitizer
// build sees any read past it). A plane may carry spare bytes after each row, spare rows after
// the frame's, and be stored bottom up (negative stride).
struct Frame {
  int w, h;
  std::vector<uint8_t> block[3];
  const uint8_t* rows[3];  // row 0 of each plane
  int32_t strides[3];

  Frame(int width, int height, int pad = 0, bool bottomUp = false, int spareRows = 0)
      : w(width), h(height) {
    for (int p = 0; p < 3; ++p) {
      const int pw = p == 0 ? w : (w + 1) / 2, ph = (p == 0 ? h : (h + 1) / 2) + spareRows;
      const int stride = pw + pad;
      block[p].assign(size_t(stride) * ph, 0);
      rows[p] = bottomUp ? block[p].data() + size_t(stride) * (ph - 1) : block[p].data();
      strides[p] = bottomUp ? -stride : stride;
    }
  }
  uint8_t& At(int p, int x, int y) {
    return const_cast<uint8_t*>(rows[p])[int64_t(y) * strides[p] + x];
  }
  uint8_t& Y(int x, int y) { return At(0, x, y); }
  uint8_t& U(int x, int y) { return At(1, x, y); }
  uint8_t& V(int x, int y) { return At(2, x, y); }
  void Fill(std::mt19937& rng) {
    for (auto& b : block)
      for (auto& v : b) v = uint8_t(rng());
  }
  YUVFrameRecord Record(uint8_t* dst, int32_t pixelsPerRow, int32_t format, int32_t bytes,
                        int32_t dstWidth = 0, int32_t dstHeight = 0) const {
    return {rows, strides, dst, w, h, dstWidth, dstHeight, pixelsPerRow, format, bytes};
  }
};

uint32_t Pixel32(const std::vector<uint8_t>& out, int64_t at) {
  return uint32_t(out[at * 4]) | uint32_t(out[at * 4 + 1]) << 8 | uint32_t(out[at * 4 + 2]) << 16 |
         uint32_t(out[at * 4 + 3]) << 24;
}

// What the reference gives for one pixel in format 10 (the packing is tested on its own).
uint32_t Expected(int y, int u, int v) {
  uint8_t px[4];
  image::ConvertYuvPixel(px, kPixARGB32, y, u, v);
  return uint32_t(px[0]) | uint32_t(px[1]) << 8 | uint32_t(px[2]) << 16 | uint32_t(px[3]) << 24;
}

TEST(Yuv, KnownColours) {
  // From the integer definition, worked out apart from the player's code.
  struct Row {
    int y, u, v;
    uint32_t rgb;
    const char* what;
  } rows[] = {
      {16, 128, 128, 0x000000, "studio black"},
      {235, 128, 128, 0xFFFFFF, "studio white, limited from 255.5"},
      {0, 128, 128, 0x000000, "below black: negative quotients held at 0"},
      {255, 128, 128, 0xFFFFFF, "above white"},
      {126, 128, 128, 0x808080, "mid grey"},
      {81, 90, 240, 0xFE0000, "red"},
      {145, 54, 34, 0x00FF01, "green"},
      {41, 240, 110, 0x0000FF, "blue"},
      {128, 0, 0, 0x00FF00, "chroma 0: red and blue limited to 0"},
      {128, 255, 255, 0xFF00FF, "chroma 255: green limited to 0"},
      {100, 60, 200, 0xD54200, "blue below 0"},
      {170, 90, 140, 0xC6B867, "in gamut"},
  };
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    for (const Row& row : rows) {
      SCOPED_TRACE(LevelName(level) + " " + row.what);
      // Nine pixels: one SIMD step and a scalar tail.
      Frame f(9, 1);
      for (int x = 0; x < 9; ++x) f.Y(x, 0) = uint8_t(row.y);
      for (int x = 0; x < 5; ++x) f.U(x, 0) = uint8_t(row.u), f.V(x, 0) = uint8_t(row.v);
      std::vector<uint8_t> out(9 * 4, 0xEE);
      YUVToRGBKernel(f.Record(out.data(), 9, kPixARGB32, 4));
      for (int x = 0; x < 9; ++x) EXPECT_EQ(Pixel32(out, x), row.rgb) << "pixel " << x;
    }
  }
}

TEST(Yuv, EachFormatPacksItsBytes) {
  // Luma 150 and chroma 92, 134 give red 0xA6, green 0xA5, blue 0x53: low bits that tell the
  // 5-bit masks from the 6-bit one and red from blue.
  struct Row {
    int32_t format;
    std::vector<uint8_t> bytes;
  } rows[] = {
      {0, {0x8A, 0x52}},
      {1, {0x94, 0x2A}},
      {2, {0x52, 0x8A}},
      {3, {0x2A, 0x94}},
      {4, {0x2A, 0xA5}},
      {5, {0x34, 0x55}},
      {6, {0xA5, 0x2A}},
      {7, {0x55, 0x34}},
      {8, {0xA6, 0xA5, 0x53}},
      {9, {0x53, 0xA5, 0xA6}},
      {10, {0x53, 0xA5, 0xA6, 0x00}},
      {11, {0x00, 0xA6, 0xA5, 0x53}},
      {12, {0x00, 0x53, 0xA5, 0xA6}},
      {13, {0xA6, 0xA5, 0x53, 0x00}},
  };
  constexpr int kW = 19, kH = 2, kPpr = 21;  // two SIMD steps and a tail, spare pixels a row
  Frame f(kW, kH);
  for (auto& b : f.block[0]) b = 150;
  for (auto& b : f.block[1]) b = 92;
  for (auto& b : f.block[2]) b = 134;
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    for (const Row& row : rows) {
      const int bytes = int(row.bytes.size());
      for (bool scaled : {false, true}) {
        SCOPED_TRACE(LevelName(level) + " format " + std::to_string(row.format) +
                     (scaled ? " scaled" : ""));
        std::vector<uint8_t> out(size_t(kPpr) * kH * bytes, 0xEE);
        const YUVFrameRecord r = f.Record(out.data(), kPpr, row.format, bytes, kW, kH);
        scaled ? YUVToRGBScaleKernel(r) : YUVToRGBKernel(r);
        for (int y = 0; y < kH; ++y) {
          for (int x = 0; x < kPpr; ++x) {
            const uint8_t* px = out.data() + (size_t(y) * kPpr + x) * bytes;
            const std::vector<uint8_t> got(px, px + bytes);
            if (x < kW)
              EXPECT_EQ(got, row.bytes) << "pixel " << x << ", " << y;
            else
              EXPECT_EQ(got, std::vector<uint8_t>(size_t(bytes), 0xEE)) << "spare " << x;
          }
        }
      }
    }
  }
}

TEST(Yuv, NothingWrittenForAFormatItCannotPack) {
  Frame f(8, 2);
  const std::vector<uint8_t> untouched(8 * 2 * 4, 0xEE);
  struct Row {
    int32_t format, bytes;
    bool scaledToo;
  } rows[] = {
      {kPixRGB565, 4, false},  // the unscaled kernel wants the bytes to match the format
      {kPixARGB32, 3, false},  //
      {kPixRGB24, 2, false},   //
      {14, 4, true},           // no such format
      {-1, 4, true},           //
  };
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    for (const Row& row : rows) {
      std::vector<uint8_t> out = untouched;
      YUVToRGBKernel(f.Record(out.data(), 8, row.format, row.bytes));
      if (row.scaledToo) YUVToRGBScaleKernel(f.Record(out.data(), 8, row.format, row.bytes, 8, 2));
      EXPECT_EQ(out, untouched) << LevelName(level) << " format " << row.format;
    }
  }
}

// Every result pixel against the reference pixel of the luma and chroma it should read.
void ExpectReads(const std::vector<uint8_t>& out, int dw, int dh, int ppr, Frame& f,
                 int (*column)(int), int (*row)(int)) {
  int wrong = 0;
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const int sx = column(x), sy = row(y);
      const uint32_t want = Expected(f.Y(sx, sy), f.U(sx / 2, sy / 2), f.V(sx / 2, sy / 2));
      const uint32_t got = Pixel32(out, int64_t(y) * ppr + x);
      if (got != want && ++wrong <= 5)
        ADD_FAILURE() << "pixel " << x << ", " << y << ": " << std::hex << got << " not " << want;
    }
  }
}

TEST(Yuv, OddSizesReadTheLastChromaRowAndColumn) {
  // 11 x 5: the last column reads chroma column 5 and the last row chroma row 2, the planes'
  // last (they are 6 x 3, sized to the byte).
  std::mt19937 rng(11);
  LevelGuard guard;
  for (bool bottomUp : {false, true}) {
    Frame f(11, 5, 0, bottomUp);
    f.Fill(rng);
    for (SimdLevel level : Levels()) {
      SetSimdLevel(level);
      SCOPED_TRACE(LevelName(level) + (bottomUp ? " bottom up" : ""));
      std::vector<uint8_t> out(size_t(13) * 5 * 4, 0);
      YUVToRGBKernel(f.Record(out.data(), 13, kPixARGB32, 4));
      auto same = [](int i) { return i; };
      ExpectReads(out, 11, 5, 13, f, same, same);
    }
  }
}

TEST(Yuv, ScalingTwiceReadsEveryPixelTwice) {
  std::mt19937 rng(320);
  Frame f(320, 240, 5);
  f.Fill(rng);
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    SCOPED_TRACE(LevelName(level));
    std::vector<uint8_t> out(size_t(640) * 480 * 4, 0);
    YUVToRGBScaleKernel(f.Record(out.data(), 640, kPixARGB32, 4, 640, 480));
    auto half = [](int i) { return i / 2; };
    ExpectReads(out, 640, 480, 640, f, half, half);
    // At the frame's own size the scaled kernel converts one to one.
    std::vector<uint8_t> same(size_t(320) * 240 * 4, 0), scaled = same;
    YUVToRGBKernel(f.Record(same.data(), 320, kPixARGB32, 4));
    YUVToRGBScaleKernel(f.Record(scaled.data(), 320, kPixARGB32, 4, 320, 240));
    EXPECT_EQ(scaled, same);
  }
}

TEST(Yuv, ScaledRowsStayInsideTheFrame) {
  // Two rows scaled to 8194: the row ratio summed in single precision reaches 2.0 at the last
  // result row, one luma row and one chroma row past the frame. The planes go on with a row of
  // other bytes there, which the last result row must not show.
  constexpr int kW = 3, kH = 2, kDh = 8194;
  float s = 0.0f;
  const float ratio = float(kH) / float(kDh);
  for (int j = 0; j < kDh - 1; ++j) s += ratio;
  ASSERT_GE(int(s), kH) << "the sum no longer overshoots: pick other sizes";
  Frame f(kW, kH, 0, false, 1);
  for (int x = 0; x < kW; ++x) f.Y(x, 0) = 60, f.Y(x, 1) = 120, f.Y(x, 2) = 240;
  for (int x = 0; x < 2; ++x) f.U(x, 0) = 128, f.V(x, 0) = 128, f.U(x, 1) = 0, f.V(x, 1) = 255;
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    std::vector<uint8_t> out(size_t(kW) * kDh * 4, 0);
    YUVToRGBScaleKernel(f.Record(out.data(), kW, kPixARGB32, 4, kW, kDh));
    for (int x = 0; x < kW; ++x)
      EXPECT_EQ(Pixel32(out, int64_t(kDh - 1) * kW + x), Expected(120, 128, 128))
          << LevelName(level) << " column " << x;
  }
}

TEST(Yuv, SimdEqualsScalarOnEveryByteTriple) {
  // Frames of 256 x 512: luma runs 0-255 along each row and each chroma row holds one (U, V)
  // pair, so 256 frames convert every triple, in the format whose bytes keep every channel.
  constexpr int kW = 256, kH = 512;
  Frame f(kW, kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) f.Y(x, y) = uint8_t(x);
  std::vector<uint8_t> reference(size_t(kW) * kH * 4), fast(reference.size());
  LevelGuard guard;
  for (int u = 0; u < 256; ++u) {
    for (int y = 0; y < kH / 2; ++y)
      for (int x = 0; x < kW / 2; ++x) f.U(x, y) = uint8_t(u), f.V(x, y) = uint8_t(y);
    SetSimdLevel(SimdLevel::kScalar);
    YUVToRGBKernel(f.Record(reference.data(), kW, kPixARGB32, 4));
    for (SimdLevel level : Levels()) {
      if (level == SimdLevel::kScalar) continue;
      SetSimdLevel(level);
      YUVToRGBKernel(f.Record(fast.data(), kW, kPixARGB32, 4));
      ASSERT_EQ(fast, reference) << LevelName(level) << " U " << u;
    }
  }
}

std::vector<uint32_t> Seeds() {
  std::vector<uint32_t> seeds = {20261211u};
  if (const char* env = std::getenv("QV_SIMD_SEED"))
    seeds.push_back(uint32_t(std::strtoul(env, nullptr, 10)));
  else
    seeds.push_back(std::random_device{}());
  return seeds;
}

TEST(Yuv, SimdEqualsScalarOnRandomFrames) {
  // Random sizes (widths across the eight-pixel steps), strides, bottom-up planes, formats and
  // result sizes larger and smaller; every byte of the destination compared, the spare ones too.
  LevelGuard guard;
  for (uint32_t seed : Seeds()) {
    std::printf("seed %u (QV_SIMD_SEED replays it)\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 400; ++i) {
      const int w = pick(1, 70), h = pick(1, 9);
      Frame f(w, h, pick(0, 9), pick(0, 1) == 1);
      f.Fill(rng);
      const int32_t format = pick(0, 13);
      const int32_t bytes = image::YuvFormatBytes(format);
      const bool scaled = pick(0, 1) == 1;
      const int dw = scaled ? pick(1, 150) : w, dh = scaled ? pick(1, 30) : h;
      const int ppr = dw + pick(0, 5);
      const std::vector<uint8_t> before(size_t(ppr) * dh * bytes, 0xEE);
      std::vector<uint8_t> reference = before;
      const YUVFrameRecord r0 = f.Record(reference.data(), ppr, format, bytes, dw, dh);
      SetSimdLevel(SimdLevel::kScalar);
      scaled ? YUVToRGBScaleKernel(r0) : YUVToRGBKernel(r0);
      for (SimdLevel level : Levels()) {
        if (level == SimdLevel::kScalar) continue;
        SetSimdLevel(level);
        std::vector<uint8_t> fast = before;
        const YUVFrameRecord r = f.Record(fast.data(), ppr, format, bytes, dw, dh);
        scaled ? YUVToRGBScaleKernel(r) : YUVToRGBKernel(r);
        ASSERT_EQ(fast, reference) << LevelName(level) << " case " << i << ": " << w << "x" << h
                                   << " to " << dw << "x" << dh << " format " << format;
      }
    }
  }
}

TEST(Yuv, AgreesWithTheFfmpegTool) {
  // Frames of 256 x 2, luma 0-255 along the rows, each frame one chroma pair all over (so that
  // the tool's chroma interpolation has nothing to blend), converted by the tool to RGB24 with
  // its exact rounding. The grey ramp must come out the same; colours whose channels lie inside
  // 0..255 before limiting may differ by the tool's rounding of its own coefficients, at most 1.
  constexpr int kW = 256, kH = 2;
  std::vector<std::pair<int, int>> pairs = {{128, 128}, {90, 240}, {240, 110}, {54, 34}};
  std::mt19937 rng(601);
  for (int i = 0; i < 60; ++i) pairs.push_back({int(rng() & 255), int(rng() & 255)});
  std::vector<uint8_t> raw;
  for (auto [u, v] : pairs) {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) raw.push_back(uint8_t(x));
    raw.insert(raw.end(), kW / 2 * kH / 2, uint8_t(u));
    raw.insert(raw.end(), kW / 2 * kH / 2, uint8_t(v));
  }
  qvtest::TempDir dir;
  const std::string in = dir.Write("frames.yuv", raw), out = dir.Path("frames.rgb");
  int status = 0;
  const std::string log = qvtest::RunCommand(
      "ffmpeg -loglevel error -y -f rawvideo -pix_fmt yuv420p -s 256x2 -i '" + in +
          "' -sws_flags neighbor+accurate_rnd+full_chroma_int+bitexact -f rawvideo -pix_fmt rgb24 '" +
          out + "' 2>&1",
      &status);
  ASSERT_EQ(status, 0) << log;
  const std::string theirs = dir.Read("frames.rgb");
  ASSERT_EQ(theirs.size(), pairs.size() * kW * kH * 3);
  // Whether a channel's quotient lies inside 0..255 before limiting.
  auto inGamut = [](int y, int u, int v) {
    const int64_t r = (1904000LL * y + 2609823LL * v - 363703744) / 1635200;
    const int64_t g = (3827562LL * y - 1287801LL * u - 2672387LL * v + 447306710) / 3287200;
    const int64_t b = (952000LL * y + 1649289LL * u - 225932192) / 817600;
    return r >= 0 && r <= 255 && g >= 0 && g <= 255 && b >= 0 && b <= 255;
  };
  LevelGuard guard;
  for (SimdLevel level : Levels()) {
    SetSimdLevel(level);
    SCOPED_TRACE(LevelName(level));
    int compared = 0;
    for (size_t k = 0; k < pairs.size(); ++k) {
      Frame f(kW, kH);
      std::memcpy(f.block[0].data(), raw.data() + k * kW * kH * 3 / 2, kW * kH);
      for (auto& b : f.block[1]) b = uint8_t(pairs[k].first);
      for (auto& b : f.block[2]) b = uint8_t(pairs[k].second);
      std::vector<uint8_t> ours(size_t(kW) * kH * 3);
      YUVToRGBKernel(f.Record(ours.data(), kW, kPixRGB24, 3));
      const bool grey = pairs[k] == std::pair{128, 128};
      for (int i = 0; i < kW * kH; ++i) {
        const int y = i % kW;
        if (!grey && !inGamut(y, pairs[k].first, pairs[k].second)) continue;
        ++compared;
        for (int c = 0; c < 3; ++c) {
          const int a = ours[size_t(i) * 3 + c];
          const int b = uint8_t(theirs[(k * kW * kH + size_t(i)) * 3 + c]);
          if (grey)
            ASSERT_EQ(a, b) << "grey luma " << y << " channel " << c;
          else
            ASSERT_LE(std::abs(a - b), 1) << "luma " << y << " chroma " << pairs[k].first << ", "
                                          << pairs[k].second << " channel " << c;
        }
      }
    }
    EXPECT_GT(compared, kW * kH * 5);
  }
}

}  // namespace
