// The readers of the option tables that several libraries' commands take: the display options of
// every command that shows an object, gradient options, the save options of the picture savers
// and the display tags. They read the script's values into the plain records that display/ takes;
// fields of the wrong type raise through the machine with the key stored, as the argument
// readers do (core/args.h).
#pragma once

#include <cstdint>

#include "display/displays.h"
#include "display/records.h"
#include "display/show.h"
#include "image/image.h"
#include "media/anim_build.h"

namespace qv {

struct qvScriptState;

// ---- display options ----

// ReadDisplayOptions flags (display/show.h; the caller fills the block first, with
// InitDisplayOptions or its own values).
//   kOptTableRequired: an argument that is no table is ERR_TABEXPECTED (argument index stored);
//                      without it such an argument reads nothing.
//   kOptNoSize, kOptNoRotate, kOptRotationSmooth: as display/show.h says.
//
// Reads the options table at argIndex (absent: nothing) over the block and, when given, the layer
// options. A "transform" with a or d of 0, a scale of 0 or an anchor outside 0..1 is
// ERR_WRONGUSAGE. When the table gives a size, scales or an angle, they are stored in the block
// and *buildMatrix is set: the matrix is then built for the object's size by the one who knows it
// (BuildTransformMatrix with the block's own size, scales and angle). `smooth` is the smooth flag
// that a rotation sets with kOptRotationSmooth. 0 or an error code.
//
// The layer options, when asked for: "hidden"; "transparency" and "tint" (numbers or percentages
// of 255, clamped to 0..255; a tint of 0 switches the tint slot off); "tintcolor"; "insertpos"
// (negative: ERR_INVINSERT; beyond the output target's layer count + 1: that count + 1); the
// shadow and border keys (below, without the edge names); "filters" (ReadLayerFilters);
// renderNeeded; "name" (256 characters or more: ERR_NAMETOOLONG).
int ReadDisplayOptions(qvScriptState* L, int argIndex, int32_t smooth, int32_t flags,
                       qvTransformBlock* block, qvLayerOptions* options, bool* buildMatrix);
// "shadow"; only for a shadow that is on, "shadowcolor", "shadowdir", "shadowsize",
// "shadowradius", "shadowsigma": a radius below 1, a negative size or a sigma of 0 or less is
// ERR_WRONGUSAGE. The block is unchanged on failure.
int ReadShadowOptions(qvScriptState* L, int table, qvShadowBlock* shadow);
// "border", "bordercolor", "bordersize", and with edgeKeys "edgecolor", "edgesize" and
// "outlinethickness" (the size; the later key wins). A border that is on with a size below 1 is
// ERR_WRONGUSAGE. The block is unchanged on failure.
int ReadBorderOptions(qvScriptState* L, int table, bool edgeKeys, qvBorderBlock* border);
// A filter list at `list`: entries {name, disable, priority, args} switch the named slot on (off
// with "disable"), store the priority (0 when not given; clamped to 0..255) and the arguments in
// the order of the filter's kinds, the filter's defaults for those not given; slots not named
// keep their state, and of two entries for one slot the later wins. ERR_TABEXPECTED2 ("filters")
// for a list or an entry that is no table (or "args" that is none), ERR_NOFILTERNAME (the
// entry's index) for an entry without a name, ERR_STRTABLEARG for a name that is no text,
// ERR_UNKNOWNFILTER (the name), ERR_NUMTABLEARG for a priority or an argument that is no number.
// The slots are unchanged on failure; *changed (may be null) tells whether a slot differs.
int ReadLayerFilters(qvScriptState* L, int list, qvFilterSlot slots[kLayerFilterCount],
                     bool* changed = nullptr);
// The options of a command that shows an object (DisplayBrush, DisplayBGPicPart, ...): the
// defaults (InitDisplayOptions with no size), then the table at argIndex, handed to the request
// in `transform` and `options`, which must outlive it. A refusal, returned or raised by the
// reader, goes into the request's optionsError: the object's own errors come first.
void ReadShowOptions(qvScriptState* L, int argIndex, int32_t flags, qvTransformBlock* transform,
                     qvLayerOptions* options, qvDisplayObjectRequest* request);

// ---- gradients ----

// Reads the gradient options of the table at `index` into `gradient`, over what it holds (keys
// may be null: not read; the centre, balance and border only for a radial or conical gradient).
// 0 or ERR_WRONGUSAGE, ERR_INTERNAL (a 65th stop), ERR_MISSINGPARAMTR (a colour without its
// position), ERR_NUMTABLEARG, ERR_TABEXPECTED2 (with the key stored). *multi (may be null) is set
// when stops were given.
int ReadGradientOptions(qvScriptState* L, int index, qvGradient* gradient, const char* centerXKey,
                        const char* centerYKey, const char* balanceKey, const char* borderKey,
                        const char* coloursKey, int* multi);
// "gradientstyle", "gradientstartcolor", "gradientendcolor", "gradientangle" and the options
// under their "gradient..." keys.
int ReadBackfillGradientFields(qvScriptState* L, int index, qvGradient* gradient);
// The gradient arguments of the gradient creators (brushes and BGPics): the style at `styleIndex`
// (0 linear at angle 0, 1 linear at angle 90, LINEAR and CONICAL with the angle at `angleIndex`,
// default 0, RADIAL at angle 0; another style ERR_WRONGUSAGE), then an options table after the
// angle ("centerx", "centery", "balance", "border", "colors"; a value there that is no table:
// ERR_TABEXPECTED). The colours are the caller's. 0 or ReadGradientOptions' codes.
int ReadGradientArguments(qvScriptState* L, int styleIndex, int angleIndex, qvGradient* gradient);

// ---- picture savers ----

// The save options at the argument: a table's "quality", "colors" and "dither", or a number as
// the quality; absent: the defaults 90, 256, 0.
void ReadSaveOptions(qvScriptState* L, int index, int32_t* quality, int32_t* colours,
                     int32_t* dither);

// ---- display tags ----

// Reads the display tag table at `table` (CreateDisplay with `create`, SetDisplayAttributes
// without) into `tags`. `fill` is the display's backfill that the fill keys change (a new
// display's defaults when creating): the fill style decides which of the colour, gradient and
// texture keys are read. A list of regions with a region other than a box of positive size, or
// more than kMaxRegions of them, is ERR_WRONGUSAGE; so is a gradient the keys make invalid.
// 0 or an error code.
int ReadDisplayTags(qvScriptState* L, int table, bool create, const qvBackfillSettings& fill,
                    qvDisplayTags* tags);

// ---- multi-frame objects ----

// The cache names that an anim or sprite load's options give, kept while the load runs.
struct qvAnimCacheNames {
  char cache[1024];
  char cachedLoad[1024];
};
// LoadAnim's and LoadSprite's options at `index` over what the record holds: a table
// ("transparency", "loadalpha", "x", "y", "width", "height", "fpr", "frames", "fromdisk", "cache",
// "cachedload", "cachealpha"), or a number that is the transparent colour (all 32 bits set: none);
// absent or Nil: nothing. Fields of the wrong type raise with the key stored.
void ReadAnimLoadOptions(qvScriptState* L, int index, qvAnimLoadOptions* options,
                         qvAnimCacheNames* names);

}  // namespace qv
