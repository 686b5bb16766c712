// Asynchronous drawing objects: a transition, an object move or an anim that the script advances
// frame by frame from its own loop (AsyncDrawFrame) in place of waiting for it in one command.
// The owner (the transitions, the mover, the anims) registers a record with its callbacks; the
// list here keeps the records, drives them and frees them with their display's picture. Script
// thread only.
#pragma once

#include <cstdint>
#include <optional>

#include "core/registry.h"

namespace qv {

struct qvScriptState;
struct qvDisplay;

// What an object draws (ADF_FX, ADF_MOVEOBJECT, ADF_ANIM).
enum : int32_t { kAsyncDrawFx = 0, kAsyncDrawMoveObject = 1, kAsyncDrawAnim = 2 };

// The messages of an object's message function: what it is asked and what the argument carries.
enum : int32_t {
  kAsyncDrawLayerRemoved = 0,   // argument: the layer that goes away
  kAsyncDrawLayerRendered = 1,  // argument: the layer whose render buffers were made again
  kAsyncDrawFrameCount = 2,     // answer: the number of frames
  kAsyncDrawCurrentFrame = 3,   // answer: the frame drawn last (0 before the first)
  kAsyncDrawGoToFrame = 4,      // argument: the frame to go to (drawn by a later message)
  kAsyncDrawDrawCurrent = 5,    // draw the current frame again
  kAsyncDrawObjectInUse = 6,    // argument out: the layer or object the drawing uses, or 0
  kAsyncDrawBusy = 7,           // answer: non-zero while the object is busy
  kAsyncDrawRecording = 8,      // argument: 1 before a frame is drawn, 0 after it
};

// Draws the next frame; sets *finished after the last one. 0 or an error code, which
// AsyncDrawFrame returns.
using qvAsyncDrawStep = int32_t (*)(qvScriptState* L, void* data, int32_t* finished);
// Completes the drawing at once (AsyncDrawFrame after the last frame, FinishAsyncDraw); the owner
// sets *finished when the drawing stands at its end.
using qvAsyncDrawFinish = void (*)(qvScriptState* L, void* data, int32_t* finished);
// Called whenever the object is freed: `finished` is 1 when the drawing ran or was completed to
// its end, 0 when it was dropped (cancelled, its display's picture replaced, teardown). The owner
// frees its data here.
using qvAsyncDrawRelease = void (*)(qvScriptState* L, void* data, int32_t finished);
// Answers a message (see above); `argument` is read and written as the message says.
using qvAsyncDrawMessage = intptr_t (*)(int32_t message, intptr_t* argument, void* data);

// One object (kind 37): its id is always automatic (number 0, handle its own address).
struct qvAsyncDraw {
  qvObjectHeader header;
  qvDisplay* display;  // the current display when the object was made
  int32_t kind;        // kAsyncDrawFx, kAsyncDrawMoveObject, kAsyncDrawAnim
  int32_t finished;
  qvAsyncDrawStep drawNext;
  intptr_t ownerWord;          // whatever the owner keeps beside its data
  qvAsyncDrawFinish finish;    // may be null
  qvAsyncDrawRelease release;  // may be null
  qvAsyncDrawMessage message;  // may be null: every message is answered with 0
  void* data;
};

// Registers the list and GetAttribute's row of ASYNCDRAW (type, number of frames, current frame,
// count). 0 or an error code.
int32_t OpenAsyncDraws();
qvObjectHeader** AsyncDrawListHead();

// Appends an object on the current display and gives its record (its handle is the record's
// address): 0 or ERR_MEM. Nothing is drawn before the first AsyncDrawFrame.
int AddAsyncDrawObject(int32_t kind, qvAsyncDrawStep drawNext, intptr_t ownerWord,
                       qvAsyncDrawFinish finish, qvAsyncDrawRelease release,
                       qvAsyncDrawMessage message, void* data, qvAsyncDraw** out);
// 0 with the object, ERR_FINDARRAY for a handle that names none, ERR_FINDASYNCDRAW with the
// number stored.
int FindAsyncDraw(qvObjectId id, qvAsyncDraw** out);

// True when an object draws on the display (FreeDisplay refuses it: ERR_ADFFREEDISP).
bool HasAsyncDrawObject(const qvDisplay* display);
// The first non-zero answer to kAsyncDrawBusy among the transition objects, else 0.
intptr_t IsAsyncDrawBusy();
// Sends the message with the argument to every object (the layers, when a layer goes away or is
// rendered again).
void NotifyAsyncDrawObjects(int32_t message, intptr_t argument);
// True when some object answers kAsyncDrawObjectInUse with this object.
bool IsUsedByAsyncDraw(const void* object);
// Frees every object, telling each owner it was dropped (release with 0): a display's new
// picture, the library's teardown.
void FreeAllAsyncDraws(qvScriptState* L);

// AsyncDrawFrame: draws the next frame (no frame given) or the given one. *finished is false
// after a frame was drawn and true on the call after the last frame, which completes the drawing
// and frees the object. While the output is not the display: ERR_SELECTBRUSH,
// ERR_SELECTANIM, ERR_ENDDOUBLEBUFFER, ERR_SELECTMASK, ERR_SELECTALPHACHANNEL; the finder's
// codes; ERR_ADFWRONGDISP for another display's object; with a frame: ERR_NOLAYERS while
// layers are off, ERR_ANIMFRAME beyond the last frame; the step's own error.
int AsyncDrawFrame(qvScriptState* L, qvObjectId id, std::optional<int32_t> frame, bool* finished);
// Drops the object without completing it (release with 0). The finder's codes.
int CancelAsyncDraw(qvScriptState* L, qvObjectId id);
// Completes the drawing at once and frees the object (release with the finished flag). The
// finder's codes.
int FinishAsyncDraw(qvScriptState* L, qvObjectId id);

}  // namespace qv
