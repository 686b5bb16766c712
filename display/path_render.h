// Drawing vector paths: the vector graphics plugin renders a path's coverage into alpha channels
// that this file allocates; the colour (plain, gradient or texture), the SHADOW and EDGE forms,
// the transform and the clipped blit onto the output device are the player's. The draw
// library's shapes take the same road while ForcePathUse is on. Script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/paths.h"
#include "display/shapes.h"
#include "display/show.h"
#include "image/image.h"

namespace qv {

// A path render request: the path style, the draw style, the colour, the segments, where and how
// it is drawn. It owns copies of the segments and the dash array, so a layer may keep it.
struct qvPathRender {
  qvPathStyle pathStyle;  // dashes point into `dashes`
  std::vector<double> dashes;
  qvDrawStyle drawStyle;
  uint32_t colour;              // 0xAARRGGBB, the top byte a transparency
  std::vector<uint8_t> stream;  // the segments and the end mark; empty for an empty path
  int32_t x, y;
  qvTransformBlock transform;
  // The extents found for the path when it was first drawn, and whether a redraw uses them.
  double extentsX, extentsY;
  bool redraw;
  int32_t transparency;  // of the options: 0 opaque .. 255 invisible
};
// A request from the current path style, the given draw style and the path (its segments copied).
// 0 or ERR_MEM.
int BuildPathRender(const qvPath& path, const qvDrawStyle& style, uint32_t colour, int32_t x,
                    int32_t y, const qvTransformBlock* transform, qvPathRender* out);

// The rendered picture: the bitmap with its alpha channel (both null when nothing was drawn),
// and where its corner goes on the output.
struct qvPathImage {
  qvBitMap* bitmap;
  qvPlane* alpha;
  int32_t x, y;
  int32_t width, height;
};
void FreePathImage(qvPathImage* image);

// Steps 1 to 10 of drawing: the extents (filled, or stroked with the line width, or with twice the
// edge size under EDGE), the transformed box, the shadow's growth, the colour, the plugin's
// coverage for the body and the edge, and the forms composed. ERR_EMPTYPATH for a path without
// segments or with empty extents, ERR_VECGFXPLUGIN, ERR_MEM (also for extents beyond what a
// picture may hold), or the texture's lookup error; nothing stays allocated on failure. When the
// plugin draws nothing the image is empty and 0 is returned.
int RenderPathImage(qvScriptState* L, qvPathRender* request, qvPathImage* out);

// Draws the request onto the output device: rendered, its alpha channel scaled by the options'
// transparency, then blitted with it through SafeBlt within the target's clip region (a dirty
// rectangle while double buffering). 0 or an error code; "nothing drawn" succeeds.
int PathRenderer(qvScriptState* L, qvPathRender* request);

// DrawPath by id with the current path style and the given draw style: ERR_VECGFXPLUGIN without
// an engine, then ERR_FINDPATH / ERR_FINDARRAY, then PathRenderer's codes.
int DrawPathById(qvScriptState* L, qvObjectId id, int32_t x, int32_t y, uint32_t colour,
                 const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t transparency = 0);

// A vector-path layer's redraw: the layer's transform with its scales multiplied by the display's,
// and the stored state marked for a redraw at its stored extents. Hands back the picture.
int DrawPathLayer(qvScriptState* L, const qvTransformBlock& layerTransform, double displayScaleX,
                  double displayScaleY, const qvPathRender& state, qvPathImage* out);

// A draw library shape drawn as a temporary path (box, circle, ellipse, polygon, arc) with its
// transform, the corner of its path's extents at the shape's position, with the style: the path
// lives for this call only and is freed on every way out. ERR_WRONGUSAGE for another shape type,
// else DrawPathById's codes.
int DrawShapeAsPath(qvScriptState* L, const qvShapeParams& shape, const qvDrawStyle& style);

// The shape segments of DrawShapeAsPath appended to a path, closed; 0, ERR_WRONGUSAGE or
// ERR_MEM.
int AppendShapeSegments(qvPath* path, const qvShapeParams& shape);

// ForcePathUse: while on, the draw library's box, ellipse, circle, arc and polygon commands draw
// through DrawShapeAsPath with the style they give.
void SetForcePathUse(bool on);

}  // namespace qv
