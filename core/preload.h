// Start-up's preloading: the objects that the applet declares (pictures, brushes, sounds,
// buttons, key handlers, files, fonts, videos and displays, display 1 made when none is declared)
// made through the script machine by the same commands a script calls, so that every creation
// rule and error is the command's own.
#pragma once

#include "core/player_state.h"

namespace qv {

struct qvScriptState;

// Requires the declared plugins, appends display 1 when no display declaration has id 1, merges
// the settings' display flags into each display declaration unless the settings are locked, then
// calls each declaration's command (lower-cased global) in list order and CreateDisplay for
// every display last. A brush, anim or sprite whose picture a later one names again decodes it
// into the image cache, which the later ones load from; the caller frees that cache afterwards.
// The quiet attribute, the current line and the current function (the command) are set for each
// call, so that an error names the declaration; a command that is not there gives
// ERR_UNIMPLCMD. Returns 0 (the declarations are then freed) or the first call's error code.
// Leaves the stack as it was.
int PreloadObjects(qvScriptState* L, qvAppletSettings* settings, const qvPlayerState* state);

}  // namespace qv
