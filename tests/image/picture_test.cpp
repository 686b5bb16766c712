// Picture identification, the PNG reader over the fixtures of tests/fixtures/make_png_fixtures.py
// (made by Pillow and an independent writer, with reference pixels worked out without a
// decoder), damaged files, and the PNG writer checked by pngcheck and Pillow.
#include "image/picture.h"

#include <gtest/gtest.h>
#include <zlib.h>

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
#include "tests/fixtures/bitmap_rows.h"
#include "tests/fixtures/picture_reference.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

using qvtest::RunCommand;
using qvtest::TempDir;
using qvtest::WriteBytes;

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Loads `name` and checks that nothing is stored on failure, and that the load for a bitmap
// agrees.
int Load(const std::string& name, std::vector<uint32_t>* pixels, qvPictureFacts* facts) {
  uint32_t* out = nullptr;
  int result = LoadPicture(name.c_str(), nullptr, &out, facts);
  if (result != 0) {
    EXPECT_EQ(out, nullptr);
  } else {
    pixels->assign(out, out + size_t(facts->width) * size_t(facts->height));
    std::free(out);
  }
  qvtest::ExpectBitMapRowsAgree(name, nullptr, result, *pixels, *facts);
  return result;
}

void PutU32BE(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char* kind, const std::vector<uint8_t>& body) {
  PutU32BE(out, uint32_t(body.size()));
  std::vector<uint8_t> crcBytes(kind, kind + 4);
  crcBytes.insert(crcBytes.end(), body.begin(), body.end());
  out->insert(out->end(), crcBytes.begin(), crcBytes.end());
  PutU32BE(out, uint32_t(crc32(0, crcBytes.data(), uInt(crcBytes.size()))));
}

// A PNG whose header claims width x height RGBA pixels; its data is one small valid stream.
std::vector<uint8_t> HeaderOnlyPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> ihdr;
  PutU32BE(&ihdr, width);
  PutU32BE(&ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  PutChunk(&png, "IHDR", ihdr);
  std::vector<uint8_t> raw(64, 0);
  uLongf size = compressBound(uLong(raw.size()));
  std::vector<uint8_t> idat(size);
  compress(idat.data(), &size, raw.data(), uLong(raw.size()));
  idat.resize(size);
  PutChunk(&png, "IDAT", idat);
  PutChunk(&png, "IEND", {});
  return png;
}

}  // namespace

TEST(IdentifyPicture, FirstBytesDecideTheFormat) {
  struct Case {
    std::vector<uint8_t> head;
    int32_t type;
  } cases[] = {
      {{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'M'}, kPictureIlbm},
      {{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L'}, kPictureUnknown},  // cut: zeros fail "ILBM"
      {{'F', 'O', 'R', 'M', 0, 0, 0, 4, '8', 'S', 'V', 'X'}, kPictureUnknown},
      {{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, kPictureJpeg},
      {{0xFF, 0xD8, 0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e'}, kPictureJpeg},  // CMYK files
      {{0xFF, 0xD8, 0xFF, 0xDB}, kPictureJpeg},  // no application segment at all
      {{0xFF, 0xD8, 0x00}, kPictureUnknown},
      {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, kPicturePng},
      {{0x88, 'P', 'N', 'G'}, kPictureUnknown},
      {{'B', 'M'}, kPictureBmp},
      {{'M', 'M', 0, 0x2a}, kPictureTiff},
      {{'I', 'I', 0x2a, 0}, kPictureTiff},
      {{'I', 'I', 0, 0x2a}, kPictureUnknown},
      {{'G', 'I', 'F', '8', '7', 'a'}, kPictureGif},
      {{'G', 'I', 'F', '8', '9', 'a'}, kPictureGif},
      {{'G', 'I', 'F', '8', '8', 'a'}, kPictureUnknown},
      {{}, kPictureUnknown},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.head));
    EXPECT_EQ(IdentifyPictureBytes(c.head.data(), int64_t(c.head.size())), c.type);
    WriteBytes(tmp.Path("head"), c.head);
    EXPECT_EQ(IdentifyPicture(tmp.Path("head").c_str()), c.type);
  }
  EXPECT_EQ(IdentifyPicture(tmp.Path("missing").c_str()), kPictureUnknown);
}

TEST(LoadPng, EveryFixtureGivesItsReferencePixels) {
  int pictures = 0;
  for (const auto& entry : fs::directory_iterator(QV_PNG_FIXTURES)) {
    if (entry.path().extension() != ".png") continue;
    ++pictures;
    std::string name = entry.path().string();
    SCOPED_TRACE(entry.path().filename().string());
    qvtest::PictureReference ref = qvtest::ReadPictureReference(
        fs::path(entry.path()).replace_extension(".argb"));
    ASSERT_EQ(ref.pixels.size(), size_t(ref.width) * ref.height);

    std::vector<uint32_t> pixels;
    qvPictureFacts facts;
    ASSERT_EQ(Load(name, &pixels, &facts), 0);
    EXPECT_EQ(uint32_t(facts.width), ref.width);
    EXPECT_EQ(uint32_t(facts.height), ref.height);
    EXPECT_EQ(uint32_t(facts.alpha), ref.alpha);
    EXPECT_EQ(facts.transparentColour, -1);
    for (size_t i = 0; i < pixels.size(); ++i) {
      ASSERT_EQ(pixels[i], ref.pixels[i]) << "pixel " << i % ref.width << "," << i / ref.width;
    }

    // Information only: the same facts, nothing allocated.
    qvPictureFacts info;
    EXPECT_EQ(LoadPicture(name.c_str(), nullptr, nullptr, &info), 0);
    EXPECT_EQ(uint32_t(info.width), ref.width);
    EXPECT_EQ(uint32_t(info.height), ref.height);
    EXPECT_EQ(uint32_t(info.alpha), ref.alpha);
  }
  EXPECT_GT(pictures, 0);
}

TEST(LoadPng, MemoryFilesAndStretchesReadWithoutCopies) {
  std::string path = std::string(QV_PNG_FIXTURES) + "/pil_rgba8.png";
  std::vector<uint8_t> bytes = ReadBytes(path);
  std::vector<uint32_t> direct, viaMemory, viaChunk;
  qvPictureFacts facts;
  ASSERT_EQ(Load(path, &direct, &facts), 0);

  char name[kMaxPathLength + 1];
  ASSERT_TRUE(RegisterMemoryFile("brush.png", bytes.data(), bytes.size(), 9001, nullptr, name,
                                 sizeof name));
  EXPECT_EQ(IdentifyPicture(name), kPicturePng);
  EXPECT_EQ(Load(name, &viaMemory, &facts), 0);
  UnregisterMemoryFile(name);
  EXPECT_EQ(viaMemory, direct);

  // The picture as a stretch inside a bigger file, with bytes on both sides.
  TempDir tmp;
  std::vector<uint8_t> container(100, 0xEE);
  container.insert(container.end(), bytes.begin(), bytes.end());
  container.resize(container.size() + 50, 0xEE);
  WriteBytes(tmp.Path("container.bin"), container);
  char chunk[kMaxPathLength + 1];
  ASSERT_TRUE(MakeChunkName("brush.png", chunk, sizeof chunk, 100, bytes.size(), 0,
                            tmp.Path("container.bin").c_str()));
  EXPECT_EQ(Load(chunk, &viaChunk, &facts), 0);
  EXPECT_EQ(viaChunk, direct);
}

TEST(LoadPng, DamagedFilesFailCleanly) {
  TempDir tmp;
  std::vector<uint8_t> good = ReadBytes(std::string(QV_PNG_FIXTURES) + "/rgba8_adam7.png");
  std::vector<uint32_t> pixels;
  qvPictureFacts facts;

  EXPECT_EQ(Load(tmp.Path("missing.png"), &pixels, &facts), ERR_READFILE);
  EXPECT_STREQ(GetErrorString(), tmp.Path("missing.png").c_str());  // the message names it
  WriteBytes(tmp.Path("empty.png"), std::vector<uint8_t>{});
  EXPECT_EQ(Load(tmp.Path("empty.png"), &pixels, &facts), ERR_LOADPICTURE2);
  WriteBytes(tmp.Path("text.png"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(Load(tmp.Path("text.png"), &pixels, &facts), ERR_LOADPICTURE2);
  WriteBytes(tmp.Path("tiff.png"), std::vector<uint8_t>{'I', 'I', 0x2a, 0, 8, 0, 0, 0});
  EXPECT_EQ(Load(tmp.Path("tiff.png"), &pixels, &facts), ERR_LOADPICTURE2);

  // Every cut short of the IEND chunk fails, in both modes as far as the header reaches.
  for (size_t cut = 0; cut + 12 < good.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    WriteBytes(tmp.Path("cut.png"), std::vector<uint8_t>(good.begin(), good.begin() + cut));
    EXPECT_EQ(Load(tmp.Path("cut.png"), &pixels, &facts), ERR_LOADPICTURE2);
    if (cut < 33) {
      EXPECT_EQ(LoadPicture(tmp.Path("cut.png").c_str(), nullptr, nullptr, &facts),
                ERR_LOADPICTURE2);
    }
  }
  // Every byte after the signature flipped: a checksum, a length or the data itself breaks.
  for (size_t at = 8; at < good.size(); ++at) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x55;
    WriteBytes(tmp.Path("bad.png"), bad);
    uint32_t* out = nullptr;
    int result = LoadPicture(tmp.Path("bad.png").c_str(), nullptr, &out, &facts);
    // A flip inside an ancillary chunk's name may leave a readable picture; all else fails.
    if (result == 0) {
      std::free(out);
    } else {
      EXPECT_EQ(result, ERR_LOADPICTURE2) << "byte " << at;
      EXPECT_EQ(out, nullptr);
    }
  }
}

TEST(LoadPng, OversizedHeadersFailBeforeAnyAllocation) {
  TempDir tmp;
  struct Case {
    uint32_t width, height;
    int result;
  } cases[] = {
      {40000, 40000, ERR_MEM},             // 6.4 GB of pixels: refused by size
      {23171, 23171, ERR_MEM},             // just above 2^31 bytes
      {0x7fffffff, 1, ERR_LOADPICTURE2},   // beyond what libpng takes as a width
      {0x80000000u, 1, ERR_LOADPICTURE2},  // not a valid PNG size
      {0, 1, ERR_LOADPICTURE2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    WriteBytes(tmp.Path("big.png"), HeaderOnlyPng(c.width, c.height));
    std::vector<uint32_t> pixels;
    qvPictureFacts facts;
    EXPECT_EQ(Load(tmp.Path("big.png"), &pixels, &facts), c.result);
  }
  // The header alone is what information mode reads.
  WriteBytes(tmp.Path("big.png"), HeaderOnlyPng(40000, 40000));
  qvPictureFacts facts;
  EXPECT_EQ(LoadPicture(tmp.Path("big.png").c_str(), nullptr, nullptr, &facts), 0);
  EXPECT_EQ(facts.width, 40000);
  EXPECT_EQ(facts.alpha, 1);
}

// A picture of one row or one column beyond libpng's own default of a million pixels a side loads:
// the picture limit of 2^31 bytes is the only bound.
TEST(LoadPng, LongPicturesLoadUpToThePictureLimit) {
  TempDir tmp;
  for (uint32_t width : {1u, 2000000u}) {
    const uint32_t height = width == 1 ? 2000000u : 1u;
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> ihdr;
    PutU32BE(&ihdr, width);
    PutU32BE(&ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    PutChunk(&png, "IHDR", ihdr);
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
      raw.push_back(0);  // no filter
      for (uint32_t x = 0; x < width; ++x) raw.insert(raw.end(), {0x12, uint8_t(x + y), 0x56});
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> idat(size);
    ASSERT_EQ(compress(idat.data(), &size, raw.data(), uLong(raw.size())), Z_OK);
    idat.resize(size);
    PutChunk(&png, "IDAT", idat);
    PutChunk(&png, "IEND", {});
    WriteBytes(tmp.Path("long.png"), png);
    std::vector<uint32_t> pixels;
    qvPictureFacts facts;
    ASSERT_EQ(Load(tmp.Path("long.png"), &pixels, &facts), 0);
    EXPECT_EQ(uint32_t(facts.width), width);
    EXPECT_EQ(uint32_t(facts.height), height);
    EXPECT_EQ(pixels[1999999], uint32_t(0x127F56));  // 1,999,999 mod 256 is 0x7F
  }
}

TEST(SavePng, PngcheckAcceptsAndPillowReadsBackTheSamePixels) {
  TempDir tmp;
  constexpr int kWidth = 37, kHeight = 5, kStride = 41;  // rows further apart than the width
  std::vector<uint32_t> pixels(size_t(kStride) * kHeight);
  uint32_t seed = 12345;
  for (uint32_t& p : pixels) {
    seed = seed * 1103515245u + 12345u;
    p = seed ^ (seed >> 13);
  }
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "rgba" : "rgb");
    std::string name = tmp.Path(alpha ? "rgba.png" : "rgb.png");
    qvPngRequest request;
    request.name = name.c_str();
    request.pixels = pixels.data();
    request.bytesPerRow = kStride * 4;
    request.width = kWidth;
    request.height = kHeight;
    request.alpha = alpha;
    ASSERT_EQ(SavePng(request), 0);

    int status = 0;
    std::string check = RunCommand("pngcheck -q '" + name + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;
    // Pillow prints mode, size and every pixel as 8 hex digits AARRGGBB (alpha 00 for RGB).
    std::string script =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "print(im.mode, im.size[0], im.size[1], im.info.get('interlace', 0)); "
        "print(' '.join('%02x%02x%02x%02x' % ((p[3] if len(p) == 4 else 0), p[0], p[1], p[2]) "
        "for p in im.getdata()))";
    std::string out = RunCommand("/usr/bin/python3 -c \"" + script + "\" '" + name + "'", &status);
    ASSERT_EQ(status, 0) << out;
    std::string expected = std::string(alpha ? "RGBA" : "RGB") + " 37 5 0\n";
    char word[16];
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        uint32_t p = pixels[size_t(y) * kStride + x];
        if (!alpha) p &= 0x00FFFFFF;
        std::snprintf(word, sizeof word, "%08x", p);
        expected += (y | x) ? std::string(" ") + word : std::string(word);
      }
    }
    EXPECT_EQ(out, expected + "\n");
  }
}

TEST(SavePng, FailedOpensAndWritesAreWriteErrors) {
  TempDir tmp;
  std::vector<uint32_t> pixels(64 * 64, 0x12345678);
  qvPngRequest request;
  request.pixels = pixels.data();
  request.bytesPerRow = 64 * 4;
  request.width = 64;
  request.height = 64;
  std::string noDir = tmp.Path("no/such/dir.png");
  request.name = noDir.c_str();
  EXPECT_EQ(SavePng(request), ERR_WRITEFILE);
  if (fs::exists("/dev/full")) {
    request.name = "/dev/full";  // every write or flush reports a full disk
    EXPECT_EQ(SavePng(request), ERR_WRITEFILE);
  }
}
