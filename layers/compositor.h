// The compositor of a target without layers: its picture and the sprites shown on it. The layer
// system's record hands these to the code below (core/layer_system.h).
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv {

struct qvBGPic;
struct qvBitMap;
struct qvDisplay;

// True when a sprite entry of the target meets the rectangle.
bool SpritesMeetRect(const qvBGPic* target, int32_t x, int32_t y, int32_t width, int32_t height);
// Draws the sprite entries of the target that meet the rectangle into dst, in list order.
void DrawSpriteEntries(const qvBGPic* target, qvBitMap* dst, int32_t x, int32_t y, int32_t width,
                       int32_t height);
// Composes the rectangle of the target into dst (cut to both and to the origin) through Redraw:
// the picture and the layers unless the mode is kRecomposeAbove, the sprite entries unless it is
// kRecomposeBeneath.
void ComposeTarget(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                   int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode);

}  // namespace qv
