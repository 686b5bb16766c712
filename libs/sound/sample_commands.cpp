// Sample commands: loading, freeing, playing and adjusting samples, their data and saving them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
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
#include "media/wave_writer.h"
#include "platform/files.h"
#include "platform/timers.h"
#include "vm/vm.h"

namespace qv {

int32_t MapPanning(int32_t value) {
  switch (value) {
    case -100000:
      return 128;
    case -90000:
      return 0;
    case -80000:
      return 255;
    default:
      return std::clamp(value, 0, 255);
  }
}

void ReadRangeOptions(qvScriptState* L, int table, qvRangeOptions* out, bool* freeSource) {
  *out = qvRangeOptions{};
  if (table == 0) return;
  double v;
  if (GetFieldNumber(L, table, "offset", &v, nullptr))
    out->offset = static_cast<int64_t>(DoubleToInt32(v));
  if (GetFieldNumber(L, table, "start", &v, nullptr))
    out->start = static_cast<int64_t>(DoubleToInt32(v));
  if (GetFieldNumber(L, table, "end", &v, nullptr))
    out->end = static_cast<int64_t>(DoubleToInt32(v));
  GetFieldFlag(L, table, "loop", &out->loop, nullptr);
  if (freeSource) GetFieldFlag(L, table, "free", freeSource, nullptr);
}

namespace {

int32_t PushCreated(qvScriptState* L, qvOptionalId id, const qvSample* s) {
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, s->header.handle);
  return 1;
}

// The volume argument: a number or a percentage text of 64, clamped to 0-64.
int32_t ReadVolume(qvScriptState* L, int index) {
  double v = GetNumberOrPercent(L, index, 64, 0, nullptr);
  return std::clamp(DoubleToInt32(v), 0, 64);
}

}  // namespace

namespace cmd {

int32_t FreeSample(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable()) return 0;
  return qv::FreeSample(L, id);
}

int32_t LoadSample(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvOptionalId id = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  if (IsSoundUnavailable() || !EnsureAudioDevice()) return 0;
  PrintStatusMessage(GetErrorText(kTextLoadingSample), file, true);
  qvPcmSample* pcm = nullptr;
  uint32_t bytes;
  int32_t frequency, code;
  int32_t err = LoadSampleFile(file, &pcm, &bytes, &frequency, &code);
  if (err != 0) {
    PrintFailedMessage();
    return err;
  }
  PrintDoneMessage();
  qvSample* s;
  err = AddSample(L, id, pcm, frequency, code, &s);
  if (err != 0) return err;
  return PushCreated(L, id, s);
}

int32_t IsSound(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, !IsSoundUnavailable() && EnsureAudioDevice() ? 1 : 0);
  return 1;
}

int32_t WaitSampleEnd(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  while (IsSampleOnChannel(s->pcm)) {
    err = CheckBreak(L, 0, nullptr);
    if (err == 0) err = WaitTimeQueued(10);
    if (err != 0) return err;
  }
  return 0;
}

int32_t IsSamplePlaying(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) {
    VmPushNumber(L, 0);
    return 1;
  }
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  VmPushNumber(L, IsSampleOnChannel(s->pcm) ? 1 : 0);
  return 1;
}

int32_t SetVolume(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  if (VmIsNumber(L, 2) && VmToNumber(L, 2) == -1) return ERR_WRONGUSAGE;
  int32_t volume = ReadVolume(L, 2);
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  s->volume = volume;
  UpdateSampleChannel(s->pcm, -1, s->volume, s->panning);
  return 0;
}

int32_t SetPitch(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t frequency = VmCheckInt(L, 2);
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  if (frequency < 256) return ERR_LOWFREQ;
  s->frequency = frequency;
  UpdateSampleChannel(s->pcm, frequency, s->volume, s->panning);
  return 0;
}

int32_t SetPanning(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t value = VmCheckInt(L, 2);
  if (value == -1) return ERR_WRONGUSAGE;
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  s->panning = MapPanning(value);
  UpdateSampleChannel(s->pcm, -1, s->volume, s->panning);
  return 0;
}

int32_t StopSample(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable() || !IsAudioDeviceOpen()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  StopSampleChannels(s->pcm);
  return 0;
}

int32_t PlaySample(qvScriptState* L) {
  int n = VmGetTop(L);
  CheckArgCount(L, 1, 0);
  if ((n + 1) / 2 > 4) return ERR_WRONGUSAGE;
  if (IsSoundUnavailable()) return 0;
  for (int k = 0; 2 * k + 1 <= n; k++) {
    int idIndex = 2 * k + 1, optIndex = 2 * k + 2;
    qvObjectId id = CheckObjectId(L, idIndex);
    int32_t volume = -1, panning = -1, time = -1, pitch = -1, times = 1;
    if (optIndex <= n && VmType(L, optIndex) == kTypeTable) {
      double t;
      if (GetFieldNumber(L, optIndex, "time", &t, nullptr)) {
        time = DoubleToInt32(t);
        if (time < 1) return ERR_WRONGUSAGE;
      }
      int32_t v;
      if (GetFieldInt(L, optIndex, "volume", &v, nullptr)) volume = std::clamp(v, 0, 64);
      if (GetFieldInt(L, optIndex, "panning", &v, nullptr)) panning = MapPanning(v);
      if (GetFieldInt(L, optIndex, "times", &v, nullptr)) {
        times = v;
        time = -1;  // "times" wins over "time"
      }
      GetFieldInt(L, optIndex, "pitch", &pitch, nullptr);
    } else if (optIndex <= n && VmType(L, optIndex) != kTypeNil) {
      times = VmCheckInt(L, optIndex);
    }
    qvSample* s;
    int32_t err = FindSampleOrError(id, &s);
    if (err != 0) return err;
    if (pitch == -1) pitch = s->frequency;
    if (volume == -1) volume = s->volume;
    if (panning == -1) panning = s->panning;
    if (pitch < 256) return ERR_LOWFREQ;
    if (!EnsureAudioDevice()) return 0;
    err = PrepareSampleChannel(s->pcm, {s->header.id, s->header.handle}, pitch, volume, panning,
                               time, times);
    if (err != 0) return err;
  }
  return StartPreparedChannels();
}

int32_t SetMasterVolume(qvScriptState*) { return 0; }

int32_t IsSample(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* file = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  VmPushNumber(L, ProbeSampleFile(file) ? 1 : 0);
  return 1;
}

int32_t GetSampleData(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  if (IsSoundUnavailable()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  const qvPcmSample* pcm = s->pcm;
  VmNewTable(L);
  int index = 0;
  for (uint32_t f = 0; f < pcm->frames; f++) {
    for (int c = 0; c < pcm->channels; c++) {
      int32_t v = PcmValue16(pcm, f, c);
      VmPushNumber(L, pcm->bits == 8 ? v / 256 : v);
      VmRawSetI(L, -2, index++);
    }
  }
  VmPushNumber(L, pcm->frames);
  return 2;
}

int32_t CopySample(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId from = CheckObjectId(L, 1);
  qvOptionalId to = OptObjectId(L, 2);
  if (IsSoundUnavailable()) return 0;
  if (!to.automatic && from.handle == nullptr && from.number == to.number) return ERR_WRONGUSAGE;
  qvSample* src;
  int32_t err = FindSampleOrError(from, &src);
  if (err != 0) return err;
  qvPcmSample* pcm = nullptr;
  err = CopyPcmSample(src->pcm, src->frequency, &pcm);
  if (err != 0) return err;
  qvObjectDataItem* data = nullptr;
  err = CopyObjectDataList(L, src->header.data, &data);
  if (err != 0) {
    FreePcmSample(pcm);
    return err;
  }
  int32_t volume = src->volume, panning = src->panning, frequency = src->frequency;
  int32_t code = src->code;
  qvSample* s;
  err = AddSample(L, to, pcm, frequency, code, &s);  // may free a namesake (never the source)
  if (err != 0) {
    FreeRefList(L, data);
    return err;
  }
  s->volume = volume;
  s->panning = panning;
  s->header.data = data;
  return PushCreated(L, to, s);
}

int32_t SaveSample(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvObjectId id = CheckObjectId(L, 1);
  const char* file = CheckName(L, 2);
  int32_t format = VmOptInt(L, 3, 0);
  if (IsSoundUnavailable()) return 0;
  qvSample* s;
  int32_t err = FindSampleOrError(id, &s);
  if (err != 0) return err;
  if (format != 0) {
    return SaveSampleWithPlugin(s->pcm, s->bytes, s->frequency, static_cast<uint32_t>(format),
                                file);
  }
  std::vector<uint8_t> image;
  if (!BuildWaveImage(s->pcm, s->bytes, s->frequency, &image)) return ERR_MEM;
  // Written whole beside the target, which only a complete file replaces.
  if (WriteWholeFile(file, image.data(), image.size()) == 0) return 0;
  SetErrorString(GetDisplayName(file));
  return ERR_WRITEFILE;
}

}  // namespace cmd

}  // namespace qv
