// The video library's command handlers.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

int32_t OpenVideo(qvScriptState* L);
int32_t CloseVideo(qvScriptState* L);
int32_t PlayVideo(qvScriptState* L);
int32_t StopVideo(qvScriptState* L);
int32_t PauseVideo(qvScriptState* L);
int32_t ResumeVideo(qvScriptState* L);
int32_t SeekVideo(qvScriptState* L);
int32_t IsVideo(qvScriptState* L);
int32_t SetVideoVolume(qvScriptState* L);
int32_t IsVideoPlaying(qvScriptState* L);
int32_t ForceVideoDriver(qvScriptState* L);
int32_t DumpVideo(qvScriptState* L);

}  // namespace qv::cmd
