// IFF ANIM files: a first ILBM picture followed by forms of byte-vertical deltas (operation 5),
// decoded one frame at a time into two planar buffers, so that the usual deltas against the frame
// two back need no copying. Frames come back as width x height words 0x00RRGGBB (std::free).
#pragma once

#include <cstdint>

namespace qv {

struct qvIffAnim;

// Opens the file: 0 with the reader in *out and the picture's size and frame count, ERR_READFILE
// when the file does not open, ERR_MEM, or ERR_OPENANIM2 for anything the reader refuses.
int LoadIffAnim(const char* name, qvIffAnim** out, int32_t* width, int32_t* height,
                int32_t* frames);

// Frame n (from 0), or null when it does not decode (a delta of another operation, a damaged or
// missing delta, n out of range). A frame before the last one decoded is decoded again from the
// first; after the last frame the reader starts again at the first.
uint32_t* LoadIffAnimFrame(qvIffAnim* anim, int32_t n);

// Frame n's delay in milliseconds (the file counts sixtieths of a second), 0 where it has none.
int32_t GetIffAnimFrameDelay(const qvIffAnim* anim, int32_t n);

void FreeIffAnim(qvIffAnim* anim);  // null allowed

}  // namespace qv
