// The step engine of moving objects (see move_steps.h).
#include "display/move_steps.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "base/support.h"

namespace qv {

namespace {

int32_t Sign(int64_t v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

int32_t DirectionOf(int32_t sx, int32_t sy) {
  if (sx == 0) return sy < 0 ? kMoveUp : kMoveDown;
  if (sy == 0) return sx > 0 ? kMoveRight : kMoveLeft;
  if (sx > 0) return sy < 0 ? kMoveUpRight : kMoveDownRight;
  return sy < 0 ? kMoveUpLeft : kMoveDownLeft;
}

// How far beyond the end (in the sense of travel) each bounce phase aims, in phase steps.
int64_t PhaseMultiple(int32_t phase) {
  switch (phase) {
    case 1:
      return 16;
    case 2:
      return -8;
    case 3:
      return 4;
    case 4:
      return -2;
    case 5:
      return 1;
    case 7:
      return 8;
    default:
      return 0;
  }
}

int64_t Halved(int64_t step) { return step - step / 2; }

bool Waves(int32_t effect) { return effect == kMoveSine || effect == kMoveBigSine; }
bool Curves(int32_t effect) { return effect == kMoveLowerCurve || effect == kMoveUpperCurve; }

// Moves one axis toward the phase's target by its step, plus one pixel while a remainder is
// left. The approach (`approach`) stops at the target, and its steps and remainders bring both
// axes there together; the later phases may pass the target and move at least one pixel, so that
// every phase ends. True when the axis reached or passed the target.
bool Advance(int64_t* pos, int64_t target, int64_t step, int64_t* remainder, bool approach) {
  if (*pos == target) return true;
  int32_t sense = Sign(target - *pos);
  int64_t amount = approach ? step : std::max<int64_t>(step, 1);
  if (remainder != nullptr && *remainder > 0) {
    ++amount;
    --*remainder;
  }
  *pos += sense * amount;
  bool reached = (*pos - target) * sense >= 0;
  if (reached && approach) *pos = target;
  return reached;
}

void SetPhaseTargets(qvMoveSteps* s) {
  int64_t multiple = PhaseMultiple(s->phase);
  s->targetX = s->endX + multiple * s->phaseStep * s->signX;
  s->targetY = s->endY + multiple * s->phaseStep * s->signY;
  if (s->phase == 9) s->targetX = s->x;  // only y moves back
  s->doneX = s->x == s->targetX;
  s->doneY = s->y == s->targetY;
}

void Finish(qvMoveSteps* s) {
  s->x = s->endX;
  s->y = s->endY;
  s->finished = true;
}

// The phase just completed: its end action, and every following phase whose targets the object
// already stands on.
void EndPhase(qvMoveSteps* s) {
  for (;;) {
    switch (s->phase) {
      case 0:
        if (s->effect == kMoveBounce) {
          s->phase = 1;
        } else if (s->effect == kMoveDamped) {
          s->stepX -= s->stepX / 4;
          s->stepY -= s->stepY / 4;
          s->phase = 7;
        } else if (Waves(s->effect)) {
          s->phase = 9;
        } else {
          Finish(s);  // straight, smooth-out, and the curves, whose y comes back to the end
          return;
        }
        break;
      case 1:
      case 2:
      case 3:
      case 4:
      case 7:
        s->stepX = Halved(s->stepX);
        s->stepY = Halved(s->stepY);
        s->phase = s->phase == 7 ? 8 : s->phase + 1;
        break;
      case 5:
        s->stepX = s->stepY = 1;
        s->phase = 6;
        break;
      default:  // 6, 8, 9: the end
        Finish(s);
        return;
    }
    SetPhaseTargets(s);
    if (!s->doneX || !s->doneY) return;
  }
}

}  // namespace

bool IsHorizontalEffect(int32_t effect) { return Waves(effect) || Curves(effect); }

int32_t MovePosition(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

bool BeginMoveSteps(const qvMoveSetup& setup, qvMoveSteps* s) {
  *s = qvMoveSteps{};
  int64_t dx = int64_t{setup.x2} - setup.x1, dy = int64_t{setup.y2} - setup.y1;
  s->x = setup.x1;
  s->y = setup.y1;
  s->startY = setup.y1;
  s->endX = setup.x2;
  s->endY = setup.y2;
  s->targetX = s->endX;
  s->targetY = s->endY;
  if (dx == 0 && dy == 0) {
    s->finished = true;
    return false;
  }
  s->signX = Sign(dx);
  s->signY = Sign(dy);
  s->direction = DirectionOf(s->signX, s->signY);
  int64_t speed = std::max(setup.speed, 1);
  s->speed = speed;
  int64_t ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  if (dx == 0 || dy == 0) {
    s->stepX = s->stepY = speed;
    s->phaseStep = speed;
  } else if (setup.width > setup.height) {
    // The object's shape picks the driving axis, whatever the distances.
    int64_t steps = (ax + speed - 1) / speed;
    s->stepX = speed;
    s->stepY = ay / steps;
    s->remainderY = ay - s->stepY * steps;
    s->phaseStep = speed;
  } else {
    int64_t steps = (ay + speed - 1) / speed;
    s->stepY = speed;
    s->stepX = ax / steps;
    s->remainderX = ax - s->stepX * steps;
    s->phaseStep = s->stepX;
  }
  s->startStepX = s->stepX;
  s->startStepY = s->stepY;

  bool horizontal = s->direction == kMoveRight || s->direction == kMoveLeft;
  s->effect = setup.effect;
  if (s->effect < kMoveStraight || s->effect > kMoveUpperCurve ||
      (IsHorizontalEffect(s->effect) && !horizontal)) {
    s->effect = kMoveStraight;
  }
  if (Waves(s->effect)) {
    double amplitude = s->effect == kMoveSine ? 50.0 : setup.areaHeight * 0.5;
    for (int32_t i = 0; i < kSineTableSize; ++i) {
      s->sine[i] = setup.y1 + amplitude * std::sin(i * 0.08);
    }
    s->sineAdvance = static_cast<int32_t>(std::max<int64_t>(speed / 4, 1) % kSineTableSize);
    // The start lies as many advances before index 0 as the move has steps: the wave ends in
    // phase, where it began its period.
    int64_t steps = (ax + speed - 1) / speed;
    int64_t back = (steps % kSineTableSize) * s->sineAdvance % kSineTableSize;
    s->sineIndex = static_cast<int32_t>((kSineTableSize - back) % kSineTableSize);
  }
  s->distanceX = ax;
  s->doneX = dx == 0;
  // The waves and curves set y at every step; only x ends their approach.
  s->doneY = dy == 0 || IsHorizontalEffect(s->effect);
  return true;
}

bool NextMoveStep(qvMoveSteps* s) {
  if (s->finished) return true;
  if (s->phase == 0) {
    if (s->effect == kMoveSmoothOut) {
      // Near the end (six start steps) each step is a tenth of the start step shorter.
      auto ease = [](int64_t pos, int64_t end, int64_t start, int64_t* step) {
        int64_t left = end > pos ? end - pos : pos - end;
        if (left == 0 || left > 6 * start) return;
        int64_t cut = std::max<int64_t>((start + 5) / 10, 1);
        *step = std::max<int64_t>(*step - cut, 1);
      };
      ease(s->x, s->endX, s->startStepX, &s->stepX);
      ease(s->y, s->endY, s->startStepY, &s->stepY);
    }
    if (!s->doneX) s->doneX = Advance(&s->x, s->endX, s->stepX, &s->remainderX, true);
    if (Waves(s->effect)) {
      s->sineIndex = (s->sineIndex + s->sineAdvance) % kSineTableSize;
      s->y = TruncateToInt(s->sine[s->sineIndex]);
    } else if (Curves(s->effect)) {
      s->curve += s->stepX;
      double arc = 150.0 * std::sin((static_cast<double>(s->curve) + 1.0) * std::numbers::pi /
                                    static_cast<double>(s->distanceX));
      int64_t offset = static_cast<int64_t>(std::trunc(arc));
      s->y = s->effect == kMoveLowerCurve ? s->endY + offset : s->endY - offset;
    } else if (!s->doneY) {
      s->doneY = Advance(&s->y, s->endY, s->stepY, &s->remainderY, true);
    }
  } else if (s->phase == 9) {
    if (!s->doneY) s->doneY = Advance(&s->y, s->endY, s->speed, nullptr, true);
  } else {
    // An axis stops for the rest of the phase once it reached or passed the phase's target.
    if (!s->doneX) s->doneX = Advance(&s->x, s->targetX, s->stepX, nullptr, false);
    if (!s->doneY) s->doneY = Advance(&s->y, s->targetY, s->stepY, nullptr, false);
  }
  if (s->doneX && s->doneY) EndPhase(s);
  return s->finished;
}

}  // namespace qv
