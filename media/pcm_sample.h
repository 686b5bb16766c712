// PCM as the sound engine keeps it: the format codes shared by samples, streams and the mixer,
// their mapping to the script's format constants, and the engine sample with its sound buffer.
//
// All PCM is little-endian interleaved; 8-bit data is unsigned unless a record's flags say signed.
// Script thread only, except where a function says otherwise.
#pragma once

#include <cstdint>

namespace qv {

struct qvSoundBuffer;

enum PcmCode : int32_t {
  kPcm8Mono = 0,  // unsigned
  kPcm8Stereo = 1,
  kPcm8MonoSigned = 2,
  kPcm8StereoSigned = 3,
  kPcm16Mono = 4,  // signed
  kPcm16Stereo = 5,
};
inline constexpr uint32_t kPcmBigEndian = 1;  // 16-bit data stored big-endian
inline constexpr uint32_t kPcmSigned = 2;
// The script's format constants.
enum ScriptFormat : int32_t { kMono8 = 0, kMono16 = 1, kStereo8 = 2, kStereo16 = 3 };

// The code of a layout: -1 for a bit depth other than 8 and 16.
int32_t GetPcmFormatCode(int32_t bits, int32_t channels, uint32_t flags);
// Bytes per frame of a code; 0 for anything else.
int32_t GetPcmFrameSize(int32_t code);
int32_t PcmChannels(int32_t code);  // 1 or 2
int32_t PcmBits(int32_t code);      // 8 or 16
// Script format 0-3 to the engine's signed codes 2, 4, 3, 5; -1 outside.
int32_t ScriptFormatToPcm(int32_t format);
// Engine code to the script's constant (0 and 2 MONO8, 1 and 3 STEREO8, 4 MONO16, 5 STEREO16).
int32_t PcmToScriptFormat(int32_t code);

// The engine's sample: owns its data and its sound buffer.
struct qvPcmSample {
  uint8_t* data;
  int32_t bits;
  int32_t frameSize;
  int32_t channels;
  uint32_t flags;
  uint32_t frames;
  qvSoundBuffer* buffer;
  int32_t loadedCode;  // the code of the file it was loaded from
  int32_t frequency;
};

// Loads a whole sound file (any stream kind but music): 0, or ERR_STREAMASSAMPLE for a stream
// without data, ERR_8OR16BITONLY, ERR_MEM, ERR_LOADSOUND (also for a sound longer than a sound
// buffer holds), ERR_USERABORT when the user asks to quit during the decode, or the open error.
// Script thread. *out gets the
// sample, *bytes its length, *frequency and *code its rate and format code.
int32_t LoadSampleFile(const char* name, qvPcmSample** out, uint32_t* bytes, int32_t* frequency,
                       int32_t* code);
// Takes `data` (malloc'd; freed on failure too) of `frames` frames in `code` (8-bit data of codes
// 2 and 3 as the script delivers it, made unsigned in place). 0, ERR_MEM or ERR_LOADSOUND. *stored
// gets the code the sample keeps (0/1 for 8-bit, 4/5 for 16-bit).
int32_t CreatePcmSample(uint8_t* data, uint32_t frames, int32_t frequency, int32_t code,
                        qvPcmSample** out, int32_t* stored);
// A copy with its own data and buffer: 0, ERR_MEM or ERR_LOADSOUND.
int32_t CopyPcmSample(const qvPcmSample* source, int32_t frequency, qvPcmSample** out);
// The sample takes `data` (malloc'd) of `frames` frames in its own layout; the old data and buffer
// go. 0, or ERR_LOADSOUND when the new buffer cannot be made: the sample then keeps its old data.
int32_t ReplaceSampleData(qvPcmSample* pcm, uint8_t* data, uint32_t frames, int32_t frequency);
void FreePcmSample(qvPcmSample* pcm);
bool IsSampleBigEndian(const qvPcmSample* pcm);
// True when the file opens as a sound stream with data.
bool ProbeSampleFile(const char* name);
// One sample value of channel `channel` (0 or 1; a mono sample gives its one value) of a frame as
// signed 16-bit (8-bit values times 256).
int32_t PcmValue16(const qvPcmSample* pcm, uint32_t frame, int channel);

}  // namespace qv
