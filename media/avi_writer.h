// Motion-JPEG AVI files: one 16-bit stereo PCM stream of silence (stream 0, "00wb") beside one
// Motion-JPEG video stream (stream 1, "01dc"), with the OpenDML indexes so that a file may grow
// past the 1 GB and 2 GB marks of plain AVI in further "AVIX" RIFFs, and the legacy "idx1" index
// of the first RIFF for older readers. Written in one forward pass: the headers and index chunks
// are reserved at a fixed size and filled in place later.
#pragma once

#include <cstdint>

namespace qv {

struct qvAviWriter;

// Where a RIFF ends: the first once more than `first` bytes are written, each further one after
// `further` bytes. The defaults keep every RIFF below 2^31 bytes; tests lower them.
struct qvAviLimits {
  int64_t first = 1000000000;
  int64_t further = 2000000000;
};

// Creates the file and writes its headers: 0 with the writer in *out, or ERR_OUTOFRANGE for a
// frame rate below 1 or above 1,000,000 (nothing is created), ERR_OUTOFRANGE for a width or
// height below 1, ERR_WRITEFILE when the file or the temporary index file cannot be created or
// written (the file's name stored as the error's text), ERR_MEM. The audio runs at the highest
// rate up to 44100 Hz that gives every frame a whole number of samples.
int OpenAVIWriter(const char* name, int32_t fps, int32_t width, int32_t height, int32_t quality,
                  const char* title, qvAviWriter** out, const qvAviLimits& limits = {});

// Appends one frame: a chunk of silence and the picture (width x height words 0x00RRGGBB, rows
// `wordsPerRow` apart), scaled to the writer's size when it differs. A null picture repeats the
// frame before (black when there is none). 0; ERR_WRITEFILE when a write fails, ERR_SAVEANIM when
// the file's index of indexes is full, ERR_MEM, or the JPEG writer's code.
int WriteAVIFrame(qvAviWriter* writer, const uint32_t* pixels, int64_t wordsPerRow, int32_t width,
                  int32_t height);

// Completes the file (indexes, sizes, the headers with the final counts), closes it and frees the
// writer. 0, or ERR_WRITEFILE when a write or the close fails.
int FinishAVIFile(qvAviWriter* writer);

// Closes both files, deletes the temporary one and frees the writer (null allowed). The output is
// left as far as it was written.
void FreeAVIWriter(qvAviWriter* writer);

// Facts for callers and tests.
int32_t AVIWriterSampleRate(const qvAviWriter* writer);
int32_t AVIWriterSamplesPerFrame(const qvAviWriter* writer);

}  // namespace qv
