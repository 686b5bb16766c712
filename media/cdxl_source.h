// The CDXL reader: a video of equally sized chunks, each a 32-byte header, a palette of 0x0RGB
// words, one bit-planar frame (palette or HAM) and an optional block of signed 8-bit mono sound.
// It is the packet source the internal video engine reads without a plugin: each chunk gives a
// video packet and then, when it has sound, a sound packet with the same time stamp.
#pragma once

#include <cstdint>
#include <memory>

#include "media/video_source.h"

namespace qv {

// Frames per second of a file of `chunkSize`-byte chunks, as the single, double and quad speed
// CD drives the format was made for read them.
double CdxlFramesPerSecond(uint32_t chunkSize);

// Opens `name` as CDXL. 0; ERR_READFILE when it does not open; ERR_LOADVIDEO when it is no CDXL
// this reader plays (a bad first header, a second chunk of another size, a palette over 256
// colours, parts that do not fit in the chunk, no pixels, more than 8 planes or a layout other
// than bit-planar); ERR_MEM.
int32_t OpenCdxlSource(const char* name, std::unique_ptr<qvVideoSource>* out);

}  // namespace qv
