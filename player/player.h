// Start-up and shutdown of the player: the spine of the program. PlayerMain creates the player
// state, the applet settings and the script machine, InitPlayer brings up the platform, the
// options and the script libraries, then either a vocabulary export is written or the applet is
// opened, its main chunk loaded and run on the script thread; ShutdownPlayer always runs last,
// reports the error that ended the road and takes everything down again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/player_state.h"

namespace qv {

struct qvScriptState;

// The whole program: returns the exit status (0 after a normal end or a user abort, 1 when an
// error was reported).
int PlayerMain(int argc, char** argv);

// `linkedOffset` is the offset of an applet appended to the program, when there is one. Returns 0
// or an error code (ERR_USERABORT, which shutdown reports silently, for a start without a script).
int InitPlayer(qvScriptState* L, std::optional<uint32_t> linkedOffset, qvAppletSettings* settings,
               qvPlayerState* state, int argc, char** argv);

// Registers the two records in the machine's registry ("applet", "clargs"), makes the state the
// process's player state (through which file names find the applet's linked files) and opens the
// 21 script libraries in their fixed order. Returns 0 or the first library's error code.
int OpenLibraries(qvAppletSettings* settings, qvScriptState* L, qvPlayerState* state);

// Hands the main chunk to the machine, which leaves its main function on the stack; installs the
// line hook through which a long script notices a quit request. Returns 0 or an error code.
int LoadMainChunk(qvScriptState* L, qvPlayerState* state, qvAppletSettings* settings);

// Connects the platform to the script (null: disconnects): window states gathered or a quit
// requested make the line hook's break check run at the next new line, and a quit request sets
// the End flag there. The run of the applet connects; shutdown disconnects before the machine
// closes.
void ConnectBreakCheck(qvScriptState* L);

// Reports `code` (unless 0 or ERR_USERABORT) and frees everything in a fixed order; copes with
// every half-built state and with null records. Returns the exit status: 1 when an error was
// reported.
int ShutdownPlayer(qvScriptState* L, int32_t code, qvPlayerState* state,
                   qvAppletSettings* settings);

// A new name in the platform's temporary directory; the file is deleted at shutdown. Empty when
// no name can be made.
std::string MakeTempFileName();

}  // namespace qv
