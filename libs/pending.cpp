// The libraries whose commands are not written yet: each is registered under its name with no
// commands, so that the command list shows every library in its place. A library that gets its
// own folder takes its table from here into its library.cpp.
#include "libs/libraries.h"

namespace qv {

// The text library's constants come before its commands: the draw library's form styles and
// shadow directions are registered here and shared with it.
namespace {
const qvConstantRow kTextConstants[] = {
    {"NORMAL", nullptr, 1},        {"ANTIALIAS", nullptr, 16},    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},         {"SHDWNORTH", nullptr, 0},     {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},      {"SHDWSOUTHEAST", nullptr, 3}, {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5}, {"SHDWWEST", nullptr, 6},      {"SHDWNORTHWEST", nullptr, 7},
    {nullptr, nullptr, 0},
};
}  // namespace
const qvLibrary kTextLibrary{"text", nullptr, kTextConstants, nullptr};
const qvLibrary kAnimLibrary{"anim", nullptr, nullptr, nullptr};
const qvLibrary kTransitionFxLibrary{"transitionfx", nullptr, nullptr, nullptr};

}  // namespace qv
