// The display road of start-up's preloading: the applet's display declarations (display 1 made
// when none is declared) turned into CreateDisplay calls through the script machine, so that
// every creation rule and error is the command's own.
#pragma once

#include "core/player_state.h"

namespace qv {

struct qvScriptState;

// Appends display 1 when no display declaration has id 1, merges the settings' display flags
// into each display declaration unless the settings are locked, then calls the global
// "createdisplay" for each with its id and option table. The quiet attribute, the current line
// and the current function ("CreateDisplay") are set for each call, so an error names the
// declaration. Returns 0 or the first call's error code. Leaves the stack as it was.
int PreloadDisplays(qvScriptState* L, qvAppletSettings* settings, const qvPlayerState* state);

}  // namespace qv
