// Commands that make samples from numbers, files, memory blocks or other samples: CreateSample,
// MixSample and InsertSample.
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/events.h"
#include "libs/dos/dos_files.h"
#include "libs/memblock/memblocks.h"
#include "libs/sound/commands.h"
#include "media/audio_channels.h"
#include "media/pcm_sample.h"
#include "media/sound_edit.h"
#include "media/sound_objects.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

int32_t PushCreated(qvScriptState* L, qvOptionalId id, const qvSample* s) {
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, s->header.handle);
  return 1;
}

// The "pcm" source: the table's values from index 0, range-checked, into a new block.
int32_t ReadPcmTable(qvScriptState* L, int table, int32_t code, int32_t* frames, uint8_t** out) {
  int32_t channels = PcmChannels(code), bits = PcmBits(code);
  int64_t count;
  if (*frames == 0) {
    count = 0;
    while (true) {
      VmRawGetI(L, table, static_cast<int>(count));
      bool nil = VmType(L, -1) == kTypeNil;
      VmSetTop(L, -2);
      if (nil) break;
      count++;
      if (count > 0x3FFFFFFF) return ERR_WRONGUSAGE;
    }
    if (count == 0 || count % channels != 0) return ERR_WRONGUSAGE;
    *frames = static_cast<int32_t>(count / channels);
  } else {
    count = int64_t{*frames} * channels;
  }
  auto* data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(count) * (bits / 8) + 1));
  if (data == nullptr) return ERR_MEM;
  int32_t limit = bits == 8 ? 127 : 32767;
  for (int64_t i = 0; i < count; i++) {
    VmRawGetI(L, table, static_cast<int>(i));
    double v = VmToNumber(L, -1);
    VmSetTop(L, -2);
    if (!(v >= -limit - 1 && v <= limit)) {
      std::free(data);
      return ERR_SMPRANGE;
    }
    auto n = static_cast<int32_t>(v);
    if (bits == 8) {
      data[i] = static_cast<uint8_t>(n);
    } else {
      data[2 * i] = static_cast<uint8_t>(n);
      data[2 * i + 1] = static_cast<uint8_t>(n >> 8);
    }
  }
  *out = data;
  return 0;
}

// A new block of `frames` frames of `code` for the raw sources, whose byte count is checked
// against `available` first (`shortCode` when it does not fit): 0 or the error code.
int32_t AllocRawFrames(int32_t code, int32_t frames, int64_t available, int32_t shortCode,
                       size_t* bytes, uint8_t** out) {
  int64_t n = int64_t{frames} * GetPcmFrameSize(code);
  if (n > available) return shortCode;
  *bytes = static_cast<size_t>(n);
  *out = static_cast<uint8_t*>(std::malloc(*bytes + 1));
  return *out == nullptr ? ERR_MEM : 0;
}

// 16-bit data stored the other way round is turned into the host's order when "swap" is set.
void SwapIfAsked(qvScriptState* L, int table, int32_t code, uint8_t* data, size_t bytes) {
  bool swap = false;
  GetFieldFlag(L, table, "swap", &swap, nullptr);
  if (!swap || PcmBits(code) != 16) return;
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
}

// The object named by the table's "id"; false when there is none.
bool SourceId(qvScriptState* L, int table, qvObjectId* id) {
  return GetFieldObjectId(L, table, "id", id, nullptr) != 0;
}

// The "file" source: `frames` frames from an open file of the dos library, from its position on.
int32_t ReadFileSource(qvScriptState* L, int table, int32_t code, int32_t frames, uint8_t** out) {
  qvObjectId id;
  if (frames == 0 || !SourceId(L, table, &id)) return ERR_WRONGUSAGE;
  qvDosFile* file;
  int32_t err = FindFile(id, &file);
  if (err != 0) return err;
  if (file->access == kDosAccessWrite) return ERR_WRITEONLY;
  size_t bytes;
  int64_t left = file->length > file->position ? file->length - file->position : 0;
  err = AllocRawFrames(code, frames, left, ERR_READ, &bytes, out);
  if (err == 0) err = ReadBigEndianValue(file, file->file, *out, true, bytes);
  if (err != 0) {
    std::free(*out);
    *out = nullptr;
    return err == ERR_READRANGE ? ERR_READ : err;
  }
  SwapIfAsked(L, table, code, *out, bytes);
  return 0;
}

// The "memory" source: `frames` frames of a memory block from its "offset" on.
int32_t ReadMemorySource(qvScriptState* L, int table, int32_t code, int32_t frames, uint8_t** out) {
  qvObjectId id;
  if (frames == 0 || !SourceId(L, table, &id)) return ERR_WRONGUSAGE;
  int32_t offset = 0;
  GetFieldInt(L, table, "offset", &offset, nullptr);
  if (offset < 0) return ERR_WRONGUSAGE;
  qvMemBlock* block;
  int32_t err = FindMemBlock(id, &block);
  if (err != 0) return err;
  size_t bytes;
  int64_t left = offset < block->size ? block->size - offset : -1;
  err = AllocRawFrames(code, frames, left, ERR_MEMRANGE, &bytes, out);
  if (err != 0) return err;
  std::memcpy(*out, block->bytes + offset, bytes);
  SwapIfAsked(L, table, code, *out, bytes);
  return 0;
}

}  // namespace

int32_t CreateSample(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvOptionalId id = OptObjectId(L, 1);
  VmCheckTable(L, 2);
  int32_t frequency = VmCheckInt(L, 3);
  int32_t format = VmOptInt(L, 4, kMono8);
  int32_t frames = VmOptInt(L, 5, 0);
  if (IsSoundUnavailable() || !EnsureAudioDevice()) return 0;
  if (format < 0 || format > 3 || frames < 0) return ERR_WRONGUSAGE;
  if (frequency < 256) return ERR_LOWFREQ;
  int32_t code = ScriptFormatToPcm(format);
  char source[16] = "pcm";
  GetFieldString(L, 2, "source", source, sizeof source, nullptr);
  uint8_t* data = nullptr;
  int32_t err;
  if (std::strcmp(source, "pcm") == 0) {
    err = ReadPcmTable(L, 2, code, &frames, &data);
  } else if (std::strcmp(source, "file") == 0) {
    err = ReadFileSource(L, 2, code, frames, &data);
  } else if (std::strcmp(source, "memory") == 0) {
    err = ReadMemorySource(L, 2, code, frames, &data);
  } else {
    return ERR_WRONGUSAGE;
  }
  if (err != 0) return err;
  qvPcmSample* pcm = nullptr;
  int32_t stored;
  err = CreatePcmSample(data, static_cast<uint32_t>(frames), frequency, code, &pcm, &stored);
  if (err != 0) return err;
  qvSample* s;
  err = AddSample(L, id, pcm, frequency, stored, &s);
  if (err != 0) return err;
  return PushCreated(L, id, s);
}

int32_t MixSample(qvScriptState* L) {
  int n = VmGetTop(L);
  CheckArgCount(L, 6, 0);
  if ((n - 4) % 2 != 0) return ERR_WRONGUSAGE;
  qvOptionalId id = OptObjectId(L, 1);
  int32_t frames = VmCheckInt(L, 2);
  int32_t frequency = VmCheckInt(L, 3);
  int32_t format = VmCheckInt(L, 4);
  if (IsSoundUnavailable()) return 0;
  if (frequency < 256) return ERR_LOWFREQ;
  if (format < 0 || format > 3 || frames < 1) return ERR_WRONGUSAGE;
  int32_t code = ScriptFormatToPcm(format);
  std::vector<qvMixSource> sources;
  for (int k = 5; k + 1 <= n; k += 2) {
    qvSample* s;
    int32_t err = FindSampleOrError(CheckObjectId(L, k), &s);
    if (err != 0) return err;
    VmCheckTable(L, k + 1);
    qvMixSource src{s->pcm, static_cast<double>(s->frequency), 0.0, 0, -1, false, 1.0};
    GetFieldNumber(L, k + 1, "pitch", &src.pitch, nullptr);
    if (!(src.pitch >= 1.0)) return ERR_WRONGUSAGE;
    GetFieldNumber(L, k + 1, "offset", &src.offset, nullptr);
    if (!(src.offset >= 0.0)) return ERR_SMPRANGE;
    GetFieldInt(L, k + 1, "threshold", &src.threshold, nullptr);
    GetFieldInt(L, k + 1, "length", &src.length, nullptr);
    GetFieldFlag(L, k + 1, "loop", &src.loop, nullptr);
    GetFieldNumber(L, k + 1, "scale", &src.scale, nullptr);
    sources.push_back(src);
  }
  if (!EnsureAudioDevice()) return 0;
  uint8_t* data = MixSamples(sources, frames, frequency, code);
  if (data == nullptr) return ERR_MEM;
  qvPcmSample* pcm = nullptr;
  int32_t stored;
  int32_t err = CreatePcmSample(data, static_cast<uint32_t>(frames), frequency, code, &pcm,
                                &stored);
  if (err != 0) return err;
  qvSample* s;
  err = AddSample(L, id, pcm, frequency, stored, &s);
  if (err != 0) return err;
  return PushCreated(L, id, s);
}

int32_t InsertSample(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvObjectId from = CheckObjectId(L, 1);
  qvObjectId to = CheckObjectId(L, 2);
  int32_t position = VmCheckInt(L, 3);
  int32_t count = VmOptInt(L, 4, 0);
  if (IsSoundUnavailable()) return 0;
  if (from.number == to.number && from.handle == to.handle) return ERR_WRONGUSAGE;
  qvSample* source;
  qvSample* target;
  int32_t err = FindSampleOrError(from, &source);
  if (err == 0) err = FindSampleOrError(to, &target);
  if (err != 0) return err;
  if (IsSampleOnChannel(target->pcm)) return ERR_MODIFYPSMP;
  qvRangeOptions range;
  if (VmGetTop(L) >= 5) VmCheckTable(L, 5);
  ReadRangeOptions(L, VmGetTop(L) >= 5 ? 5 : 0, &range, nullptr);
  err = CheckRange(source->pcm, range);
  if (err != 0) return err;
  uint32_t frames = count >= 1 && static_cast<uint32_t>(count) <= source->pcm->frames
                        ? static_cast<uint32_t>(count)
                        : source->pcm->frames;
  qvPcmSample* pcm = target->pcm;
  uint8_t* data = InsertSampleFrames(pcm, source->pcm, position, frames, range);
  if (data == nullptr) return ERR_MEM;
  err = ReplaceSampleData(pcm, data, pcm->frames + frames, target->frequency);
  if (err != 0) return err;
  target->bytes = pcm->frames * static_cast<uint32_t>(pcm->frameSize);
  return 0;
}

}  // namespace qv::cmd
