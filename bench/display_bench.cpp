// A full-screen Flip (cmake --preset bench): 1920 x 1080 with an overflowed dirty list, so the
// whole back buffer goes to the front buffer and the whole front buffer to the window; and an
// opaque 1920 x 1080 brush shown with DisplayBrush, into the display's picture and from there to
// the window; two 1920 x 1080 BGPics shown in turn with DisplayBGPic. All beside two memcpy of the
// same bytes (the bandwidth roof of two full copies), all reporting the bytes moved.
// And a 2000-segment curved path filled, and stroked 3 pixels wide with round joins, by DrawPath
// through the vector graphics plugin's engine onto a 1920 x 1080 display (its extents included),
// beside cairo drawing the same path in the same colour onto an ARGB32 surface, both anti-aliased.
// And 200 colour-keyed 32 x 32 sprites each moved by a pixel a frame on a 640 x 480 display with
// DisplaySprite (the old and new rectangles composed from the picture and the sprites, then
// brought to the window), beside SDL2 drawing the same scene a frame: the background and 200
// colour-keyed SDL_BlitSurface calls.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/draw.h"
#include "display/path_render.h"
#include "display/paths.h"
#include "display/sprites.h"
#include "layers/layers.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "plugins/vectorgfx/vectorgfx.h"
#include "vm/vm.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 4;

// A 1920 x 1080 borderless display, open and current; null (the state told) when it cannot be had.
qvScriptState* OpenFullDisplay(benchmark::State& state) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  if (OpenLibrary(L, kDisplayLibrary) != 0 || OpenLibrary(L, kGraphicsLibrary) != 0) {
    state.SkipWithError("libraries");
  }
  qvDisplayTags tags;
  tags.width = kWidth;
  tags.height = kHeight;
  tags.switchesGiven = tags.switchesOn = kDisplayBorderless;
  qvObjectId id{1, nullptr};
  qvDisplay* display = nullptr;
  if (CreateDisplayCore(L, &id, false, &tags, &display) != 0 ||
      OpenDisplayCore(L, display, true) != 0) {
    state.SkipWithError("display");
    return nullptr;
  }
  VmSetTop(L, 0);
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  return L;
}

void CloseFullDisplay(qvScriptState* L) {
  FreeDisplaySubsystem(L);
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(L);
}

void BM_Flip(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  if (BeginDoubleBuffer(L, false) != 0) state.SkipWithError("double buffer");
  for (auto _ : state) {
    AddDirtyRect(0, 0, kWidth, kHeight);  // everything is dirty
    if (FlipDisplay(L, false) != 0) state.SkipWithError("flip");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_Flip)->Name("Flip/ours/1920x1080")->Unit(benchmark::kMillisecond);

// An opaque 1920 x 1080 brush shown on a 1920 x 1080 display: the blit into the display's picture
// and the refresh of the window, beside the same two memcpy.
void BM_DisplayBrush(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  qvObjectId id{1, nullptr};
  if (AllocBrush(&id, false, kWidth, kHeight, 0x336699, false, false, false, false, nullptr) != 0) {
    state.SkipWithError("brush");
  }
  for (auto _ : state) {
    if (DisplayBrushObject(L, id, 0, 0) != 0) state.SkipWithError("display brush");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_DisplayBrush)->Name("DisplayBrush/ours/1920x1080")->Unit(benchmark::kMillisecond);

// DisplayBGPic alternating two BGPics of the display's size: each switch makes the other the
// display's background (its buffers filled from it) and refreshes the whole window.
void BM_BGPicSwitch(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  for (int32_t number : {2, 3}) {
    qvObjectId id{number, nullptr};
    if (CreateColorBGPic(&id, false, kWidth, kHeight, 0x102030u * number, nullptr) != 0) {
      state.SkipWithError("bgpic");
    }
  }
  int32_t next = 2;
  for (auto _ : state) {
    if (DisplayBGPicCore(L, {next, nullptr}, kPositionNotGiven, kPositionNotGiven, nullptr) != 0) {
      state.SkipWithError("display bgpic");
    }
    next = 5 - next;
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_BGPicSwitch)->Name("bgpic_switch/quillvane/1920/1080")->Unit(benchmark::kMillisecond);

void BM_TwoMemcpy(benchmark::State& state) {
  std::vector<uint8_t> back(kBytes, 1), front(kBytes, 2), window(kBytes, 3);
  for (auto _ : state) {
    std::memcpy(front.data(), back.data(), kBytes);
    std::memcpy(window.data(), front.data(), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
}
BENCHMARK(BM_TwoMemcpy)->Name("Flip/two_memcpy/1920x1080")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoMemcpy)->Name("bgpic_switch/memcpy/1920/1080")->Unit(benchmark::kMillisecond);

// The path: 2000 cubic curves around a wavy ring across most of the screen.
constexpr int kSegments = 2000;
struct CurvePoint {
  double x, y;
};
CurvePoint RingPoint(double t) {
  const double a = 2 * M_PI * t, r = 420 + 90 * std::sin(7 * a);
  return {960 + 1.9 * r * std::cos(a), 540 + r * std::sin(a)};
}
template <typename Move, typename Curve>
void WalkRing(Move move, Curve curve) {
  CurvePoint p = RingPoint(0);
  move(p.x, p.y);
  for (int i = 0; i < kSegments; ++i) {
    CurvePoint c1 = RingPoint((i + 1.0 / 3) / kSegments), c2 = RingPoint((i + 2.0 / 3) / kSegments);
    CurvePoint e = RingPoint(double(i + 1) / kSegments);
    // The control points pushed out and in, so that every segment bends.
    curve(c1.x + 6, c1.y - 6, c2.x - 6, c2.y + 6, e.x, e.y);
  }
}

constexpr uint32_t kPathColour = 0x3366CC;

void BM_PathQuillvane(benchmark::State& state, bool fill) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  static const qvVectorEngine kEngine{vgfx::PathExtents,     vgfx::DrawPathCoverage,
                                      vgfx::TranslateStream, vgfx::CurrentPoint,
                                      vgfx::CreateFont,      vgfx::FreeFont};
  SetVectorEngineOverride(&kEngine);
  if (RegisterPaths() != 0) state.SkipWithError("paths");
  qvPath* path = nullptr;
  if (StartPath(L, {1, 0}, &path) != 0) state.SkipWithError("path");
  WalkRing(
      [&](double x, double y) {
        const qvSegmentOperand ops[] = {IntOperand(0), DoubleOperand(x), DoubleOperand(y)};
        AppendPathSegment(path, QV_SEG_MOVETO, ops, 3);
      },
      [&](double x1, double y1, double x2, double y2, double x3, double y3) {
        const qvSegmentOperand ops[] = {IntOperand(0),     DoubleOperand(x1), DoubleOperand(y1),
                                        DoubleOperand(x2), DoubleOperand(y2), DoubleOperand(x3),
                                        DoubleOperand(y3)};
        AppendPathSegment(path, QV_SEG_CURVETO, ops, 7);
      });
  AppendPathSegment(path, QV_SEG_CLOSEPATH, nullptr, 0);
  qvDrawStyle style;
  InitDrawStyle(&style);
  style.formStyle = kFormAntialias;
  style.fillStyle = fill ? kFillColour : kFillNone;
  style.lineWidth = 3;
  SetPathLineJoin(1);
  for (auto _ : state) {
    if (DrawPathById(L, {1, nullptr}, 100, 60, kPathColour, style, nullptr) != 0) {
      state.SkipWithError("draw");
    }
    benchmark::ClobberMemory();
  }
  FreeAllPaths(L);
  SetVectorEngineOverride(nullptr);
  CloseFullDisplay(L);
}
BENCHMARK_CAPTURE(BM_PathQuillvane, fill, true)
    ->Name("path_fill/quillvane/2000_curves_1920x1080")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PathQuillvane, stroke, false)
    ->Name("path_stroke/quillvane/2000_curves_3px_round_1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_PathCairo(benchmark::State& state, bool fill) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0x33 / 255.0, 0x66 / 255.0, 0xCC / 255.0);
  cairo_set_line_width(cr, 3);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (auto _ : state) {
    WalkRing([&](double x, double y) { cairo_move_to(cr, x, y); },
             [&](double x1, double y1, double x2, double y2, double x3, double y3) {
               cairo_curve_to(cr, x1, y1, x2, y2, x3, y3);
             });
    cairo_close_path(cr);
    if (fill) {
      cairo_fill(cr);
    } else {
      cairo_stroke(cr);
    }
    cairo_surface_flush(surface);
    benchmark::ClobberMemory();
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK_CAPTURE(BM_PathCairo, fill, true)
    ->Name("path_fill/cairo/2000_curves_1920x1080")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PathCairo, stroke, false)
    ->Name("path_stroke/cairo/2000_curves_3px_round_1920x1080")
    ->Unit(benchmark::kMillisecond);

constexpr int32_t kSpriteCount = 200, kSpriteSide = 32, kSceneWidth = 640, kSceneHeight = 480;
constexpr int32_t kSideSpan = kSpriteSide + 1;

// Where sprite i stands in frame f: spread over the scene, one pixel right and down a frame.
void SpritePlace(int32_t i, int64_t f, int32_t* x, int32_t* y) {
  *x = static_cast<int32_t>((i * 37 + f) % (kSceneWidth - kSideSpan));
  *y = static_cast<int32_t>((i * 53 + f) % (kSceneHeight - kSideSpan));
}

// A 32 x 32 picture of a filled disc on the key colour (black), the corners keyed out.
void PaintSprite(uint32_t* pixels, int32_t stride, uint32_t colour) {
  for (int32_t y = 0; y < kSpriteSide; ++y) {
    for (int32_t x = 0; x < kSpriteSide; ++x) {
      int32_t dx = 2 * x - kSpriteSide + 1, dy = 2 * y - kSpriteSide + 1;
      pixels[y * stride + x] = dx * dx + dy * dy <= kSpriteSide * kSpriteSide ? colour : 0;
    }
  }
}

void BM_SpritesQuillvane(benchmark::State& state) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  if (OpenLibrary(L, kDisplayLibrary) != 0 || OpenLibrary(L, kGraphicsLibrary) != 0 ||
      OpenLayerSystem() != 0) {
    state.SkipWithError("libraries");
    return;
  }
  qvDisplayTags tags;
  tags.width = kSceneWidth;
  tags.height = kSceneHeight;
  tags.switchesGiven = tags.switchesOn = kDisplayBorderless;
  qvObjectId displayId{1, nullptr};
  qvDisplay* display = nullptr;
  if (CreateDisplayCore(L, &displayId, false, &tags, &display) != 0 ||
      OpenDisplayCore(L, display, true) != 0) {
    state.SkipWithError("display");
    return;
  }
  VmSetTop(L, 0);
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  FillBitMapRect(display->displayBitmap, 0, 0, kSceneWidth, kSceneHeight, 0x336699);
  std::vector<uint32_t> argb(size_t{kSpriteSide} * kSpriteSide);
  for (int32_t i = 0; i < kSpriteCount; ++i) {
    PaintSprite(argb.data(), kSpriteSide, 0xFF000000u | static_cast<uint32_t>(i * 0x010305 + 1));
    auto** bitmaps = static_cast<qvBitMap**>(std::calloc(1, sizeof(qvBitMap*)));
    auto** masks = static_cast<qvPlane**>(std::calloc(1, sizeof(qvPlane*)));
    auto** alphas = static_cast<qvPlane**>(std::calloc(1, sizeof(qvPlane*)));
    AllocBitMapFromARGB(argb.data(), 0, kSpriteSide, kSpriteSide, kSpriteSide, &bitmaps[0],
                        &masks[0]);
    qvObjectId id{i + 1, nullptr};
    AddSprite(&id, false, kSpriteSide, kSpriteSide, nullptr, bitmaps, masks, alphas, 1, 0, nullptr,
              nullptr);
  }
  int64_t frame = 0;
  for (auto _ : state) {
    for (int32_t i = 0; i < kSpriteCount; ++i) {
      int32_t x = 0, y = 0;
      SpritePlace(i, frame, &x, &y);
      if (DisplaySpriteCore(L, {i + 1, nullptr}, x, y, 1) != 0) state.SkipWithError("sprite");
    }
    ++frame;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSpriteCount);
  CloseFullDisplay(L);
  CloseLayerSystem();
}
BENCHMARK(BM_SpritesQuillvane)
    ->Name("sprites/quillvane/200_keyed_32x32_640x480")
    ->Unit(benchmark::kMicrosecond);

void BM_SpritesSdl(benchmark::State& state) {
  SDL_Surface* screen = SDL_CreateRGBSurfaceWithFormat(0, kSceneWidth, kSceneHeight, 32,
                                                       SDL_PIXELFORMAT_ARGB8888);
  SDL_Surface* background = SDL_CreateRGBSurfaceWithFormat(0, kSceneWidth, kSceneHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888);
  SDL_FillRect(background, nullptr, 0xFF336699u);
  SDL_SetSurfaceBlendMode(background, SDL_BLENDMODE_NONE);
  std::vector<SDL_Surface*> sprites;
  for (int32_t i = 0; i < kSpriteCount; ++i) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, kSpriteSide, kSpriteSide, 32,
                                                    SDL_PIXELFORMAT_ARGB8888);
    PaintSprite(static_cast<uint32_t*>(s->pixels), s->pitch / 4,
                0xFF000000u | static_cast<uint32_t>(i * 0x010305 + 1));
    // A plain keyed copy, as ours: no blending by the alpha byte.
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    SDL_SetColorKey(s, SDL_TRUE, 0);
    sprites.push_back(s);
  }
  int64_t frame = 0;
  for (auto _ : state) {
    SDL_BlitSurface(background, nullptr, screen, nullptr);
    for (int32_t i = 0; i < kSpriteCount; ++i) {
      SDL_Rect r{0, 0, kSpriteSide, kSpriteSide};
      SpritePlace(i, frame, &r.x, &r.y);
      SDL_BlitSurface(sprites[static_cast<size_t>(i)], nullptr, screen, &r);
    }
    ++frame;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSpriteCount);
  for (SDL_Surface* s : sprites) SDL_FreeSurface(s);
  SDL_FreeSurface(background);
  SDL_FreeSurface(screen);
}
BENCHMARK(BM_SpritesSdl)
    ->Name("sprites/sdl2/200_keyed_32x32_640x480")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
