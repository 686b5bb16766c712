// The plugin host's service table, filled in the slot order of include/qv_plugin.h, and the
// plugin manager's start at start-up.
#pragma once

#include <cstdint>

#include "include/qv_plugin.h"

namespace qv {

struct qvScriptState;
struct qvPlayerState;

// Fills the 190 services in slot order (FreeType and the embedded fonts loaded on the way).
void FillPluginServices(void* services[QV_SLOT_COUNT]);
// Hands the table's filler to the plugin manager, scans the program's directory with the
// SKIPPLUGINS filter and registers every plugin: 0 or the first registration error.
int32_t StartPluginManager(qvScriptState* L, const qvPlayerState* state);

}  // namespace qv
