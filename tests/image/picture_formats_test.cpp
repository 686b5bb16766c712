// The JPEG, BMP and IFF ILBM readers through LoadPicture over the fixtures of
// tests/fixtures/make_picture_fixtures.py (made by cjpeg, Pillow, ImageMagick, ppmtobmp and
// ppmtoilbm, with the pixels djpeg, the source picture or the HAM rule say they hold); ILBM cases
// the tools do not write, built here chunk by chunk; the JPEG and ILBM writers checked by cjpeg
// and ilbmtoppm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/ilbm_io.h"
#include "image/jpeg_io.h"
#include "image/picture.h"
#include "tests/fixtures/bitmap_rows.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;
using qvtest::RunCommand;
using qvtest::TempDir;
using qvtest::WriteBytes;

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

// Loads `name`; on failure checks that nothing was handed out. The load for a bitmap agrees.
int Load(const std::string& name, Pixels* pixels, qvPictureFacts* facts,
         const qvIlbmRequest* ilbm = nullptr) {
  uint32_t* out = nullptr;
  int result = LoadPicture(name.c_str(), ilbm, &out, facts);
  if (result != 0) {
    EXPECT_EQ(out, nullptr);
  } else {
    pixels->assign(out, out + size_t(facts->width) * size_t(facts->height));
    std::free(out);
  }
  qvtest::ExpectBitMapRowsAgree(name, ilbm, result, *pixels, *facts);
  return result;
}

// The pixels of a binary PPM (maxval 255) as 0x00RRGGBB words.
bool ParsePpm(const std::string& ppm, int* width, int* height, Pixels* pixels) {
  int maxval = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", width, height, &maxval, &consumed) != 3) {
    return false;
  }
  size_t at = size_t(consumed) + 1;
  size_t count = size_t(*width) * size_t(*height);
  if (maxval != 255 || ppm.size() < at + count * 3) return false;
  pixels->resize(count);
  for (size_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(ppm.data() + at + i * 3);
    (*pixels)[i] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  }
  return true;
}

// A picture of gradients and noise, rows `stride` words apart.
Pixels TestPicture(int width, int height, int stride) {
  Pixels pixels(size_t(stride) * height, 0xDEADBEEF);
  uint32_t seed = 99;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245u + 12345u;
      uint32_t noise = (seed >> 16) & 15;
      uint32_t r = (x * 255 / width + noise) & 255, g = (y * 255 / height) & 255;
      uint32_t b = ((x + y) * 5 + noise) & 255;
      pixels[size_t(y) * stride + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  }
  return pixels;
}

Bytes Ppm(const Pixels& pixels, int width, int height, int stride) {
  std::string head = "P6 " + std::to_string(width) + " " + std::to_string(height) + " 255\n";
  Bytes out(head.begin(), head.end());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y) * stride + x];
      out.insert(out.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    }
  }
  return out;
}

const char* const kFixtures = QV_PICTURE_FIXTURES;

}  // namespace

TEST(PictureFormats, FixturesLoadAsTheirToolsSay) {
  struct Kind {
    const char* extension;
    int32_t type;
  } const kinds[] = {{".jpg", kPictureJpeg}, {".bmp", kPictureBmp}, {".ilbm", kPictureIlbm}};
  int pictures = 0;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    const Kind* kind = nullptr;
    for (const Kind& k : kinds) {
      if (entry.path().extension() == k.extension) kind = &k;
    }
    if (kind == nullptr) continue;
    ++pictures;
    std::string name = entry.path().string();
    SCOPED_TRACE(entry.path().filename().string());
    Bytes ref = ReadBytes(fs::path(entry.path()).replace_extension(".argb"));
    ASSERT_GE(ref.size(), 12u);
    uint32_t width = 0, height = 0;
    std::memcpy(&width, ref.data(), 4);
    std::memcpy(&height, ref.data() + 4, 4);
    ASSERT_EQ(ref.size(), 12 + size_t(width) * height * 4);

    EXPECT_EQ(IdentifyPicture(name.c_str()), kind->type);
    Pixels pixels;
    qvPictureFacts facts;
    ASSERT_EQ(Load(name, &pixels, &facts), 0);
    EXPECT_EQ(uint32_t(facts.width), width);
    EXPECT_EQ(uint32_t(facts.height), height);
    EXPECT_EQ(facts.alpha, 0);
    EXPECT_EQ(facts.transparentColour, -1);
    EXPECT_EQ(facts.palette, nullptr);
    for (size_t i = 0; i < pixels.size(); ++i) {
      uint32_t want;
      std::memcpy(&want, ref.data() + 12 + i * 4, 4);
      ASSERT_EQ(pixels[i], want) << "pixel " << i % width << "," << i / width;
    }
    qvPictureFacts info;
    EXPECT_EQ(LoadPicture(name.c_str(), nullptr, nullptr, &info), 0);
    EXPECT_EQ(uint32_t(info.width), width);
    EXPECT_EQ(uint32_t(info.height), height);
  }
  EXPECT_GE(pictures, 30);
}

// Small BMP and ILBM fixtures of each coding, cut at every length short of their picture's data,
// are refused as PNG and GIF are, instead of loading with the missing part black. An ILBM whose
// odd-sized BODY lost only its pad byte still has every row and loads whole.
TEST(PictureFormats, EveryCutBmpAndIlbmIsRefused) {
  TempDir tmp;
  for (const char* name : {"bmp_ppm_1.bmp", "bmp_ppm_4.bmp", "bmp_gen_rle8_delta.bmp",
                           "ilbm_raw.ilbm", "ilbm_byterun.ilbm", "ilbm_mask_byterun.ilbm",
                           "ilbm_gen_ham6_rows.ilbm", "ilbm_gen_stencil.ilbm"}) {
    const fs::path path = fs::path(kFixtures) / name;
    const std::string extension = path.extension().string();
    SCOPED_TRACE(name);
    const Bytes whole = ReadBytes(path);
    Pixels full;
    qvPictureFacts facts;
    ASSERT_EQ(Load(path.string(), &full, &facts), 0);
    size_t dataEnd = whole.size();
    if (extension == ".ilbm") {
      // The tools write BODY last.
      const char* body = "BODY";
      auto at = std::search(whole.begin(), whole.end(), body, body + 4);
      ASSERT_NE(at, whole.end());
      const size_t pos = size_t(at - whole.begin());
      ASSERT_LE(pos + 8, whole.size());
      const size_t size = (size_t(whole[pos + 4]) << 24) | (size_t(whole[pos + 5]) << 16) |
                          (size_t(whole[pos + 6]) << 8) | whole[pos + 7];
      dataEnd = pos + 8 + size;
      ASSERT_GE(whole.size(), dataEnd);
      ASSERT_LE(whole.size() - dataEnd, 1u);
    }
    const std::string cut = tmp.Path("cut" + extension);
    for (size_t length = 0; length < dataEnd; ++length) {
      WriteBytes(cut, Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(length)));
      Pixels pixels;
      ASSERT_EQ(Load(cut, &pixels, &facts), ERR_LOADPICTURE2) << "cut to " << length << " bytes";
    }
    if (dataEnd < whole.size()) {
      WriteBytes(cut, Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(dataEnd)));
      Pixels pixels;
      ASSERT_EQ(Load(cut, &pixels, &facts), 0);
      EXPECT_EQ(pixels, full);
    }
  }
}

// ---- JPEG ---------------------------------------------------------------------------------------

TEST(LoadJpeg, MemoryDecodesLikeTheFile) {
  for (const char* base : {"jpeg_baseline", "jpeg_progressive", "jpeg_cmyk_pillow"}) {
    SCOPED_TRACE(base);
    std::string path = std::string(kFixtures) + "/" + base + ".jpg";
    Bytes bytes = ReadBytes(path);
    Pixels fromFile;
    qvPictureFacts facts;
    ASSERT_EQ(Load(path, &fromFile, &facts), 0);
    uint32_t* out = nullptr;
    qvPictureFacts memoryFacts;
    ASSERT_EQ(LoadJpeg(nullptr, bytes.data(), bytes.size(), &out, &memoryFacts), 0);
    EXPECT_EQ(memoryFacts.width, facts.width);
    EXPECT_EQ(Pixels(out, out + fromFile.size()), fromFile);
    std::free(out);
  }
}

TEST(LoadJpeg, DamagedInputFails) {
  TempDir tmp;
  Bytes good = ReadBytes(std::string(kFixtures) + "/jpeg_baseline.jpg");
  struct Case {
    const char* name;
    Bytes bytes;
  } const cases[] = {
      {"empty", {}},
      {"only the start of image", {0xFF, 0xD8, 0xFF}},
      {"cut inside the header", Bytes(good.begin(), good.begin() + 200)},
      {"no frame before the scan", {0xFF, 0xD8, 0xFF, 0xDA, 0, 2, 0xFF, 0xD9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t* out = nullptr;
    qvPictureFacts facts;
    EXPECT_EQ(LoadJpeg(nullptr, c.bytes.data(), c.bytes.size(), &out, &facts), ERR_LOADPICTURE2);
    EXPECT_EQ(out, nullptr);
    if (c.bytes.size() >= 3) {
      WriteBytes(tmp.Path("bad.jpg"), c.bytes);
      Pixels pixels;
      EXPECT_EQ(Load(tmp.Path("bad.jpg"), &pixels, &facts), ERR_LOADPICTURE2);
    }
  }
  Pixels pixels;
  qvPictureFacts facts;
  EXPECT_EQ(Load(tmp.Path("missing.jpg"), &pixels, &facts), ERR_READFILE);
}

// Whether the first `length` bytes of a JPEG end inside a scan's coded data (not in a marker
// segment, nor right before or inside the marker that follows a scan).
bool InCodedData(const Bytes& jpeg, size_t length) {
  bool inScan = false;
  size_t i = 2;
  while (i + 3 < jpeg.size()) {
    const bool marker = jpeg[i] == 0xFF && jpeg[i + 1] != 0 && (jpeg[i + 1] & 0xF8) != 0xD0;
    if (!inScan || marker) {
      if (!marker) return false;
      const size_t segmentEnd = i + 2 + ((size_t(jpeg[i + 2]) << 8) | jpeg[i + 3]);
      if (length < segmentEnd) return false;
      inScan = jpeg[i + 1] == 0xDA;
      i = segmentEnd;
      continue;
    }
    if (length <= i) return true;
    ++i;
  }
  return false;
}

// A JPEG cut anywhere in its coded data is refused rather than shown with the rest filled in; one
// that lacks only its end marker (or its last byte) loads whole. A progressive file may also end
// between two scans (in the tables of the next one), where it is a whole picture of less detail.
TEST(LoadJpeg, EveryCutIsRefused) {
  TempDir tmp;
  for (const char* base : {"jpeg_baseline", "jpeg_restart", "jpeg_grey", "jpeg_s422",
                           "jpeg_cmyk_pillow", "jpeg_progressive"}) {
    SCOPED_TRACE(base);
    const Bytes whole = ReadBytes(std::string(kFixtures) + "/" + base + ".jpg");
    const bool progressive = std::string(base) == "jpeg_progressive";
    Pixels full;
    qvPictureFacts facts;
    ASSERT_EQ(Load(std::string(kFixtures) + "/" + base + ".jpg", &full, &facts), 0);
    const uint8_t sos[] = {0xFF, 0xDA};
    auto at = std::search(whole.begin(), whole.end(), sos, sos + 2);
    ASSERT_NE(at, whole.end());
    const size_t scan = size_t(at - whole.begin());
    int loaded = 0;
    for (size_t length = scan; length + 2 < whole.size(); ++length) {
      uint32_t* out = nullptr;
      int code = LoadJpeg(nullptr, whole.data(), length, &out, &facts);
      std::free(out);
      if (progressive && !InCodedData(whole, length) && code == 0) {
        ++loaded;
        continue;
      }
      ASSERT_EQ(code, ERR_LOADPICTURE2) << "cut to " << length << " bytes";
    }
    if (progressive) {
      EXPECT_GT(loaded, 0);
    }
    for (size_t length : {whole.size() - 2, whole.size() - 1}) {
      WriteBytes(tmp.Path("cut.jpg"), Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(length)));
      Pixels pixels;
      ASSERT_EQ(Load(tmp.Path("cut.jpg"), &pixels, &facts), 0) << length;
      EXPECT_EQ(pixels, full);
    }
    WriteBytes(tmp.Path("cut.jpg"),
               Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(scan + 40)));
    Pixels pixels;
    EXPECT_EQ(Load(tmp.Path("cut.jpg"), &pixels, &facts), ERR_LOADPICTURE2);
  }
}

TEST(LoadJpeg, CmykConversion) {
  struct Case {
    uint32_t c, m, y, k;
    bool inverted;
    uint32_t rgb;
  } const cases[] = {
      {0, 0, 0, 0, false, 0xFFFFFF},
      {255, 255, 255, 0, false, 0x000000},
      {0, 0, 0, 255, false, 0x000000},
      {255, 255, 255, 255, true, 0xFFFFFF},  // inverted: the stored values are 255 - real
      {100, 50, 0, 10, false, 0x94C4F5},     // 155 x 245 / 255 = 148.9, rounded down
      {155, 205, 255, 245, true, 0x94C4F5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CmykToRgb(c.c, c.m, c.y, c.k, c.inverted), c.rgb) << c.c << "," << c.k;
  }
}

TEST(SaveJpeg, DecodesExactlyAsCjpegOfTheSameQuality) {
  TempDir tmp;
  constexpr int kWidth = 37, kHeight = 23, kStride = 40;
  Pixels pixels = TestPicture(kWidth, kHeight, kStride);
  WriteBytes(tmp.Path("src.ppm"), Ppm(pixels, kWidth, kHeight, kStride));
  // The same colours with red in the second byte, green in the third, blue in the fourth.
  Pixels swapped(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    uint32_t p = pixels[i];
    swapped[i] = ((p & 0xFF) << 24) | (((p >> 8) & 0xFF) << 16) | (((p >> 16) & 0xFF) << 8);
  }
  for (int quality : {10, 75, 90, 100}) {
    SCOPED_TRACE("quality " + std::to_string(quality));
    qvJpegRequest request;
    request.pixels = pixels.data();
    request.bytesPerRow = kStride * 4;
    request.width = kWidth;
    request.height = kHeight;
    request.quality = quality;
    Bytes ours;
    ASSERT_EQ(SaveJpeg(request, &ours), 0);
    request.pixels = swapped.data();
    request.redInSecondByte = true;
    Bytes oursSwapped;
    ASSERT_EQ(SaveJpeg(request, &oursSwapped), 0);
    EXPECT_EQ(oursSwapped, ours);

    int status = 0;
    std::string command = "cjpeg -quality " + std::to_string(quality) + " '" + tmp.Path("src.ppm") +
                          "' > '" + tmp.Path("ref.jpg") + "'";
    RunCommand(command, &status);
    ASSERT_EQ(status, 0);
    WriteBytes(tmp.Path("ours.jpg"), ours);
    Pixels mine, theirs;
    qvPictureFacts facts;
    ASSERT_EQ(Load(tmp.Path("ours.jpg"), &mine, &facts), 0);
    ASSERT_EQ(Load(tmp.Path("ref.jpg"), &theirs, &facts), 0);
    EXPECT_EQ(mine, theirs);
  }
  // A tiny picture at full quality needs more than width x height x 3 bytes: the block grows.
  uint32_t one = 0x123456;
  qvJpegRequest tiny;
  tiny.pixels = &one;
  tiny.bytesPerRow = 4;
  tiny.width = 1;
  tiny.height = 1;
  tiny.quality = 100;
  Bytes out;
  ASSERT_EQ(SaveJpeg(tiny, &out), 0);
  EXPECT_GT(out.size(), 100u);
  uint32_t* back = nullptr;
  qvPictureFacts facts;
  ASSERT_EQ(LoadJpeg(nullptr, out.data(), out.size(), &back, &facts), 0);
  EXPECT_EQ(facts.width, 1);
  std::free(back);
}

// ---- ILBM ---------------------------------------------------------------------------------------

namespace {

void PutBe(Bytes* out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(uint8_t(v >> (8 * i)));
}

void PutChunk(Bytes* out, const char* id, const Bytes& body, bool pad = true) {
  out->insert(out->end(), id, id + 4);
  PutBe(out, uint32_t(body.size()), 4);
  out->insert(out->end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) out->push_back(0);
}

struct Ilbm {
  int width = 4, height = 1, planes = 2, masking = 0, compression = 0, transparentPen = 0;
  int64_t camg = -1;                   // -1: no CAMG chunk
  std::vector<uint32_t> cmap;          // entries 0x00RRGGBB
  std::vector<std::vector<int>> pens;  // rows of pens (or 24-bit colours with 24 planes)
  Bytes stray;                         // bytes (an odd-sized chunk without its pad) before BMHD
  bool cmapAfterBody = false;
  bool withCmap = true;
};

// The raw body: each row's plane rows, bits most significant first, plane 0 the lowest bit.
Bytes RawBody(const Ilbm& p) {
  const size_t rowBytes = size_t(((p.width + 15) / 8) & ~1);
  Bytes body;
  for (const auto& row : p.pens) {
    for (int plane = 0; plane < p.planes; ++plane) {
      Bytes bits(rowBytes, 0);
      for (int x = 0; x < p.width; ++x) {
        if ((row[size_t(x)] >> plane) & 1) bits[size_t(x) / 8] |= uint8_t(0x80 >> (x & 7));
      }
      body.insert(body.end(), bits.begin(), bits.end());
    }
  }
  return body;
}

Bytes BuildIlbm(const Ilbm& p) {
  Bytes chunks = p.stray;
  Bytes bmhd;
  PutBe(&bmhd, uint32_t(p.width), 2);
  PutBe(&bmhd, uint32_t(p.height), 2);
  PutBe(&bmhd, 0, 4);
  bmhd.insert(bmhd.end(), {uint8_t(p.planes), uint8_t(p.masking), uint8_t(p.compression), 0});
  PutBe(&bmhd, uint32_t(p.transparentPen), 2);
  bmhd.insert(bmhd.end(), {1, 1});
  PutBe(&bmhd, uint32_t(p.width), 2);
  PutBe(&bmhd, uint32_t(p.height), 2);
  PutChunk(&chunks, "BMHD", bmhd);
  if (p.camg >= 0) {
    Bytes camg;
    PutBe(&camg, uint32_t(p.camg), 4);
    PutChunk(&chunks, "CAMG", camg);
  }
  Bytes cmap;
  for (uint32_t c : p.cmap) PutBe(&cmap, c, 3);
  if (p.withCmap && !p.cmapAfterBody) PutChunk(&chunks, "CMAP", cmap);
  Bytes body = RawBody(p);
  PutChunk(&chunks, "BODY", body);
  if (p.withCmap && p.cmapAfterBody) PutChunk(&chunks, "CMAP", cmap);
  Bytes file = {'F', 'O', 'R', 'M'};
  PutBe(&file, uint32_t(chunks.size() + 4), 4);
  file.insert(file.end(), {'I', 'L', 'B', 'M'});
  file.insert(file.end(), chunks.begin(), chunks.end());
  return file;
}

}  // namespace

TEST(LoadIlbm, PenPictureRules) {
  TempDir tmp;
  std::vector<uint32_t> grey64(64);
  for (uint32_t i = 0; i < 64; ++i) grey64[i] = i < 32 ? (i * 8) * 0x010101u : 0xFF00FFu;
  std::vector<uint32_t> caller(256, 0xFFFFFFFFu);
  caller[0] = 0x010203;
  caller[1] = 0x040506;
  struct Case {
    const char* name;
    Ilbm picture;
    qvIlbmRequest request;
    Pixels want;
    int64_t transparent;
  };
  auto ilbm = [](int planes, std::vector<uint32_t> cmap, std::vector<std::vector<int>> pens) {
    Ilbm p;
    p.planes = planes;
    p.cmap = std::move(cmap);
    p.width = int(pens[0].size());
    p.height = int(pens.size());
    p.pens = std::move(pens);
    return p;
  };
  Case cases[] = {
      {"extra-half-brite keeps 0-31 and halves them into 32-63",
       ilbm(6, grey64, {{0, 31, 33, 63}}),
       {},
       {0, 0xF8F8F8, 0x040404, 0x7C7C7C},
       -1},
      {"HAM6: each row starts from black",
       ilbm(6, {0x102030}, {{0x1F, 0x2A, 0x00, 0x35}, {0x21, 0x3F, 0x10, 0x00}}),
       {},
       {0x0000F0, 0xA000F0, 0x102030, 0x105030, 0x100000, 0x10F000, 0x10F000, 0x102030},
       -1},
      {"HAM8: values x 4",
       ilbm(8, {0x102030}, {{0x7F, 0xBF, 0xC1, 0x00}}),
       {},
       {0x0000FC, 0xFC00FC, 0xFC04FC, 0x102030},
       -1},
      {"a caller's palette replaces the file's up to its -1",
       ilbm(2, {0x111111, 0x222222, 0x333333, 0x444444}, {{0, 1, 2, 3}}),
       {},
       {},
       -1},
      {"one-plane stencil: clear pixels transparent, set pixels the pen",
       ilbm(1, {0x102030, 0x405060}, {{0, 1, 1, 0}}),
       {},
       {0x102030, 0xFF0000, 0xFF0000, 0x102030},
       0x102030},
      {"transparent pen masking: the first free colour from 0xA8A8A8 by 15",
       ilbm(2, {0xA8A8A8, 0xA8A8B7, 0, 0x111111}, {{3, 0, 1, 2}}),
       {},
       {0xA8A8C6, 0xA8A8A8, 0xA8A8B7, 0},
       0xA8A8C6},
      {"transparent pen masking needs the find-free flag",
       ilbm(2, {0xA8A8A8, 0xA8A8B7, 0, 0x111111}, {{3, 0, 1, 2}}),
       {},
       {0x111111, 0xA8A8A8, 0xA8A8B7, 0},
       -1},
      {"a CMAP of 300 entries is read up to 256",
       ilbm(8, {}, {{255, 1, 0, 0}}),
       {},
       {0x0000FF, 0x000001, 0, 0},
       -1},
      {"CMAP after BODY, stray odd bytes before BMHD",
       ilbm(2, {1, 2, 3, 4}, {{3, 2, 1, 0}}),
       {},
       {4, 3, 2, 1},
       -1},
      // Plane values: red's bits in planes 0-7, green's in 8-15, blue's in 16-23.
      {"raw 24 planes",
       ilbm(24, {}, {{0x563412, 0xBADCFE, 0, 0xFFFFFF}}),
       {},
       {0x123456, 0xFEDCBA, 0, 0xFFFFFF},
       -1},
  };
  cases[0].picture.camg = 0x80;
  cases[1].picture.camg = 0x800;
  cases[2].picture.camg = 0x800;
  cases[3].request.palette = caller.data();
  cases[3].want = {0x010203, 0x040506, 0x333333, 0x444444};
  cases[4].request.transparentPen = 0xFF0000;
  cases[5].picture.masking = 2;
  cases[5].picture.transparentPen = 3;
  cases[5].request.findFreeColour = true;
  cases[6].picture.masking = 2;
  cases[6].picture.transparentPen = 3;
  cases[6].request.transparentPen = 5;
  for (uint32_t i = 0; i < 300; ++i) cases[7].picture.cmap.push_back(i < 256 ? i : 0xFFFFFF);
  cases[8].picture.cmapAfterBody = true;
  cases[8].picture.stray = {'A', 'N', 'N', 'O', 0, 0, 0, 3, 'B', 'M', 'H'};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(tmp.Path("case.ilbm"), BuildIlbm(c.picture));
    c.request.wantPalette = true;
    Pixels pixels;
    qvPictureFacts facts;
    ASSERT_EQ(Load(tmp.Path("case.ilbm"), &pixels, &facts, &c.request), 0);
    EXPECT_EQ(pixels, c.want);
    EXPECT_EQ(facts.transparentColour, c.transparent);
    // The palette is handed out for pen pictures without HAM only.
    bool pens = c.picture.planes <= 8 && c.picture.camg != 0x800;
    ASSERT_EQ(facts.palette != nullptr, pens);
    if (pens) {
      EXPECT_EQ(facts.palette[c.picture.pens[0][0]], pixels[0]);
    }
    std::free(facts.palette);
  }
}

TEST(LoadIlbm, RefusedFiles) {
  TempDir tmp;
  Ilbm good;
  good.cmap = {1, 2, 3, 4};
  good.pens = {{0, 1, 2, 3}};
  struct Case {
    const char* name;
    int field;  // 0 width, 1 height, 2 planes, 3 compression, 4 no CMAP
    int value;
    int result;
  } const cases[] = {
      {"width 0", 0, 0, ERR_LOADPICTURE2},       {"height 0", 1, 0, ERR_LOADPICTURE2},
      {"0 planes", 2, 0, ERR_LOADPICTURE2},      {"9 planes", 2, 9, ERR_LOADPICTURE2},
      {"23 planes", 2, 23, ERR_LOADPICTURE2},    {"25 planes", 2, 25, ERR_LOADPICTURE2},
      {"compression 2", 3, 2, ERR_LOADPICTURE2}, {"pens without CMAP", 4, 0, ERR_LOADPICTURE2},
      {"above 2^31 bytes", 0, 65535, ERR_MEM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ilbm p = good;
    Bytes file;
    if (c.field <= 1 || c.field == 3) {
      file = BuildIlbm(p);
      // BMHD's data starts at byte 20: width, height, x, y, planes, masking, compression.
      if (c.field == 0) file[20] = uint8_t(c.value >> 8), file[21] = uint8_t(c.value);
      if (c.field == 1) file[22] = uint8_t(c.value >> 8), file[23] = uint8_t(c.value);
      if (c.result == ERR_MEM) file[22] = 0xFF, file[23] = 0xFF;
      if (c.field == 3) file[30] = uint8_t(c.value);
    } else if (c.field == 2) {
      file = BuildIlbm(p);
      file[28] = uint8_t(c.value);
    } else {
      p.withCmap = false;
      file = BuildIlbm(p);
    }
    WriteBytes(tmp.Path("bad.ilbm"), file);
    Pixels pixels;
    qvPictureFacts facts;
    EXPECT_EQ(Load(tmp.Path("bad.ilbm"), &pixels, &facts), c.result);
  }
  // A body short of the picture's rows, raw or packed, with or without a mask plane, is refused
  // rather than shown with the missing rows black.
  for (int compression : {0, 1}) {
    for (int masking : {0, 1}) {
      Ilbm p;
      p.cmap = {7, 8, 9, 10};
      p.pens = {{3, 3, 3, 3}, {3, 3, 3, 3}};
      p.height = 2;
      p.masking = masking;
      p.compression = compression;
      Bytes body = RawBody(p);
      size_t rowBytes = body.size() / 2;
      if (masking == 1) {
        // Each row's mask row follows its planes: 2 bytes a row.
        body.clear();
        for (int row = 0; row < 2; ++row) {
          body.insert(body.end(), {0xF0, 0, 0xF0, 0, 0xF0, 0});
        }
        rowBytes = 6;
      }
      if (compression == 1) {
        Bytes packed;
        for (size_t at = 0; at < body.size(); at += 2) {
          packed.insert(packed.end(), {1, body[at], body[at + 1]});  // a literal of 2 bytes
        }
        body = packed;
        rowBytes = rowBytes / 2 * 3;
      }
      body.resize(body.size() - 1);
      for (size_t keep : {body.size(), rowBytes, size_t(0)}) {
        SCOPED_TRACE(std::to_string(compression) + " " + std::to_string(masking) + " " +
                     std::to_string(keep));
        Bytes file = BuildIlbm(p);
        // The built body replaced by the short one.
        const char* id = "BODY";
        file.resize(size_t(std::search(file.begin(), file.end(), id, id + 4) - file.begin()));
        PutChunk(&file, "BODY", Bytes(body.begin(), body.begin() + std::ptrdiff_t(keep)));
        WriteBytes(tmp.Path("short.ilbm"), file);
        Pixels pixels;
        qvPictureFacts facts;
        EXPECT_EQ(Load(tmp.Path("short.ilbm"), &pixels, &facts), ERR_LOADPICTURE2);
      }
    }
  }
  // No BMHD or no BODY.
  Bytes file = BuildIlbm(good);
  for (const char* id : {"BMHD", "BODY"}) {
    Bytes broken = file;
    auto at = std::search(broken.begin(), broken.end(), id, id + 4);
    *at = 'X';
    WriteBytes(tmp.Path("bad.ilbm"), broken);
    Pixels pixels;
    qvPictureFacts facts;
    EXPECT_EQ(Load(tmp.Path("bad.ilbm"), &pixels, &facts), ERR_LOADPICTURE2) << id;
  }
}

TEST(SaveIlbm, LayoutAndReadBackByIlbmtoppm) {
  TempDir tmp;
  constexpr int kWidth = 37, kHeight = 23, kStride = 41;
  Pixels pixels = TestPicture(kWidth, kHeight, kStride);
  Bytes file;
  ASSERT_EQ(EncodeIlbm(pixels.data(), kStride * 4, kWidth, kHeight, &file), 0);
  const Bytes head = {'F', 'O',     'R', 'M', 0,      0, 0,       0,   'I', 'L', 'B',
                      'M', 'B',     'M', 'H', 'D',    0, 0,       0,   20,  0,   kWidth,
                      0,   kHeight, 0,   0,   0,      0, 24,      0,   1,   0,   0,
                      0,   1,       1,   0,   kWidth, 0, kHeight, 'B', 'O', 'D', 'Y'};
  ASSERT_GT(file.size(), 48u);
  Bytes got(file.begin(), file.begin() + 44);
  got[4] = got[5] = got[6] = got[7] = 0;
  EXPECT_EQ(got, head);
  auto be32 = [&](size_t at) {
    return (uint32_t{file[at]} << 24) | (uint32_t{file[at + 1]} << 16) |
           (uint32_t{file[at + 2]} << 8) | file[at + 3];
  };
  uint32_t body = be32(44);
  EXPECT_EQ(file.size(), 48 + body + (body & 1));
  EXPECT_EQ(be32(4), file.size() - 8);

  WriteBytes(tmp.Path("out.ilbm"), file);
  Pixels want;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) want.push_back(pixels[size_t(y) * kStride + x] & 0xFFFFFF);
  }
  Pixels back;
  qvPictureFacts facts;
  ASSERT_EQ(Load(tmp.Path("out.ilbm"), &back, &facts), 0);
  EXPECT_EQ(back, want);
  int status = 0;
  std::string ppm = RunCommand("ilbmtoppm '" + tmp.Path("out.ilbm") + "' 2>/dev/null", &status);
  ASSERT_EQ(status, 0);
  int width = 0, height = 0;
  Pixels theirs;
  ASSERT_TRUE(ParsePpm(ppm, &width, &height, &theirs));
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  EXPECT_EQ(theirs, want);
}
