// Sound streams: detection, the IFF 8SVX, IFF 16SV and RIFF WAVE readers, decoded files and the
// custom stream that the script feeds.
#include "media/sound_stream.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "base/errors.h"
#include "core/plugins.h"
#include "core/vfile.h"
#include "media/pcm_sample.h"
#include "media/tracker.h"
#include "platform/audio_decoder.h"
#include "platform/sync.h"

namespace qv {

namespace {

bool ReadId(qvFile* file, char id[4]) { return ReadFileQ(file, id, 4) == 4; }

// Bytes of the file from `offset` to its end (0 when unknown or past it).
int64_t BytesAfter(qvFile* file, int64_t offset) {
  if (file->length < 0 || offset >= file->length) return 0;
  return file->length - offset;
}

// The chunk walk shared by 8SVX and 16SV, from offset 12 on: the voice header, then chunks up to
// "BODY". Sizes of odd length are followed by a pad byte.
bool OpenIff(qvFile* file, qvSampleStream* s, int bits) {
  SeekFileQ(file, 16, kSeekStart);
  if (ReadU32BE(file) != 20) return false;
  SeekFileQ(file, 32, kSeekStart);
  uint32_t frequency = ReadU16BE(file);
  SeekFileQ(file, 35, kSeekStart);
  int compression = ReadByteQ(file);
  if (compression != 0) return false;
  int64_t pos = 40;
  uint32_t chan = 0;
  while (true) {
    SeekFileQ(file, pos, kSeekStart);
    char id[4];
    if (!ReadId(file, id)) return false;
    uint8_t sizeBytes[4];
    if (ReadFileQ(file, sizeBytes, 4) != 4) return false;
    uint32_t size = (uint32_t{sizeBytes[0]} << 24) | (uint32_t{sizeBytes[1]} << 16) |
                    (uint32_t{sizeBytes[2]} << 8) | sizeBytes[3];
    pos += 8;
    if (std::memcmp(id, "BODY", 4) == 0) {
      int channels = chan == 6 ? 2 : 1;
      int64_t avail = BytesAfter(file, pos);
      int64_t body = std::min<int64_t>(size, avail);
      int frameSize = channels * bits / 8;
      s->bits = bits;
      s->channels = channels;
      s->frameSize = frameSize;
      s->flags = bits == 16 ? kPcmSigned : 0;
      s->frequency = static_cast<int32_t>(frequency);
      s->compression = 0;
      s->frames = body / frameSize;
      s->framesOpened = s->frames;
      s->dataOffset = pos;
      s->dataSize = s->frames * frameSize;
      s->position = 0;
      return true;
    }
    if (std::memcmp(id, "CHAN", 4) == 0 && size >= 4) chan = ReadU32BE(file);
    pos += int64_t{size} + (size & 1);
    if (file->length >= 0 && pos > file->length) return false;
  }
}

// Reads `frames` frames of a left-then-right IFF body into interleaved order; returns the frames
// that came.
int32_t ReadIffFrames(qvSampleStream* s, uint8_t* out, int32_t frames, bool* end) {
  int64_t left = std::max<int64_t>(s->frames - s->position, 0);
  if (frames > left) {
    frames = static_cast<int32_t>(left);
    if (end) *end = true;
  }
  if (frames <= 0) return 0;
  int bytesPerValue = s->bits / 8;
  size_t run = static_cast<size_t>(frames) * static_cast<size_t>(bytesPerValue);
  if (s->channels == 1) {
    SeekFileQ(s->file, s->dataOffset + s->position * bytesPerValue, kSeekStart);
    size_t got = ReadFileQ(s->file, out, run);
    frames = static_cast<int32_t>(got / static_cast<size_t>(bytesPerValue));
  } else {
    try {
      if (s->staging.size() < run) s->staging.resize(run);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    for (int ch = 0; ch < 2; ch++) {
      int64_t offset = s->dataOffset + (ch * s->frames + s->position) * bytesPerValue;
      SeekFileQ(s->file, offset, kSeekStart);
      size_t got = ReadFileQ(s->file, s->staging.data(), run);
      if (got < run) std::memset(s->staging.data() + got, 0, run - got);
      for (int32_t i = 0; i < frames; i++) {
        for (int b = 0; b < bytesPerValue; b++) {
          out[(2 * i + ch) * bytesPerValue + b] =
              s->staging[static_cast<size_t>(i) * bytesPerValue + b];
        }
      }
    }
  }
  size_t values = static_cast<size_t>(frames) * static_cast<size_t>(s->channels);
  if (s->bits == 8) {
    for (size_t i = 0; i < values; i++) out[i] = static_cast<uint8_t>(out[i] + 128);
  } else {
    for (size_t i = 0; i < values; i++) std::swap(out[2 * i], out[2 * i + 1]);
  }
  return frames;
}

int32_t ReadWaveFrames(qvSampleStream* s, uint8_t* out, int32_t frames, bool* end) {
  int64_t left = std::max<int64_t>(s->frames - s->position, 0);
  if (frames > left) {
    frames = static_cast<int32_t>(left);
    if (end) *end = true;
  }
  if (frames <= 0) return 0;
  SeekFileQ(s->file, s->dataOffset + s->position * s->frameSize, kSeekStart);
  size_t got = ReadFileQ(s->file, out, static_cast<size_t>(frames) * s->frameSize);
  return static_cast<int32_t>(got / static_cast<size_t>(s->frameSize));
}

int32_t CustomSilence(const qvCustomStream* c) {
  return c->bits == 16 || c->code == kPcm8MonoSigned || c->code == kPcm8StereoSigned ? 0 : 128;
}

int32_t ReadCustomFrames(qvSampleStream* s, uint8_t* out, int32_t frames, bool* end) {
  qvCustomStream* c = s->custom;
  int32_t done = 0;
  EnterLock(c->lock);
  for (qvMusicBufferNode* n = c->head; n != nullptr && done < frames; n = n->next) {
    if (n->done) continue;
    if (n->data == nullptr) {
      n->done = true;
      LeaveLock(c->lock);
      if (end) *end = true;
      return done;
    }
    uint32_t take = std::min<uint32_t>(n->frames - n->consumed,
                                       static_cast<uint32_t>(frames - done));
    std::memcpy(out + static_cast<size_t>(done) * c->frameSize,
                n->data + static_cast<size_t>(n->consumed) * c->frameSize,
                static_cast<size_t>(take) * c->frameSize);
    n->consumed += take;
    done += static_cast<int32_t>(take);
    if (n->consumed == n->frames) n->done = true;
  }
  LeaveLock(c->lock);
  // Starved: silence, and the full count, so that the music keeps its pace.
  std::memset(out + static_cast<size_t>(done) * c->frameSize, CustomSilence(c),
              static_cast<size_t>(frames - done) * c->frameSize);
  return frames;
}

void FreeNodes(qvMusicBufferNode* n) {
  while (n != nullptr) {
    qvMusicBufferNode* next = n->next;
    std::free(n);
    n = next;
  }
}

int32_t DecoderRead(void* handle, uint8_t* buffer, int32_t size) {
  return static_cast<int32_t>(
      ReadFileQ(static_cast<qvFile*>(handle), buffer, static_cast<size_t>(size)));
}

int64_t DecoderSeek(void* handle, int64_t offset, int whence) {
  auto* f = static_cast<qvFile*>(handle);
  int64_t target;
  if (whence == 0) {
    target = offset;
  } else if (whence == 1) {
    target = f->position + offset;
  } else {
    if (f->length < 0) return -1;
    target = f->length + offset;
  }
  if (target < 0 || (f->length >= 0 && target > f->length)) return -1;
  SeekFileQ(f, target, kSeekStart);
  return f->position;
}

}  // namespace

int32_t DetectSampleStream(const uint8_t* head, size_t size) {
  if (size < 12) return 0;
  if (std::memcmp(head, "FORM", 4) == 0) {
    if (std::memcmp(head + 8, "8SVX", 4) == 0) return kStream8svx;
    if (std::memcmp(head + 8, "16SV", 4) == 0) return kStream16sv;
  } else if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
    return kStreamWave;
  }
  return 0;
}

bool Open8svxFile(qvFile* file, qvSampleStream* stream) { return OpenIff(file, stream, 8); }
bool Open16svFile(qvFile* file, qvSampleStream* stream) { return OpenIff(file, stream, 16); }

bool OpenWaveFile(qvFile* file, qvSampleStream* s) {
  int64_t pos = 12;
  int32_t channels = 0, bits = 0;
  uint32_t frequency = 0;
  while (true) {
    SeekFileQ(file, pos, kSeekStart);
    char id[4];
    uint8_t sizeBytes[4];
    if (!ReadId(file, id) || ReadFileQ(file, sizeBytes, 4) != 4) return false;
    uint32_t size = sizeBytes[0] | (uint32_t{sizeBytes[1]} << 8) | (uint32_t{sizeBytes[2]} << 16) |
                    (uint32_t{sizeBytes[3]} << 24);
    pos += 8;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (size != 16) return false;
      if (ReadU16LE(file) != 1) return false;
      channels = ReadU16LE(file) == 2 ? 2 : 1;
      frequency = ReadU32LE(file);
      SeekFileQ(file, 6, kSeekCurrent);
      bits = ReadU16LE(file);
      if (bits != 8 && bits != 16) return false;
    } else if (std::memcmp(id, "data", 4) == 0) {
      if (frequency == 0 || bits == 0 || frequency > 0x7FFFFFFF) return false;
      int frameSize = bits * channels / 8;
      int64_t data = std::min<int64_t>(size, BytesAfter(file, pos));
      s->bits = bits;
      s->channels = channels;
      s->frameSize = frameSize;
      s->flags = bits == 16 ? kPcmSigned : 0;
      s->frequency = static_cast<int32_t>(frequency);
      s->frames = data / frameSize;
      s->framesOpened = s->frames;
      s->dataOffset = pos;
      s->dataSize = s->frames * frameSize;
      s->position = 0;
      return true;
    }
    pos += int64_t{size} + (size & 1);
    if (file->length >= 0 && pos > file->length) return false;
  }
}

namespace {

// The sound plugins in list order: the first that opens the file makes it a plugin stream. The
// layout is checked as the mixer needs it; a plugin that describes another is passed over.
bool OpenPluginStream(const char* name, qvSampleStream* s) {
  for (const qvPluginRecord* r = FirstPluginRecord(); r != nullptr; r = r->next) {
    if (r->handle == nullptr || (r->handle->capabilities & QV_CAP_SOUND) == 0) continue;
    const qvPluginInfo* info = r->handle->info;
    qvStreamFacts facts{};
    void* stream = info->openStream(name, &facts);
    if (stream == nullptr) continue;
    if ((facts.channels != 1 && facts.channels != 2) || (facts.bits != 8 && facts.bits != 16) ||
        facts.frequency == 0) {
      info->closeStream(stream);
      continue;
    }
    s->type = kStreamPlugin;
    s->plugin = info;
    s->pluginStream = stream;
    s->bits = static_cast<int32_t>(facts.bits);
    s->channels = static_cast<int32_t>(facts.channels);
    s->frameSize = s->bits / 8 * s->channels;
    s->flags = facts.flags & (kPcmBigEndian | kPcmSigned);
    s->frequency = static_cast<int32_t>(std::min<uint32_t>(facts.frequency, INT32_MAX));
    s->frames = facts.frames;
    s->framesOpened = facts.frames;
    s->dataSize = int64_t{facts.frames} * s->frameSize;
    s->seekable = (facts.flags & QV_STREAM_SEEKABLE) != 0;
    s->code = GetPcmFormatCode(s->bits, s->channels, s->flags);
    return true;
  }
  return false;
}

}  // namespace

int32_t OpenSampleFile(const char* name, bool music, qvSampleStream** out) {
  *out = nullptr;
  SetErrorString(GetDisplayName(name));
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  auto* s = new (std::nothrow) qvSampleStream{};
  if (s == nullptr) {
    CloseFileQ(file);
    return ERR_MEM;
  }
  s->seekable = true;
  s->music = music;
  if (OpenPluginStream(name, s)) {
    // The plugin reads the file itself.
    CloseFileQ(file);
    *out = s;
    return 0;
  }
  s->file = file;
  uint8_t head[64] = {};
  size_t got = ReadFileQ(file, head, sizeof head);
  s->type = DetectSampleStream(head, got);
  bool known = false;
  switch (s->type) {
    case kStream8svx:
      known = Open8svxFile(file, s);
      break;
    case kStream16sv:
      known = Open16svFile(file, s);
      break;
    case kStreamWave:
      known = OpenWaveFile(file, s);
      break;
    default:
      break;
  }
  if (known) {
    s->code = GetPcmFormatCode(s->bits, s->channels, s->flags);
    *out = s;
    return 0;
  }
  SeekFileQ(file, 0, kSeekStart);
  qvDecoderIo io{file, DecoderRead, DecoderSeek, file->length};
  qvDecoderFormat format{};
  int32_t code = OpenAudioDecoder(io, music, &s->decoder, &format);
  if (code != 0) {
    CloseFileQ(file);
    delete s;
    SetErrorString(GetDisplayName(name));
    return code;
  }
  s->type = kStreamDecoded;
  s->bits = 16;
  s->channels = format.channels;
  s->frameSize = 2 * format.channels;
  s->flags = kPcmSigned;
  s->frequency = format.rate;
  s->frames = format.frames;
  s->framesOpened = format.frames;
  s->dataSize = format.frames < 0 ? -1 : format.frames * s->frameSize;
  s->bitRate = format.bitRate;
  s->code = GetPcmFormatCode(16, format.channels, kPcmSigned);
  *out = s;
  return 0;
}

int32_t ReadSampleStream(qvSampleStream* s, void* buffer, int32_t frames, bool* end) {
  if (end) *end = false;
  if (s == nullptr || frames <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t got = 0;
  switch (s->type) {
    case kStream8svx:
    case kStream16sv:
      got = ReadIffFrames(s, out, frames, end);
      break;
    case kStreamWave:
      got = ReadWaveFrames(s, out, frames, end);
      break;
    case kStreamDecoded:
      got = ReadAudioDecoder(s->decoder, reinterpret_cast<int16_t*>(out), frames, end);
      break;
    case kStreamCustom:
      got = ReadCustomFrames(s, out, frames, end);
      break;
    case kStreamPlugin: {
      qvStreamRead read{out, static_cast<uint32_t>(frames), 0, 0};
      s->plugin->streamSamples(s->pluginStream, &read);
      got = static_cast<int32_t>(std::min(read.delivered, static_cast<uint32_t>(frames)));
      if (end != nullptr && read.end != 0) *end = true;
      break;
    }
    case kStreamModule:
      MixTrackerAudio(s->module, reinterpret_cast<int16_t*>(out), frames);
      got = frames;  // a module loops forever
      break;
    default:
      break;
  }
  s->position += got;
  s->lastFrames = got;
  s->lastBytes = got * s->frameSize;
  return got;
}

void SeekSampleStream(qvSampleStream* s, int64_t frame) {
  if (s == nullptr || frame < 0) return;
  switch (s->type) {
    case kStream8svx:
    case kStream16sv:
    case kStreamWave:
      if (frame < s->frames) s->position = frame;
      break;
    case kStreamDecoded:
      if (SeekAudioDecoder(s->decoder, frame) == 0) s->position = frame;
      break;
    case kStreamPlugin:
      s->plugin->seekStream(s->pluginStream, static_cast<uint32_t>(frame));
      s->position = frame;
      break;
    case kStreamModule:
      // The replayer has no time axis: only the start is a place to go to. Parsing again undoes
      // the funk effect's writes into the module's copy.
      if (frame == 0) {
        ParseTrackerModule(s->moduleImage.data(), s->moduleImage.size(), s->module);
        s->position = 0;
      }
      break;
    default:
      break;
  }
  if (s->frequency > 0) {
    s->seekTime.seconds = static_cast<uint32_t>(frame / s->frequency);
    s->seekTime.micros = static_cast<uint32_t>((frame % s->frequency) * 1000000 / s->frequency);
  }
}

void CloseSampleStream(qvSampleStream* s) {
  if (s == nullptr) return;
  if (s->pluginStream) s->plugin->closeStream(s->pluginStream);
  if (s->decoder) CloseAudioDecoder(s->decoder);
  delete s->module;
  if (s->file) CloseFileQ(s->file);
  if (s->custom) {
    FreeNodes(s->custom->head);
    DeleteLock(s->custom->lock);
    delete s->custom;
  }
  delete s;
}

const char* GetSampleFormatName(const qvSampleStream* s) {
  if (s == nullptr) return nullptr;
  switch (s->type) {
    case kStream8svx:
      return "IFF 8SVX";
    case kStream16sv:
      return "IFF 16SV";
    case kStreamWave:
      return "RIFF WAVE";
    case kStreamDecoded:
      return "DirectShow stream";
    case kStreamPlugin:
      return s->plugin->getFormatName(s->pluginStream);
    case kStreamCustom:
      return "Custom stream";
    case kStreamModule:
      return "Protracker";
    default:
      return nullptr;
  }
}

int32_t OpenModuleStream(std::vector<uint8_t> image, qvSampleStream** out) {
  *out = nullptr;
  auto* m = new (std::nothrow) qvTrackerModule{};
  if (m == nullptr) return ERR_MEM;
  int32_t err = ParseTrackerModule(image.data(), image.size(), m);
  if (err != 0) {
    delete m;
    return err;
  }
  auto* s = new (std::nothrow) qvSampleStream{};
  if (s == nullptr) {
    delete m;
    return ERR_MEM;
  }
  s->type = kStreamModule;
  s->module = m;
  s->moduleImage = std::move(image);
  s->bits = 16;
  s->channels = 2;
  s->frameSize = 4;
  s->flags = kPcmSigned;
  s->frequency = kTrackerOutputRate;
  s->code = GetPcmFormatCode(16, 2, kPcmSigned);
  s->dataSize = -1;
  s->frames = -1;
  s->framesOpened = -1;
  s->music = true;
  s->seekable = false;
  *out = s;
  return 0;
}

int32_t CreateCustomStream(qvScriptState* L, int32_t frequency, int32_t code,
                           qvSampleStream** out) {
  *out = nullptr;
  auto* s = new (std::nothrow) qvSampleStream{};
  auto* c = new (std::nothrow) qvCustomStream{};
  if (s == nullptr || c == nullptr) {
    delete s;
    delete c;
    return ERR_MEM;
  }
  c->lock = CreateLock();
  if (c->lock == nullptr) {
    delete s;
    delete c;
    return ERR_SEMAPHORE;
  }
  c->L = L;
  c->frequency = frequency;
  c->channels = PcmChannels(code);
  c->bits = PcmBits(code);
  c->frameSize = GetPcmFrameSize(code);
  c->code = code;
  s->custom = c;
  s->type = kStreamCustom;
  s->bits = c->bits;
  s->channels = c->channels;
  s->frameSize = c->frameSize;
  s->flags = c->bits == 16 || code == kPcm8MonoSigned || code == kPcm8StereoSigned ? kPcmSigned : 0;
  s->frequency = frequency;
  s->frames = -1;
  s->framesOpened = -1;
  s->dataSize = -1;
  s->code = code;
  s->seekable = false;
  s->music = true;
  *out = s;
  return 0;
}

int32_t QueueCustomFrames(qvSampleStream* s, const void* data, uint32_t frames) {
  qvCustomStream* c = s->custom;
  size_t bytes = data ? static_cast<size_t>(frames) * c->frameSize : 0;
  auto* n = static_cast<qvMusicBufferNode*>(std::malloc(sizeof(qvMusicBufferNode) + bytes));
  if (n == nullptr) return ERR_MEM;
  n->next = nullptr;
  n->data = data ? reinterpret_cast<uint8_t*>(n + 1) : nullptr;
  if (data) std::memcpy(n->data, data, bytes);
  n->bytes = static_cast<uint32_t>(bytes);
  n->consumed = 0;
  n->frames = data ? frames : 0;
  n->done = false;
  EnterLock(c->lock);
  while (c->head != nullptr && c->head->done) {
    qvMusicBufferNode* dead = c->head;
    c->head = dead->next;
    std::free(dead);
  }
  qvMusicBufferNode** tail = &c->head;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = n;
  c->queued += n->frames;
  LeaveLock(c->lock);
  return 0;
}

int64_t CustomFramesLeft(qvSampleStream* s) {
  qvCustomStream* c = s->custom;
  int64_t left = 0;
  EnterLock(c->lock);
  for (qvMusicBufferNode* n = c->head; n != nullptr; n = n->next) {
    if (!n->done) left += n->frames - n->consumed;
  }
  LeaveLock(c->lock);
  return left;
}

void ClearCustomStream(qvSampleStream* s) {
  qvCustomStream* c = s->custom;
  EnterLock(c->lock);
  FreeNodes(c->head);
  c->head = nullptr;
  LeaveLock(c->lock);
}

}  // namespace qv
