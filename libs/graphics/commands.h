// The command handlers of the graphics library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
// Registers GetAttribute's rows of the kinds whose subsystems are still to come; the library's
// open. 0 or an error code.
int32_t RegisterPendingAttributes();
}  // namespace qv

namespace qv::cmd {

// colour_commands.cpp
int32_t Red(qvScriptState* L);
int32_t Green(qvScriptState* L);
int32_t Blue(qvScriptState* L);
int32_t RGB(qvScriptState* L);
int32_t ARGB(qvScriptState* L);
int32_t MixRGB(qvScriptState* L);
int32_t GetRandomColor(qvScriptState* L);
int32_t GetPen(qvScriptState* L);
int32_t IsPicture(qvScriptState* L);
int32_t DumpVideoTime(qvScriptState* L);

// snapshot_commands.cpp
int32_t SaveSnapshot(qvScriptState* L);

// frame_commands.cpp
int32_t GetRealColor(qvScriptState* L);
int32_t VWait(qvScriptState* L);
int32_t SetFPSLimit(qvScriptState* L);
int32_t GetFPSLimit(qvScriptState* L);
int32_t SetDrawTagsDefault(qvScriptState* L);

// clip_commands.cpp
int32_t CreateClipRegion(qvScriptState* L);
int32_t SetClipRegion(qvScriptState* L);
int32_t FreeClipRegion(qvScriptState* L);

// pointer_commands.cpp
int32_t CreatePointer(qvScriptState* L);
int32_t FreePointer(qvScriptState* L);
int32_t SetPointer(qvScriptState* L);
int32_t ShowPointer(qvScriptState* L);
int32_t HidePointer(qvScriptState* L);
int32_t MovePointer(qvScriptState* L);

// async_commands.cpp
int32_t AsyncDrawFrame(qvScriptState* L);
int32_t CancelAsyncDraw(qvScriptState* L);
int32_t FinishAsyncDraw(qvScriptState* L);

// attribute_commands.cpp
int32_t GetAttribute(qvScriptState* L);

}  // namespace qv::cmd
