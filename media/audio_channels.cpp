// The channel table, the sound-event queue and the music stream threads over the mixer.
#include "media/audio_channels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "base/errors.h"
#include "media/pcm_sample.h"
#include "media/sound_stream.h"
#include "platform/audio_decoder.h"
#include "platform/loop.h"
#include "platform/loop_hosts.h"
#include "platform/mixer.h"
#include "platform/tasks.h"
#include "platform/time.h"

namespace qv {

namespace {

enum ChannelState : int32_t {
  kChannelFree = 0,
  kChannelPrepared = 1,
  kChannelSample = 2,
  kChannelModule = 3,
  kChannelStream = 4,
};

// Frames of the stream that a stretch of the buffer's written frames holds.
struct Segment {
  int64_t writeStart;
  int64_t streamFrame;
  int64_t count;
  int32_t pass;
};

// What a stream keeps decoded ahead of the mixer. The refill thread sleeps until half of the
// ring is free, so at least kStreamAheadMs lie ahead when it wakes: a stall of a busy machine
// shorter than that goes unheard; a longer one is heard as silence, and the stream goes on from
// there.
constexpr int kStreamAheadMs = 250;
constexpr int kStreamRingMs = 2 * kStreamAheadMs;
// A stream that gave less than the room (a script's feed) is asked again this often; the mixer's
// wake-up comes only after a write.
constexpr int kRefillPollMs = 10;
constexpr int32_t kRefillPieceFrames = 4096;

struct StreamPlayer {
  qvTask* task = nullptr;
  qvSampleStream* stream = nullptr;
  int channel = 0;
  qvSoundBuffer* buffer = nullptr;
  int32_t volume = 64;
  int32_t pass = 1;
  int32_t passesWanted = 1;
  // The refill thread's own.
  bool ended = false;  // the stream's end is written
  bool restarted = false;
  std::vector<uint8_t> piece;
  // Under the stream lock.
  int64_t written = 0;
  bool endWritten = false;
  std::deque<Segment> segments;
  int64_t highest = -1;
  int32_t highestPass = 0;
};

struct qvAudioChannel {
  qvPcmSample* sample;
  qvSampleStream* stream;
  void* module;
  int32_t state;
  qvObjectId id;
  int32_t passesWanted;
  int32_t pass;
  uint32_t lastPassFrames;
  int32_t lastPassMs;
  int32_t passMs;
  int64_t streamStart;
  int32_t volume;
  int32_t taken;
  int32_t frequency;
  qvSoundBuffer* buffer;
  uint32_t passEndsSeen;
  bool endPosted;
  StreamPlayer* player;
};

struct SoundEvent {
  int32_t kind;
  qvObjectId id;
  int32_t position;
  int32_t count;
};

struct AudioState {
  qvAudioChannel channels[kAudioChannels]{};
  qvSignal* signals[kAudioChannels]{};  // one per channel, for the life of the audio
  // The refill threads' wake-ups, one per channel: they too outlive every buffer, since the mixer
  // sets a signal after leaving its lock, when the thread that waited on it may be gone.
  qvSignal* roomSignals[kAudioChannels]{};
  qvLock* audioLock = nullptr;
  qvLock* streamLock = nullptr;
  qvLock* queueLock = nullptr;
  std::deque<SoundEvent>* queue = nullptr;
  bool enabled[4]{};  // loop, end, music end, video end
  bool deviceOpen = false;
};

AudioState g;
std::atomic<bool> gRefillsHeld{false};

class ChannelHost : public AudioHost {
 public:
  int CollectChannelSignals(qvSignal** out, int max) override {
    int n = 0;
    for (int i = 0; i < kAudioChannels && n < max; i++) {
      if (g.signals[i]) out[n++] = g.signals[i];
    }
    return n;
  }
  void OnChannelEvent(qvSignal*) override { ProcessAudioChannels(); }
};
ChannelHost gHost;

void ResetChannel(qvAudioChannel* ch) { *ch = qvAudioChannel{}; }

int EventIndex(int32_t kind) {
  switch (kind) {
    case kSoundEventSampleLoop:
      return 0;
    case kSoundEventSampleEnd:
      return 1;
    case kSoundEventMusicEnd:
      return 2;
    case kSoundEventVideoEnd:
      return 3;
    default:
      return -1;
  }
}

void PostIfEnabled(int32_t kind, qvObjectId id, int32_t passMs, int32_t count, int32_t remainder) {
  if (IsSoundEventEnabled(kind)) PostSoundEvent(kind, id, passMs, count, remainder);
}

// Audio lock held.
void EndSampleChannel(qvAudioChannel* ch) {
  PostIfEnabled(kSoundEventSampleEnd, ch->id, ch->passMs, ch->pass, ch->lastPassMs);
  ReleaseSoundBuffer(ch->buffer);
  ResetChannel(ch);
}

// Audio lock held: the pass ends and the stop that the sample's buffer reported.
void ProcessSampleChannel(qvAudioChannel* ch) {
  uint32_t passEnds = GetSoundBufferNotifyCount(ch->buffer, 0);
  uint32_t stops = GetSoundBufferNotifyCount(ch->buffer, 1);
  while (ch->passEndsSeen < passEnds) {
    ch->passEndsSeen++;
    if (ch->pass == ch->passesWanted) {
      EndSampleChannel(ch);
      return;
    }
    ch->pass++;
    PostIfEnabled(kSoundEventSampleLoop, ch->id, ch->passMs, ch->pass, 0);
  }
  if (stops > 0) EndSampleChannel(ch);
}

// The stream frame and pass heard at `consumed` written frames; stream lock held.
bool HeardAt(const StreamPlayer* p, int64_t consumed, int64_t* frame, int32_t* pass) {
  if (p->segments.empty()) return false;
  for (const Segment& s : p->segments) {
    if (consumed < s.writeStart + s.count) {
      int64_t into = std::max<int64_t>(consumed - s.writeStart, 0);
      *frame = s.streamFrame + into;
      *pass = s.pass;
      return true;
    }
  }
  const Segment& last = p->segments.back();
  *frame = last.streamFrame + last.count;
  *pass = last.pass;
  return true;
}

// Tops the stream's buffer up from the stream; writes the end once the last pass has ended.
// True when the buffer is full or the end is written, false when the stream had less to give.
bool Refill(StreamPlayer* p) {
  qvSampleStream* s = p->stream;
  auto frameSize = static_cast<size_t>(s->frameSize);
  while (!p->ended) {
    uint32_t room = GetStreamBufferRoom(p->buffer);
    if (room == 0) return true;
    int32_t want = static_cast<int32_t>(std::min<uint32_t>(room, kRefillPieceFrames));
    int64_t from = s->position;
    bool end = false;
    int32_t got = ReadSampleStream(s, p->piece.data(), want, &end);
    if (got > 0) {
      if (s->bits == 8 && (s->flags & kPcmSigned) != 0) {
        for (size_t i = 0; i < static_cast<size_t>(got) * frameSize; i++) {
          p->piece[i] = static_cast<uint8_t>(p->piece[i] + 128);
        }
      }
      EnterLock(g.streamLock);
      p->segments.push_back({p->written, from, got, p->pass});
      LeaveLock(g.streamLock);
      // Never short: this thread alone writes, so the room only grew since it was read.
      WriteStreamBuffer(p->buffer, p->piece.data(), static_cast<uint32_t>(got));
      EnterLock(g.streamLock);
      p->written += got;
      // Segments that the mixer has left behind are no longer needed.
      int64_t consumed = static_cast<int64_t>(GetSoundBufferConsumed(p->buffer));
      while (p->segments.size() > 1 && p->segments[1].writeStart <= consumed) {
        p->segments.pop_front();
      }
      LeaveLock(g.streamLock);
      p->restarted = false;
      if (!end) continue;
    }
    // A decoder gives nothing without its end only when told to stop waiting: the thread is
    // being ended. A file that gives nothing more before its end ends there.
    if (!end && got == 0 && s->type == kStreamDecoded) return false;
    // The stream ended: another pass, or the end.
    bool more = p->passesWanted == 0 || p->pass < p->passesWanted;
    if (end && more && !p->restarted && s->seekable && s->type != kStreamCustom) {
      p->pass++;
      SeekSampleStream(s, 0);
      p->restarted = true;  // an empty stream ends instead of spinning
      continue;
    }
    EndStreamBuffer(p->buffer);
    p->ended = true;
    EnterLock(g.streamLock);
    p->endWritten = true;
    LeaveLock(g.streamLock);
  }
  return true;
}

void StreamThreadEntry(qvTask* task) {
  auto* p = static_cast<StreamPlayer*>(GetTaskData(task));
  int32_t err = CreateTaskQuitEvent(task);
  if (err != 0) {
    ReportTaskResult(task, err);
    return;
  }
  RaiseThreadPriority();
  qvSampleStream* s = p->stream;
  int rate = std::clamp(s->frequency, kMinBufferFrequency, kMaxBufferFrequency);
  auto frames = static_cast<uint32_t>(std::max(rate * kStreamRingMs / 1000, 2));
  try {
    p->piece.resize(static_cast<size_t>(kRefillPieceFrames) * static_cast<size_t>(s->frameSize));
  } catch (const std::bad_alloc&) {
    ReportTaskResult(task, ERR_MEM);
    return;
  }
  p->buffer = CreateStreamBuffer(rate, s->channels, s->bits, frames);
  if (p->buffer == nullptr) {
    ReportTaskResult(task, ERR_LOADSOUND);
    return;
  }
  SetSoundBufferVolume(p->buffer, VolumeToMillibels(p->volume));
  // The mixer reports the end itself, once the last frame has been heard.
  qvBufferNotify end = {kNotifyAtStop, g.signals[p->channel]};
  SetSoundBufferNotifications(p->buffer, &end, 1);
  qvSignal* room = g.roomSignals[p->channel];
  SetStreamBufferRoomSignal(p->buffer, frames / 2, room);
  bool full = Refill(p);
  if (PlaySoundBuffer(p->buffer, 0, 0) != 0) {
    ReleaseSoundBuffer(p->buffer);
    p->buffer = nullptr;
    ReportTaskResult(task, ERR_DSOUNDPLAY);
    return;
  }
  SignalTaskStarted(task);
  int stallAfterMs = 0, stallMs = 0;
  bool stall = GetRefillStallSeam(&stallAfterMs, &stallMs);
  // Asleep until the mixer has freed half of the ring; a stream that had less to give, or
  // refills withheld, are looked at again on the short poll. The long time-out only bounds a
  // wake-up that never comes (no device pulling the mix).
  while (
      WaitTaskSignal(room, task, full && !gRefillsHeld.load() ? kStreamAheadMs : kRefillPollMs) ==
      QueueWake::kQueue) {
    if (stall && GetSoundBufferConsumed(p->buffer) >=
                     static_cast<uint64_t>(stallAfterMs) * static_cast<uint64_t>(rate) / 1000) {
      stall = false;
      DelayMs(stallMs);
    }
    if (!gRefillsHeld.load()) full = Refill(p);
  }
  ReportTaskResult(task, 0);
}

// Script thread: ends the stream thread of a channel and frees its player; returns the heard
// frame and pass.
void EndStreamPlayer(qvAudioChannel* ch, int64_t* frame, int32_t* pass) {
  StreamPlayer* p = ch->player;
  if (p->stream->decoder) StopAudioDecoderWait(p->stream->decoder);
  EndTask(p->task);
  EnterLock(g.streamLock);
  int64_t consumed = static_cast<int64_t>(GetSoundBufferConsumed(p->buffer));
  if (!HeardAt(p, consumed, frame, pass)) {
    *frame = ch->streamStart;
    *pass = ch->pass;
  }
  LeaveLock(g.streamLock);
  // The main thread reads the player under the audio lock (ProcessAudioChannels).
  EnterLock(g.audioLock);
  ch->player = nullptr;
  ch->buffer = nullptr;
  LeaveLock(g.audioLock);
  ReleaseSoundBuffer(p->buffer);
  delete p;
}

qvAudioChannel* FindStreamChannel(const qvSampleStream* stream) {
  for (auto& ch : g.channels) {
    if (ch.state == kChannelStream && ch.stream == stream) return &ch;
  }
  return nullptr;
}

}  // namespace

int32_t InitAudio() {
  ShutdownAudio();
  g.audioLock = CreateLock();
  g.streamLock = CreateLock();
  g.queueLock = CreateLock();
  g.queue = new (std::nothrow) std::deque<SoundEvent>;
  if (!g.audioLock || !g.streamLock || !g.queueLock || !g.queue) return ERR_SEMAPHORE;
  for (int i = 0; i < kAudioChannels; i++) {
    g.signals[i] = CreateSignal();
    g.roomSignals[i] = CreateSignal();
    if (g.signals[i] == nullptr || g.roomSignals[i] == nullptr) return ERR_CREATEEVENT;
  }
  for (auto& ch : g.channels) ResetChannel(&ch);
  for (bool& e : g.enabled) e = false;
  SetAudioHost(&gHost);
  return 0;
}

void ShutdownAudio() {
  if (g.audioLock) {
    StopSampleChannels(nullptr);
    for (auto& ch : g.channels) {
      if (ch.state == kChannelStream) {
        int32_t pass;
        int64_t pos;
        StopStreamChannel(ch.stream, false, &pass, &pos);
      }
    }
    SetAudioHost(nullptr);
  }
  if (g.deviceOpen) CloseAudioOutput();
  g.deviceOpen = false;
  for (int i = 0; i < kAudioChannels; i++) {
    DeleteSignal(g.signals[i]);
    DeleteSignal(g.roomSignals[i]);
    g.signals[i] = g.roomSignals[i] = nullptr;
  }
  DeleteLock(g.audioLock);
  DeleteLock(g.streamLock);
  DeleteLock(g.queueLock);
  delete g.queue;
  g.audioLock = g.streamLock = g.queueLock = nullptr;
  g.queue = nullptr;
}

int32_t OpenAudioDevice() {
  if (g.deviceOpen) return 0;
  int32_t err = OpenAudioOutput();
  if (err == 0) g.deviceOpen = true;
  return err;
}

bool IsAudioDeviceOpen() { return g.deviceOpen; }

int32_t VolumeToMillibels(int32_t volume) {
  int32_t percent = static_cast<int32_t>(volume / 64.0 * 100.0);
  if (percent < 1) return kSilentMillibels;
  return static_cast<int32_t>(1000.0 * std::log(percent / 100.0));
}

int32_t PanToMillibels(int32_t pan) {
  if (pan <= 0) return kSilentMillibels;
  if (pan >= 255) return -kSilentMillibels;
  if (pan == 127 || pan == 128) return 0;  // both are the centre
  if (pan > 127) return static_cast<int32_t>(-2000.0 * std::log10((255 - pan) / 128.0));
  return static_cast<int32_t>(2000.0 * std::log10(pan / 127.0));
}

void EnableSoundEvent(const char* name, bool on) {
  static const char* const kNames[] = {"onsampleloop", "onsampleend", "onmusicend", "onvideoend"};
  for (int i = 0; i < 4; i++) {
    if (std::strcmp(name, kNames[i]) == 0) g.enabled[i] = on;
  }
}

bool IsSoundEventEnabled(int32_t kind) {
  int i = EventIndex(kind);
  return i >= 0 && g.enabled[i];
}

void PostSoundEvent(int32_t kind, qvObjectId id, int32_t passMs, int32_t count, int32_t remainder) {
  if (g.queueLock == nullptr) return;
  int32_t position = (count - 1) * passMs;
  if (kind == kSoundEventSampleEnd) position += remainder;
  EnterLock(g.queueLock);
  try {
    g.queue->push_back({kind, id, position, count});
  } catch (const std::bad_alloc&) {
  }
  LeaveLock(g.queueLock);
  WakeMainLoop();
}

int GetSoundEvent(int32_t* kind, qvObjectId* id, int32_t* position, int32_t* count) {
  if (g.queueLock == nullptr) return 0;
  EnterLock(g.queueLock);
  if (g.queue->empty()) {
    LeaveLock(g.queueLock);
    return 0;
  }
  SoundEvent e = g.queue->front();
  g.queue->pop_front();
  LeaveLock(g.queueLock);
  *kind = e.kind;
  *id = e.id;
  *position = e.position;
  *count = e.count;
  return 1;
}

int32_t PrepareSampleChannel(qvPcmSample* pcm, qvObjectId id, int32_t pitch, int32_t volume,
                             int32_t panning, int32_t time, int32_t times) {
  EnterLock(g.audioLock);
  qvAudioChannel* ch = nullptr;
  for (auto& c : g.channels) {
    if (c.state == kChannelFree) {
      ch = &c;
      break;
    }
  }
  if (ch == nullptr) {
    LeaveLock(g.audioLock);
    return ERR_NOCHANNEL;
  }
  ResetChannel(ch);
  ch->state = kChannelPrepared;
  ch->id = id;
  ch->sample = pcm;
  ch->pass = 1;
  ch->volume = volume;
  ch->taken = 1;
  pitch = std::clamp(pitch, kMinBufferFrequency, kMaxBufferFrequency);
  // A sample shorter than a millisecond still counts one: no pass is 0 ms long.
  ch->passMs = std::max<int32_t>(
      static_cast<int32_t>(pcm->frames / static_cast<double>(pitch) * 1000.0), 1);
  if (time != -1) {
    ch->passesWanted = time / ch->passMs + 1;
    ch->lastPassMs = time % ch->passMs;
    ch->lastPassFrames = static_cast<uint32_t>(static_cast<int64_t>(ch->lastPassMs) * pitch / 1000);
  } else {
    ch->passesWanted = times;
    ch->lastPassFrames = pcm->frames;
    ch->lastPassMs = ch->passMs;
  }
  ch->frequency = pitch;
  ch->buffer = DuplicateSoundBuffer(pcm->buffer);
  if (ch->buffer == nullptr) {
    ResetChannel(ch);
    LeaveLock(g.audioLock);
    return ERR_LOADSOUND;
  }
  SetSoundBufferFrequency(ch->buffer, pitch);
  SetSoundBufferPan(ch->buffer, PanToMillibels(panning));
  SetSoundBufferVolume(ch->buffer, VolumeToMillibels(volume));
  uint32_t bytes = GetSoundBufferBytes(ch->buffer);
  qvBufferNotify notes[] = {{bytes - 1, g.signals[ch - g.channels]},
                            {kNotifyAtStop, g.signals[ch - g.channels]}};
  SetSoundBufferNotifications(ch->buffer, notes, 2);
  LeaveLock(g.audioLock);
  return 0;
}

int32_t StartPreparedChannels() {
  int32_t err = 0;
  EnterLock(g.audioLock);
  for (auto& ch : g.channels) {
    if (ch.state != kChannelPrepared) continue;
    // The mixer stops the buffer itself: after the wanted passes, the last one cut to its frames.
    int32_t passes = ch.passesWanted;
    uint32_t last = 0;
    if (passes != 0 && ch.lastPassMs != ch.passMs) {
      last = ch.lastPassFrames;
      if (last == 0) {
        // A last pass of no frames: the mixer stops after the pass before it, and the channel
        // still counts the empty pass as begun.
        if (passes > 1) {
          passes--;
        } else {
          last = 1;
        }
      }
    }
    err = PlaySoundBuffer(ch.buffer, passes, last);
    if (err != 0) {
      ReleaseSoundBuffer(ch.buffer);
      ResetChannel(&ch);
      break;
    }
    ch.state = kChannelSample;
    PostIfEnabled(kSoundEventSampleLoop, ch.id, ch.passMs, 1, 0);
  }
  LeaveLock(g.audioLock);
  WakeMainLoop();
  return err;
}

void StopSampleChannels(const qvPcmSample* pcm) {
  if (g.audioLock == nullptr) return;
  EnterLock(g.audioLock);
  for (auto& ch : g.channels) {
    bool match = pcm ? ch.sample == pcm
                     : (ch.state == kChannelSample || ch.state == kChannelPrepared);
    if (!match || ch.sample == nullptr) continue;
    ReleaseSoundBuffer(ch.buffer);
    ResetChannel(&ch);
  }
  LeaveLock(g.audioLock);
}

bool IsSampleOnChannel(const qvPcmSample* pcm) {
  if (g.audioLock == nullptr) return false;
  EnterLock(g.audioLock);
  bool on = false;
  for (auto& ch : g.channels) on = on || (ch.sample == pcm && ch.state != kChannelFree);
  LeaveLock(g.audioLock);
  return on;
}

void UpdateSampleChannel(const qvPcmSample* pcm, int32_t pitch, int32_t volume, int32_t panning) {
  if (g.audioLock == nullptr) return;
  EnterLock(g.audioLock);
  for (auto& ch : g.channels) {
    if (ch.sample != pcm || ch.state == kChannelFree) continue;
    if (pitch != -1) {
      ch.frequency = std::clamp(pitch, kMinBufferFrequency, kMaxBufferFrequency);
      SetSoundBufferFrequency(ch.buffer, ch.frequency);
    } else {
      ch.volume = volume;
      SetSoundBufferVolume(ch.buffer, VolumeToMillibels(volume));
      SetSoundBufferPan(ch.buffer, PanToMillibels(panning));
    }
    break;
  }
  LeaveLock(g.audioLock);
}

bool GetSampleChannelPosition(const qvPcmSample* pcm, int32_t* ms, int32_t* passes) {
  if (g.audioLock == nullptr) return false;
  bool found = false;
  EnterLock(g.audioLock);
  for (auto& ch : g.channels) {
    if (ch.sample != pcm || ch.state == kChannelFree) continue;
    uint32_t frames = GetSoundBufferPosition(ch.buffer) / GetSoundBufferBlock(ch.buffer);
    *ms = static_cast<int32_t>(frames / static_cast<double>(ch.frequency) * 1000.0);
    *passes = ch.pass - 1;
    found = true;
    break;
  }
  LeaveLock(g.audioLock);
  return found;
}

int32_t StartStreamChannel(qvSampleStream* stream, qvObjectId id, int32_t times, int32_t pass,
                           int32_t volume) {
  EnterLock(g.audioLock);
  qvAudioChannel* ch = nullptr;
  for (auto& c : g.channels) {
    if (c.state == kChannelFree) {
      ch = &c;
      break;
    }
  }
  if (ch == nullptr) {
    LeaveLock(g.audioLock);
    return ERR_NOCHANNEL;
  }
  ResetChannel(ch);
  ch->state = kChannelStream;  // taken: no sample may have it while the thread starts
  ch->id = id;
  ch->stream = stream;
  ch->volume = volume;
  ch->passesWanted = times;
  ch->pass = pass;
  ch->streamStart = stream->position;
  ch->taken = 1;
  ch->frequency = stream->frequency;
  ch->passMs = stream->frames > 0 && stream->frequency > 0
                   ? static_cast<int32_t>(stream->frames * 1000 / stream->frequency)
                   : 0;
  LeaveLock(g.audioLock);
  auto* p = new (std::nothrow) StreamPlayer;
  if (p == nullptr) {
    EnterLock(g.audioLock);
    ResetChannel(ch);
    LeaveLock(g.audioLock);
    return ERR_MEM;
  }
  p->stream = stream;
  p->channel = static_cast<int>(ch - g.channels);
  p->volume = volume;
  p->pass = std::max(pass, 1);
  p->passesWanted = times;
  p->task = CreateTask("music stream", StreamThreadEntry, p);
  if (p->task == nullptr) {
    delete p;
    EnterLock(g.audioLock);
    ResetChannel(ch);
    LeaveLock(g.audioLock);
    return ERR_THREAD;
  }
  EnterLock(g.audioLock);
  ch->player = p;
  ch->buffer = p->buffer;
  LeaveLock(g.audioLock);
  // A stream so short that the mixer ended it already: its end is handled now that the channel
  // knows its buffer.
  SetSignal(g.signals[p->channel]);
  WakeMainLoop();
  return 0;
}

void StopStreamChannel(qvSampleStream* stream, bool pause, int32_t* pass, int64_t* position) {
  if (g.audioLock == nullptr) return;
  EnterLock(g.audioLock);
  qvAudioChannel* ch = FindStreamChannel(stream);
  LeaveLock(g.audioLock);
  if (ch == nullptr || ch->player == nullptr) return;
  int64_t frame = 0;
  int32_t heardPass = 1;
  EndStreamPlayer(ch, &frame, &heardPass);
  if (stream->frames > 0 && frame >= stream->frames) {
    frame = 0;
    heardPass++;
  }
  *pass = heardPass;
  *position = frame;
  SeekSampleStream(stream, pause ? frame : 0);
  if (stream->custom && !pause) {
    ClearCustomStream(stream);
    stream->custom->queued = 0;
    stream->custom->reset = true;
  }
  EnterLock(g.audioLock);
  ResetChannel(ch);
  LeaveLock(g.audioLock);
}

void SetStreamChannelVolume(const qvSampleStream* stream, int32_t volume) {
  if (g.audioLock == nullptr) return;
  EnterLock(g.audioLock);
  qvAudioChannel* ch = FindStreamChannel(stream);
  if (ch && ch->buffer) {
    ch->volume = volume;
    SetSoundBufferVolume(ch->buffer, VolumeToMillibels(volume));
  }
  LeaveLock(g.audioLock);
}

int64_t GetStreamChannelPosition(const qvSampleStream* stream) {
  if (g.audioLock == nullptr) return -1;
  EnterLock(g.streamLock);
  EnterLock(g.audioLock);
  qvAudioChannel* ch = FindStreamChannel(stream);
  int64_t result = -1;
  if (ch && ch->player) {
    StreamPlayer* p = ch->player;
    int64_t frame;
    int32_t pass;
    if (HeardAt(p, static_cast<int64_t>(GetSoundBufferConsumed(p->buffer)), &frame, &pass)) {
      if (stream->frames > 0) frame %= stream->frames;
      // Between two refills the estimate may not run backwards; a new pass starts again.
      if (pass == p->highestPass && frame < p->highest) frame = p->highest;
      p->highest = frame;
      p->highestPass = pass;
      result = frame;
    } else {
      result = ch->streamStart;
    }
  }
  LeaveLock(g.audioLock);
  LeaveLock(g.streamLock);
  return result;
}

int64_t StreamFramesAhead(const qvSampleStream* stream) {
  if (g.audioLock == nullptr) return -1;
  EnterLock(g.streamLock);
  EnterLock(g.audioLock);
  qvAudioChannel* ch = FindStreamChannel(stream);
  int64_t ahead = -1;
  if (ch && ch->player) {
    StreamPlayer* p = ch->player;
    ahead = p->endWritten ? INT64_MAX
                          : p->written - static_cast<int64_t>(GetSoundBufferConsumed(p->buffer));
  }
  LeaveLock(g.audioLock);
  LeaveLock(g.streamLock);
  return ahead;
}

bool IsStreamOnChannel(const qvSampleStream* stream) {
  if (g.audioLock == nullptr) return false;
  EnterLock(g.audioLock);
  bool on = FindStreamChannel(stream) != nullptr;
  LeaveLock(g.audioLock);
  return on;
}

int ReapEndedStreams(qvSampleStream** out, int max) {
  if (g.audioLock == nullptr) return 0;
  int n = 0;
  for (auto& ch : g.channels) {
    EnterLock(g.audioLock);
    bool ended = ch.state == kChannelStream && ch.endPosted;
    LeaveLock(g.audioLock);
    if (!ended || n >= max) continue;
    qvSampleStream* stream = ch.stream;
    int64_t frame;
    int32_t pass;
    EndStreamPlayer(&ch, &frame, &pass);
    SeekSampleStream(stream, 0);
    EnterLock(g.audioLock);
    ResetChannel(&ch);
    LeaveLock(g.audioLock);
    out[n++] = stream;
  }
  return n;
}

void HoldStreamRefills(bool hold) { gRefillsHeld.store(hold); }

void ProcessAudioChannels() {
  if (g.audioLock == nullptr) return;
  EnterLock(g.audioLock);
  for (auto& ch : g.channels) {
    if (ch.state == kChannelSample) {
      ProcessSampleChannel(&ch);
    } else if (ch.state == kChannelStream && ch.player && ch.buffer && !ch.endPosted &&
               GetSoundBufferNotifyCount(ch.buffer, 0) > 0) {
      ch.endPosted = true;
      PostIfEnabled(kSoundEventMusicEnd, ch.id, ch.passMs, std::max(ch.player->pass, 1), 0);
      if (!IsSoundEventEnabled(kSoundEventMusicEnd)) WakeMainLoop();
    }
  }
  LeaveLock(g.audioLock);
}

}  // namespace qv
