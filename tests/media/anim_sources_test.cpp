// IFF ANIM and AVI anim sources against the frames that tests/fixtures/make_anim_fixtures.py
// worked out independently (the encoder's pictures, djpeg's decodes, the raw source), asked for in
// every order; and damaged files, which must be refused or give missing frames, never a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "media/anim_source.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

const std::string kDir = QV_ANIM_FIXTURES;

struct Reference {
  int32_t width = 0, height = 0;
  std::vector<int32_t> delays;
  std::vector<std::vector<uint32_t>> frames;
};

uint32_t Word(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

Reference ReadReference(const std::string& name) {
  const std::string bytes = qvtest::ReadBytes(kDir + "/" + name + ".frames");
  Reference r;
  if (bytes.size() < 12) return r;
  r.width = int32_t(Word(bytes, 0));
  r.height = int32_t(Word(bytes, 4));
  const uint32_t count = Word(bytes, 8);
  const size_t pixels = size_t(r.width) * size_t(r.height);
  size_t at = 12;
  for (uint32_t k = 0; k < count; ++k) {
    r.delays.push_back(int32_t(Word(bytes, at)));
    at += 4;
    std::vector<uint32_t> frame(pixels);
    for (size_t i = 0; i < pixels; ++i, at += 4) frame[i] = Word(bytes, at);
    r.frames.push_back(std::move(frame));
  }
  return r;
}

std::vector<uint32_t> Frame(qvAnimSource* source, int32_t n) {
  uint32_t* pixels = LoadAnimSourceFrame(source, n);
  std::vector<uint32_t> out;
  if (pixels != nullptr) out.assign(pixels, pixels + size_t(source->width) * source->height);
  FreeAnimSourceFrame(source, pixels);
  return out;
}

// The requests: forwards twice (the source starts again after the last), backwards, and jumps.
std::vector<int32_t> Orders(int32_t count) {
  std::vector<int32_t> order;
  for (int round = 0; round < 2; ++round) {
    for (int32_t n = 0; n < count; ++n) order.push_back(n);
  }
  for (int32_t n = count - 1; n >= 0; --n) order.push_back(n);
  uint32_t seed = 7;
  for (int i = 0; i < 3 * count; ++i) {
    seed = seed * 1103515245u + 12345u;
    order.push_back(int32_t((seed >> 16) % uint32_t(count)));
  }
  return order;
}

TEST(AnimSources, FramesAndDelaysEqualTheReferencesInAnyOrder) {
  struct Case {
    const char* file;
    const char* reference;
    int32_t type;
  };
  const Case cases[] = {
      {"boxes.anim", "boxes.anim", kAnimFileIff},            // ByteRun1 body, a palette change
      {"ehb.anim", "ehb.anim", kAnimFileIff},                // raw body, half-bright, a frame count
      {"ham6.anim", "ham6.anim", kAnimFileIff},              // hold-and-modify
      {"mjpeg.avi", "mjpeg.avi", kAnimFileAvi},              // with Huffman tables and idx1
      {"mjpeg_nodht.avi", "mjpeg.avi", kAnimFileAvi},        // the standard tables put back
      {"mjpeg_noidx.avi", "mjpeg.avi", kAnimFileAvi},        // found by walking the chunks
      {"raw_bgr24.avi", "raw_bgr24.avi", kAnimFileAvi},      // odd width, rows stored top-down
      {"raw_bottom_up.avi", "raw_bgr24.avi", kAnimFileAvi},  // rows bottom-up, unpadded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Reference ref = ReadReference(c.reference);
    ASSERT_FALSE(ref.frames.empty());
    const std::string path = kDir + "/" + c.file;
    EXPECT_EQ(IdentifyAnim(path.c_str()), c.type);
    EXPECT_TRUE(IsAnimFile(path.c_str()));
    qvAnimSource* source = nullptr;
    ASSERT_EQ(OpenAnimSource(path.c_str(), &source), 0);
    EXPECT_EQ(source->width, ref.width);
    EXPECT_EQ(source->height, ref.height);
    ASSERT_EQ(source->frames, int32_t(ref.frames.size()));
    for (int32_t n = 0; n < source->frames; ++n) {
      EXPECT_EQ(GetAnimSourceFrameDelay(source, n), ref.delays[size_t(n)]) << "frame " << n;
    }
    for (int32_t n : Orders(source->frames)) {
      const std::vector<uint32_t> got = Frame(source, n);
      ASSERT_EQ(got.size(), ref.frames[size_t(n)].size()) << "frame " << n;
      size_t first = 0;
      while (first < got.size() && got[first] == ref.frames[size_t(n)][first]) ++first;
      ASSERT_EQ(first, got.size()) << "frame " << n << " differs first at pixel " << first;
    }
    EXPECT_TRUE(Frame(source, source->frames).empty());
    CloseAnimSource(source);
  }
}

TEST(AnimSources, AnIffAnimOfAnotherDeltaOperationShowsOnlyItsFirstFrame) {
  const Reference ref = ReadReference("boxes.anim");
  const std::string path = kDir + "/op7.anim";
  qvAnimSource* source = nullptr;
  ASSERT_EQ(OpenAnimSource(path.c_str(), &source), 0);
  ASSERT_EQ(source->frames, 6);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Frame(source, 0), ref.frames[0]);
    for (int32_t n = 1; n < source->frames; ++n) EXPECT_TRUE(Frame(source, n).empty()) << n;
  }
  CloseAnimSource(source);
}

// An IFF anim of more frames than a delay table of 4096 entries holds: a 16 x 2 picture of one
// plane and deltas that each set the top row's first byte, built here byte by byte.
std::string ManyFrameAnim(int32_t frames) {
  auto big32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto chunk = [&](const char* id, const std::string& data) {
    return std::string(id, 4) + big32(uint32_t(data.size())) + data +
           (data.size() & 1 ? std::string(1, '\0') : std::string());
  };
  std::string bmhd = {0, 16, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 16, 0, 2};
  std::string cmap = {0, 0, 0, char(255), char(255), char(255)};
  auto anhd = [&](uint32_t reltime) {
    std::string a(40, '\0');
    a[0] = 5;
    a.replace(14, 4, big32(reltime));
    return a;
  };
  std::string body(8, '\0');  // two rows of two bytes, raw: all colour 0
  std::string forms = chunk("FORM", "ILBM" + chunk("BMHD", bmhd) + chunk("CMAP", cmap) +
                                        chunk("ANHD", anhd(1)) + chunk("BODY", body));
  for (int32_t k = 1; k < frames; ++k) {
    // Plane 0 at byte 32: column 0 copies one byte into the top row, column 1 is left alone.
    std::string dlta = big32(32) + std::string(28, '\0');
    dlta += std::string{1, char(0x81), char(k % 3 == 0 ? 0xFF : 0x0F), 0};
    forms += chunk("FORM",
                   "ILBM" + chunk("ANHD", anhd(uint32_t(k % 50 + 1))) + chunk("DLTA", dlta));
  }
  return chunk("FORM", "ANIM" + forms);
}

TEST(AnimSources, IffDelaysReachEveryFrameOfALongAnim) {
  qvtest::TempDir dir;
  const int32_t frames = 4200;
  const std::string path = dir.Write("long.anim", ManyFrameAnim(frames));
  qvAnimSource* source = nullptr;
  ASSERT_EQ(OpenAnimSource(path.c_str(), &source), 0);
  ASSERT_EQ(source->frames, frames);
  // Frame k is shown for the time the delta of frame k + 1 waits.
  for (int32_t k : {0, 4094, 4095, 4096, 4150, frames - 2}) {
    EXPECT_EQ(GetAnimSourceFrameDelay(source, k), ((k + 1) % 50 + 1) * 1000 / 60) << k;
  }
  EXPECT_EQ(GetAnimSourceFrameDelay(source, frames - 1), 0);
  const std::vector<uint32_t> last = Frame(source, frames - 1);
  ASSERT_EQ(last.size(), 32u);
  // The last delta wrote its byte into the top row's first 8 pixels.
  const uint32_t byte = (frames - 1) % 3 == 0 ? 0xFF : 0x0F;
  for (int x = 0; x < 8; ++x) EXPECT_EQ(last[size_t(x)], (byte >> (7 - x) & 1) ? 0xFFFFFFu : 0u);
  CloseAnimSource(source);
}

// ---- damaged files ----

void PutBig32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + size_t(i)] = char(v >> (24 - 8 * i));
}
void PutLittle32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + size_t(i)] = char(v >> (8 * i));
}
size_t Find(const std::string& s, const char* id, size_t from = 0) {
  const size_t at = s.find(id, from);
  EXPECT_NE(at, std::string::npos) << id;
  return at == std::string::npos ? 0 : at;
}

uint32_t Big32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

// What a damaged file still shows once it opens: the frame `bad` is missing; with `restGood` every
// other frame is whole, otherwise only the first (an IFF anim's deltas build on each other).
struct Damage {
  const char* what;
  const char* file;
  void (*edit)(std::string*);
  int open;  // OpenAnimSource's code
  int32_t bad;
  bool restGood;
};

const Damage kDamages[] = {
    {"nine planes", "boxes.anim", [](std::string* s) { (*s)[Find(*s, "BMHD") + 16] = 9; },
     ERR_OPENANIM2, -1, false},
    {"a picture of 65535 x 65535 x 8", "boxes.anim",
     [](std::string* s) {
       const size_t at = Find(*s, "BMHD") + 8;
       PutBig32(s, at, 0xFFFFFFFF);
       (*s)[at + 8] = 8;
     },
     ERR_MEM, -1, false},
    {"no form behind the first", "boxes.anim",
     [](std::string* s) { (*s)[Find(*s, "FORM", Find(*s, "BODY"))] = 'X'; }, ERR_OPENANIM2, -1,
     false},
    {"cut inside the first body", "boxes.anim",
     [](std::string* s) { s->resize(Find(*s, "BODY") + 20); }, ERR_OPENANIM2, -1, false},
    {"a plane offset behind the delta", "boxes.anim",
     [](std::string* s) {
       const size_t dlta = Find(*s, "DLTA");
       PutBig32(s, dlta + 8, 0x7FFFFFF0);
     },
     0, 1, false},
    {"an operation count that runs past the delta", "boxes.anim",
     [](std::string* s) {
       const size_t dlta = Find(*s, "DLTA");
       const uint32_t size = Big32(*s, dlta + 4);
       PutBig32(s, dlta + 8, size - 1);  // the last byte, read as a column's count
       (*s)[dlta + 8 + size - 1] = char(200);
     },
     0, 1, false},
    {"a run past the plane's last row", "boxes.anim",
     [](std::string* s) {
       // The first plane's first column: one fill of 200 rows (the picture has 21).
       const size_t dlta = Find(*s, "DLTA");
       const size_t at = dlta + 8 + Big32(*s, dlta + 8);
       (*s)[at] = 1;
       (*s)[at + 1] = 0;
       (*s)[at + 2] = char(200);
     },
     0, 1, false},
    {"a video format of another width", "mjpeg.avi",
     [](std::string* s) { PutLittle32(s, Find(*s, "strf", Find(*s, "vids")) + 12, 47); },
     ERR_OPENANIM2, -1, false},
    {"an unknown video handler", "mjpeg.avi",
     [](std::string* s) { s->replace(Find(*s, "vids") + 4, 4, "xvid"); }, ERR_OPENANIM2, -1, false},
    {"17 streams", "mjpeg.avi", [](std::string* s) { PutLittle32(s, Find(*s, "avih") + 32, 17); },
     ERR_OPENANIM2, -1, false},
    {"no frames", "mjpeg.avi", [](std::string* s) { PutLittle32(s, Find(*s, "avih") + 24, 0); },
     ERR_OPENANIM2, -1, false},
    {"no movi", "mjpeg.avi", [](std::string* s) { s->replace(Find(*s, "movi"), 4, "mova"); },
     ERR_OPENANIM2, -1, false},
    // The index points outside the file: it is dropped, and the frames are walked to.
    {"index offsets past the end", "mjpeg.avi",
     [](std::string* s) {
       for (size_t at = Find(*s, "idx1") + 8; at + 16 <= s->size(); at += 16) {
         PutLittle32(s, at + 8, 0x7FFFFF00);
       }
     },
     0, -1, true},
    {"a frame without its start marker", "mjpeg.avi",
     [](std::string* s) { (*s)[Find(*s, "00dc", Find(*s, "movi")) + 8] = 0; }, 0, 0, true},
    // The last frame, so that the chunks behind it keep their places.
    {"a raw frame one byte short", "raw_bgr24.avi",
     [](std::string* s) {
       const size_t at = s->rfind("00dc", Find(*s, "idx1"));
       PutLittle32(s, at + 4, 13 * 3 * 7 - 1);
     },
     0, 3, true},
};

TEST(AnimSources, DamagedFilesAreRefusedOrLoseFramesWithoutACrash) {
  qvtest::TempDir dir;
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.what);
    std::string bytes = qvtest::ReadBytes(kDir + "/" + d.file);
    ASSERT_FALSE(bytes.empty());
    d.edit(&bytes);
    const std::string path = dir.Write("damaged", bytes);
    qvAnimSource* source = nullptr;
    ASSERT_EQ(OpenAnimSource(path.c_str(), &source), d.open);
    if (source == nullptr) continue;
    const Reference ref = ReadReference(d.file);
    for (int32_t n : Orders(source->frames)) {
      const std::vector<uint32_t> got = Frame(source, n);
      if (n == d.bad) {
        EXPECT_TRUE(got.empty()) << "frame " << n;
      } else if (d.restGood || n == 0) {
        EXPECT_EQ(got, ref.frames[size_t(n)]) << "frame " << n;
      }
    }
    CloseAnimSource(source);
  }
}

}  // namespace
