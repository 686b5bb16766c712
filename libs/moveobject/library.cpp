// The moveobject library's table: its five commands and the effects of a move.
#include "display/move_steps.h"
#include "libs/libraries.h"
#include "libs/moveobject/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"MoveBrush", cmd::MoveBrush},   {"MoveTextObject", cmd::MoveTextObject},
    {"MoveLayer", cmd::MoveLayer},   {"MoveAnim", cmd::MoveAnim},
    {"MoveSprite", cmd::MoveSprite}, {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"BOUNCE", nullptr, kMoveBounce},         {"SMOOTHOUT", nullptr, kMoveSmoothOut},
    {"DAMPED", nullptr, kMoveDamped},         {"SINE", nullptr, kMoveSine},
    {"BIGSINE", nullptr, kMoveBigSine},       {"LOWERCURVE", nullptr, kMoveLowerCurve},
    {"UPPERCURVE", nullptr, kMoveUpperCurve}, {nullptr, nullptr, 0},
};

}  // namespace

const qvLibrary kMoveObjectLibrary{"moveobject", kCommands, kConstants, nullptr};

}  // namespace qv
