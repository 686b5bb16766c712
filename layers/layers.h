// The layer system: the layer lists of the BGPics and what the code below asks of them. It plugs
// into the core at its library's open (core/layer_system.h); the display code reaches it only
// through that record.
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv {

struct qvBGPic;
struct qvLayer;

// Registers the layer system's record with the core and its rows of GetAttribute; 0 or an error
// code.
int32_t OpenLayerSystem();
// Forgets the record (shutdown, after the displays are gone).
void CloseLayerSystem();

// The walks over every BGPic's layer list, as the record answers them.
int32_t CountBGPicLayers(const qvBGPic* bgpic);
// Copy-on-write: whether a layer other than `except` shows the object (a layer of a brush part
// shows its brush; a layer that shows no object matches any kind but a brush), and pointing every
// such layer at `newHandle` under id 0 (true when there was one).
bool IsObjectShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except);
bool RepointObjectLayers(int32_t kind, qvObjectId id, void* newHandle);

}  // namespace qv
