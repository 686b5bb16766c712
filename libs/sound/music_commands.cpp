// Music commands: streams from files and music that the script feeds, one playing at a time.
// Tracker modules play through the same road; their position commands read the replayer's state.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/events.h"
#include "core/vfile.h"
#include "libs/sound/commands.h"
#include "media/audio_channels.h"
#include "media/pcm_sample.h"
#include "media/sound_edit.h"
#include "media/sound_objects.h"
#include "media/sound_stream.h"
#include "platform/timers.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

int32_t PushMusic(qvScriptState* L, qvOptionalId id, const qvMusic* m) {
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, m->header.handle);
  return 1;
}

// The playing music named by the optional id at 1: 0 with *out, or the not-playing error.
int32_t PlayingMusicArg(qvScriptState* L, qvMusic** out) {
  *out = PlayingMusic();
  if (VmGetTop(L) < 1 || VmType(L, 1) == kTypeNil) return *out ? 0 : ERR_WRONGUSAGE;
  qvObjectId id = CheckObjectId(L, 1);
  qvMusic* m = *out;
  if (m && m->header.id == id.number && m->header.handle == id.handle) return 0;
  if (id.handle) return ERR_MUSNOTPLYNG2;
  SetErrorNumber(id.number);
  return ERR_MUSNOTPLYNG;
}

// Waits in 10 ms steps (breaks checked) until the playing module's `code` position is `value`;
// returns at once when no music plays.
int32_t WaitForModule(qvScriptState* L, int32_t code, int32_t value) {
  while (PlayingMusic() != nullptr && ControlModulePosition(code, 0) != value) {
    int32_t err = CheckBreak(L, 0, nullptr);
    if (err == 0) err = WaitTimeQueued(10);
    if (err != 0) return err;
  }
  return 0;
}

}  // namespace

int32_t GetPatternPosition(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, IsSoundUnavailable() ? -1 : ControlModulePosition(kModuleRow, 0));
  return 1;
}

int32_t GetSongPosition(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, IsSoundUnavailable() ? -1 : ControlModulePosition(kModuleSongPosition, 0));
  return 1;
}

int32_t PlaySubsong(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t position = VmCheckInt(L, 1);
  if (IsSoundUnavailable()) return 0;
  int32_t length = ControlModulePosition(kModuleSongLength, 0);
  if (position < 0 || position >= length) return ERR_WRONGUSAGE;
  ControlModulePosition(kModuleJump, position);
  return 0;
}

int32_t WaitPatternPosition(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t row = VmCheckInt(L, 1);
  if (IsSoundUnavailable()) return 0;
  return WaitForModule(L, kModuleRow, row);
}

int32_t WaitSongPosition(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t position = VmCheckInt(L, 1);
  if (IsSoundUnavailable()) return 0;
  return WaitForModule(L, kModuleSongPosition, position);
}

int32_t OpenMusic(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvOptionalId id = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  if (IsSoundUnavailable() || !EnsureAudioDevice()) return 0;
  if (InsideMusicCallback()) return ERR_NOCALLBACK;
  PrintStatusMessage(GetErrorText(kTextLoadingMusic), file, true);
  qvMusic* m;
  int32_t err = qv::OpenMusic(L, id, file, &m);
  if (err != 0) {
    PrintFailedMessage();
    return err;
  }
  PrintDoneMessage();
  return PushMusic(L, id, m);
}

int32_t CloseMusic(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable()) return 0;
  ReapEndedMusic();
  return qv::CloseMusic(L, id);
}

int32_t PlayMusic(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t times = 1, volume = -1;
  if (VmType(L, 2) == kTypeTable) {
    GetFieldInt(L, 2, "times", &times, nullptr);
    GetFieldInt(L, 2, "volume", &volume, nullptr);
  } else if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) {
    times = VmCheckInt(L, 2);
  }
  if (IsSoundUnavailable()) return 0;
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  if (InsideMusicCallback()) return ERR_NOCALLBACK;
  m->times = std::max(times, 0);
  if (volume != -1) m->volume = std::clamp(volume, 0, 64);
  return StartMusic(L, m);
}

int32_t StopMusic(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  if (IsSoundUnavailable()) return 0;
  if (InsideMusicCallback()) return ERR_NOCALLBACK;
  qvMusic* m;
  int32_t err = PlayingMusicArg(L, &m);
  if (err != 0) return err;
  return StopPlayingMusic(L, false);
}

int32_t PauseMusic(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  if (IsSoundUnavailable()) return 0;
  if (InsideMusicCallback()) return ERR_NOCALLBACK;
  qvMusic* m;
  int32_t err = PlayingMusicArg(L, &m);
  if (err != 0) return err;
  return StopPlayingMusic(L, true);
}

int32_t ResumeMusic(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  if (IsSoundUnavailable()) return 0;
  qvMusic* m = PausedMusic();
  if (VmGetTop(L) >= 1 && VmType(L, 1) != kTypeNil) {
    int32_t err = FindMusicOrError(CheckObjectId(L, 1), &m);
    if (err != 0) return err;
    if (!m->paused) return ERR_MUSNOTPAUSED;
  } else if (m == nullptr) {
    return ERR_WRONGUSAGE;
  }
  return StartMusic(L, m);
}

int32_t SeekMusic(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t ms = VmCheckInt(L, 2);
  if (IsSoundUnavailable()) return 0;
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  return qv::SeekMusic(L, m, ms);
}

int32_t SetMusicVolume(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  double v = GetNumberOrPercent(L, 2, 64, 0, nullptr);
  if (IsSoundUnavailable()) return 0;
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  qv::SetMusicVolume(m, std::clamp(DoubleToInt32(v), 0, 64));
  return 0;
}

int32_t IsMusic(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* file = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  qvSampleStream* s = nullptr;
  int known = 0;
  const char* name = "Unknown";
  qvFile* f = OpenFileQ(file, kFileRead);
  if (f != nullptr) {
    char tag[4] = {};
    SeekFileQ(f, 1080, kSeekStart);
    bool module = ReadFileQ(f, tag, 4) == 4 && std::memcmp(tag, "M.K.", 4) == 0;
    CloseFileQ(f);
    if (module) {
      known = 1;
      name = "Protracker";
    } else if (OpenSampleFile(file, true, &s) == 0) {
      known = 1;
      name = GetSampleFormatName(s);
    }
  }
  VmPushNumber(L, known);
  VmPushString(L, name);
  CloseSampleStream(s);
  return 2;
}

int32_t IsMusicPlaying(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable()) {
    VmPushNumber(L, 0);
    return 1;
  }
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  VmPushNumber(L, m == PlayingMusic() ? 1 : 0);
  return 1;
}

int32_t CreateMusic(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t frequency = VmCheckInt(L, 2);
  int32_t format = VmCheckInt(L, 3);
  if (IsSoundUnavailable() || !EnsureAudioDevice()) return 0;
  if (InsideMusicCallback()) return ERR_NOCALLBACK;
  if (ObjectHandlers()[kFillMusicBuffer].callback == kNoReference) return ERR_NOFMBHANDLER;
  int32_t code = ScriptFormatToPcm(format);
  if (code < 0) return ERR_WRONGUSAGE;
  if (frequency < 256) return ERR_LOWFREQ;
  qvMusic* m;
  int32_t err = CreateFedMusic(L, id, frequency, code, &m);
  if (err != 0) return err;
  err = RunFillMusicHandler(L, m, frequency * 2);
  if (err != 0) return err;
  return PushMusic(L, id, m);
}

int32_t FillMusicBuffer(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvObjectId id = CheckObjectId(L, 1);
  const char* source = VmCheckString(L, 2);
  int32_t frames = VmCheckInt(L, 3);
  if (IsSoundUnavailable()) return 0;
  if (!InsideMusicCallback()) return ERR_NOMUSICCB;
  qvMusic* m;
  int32_t err = FindMusicOrError(id, &m);
  if (err != 0) return err;
  if (!m->custom) return ERR_WRONGUSAGE;
  qvSampleStream* s = m->stream;
  const qvCustomStream* c = s->custom;
  int32_t channels = c->channels, bits = c->bits;
  bool isSigned = c->code == kPcm8MonoSigned || c->code == kPcm8StereoSigned;
  uint8_t silence = bits == 8 && !isSigned ? 128 : 0;
  if (std::strcmp(source, "end") == 0) return QueueCustomFrames(s, nullptr, 0);
  std::vector<uint8_t> data;
  if (std::strcmp(source, "pcm") == 0) {
    VmCheckTable(L, 4);
    if (frames <= 0) {
      data.assign(static_cast<size_t>(c->frameSize), silence);
      frames = 1;
    } else {
      if (frames > 48000 * 60) return ERR_WRONGUSAGE;
      // A short table leaves the rest of the frames silent.
      data.assign(static_cast<size_t>(frames) * c->frameSize, silence);
      int64_t values = int64_t{frames} * channels;
      for (int64_t i = 0; i < values; i++) {
        VmRawGetI(L, 4, static_cast<int>(i));
        bool number = VmIsNumber(L, -1) != 0;
        auto v = static_cast<int32_t>(DoubleToInt32(VmToNumber(L, -1)));
        VmSetTop(L, -2);
        if (!number) break;
        if (bits == 8) {
          data[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
        } else {
          data[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(v);
          data[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(v >> 8);
        }
      }
    }
  } else if (std::strcmp(source, "mute") == 0) {
    if (frames <= 0 || frames > 48000 * 60) return ERR_WRONGUSAGE;
    data.assign(static_cast<size_t>(frames) * c->frameSize, silence);
  } else if (std::strcmp(source, "sample") == 0) {
    VmCheckTable(L, 4);
    qvObjectId sid;
    if (!GetFieldObjectId(L, 4, "id", &sid, nullptr)) return ERR_WRONGUSAGE;
    qvSample* smp;
    err = FindSampleOrError(sid, &smp);
    if (err != 0) return err;
    qvRangeOptions range;
    bool freeSource = false;
    ReadRangeOptions(L, 4, &range, &freeSource);
    err = CheckRange(smp->pcm, range);
    if (err != 0) return err;
    if (frames <= 0 || frames > 48000 * 60) return ERR_WRONGUSAGE;
    data.resize(static_cast<size_t>(frames) * c->frameSize);
    ReadRange(smp->pcm, range, data.data(), static_cast<uint32_t>(frames), bits, channels,
              isSigned);
    if (freeSource) qv::FreeSample(L, sid);
  } else {
    return ERR_WRONGUSAGE;
  }
  return QueueCustomFrames(s, data.data(), static_cast<uint32_t>(frames));
}

}  // namespace qv::cmd

namespace qv {

int32_t RunScriptFillMusic(void*, qvScriptState* L, qvMusic* m, int32_t frames) {
  const qvHandlerSlot& slot = ObjectHandlers()[kFillMusicBuffer];
  if (slot.callback == kNoReference) return ERR_NOFMBHANDLER;
  qvDispatchResult r;
  r.kind = kDispatchFillMusic;
  std::strcpy(r.action, "FillMusicBuffer");
  r.callback = slot.callback;
  r.userdata = slot.userdata;
  r.objectId = {m->header.id, m->header.handle};
  r.samples = frames;
  r.count = static_cast<int32_t>(m->stream->custom->queued);
  int base = VmGetTop(L);
  int32_t status = RunEventCallback(L, &r, 1);
  VmSetTop(L, base);
  return status;
}

}  // namespace qv
