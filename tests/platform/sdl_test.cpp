#include <SDL.h>

#include <atomic>
#include <cstdlib>

#include "platform/sdl/sdl_window_system.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {
int Twice(intptr_t a0, intptr_t, intptr_t, intptr_t) { return static_cast<int>(a0 * 2); }
}  // namespace

// The real loop over SDL's dummy video driver: an event pushed from the script thread reaches the
// window procedure on the main thread at once, and signals (a request here) wake SDL's wait.
TEST_F(PlatformTest, SdlLoopWakesForInjectedEventsAndSignals) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  auto sdl = SdlWindowSystem::Create();
  ASSERT_NE(sdl, nullptr) << SDL_GetError();
  std::atomic<double> handled{-1};
  std::atomic<bool> onMain{false};
  uint32_t probe = SDL_RegisterEvents(1);
  sdl->SetEventHandler([&](const SDL_Event& e) {
    if (e.type != probe) return;
    onMain = IsMainThread();
    handled = NowMs();
  });
  SetWindowSystem(sdl.get());
  SetRequestHandler(WindowRequest::kOpen, Twice);
  double latency = -1;
  int doubled = 0;
  int rc = MessageLoop([&] {
    DelayMs(100);  // the loop is asleep in SDL
    SDL_Event e{};
    e.type = probe;
    double sent = NowMs();
    SDL_PushEvent(&e);
    while (handled.load() < 0 && NowMs() - sent < 2000) DelayMs(1);
    latency = handled.load() - sent;
    doubled = RunWindowRequest(WindowRequest::kOpen, 21);
    return 4;
  });
  SetRequestHandler(WindowRequest::kOpen, nullptr);
  SetWindowSystem(nullptr);
  EXPECT_EQ(rc, 4);
  EXPECT_TRUE(onMain);
  EXPECT_GE(latency, 0);
  EXPECT_LT(latency, 500);  // woken, not polled; loose for loaded CI machines
  EXPECT_EQ(doubled, 42);
}
