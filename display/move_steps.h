// The step engine of moving objects: where an object stands after each step of a move from one
// point to another, by the speed, the object's shape and the effect. It works on plain values
// (no display, no object), so that every path through it is tested and fuzzed on its own; the
// mover (display/mover.h) draws what it answers.
#pragma once

#include <cstdint>

namespace qv {

// The effects of a move (the moveobject library's constants).
enum : int32_t {
  kMoveStraight = 0,
  kMoveBounce = 1,
  kMoveSmoothOut = 2,
  kMoveDamped = 3,
  kMoveSine = 4,
  kMoveBigSine = 5,
  kMoveLowerCurve = 6,
  kMoveUpperCurve = 7,
};

// Directions, from the signs of the distances.
enum : int32_t {
  kMoveUp = 0,
  kMoveUpRight = 1,
  kMoveRight = 2,
  kMoveDownRight = 3,
  kMoveDown = 4,
  kMoveDownLeft = 5,
  kMoveLeft = 6,
  kMoveUpLeft = 7,
};

constexpr int32_t kSineTableSize = 79;

struct qvMoveSetup {
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int32_t width = 1, height = 1;  // the object's: a wider one is driven by x on a diagonal
  int32_t speed = 10;             // pixels a step on the driving axis, at least 1
  int32_t effect = kMoveStraight;
  int32_t areaHeight = 0;  // the target's height: BIGSINE's wave is half of it high
};

struct qvMoveSteps {
  int32_t effect;
  int32_t direction;
  int64_t x, y;  // where the object stands
  int64_t endX, endY;
  int64_t startY;
  int64_t stepX, stepY;  // pixels a step on each axis
  int64_t startStepX, startStepY;
  int64_t remainderX, remainderY;  // steps that still move one pixel more
  int64_t phaseStep;               // the distance unit of the bounce targets
  int32_t phase;
  int64_t targetX, targetY;  // of the current phase
  bool doneX, doneY;         // the axis reached the phase's target
  int32_t signX, signY;      // the sense of travel of the whole move (-1, 0, 1)
  int64_t speed;
  // The wave effects: the table of y values, the index and its advance.
  double sine[kSineTableSize];
  int32_t sineIndex, sineAdvance;
  // The curve effects: how far x has come.
  int64_t curve;
  int64_t distanceX;
  bool finished;
};

// Sets the move up with the object standing at the start. False when start and end are the same
// point: there is nothing to move. The speed must be at least 1 (values below count as 1).
bool BeginMoveSteps(const qvMoveSetup& setup, qvMoveSteps* steps);
// One step: the object advances and the phases that it completes are left behind. True when the
// object now stands at the end and the move is over (further calls change nothing).
bool NextMoveStep(qvMoveSteps* steps);
// A position as a drawing coordinate (positions far beyond the 32-bit range saturate).
int32_t MovePosition(int64_t value);
// True for the effects that apply only to horizontal moves (the waves and the curves).
bool IsHorizontalEffect(int32_t effect);

}  // namespace qv
