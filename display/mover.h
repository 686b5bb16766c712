// Moving objects: a brush or a sprite carried in a straight line (or along a wave or a curve)
// from one point to another, step by step, either in one blocking command, in the background as
// an asynchronous drawing object the script advances, or inside another runner that drives the
// steps itself. Without layers the mover keeps a clean copy of the display's picture and draws
// the object over it at each step, so that nothing trails behind. Where the object stands after
// each step is the step engine's (display/move_steps.h). Script thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/move_steps.h"
#include "image/image.h"

namespace qv {

struct qvBGPic;
struct qvDisplay;
struct qvLayer;

// What the script asks for (the moveobject library reads it).
struct qvMoveRequest {
  int32_t kind = 0;  // kObjectBrush, kObjectSprite, kObjectAnim, kObjectTextObject, kObjectLayer
  qvObjectId id{0, nullptr};               // a layer's position in id.number
  const char* layerName = nullptr;         // or its name
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // special positions allowed
  int32_t speed = -1;                      // NORMALSPEED; FASTSPEED, SLOWSPEED or pixels a step
  int32_t animSpeed = -1;                  // NORMALSPEED ... DEFAULTSPEED, or 20 ms units
  int32_t effect = kMoveStraight;
  bool async = false;
};

// A move under way: one record from the start of the move to its end.
struct qvMover {
  int32_t kind;
  qvObjectId id;
  qvMoveSteps steps;
  int32_t width, height;  // the object's
  int32_t frames, frame;  // a sprite's: the frame shown (from 1)
  int32_t frameDelayMs;   // between frames
  int64_t nextFrameUs;    // when the next frame is due
  int32_t x, y;           // where the object was drawn last
  bool drawn;             // it was drawn at x, y
  // The display's picture without the object, and the picture the object is drawn into before
  // the changed rectangle goes to the display; both of the target's size.
  qvBitMap* clean;
  qvBitMap* work;
  // The objects whose in-use counters the move raised (a sprite and every sprite it links to),
  // found again by id when the move ends.
  std::vector<qvObjectId> lockedIds;
  bool async;
  bool continuation;
  // For a runner that drives the move itself: one step (sets *finished when the object stands at
  // the end) and the end of the move (frees the record).
  int32_t (*step)(qvScriptState* L, qvMover* mover, int32_t* finished);
  // With layers on: the layer that is moved (a brush shown as a new top layer first), and the
  // BGPic whose list holds it.
  qvLayer* layer = nullptr;
  qvBGPic* layerTarget = nullptr;
  void (*free)(qvScriptState* L, qvMover* mover);
};

// NORMALSPEED, FASTSPEED and SLOWSPEED as pixels a step (10, 15, 5); other values are kept.
int32_t MoveSpeedPixels(int32_t speed);
// The milliseconds between the frames of a moved sprite: SLOWSPEED 160, FASTSPEED 0, NORMALSPEED
// and DEFAULTSPEED 60, other negative values 0, n: n x 20.
int32_t MoveFrameDelayMs(int32_t animSpeed);

// The move: refused while drawing goes elsewhere than the display (ERR_SELECTBG,
// ERR_ENDDOUBLEBUFFER, ERR_SELECTANIM, ERR_SELECTBRUSH, ERR_SELECTMASK, ERR_SELECTALPHACHANNEL;
// a sprite also ERR_LAYERSOFF while layers are on), for a speed below 1 (ERR_WRONGUSAGE), by the
// object's finder (ERR_FINDBRUSH, ERR_FINDSPRITE, ERR_FINDANIM until anims, ERR_FINDTEXTOBJECT
// until text objects, ERR_FINDARRAY for a handle); a layer (by position or name) needs layers on
// (ERR_NOLAYERS, ERR_LAYERRANGE, ERR_FINDLAYER) and a brush moves as a new top layer while they
// are on. Start equal to end: 0 and nothing moves.
// Blocking, the move checks for a break before each step (its ERR_USERABORT ends the move with
// the object where it stood) and presents the display after it. Async, *handle receives the
// asynchronous drawing object's id and nothing is drawn before its first frame. The object is
// locked (ERR_LOCKEDOBJ for changes) until the move ends. 0 or an error code; ERR_MEM.
int MoveObjectCore(qvScriptState* L, const qvMoveRequest& request, qvObjectId* handle);
// The move for a runner of its own (the output-device refusals are the runner's): *out is null
// when start and end are the same point. 0 or MoveObjectCore's codes.
int BeginMoveContinuation(qvScriptState* L, const qvMoveRequest& request, qvMover** out);

}  // namespace qv
