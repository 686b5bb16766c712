// The libraries whose commands are not written yet: each is registered under its name with no
// commands, so that the command list shows every library in its place. A library that gets its
// own folder takes its table from here into its library.cpp.
#include "libs/libraries.h"

namespace qv {

const qvLibrary kAnimLibrary{"anim", nullptr, nullptr, nullptr};
const qvLibrary kTransitionFxLibrary{"transitionfx", nullptr, nullptr, nullptr};
const qvLibrary kVideoLibrary{"video", nullptr, nullptr, nullptr};

}  // namespace qv
