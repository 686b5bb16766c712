// RIFF WAVE images of samples, the built-in format of SaveSample, and the sample-saver plugins'
// formats.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

struct qvPcmSample;

// The whole WAVE file of the sample's first `bytes` bytes at `frequency`: the RIFF size counts the
// data padded to four bytes with zeros, the data size does not; signed 8-bit data is stored + 128
// and big-endian 16-bit data byte-swapped, as WAVE wants them. False when memory runs out.
bool BuildWaveImage(const qvPcmSample* pcm, uint32_t bytes, int32_t frequency,
                    std::vector<uint8_t>* out);

// Saves the sample's first `bytes` bytes through the first sample-saver plugin of that format
// number: 0, ERR_UNKNOWNSMPOUT when no plugin saves it, ERR_SAVESAMPLE when the plugin fails.
int32_t SaveSampleWithPlugin(const qvPcmSample* pcm, uint32_t bytes, int32_t frequency,
                             uint32_t format, const char* file);

}  // namespace qv
