// Decoding of compressed sound files (MPEG audio, Ogg Vorbis, FLAC, ... whatever the system's
// FFmpeg understands) to 16-bit interleaved PCM at the file's own rate. The file is read through
// the caller's callbacks, so files inside the applet need no temporary copy.
//
// A decoder opened for streaming decodes ahead on its own thread into a ring of 3 seconds and
// pauses at 2 seconds; reads take from the ring. Otherwise reads decode on the caller's thread.
// One thread at a time may call a decoder's functions.
#pragma once

#include <cstdint>

namespace qv {

struct qvAudioDecoder;

// The caller's file. read: bytes read, 0 at the end, -1 on error. seek: whence 0 from the start,
// 1 from the current position, 2 from the end; the new position or -1.
struct qvDecoderIo {
  void* handle;
  int32_t (*read)(void* handle, uint8_t* buffer, int32_t size);
  int64_t (*seek)(void* handle, int64_t offset, int whence);
  int64_t size;  // bytes, -1 unknown
};

struct qvDecoderFormat {
  int32_t rate;
  int32_t channels;  // 1 or 2 (more are mixed down to 2)
  int64_t frames;    // from the duration; -1 unknown
  int32_t bitRate;   // kbit/s, 0 unknown
};

// The stages of opening, the number that ERR_DIRECTSHOW carries.
enum DecoderStage : int32_t {
  kStageIo = 1,          // the I/O context
  kStageProbe = 2,       // reading the container
  kStageStreamInfo = 3,  // finding the streams
  kStageCodec = 4,       // opening the audio codec
  kStageResampler = 5,   // the conversion to 16-bit PCM
};

// 0 with *out and *format; ERR_OPENSOUND when the data is no sound file the decoder knows (no
// audio stream); ERR_DIRECTSHOW with the failing stage stored as the error's number; ERR_MEM.
// The io record is copied; its handle must stay valid until CloseAudioDecoder.
int32_t OpenAudioDecoder(const qvDecoderIo& io, bool streaming, qvAudioDecoder** out,
                         qvDecoderFormat* format);
// Up to `frames` frames into `out`; *end set when the stream has ended (once per end). A streaming
// decoder waits for the ring, or returns early with what it has when StopAudioDecoderWait is
// called.
int32_t ReadAudioDecoder(qvAudioDecoder* decoder, int16_t* out, int32_t frames, bool* end);
// Exact: the next read starts at `frame`. 0, or ERR_SEEK.
int32_t SeekAudioDecoder(qvAudioDecoder* decoder, int64_t frame);
// Makes a waiting ReadAudioDecoder return at once (any thread).
void StopAudioDecoderWait(qvAudioDecoder* decoder);
void CloseAudioDecoder(qvAudioDecoder* decoder);

}  // namespace qv
