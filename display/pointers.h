// Pointer images: mouse pointers made from a brush, a sprite frame or a standard pointer, set on
// the current display. The platform keeps the pictures (CreatePointerImage); a pointer that the
// script frees while a display still shows it stays, detached, until no display shows it.
// Script thread only.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "image/image.h"

namespace qv {

struct qvScriptState;
struct qvDisplay;
struct qvPointerImage;

// STDPTR_SYSTEM, STDPTR_BUSY, STDPTR_CUSTOM.
enum : int32_t { kPointerSystem = 0, kPointerBusy = 1, kPointerCustom = 2 };

// One pointer (kind 36).
struct qvPointer {
  qvObjectHeader header;
  int32_t width, height;
  qvPointerImage* image;  // null for a standard pointer
  int32_t kind;           // kPointerSystem, kPointerBusy, kPointerCustom
  int32_t locked;
  int32_t detached;  // freed by the script while shown: id {0, own address}
};

// The pixels of a picture pointer: a bitmap with its mask or alpha channel (either may be null).
struct qvPointerPicture {
  const qvBitMap* bitmap;
  const qvPlane* mask;
  const qvPlane* alpha;
  int32_t width, height;
};

// What CreatePointer makes: a standard pointer (standard is kPointerSystem or kPointerBusy) or,
// with a picture, a picture pointer whose hot spot is (hotX, hotY): a negative one is half the
// side, one at or beyond the side is side - 1.
struct qvPointerRequest {
  bool standardPointer;
  int32_t standard;
  qvPointerPicture picture;
  int32_t hotX = -1, hotY = -1;
};

// Registers the list and GetAttribute's row of POINTER (type, count). 0 or an error code.
int32_t OpenPointers();
qvObjectHeader** PointerListHead();

// FindPointer flags.
enum : int32_t {
  kFindPointerModify = 1,    // ERR_LOCKEDOBJ for a locked pointer
  kFindPointerDetached = 2,  // detached pointers count too
};
// 0 with the pointer, ERR_FINDARRAY for a handle that names none, ERR_FINDPOINTER with the
// number stored; ERR_LOCKEDOBJ.
int FindPointer(qvObjectId id, qvPointer** out, int32_t flags);

// Makes a pointer and appends it: a chosen number that exists frees that pointer first (a missing
// one is no error). ERR_WRONGUSAGE for a standard kind other than system or busy, the platform's
// ERR_CREATEICON or ERR_MEM; nothing is made on failure.
int CreatePointer(qvScriptState* L, qvObjectId* id, bool automatic, const qvPointerRequest& request,
                  qvPointer** out);
// The pointer a brush gives (its bitmap, mask or alpha channel and size): FindBrush's codes,
// ERR_BRUSHTYPE for a brush without pixels.
int PointerPictureFromBrush(qvScriptState* L, qvObjectId brush, qvPointerPicture* out);
// Frees the pointer; while a display shows it, it is detached and freed once none does. The
// finder's codes.
int FreePointer(qvScriptState* L, qvObjectId id);
// Makes the pointer the current display's and shows it (an open window gets it at once); then
// frees every detached pointer that no display shows. ERR_WRONGUSAGE without a display, the
// finder's codes.
int SetPointer(qvScriptState* L, qvObjectId id);
// Shows or hides the current display's pointer.
void ShowPointer(bool show);
// Moves the pointer to (x, y) of the current display (special positions resolved against the
// output target with the pointer's size, then scaled as the window shows the display); nothing
// unless the display is open.
void MovePointer(int32_t x, int32_t y);
// The size a pointer has on the display: its picture's, or the standard pointer's.
void DisplayPointerSize(const qvDisplay* display, int32_t* width, int32_t* height);
// Frees every detached pointer that no display shows (a display freed, SetPointer).
void PurgeDetachedPointers(qvScriptState* L);
// Library teardown, after the displays: every pointer with its platform picture.
void FreeAllPointers(qvScriptState* L);

}  // namespace qv
