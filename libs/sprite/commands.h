// The command handlers of the sprite library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// sprite_commands.cpp: showing, removing, changing and freeing sprites
int32_t DisplaySprite(qvScriptState* L);
int32_t RemoveSprite(qvScriptState* L);
int32_t RemoveSprites(qvScriptState* L);
int32_t FreeSprite(qvScriptState* L);
int32_t ScaleSprite(qvScriptState* L);
int32_t CopySprite(qvScriptState* L);
int32_t FlipSprite(qvScriptState* L);

// create_commands.cpp: sprites built from other objects or loaded from files
int32_t CreateSprite(qvScriptState* L);
int32_t LoadSprite(qvScriptState* L);

}  // namespace qv::cmd
