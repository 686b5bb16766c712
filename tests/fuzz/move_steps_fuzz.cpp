// Fuzz target of the moving objects' step engine: the input chooses the start and end points, the
// object's size, the speed, the effect and the target's height, each either small or a whole
// 32-bit word. Every move must end exactly at its end point within a bound that its distances
// and speed give (each phase moves every unfinished axis at least a pixel a step); moves whose
// bound is too long to walk here only set up and take a thousand steps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "display/move_steps.h"
#include "tests/fuzz/byte_reader.h"

using namespace qv;

namespace {

int32_t Coordinate(fuzz::ByteReader& in, bool whole) {
  return whole ? in.Int() : int32_t(in.Byte()) - 128;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader in(data, size);
  const uint8_t mode = in.Byte();
  qvMoveSetup setup;
  setup.x1 = Coordinate(in, mode & 1);
  setup.y1 = Coordinate(in, mode & 2);
  setup.x2 = Coordinate(in, mode & 4);
  setup.y2 = Coordinate(in, mode & 8);
  setup.width = mode & 16 ? in.Int() : in.Byte();
  setup.height = mode & 16 ? in.Int() : in.Byte();
  setup.speed = mode & 32 ? in.Int() : int32_t(in.Byte() % 40) - 4;
  setup.effect = mode & 64 ? in.Int() : in.Byte() % 9;
  setup.areaHeight = mode & 128 ? in.Int() : in.Byte() * 4;

  qvMoveSteps steps;
  if (!BeginMoveSteps(setup, &steps)) {
    if (setup.x1 != setup.x2 || setup.y1 != setup.y2) __builtin_trap();
    return 0;
  }
  const int64_t speed = setup.speed < 1 ? 1 : setup.speed;
  const int64_t dx = std::llabs(int64_t{setup.x2} - setup.x1);
  const int64_t dy = std::llabs(int64_t{setup.y2} - setup.y1);
  const int64_t wave = setup.areaHeight < 0 ? -(int64_t{setup.areaHeight} / 2)
                                            : setup.areaHeight / 2;
  // The bounce legs are multiples of the horizontal start step, which a diagonal driven by y
  // makes as long as its whole horizontal distance.
  const int64_t unit = speed > dx ? speed : dx;
  const int64_t bound = dx + dy + 72 * unit + wave + 64;
  const int64_t walk = bound > 4000000 ? 1000 : bound;
  for (int64_t i = 0; i < walk; ++i) {
    if (NextMoveStep(&steps)) {
      if (steps.x != setup.x2 || steps.y != setup.y2) __builtin_trap();
      // A finished move stays where it is.
      if (!NextMoveStep(&steps) || steps.x != setup.x2 || steps.y != setup.y2) __builtin_trap();
      return 0;
    }
  }
  if (walk == bound) __builtin_trap();  // not at the end within the bound
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(MoveStepsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
