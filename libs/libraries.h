// The player's script libraries, one table each (qvLibrary in core/registry.h: commands,
// constants and an optional open function). The player's library table in player/player.cpp
// lists them in their fixed order and opens each through OpenLibrary.
//
// A library lives in libs/<library>/: command handlers (declared in its commands.h, namespace
// qv::cmd, named after their commands) and library.cpp with its table. Until its commands are
// written a library is an empty table in libs/pending.cpp.
#pragma once

#include "core/registry.h"

namespace qv {

extern const qvLibrary kStringLibrary;
extern const qvLibrary kMathLibrary;
extern const qvLibrary kGraphicsLibrary;
extern const qvLibrary kDrawLibrary;
extern const qvLibrary kMoveObjectLibrary;
extern const qvLibrary kDosLibrary;
extern const qvLibrary kEventLibrary;
extern const qvLibrary kSystemLibrary;
extern const qvLibrary kLayersLibrary;
extern const qvLibrary kTextLibrary;
extern const qvLibrary kAnimLibrary;
extern const qvLibrary kDisplayLibrary;
extern const qvLibrary kSoundLibrary;
extern const qvLibrary kBrushLibrary;
extern const qvLibrary kBGPicLibrary;
extern const qvLibrary kTransitionFxLibrary;
extern const qvLibrary kSpriteLibrary;
extern const qvLibrary kMemBlockLibrary;
extern const qvLibrary kVectorGraphicsLibrary;
extern const qvLibrary kNetworkLibrary;
extern const qvLibrary kVideoLibrary;

// Shutdown, before the machine closes: frees every timer that the script left running.
void FreeSystemLibrary();
// Shutdown, first: stops every sound, frees samples and music, closes the audio output.
void FreeSoundLibrary(qvScriptState* L);
// Shutdown, after the displays are freed: unplugs the layer system.
void FreeLayersLibrary();
// Shutdown: closes every connection, server and UDP object.
void FreeNetworkLibrary();
// Shutdown, before the machine closes: closes the files, directory scans and deletes the
// temporary files that the dos library handed out.
void FreeDosLibrary(qvScriptState* L);
// Shutdown, after the displays and layers are freed (nothing draws with a font after it): frees
// the font objects, the cached fonts and the font paths and closes the font engines.
void FreeTextLibrary(qvScriptState* L);
// Shutdown: frees the draw library's degree tables.
void FreeDrawLibrary();
// Shutdown, before the machine closes: frees every memory block.
void FreeMemBlockLibrary(qvScriptState* L);
// Shutdown, before the plugins are unloaded: frees every path and the path style (L may be
// null once the machine is closed).
void FreeVectorGraphicsLibrary(qvScriptState* L);

}  // namespace qv
