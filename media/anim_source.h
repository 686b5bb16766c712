// Anim sources: an open anim file whose frames are decoded one at a time, in any order, behind one
// interface whatever the format. The format is told by the file's first bytes; each format has a
// reader (a row of operations) in the source table. Frames come back as width x height words
// 0x00RRGGBB that the caller hands back through FreeAnimSourceFrame. A source belongs to one thread
// at a time.
#pragma once

#include <cstdint>

namespace qv {

// Anim file types, by their first bytes.
enum : int32_t {
  kAnimFileNone = 0,
  kAnimFileIff = 1,       // "FORM" .... "ANIM"
  kAnimFileGif = 2,       // "GIF87" or "GIF89"
  kAnimFileAvi = 3,       // "RIFF" .... "AVI "
  kAnimFileReserved = 4,  // never opens
  kAnimFilePlugin = 5,    // an anim plugin's file
};

// What a reader of one format does. `open` answers 0 with its state and the facts, or an error
// code; `frame` a new frame or null; `delay` milliseconds (0 none).
struct qvAnimSourceReader {
  int (*open)(const char* name, void** state, int32_t* width, int32_t* height, int32_t* frames);
  uint32_t* (*frame)(void* state, int32_t n);
  int32_t (*delay)(const void* state, int32_t n);
  void (*freeFrame)(void* state, uint32_t* frame);
  void (*close)(void* state);
};

struct qvAnimSource {
  void* state;   // the reader's
  int32_t type;  // kAnimFile*
  const qvAnimSourceReader* reader;
  int32_t width, height, frames;
  bool alpha;  // the frames' top bytes are alpha (anim plugins only)
};

// The type of the file by its first 64 bytes (kAnimFileNone when it does not open or matches
// nothing).
int32_t IdentifyAnim(const char* name);

// Opens the file as an anim source. The name is stored as the error's text first. 0;
// ERR_READFILE when the file does not open; ERR_OPENANIM2 when it is no anim file, its type has
// no reader, or the reader refuses it; ERR_MEM.
int OpenAnimSource(const char* name, qvAnimSource** out);

// Frame n (from 0), or null when n is out of range or the frame does not decode.
uint32_t* LoadAnimSourceFrame(qvAnimSource* source, int32_t n);
// Frame n's delay in milliseconds (0 when the format has none or n is out of range).
int32_t GetAnimSourceFrameDelay(const qvAnimSource* source, int32_t n);
void FreeAnimSourceFrame(qvAnimSource* source, uint32_t* frame);  // null allowed
void CloseAnimSource(qvAnimSource* source);                       // null allowed

// True when the file opens as an anim source with more than one frame.
bool IsAnimFile(const char* name);

}  // namespace qv
