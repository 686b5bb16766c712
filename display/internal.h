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
// A width x height bitmap filled with 0; null when it cannot be had.
qvBitMap* AllocClearedBitMap(int32_t width, int32_t height);
// Fills a background by its style (colour, gradient or texture) over the whole bitmap.
int FillBackground(qvScriptState* L, qvBitMap* bitmap, int32_t width, int32_t height,
                   qvBackfillSettings* settings);
// The saved drawing state of the display (cursor, margins, layers) while output goes elsewhere.
void SaveDrawState(qvDisplay* display, int32_t width, bool keepLayers);
void RestoreDrawState(qvDisplay* display);
// Frees the display's dirty list, front and back buffers and the two BGPic-shaped records.
void FreeOutputRecords(qvDisplay* display);

}  // namespace qv
