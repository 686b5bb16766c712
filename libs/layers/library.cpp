// The layers library's table. Its open plugs the layer system into the core, which the display
// code and the image engine ask through, and makes the batch list its commands collect in.
#include "layers/layers.h"
#include "libs/layers/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"Undo", cmd::Undo},
    {"EnableLayers", cmd::EnableLayers},
    {"DisableLayers", cmd::DisableLayers},
    {"SwapLayers", cmd::SwapLayers},
    {"InsertLayer", cmd::InsertLayer},
    {"ShowLayer", cmd::ShowLayer},
    {"HideLayer", cmd::HideLayer},
    {"RemoveLayer", cmd::RemoveLayer},
    {"FreeLayers", cmd::FreeLayers},
    {"SetLayerName", cmd::SetLayerName},
    {"DumpLayers", cmd::DumpLayers},
    {"LayerExists", cmd::LayerExists},
    {"SetLayerZPos", cmd::SetLayerZPos},
    {"TranslateLayer", cmd::TranslateLayer},
    {"GetLayerAtPos", cmd::GetLayerAtPos},
    {"SetLayerShadow", cmd::SetLayerShadow},
    {"SetLayerBorder", cmd::SetLayerBorder},
    {"LayerToFront", cmd::LayerToFront},
    {"LayerToBack", cmd::LayerToBack},
    {nullptr, nullptr},
};

int32_t OpenLayers(qvScriptState*) { return OpenLayerSystem(); }

}  // namespace

const qvLibrary kLayersLibrary{"layers", kCommands, nullptr, OpenLayers};

void FreeLayersLibrary() { CloseLayerSystem(); }

}  // namespace qv
