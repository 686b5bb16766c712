// The command handlers of the layers library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// layer_commands.cpp: switching layers, adding, reordering, removing and inspecting them
int32_t EnableLayers(qvScriptState* L);
int32_t DisableLayers(qvScriptState* L);
int32_t InsertLayer(qvScriptState* L);
int32_t ShowLayer(qvScriptState* L);
int32_t HideLayer(qvScriptState* L);
int32_t RemoveLayer(qvScriptState* L);
int32_t SwapLayers(qvScriptState* L);
int32_t LayerToFront(qvScriptState* L);
int32_t LayerToBack(qvScriptState* L);
int32_t SetLayerZPos(qvScriptState* L);
int32_t TranslateLayer(qvScriptState* L);
int32_t FreeLayers(qvScriptState* L);
int32_t SetLayerName(qvScriptState* L);
int32_t LayerExists(qvScriptState* L);
int32_t GetLayerAtPos(qvScriptState* L);
int32_t DumpLayers(qvScriptState* L);
int32_t SetLayerShadow(qvScriptState* L);
int32_t SetLayerBorder(qvScriptState* L);
int32_t Undo(qvScriptState* L);

}  // namespace qv::cmd
