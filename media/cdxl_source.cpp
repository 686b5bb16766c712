// The CDXL reader. The first chunk fixes the layout of every chunk (palette, frame and sound
// sizes); later chunks bring their own palette words. Everything read from the file is checked
// against the chunk before it is used, so a damaged file ends as "no CDXL" or as its last whole
// chunk.
#include "media/cdxl_source.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/vfile.h"
#include "image/planar.h"

namespace qv {
namespace {

constexpr uint32_t kHeaderBytes = 32;
constexpr uint32_t kMaxPaletteBytes = 512;  // 256 colour words
constexpr int32_t kMaxPlanes = 8;
// Bits 5-7 of the info byte give the pixel layout; 0 is bit-planar, the only one read here.
constexpr uint8_t kLayoutMask = 0xE0;

uint32_t BigU32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t BigU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// A packet's data: the chunk's palette and the bytes of one of its parts.
struct CdxlPacket {
  uint32_t palette[256];
  std::vector<uint8_t> bytes;
};

int32_t ClampToInt32(double v) {
  if (!(v >= 0.0)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

class CdxlSource final : public qvVideoSource {
 public:
  ~CdxlSource() override {
    if (file_ != nullptr) CloseFileQ(file_);
  }

  int32_t Open(const char* name);

  int32_t NextPacket(qvVideoPacket* packet) override;
  void FreePacket(qvVideoPacket* packet) override {
    delete static_cast<CdxlPacket*>(packet->data);
    packet->data = nullptr;
  }
  int32_t DecodeVideo(const qvVideoPacket& packet, uint32_t* pixels, double* timeStamp) override;
  int32_t DecodeAudio(const qvVideoPacket& packet, int16_t* out, uint32_t capacity,
                      uint32_t* bytes) override;
  int32_t Seek(int64_t ms) override;
  const char* FormatName() const override { return "CDXL"; }

 private:
  double TimeStamp() const { return double(frame_) / fps_; }

  qvFile* file_ = nullptr;
  int32_t width_ = 0, height_ = 0, rowBytes_ = 0, planes_ = 0;
  int64_t frames_ = 0;
  int64_t frame_ = 0;  // the chunk the next video packet comes from
  uint32_t chunkSize_ = 0;
  uint32_t paletteBytes_ = 0;
  uint32_t videoBytes_ = 0;
  uint32_t soundBytes_ = 0;
  uint32_t trailingBytes_ = 0;
  bool ham_ = false;
  double fps_ = 1.0;
  bool soundPending_ = false;
};

int32_t CdxlSource::Open(const char* name) {
  file_ = OpenFileQ(name, kFileRead);
  if (file_ == nullptr) return ERR_READFILE;
  const int64_t fileSize = file_->length;
  uint8_t head[kHeaderBytes];
  if (ReadFileQ(file_, head, kHeaderBytes) != kHeaderBytes || head[0] != 1) return ERR_LOADVIDEO;
  chunkSize_ = BigU32(head + 2);
  if (chunkSize_ < kHeaderBytes || int64_t{chunkSize_} >= fileSize) return ERR_LOADVIDEO;
  // The second chunk must announce the same size: the check that tells a CDXL file from others.
  uint8_t second[4];
  SeekFileQ(file_, int64_t{chunkSize_} + 2, kSeekStart);
  if (ReadFileQ(file_, second, 4) != 4 || BigU32(second) != chunkSize_) return ERR_LOADVIDEO;

  width_ = BigU16(head + 14);
  height_ = BigU16(head + 16);
  planes_ = head[19];
  paletteBytes_ = BigU16(head + 20);
  soundBytes_ = BigU16(head + 22);
  if (width_ == 0 || height_ == 0 || planes_ == 0 || planes_ > kMaxPlanes) return ERR_LOADVIDEO;
  if ((head[1] & kLayoutMask) != 0 || paletteBytes_ > kMaxPaletteBytes) return ERR_LOADVIDEO;
  rowBytes_ = PlaneRowBytes(width_);
  const uint64_t video = uint64_t(planes_) * uint64_t(rowBytes_) * uint64_t(height_);
  const uint64_t parts = kHeaderBytes + uint64_t{paletteBytes_} + video + soundBytes_;
  if (parts > chunkSize_) return ERR_LOADVIDEO;
  videoBytes_ = static_cast<uint32_t>(video);
  trailingBytes_ = static_cast<uint32_t>(chunkSize_ - parts);
  ham_ = (head[1] & 0x0F) == 1;
  // A partial chunk at the end holds no whole frame.
  frames_ = fileSize / chunkSize_;
  fps_ = CdxlFramesPerSecond(chunkSize_);

  facts_.width = width_;
  facts_.height = height_;
  facts_.frameCount = frames_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(frames_);
  facts_.durationMs = ClampToInt32(double(frames_) / fps_ * 1000.0);
  facts_.channels = soundBytes_ > 0 ? 1 : 0;
  facts_.frequency = ClampToInt32(double(soundBytes_) * fps_);
  facts_.seekable = true;
  facts_.frameKind = kFrameKindPixels;
  SeekFileQ(file_, 0, kSeekStart);
  return 0;
}

int32_t CdxlSource::NextPacket(qvVideoPacket* packet) {
  *packet = qvVideoPacket{};
  if (!soundPending_ && frame_ >= frames_) return kSourceEnd;
  auto* data = new (std::nothrow) CdxlPacket;
  if (data == nullptr) return ERR_MEM;
  const uint32_t want = soundPending_ ? soundBytes_ : videoBytes_;
  try {
    data->bytes.resize(want);
  } catch (const std::bad_alloc&) {
    delete data;
    return ERR_MEM;
  }
  packet->data = data;
  packet->size = want;
  packet->timeStamp = TimeStamp();
  if (soundPending_) {
    soundPending_ = false;
    packet->kind = kVideoPacketSound;
    if (ReadFileQ(file_, data->bytes.data(), want) != want) {
      FreePacket(packet);
      return ShortReadError(file_);
    }
  } else {
    SeekFileQ(file_, frame_ * chunkSize_ + kHeaderBytes, kSeekStart);
    std::memset(data->palette, 0, sizeof data->palette);
    uint8_t words[kMaxPaletteBytes];
    if (ReadFileQ(file_, words, paletteBytes_) != paletteBytes_ ||
        ReadFileQ(file_, data->bytes.data(), want) != want) {
      FreePacket(packet);
      return ShortReadError(file_);
    }
    for (uint32_t i = 0; i < paletteBytes_ / 2; ++i) {
      const uint16_t rgb = BigU16(words + size_t{2} * i);
      data->palette[i] = (uint32_t((rgb >> 8) & 15) * 17 << 16) |
                         (uint32_t((rgb >> 4) & 15) * 17 << 8) | (uint32_t(rgb & 15) * 17);
    }
    packet->kind = kVideoPacketVideo;
    soundPending_ = soundBytes_ > 0;
  }
  if (!soundPending_) {
    // The trailing bytes are passed over by positioning the next chunk's read.
    ++frame_;
  }
  return 0;
}

int32_t CdxlSource::DecodeVideo(const qvVideoPacket& packet, uint32_t* pixels, double* timeStamp) {
  const auto* data = static_cast<const CdxlPacket*>(packet.data);
  if (packet.kind != kVideoPacketVideo || data == nullptr || data->bytes.size() != videoBytes_) {
    return ERR_LOADVIDEO;
  }
  std::vector<uint8_t> pens(static_cast<size_t>(width_));
  const uint8_t* planeRows[kMaxPlanes];
  const size_t planeBytes = size_t(rowBytes_) * size_t(height_);
  for (int32_t y = 0; y < height_; ++y) {
    for (int32_t p = 0; p < planes_; ++p) {
      planeRows[p] = data->bytes.data() + size_t(p) * planeBytes + size_t(y) * size_t(rowBytes_);
    }
    uint32_t* out = pixels + size_t(y) * size_t(width_);
    if (!ham_) {
      PlanarToArgb(planeRows, planes_, width_, data->palette, out);
    } else {
      PlanarToChunky(planeRows, planes_, width_, pens.data());
      if (planes_ < 7) {
        HamSixToArgb(pens.data(), width_, data->palette, out);
      } else {
        HamEightToArgb(pens.data(), width_, data->palette, out);
      }
    }
  }
  *timeStamp = packet.timeStamp;
  return 0;
}

int32_t CdxlSource::DecodeAudio(const qvVideoPacket& packet, int16_t* out, uint32_t capacity,
                                uint32_t* bytes) {
  const auto* data = static_cast<const CdxlPacket*>(packet.data);
  *bytes = 0;
  if (packet.kind != kVideoPacketSound || data == nullptr) return ERR_LOADVIDEO;
  const size_t count = std::min<size_t>(data->bytes.size(), capacity / 2);
  for (size_t i = 0; i < count; ++i) {
    // The byte's bit pattern becomes the high half of the sample.
    out[i] = static_cast<int16_t>(static_cast<uint16_t>(data->bytes[i]) << 8);
  }
  *bytes = static_cast<uint32_t>(count * 2);
  return 0;
}

int32_t CdxlSource::Seek(int64_t ms) {
  // Multiplied before the division, so that a whole number of frames in ms lands on that frame.
  const double target = double(ms) * fps_ / 1000.0;
  int64_t frame = target <= 0.0 ? 0 : target >= double(frames_) ? frames_ - 1 : int64_t(target);
  if (frame >= frames_) frame = frames_ - 1;
  frame_ = frame;
  soundPending_ = false;
  SeekFileQ(file_, frame_ * chunkSize_, kSeekStart);
  return 0;
}

}  // namespace

double CdxlFramesPerSecond(uint32_t chunkSize) {
  if (chunkSize == 0) return 0.0;
  if (chunkSize >= 40001) return 614400.0 / chunkSize;
  if (chunkSize < 13001) return 153600.0 / chunkSize;
  return 307200.0 / chunkSize;
}

int32_t OpenCdxlSource(const char* name, std::unique_ptr<qvVideoSource>* out) {
  out->reset();
  auto source = std::unique_ptr<CdxlSource>(new (std::nothrow) CdxlSource);
  if (source == nullptr) return ERR_MEM;
  const int32_t code = source->Open(name);
  if (code != 0) return code;
  *out = std::move(source);
  return 0;
}

}  // namespace qv
