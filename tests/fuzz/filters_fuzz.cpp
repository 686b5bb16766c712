// Fuzz target of the filters and colour effects: the first bytes choose a picture (1-48 pixels a
// side, a format of 10-13, with or without an alpha plane, a size handed to the wrapper that may
// exceed the picture or be negative) and a wrapper; each number argument is a byte that picks a
// special value (0, -0, tiny, huge, NaN, the infinities) or takes the next eight bytes as a
// double whole. Every wrapper stays inside its planes (the sanitizers check) and ends in bounded
// time: window widths past the picture do nothing, and oil paint's window is kept to the small
// ones, whose cost grows with its square.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "image/image.h"
#include "tests/fuzz/byte_reader.h"

volatile uint32_t g_filterSum;

using namespace qv;

namespace {

struct Reader : fuzz::ByteReader {
  using ByteReader::ByteReader;
  double Number() {
    static const double kSpecial[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.0,
                                      0.5,
                                      2.0,
                                      1e-11,
                                      5e-324,
                                      1e300,
                                      std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      3.7,
                                      100.0,
                                      1e6};
    const uint8_t b = Byte();
    if (b < 240) return kSpecial[b % 16];
    double v = 0;
    uint8_t raw[8] = {};
    for (uint8_t& r : raw) r = Byte();
    std::memcpy(&v, raw, 8);
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const int w = 1 + in.Byte() % 48, h = 1 + in.Byte() % 48;
  const int32_t format = 10 + in.Byte() % 4;
  const uint8_t flags = in.Byte();
  const bool withAlpha = flags & 1;
  // The size handed over: the picture's, less, more, or a negative one.
  int32_t cw = w, ch = h;
  if (flags & 2) cw = int32_t(in.Byte()) - 8;
  if (flags & 4) ch = int32_t(in.Byte()) - 8;
  const uint8_t kind = in.Byte() % 14;
  const double a = in.Number(), b = in.Number(), c = in.Number();
  const int32_t n = in.Int();

  qvBitMap* bitmap = AllocBitMap(w, h);
  qvPlane* alpha = withAlpha ? AllocAlphaChannel(w, h, false) : nullptr;
  if (!bitmap) return 0;
  bitmap->format = format;
  const int64_t words = int64_t(bitmap->bytesPerRow / 4) * (h + 1);
  auto* px = reinterpret_cast<uint32_t*>(bitmap->pixels);
  for (int64_t i = 0; i < words; ++i) px[i] = uint32_t(i * 2654435761u) ^ uint32_t(in.Byte());
  if (alpha)
    for (int64_t i = 0; i < int64_t(alpha->bytesPerRow) * h; ++i) alpha->data[i] = in.Byte();

  qvPlane* made = nullptr;
  // A shadow's plane and its blur grow with the radius: the small ones are the fuzzer's.
  const double shadowRadius = std::isfinite(a) ? std::fmod(a, 24.0) : a;
  const char modes[] = {'b', 'e', 'g', 's', 'x'};
  switch (kind) {
    case 0:
      ConvolveBitMap(modes[flags >> 5 & 3], bitmap, alpha, cw, ch, a, b);
      break;
    case 1:
      ConvolveBitMap(modes[(flags >> 5) % 5], nullptr, alpha, cw, ch, a, b);
      break;
    case 2:
      SolarizeBitMap(bitmap, cw, ch, n);
      break;
    case 3:
      GammaBitMap(bitmap, cw, ch, a, b, c);
      break;
    case 4:
      ContrastBitMap(bitmap, cw, ch, flags & 8, n % 1000);
      break;
    case 5:
      ModulateBitMap(bitmap, cw, ch, a, b, c);
      break;
    case 6:
      NormalizeLevels(bitmap, cw, ch, n, int64_t(in.Int()));
      break;
    case 7:
      SepiaToneBitMap(bitmap, cw, ch, n);
      break;
    case 8:
      CharcoalBitMap(bitmap, alpha, cw, ch, a, b);
      break;
    case 9:
      OilPaintBitMap(bitmap, cw, ch, std::isfinite(a) ? std::fmod(std::abs(a), 6.0) : a);
      break;
    case 10:
      MonochromeBitMap(bitmap, cw, ch, flags & 8);
      break;
    case 11:
      made = BuildShadowAlpha(alpha, nullptr, int32_t(in.Byte()) - 4, int32_t(in.Byte()) - 4, cw,
                              ch, shadowRadius, b, n, flags & 8, flags & 16);
      break;
    case 12: {
      qvPlane* mask = AllocMask(w, h, false);
      if (mask)
        for (int64_t i = 0; i < int64_t(mask->bytesPerRow) * h; ++i) mask->data[i] = in.Byte();
      made = BuildShadowAlpha(nullptr, mask, int32_t(in.Byte()) - 4, int32_t(in.Byte()) - 4, cw, ch,
                              shadowRadius, b, n, flags & 8, flags & 16);
      FreeMaskOrAlpha(mask);
      break;
    }
    default:
      OptimalKernelWidth1D(a, b);
      OptimalKernelWidth2D(a, b, 64);
      break;
  }
  uint32_t sum = 0;
  for (int64_t i = 0; i < words; ++i) sum += px[i];
  if (made) {
    for (int64_t i = 0; i < int64_t(made->bytesPerRow) * made->height; ++i) sum += made->data[i];
    FreeMaskOrAlpha(made);
  }
  g_filterSum = sum;
  FreeMaskOrAlpha(alpha);
  FreeBitMap(bitmap);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(FiltersFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
