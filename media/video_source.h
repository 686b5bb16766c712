// Packet sources of the internal video engine: an open video file that hands out time-stamped
// video and sound packets in file order, decodes them into pixels and PCM, and seeks by time. The
// engine's threads drive every source the same way, whether its format is read by the player
// itself (CDXL), by a video plugin or by the platform's media decoder.
//
// A source is used by one thread at a time for reading and seeking (the decoder thread while a
// video plays); decoding a video packet and decoding a sound packet may run on two other threads
// at once, so a source keeps no state shared between its two decoders.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

enum : int32_t { kVideoPacketVideo = 0, kVideoPacketSound = 1 };

// How the engine treats the frames of a source.
enum : int32_t {
  kFrameKindPixels = 0,       // frames decode into the engine's 32-bit buffers
  kFrameKindSourceDrawn = 2,  // the source draws its frames itself: no buffers, no conversion
};

// What an opened source reports.
struct qvVideoFacts {
  int32_t width = 0, height = 0;
  int32_t durationMs = 0;
  int32_t frameCount = 0;
  int32_t channels = 0;  // 0: no sound
  int32_t frequency = 0;
  bool seekable = false;
  int32_t frameKind = kFrameKindPixels;
  double startTime = 0.0;  // seconds
};

// One packet: the source's data (released through FreePacket), its size for the engine's
// read-ahead limits, its kind and its time stamp in seconds (-1.0 when unknown).
struct qvVideoPacket {
  void* data = nullptr;
  uint32_t size = 0;
  int32_t kind = kVideoPacketVideo;
  double timeStamp = -1.0;
};

// What NextPacket answers besides 0 and error codes.
inline constexpr int32_t kSourceEnd = -1;
// What DecodeVideo answers for a packet that completes no picture (yet).
inline constexpr int32_t kNoFrame = 1;

class qvVideoSource {
 public:
  virtual ~qvVideoSource() = default;
  const qvVideoFacts& facts() const { return facts_; }

  // The next packet in file order: 0 with the packet, kSourceEnd after the last, or an error
  // code (ERR_MEM, a read error). The packet is the caller's until FreePacket.
  virtual int32_t NextPacket(qvVideoPacket* packet) = 0;
  virtual void FreePacket(qvVideoPacket* packet) = 0;
  // Decodes a video packet into facts().width x facts().height words 0x00RRGGBB, rows of width
  // words: 0 with the picture's time stamp (-1.0 when the decoder knows none), kNoFrame, or an
  // error code.
  virtual int32_t DecodeVideo(const qvVideoPacket& packet, uint32_t* pixels, double* timeStamp) = 0;
  // Decodes a sound packet into 16-bit native-endian PCM, facts().channels interleaved at
  // facts().frequency, at most `capacity` bytes: 0 with the bytes written, or an error code.
  virtual int32_t DecodeAudio(const qvVideoPacket& packet, int16_t* out, uint32_t capacity,
                              uint32_t* bytes) = 0;
  // Positions the source so that the next packets are those of `ms` milliseconds (clamped into
  // the video): 0 or an error code.
  virtual int32_t Seek(int64_t ms) = 0;
  // Forget what the decoders hold after a seek.
  virtual void FlushAudio() {}
  virtual void FlushVideo() {}
  virtual int32_t FrameCount() const { return facts_.frameCount; }
  virtual const char* FormatName() const = 0;

 protected:
  qvVideoFacts facts_;
};

// Opens `name` with the first source that takes it. 0; ERR_READFILE when the file does not open;
// ERR_LOADVIDEO when no source takes it (the name is the error's text); ERR_MEM.
int32_t OpenVideoSource(const char* name, std::unique_ptr<qvVideoSource>* out);

}  // namespace qv
