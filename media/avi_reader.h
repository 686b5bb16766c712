// AVI files as anim sources: the video stream of uncompressed 24-bit or Motion-JPEG frames, found
// through the legacy index when the file has one and by walking the chunks otherwise. Audio
// streams are noted, never decoded. Frames come back as width x height words 0x00RRGGBB
// (std::free).
#pragma once

#include <cstdint>

namespace qv {

struct qvAviReader;

// Opens the file: 0 with the reader in *out, the picture's size and the frame count;
// ERR_READFILE when the file does not open, ERR_MEM, or ERR_OPENANIM2 for anything the reader
// refuses (no video stream, a video format other than 24-bit or Motion-JPEG, headers that
// disagree).
int OpenAviFile(const char* name, qvAviReader** out, int32_t* width, int32_t* height,
                int32_t* frames);

// Frame n (from 0), or null when it cannot be found or does not decode. Reading on from the
// last frame continues where it stopped; after the last frame the reader starts again at the first.
uint32_t* ReadAviFrame(qvAviReader* avi, int32_t n);

void CloseAviFile(qvAviReader* avi);  // null allowed

}  // namespace qv
