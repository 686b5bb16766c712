// Asynchronous drawing objects without a script: an owner that draws a fixed number of frames is
// driven frame by frame to its end, chosen frames go through its messages, and the object ends
// as the owner is told (completed, cancelled, finished at once, dropped); the outputs and
// displays that refuse a frame.
#include "display/async_draw.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/errors.h"
#include "display/display.h"
#include "fixtures/display_setup.h"

namespace qv {
namespace {

// An owner of `frames` frames that notes what it was asked.
struct Owner {
  int32_t frames = 3;
  int32_t current = 0;
  int drawn = 0;  // frames drawn by the step or message 5
  int finishCalls = 0;
  int releaseCalls = 0;
  int32_t releasedWith = -1;
  std::string log;  // the messages 4, 5 and 8 in order: "g2 d r1 r0"
  intptr_t busy = 0;
  intptr_t inUse = 0;
};

int32_t Step(qvScriptState*, void* data, int32_t* finished) {
  auto* o = static_cast<Owner*>(data);
  ++o->current;
  ++o->drawn;
  if (o->current == o->frames) *finished = 1;
  return 0;
}
void Finish(qvScriptState*, void* data, int32_t* finished) {
  auto* o = static_cast<Owner*>(data);
  ++o->finishCalls;
  o->current = o->frames;
  *finished = 1;
}
void Release(qvScriptState*, void* data, int32_t finished) {
  auto* o = static_cast<Owner*>(data);
  ++o->releaseCalls;
  o->releasedWith = finished;
}
intptr_t Message(int32_t message, intptr_t* argument, void* data) {
  auto* o = static_cast<Owner*>(data);
  switch (message) {
    case kAsyncDrawFrameCount:
      return o->frames;
    case kAsyncDrawCurrentFrame:
      return o->current;
    case kAsyncDrawGoToFrame:
      o->current = static_cast<int32_t>(*argument);
      o->log += "g" + std::to_string(*argument) + " ";
      return 0;
    case kAsyncDrawDrawCurrent:
      ++o->drawn;
      o->log += "d ";
      return 0;
    case kAsyncDrawRecording:
      o->log += "r" + std::to_string(*argument) + " ";
      return 0;
    case kAsyncDrawObjectInUse:
      *argument = o->inUse;
      return 0;
    case kAsyncDrawBusy:
      return o->busy;
    default:
      return 0;
  }
}

class AsyncDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    display = test::OpenCurrentDisplay(L, {{"width", 32}, {"height", 24}});
    ASSERT_NE(display, nullptr);
  }
  void TearDown() override { test::CloseDisplayForTest(); }

  qvObjectId Add(Owner* owner, int32_t kind = kAsyncDrawFx) {
    qvAsyncDraw* object = nullptr;
    EXPECT_EQ(AddAsyncDrawObject(kind, Step, 0, Finish, Release, Message, owner, &object), 0);
    return {0, object};
  }
  // AsyncDrawFrame's answer: 0 not finished, 1 finished, or -code.
  int Frame(qvObjectId id, std::optional<int32_t> frame = std::nullopt) {
    bool finished = false;
    int code = AsyncDrawFrame(L, id, frame, &finished);
    return code != 0 ? -code : finished ? 1 : 0;
  }
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

TEST_F(AsyncDrawTest, EachFrameAnswersFalseAndTheCallAfterTheLastTrueAndFreesTheObject) {
  Owner owner;
  owner.frames = 4;
  qvObjectId id = Add(&owner);
  ASSERT_NE(id.handle, nullptr);
  EXPECT_EQ(owner.drawn, 0) << "nothing is drawn before the first frame is asked for";
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(Frame(id), 0) << "frame " << i;
    EXPECT_EQ(owner.drawn, i);
  }
  EXPECT_EQ(owner.releaseCalls, 0);
  EXPECT_EQ(Frame(id), 1);
  EXPECT_EQ(owner.drawn, 4) << "the call after the last frame draws none";
  EXPECT_EQ(owner.finishCalls, 1);
  EXPECT_EQ(owner.releaseCalls, 1);
  EXPECT_EQ(owner.releasedWith, 1);
  qvAsyncDraw* gone = nullptr;
  EXPECT_EQ(FindAsyncDraw(id, &gone), ERR_FINDARRAY);
  EXPECT_EQ(Frame(id), -ERR_FINDARRAY);
  EXPECT_EQ(*AsyncDrawListHead(), nullptr);
}

TEST_F(AsyncDrawTest, CancelDropsAndFinishCompletesTheDrawing) {
  Owner cancelled, finished;
  qvObjectId a = Add(&cancelled), b = Add(&finished);
  EXPECT_EQ(Frame(a), 0);
  EXPECT_EQ(CancelAsyncDraw(L, a), 0);
  EXPECT_EQ(cancelled.finishCalls, 0);
  EXPECT_EQ(cancelled.releasedWith, 0);
  EXPECT_EQ(FinishAsyncDraw(L, b), 0);
  EXPECT_EQ(finished.finishCalls, 1);
  EXPECT_EQ(finished.current, finished.frames);
  EXPECT_EQ(finished.releasedWith, 1);
  EXPECT_EQ(CancelAsyncDraw(L, a), ERR_FINDARRAY);
  EXPECT_EQ(FinishAsyncDraw(L, {7, nullptr}), ERR_FINDASYNCDRAW);
  EXPECT_EQ(*AsyncDrawListHead(), nullptr);
}

TEST_F(AsyncDrawTest, ChosenFramesGoThroughTheOwnersMessages) {
  display->layersOn = 1;
  Owner owner;
  owner.frames = 5;
  qvObjectId id = Add(&owner, kAsyncDrawAnim);
  EXPECT_EQ(Frame(id, 6), -ERR_ANIMFRAME);
  EXPECT_EQ(Frame(id, 1), 0);  // the next frame: the step draws it
  EXPECT_EQ(owner.current, 1);
  EXPECT_EQ(Frame(id, 1), 0);  // the frame shown: nothing
  EXPECT_EQ(owner.drawn, 1);
  EXPECT_EQ(Frame(id, 4), 0);  // a jump: go there, draw it
  EXPECT_EQ(owner.log, "g4 d ");
  EXPECT_EQ(owner.drawn, 2);
  EXPECT_EQ(Frame(id, -3), 0);  // below 1 counts as 0: the next frame
  EXPECT_EQ(owner.current, 5);
  EXPECT_EQ(Frame(id, 2), 0);  // back to 2: no longer at the end
  EXPECT_EQ(Frame(id, 0), 0);
  EXPECT_EQ(Frame(id, 5), 0);  // the last frame reached by a jump finishes it
  EXPECT_EQ(owner.releaseCalls, 0);
  EXPECT_EQ(Frame(id, 6), 1) << "beyond the end once finished completes the drawing";
  EXPECT_EQ(owner.releasedWith, 1);
}

TEST_F(AsyncDrawTest, ABGPicOutputRecordsEachFrame) {
  display->layersOn = 1;
  ASSERT_EQ(
      SelectBGPicAsLayerTarget(L, {display->bgpic->header.id, display->bgpic->header.handle}, true),
      0);
  ASSERT_EQ(display->outputType, kOutputBGPic);
  Owner owner;
  qvObjectId id = Add(&owner);
  EXPECT_EQ(Frame(id), 0);
  EXPECT_EQ(owner.log, "r1 r0 ");
}

TEST_F(AsyncDrawTest, FramesAreRefusedOutsideTheirDisplayAndItsOutput) {
  Owner owner;
  qvObjectId id = Add(&owner);
  qvObjectId brushId{5, nullptr};
  ASSERT_EQ(AllocBrush(&brushId, false, 8, 8, 0, true, true, false, false, nullptr), 0);
  struct Row {
    const char* what;
    int32_t outputType;  // selected with the brush; 0: double buffering
    int code;
  };
  const Row rows[] = {
      {"brush", kOutputPicture, ERR_SELECTBRUSH},
      {"mask", kOutputMask, ERR_SELECTMASK},
      {"alpha channel", kOutputAlpha, ERR_SELECTALPHACHANNEL},
      {"double buffer", 0, ERR_ENDDOUBLEBUFFER},
  };
  for (const Row& row : rows) {
    if (row.outputType != 0) {
      ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, brushId, row.outputType, 0, 0, 0), 0);
    } else {
      ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
    }
    EXPECT_EQ(Frame(id), -row.code) << row.what;
    if (row.outputType != 0) {
      ASSERT_EQ(EndSelectOutput(L, display, true), 0);
    } else {
      ASSERT_EQ(FreeDoubleBuffer(display), 0);
    }
  }
  EXPECT_EQ(owner.drawn, 0);
  EXPECT_EQ(Frame(id, 2), -ERR_NOLAYERS);
  EXPECT_EQ(Frame({3, nullptr}), -ERR_FINDASYNCDRAW);

  // Another display is current: the object draws only on its own, which cannot be freed.
  qvObjectId secondId{2, nullptr};
  qvDisplayTags tags = test::TagsOf({{"width", 16}, {"height", 16}});
  qvDisplay* second = nullptr;
  ASSERT_EQ(CreateDisplayCore(L, &secondId, false, &tags, &second), 0);
  SetCurrentDisplay(second);
  SetOutputTarget(second->bgpic);
  EXPECT_EQ(Frame(id), -ERR_ADFWRONGDISP);
  EXPECT_TRUE(HasAsyncDrawObject(display));
  EXPECT_FALSE(HasAsyncDrawObject(second));
  EXPECT_EQ(FreeDisplayCore(L, {1, nullptr}, true), ERR_ADFFREEDISP);
  EXPECT_EQ(CancelAsyncDraw(L, id), 0);
  EXPECT_EQ(FreeDisplayCore(L, {1, nullptr}, true), 0);
}

TEST_F(AsyncDrawTest, TheListAnswersForItsObjectsAndDropsThemAll) {
  Owner fx, move;
  fx.inUse = 0x1234;
  move.busy = 9;  // only transitions are asked whether they are busy
  Add(&fx, kAsyncDrawFx);
  Add(&move, kAsyncDrawMoveObject);
  EXPECT_EQ(IsAsyncDrawBusy(), 0);
  fx.busy = 3;
  EXPECT_EQ(IsAsyncDrawBusy(), 3);
  EXPECT_TRUE(IsUsedByAsyncDraw(reinterpret_cast<void*>(0x1234)));
  EXPECT_FALSE(IsUsedByAsyncDraw(reinterpret_cast<void*>(0x1235)));
  NotifyAsyncDrawObjects(kAsyncDrawGoToFrame, 2);
  EXPECT_EQ(fx.current, 2);
  EXPECT_EQ(move.current, 2);
  FreeAllAsyncDraws(L);
  EXPECT_EQ(fx.releasedWith, 0);
  EXPECT_EQ(move.releasedWith, 0);
  EXPECT_EQ(fx.finishCalls + move.finishCalls, 0);
  EXPECT_EQ(*AsyncDrawListHead(), nullptr);
}

}  // namespace
}  // namespace qv
