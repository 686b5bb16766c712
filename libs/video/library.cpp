// The video library's table: the commands and the driver constants.
#include "libs/libraries.h"
#include "libs/video/commands.h"
#include "media/videos.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"OpenVideo", cmd::OpenVideo},
    {"CloseVideo", cmd::CloseVideo},
    {"PlayVideo", cmd::PlayVideo},
    {"StopVideo", cmd::StopVideo},
    {"PauseVideo", cmd::PauseVideo},
    {"ResumeVideo", cmd::ResumeVideo},
    {"SeekVideo", cmd::SeekVideo},
    {"IsVideo", cmd::IsVideo},
    {"SetVideoVolume", cmd::SetVideoVolume},
    {"IsVideoPlaying", cmd::IsVideoPlaying},
    {"ForceVideoDriver", cmd::ForceVideoDriver},
    {"DumpVideo", cmd::DumpVideo},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"VIDDRV_OS", nullptr, kVideoDriverOs},
    {"VIDDRV_QUILLVANE", nullptr, kVideoDriverInternal},
    {nullptr, nullptr, 0},
};

int32_t OpenVideo(qvScriptState*) { return OpenVideoObjects(); }

}  // namespace

const qvLibrary kVideoLibrary{"video", kCommands, kConstants, OpenVideo};

void FreeVideoLibrary(qvScriptState* L) { FreeAllVideos(L); }

}  // namespace qv
