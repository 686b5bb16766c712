// The script's sound objects: samples and music, their lists, the one playing and the one paused
// music, and what the runtime asks of them (sound events, the fed music's need, attributes).
// Script thread only.
#pragma once

#include <cstdint>

#include "core/args.h"      // qvOptionalId
#include "core/registry.h"  // qvObjectHeader, qvObjectId

namespace qv {

struct qvPcmSample;
struct qvSampleStream;

struct qvSample {
  qvObjectHeader header;  // kObjectSample
  qvPcmSample* pcm;
  int32_t volume;     // 0-64
  int32_t frequency;  // the default pitch
  int32_t code;       // PCM format code
  uint32_t bytes;
  int32_t panning;  // 0-255, 128 centre
};

enum MusicKind : int32_t { kMusicStream = 1, kMusicModule = 2 };

struct qvMusic {
  qvObjectHeader header;  // kObjectMusic
  qvSampleStream* stream;
  int32_t kind;
  int32_t volume;
  bool paused;
  int32_t times;  // 0: endless
  int32_t pass;   // from 1
  int64_t position;
  bool custom;  // fed by the script
  bool seekable;
};

// Registers the two lists, the runtime hooks and GetAttribute's rows, starts the audio: 0 or an
// error code.
int32_t OpenSoundObjects();
// The runtime's attribute hook: `context` points at the object's id; tags 8-26 answer into out[0]
// (and out[1]: a sample's passes, a music's format name). 1 when handled, else 0.
int GetSoundAttribute(void* context, uint32_t tag, intptr_t* out);
// The same words of a sample or a music that was found (the hook tries samples first, so a music
// of a sample's number answers only here).
int SampleAttributeWords(const qvSample* sample, uint32_t tag, intptr_t* out);
int MusicAttributeWords(const qvMusic* music, uint32_t tag, intptr_t* out);
// Registers GetAttribute's rows of samples and music (core/attribute_table.h); part of
// OpenSoundObjects. 0 or an error code.
int32_t RegisterSoundAttributes();
// Shutdown: stops and frees everything, then the audio.
void StopAllSounds();
void FreeAllSounds(qvScriptState* L);

// Sound unavailable (runtime tag 3, or the device would not open): commands do nothing.
bool IsSoundUnavailable();
// Opens the device on first use; false (and sound unavailable from then on) when it cannot.
bool EnsureAudioDevice();

qvSample* FindSample(qvObjectId id);
// 0 with *out, or ERR_FINDARRAY (a handle) / ERR_FINDSAMPLE (a number, stored as the argument).
int32_t FindSampleOrError(qvObjectId id, qvSample** out);
// Appends a new sample for `pcm` under the id (a number first frees its namesake). Takes the PCM
// (freed on failure). 0 with *out, or ERR_MEM.
int32_t AddSample(qvScriptState* L, qvOptionalId id, qvPcmSample* pcm, int32_t frequency,
                  int32_t code, qvSample** out);
int32_t FreeSample(qvScriptState* L, qvObjectId id);

qvMusic* FindMusic(qvObjectId id);
int32_t FindMusicOrError(qvObjectId id, qvMusic** out);
// Opens a music file: 0, or ERR_READFILE, ERR_UNKNOWNMUSFMT, the stream's error.
int32_t OpenMusic(qvScriptState* L, qvOptionalId id, const char* file, qvMusic** out);
// A music fed by the script: 0, ERR_MEM, ERR_SEMAPHORE.
int32_t CreateFedMusic(qvScriptState* L, qvOptionalId id, int32_t frequency, int32_t code,
                       qvMusic** out);
// 0, ERR_NOCALLBACK inside a music callback for the playing fed music, or the find error.
int32_t CloseMusic(qvScriptState* L, qvObjectId id);
// Starting stops the playing music first; 0, ERR_NOCALLBACK, or the channel's error.
int32_t StartMusic(qvScriptState* L, qvMusic* music);
// Stops (or pauses) the playing music: 0 or ERR_NOCALLBACK.
int32_t StopPlayingMusic(qvScriptState* L, bool pause);
qvMusic* PlayingMusic();
qvMusic* PausedMusic();
// ms to a frame and a seek: 0, ERR_SEEKFORMAT, ERR_SEEKRANGE.
int32_t SeekMusic(qvScriptState* L, qvMusic* music, int32_t ms);
void SetMusicVolume(qvMusic* music, int32_t volume);
enum ModulePositionCode : int32_t {
  kModuleJump = 0,  // to song position `value`, row 0, at the stream's next refill
  kModuleRow = 1,
  kModuleSongPosition = 2,
  kModuleSongLength = 3,
};
// For the playing module: the jump request (0), or the next row, song position or the song's
// length. -1 when no module plays.
int32_t ControlModulePosition(int32_t code, int32_t value);
// Length and position in ms (position: the heard one while it plays).
int32_t MusicLengthMs(const qvMusic* music);
int32_t MusicPositionMs(const qvMusic* music);
int32_t MusicBitRate(const qvMusic* music);
// Frees the channels of musics whose end was reported and forgets them as playing.
void ReapEndedMusic();

// The flag that the event core sets while a FillMusicBuffer handler runs.
void SetInsideMusicCallback(bool inside);
bool InsideMusicCallback();
// What runs the script's FillMusicBuffer handler for `frames` frames of the music, with its
// context: the sound library, which knows the script's handlers, hands one over when it opens.
// 0 or the handler's error code.
using qvFillMusicRunner = int32_t (*)(void* context, qvScriptState* L, qvMusic* music,
                                      int32_t frames);
// Null forgets the runner.
void SetFillMusicRunner(qvFillMusicRunner run, void* context);
// Runs the FillMusicBuffer handler now, through the runner, with the inside-callback flag set
// around it. ERR_NOFMBHANDLER while no runner is set.
int32_t RunFillMusicHandler(qvScriptState* L, qvMusic* music, int32_t frames);

}  // namespace qv
