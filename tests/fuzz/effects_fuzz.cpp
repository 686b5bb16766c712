// Fuzz target of the effect and distortion wrappers and the transition kernels: the first bytes
// choose a picture (1-40 pixels a side, with a mask, an alpha channel or neither), an operation
// (swirl, pixelate, ripple, the four distortions nearest or smooth, the dissolve mask, line
// rolling) and its values, which come as NaN, the infinities, huge and small numbers as often as
// plain ones. Every operation stays inside its planes (the sanitizers check), ends in bounded
// time and returns one of its codes.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "tests/fuzz/byte_reader.h"

volatile uint32_t g_effectSum;

using namespace qv;

namespace {

struct Reader : fuzz::ByteReader {
  using ByteReader::ByteReader;
  // A value that is special one time in two.
  double Number() {
    const uint8_t kind = Byte();
    const double raw = double(int16_t(uint16_t(Byte()) << 8 | Byte()));
    switch (kind % 16) {
      case 0:
        return std::nan("");
      case 1:
        return std::numeric_limits<double>::infinity();
      case 2:
        return -std::numeric_limits<double>::infinity();
      case 3:
        return raw * 1e300;
      case 4:
        return raw * 1e-300;
      case 5:
        return 0.0;
      case 6:
        return raw * 1e6;
      case 7:
        return -1.0;
      default:
        return raw / 64.0;
    }
  }
};

uint32_t Sum(const qvBitMap* b, const qvPlane* mask, const qvPlane* alpha, int32_t w, int32_t h) {
  uint32_t sum = 0;
  for (int32_t y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(b->pixels + int64_t(y) * b->bytesPerRow);
    for (int32_t x = 0; x < w; ++x) sum = sum * 31 + row[x];
    if (mask)
      for (int32_t i = 0; i < mask->bytesPerRow; ++i)
        sum += mask->data[int64_t(y) * mask->bytesPerRow + i];
    if (alpha)
      for (int32_t x = 0; x < w; ++x) sum += alpha->data[int64_t(y) * alpha->bytesPerRow + x];
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const int32_t w = 1 + in.Byte() % 40, h = 1 + in.Byte() % 40;
  const uint8_t planes = in.Byte() % 3;  // 0 none, 1 mask, 2 alpha
  const uint8_t op = in.Byte() % 10;
  qvBitMap* bitmap = AllocBitMap(w, h);
  qvPlane* mask = planes == 1 ? AllocMask(w, h, false) : nullptr;
  qvPlane* alpha = planes == 2 ? AllocAlphaChannel(w, h, false) : nullptr;
  if (!bitmap || (planes == 1 && !mask) || (planes == 2 && !alpha)) std::abort();
  for (int64_t i = 0; i < int64_t(bitmap->bytesPerRow) * (h + 1); ++i)
    bitmap->pixels[i] = uint8_t(i * 37 + w);
  if (mask)
    for (int64_t i = 0; i < int64_t(mask->bytesPerRow) * h; ++i) mask->data[i] = uint8_t(i * 91);
  if (alpha)
    for (int64_t i = 0; i < int64_t(alpha->bytesPerRow) * h; ++i) alpha->data[i] = uint8_t(i * 13);
  uint32_t sum = 0;
  int code = 0;

  if (op == 0) {
    code = SwirlBitMap(bitmap, mask, alpha, w, h, in.Int());
  } else if (op == 1) {
    code = PixelateBitMap(bitmap, mask, alpha, w, h, in.Int());
  } else if (op == 2) {
    const double wavelength = in.Number(), amplitude = in.Number(), phase = in.Number();
    const double cx = in.Number(), cy = in.Number();
    code = WaterRippleBitMap(bitmap, mask, alpha, w, h, wavelength, amplitude, phase, cx, cy);
  } else if (op <= 6) {
    const int32_t modes[4] = {kDistortPerspective, kDistortArc, kDistortPolar, kDistortBarrel};
    const int32_t mode = modes[op - 3];
    const bool smooth = in.Byte() & 1;
    int32_t count = in.Byte() % 17;
    double values[16];
    for (int32_t i = 0; i < count; ++i) values[i] = in.Number();
    if (mode == kDistortPerspective && count == 16) {
      // Mostly the brush's own corners as the sources, as the command gives them.
      const double corners[8] = {0, 0, double(w), 0, double(w), double(h), 0, double(h)};
      if (in.Byte() & 1)
        for (int g = 0; g < 4; ++g)
          values[4 * g] = corners[2 * g], values[4 * g + 1] = corners[2 * g + 1];
    }
    // Large results are allowed but slow to fill: their size is checked first.
    qvDistortJob job{};
    job.mode = mode;
    job.valueCount = count;
    for (int32_t i = 0; i < count; ++i) job.values[i] = values[i];
    job.source.width = w, job.source.height = h;
    DistortPrepare(job);
    if (job.error == 0 && int64_t(job.outWidth) * job.outHeight <= 250000) {
      qvBitMap* out = nullptr;
      qvPlane* outMask = nullptr;
      qvPlane* outAlpha = nullptr;
      int32_t ow = 0, oh = 0;
      code = DistortBitMap(bitmap, mask, alpha, w, h, mode, count, values, smooth, &out, &outMask,
                           &outAlpha, &ow, &oh);
      if (code == 0) {
        if (ow != job.outWidth || oh != job.outHeight || !out || (!outMask == !outAlpha))
          std::abort();
        sum += Sum(out, outMask, outAlpha, ow, oh);
        FreeBitMap(out);
        FreeMaskOrAlpha(outMask);
        FreeMaskOrAlpha(outAlpha);
      }
    } else if (job.error != 0 && job.error != ERR_WRONGUSAGE && job.error != ERR_MEM) {
      std::abort();
    }
  } else if (op == 7) {
    // The dissolve mask over the picture's own planes, from the noise of the remaining bytes.
    std::vector<uint8_t> noise(size_t(w) * size_t(h));
    for (auto& n : noise) n = in.Byte();
    const int32_t level = in.Int();
    const bool bytes = planes == 2, invert = in.Byte() & 1;
    qvPlane* target = bytes ? AllocAlphaChannel(w, h, true) : AllocMask(w, h, true);
    if (!target) std::abort();
    const qvPlane* source = bytes ? alpha : mask;
    DissolveMaskKernel(
        {source ? source->data : nullptr, target->data, w, h, source ? source->bytesPerRow : 0,
         target->bytesPerRow, noise.data(), bytes, invert},
        level);
    for (int64_t i = 0; i < int64_t(target->bytesPerRow) * h; ++i) sum += target->data[i];
    FreeMaskOrAlpha(target);
  } else if (op == 8) {
    // Rolling lines of the picture into a copy through a table of any doubles.
    qvBitMap* dst = AllocBitMap(w, h);
    if (!dst) std::abort();
    std::vector<double> table(in.Byte());
    for (auto& t : table) t = in.Number();
    RollRecord r{};
    r.src = reinterpret_cast<const uint32_t*>(bitmap->pixels);
    r.dst = reinterpret_cast<uint32_t*>(dst->pixels);
    r.srcPixelsPerRow = r.dstPixelsPerRow = bitmap->bytesPerRow / 4;
    qvPlane* dstMask = mask ? AllocMask(w, h, true) : nullptr;
    qvPlane* dstAlpha = alpha ? AllocAlphaChannel(w, h, true) : nullptr;
    if (mask) {
      r.srcMask = mask->data, r.srcMaskBytesPerRow = mask->bytesPerRow;
      r.dstMask = dstMask->data, r.dstMaskBytesPerRow = dstMask->bytesPerRow;
    }
    if (alpha) {
      r.srcAlpha = alpha->data, r.srcAlphaBytesPerRow = alpha->bytesPerRow;
      r.dstAlpha = dstAlpha->data, r.dstAlphaBytesPerRow = dstAlpha->bytesPerRow;
    }
    r.width = w, r.height = h;
    r.diameter = int32_t(table.size());
    r.columns = in.Byte() & 1;
    r.position = in.Int();
    r.table = table.data();
    r.divisor = in.Number();
    r.offset = in.Int();
    r.bytesPerPixel = 4;
    RollRowsKernel(r);
    if (r.lineCount < 0 || r.lineCount > r.diameter || r.drawn != (r.lineCount > 0)) std::abort();
    sum += Sum(dst, dstMask, dstAlpha, w, h);
    FreeBitMap(dst);
    FreeMaskOrAlpha(dstMask);
    FreeMaskOrAlpha(dstAlpha);
  } else {
    // The swirl and ripple kernels in their transition modes, with a second picture or a
    // transition alpha.
    const bool useSecond = in.Byte() & 1;
    const int32_t value = in.Int();
    std::vector<uint32_t> second(size_t(w) * size_t(h), 0x123456);
    std::vector<uint8_t> transition(size_t(w) * size_t(h), 128);
    std::vector<double> sine(kEffectTableSize), cosine(kEffectTableSize);
    std::vector<int32_t> distance(size_t(w) * size_t(h));
    auto* dst = reinterpret_cast<uint32_t*>(bitmap->pixels);
    const int32_t ppr = bitmap->bytesPerRow / 4;
    SwirlRecord s{};
    s.dst = dst, s.dstPixelsPerRow = ppr;
    s.second = useSecond ? second.data() : nullptr, s.secondPixelsPerRow = w;
    s.transitionAlpha = useSecond ? nullptr : transition.data(), s.transitionAlphaBytesPerRow = w;
    if (alpha) s.dstAlpha = alpha->data, s.dstAlphaBytesPerRow = alpha->bytesPerRow;
    s.sine = sine.data(), s.cosine = cosine.data();
    s.width = w, s.height = h;
    s.invertLevel = value & 1;
    InitSwirlTables(s);
    code = SwirlKernel(s, value % 1500);
    RippleRecord r{};
    r.dst = dst, r.dstPixelsPerRow = ppr;
    r.second = s.second, r.secondPixelsPerRow = w;
    r.transitionAlpha = s.transitionAlpha, r.transitionAlphaBytesPerRow = w;
    r.dstAlpha = s.dstAlpha, r.dstAlphaBytesPerRow = s.dstAlphaBytesPerRow;
    r.distance = distance.data(), r.sine = sine.data();
    r.wavelength = in.Number();
    r.amplitudePerStep = in.Number();
    r.steps = in.Int();
    r.width = w, r.height = h;
    r.invertLevel = s.invertLevel;
    InitRippleTables(r, in.Number(), in.Number());
    const int32_t step = in.Int();
    if (code == 0) code = RippleKernel(r, step);
  }
  if (code != 0 && code != ERR_MEM && code != ERR_WRONGUSAGE && code != ERR_LOCKBMAP) std::abort();
  sum += Sum(bitmap, mask, alpha, w, h);
  g_effectSum = sum;
  FreeBitMap(bitmap);
  FreeMaskOrAlpha(mask);
  FreeMaskOrAlpha(alpha);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(EffectsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
