// The layers library's table. Its commands come with the layer records; its open plugs the
// layer system into the core, which the display code and the image engine ask through.
#include "layers/layers.h"
#include "libs/libraries.h"

namespace qv {

namespace {

int32_t OpenLayers(qvScriptState*) { return OpenLayerSystem(); }

}  // namespace

const qvLibrary kLayersLibrary{"layers", nullptr, nullptr, OpenLayers};

void FreeLayersLibrary() { CloseLayerSystem(); }

}  // namespace qv
