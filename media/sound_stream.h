// Sound streams: every sound file the player reads, whole as a sample or from disk as music, is
// opened as a stream that knows its PCM layout and delivers little-endian interleaved frames on
// request. Sound plugins are asked first; then built-in readers for IFF 8SVX, IFF 16SV and RIFF
// WAVE; every other file goes to the platform's decoder; a custom stream carries PCM that the
// script queues itself.
//
// A stream is used by one thread at a time (the script thread while loading, the music stream
// thread while playing), except the custom stream's buffer list, which has its own lock.
#pragma once

#include <cstdint>
#include <vector>

#include "base/support.h"  // qvTimeVal

namespace qv {

struct qvFile;
struct qvLock;
struct qvAudioDecoder;
struct qvScriptState;
struct qvTrackerModule;
struct qvPluginInfo;

enum SampleStreamType : int32_t {
  kStream8svx = 1,
  kStream16sv = 2,
  kStreamWave = 3,
  kStreamDecoded = 4,  // the platform's decoder
  kStreamPlugin = 5,
  kStreamCustom = 6,
  kStreamModule = 7,  // a tracker module rendered by the replayer
};

// One queued piece of a custom stream; a node without data is the end marker.
struct qvMusicBufferNode {
  qvMusicBufferNode* next;
  uint8_t* data;  // follows the node in the same block; null for the end marker
  uint32_t bytes;
  uint32_t consumed;  // frames
  uint32_t frames;
  bool done;
};

struct qvCustomStream {
  qvScriptState* L;
  qvLock* lock;  // guards the list and the counts
  qvMusicBufferNode* head;
  int32_t frequency;
  int32_t bits;
  int32_t channels;
  int32_t frameSize;
  int32_t code;
  int64_t queued;  // frames queued so far
  bool reset;
};

struct qvSampleStream {
  qvFile* file;             // built-in readers
  qvAudioDecoder* decoder;  // kStreamDecoded
  int32_t bits;
  int32_t frameSize;
  int32_t channels;
  uint32_t flags;  // kPcmBigEndian, kPcmSigned
  int32_t frequency;
  int32_t compression;
  int64_t dataSize;  // -1 unknown
  int64_t frames;    // -1 unknown
  int64_t framesOpened;
  int64_t position;  // current frame
  int64_t dataOffset;
  int32_t lastBytes;
  int32_t lastFrames;
  int32_t type;
  int32_t code;
  int32_t bitRate;  // kbit/s from the source; 0: compute it
  std::vector<uint8_t> staging;
  qvTimeVal seekTime;
  bool music;
  bool seekable;
  qvCustomStream* custom;
  const qvPluginInfo* plugin;  // kStreamPlugin: the sound plugin and its stream handle
  void* pluginStream;
  qvTrackerModule* module;           // kStreamModule
  std::vector<uint8_t> moduleImage;  // the file as read, parsed again to start over
};

// Opens a sound file: 0 with *out, or ERR_READFILE (the name kept as the message argument) when
// it does not open, ERR_MEM, or the decoder's error (ERR_OPENSOUND when nothing understands it).
int32_t OpenSampleFile(const char* name, bool music, qvSampleStream** out);
// The built-in type the first 64 bytes announce (1-3), or 0.
int32_t DetectSampleStream(const uint8_t* head, size_t size);
// Delivers up to `frames` frames into `buffer`; *end (when given) is set when the stream ended.
int32_t ReadSampleStream(qvSampleStream* stream, void* buffer, int32_t frames, bool* end);
// Moves to `frame` (built-in readers: only below the frame count).
void SeekSampleStream(qvSampleStream* stream, int64_t frame);
void CloseSampleStream(qvSampleStream* stream);
const char* GetSampleFormatName(const qvSampleStream* stream);

// Built-in readers over an open file (its position anywhere): true when recognised, with the
// layout filled in.
bool Open8svxFile(qvFile* file, qvSampleStream* stream);
bool Open16svFile(qvFile* file, qvSampleStream* stream);
bool OpenWaveFile(qvFile* file, qvSampleStream* stream);

// A tracker module as an endless 16-bit stereo stream at 48000 Hz, from the whole file: 0,
// ERR_UNKNOWNMUSFMT (too short for its patterns) or ERR_MEM. Seeking to frame 0 starts it over;
// other seeks keep its place.
int32_t OpenModuleStream(std::vector<uint8_t> image, qvSampleStream** out);

// A custom stream for music that the script feeds: 0, ERR_SEMAPHORE or ERR_MEM.
int32_t CreateCustomStream(qvScriptState* L, int32_t frequency, int32_t code, qvSampleStream** out);
// Appends a node of `frames` frames copied from `data` (null: an end marker). Finished nodes at the
// head are dropped. 0 or ERR_MEM. Any thread.
int32_t QueueCustomFrames(qvSampleStream* stream, const void* data, uint32_t frames);
// Frames queued and not yet read. Any thread.
int64_t CustomFramesLeft(qvSampleStream* stream);
// Drops every queued node. Any thread.
void ClearCustomStream(qvSampleStream* stream);

}  // namespace qv
