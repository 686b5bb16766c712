// GIF reading and writing: fixtures made by Pillow and gifsicle against the frames their sources
// and the composition rules give, random access against sequential decoding, the LZW decoder's
// limits on hand-made data, refusals, and our writer read back by our decoder and by giflib.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/gif_io.h"
#include "image/image.h"
#include "image/picture.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

struct Frames {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<int32_t> delays;
  std::vector<std::vector<uint32_t>> pixels;
};

Frames ReadReference(const std::string& name) {
  std::vector<uint8_t> b = ReadBytes(std::string(QV_GIF_FIXTURES) + "/" + name + ".frames");
  Frames f;
  f.width = int32_t(Word(b, 0));
  f.height = int32_t(Word(b, 4));
  uint32_t count = Word(b, 8);
  size_t at = 12;
  for (uint32_t i = 0; i < count; ++i) {
    f.delays.push_back(int32_t(Word(b, at)));
    at += 4;
    std::vector<uint32_t> px(size_t(f.width) * f.height);
    for (uint32_t& p : px) {
      p = Word(b, at);
      at += 4;
    }
    f.pixels.push_back(px);
  }
  return f;
}

struct GifFree {
  void operator()(qvGifDecoder* g) const { FreeGif(g); }
};
using GifPtr = std::unique_ptr<qvGifDecoder, GifFree>;

// A GIF held in memory, opened through a memory file of the file layer.
class MemoryGif {
 public:
  explicit MemoryGif(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    static int32_t ref = 5000;
    registered_ = RegisterMemoryFile("test.gif", bytes_.data(), bytes_.size(), ++ref, nullptr,
                                     name_, sizeof name_);
  }
  ~MemoryGif() {
    if (registered_) UnregisterMemoryFile(name_);
  }
  const char* name() const { return name_; }

 private:
  std::vector<uint8_t> bytes_;
  char name_[kMaxPathLength + 1] = {};
  bool registered_ = false;
};

// Frame n of the GIF `name` (empty when it fails).
std::vector<uint32_t> FrameOf(qvGifDecoder* gif, const qvGifInfo& info, int32_t n) {
  uint32_t* px = LoadGifFrame(gif, n);
  if (px == nullptr) return {};
  std::vector<uint32_t> out(px, px + size_t(info.width) * info.height);
  std::free(px);
  return out;
}

// Builds GIF files by hand. Its LZW data never lets the code width grow: a clear code comes
// before the table would need a wider code, so every pixel is one root code.
class GifBuilder {
 public:
  GifBuilder(int width, int height, const std::vector<uint32_t>& global, int background) {
    bytes = {'G', 'I', 'F', '8', '9', 'a'};
    U16(width);
    U16(height);
    int bits = TableBits(global.size());
    bytes.push_back(global.empty() ? 0 : uint8_t(0x80 | (bits - 1)));
    bytes.push_back(uint8_t(background));
    bytes.push_back(0);
    Table(global, bits);
  }
  void Control(int disposal, int delay, int transparent) {
    bytes.insert(bytes.end(), {0x21, 0xF9, 4});
    bytes.push_back(uint8_t(disposal << 2 | (transparent >= 0 ? 1 : 0)));
    U16(delay);
    bytes.push_back(uint8_t(transparent >= 0 ? transparent : 0));
    bytes.push_back(0);
  }
  void Image(int left, int top, int width, int height, const std::vector<uint8_t>& pens,
             bool interlaced = false, const std::vector<uint32_t>& local = {}) {
    bytes.push_back(0x2C);
    U16(left);
    U16(top);
    U16(width);
    U16(height);
    int bits = TableBits(local.size());
    bytes.push_back(uint8_t((local.empty() ? 0 : 0x80 | (bits - 1)) | (interlaced ? 0x40 : 0)));
    Table(local, bits);
    std::vector<uint8_t> order;
    if (!interlaced) {
      order = pens;
    } else {
      const int start[4] = {0, 4, 2, 1};
      const int step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
          order.insert(order.end(), pens.begin() + y * width, pens.begin() + (y + 1) * width);
    }
    Codes(8, RootCodes(order, 8));
  }
  // Data of `minSize` and the given codes (with their widths) in sub-blocks, then a terminator.
  void Codes(int minSize, const std::vector<std::pair<int, int>>& codes) {
    bytes.push_back(uint8_t(minSize));
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int n = 0;
    for (auto [code, width] : codes) {
      acc |= uint32_t(code) << n;
      n += width;
      while (n >= 8) {
        data.push_back(uint8_t(acc));
        acc >>= 8;
        n -= 8;
      }
    }
    if (n > 0) data.push_back(uint8_t(acc));
    for (size_t at = 0; at < data.size(); at += 255) {
      size_t len = std::min<size_t>(255, data.size() - at);
      bytes.push_back(uint8_t(len));
      bytes.insert(bytes.end(), data.begin() + long(at), data.begin() + long(at + len));
    }
    bytes.push_back(0);
  }
  static std::vector<std::pair<int, int>> RootCodes(const std::vector<uint8_t>& pens, int minSize) {
    int clear = 1 << minSize;
    std::vector<std::pair<int, int>> codes;
    int sinceClear = 0;
    for (uint8_t p : pens) {
      if (sinceClear % (clear - 2) == 0) codes.push_back({clear, minSize + 1});
      codes.push_back({p, minSize + 1});
      ++sinceClear;
    }
    codes.push_back({clear + 1, minSize + 1});
    return codes;
  }
  void End() { bytes.push_back(0x3B); }
  std::vector<uint8_t> bytes;

 private:
  static int TableBits(size_t entries) {
    int bits = 1;
    while ((size_t(1) << bits) < entries) ++bits;
    return bits;
  }
  void U16(int v) {
    bytes.push_back(uint8_t(v));
    bytes.push_back(uint8_t(v >> 8));
  }
  void Table(const std::vector<uint32_t>& t, int bits) {
    if (t.empty()) return;
    for (int i = 0; i < (1 << bits); ++i) {
      uint32_t c = size_t(i) < t.size() ? t[i] : 0;
      bytes.insert(bytes.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    }
  }
};

int LoadCode(const std::vector<uint8_t>& bytes) {
  MemoryGif file(bytes);
  uint32_t* px = nullptr;
  qvPictureFacts facts;
  int code = LoadPicture(file.name(), nullptr, &px, &facts);
  std::free(px);
  return code;
}

}  // namespace

TEST(GifFixtures, FramesEqualTheirSourcesAndTheRules) {
  for (const char* name : {"noise_clear", "runs", "interlaced", "anim", "first_transparent"}) {
    SCOPED_TRACE(name);
    Frames want = ReadReference(name);
    std::string path = std::string(QV_GIF_FIXTURES) + "/" + name + ".gif";
    EXPECT_EQ(IdentifyPicture(path.c_str()), kPictureGif);
    qvGifInfo info;
    qvGifDecoder* raw = nullptr;
    ASSERT_EQ(LoadGif(path.c_str(), false, &info, &raw), 0);
    GifPtr gif(raw);
    ASSERT_EQ(info.width, want.width);
    ASSERT_EQ(info.height, want.height);
    ASSERT_EQ(info.frames, int32_t(want.pixels.size()));
    for (int32_t n = 0; n < info.frames; ++n) {
      EXPECT_EQ(FrameOf(gif.get(), info, n), want.pixels[n]) << "frame " << n;
      EXPECT_EQ(GetGifFrameDelay(gif.get(), n), want.delays[n]) << "frame " << n;
    }
    // The picture loader shows frame 0; its information mode reads the size alone.
    uint32_t* px = nullptr;
    qvPictureFacts facts;
    ASSERT_EQ(LoadPicture(path.c_str(), nullptr, &px, &facts), 0);
    std::vector<uint32_t> first(px, px + size_t(facts.width) * facts.height);
    std::free(px);
    EXPECT_EQ(first, want.pixels[0]);
    EXPECT_EQ(facts.alpha, 0);
    qvPictureFacts sizeOnly;
    ASSERT_EQ(LoadPicture(path.c_str(), nullptr, nullptr, &sizeOnly), 0);
    EXPECT_EQ(sizeOnly.width, want.width);
    EXPECT_EQ(sizeOnly.height, want.height);
  }
}

TEST(GifDecoder, RandomAccessEqualsSequentialDecoding) {
  Frames want = ReadReference("anim");
  std::string path = std::string(QV_GIF_FIXTURES) + "/anim.gif";
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(path.c_str(), false, &info, &raw), 0);
  GifPtr gif(raw);
  // Backwards, repeated, across the key frame at 5 and past the end.
  for (int32_t n : {3, 1, 5, 4, 0, 2, 2, 5, 1, 4, 3}) {
    EXPECT_EQ(FrameOf(gif.get(), info, n), want.pixels[n]) << "frame " << n;
  }
  EXPECT_EQ(LoadGifFrame(gif.get(), 6), nullptr);
  EXPECT_EQ(LoadGifFrame(gif.get(), -1), nullptr);
  EXPECT_EQ(FrameOf(gif.get(), info, 2), want.pixels[2]);
}

TEST(GifDecoder, FramesAndDisposalBoxesAreCutToTheScreen) {
  // A 5 x 4 screen; frame 1 (3 x 3 at 3,2) reaches past the right and bottom edges and is
  // cleared to the background afterwards; frame 2 is interlaced with a table of its own and
  // uses pen 1 as transparent; odd blocks (a comment, an application block, a stray byte) are
  // passed over.
  const uint32_t kBack = 0x111111;
  GifBuilder b(5, 4, {kBack, 0xAA0000, 0x00BB00, 0x0000CC}, 0);
  b.bytes.insert(b.bytes.end(), {0x21, 0xFE, 3, 'h', 'i', '!', 0});
  b.bytes.insert(b.bytes.end(), {0x21, 0xFF, 2, 'x', 'y', 1, 9, 0, 0x00});
  b.Image(0, 0, 5, 4, std::vector<uint8_t>(20, 3));
  b.Control(2, 0, -1);
  b.Image(3, 2, 3, 3, {1, 1, 1, 1, 2, 1, 1, 1, 1});
  b.Control(1, 0, 1);
  b.Image(0, 0, 2, 3, {0, 1, 1, 0, 0, 0}, true, {0x123456, 0x654321});
  b.End();
  MemoryGif file(b.bytes);
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(file.name(), false, &info, &raw), 0);
  GifPtr gif(raw);
  ASSERT_EQ(info.frames, 3);
  const uint32_t B = 0x0000CC;
  const uint32_t R = 0xAA0000;
  const uint32_t G = 0x00BB00;
  const uint32_t L = 0x123456;
  std::vector<uint32_t> frame1 = {B, B, B, B, B, B, B, B, B, B, B, B, B, R, R, B, B, B, R, G};
  std::vector<uint32_t> frame2 = {L, B, B, B,     B,     B, L, B, B,     B,
                                  L, L, B, kBack, kBack, B, B, B, kBack, kBack};
  EXPECT_EQ(FrameOf(gif.get(), info, 0), std::vector<uint32_t>(20, B));
  EXPECT_EQ(FrameOf(gif.get(), info, 1), frame1);
  EXPECT_EQ(FrameOf(gif.get(), info, 2), frame2);
  EXPECT_EQ(FrameOf(gif.get(), info, 1), frame1);
}

TEST(GifDecoder, AFullSizeFrameAtAnOffsetIsNoKeyFrame) {
  // Frame 1 has the screen's size but stands one pixel to the right, so pixel 0 keeps what
  // frame 0 drew: random access must not restart at frame 1.
  GifBuilder b(3, 1, {0x111111, 0x222222, 0x333333, 0x444444}, 0);
  b.Image(0, 0, 3, 1, {1, 1, 1});
  b.Image(1, 0, 3, 1, {2, 2, 2});
  b.Control(1, 0, 3);
  b.Image(0, 0, 1, 1, {3});
  b.End();
  MemoryGif file(b.bytes);
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(file.name(), false, &info, &raw), 0);
  GifPtr gif(raw);
  const std::vector<uint32_t> want = {0x222222, 0x333333, 0x333333};
  EXPECT_EQ(FrameOf(gif.get(), info, 2), want);
  EXPECT_EQ(FrameOf(gif.get(), info, 1), want);
}

// Both decoders: the forward one (a frame no larger than the screen) and the streaming one (a
// frame larger than the screen, here one pixel wider than it).
class GifLzwLimits : public testing::TestWithParam<bool> {};

TEST_P(GifLzwLimits, TablesAndRefusals) {
  const bool streaming = GetParam();
  // Codes of minimum size 2 (clear 4, end 5) on a 1-row picture, widths as the decoder grows
  // them: after each added entry, one bit more once the next free code reaches a power of two.
  struct Lzw {
    std::vector<std::pair<int, int>> codes;
    int width = 3;
    int nextFree = 6;
    bool first = true;
    void Clear() {
      codes.push_back({4, width});
      width = 3;
      nextFree = 6;
      first = true;
    }
    void Code(int code) {
      codes.push_back({code, width});
      if (first) {
        first = false;
        return;
      }
      ++nextFree;
      if (nextFree >= (1 << width) && width < 12) ++width;
    }
  };
  auto picture = [streaming](int pixels, const Lzw& lzw, int minSize = 2) {
    GifBuilder b(streaming ? pixels - 1 : pixels, 1, {0, 0xFFFFFF, 0xFF0000, 0x00FF00}, 0);
    b.bytes.insert(b.bytes.end(),
                   {0x2C, 0, 0, 0, 0, uint8_t(pixels), uint8_t(pixels >> 8), 1, 0, 0});
    b.Codes(minSize, lzw.codes);
    b.End();
    return b.bytes;
  };
  // Root codes only: each one pixel; 4090 entries fill the table (codes 6..4095).
  const int kFill = 4096 - 6 + 1;
  {
    Lzw lzw;
    lzw.Clear();
    for (int i = 0; i < kFill; ++i) lzw.Code(i % 4);
    ASSERT_EQ(lzw.nextFree, 4096);
    lzw.Clear();
    lzw.Code(1);
    lzw.Code(2);
    lzw.codes.push_back({5, lzw.width});
    EXPECT_EQ(LoadCode(picture(kFill + 2, lzw)), 0) << "a full table, then cleared";
    Lzw more = lzw;
    more.codes.resize(size_t(kFill) + 1);  // up to the full table
    more.codes.push_back({1, 12});         // needs a 4097th entry
    more.codes.push_back({5, 12});
    EXPECT_EQ(LoadCode(picture(kFill + 1, more)), ERR_LOADPICTURE2);
  }
  // A code that names the entry being defined (pixels 1 1 1) and a code beyond it.
  {
    Lzw lzw;
    lzw.Clear();
    lzw.Code(1);
    lzw.Code(6);
    lzw.codes.push_back({5, lzw.width});
    std::vector<uint8_t> ok = picture(3, lzw);
    MemoryGif file(ok);
    uint32_t* px = nullptr;
    qvPictureFacts facts;
    ASSERT_EQ(LoadPicture(file.name(), nullptr, &px, &facts), 0);
    EXPECT_EQ(std::vector<uint32_t>(px, px + facts.width),
              std::vector<uint32_t>(facts.width, 0xFFFFFF));
    std::free(px);
    Lzw beyond;
    beyond.Clear();
    beyond.Code(1);
    beyond.Code(7);
    EXPECT_EQ(LoadCode(picture(3, beyond)), ERR_LOADPICTURE2);
  }
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> codes;
    int pixels;
    int minSize;
    int result;
  } cases[] = {
      {"the end code before the last pixel", {{4, 3}, {1, 3}, {5, 3}}, 2, 2, ERR_LOADPICTURE2},
      {"the data ends before the last pixel", {{4, 3}, {1, 3}}, 4, 2, ERR_LOADPICTURE2},
      {"a first code that is no root", {{4, 3}, {7, 3}, {5, 3}}, 2, 2, ERR_LOADPICTURE2},
      {"a minimum code size above 8", {{512, 10}, {1, 10}, {513, 10}}, 2, 9, ERR_LOADPICTURE2},
      {"data after the last pixel is skipped", {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 3}}, 2, 2, 0},
      {"no clear code at the start", {{1, 3}, {2, 3}, {5, 3}}, 2, 2, 0},
  };
  for (const Case& c : cases) {
    Lzw lzw;
    lzw.codes = c.codes;
    EXPECT_EQ(LoadCode(picture(c.pixels, lzw, c.minSize)), c.result) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(BothDecoders, GifLzwLimits, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                           return p.param ? "Streaming" : "Forward";
                         });

TEST(GifDecoder, RefusalsAndTheFirstFramesCanvas) {
  GifBuilder good(2, 2, {0x000000, 0xFFFFFF}, 1);
  good.Image(0, 0, 2, 2, {0, 1, 1, 0});
  good.End();
  ASSERT_EQ(LoadCode(good.bytes), 0);
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> b = good.bytes;
    b[at] = value;
    return b;
  };
  GifBuilder noFrame(2, 2, {0, 1}, 0);
  noFrame.End();
  GifBuilder huge(65535, 65535, {0, 1}, 0);
  huge.Image(0, 0, 1, 1, {0});
  huge.End();
  std::vector<uint8_t> cutExtension = good.bytes;
  cutExtension.resize(19);
  cutExtension.insert(cutExtension.end(), {0x21, 0xFE, 9, 'a'});
  std::vector<uint8_t> cutData(good.bytes.begin(), good.bytes.end() - 4);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
  } cases[] = {
      {"width 0", with(6, 0), ERR_LOADPICTURE2},
      {"height 0", with(8, 0), ERR_LOADPICTURE2},
      {"no frame", noFrame.bytes, ERR_LOADPICTURE2},
      {"a screen above 2^31 bytes", huge.bytes, ERR_MEM},
      {"a cut extension", cutExtension, ERR_LOADPICTURE2},
      {"cut image data", cutData, ERR_LOADPICTURE2},
      {"a signature of neither version", with(4, '0'), ERR_LOADPICTURE2},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadCode(c.bytes), c.result) << c.what;

  // A transparent first frame that is cleared afterwards starts on the colour behind its
  // transparent pen, not on the background colour (entry 1 here).
  GifBuilder t(3, 1, {0x0000FF, 0x00FF00, 0xFF0000}, 1);
  t.Control(2, 0, 2);
  t.Image(1, 0, 2, 1, {0, 2});
  t.Control(1, 0, 2);
  t.Image(0, 0, 1, 1, {2});
  t.End();
  MemoryGif file(t.bytes);
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(file.name(), false, &info, &raw), 0);
  GifPtr gif(raw);
  EXPECT_EQ(FrameOf(gif.get(), info, 0), (std::vector<uint32_t>{0xFF0000, 0x0000FF, 0xFF0000}));
  EXPECT_EQ(FrameOf(gif.get(), info, 1), (std::vector<uint32_t>{0xFF0000, 0xFF0000, 0xFF0000}));
}

namespace {

// A one-frame GIF coded by giflib's encoder (strings of every length, repeats of a string's own
// start, the table filled and cleared) with a 256-colour global table, background entry 0.
// `rows` are the frame's rows in file order.
std::vector<uint8_t> GiflibFrame(int screenWidth, int screenHeight, int left, int top, int width,
                                 int height, bool interlaced, int transparent,
                                 const std::vector<uint32_t>& palette,
                                 const std::vector<uint8_t>& rows) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* g, const GifByteType* data, int n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + n);
        return n;
      },
      &error);
  std::vector<GifColorType> colours;
  for (uint32_t c : palette)
    colours.push_back({GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)});
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  EGifSetGifVersion(gif, true);
  EXPECT_EQ(EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, map), GIF_OK);
  GifFreeMapObject(map);
  if (transparent >= 0) {
    GraphicsControlBlock control{};
    control.TransparentColor = transparent;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), GIF_OK);
  }
  EXPECT_EQ(EGifPutImageDesc(gif, left, top, width, height, interlaced, nullptr), GIF_OK);
  std::vector<uint8_t> row(static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    std::copy(rows.begin() + y * width, rows.begin() + (y + 1) * width, row.begin());
    EXPECT_EQ(EGifPutLine(gif, row.data(), width), GIF_OK);
  }
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  return out;
}

}  // namespace

TEST(GifDecoder, ForwardAndStreamingDecodersGiveTheRulesPicture) {
  // The same frame on a screen at least its size (the forward decoder, into the canvas or
  // through pens) and on a screen four pixels narrower and lower, smaller than the frame (the
  // streaming decoder); both must show what the pens, the row order and the cut give.
  struct Case {
    const char* what;
    bool interlaced;
    int transparent;
    int left, top;
  } cases[] = {
      {"rows straight into the canvas", false, -1, 0, 0},
      {"interlaced", true, -1, 0, 0},
      {"a transparent pen at an offset", false, 7, 3, 2},
      {"interlaced and transparent at an offset", true, 7, 1, 3},
  };
  const int kWidth = 90, kHeight = 70;
  std::vector<uint32_t> palette(256);
  for (uint32_t i = 0; i < 256; ++i) palette[i] = i << 16 | (255 - i) << 8 | 0x40;
  std::mt19937 rng(22);
  // Runs (a string that repeats its own start) and noise (a table that fills up), row by row.
  std::vector<uint8_t> rows(size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t pen = (y / 9) % 2 == 0 ? uint8_t(rng() & 0xFF) : uint8_t(7 + (x / 13) % 3);
      rows[size_t(y) * kWidth + x] = pen;
    }
  }
  std::vector<int> order;  // frame row of each file row
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    order.clear();
    if (!c.interlaced) {
      for (int y = 0; y < kHeight; ++y) order.push_back(y);
    } else {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < kHeight; y += step[pass]) order.push_back(y);
    }
    for (int cut : {0, 4}) {
      const int screenWidth = c.left + kWidth - cut, screenHeight = c.top + kHeight - cut;
      ASSERT_EQ(int64_t(screenWidth) * screenHeight < int64_t(kWidth) * kHeight, cut != 0);
      std::vector<uint32_t> want(size_t(screenWidth) * screenHeight, palette[0]);
      for (int r = 0; r < kHeight; ++r) {
        int y = c.top + order[size_t(r)];
        for (int x = 0; x < kWidth && y < screenHeight && c.left + x < screenWidth; ++x) {
          uint8_t pen = rows[size_t(r) * kWidth + x];
          if (pen != c.transparent) want[size_t(y) * screenWidth + c.left + x] = palette[pen];
        }
      }
      MemoryGif file(GiflibFrame(screenWidth, screenHeight, c.left, c.top, kWidth, kHeight,
                                 c.interlaced, c.transparent, palette, rows));
      uint32_t* px = nullptr;
      qvPictureFacts facts;
      ASSERT_EQ(LoadPicture(file.name(), nullptr, &px, &facts), 0) << "cut " << cut;
      std::vector<uint32_t> got(px, px + want.size());
      std::free(px);
      EXPECT_EQ(got, want) << "cut " << cut;
    }
  }
}

TEST(GifDecoder, FailedAllocationsLeaveNothing) {
  std::string path = std::string(QV_GIF_FIXTURES) + "/anim.gif";
  for (int64_t fault = 1; fault <= 6; ++fault) {
    SetImageAllocFault(fault);
    qvGifInfo info;
    qvGifDecoder* raw = nullptr;
    int code = LoadGif(path.c_str(), false, &info, &raw);
    GifPtr gif(raw);
    uint32_t* px = code == 0 ? LoadGifFrame(gif.get(), 3) : nullptr;
    SetImageAllocFault(0);
    EXPECT_TRUE(code == 0 || code == ERR_MEM) << fault;
    if (code == 0 && px == nullptr) {
      // The decoder recovers once memory is back.
      px = LoadGifFrame(gif.get(), 3);
      EXPECT_NE(px, nullptr) << fault;
    }
    std::free(px);
  }
}

// ---- writing ----

namespace {

std::vector<uint32_t> Palette(int colours, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> p(256, 0);
  for (int i = 0; i < colours; ++i) p[i] = (rng() & 0xFFFFFF) | (uint32_t(i) << 24 & 0xFF000000);
  // Distinct colours, so that every pen reads back as itself.
  for (int i = 0; i < colours; ++i) p[i] = (p[i] & 0xFFFF00) | uint32_t(i);
  return p;
}

}  // namespace

TEST(GifWriter, PicturesReadBackInOurDecoderAndInGiflib) {
  qvtest::TempDir dir;
  struct Case {
    int width, height, colours;
  } cases[] = {{150, 120, 255}, {1, 1, 2}, {7, 300, 16}, {301, 3, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    std::string path = dir.Path("p.gif");
    std::vector<uint32_t> palette = Palette(c.colours, uint32_t(c.width));
    std::mt19937 rng(7);
    std::vector<uint8_t> pens(size_t(c.width) * c.height);
    // Runs and noise, never the last entry (which a frame without a pen marks transparent).
    for (size_t i = 0; i < pens.size(); ++i)
      pens[i] = uint8_t((i / 37) % 3 == 0 ? 0 : rng() % uint32_t(c.colours - 1));
    qvGifWriter* w = nullptr;
    ASSERT_EQ(SaveGif(path.c_str(), c.width, c.height, &w), 0);
    qvGifFrame f;
    f.pens = pens.data();
    f.width = c.width;
    f.height = c.height;
    f.palette = palette.data();
    f.colours = c.colours;
    f.delayMs = 120;
    ASSERT_EQ(SaveAnimGif(w, f), 0);
    ASSERT_EQ(FinishAnimGif(w), 0);

    qvGifInfo info;
    qvGifDecoder* raw = nullptr;
    ASSERT_EQ(LoadGif(path.c_str(), false, &info, &raw), 0);
    GifPtr gif(raw);
    ASSERT_EQ(info.frames, 1);
    std::vector<uint32_t> got = FrameOf(gif.get(), info, 0);
    ASSERT_EQ(got.size(), pens.size());
    for (size_t i = 0; i < pens.size(); ++i) ASSERT_EQ(got[i], palette[pens[i]] & 0xFFFFFF) << i;
    EXPECT_EQ(GetGifFrameDelay(gif.get(), 0), 120);

    int error = 0;
    GifFileType* g = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(DGifSlurp(g), GIF_OK);
    ASSERT_EQ(g->ImageCount, 1);
    const SavedImage& image = g->SavedImages[0];
    ASSERT_EQ(image.ImageDesc.Width, c.width);
    ASSERT_EQ(image.ImageDesc.Height, c.height);
    EXPECT_EQ(std::vector<uint8_t>(image.RasterBits, image.RasterBits + pens.size()), pens);
    DGifCloseFile(g, &error);
  }
}

TEST(GifWriter, HeaderAndTwoColourFrame) {
  qvtest::TempDir dir;
  std::string path = dir.Path("two.gif");
  std::vector<uint32_t> palette = {0x000000, 0xFFFFFF};
  palette.resize(256);
  std::vector<uint8_t> pens = {0, 0, 0, 0, 0, 0};
  qvGifWriter* w = nullptr;
  ASSERT_EQ(SaveGif(path.c_str(), 3, 2, &w), 0);
  qvGifFrame f;
  f.pens = pens.data();
  f.width = 3;
  f.height = 2;
  f.palette = palette.data();
  f.colours = 2;
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(FinishAnimGif(w), 0);
  std::vector<uint8_t> b = ReadBytes(path);
  ASSERT_GT(b.size(), 826u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
  EXPECT_EQ(b[10], 0xF7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + 13)), "Pixels rule!");
  // The control block: disposal 1 with entry 1 (colours - 1) transparent, as no pen was given.
  size_t at = 13 + 768;
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + long(at), b.begin() + long(at) + 8),
            (std::vector<uint8_t>{0x21, 0xF9, 4, 0x05, 0, 0, 1, 0}));
  at += 8 + 19;  // the looping block
  ASSERT_EQ(b[at], 0x2C);
  EXPECT_EQ(b[at + 9], 0x80) << "a local table of two entries";
  EXPECT_EQ(b[at + 10 + 6], 2) << "the minimum code size is 2";
  EXPECT_EQ(b.back(), 0x3B);
}

TEST(GifWriter, OptimisedFramesWriteTheChangedBox) {
  qvtest::TempDir dir;
  std::string path = dir.Path("a.gif");
  // Entry 2 is the spare one that frames without a pen mark transparent.
  std::vector<uint32_t> palette = {0x000000, 0xFFFFFF, 0x808080};
  palette.resize(256);
  std::vector<uint8_t> pens = {0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> changed = {0, 0, 0, 0, 1, 0};
  qvGifWriter* w = nullptr;
  ASSERT_EQ(SaveGif(path.c_str(), 3, 2, &w), 0);
  qvGifFrame f;
  f.pens = pens.data();
  f.width = 3;
  f.height = 2;
  f.palette = palette.data();
  f.colours = 3;
  f.optimise = true;
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(SaveAnimGif(w, f), 0);  // nothing changed
  f.pens = changed.data();
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  // The same colours under other pens are no change.
  std::vector<uint32_t> swapped = {0xFFFFFF, 0x000000, 0x808080};
  swapped.resize(256);
  std::vector<uint8_t> same = {1, 1, 1, 1, 0, 1};
  f.pens = same.data();
  f.palette = swapped.data();
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(FinishAnimGif(w), 0);

  int error = 0;
  GifFileType* g = DGifOpenFileName(path.c_str(), &error);
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(DGifSlurp(g), GIF_OK);
  ASSERT_EQ(g->ImageCount, 4);
  struct Box {
    int left, top, width, height;
  } boxes[] = {{0, 0, 3, 2}, {0, 0, 2, 1}, {1, 1, 1, 1}, {0, 0, 2, 1}};
  for (int i = 0; i < 4; ++i) {
    const SavedImage& s = g->SavedImages[i];
    EXPECT_EQ(s.ImageDesc.Left, boxes[i].left) << i;
    EXPECT_EQ(s.ImageDesc.Top, boxes[i].top) << i;
    EXPECT_EQ(s.ImageDesc.Width, boxes[i].width) << i;
    EXPECT_EQ(s.ImageDesc.Height, boxes[i].height) << i;
  }
  // The unchanged box holds only the transparent entry; the changed pixel its pen.
  EXPECT_EQ(g->SavedImages[1].RasterBits[0], 2);
  EXPECT_EQ(g->SavedImages[1].RasterBits[1], 2);
  EXPECT_EQ(g->SavedImages[2].RasterBits[0], 1);
  DGifCloseFile(g, &error);

  // Our decoder shows the previous picture through the transparent pens.
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(path.c_str(), false, &info, &raw), 0);
  GifPtr gif(raw);
  EXPECT_EQ(FrameOf(gif.get(), info, 1), std::vector<uint32_t>(6, 0));
  EXPECT_EQ(FrameOf(gif.get(), info, 2), (std::vector<uint32_t>{0, 0, 0, 0, 0xFFFFFF, 0}));
  EXPECT_EQ(FrameOf(gif.get(), info, 3), (std::vector<uint32_t>{0, 0, 0, 0, 0xFFFFFF, 0}));
}

TEST(GifWriter, KeptPensFollowTheirPalette) {
  // Frame 0 is black under {black, white}; frame 1 the same picture under {white, black} (no
  // change, a 2 x 1 box); frame 2 turns white under frame 1's palette. Every kept pen must be
  // read with the palette it was written with, or frame 2 would count the pixels outside frame
  // 1's box as unchanged and leave them black.
  qvtest::TempDir dir;
  std::string path = dir.Path("k.gif");
  std::vector<uint32_t> first = {0x000000, 0xFFFFFF, 0x808080};
  std::vector<uint32_t> swapped = {0xFFFFFF, 0x000000, 0x808080};
  first.resize(256);
  swapped.resize(256);
  std::vector<uint8_t> zeros(6, 0);
  std::vector<uint8_t> ones(6, 1);
  qvGifWriter* w = nullptr;
  ASSERT_EQ(SaveGif(path.c_str(), 3, 2, &w), 0);
  qvGifFrame f;
  f.width = 3;
  f.height = 2;
  f.colours = 3;
  f.optimise = true;
  f.pens = zeros.data();
  f.palette = first.data();
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  f.pens = ones.data();
  f.palette = swapped.data();
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  f.pens = zeros.data();
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(FinishAnimGif(w), 0);
  qvGifInfo info;
  qvGifDecoder* raw = nullptr;
  ASSERT_EQ(LoadGif(path.c_str(), false, &info, &raw), 0);
  GifPtr gif(raw);
  EXPECT_EQ(FrameOf(gif.get(), info, 1), std::vector<uint32_t>(6, 0));
  EXPECT_EQ(FrameOf(gif.get(), info, 2), std::vector<uint32_t>(6, 0xFFFFFF));
}

TEST(GifWriter, OneColumnFramesKeepTheirBoxInside) {
  qvtest::TempDir dir;
  std::string path = dir.Path("c.gif");
  std::vector<uint32_t> palette = {0x102030, 0x405060, 0x708090};
  palette.resize(256);
  std::vector<uint8_t> pens = {0, 1, 0, 1};
  qvGifWriter* w = nullptr;
  ASSERT_EQ(SaveGif(path.c_str(), 1, 4, &w), 0);
  qvGifFrame f;
  f.pens = pens.data();
  f.width = 1;
  f.height = 4;
  f.palette = palette.data();
  f.colours = 3;
  f.optimise = true;
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(SaveAnimGif(w, f), 0);
  ASSERT_EQ(FinishAnimGif(w), 0);
  int error = 0;
  GifFileType* g = DGifOpenFileName(path.c_str(), &error);
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(DGifSlurp(g), GIF_OK);
  ASSERT_EQ(g->ImageCount, 2);
  EXPECT_EQ(g->SavedImages[1].ImageDesc.Width, 1);
  EXPECT_EQ(g->SavedImages[1].ImageDesc.Height, 1);
  DGifCloseFile(g, &error);
}

TEST(GifWriter, RefusalsAndUnwritableFiles) {
  qvtest::TempDir dir;
  qvGifWriter* w = nullptr;
  std::string missing = dir.Path("no/such/dir.gif");
  EXPECT_EQ(SaveGif(missing.c_str(), 4, 4, &w), ERR_WRITEFILE);
  EXPECT_EQ(w, nullptr);
  std::string path = dir.Path("r.gif");
  ASSERT_EQ(SaveGif(path.c_str(), 2, 2, &w), 0);
  std::vector<uint32_t> palette(256, 0);
  std::vector<uint8_t> pens = {0, 1, 2, 4};  // 4 is past a table of 4 entries
  qvGifFrame f;
  f.pens = pens.data();
  f.width = 2;
  f.height = 2;
  f.palette = palette.data();
  f.colours = 3;
  EXPECT_EQ(SaveAnimGif(w, f), ERR_WRONGUSAGE);
  f.colours = 0;
  EXPECT_EQ(SaveAnimGif(w, f), ERR_WRONGUSAGE);
  f.colours = 257;
  EXPECT_EQ(SaveAnimGif(w, f), ERR_WRONGUSAGE);
  f.colours = 5;
  EXPECT_EQ(SaveAnimGif(w, f), 0);
  EXPECT_EQ(FinishAnimGif(w), 0);
  EXPECT_TRUE(std::filesystem::exists(path));
}
