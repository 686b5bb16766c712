// The step engine of moving objects: the positions after each step for each effect, the driving
// axis picked by the object's shape, the remainder spread one pixel a step, the bounce and damped
// turning points, and that every move ends exactly at its end point.
#include "display/move_steps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {
namespace {

using Path = std::vector<std::pair<int32_t, int32_t>>;

// Every position after a step, up to the one that ends the move (at most `limit` steps).
Path Walk(const qvMoveSetup& setup, size_t limit = 10000) {
  qvMoveSteps steps;
  Path path;
  if (!BeginMoveSteps(setup, &steps)) return path;
  for (size_t i = 0; i < limit; ++i) {
    bool done = NextMoveStep(&steps);
    path.emplace_back(MovePosition(steps.x), MovePosition(steps.y));
    if (done) break;
  }
  return path;
}

qvMoveSetup Move(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t speed,
                 int32_t effect = kMoveStraight, int32_t width = 20, int32_t height = 10) {
  qvMoveSetup s;
  s.x1 = x1;
  s.y1 = y1;
  s.x2 = x2;
  s.y2 = y2;
  s.speed = speed;
  s.effect = effect;
  s.width = width;
  s.height = height;
  s.areaHeight = 200;
  return s;
}

std::string Show(const Path& path) {
  std::string text;
  for (auto [x, y] : path) text += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
  return text;
}

TEST(MoveSteps, PositionsPerStep) {
  struct Case {
    const char* name;
    qvMoveSetup setup;
    Path expected;
  };
  const Case cases[] = {
      {"wide object on a diagonal: x drives, y 3 a step",
       Move(0, 0, 100, 30, 10),
       {{10, 3},
        {20, 6},
        {30, 9},
        {40, 12},
        {50, 15},
        {60, 18},
        {70, 21},
        {80, 24},
        {90, 27},
        {100, 30}}},
      {"tall object on the same diagonal: y drives, x 33 a step plus the remainder first",
       Move(0, 0, 100, 30, 10, kMoveStraight, 10, 20),
       {{34, 10}, {67, 20}, {100, 30}}},
      {"square object: y drives",
       Move(0, 0, 100, 30, 10, kMoveStraight, 16, 16),
       {{34, 10}, {67, 20}, {100, 30}}},
      {"remainder of 3 over 4 steps: one pixel more on the first three",
       Move(0, 0, 40, 7, 10),
       {{10, 2}, {20, 4}, {30, 6}, {40, 7}}},
      {"up and to the left", Move(30, 20, 0, 0, 10), {{20, 13}, {10, 6}, {0, 0}}},
      {"the last step stops at the end", Move(0, 0, 25, 0, 10), {{10, 0}, {20, 0}, {25, 0}}},
      {"a speed beyond the distance: one step", Move(0, 0, 5, 0, 10), {{5, 0}}},
      {"vertical, upwards", Move(7, 30, 7, 0, 15), {{7, 15}, {7, 0}}},
      {"a wave on a vertical move moves straight",
       Move(0, 0, 0, 20, 10, kMoveSine),
       {{0, 10}, {0, 20}}},
      {"an effect the engine does not know moves straight",
       Move(0, 0, 20, 0, 10, 99),
       {{10, 0}, {20, 0}}},
      {"SMOOTHOUT: six steps before the end each step a tenth shorter, then single pixels",
       Move(0, 0, 100, 0, 10, kMoveSmoothOut),
       {{10, 0}, {20, 0}, {30, 0}, {40, 0}, {49, 0}, {57, 0}, {64, 0}, {70, 0}, {75, 0}, {79, 0},
        {82, 0}, {84, 0}, {85, 0}, {86, 0}, {87, 0}, {88, 0}, {89, 0}, {90, 0}, {91, 0}, {92, 0},
        {93, 0}, {94, 0}, {95, 0}, {96, 0}, {97, 0}, {98, 0}, {99, 0}, {100, 0}}},
      // y = 50 + trunc(A sin(0.08 i)) at i = 73, 75, 77, 0 (the advance is a quarter of the
      // speed; the wave ends where its period starts): values from Python's math.sin.
      {"SINE: 50 pixels high, ending in phase",
       Move(0, 50, 40, 50, 10, kMoveSine),
       {{10, 28}, {20, 36}, {30, 43}, {40, 50}}},
      {"SINE to the left: the same wave",
       Move(40, 50, 0, 50, 10, kMoveSine),
       {{30, 28}, {20, 36}, {10, 43}, {0, 50}}},
      {"BIGSINE: half the target's height",
       Move(0, 50, 40, 50, 10, kMoveBigSine),
       {{10, 7}, {20, 22}, {30, 37}, {40, 50}}},
      // 150 sin((c + 1) pi / 100) for c = 25, 50, 75 (Python), then y back at the end.
      {"LOWERCURVE",
       Move(0, 100, 100, 100, 25, kMoveLowerCurve),
       {{25, 209}, {50, 249}, {75, 202}, {100, 100}}},
      {"UPPERCURVE",
       Move(0, 100, 100, 100, 25, kMoveUpperCurve),
       {{25, -9}, {50, -49}, {75, -2}, {100, 100}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Show(Walk(c.setup)), Show(c.expected)) << c.name;
  }
}

TEST(MoveSteps, NothingToMoveWhenStartIsEnd) {
  qvMoveSteps steps;
  EXPECT_FALSE(BeginMoveSteps(Move(5, 5, 5, 5, 10), &steps));
  EXPECT_TRUE(NextMoveStep(&steps));
  EXPECT_EQ(steps.x, 5);
  EXPECT_EQ(steps.y, 5);
}

// The points where the object turns back, and the number of steps: the shape of a bounce
// without a table of hundreds of positions.
struct Turns {
  std::vector<int32_t> turns;  // the coordinate where the travel reversed, then the last one
  size_t steps;
};
Turns TurnsOf(const Path& path, bool horizontal, int32_t start) {
  Turns t{{}, path.size()};
  int32_t previous = start, sense = 0;
  for (auto [x, y] : path) {
    int32_t v = horizontal ? x : y;
    int32_t now = v > previous ? 1 : (v < previous ? -1 : 0);
    if (now != 0 && sense != 0 && now != sense) t.turns.push_back(previous);
    if (now != 0) sense = now;
    previous = v;
  }
  t.turns.push_back(previous);
  return t;
}

TEST(MoveSteps, BounceAndDampedTurnBeyondTheEndByMultiplesOfTheStep) {
  struct Case {
    const char* name;
    qvMoveSetup setup;
    bool horizontal;
    int32_t start;
    std::vector<int32_t> turns;
    size_t steps;
  };
  const Case cases[] = {
      // End 20, s = 10: out to +16 s, back to -8 s, +4 s, -2 s, +s, home; the step halves
      // (10, 5, 3, 2, 1) and is 1 for the last two legs. 2 + 16 + 48 + 40 + 30 + 30 + 10 steps.
      {"BOUNCE right", Move(0, 0, 20, 0, 10, kMoveBounce), true, 0, {180, -60, 60, 0, 30, 20}, 176},
      {"BOUNCE down: the same on y",
       Move(0, 0, 0, 20, 10, kMoveBounce),
       false,
       0,
       {180, -60, 60, 0, 30, 20},
       176},
      {"BOUNCE left: beyond is smaller",
       Move(20, 0, 0, 0, 10, kMoveBounce),
       true,
       20,
       {-160, 80, -40, 20, -10, 0},
       176},
      // Speed 1: every leg a pixel a step. 2 + 16 + 24 + 12 + 6 + 3 + 1.
      {"BOUNCE at speed 1", Move(0, 0, 2, 0, 1, kMoveBounce), true, 0, {18, -6, 6, 0, 3, 2}, 64},
      // The step loses a quarter (8) out to +8 s, then half of that (4) home: 2 + 10 + 20.
      {"DAMPED right", Move(0, 0, 20, 0, 10, kMoveDamped), true, 0, {100, 20}, 32},
  };
  for (const Case& c : cases) {
    Turns t = TurnsOf(Walk(c.setup), c.horizontal, c.start);
    EXPECT_EQ(t.turns, c.turns) << c.name;
    EXPECT_EQ(t.steps, c.steps) << c.name;
  }
}

TEST(MoveSteps, DiagonalBounceUsesTheHorizontalStartStepAndEndsAtTheEnd) {
  // A tall object from (0, 0) to (30, 100) at speed 10: y drives, x moves 3 a step, so the bounce
  // unit is 3 on both axes: out to 100 + 16 x 3 = 148, which y passes by its step of 10.
  Path path = Walk(Move(0, 0, 30, 100, 10, kMoveBounce, 10, 20));
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[9], std::make_pair(30, 100));  // the approach: 10 steps
  EXPECT_EQ(path.back(), std::make_pair(30, 100));
  Turns ty = TurnsOf(path, false, 0);
  EXPECT_EQ(ty.turns.front(), 150);
  Turns tx = TurnsOf(path, true, 0);
  EXPECT_EQ(tx.turns.front(), 30 + 16 * 3);
}

TEST(MoveSteps, FarMovesAndHugeSpeedsEndAtTheEnd) {
  struct Case {
    qvMoveSetup setup;
    size_t steps;
  };
  const Case cases[] = {
      {Move(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX), 3},
      {Move(INT32_MAX, 0, INT32_MIN, 1, INT32_MAX, kMoveStraight, 1, 2), 1},
      {Move(0, 0, 3, 1000, 1, kMoveStraight, 1, 2), 1000},
  };
  for (const Case& c : cases) {
    Path path = Walk(c.setup, 100000);
    ASSERT_EQ(path.size(), c.steps);
    EXPECT_EQ(path.back(), std::make_pair(c.setup.x2, c.setup.y2));
  }
}

}  // namespace
}  // namespace qv
