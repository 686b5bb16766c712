// The output device of the mixer: one SDL audio device at 48000 Hz, 16-bit stereo, whose thread
// pulls RenderMix. SDL_AUDIODRIVER=dummy or disk runs it without a sound card.
#include <mutex>

#include "base/errors.h"
#include "platform/mixer.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

namespace {

std::mutex gDeviceLock;
SDL_AudioDeviceID gDevice = 0;

void DeviceCallback(void*, Uint8* stream, int len) {
  RenderMix(reinterpret_cast<int16_t*>(stream), len / 4);
}

}  // namespace

// SDL keeps per-thread data (its error text) for threads it did not start, such as the script
// thread that opens the device; nothing would free it at exit.
struct ThreadDataCleanup {
  ~ThreadDataCleanup() { SDL_TLSCleanup(); }
};

int OpenAudioOutput() {
  std::lock_guard<std::mutex> g(gDeviceLock);
  if (gDevice != 0) return 0;
  if (!LoadSdl()) return ERR_OPENAUDIO;
  ThreadDataCleanup cleanup;
  // The audio subsystem brings SDL's events, whose SIGINT and SIGTERM handlers would replace the
  // platform's own where no window system set this already: a run without windows would no
  // longer hear a quit once it had opened its sound.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return ERR_OPENAUDIO;
  SDL_AudioSpec want{};
  want.freq = kMixRate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  // About 21 ms per pull: well inside the 250 ms that music streams keep ahead, and a sound
  // started lies at most that much behind. Each pull wakes the device's thread, which with 512
  // frames cost more processor time than decoding an MP3 stream.
  want.samples = 1024;
  want.callback = DeviceCallback;
  SDL_AudioSpec have{};
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return ERR_OPENAUDIO;
  }
  gDevice = device;
  SDL_PauseAudioDevice(device, 0);
  return 0;
}

void CloseAudioOutput() {
  std::lock_guard<std::mutex> g(gDeviceLock);
  if (gDevice == 0) return;
  ThreadDataCleanup cleanup;
  SDL_CloseAudioDevice(gDevice);
  gDevice = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  // The last subsystem out frees what SDL keeps besides (its hints, the device lists).
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

bool IsAudioOutputOpen() {
  std::lock_guard<std::mutex> g(gDeviceLock);
  return gDevice != 0;
}

}  // namespace qv
