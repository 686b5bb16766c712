// Video commands: opening, closing and driving videos of the internal engine, and dumping a
// stopped video's frames and sound into files.
#include "libs/video/commands.h"

#include <algorithm>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/events.h"
#include "display/displays.h"
#include "media/videos.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

int32_t VideoArg(qvScriptState* L, int index, qvVideo** out) {
  return FindVideoOrError(CheckObjectId(L, index), out);
}

int32_t BreakBetweenPackets(void* context) {
  return CheckBreak(static_cast<qvScriptState*>(context), 0, nullptr);
}

}  // namespace

int32_t OpenVideo(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvOptionalId id = OptObjectId(L, 1);
  const char* file = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
  PrintStatusMessage(GetErrorText(kTextLoadingVideo), file, true);
  qvVideo* video;
  int32_t err = OpenVideoObject(L, id, file, &video);
  if (err != 0) {
    PrintFailedMessage();
    return err;
  }
  PrintDoneMessage();
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, video->header.handle);
  return 1;
}

int32_t CloseVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return CloseVideoObject(L, CheckObjectId(L, 1));
}

int32_t PlayVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  const int32_t x = VmOptInt(L, 2, 0);
  const int32_t y = VmOptInt(L, 3, 0);
  if (err != 0) return err;
  // Videos play in a display: without one there is nowhere to play.
  qvDisplay* display = CurrentDisplay();
  if (display == nullptr) return ERR_WRONGUSAGE;
  return PlayVideoObject(video, display, x, y);
}

int32_t StopVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  if (err == 0) StopVideoObject(video);
  return err;
}

int32_t PauseVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  return err != 0 ? err : PauseVideoObject(video);
}

int32_t ResumeVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  return err != 0 ? err : ResumeVideoObject(video);
}

int32_t SeekVideo(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  const double ms = VmCheckNumber(L, 2);
  if (err != 0) return err;
  // Beyond the int64 range is out of range whatever the duration.
  if (!(ms >= -1.0e15 && ms <= 1.0e15)) return video->seekable ? ERR_SEEKRANGE : ERR_SEEKFORMAT;
  return SeekVideoObject(video, static_cast<int64_t>(ms));
}

int32_t IsVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* file = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  VmPushNumber(L, ProbeVideoFile(file) ? 1 : 0);
  return 1;
}

int32_t SetVideoVolume(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  const double v = GetNumberOrPercent(L, 2, 64, 0, nullptr);
  if (err != 0) return err;
  SetVideoObjectVolume(video, std::clamp(DoubleToInt32(v), 0, 64));
  return 0;
}

int32_t IsVideoPlaying(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  if (err != 0) return err;
  VmPushNumber(L, video->state == kVideoPlaying ? 1 : 0);
  return 1;
}

int32_t ForceVideoDriver(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetVideoDriver(VmCheckInt(L, 1));
  return 0;
}

int32_t DumpVideo(qvScriptState* L) {
  CheckArgCount(L, 1, 5);
  qvVideo* video;
  int32_t err = VideoArg(L, 1, &video);
  // The position in a display comes with the display road; the frames go to files here.
  const char* destination = VmOptString(L, 4, nullptr);
  const int32_t format = VmOptInt(L, 5, 0);
  if (err != 0) return err;
  static const char* const kExtensions[] = {"bmp", "png", "jpg", "gif", "iff"};
  if (video->state != kVideoStopped || format < 0 || format > 4) return ERR_WRONGUSAGE;
  return DumpVideoFrames(video, destination, format, kExtensions[format], BreakBetweenPackets, L);
}

}  // namespace qv::cmd
