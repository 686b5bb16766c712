// Helpers that only display/ uses.
#pragma once

#include <cstdint>

#include "display/display.h"

namespace qv {

// Appends a record at the tail of an object list.
void AppendToList(qvObjectHeader** head, qvObjectHeader* record);
// Unlinks a record; false when it is not in the list.
bool UnlinkFromList(qvObjectHeader** head, qvObjectHeader* record);
// Copies width x height of a bitmap with its mask and alpha into new planes (null planes stay
// null). 0 or ERR_MEM with nothing made.
int CopyPlanes(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
               int32_t height, qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha);
qvBitMap* CopyBitMap(const qvBitMap* bitmap, int32_t width, int32_t height);
// True when the fill by `settings` leaves every pixel 0 (black): a cleared bitmap already holds it.
bool FillLeavesZero(const qvBackfillSettings& settings);
// Fills a background by its style (colour, gradient or texture) over the whole bitmap.
int FillBackground(qvScriptState* L, qvBitMap* bitmap, int32_t width, int32_t height,
                   qvBackfillSettings* settings);
// A new listed BGPic of width x height filled by `settings`, which it keeps (a display's own
// picture, the backdrop's).
int CreateFilledBGPic(qvScriptState* L, qvObjectId* id, int32_t kind, int32_t width, int32_t height,
                      qvBackfillSettings* settings, qvBGPic** out);
// The saved drawing state of the display (cursor, margins, layers) while output goes elsewhere.
void SaveDrawState(qvDisplay* display, int32_t width, bool keepLayers);
void RestoreDrawState(qvDisplay* display);
// Frees the display's dirty list, front and back buffers and the two BGPic-shaped records.
void FreeOutputRecords(qvDisplay* display);
// Hands the drag and size regions in window coordinates (the second copy) to the window, for
// opening it and whenever they or the window's size change: regions the script did not give
// take their defaults (a 15-row strip along the top, a 10 x 10 square at the bottom-right
// corner), and all are cut to the window.
void CopyRegionsToWindow(qvDisplay* display);
// What the display's window is shaped from: the window-size shape planes of a scaled display,
// else the BGPic's current mask and alpha channel (none without them).
qvWindowShapeSource WindowShapeOf(const qvDisplay* display);

// The display tags (CreateDisplay, SetDisplayAttributes) applied to the record: in apply mode it
// already holds the display's values. 0 or an error code.
int ApplyDisplayTags(qvScriptState* L, qvDisplay* display, const qvDisplayTags& tags, bool create);
// The outer corner of the display's window for a given position (special positions resolved
// against the placement area with the frame counted, then offset by the area's origin).
void ResolveWindowPosition(const qvDisplay* display, int32_t givenX, int32_t givenY, int32_t* x,
                           int32_t* y);
// 0, or ERR_DISPLAYSIZE with "<width>x<height>" stored when a client area of that size with the
// display's frame does not fit the placement area.
int CheckWindowFits(const qvDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height);
// True when the window takes a shape from the BGPic's (or the scaled) mask or alpha channel.
bool HasShapedWindow(const qvDisplay* display);
// The drag and size regions of a scaled display in window coordinates.
void ScaleRegionsToWindow(qvDisplay* display);
void SetFullScreenFlag(bool on);
// True when a display shows the BGPic as its background.
bool BGPicShownByDisplay(const qvBGPic* bgpic);
// A display being freed stops being the backdrop (display_changes.cpp).
void ForgetBackdrop(const qvDisplay* display);
bool IsBackdropDisplay(const qvDisplay* display);
// The backdrop display for the backfill in force (SetDisplayModeSettings): the applet's unless
// the player started in full screen, else black over the whole screen behind a full screen and
// none behind a window. It covers the screen (below the reserved top unless the backfill takes
// the whole screen) and is opened without being activated, so that the displays opened after it
// lie in front. A texture or picture backfill loads its brush from the file or copies the
// applet's brush. 0, or the first error (nothing of the backdrop is left then).
int CreateBackdrop(qvScriptState* L, bool fullScreen);

}  // namespace qv
