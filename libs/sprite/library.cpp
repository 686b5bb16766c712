// The sprite library's table.
#include "libs/libraries.h"
#include "libs/sprite/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"CreateSprite", cmd::CreateSprite},   {"LoadSprite", cmd::LoadSprite},
    {"DisplaySprite", cmd::DisplaySprite}, {"RemoveSprite", cmd::RemoveSprite},
    {"FreeSprite", cmd::FreeSprite},       {"ScaleSprite", cmd::ScaleSprite},
    {"CopySprite", cmd::CopySprite},       {"FlipSprite", cmd::FlipSprite},
    {"RemoveSprites", cmd::RemoveSprites}, {nullptr, nullptr},
};

}  // namespace

const qvLibrary kSpriteLibrary{"sprite", kCommands, nullptr, nullptr};

}  // namespace qv
