// The moveobject library's commands: they read the object, the two points and the options and
// hand the move to display/mover.h.
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv::cmd {

int32_t MoveBrush(qvScriptState* L);
int32_t MoveTextObject(qvScriptState* L);
int32_t MoveLayer(qvScriptState* L);
int32_t MoveAnim(qvScriptState* L);
int32_t MoveSprite(qvScriptState* L);

}  // namespace qv::cmd
