// 100 moving 128 x 128 alpha layers on a 1920 x 1080 display (every tenth half transparent, four
// with a shadow, four with a border), three pixels a frame: moved by the move core one by one
// (each move recomposed at once) and, separately, collected in the batch list and flushed once;
// beside a pixman loop that composites the same layers OVER the same rectangles through a8 masks.
// The counters give the redrawn area against the sum of the changed bounds (old and new bounds of
// every layer), per frame; the player's come from its own lists. The player also brings every
// recomposed rectangle to its (headless) window, which the pixman loop does not.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/sprites.h"
#include "layers/layer_refresh.h"
#include "layers/layers.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace qv {
namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kSide = 128, kLayers = 100;
constexpr int32_t kStep = 3;
constexpr uint32_t kBackground = 0xFF336699u;
// Shadow: 4 pixels down and right, radius 5; border: 2 pixels.
constexpr int32_t kShadowSize = 4, kShadowRadius = 5, kBorder = 2;

bool HasShadow(int32_t i) { return i % 25 == 3; }
bool HasBorder(int32_t i) { return i % 25 == 12; }
int32_t TransparencyOf(int32_t i) { return i % 10 == 7 ? 128 : 0; }
uint32_t ColourOf(int32_t i) {
  return 0xFF000000u | static_cast<uint32_t>(i * 0x02050B + 0x203040);
}

// Where layer i stands in frame f: spread over the display, kStep right and down a frame.
void Place(int32_t i, int64_t f, int32_t* x, int32_t* y) {
  *x = static_cast<int32_t>((i * 173 + f * kStep) % (kWidth - kSide - 16)) + 8;
  *y = static_cast<int32_t>((i * 97 + f * kStep) % (kHeight - kSide - 16)) + 8;
}

// A disc of full coverage with a soft edge eight pixels wide, 0 in the corners.
std::vector<uint8_t> DiscAlpha() {
  std::vector<uint8_t> a(size_t{kSide} * kSide);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      double dx = x - 63.5, dy = y - 63.5;
      double d = 64.0 - std::sqrt(dx * dx + dy * dy);
      a[size_t(y) * kSide + x] = static_cast<uint8_t>(std::clamp(d * 32.0, 0.0, 255.0));
    }
  }
  return a;
}

// The layer's bounds at (x, y), as the layer refresh computes them for these effects.
qvLayerArea Bounds(int32_t i, int32_t x, int32_t y) {
  qvLayerArea r{x, y, kSide, kSide};
  if (HasBorder(i)) r = {x - kBorder, y - kBorder, kSide + 2 * kBorder, kSide + 2 * kBorder};
  if (HasShadow(i)) {
    int32_t sx = x - kShadowRadius + kShadowSize, sy = y - kShadowRadius + kShadowSize;
    int32_t x2 = std::max(r.x + r.width, sx + kSide + 2 * kShadowRadius);
    int32_t y2 = std::max(r.y + r.height, sy + kSide + 2 * kShadowRadius);
    r = {std::min(r.x, sx), std::min(r.y, sy), x2 - std::min(r.x, sx), y2 - std::min(r.y, sy)};
  }
  return r;
}

int64_t ClippedArea(const qvLayerArea& r) {
  int64_t x1 = std::max(r.x, 0), y1 = std::max(r.y, 0);
  int64_t x2 = std::min<int64_t>(int64_t{r.x} + r.width, kWidth);
  int64_t y2 = std::min<int64_t>(int64_t{r.y} + r.height, kHeight);
  return x2 > x1 && y2 > y1 ? (x2 - x1) * (y2 - y1) : 0;
}

qvLayerArea Union(const qvLayerArea& a, const qvLayerArea& b) {
  int32_t x1 = std::min(a.x, b.x), y1 = std::min(a.y, b.y);
  int32_t x2 = std::max(a.x + a.width, b.x + b.width),
          y2 = std::max(a.y + a.height, b.y + b.height);
  return {x1, y1, x2 - x1, y2 - y1};
}

// The rectangles a frame recomposes: one union of old and new bounds per layer, or (batched)
// the same collected and merged.
std::vector<qvLayerArea> FrameRects(int64_t f, bool batched) {
  std::vector<qvRect> entries;
  for (int32_t i = 0; i < kLayers; ++i) {
    int32_t ox, oy, nx, ny;
    Place(i, f, &ox, &oy);
    Place(i, f + 1, &nx, &ny);
    qvLayerArea u = Union(Bounds(i, ox, oy), Bounds(i, nx, ny));
    entries.push_back({u.x, u.y, u.x + u.width - 1, u.y + u.height - 1});
  }
  if (batched) {
    qvRectList list{entries.data(), static_cast<int32_t>(entries.size()), 1024};
    MergeDirtyRects(&list);
  }
  std::vector<qvLayerArea> rects;
  for (const qvRect& e : entries) {
    if (e.x1 != kAbsorbedRect) rects.push_back({e.x1, e.y1, e.x2 - e.x1 + 1, e.y2 - e.y1 + 1});
  }
  return rects;
}

// The same counters for the pixman loop, from the rectangles it is given.
void SetAreaCounters(benchmark::State& state, bool batched) {
  int64_t changed = 0, redrawn = 0;
  constexpr int kFrames = 60;
  for (int64_t f = 0; f < kFrames; ++f) {
    for (int32_t i = 0; i < kLayers; ++i) {
      int32_t ox, oy, nx, ny;
      Place(i, f, &ox, &oy);
      Place(i, f + 1, &nx, &ny);
      changed += ClippedArea(Bounds(i, ox, oy)) + ClippedArea(Bounds(i, nx, ny));
    }
    for (const qvLayerArea& r : FrameRects(f, batched)) redrawn += ClippedArea(r);
  }
  state.counters["changed_px_per_frame"] = static_cast<double>(changed) / kFrames;
  state.counters["redrawn_px_per_frame"] = static_cast<double>(redrawn) / kFrames;
  state.counters["redrawn_per_changed"] = static_cast<double>(redrawn) /
                                          static_cast<double>(changed);
}

// ---- the player ----

struct Scene {
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
  std::vector<qvLayer*> layers;
};

bool OpenScene(benchmark::State& state, Scene* scene) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  scene->L = VmOpenState(CoreVmHost());
  SetProcessVm(scene->L);
  if (OpenDisplaySubsystem() != 0 || OpenDrawAttributes() != 0 || OpenLayerSystem() != 0) {
    state.SkipWithError("subsystems");
    return false;
  }
  ResetDisplayOptionDefaults();
  qvDisplayTags tags;
  tags.width = kWidth;
  tags.height = kHeight;
  tags.colour = kBackground & 0xFFFFFF;
  tags.switchesGiven = tags.switchesOn = kDisplayBorderless;
  qvObjectId id{1, nullptr};
  if (CreateDisplayCore(scene->L, &id, false, &tags, &scene->display) != 0 ||
      OpenDisplayCore(scene->L, scene->display, true) != 0) {
    state.SkipWithError("display");
    return false;
  }
  qvDisplay* d = scene->display;
  SetCurrentDisplay(d);
  SetOutputTarget(d->bgpic);
  d->layersOn = 1;
  std::vector<uint8_t> alpha = DiscAlpha();
  for (int32_t i = 0; i < kLayers; ++i) {
    int32_t x, y;
    Place(i, 0, &x, &y);
    qvLayerOptions options{};
    options.transparency = TransparencyOf(i);
    options.shadow = {HasShadow(i) ? 1 : 0,  0x80000000u,        kShadowSize, 3,
                      double{kShadowRadius}, kShadowRadius / 3.0};
    options.border = {HasBorder(i) ? 1 : 0, 0xFFFFFFu, kBorder};
    qvLayerRequest r;
    r.bgpic = d->bgpic;
    r.display = d;
    r.type = kObjectBrush;
    r.x = x;
    r.y = y;
    r.width = r.height = kSide;
    r.options = &options;
    r.state = AllocLayerState(kObjectBrush);
    r.bitmap = AllocBitMap(kSide, kSide);
    r.alpha = AllocAlphaChannel(kSide, kSide, true);
    if (r.state == nullptr || r.bitmap == nullptr || r.alpha == nullptr) {
      state.SkipWithError("memory");
      return false;
    }
    r.state->x = x;
    r.state->y = y;
    r.state->width = r.state->height = kSide;
    FillBitMapRect(r.bitmap, 0, 0, kSide, kSide, ColourOf(i));
    for (int32_t row = 0; row < kSide; ++row) {
      std::memcpy(r.alpha->data + size_t(row) * r.alpha->bytesPerRow,
                  alpha.data() + size_t(row) * kSide, kSide);
    }
    qvLayer* layer = nullptr;
    if (CreateLayerRecord(scene->L, r, &layer) != 0) {
      state.SkipWithError("layer");
      return false;
    }
    scene->layers.push_back(layer);
  }
  // The comparison means something only where the compositor draws the layers: the centre of
  // the first (opaque) layer must not show the background.
  RefreshLayerRect(scene->L, 0, 0, kWidth, kHeight);
  int32_t x, y;
  Place(0, 0, &x, &y);
  const qvBitMap* shown = d->windowBitmap;
  uint32_t centre = reinterpret_cast<const uint32_t*>(
      shown->pixels + size_t(y + kSide / 2) * shown->bytesPerRow)[x + kSide / 2];
  if ((centre & 0xFFFFFF) == (kBackground & 0xFFFFFF)) {
    state.SkipWithError("the compositor draws no layers");
    return false;
  }
  return true;
}

void CloseScene(Scene* scene) {
  if (scene->display != nullptr) FreeLayerList(scene->L, scene->display->bgpic, true, true);
  CloseLayerSystem();
  FreeDisplaySubsystem(scene->L);
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(scene->L);
}

void BM_LayersQuillvane(benchmark::State& state) {
  bool batched = state.range(0) != 0;
  Scene scene;
  if (OpenScene(state, &scene)) {
    qvBGPic* bgpic = scene.display->bgpic;
    int64_t f = 0;
    for (auto _ : state) {
      qvRectList* batch = batched ? LayerBatchList() : nullptr;
      if (batched) ResetLayerBatchList();
      for (int32_t i = 0; i < kLayers; ++i) {
        int32_t x, y;
        Place(i, f + 1, &x, &y);
        MoveLayerCore(scene.L, bgpic, scene.layers[size_t(i)], nullptr, x, y, false, 0, batch);
      }
      if (batched) FlushDirtyRects(scene.L, batch);
      ++f;
      benchmark::ClobberMemory();
    }
    // The areas from the layers themselves: 60 more frames collected without a refresh, merged
    // when batched, beside the old and new bounds of every layer.
    constexpr int kFrames = 60;
    int64_t changed = 0, redrawn = 0;
    qvRectList list{new qvRect[1024], 0, 1024};
    for (int k = 0; k < kFrames; ++k, ++f) {
      list.count = 0;
      for (int32_t i = 0; i < kLayers; ++i) {
        qvLayer* layer = scene.layers[size_t(i)];
        changed += ClippedArea(GetLayerBounds(scene.display, bgpic, layer, layer->current));
        int32_t x, y;
        Place(i, f + 1, &x, &y);
        MoveLayerCore(scene.L, bgpic, layer, nullptr, x, y, false, 0, &list);
        changed += ClippedArea(GetLayerBounds(scene.display, bgpic, layer, layer->current));
      }
      if (batched) MergeDirtyRects(&list);
      for (int32_t n = 0; n < list.count; ++n) {
        const qvRect& e = list.entries[n];
        if (e.x1 != kAbsorbedRect)
          redrawn += ClippedArea({e.x1, e.y1, e.x2 - e.x1 + 1, e.y2 - e.y1 + 1});
      }
    }
    delete[] list.entries;
    state.counters["changed_px_per_frame"] = static_cast<double>(changed) / kFrames;
    state.counters["redrawn_px_per_frame"] = static_cast<double>(redrawn) / kFrames;
    state.counters["redrawn_per_changed"] = static_cast<double>(redrawn) /
                                            static_cast<double>(changed);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
  }
  CloseScene(&scene);
}
BENCHMARK(BM_LayersQuillvane)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("batched")
    ->Name("layers/quillvane/100_alpha_128x128_1920x1080")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- pixman ----

void BM_LayersPixman(benchmark::State& state) {
  bool batched = state.range(0) != 0;
  std::vector<uint32_t> screen(size_t{kWidth} * kHeight),
      back(size_t{kWidth} * kHeight, kBackground);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, screen.data(),
                                                 kWidth * 4);
  pixman_image_t* bg = pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, back.data(),
                                                kWidth * 4);
  std::vector<uint8_t> disc = DiscAlpha();
  // Rows of a8 are padded to four bytes; 128 is.
  std::vector<uint8_t> faded(disc.size());
  for (size_t k = 0; k < disc.size(); ++k) faded[k] = static_cast<uint8_t>(disc[k] * 127 / 255);
  // The border: the disc grown by kBorder pixels (a coarse dilation), its own size.
  constexpr int32_t kBordered = kSide + 2 * kBorder;
  std::vector<uint8_t> ring(size_t{kBordered} * kBordered, 0);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      uint8_t a = disc[size_t(y) * kSide + x];
      for (int32_t oy = 0; oy <= 2 * kBorder; ++oy) {
        for (int32_t ox = 0; ox <= 2 * kBorder; ++ox) {
          uint8_t& r = ring[size_t(y + oy) * kBordered + x + ox];
          r = std::max(r, a);
        }
      }
    }
  }
  pixman_image_t* discMask = pixman_image_create_bits(
      PIXMAN_a8, kSide, kSide, reinterpret_cast<uint32_t*>(disc.data()), kSide);
  pixman_image_t* fadedMask = pixman_image_create_bits(
      PIXMAN_a8, kSide, kSide, reinterpret_cast<uint32_t*>(faded.data()), kSide);
  pixman_image_t* ringMask = pixman_image_create_bits(
      PIXMAN_a8, kBordered, kBordered, reinterpret_cast<uint32_t*>(ring.data()), kBordered);
  std::vector<pixman_image_t*> colours;
  for (int32_t i = 0; i < kLayers; ++i) {
    uint32_t c = ColourOf(i);
    pixman_color_t pc{static_cast<uint16_t>(((c >> 16) & 0xFF) * 257),
                      static_cast<uint16_t>(((c >> 8) & 0xFF) * 257),
                      static_cast<uint16_t>((c & 0xFF) * 257), 0xFFFF};
    colours.push_back(pixman_image_create_solid_fill(&pc));
  }
  pixman_color_t white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, shade{0, 0, 0, 0x7FFF};
  pixman_image_t* whiteFill = pixman_image_create_solid_fill(&white);
  pixman_image_t* shadeFill = pixman_image_create_solid_fill(&shade);

  int64_t f = 0;
  std::vector<int32_t> xs(kLayers), ys(kLayers);
  for (auto _ : state) {
    std::vector<qvLayerArea> rects = FrameRects(f, batched);
    for (int32_t i = 0; i < kLayers; ++i) Place(i, f + 1, &xs[size_t(i)], &ys[size_t(i)]);
    for (const qvLayerArea& r : rects) {
      int32_t x1 = std::max(r.x, 0), y1 = std::max(r.y, 0);
      int32_t x2 = std::min(r.x + r.width, kWidth), y2 = std::min(r.y + r.height, kHeight);
      if (x2 <= x1 || y2 <= y1) continue;
      pixman_region32_t clip;
      pixman_region32_init_rect(&clip, x1, y1, uint32_t(x2 - x1), uint32_t(y2 - y1));
      pixman_image_set_clip_region32(dst, &clip);
      pixman_image_composite32(PIXMAN_OP_SRC, bg, nullptr, dst, x1, y1, 0, 0, x1, y1, x2 - x1,
                               y2 - y1);
      for (int32_t i = 0; i < kLayers; ++i) {
        int32_t x = xs[size_t(i)], y = ys[size_t(i)];
        qvLayerArea b = Bounds(i, x, y);
        if (b.x >= x2 || b.y >= y2 || b.x + b.width <= x1 || b.y + b.height <= y1) continue;
        if (HasShadow(i)) {
          pixman_image_composite32(PIXMAN_OP_OVER, shadeFill, discMask, dst, 0, 0, 0, 0,
                                   x + kShadowSize, y + kShadowSize, kSide, kSide);
        }
        if (HasBorder(i)) {
          pixman_image_composite32(PIXMAN_OP_OVER, whiteFill, ringMask, dst, 0, 0, 0, 0,
                                   x - kBorder, y - kBorder, kBordered, kBordered);
        }
        pixman_image_composite32(PIXMAN_OP_OVER, colours[size_t(i)],
                                 TransparencyOf(i) != 0 ? fadedMask : discMask, dst, 0, 0, 0, 0, x,
                                 y, kSide, kSide);
      }
      pixman_image_set_clip_region32(dst, nullptr);
      pixman_region32_fini(&clip);
    }
    ++f;
    benchmark::DoNotOptimize(screen.data());
    benchmark::ClobberMemory();
  }
  SetAreaCounters(state, batched);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
  for (pixman_image_t* c : colours) pixman_image_unref(c);
  for (pixman_image_t* img : {dst, bg, discMask, fadedMask, ringMask, whiteFill, shadeFill}) {
    pixman_image_unref(img);
  }
}
BENCHMARK(BM_LayersPixman)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("batched")
    ->Name("layers/pixman/100_alpha_128x128_1920x1080")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
