// The format-10 row kernels (gPaths) over rows of formats 11, 12 and 13. Format 13 keeps its
// channels in the low three bytes, where format 10 does, and a blend treats each channel alike, so
// its rows go to the kernels as they are; 11 and 12 keep them a byte higher, so their words are
// turned a byte down into scratch, blended, and turned back (the spare byte, blended as the top
// byte, comes back 0, and whole copies keep it). The scalar switch (SetSimdLevel) keeps the
// per-pixel references of the callers.
#pragma once

#include <cstdint>

namespace qv::image {

// True when the rows of the format can take these paths now (formats 11-13, off the scalar
// switch).
bool FormatRowsApply(int32_t format);
void AlphaRowInFormat(int32_t format, uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t n);
void MixRowInFormat(int32_t format, uint32_t* d, const uint32_t* s, const uint8_t* mask,
                    int32_t bit0, int32_t weight, int32_t n);
// The tint colour is 0x00RRGGBB.
void TintRowInFormat(int32_t format, uint32_t* p, uint32_t colour, int32_t level, int32_t n);

}  // namespace qv::image
