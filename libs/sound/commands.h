// The sound library's command handlers: samples (loading, playing, editing, saving) and music
// (streams from files and music fed by the script).
#pragma once

#include <cstdint>

#include "vm/auxlib.h"

namespace qv {

struct qvMusic;

// Runs the script's FillMusicBuffer handler for `frames` frames of the music (media's
// qvFillMusicRunner, handed over when the library opens; the context is unused).
// ERR_NOFMBHANDLER without a handler, else the handler's code.
int32_t RunScriptFillMusic(void* context, qvScriptState* L, qvMusic* music, int32_t frames);

}  // namespace qv

namespace qv::cmd {

// Samples
int32_t FreeSample(qvScriptState* L);
int32_t LoadSample(qvScriptState* L);
int32_t IsSound(qvScriptState* L);
int32_t WaitSampleEnd(qvScriptState* L);
int32_t IsSamplePlaying(qvScriptState* L);
int32_t SetVolume(qvScriptState* L);
int32_t SetPitch(qvScriptState* L);
int32_t SetPanning(qvScriptState* L);
int32_t StopSample(qvScriptState* L);
int32_t PlaySample(qvScriptState* L);
int32_t SetMasterVolume(qvScriptState* L);
int32_t IsSample(qvScriptState* L);
int32_t SaveSample(qvScriptState* L);
int32_t GetSampleData(qvScriptState* L);
int32_t CopySample(qvScriptState* L);
// Making and editing samples
int32_t CreateSample(qvScriptState* L);
int32_t MixSample(qvScriptState* L);
int32_t InsertSample(qvScriptState* L);
// Music
int32_t GetPatternPosition(qvScriptState* L);
int32_t GetSongPosition(qvScriptState* L);
int32_t PlaySubsong(qvScriptState* L);
int32_t WaitPatternPosition(qvScriptState* L);
int32_t WaitSongPosition(qvScriptState* L);
int32_t OpenMusic(qvScriptState* L);
int32_t CloseMusic(qvScriptState* L);
int32_t PlayMusic(qvScriptState* L);
int32_t StopMusic(qvScriptState* L);
int32_t PauseMusic(qvScriptState* L);
int32_t ResumeMusic(qvScriptState* L);
int32_t SeekMusic(qvScriptState* L);
int32_t SetMusicVolume(qvScriptState* L);
int32_t IsMusic(qvScriptState* L);
int32_t IsMusicPlaying(qvScriptState* L);
int32_t CreateMusic(qvScriptState* L);
int32_t FillMusicBuffer(qvScriptState* L);

}  // namespace qv::cmd

namespace qv {

// Helpers the handlers share (sample_commands.cpp).
// Panning from the script: the magic values -100000 (centre), -90000 (left), -80000 (right),
// clamped to 0-255.
int32_t MapPanning(int32_t value);
// A boolean option of the table at `table`.
bool GetFieldFlag(qvScriptState* L, int table, const char* key, bool* out);
// The range options of a table (or none when `table` is 0).
struct qvRangeOptions;
void ReadRangeOptions(qvScriptState* L, int table, qvRangeOptions* out, bool* freeSource);

}  // namespace qv
