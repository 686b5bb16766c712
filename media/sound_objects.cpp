// Samples and music as script objects, the playing and paused music, and the runtime's hooks.
#include "media/sound_objects.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/events.h"
#include "core/vfile.h"
#include "media/audio_channels.h"
#include "media/pcm_sample.h"
#include "media/sound_stream.h"
#include "media/tracker.h"

namespace qv {

namespace {

constexpr uint32_t kTagNoSound = 3;
constexpr uint32_t kTagSoundValue = 4;
constexpr uint32_t kTagSampleLoop = 13;
constexpr uint32_t kTagSampleEnd = 14;
constexpr uint32_t kTagMusicEnd = 19;
constexpr uint32_t kTagVideoEnd = 24;
constexpr int kTickSlot = 0;

struct SoundState {
  qvObjectHeader* samples = nullptr;
  qvObjectHeader* musics = nullptr;
  qvMusic* playing = nullptr;
  qvMusic* paused = nullptr;
  bool unavailable = false;
  intptr_t deviceValue = 0;
  bool insideCallback = false;
  bool tickHeld = false;
  qvScriptState* L = nullptr;
  qvFillMusicRunner fillRunner = nullptr;
  void* fillContext = nullptr;
};
SoundState gs;

int HandleSoundTag(void*, uint32_t tag, intptr_t value) {
  switch (tag) {
    case kTagNoSound:
      gs.unavailable = value != 0;
      return 1;
    case kTagSoundValue:
      gs.deviceValue = value;
      return 1;
    case kTagSampleLoop:
      EnableSoundEvent("onsampleloop", value != 0);
      return 1;
    case kTagSampleEnd:
      EnableSoundEvent("onsampleend", value != 0);
      return 1;
    case kTagMusicEnd:
      EnableSoundEvent("onmusicend", value != 0);
      return 1;
    case kTagVideoEnd:
      EnableSoundEvent("onvideoend", value != 0);
      return 1;
    default:
      return 0;
  }
}

}  // namespace

int SampleAttributeWords(const qvSample* s, uint32_t tag, intptr_t* out) {
  {
    const qvPcmSample* pcm = s->pcm;
    switch (tag) {
      case 8:
        *out = PcmToScriptFormat(s->code);
        return 1;
      case 9: {
        // Whole frames, then milliseconds truncated.
        uint32_t frames = s->bytes / static_cast<uint32_t>(pcm->frameSize);
        *out = static_cast<intptr_t>(static_cast<double>(frames) / s->frequency * 1000.0);
        return 1;
      }
      case 10:
        *out = s->frequency;
        return 1;
      case 17: {
        int32_t ms = -1, passes = -1;
        if (IsAudioDeviceOpen()) GetSampleChannelPosition(pcm, &ms, &passes);
        out[0] = ms;
        out[1] = passes;
        return 1;
      }
      case 25:
        *out = pcm->frames;
        return 1;
      default:
        return 0;
    }
  }
  return 0;
}

int MusicAttributeWords(const qvMusic* m, uint32_t tag, intptr_t* out) {
  {
    if (m->kind == kMusicModule) {
      switch (tag) {
        case 18:
          out[1] = reinterpret_cast<intptr_t>("Protracker");
          return 1;
        case 21:
          *out = kTrackerOutputRate;
          return 1;
        case 22:
          *out = PcmToScriptFormat(m->stream->code);
          return 1;
        case 15:
        case 16:
        case 20:
        case 26:
          *out = -1;  // no time axis
          return 1;
        default:
          return 0;
      }
    }
    switch (tag) {
      case 15:
        *out = MusicLengthMs(m);
        return 1;
      case 16:
        *out = MusicPositionMs(m);
        return 1;
      case 18:
        out[1] = reinterpret_cast<intptr_t>(GetSampleFormatName(m->stream));
        return 1;
      case 20:
        *out = MusicBitRate(m);
        return 1;
      case 21:
        *out = m->stream->frequency;
        return 1;
      case 22:
        *out = PcmToScriptFormat(m->stream->code);
        return 1;
      case 26:
        *out = m->seekable ? 1 : 0;
        return 1;
      default:
        return 0;
    }
  }
  return 0;
}

// The attribute query passes the object's id as context; the answer goes to out[0] (and out[1]).
int GetSoundAttribute(void* context, uint32_t tag, intptr_t* out) {
  if (context == nullptr || tag < 8 || tag > 26) return 0;
  qvObjectId id = *static_cast<const qvObjectId*>(context);
  if (const qvSample* s = FindSample(id)) return SampleAttributeWords(s, tag, out);
  if (const qvMusic* m = FindMusic(id)) return MusicAttributeWords(m, tag, out);
  return 0;
}

namespace {

int32_t MusicBufferNeed(qvObjectId* id, int32_t* count) {
  ReapEndedMusic();
  qvMusic* m = gs.playing;
  if (m == nullptr || !m->custom) return 0;
  int64_t left = CustomFramesLeft(m->stream);
  int32_t frequency = m->stream->frequency;
  if (left >= frequency) return 0;
  *id = {m->header.id, m->header.handle};
  *count = static_cast<int32_t>(m->stream->custom->queued);
  return static_cast<int32_t>(frequency - left);
}

int NextSoundEvent(int32_t* type, qvObjectId* id, int32_t* time, int32_t* starts) {
  ReapEndedMusic();
  return GetSoundEvent(type, id, time, starts);
}

void FreeMusicRecord(qvScriptState* L, qvMusic* m) {
  CloseSampleStream(m->stream);
  FreeObjectData(L, &m->header);
  delete m;
}

void Append(qvObjectHeader** list, qvObjectHeader* h) {
  while (*list) list = &(*list)->next;
  *list = h;
}

bool Unlink(qvObjectHeader** list, qvObjectHeader* h) {
  for (; *list; list = &(*list)->next) {
    if (*list == h) {
      *list = h->next;
      return true;
    }
  }
  return false;
}

void SetTick(qvScriptState* L, bool on) {
  if (on == gs.tickHeld) return;
  if (on) {
    if (AcquireTickTimer(L, kTickSlot) == 0) gs.tickHeld = true;
  } else {
    ReleaseTickTimer(L, kTickSlot);
    gs.tickHeld = false;
  }
}

}  // namespace

int32_t OpenSoundObjects() {
  gs = SoundState{};
  int32_t err = RegisterObjectList(&gs.samples);
  if (err == 0) err = RegisterObjectList(&gs.musics);
  if (err == 0) err = AddSetAttrHandler(HandleSoundTag);
  if (err == 0) err = AddGetAttrHandler(GetSoundAttribute);
  if (err == 0) err = RegisterSoundAttributes();
  if (err != 0) return err;
  qvEventSources sources = GetEventSources();
  sources.musicBufferNeed = MusicBufferNeed;
  sources.soundEvent = NextSoundEvent;
  sources.musicCallback = SetInsideMusicCallback;
  SetEventSources(&sources);
  return InitAudio();
}

void StopAllSounds() {
  if (!IsAudioDeviceOpen()) return;
  if (gs.playing && gs.playing->stream) {
    int32_t pass;
    int64_t pos;
    StopStreamChannel(gs.playing->stream, false, &pass, &pos);
    gs.playing = nullptr;
  }
  StopSampleChannels(nullptr);
}

void FreeAllSounds(qvScriptState* L) {
  StopAllSounds();
  ShutdownAudio();  // every channel stops before its sample or stream goes
  while (gs.samples) {
    auto* s = reinterpret_cast<qvSample*>(gs.samples);
    gs.samples = s->header.next;
    FreePcmSample(s->pcm);
    FreeObjectData(L, &s->header);
    delete s;
  }
  while (gs.musics) {
    auto* m = reinterpret_cast<qvMusic*>(gs.musics);
    gs.musics = m->header.next;
    FreeMusicRecord(L, m);
  }
  if (gs.tickHeld && L) ReleaseTickTimer(L, kTickSlot);
  gs = SoundState{};
  qvEventSources sources = GetEventSources();
  sources.musicBufferNeed = nullptr;
  sources.soundEvent = nullptr;
  sources.musicCallback = nullptr;
  SetEventSources(&sources);
}

bool IsSoundUnavailable() { return gs.unavailable; }

bool EnsureAudioDevice() {
  if (gs.unavailable) return false;
  if (OpenAudioDevice() != 0) {
    gs.unavailable = true;
    return false;
  }
  return true;
}

qvSample* FindSample(qvObjectId id) {
  return reinterpret_cast<qvSample*>(FindObject(kObjectSample, id));
}

int32_t FindSampleOrError(qvObjectId id, qvSample** out) {
  *out = FindSample(id);
  if (*out) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return ERR_FINDSAMPLE;
}

int32_t AddSample(qvScriptState* L, qvOptionalId id, qvPcmSample* pcm, int32_t frequency,
                  int32_t code, qvSample** out) {
  if (!id.automatic && FindSample({id.number, nullptr})) FreeSample(L, {id.number, nullptr});
  auto* s = new (std::nothrow) qvSample{};
  if (s == nullptr) {
    FreePcmSample(pcm);
    return ERR_MEM;
  }
  s->header.type = kObjectSample;
  s->header.id = id.automatic ? 0 : id.number;
  s->header.handle = id.automatic ? s : nullptr;
  s->pcm = pcm;
  s->volume = 64;
  s->panning = 128;
  s->frequency = frequency;
  s->code = code;
  s->bytes = pcm->frames * static_cast<uint32_t>(pcm->frameSize);
  Append(&gs.samples, &s->header);
  *out = s;
  return 0;
}

int32_t FreeSample(qvScriptState* L, qvObjectId id) {
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  StopSampleChannels(s->pcm);
  Unlink(&gs.samples, &s->header);
  FreePcmSample(s->pcm);
  FreeObjectData(L, &s->header);
  delete s;
  return 0;
}

qvMusic* FindMusic(qvObjectId id) {
  return reinterpret_cast<qvMusic*>(FindObject(kObjectMusic, id));
}

int32_t FindMusicOrError(qvObjectId id, qvMusic** out) {
  *out = FindMusic(id);
  if (*out) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return ERR_FINDMUSIC;
}

namespace {

qvMusic* NewMusic(qvScriptState* L, qvOptionalId id, qvSampleStream* stream) {
  if (!id.automatic && FindMusic({id.number, nullptr})) CloseMusic(L, {id.number, nullptr});
  auto* m = new (std::nothrow) qvMusic{};
  if (m == nullptr) return nullptr;
  m->header.type = kObjectMusic;
  m->header.id = id.automatic ? 0 : id.number;
  m->header.handle = id.automatic ? m : nullptr;
  m->stream = stream;
  m->kind = kMusicStream;
  m->volume = 64;
  m->times = 1;
  m->pass = 1;
  m->seekable = stream->seekable;
  return m;
}

}  // namespace

int32_t OpenMusic(qvScriptState* L, qvOptionalId id, const char* file, qvMusic** out) {
  SetErrorString(GetDisplayName(file));
  qvFile* f = OpenFileQ(file, kFileRead);
  if (f == nullptr) return ERR_READFILE;
  char tag[4] = {};
  SeekFileQ(f, 1080, kSeekStart);
  bool module = ReadFileQ(f, tag, 4) == 4 && std::memcmp(tag, "M.K.", 4) == 0;
  if (module) {
    // The replayer works on the whole file, kept to start over.
    int64_t size = f->length;
    std::vector<uint8_t> image;
    try {
      image.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    } catch (const std::bad_alloc&) {
      CloseFileQ(f);
      return ERR_MEM;
    }
    SeekFileQ(f, 0, kSeekStart);
    size_t got = ReadFileQ(f, image.data(), image.size());
    CloseFileQ(f);
    if (got != image.size()) return ERR_READ;
    qvSampleStream* stream = nullptr;
    int32_t err = OpenModuleStream(std::move(image), &stream);
    if (err != 0) return err;
    qvMusic* m = NewMusic(L, id, stream);
    if (m == nullptr) {
      CloseSampleStream(stream);
      return ERR_MEM;
    }
    m->kind = kMusicModule;
    m->times = 0;
    Append(&gs.musics, &m->header);
    *out = m;
    return 0;
  }
  CloseFileQ(f);
  qvSampleStream* stream = nullptr;
  int32_t err = OpenSampleFile(file, true, &stream);
  if (err == ERR_OPENSOUND) return ERR_UNKNOWNMUSFMT;
  if (err != 0) return err;
  qvMusic* m = NewMusic(L, id, stream);
  if (m == nullptr) {
    CloseSampleStream(stream);
    return ERR_MEM;
  }
  Append(&gs.musics, &m->header);
  *out = m;
  return 0;
}

int32_t CreateFedMusic(qvScriptState* L, qvOptionalId id, int32_t frequency, int32_t code,
                       qvMusic** out) {
  qvSampleStream* stream = nullptr;
  int32_t err = CreateCustomStream(L, frequency, code, &stream);
  if (err != 0) return err;
  qvMusic* m = NewMusic(L, id, stream);
  if (m == nullptr) {
    CloseSampleStream(stream);
    return ERR_MEM;
  }
  m->custom = true;
  m->seekable = false;
  Append(&gs.musics, &m->header);
  *out = m;
  return 0;
}

int32_t CloseMusic(qvScriptState* L, qvObjectId id) {
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  if (gs.insideCallback && m == gs.playing && m->custom) return ERR_NOCALLBACK;
  Unlink(&gs.musics, &m->header);
  if (m == gs.playing) {
    int32_t pass;
    int64_t pos;
    StopStreamChannel(m->stream, false, &pass, &pos);
    gs.playing = nullptr;
    if (m->custom) SetTick(L, false);
  }
  if (m == gs.paused) gs.paused = nullptr;
  FreeMusicRecord(L, m);
  return 0;
}

int32_t StopPlayingMusic(qvScriptState* L, bool pause) {
  if (gs.insideCallback) return ERR_NOCALLBACK;
  ReapEndedMusic();
  qvMusic* m = gs.playing;
  if (m == nullptr) return 0;
  int32_t pass = 1;
  int64_t pos = 0;
  StopStreamChannel(m->stream, pause, &pass, &pos);
  if (pause) {
    m->pass = pass;
    m->position = pos;
    gs.paused = m;
  } else {
    m->pass = 1;
    m->position = 0;
    gs.paused = nullptr;
  }
  m->paused = pause;
  gs.playing = nullptr;
  if (m->custom) SetTick(L, false);
  return 0;
}

int32_t StartMusic(qvScriptState* L, qvMusic* m) {
  if (gs.insideCallback) return ERR_NOCALLBACK;
  gs.L = L;
  StopPlayingMusic(L, false);  // the stream stands where this music was stopped, paused or sought
  if (m->custom && m->stream->custom->reset) {
    m->stream->custom->reset = false;
    ClearCustomStream(m->stream);
    int32_t err = RunFillMusicHandler(L, m, m->stream->frequency * 2);
    if (err != 0) return err;
  }
  int32_t err = StartStreamChannel(m->stream, {m->header.id, m->header.handle}, m->times, m->pass,
                                   m->volume);
  if (err != 0) return err;
  gs.playing = m;
  gs.paused = nullptr;
  m->paused = false;
  if (m->custom) SetTick(L, true);
  return 0;
}

qvMusic* PlayingMusic() {
  ReapEndedMusic();
  return gs.playing;
}
qvMusic* PausedMusic() { return gs.paused; }

int32_t SeekMusic(qvScriptState* L, qvMusic* m, int32_t ms) {
  if (!m->seekable) return ERR_SEEKFORMAT;
  int32_t length = MusicLengthMs(m);
  if (ms < 0 || ms >= length) return ERR_SEEKRANGE;
  bool wasPlaying = m == PlayingMusic();
  if (wasPlaying) {
    int32_t err = StopPlayingMusic(L, true);
    if (err != 0) return err;
  }
  int64_t frame = static_cast<int64_t>(ms) * m->stream->frequency / 1000;
  SeekSampleStream(m->stream, frame);
  m->position = m->stream->position;
  if (wasPlaying) return StartMusic(L, m);
  return 0;
}

int32_t ControlModulePosition(int32_t code, int32_t value) {
  qvMusic* m = PlayingMusic();
  if (m == nullptr || m->kind != kMusicModule) return -1;
  qvTrackerModule* t = m->stream->module;
  switch (code) {
    case kModuleJump:
      t->jumpRequest.store(value << 8, std::memory_order_release);
      return 0;
    case kModuleRow:
      return t->shownRow.load(std::memory_order_relaxed);
    case kModuleSongPosition:
      return t->shownPosition.load(std::memory_order_relaxed);
    case kModuleSongLength:
      return t->songLength;
    default:
      return -1;
  }
}

void SetMusicVolume(qvMusic* m, int32_t volume) {
  m->volume = volume;
  SetStreamChannelVolume(m->stream, volume);
}

int32_t MusicLengthMs(const qvMusic* m) {
  const qvSampleStream* s = m->stream;
  if (s->frequency <= 0) return 0;
  return static_cast<int32_t>(static_cast<double>(static_cast<uint32_t>(s->frames)) / s->frequency *
                              1000.0);
}

int32_t MusicPositionMs(const qvMusic* m) {
  const qvSampleStream* s = m->stream;
  if (s->frequency <= 0) return 0;
  int64_t frame = GetStreamChannelPosition(s);
  if (frame < 0) frame = m->paused ? m->position : s->position;
  return static_cast<int32_t>(static_cast<double>(frame) / s->frequency * 1000.0);
}

int32_t MusicBitRate(const qvMusic* m) {
  const qvSampleStream* s = m->stream;
  if (s->bitRate > 0) return s->bitRate;
  return s->frequency * s->frameSize / 1024 * 8;
}

void ReapEndedMusic() {
  qvSampleStream* ended[kAudioChannels];
  int n = ReapEndedStreams(ended, kAudioChannels);
  for (int i = 0; i < n; i++) {
    for (qvObjectHeader* h = gs.musics; h; h = h->next) {
      auto* m = reinterpret_cast<qvMusic*>(h);
      if (m->stream != ended[i]) continue;
      m->pass = 1;
      m->position = 0;
      if (m == gs.playing) {
        gs.playing = nullptr;
        if (m->custom && gs.L) SetTick(gs.L, false);
      }
    }
  }
}

void SetInsideMusicCallback(bool inside) { gs.insideCallback = inside; }
bool InsideMusicCallback() { return gs.insideCallback; }

void SetFillMusicRunner(qvFillMusicRunner run, void* context) {
  gs.fillRunner = run;
  gs.fillContext = context;
}

int32_t RunFillMusicHandler(qvScriptState* L, qvMusic* m, int32_t frames) {
  gs.L = L;
  if (gs.fillRunner == nullptr) return ERR_NOFMBHANDLER;
  SetInsideMusicCallback(true);
  int32_t status = gs.fillRunner(gs.fillContext, L, m, frames);
  SetInsideMusicCallback(false);
  return status;
}

}  // namespace qv
