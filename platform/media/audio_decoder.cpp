// Placeholder until FFmpeg decoding is built: no compressed format is understood.
#include "platform/audio_decoder.h"

#include "base/errors.h"

namespace qv {

int32_t OpenAudioDecoder(const qvDecoderIo&, bool, qvAudioDecoder** out, qvDecoderFormat*) {
  *out = nullptr;
  return ERR_OPENSOUND;
}
int32_t ReadAudioDecoder(qvAudioDecoder*, int16_t*, int32_t, bool* end) {
  if (end) *end = true;
  return 0;
}
int32_t SeekAudioDecoder(qvAudioDecoder*, int64_t) { return ERR_SEEK; }
void StopAudioDecoderWait(qvAudioDecoder*) {}
void CloseAudioDecoder(qvAudioDecoder*) {}

}  // namespace qv
