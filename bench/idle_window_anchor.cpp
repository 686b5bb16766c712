// The anchor of bench/idle_window.sh: a bare SDL2 program with a 1920x1080 window that waits for
// events until it is asked to quit (SIGINT included).
#include <SDL.h>

int main() {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
  SDL_Window* window = SDL_CreateWindow("idle", 0, 0, 1920, 1080, 0);
  if (window == nullptr) return 1;
  SDL_Event event;
  while (SDL_WaitEvent(&event) != 0 && event.type != SDL_QUIT) {
  }
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
