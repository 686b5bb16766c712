// The anchor of bench/shown_frames.sh: a bare SDL2 program showing a 1920x1080 picture in its
// window frame after frame, as the player's DisplayBrush does: two pictures in turn copied row by
// row into the window's software surface, each followed by SDL_UpdateWindowSurface.
//   frame_anchor TITLE FRAMES
#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  constexpr int kWidth = 1920, kHeight = 1080;
  const int frames = std::atoi(argv[2]);
  // The software surface in the window itself, as the player sets it: not a texture of a renderer.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
  SDL_Window* window = SDL_CreateWindow(argv[1], 0, 0, kWidth, kHeight, 0);
  if (window == nullptr) return 1;
  std::vector<uint32_t> pictures[2] = {std::vector<uint32_t>(size_t(kWidth) * kHeight, 0x336699),
                                       std::vector<uint32_t>(size_t(kWidth) * kHeight, 0x996633)};
  SDL_Event event;
  // The counter waits for the window: the first frames go to a window that is being mapped.
  SDL_Delay(300);
  for (int i = 0; i < frames; ++i) {
    while (SDL_PollEvent(&event)) {
    }
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (surface == nullptr) return 1;
    const std::vector<uint32_t>& picture = pictures[i & 1];
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(static_cast<uint8_t*>(surface->pixels) + int64_t{y} * surface->pitch,
                  picture.data() + size_t(y) * kWidth, size_t(kWidth) * 4);
    }
    SDL_UpdateWindowSurface(window);
  }
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
