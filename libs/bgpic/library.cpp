// The bgpic library's table.
#include "libs/bgpic/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"SelectBGPic", cmd::SelectBGPic},
    {"EndSelect", cmd::EndSelect},
    {"DisplayBGPicPart", cmd::DisplayBGPicPart},
    {nullptr, nullptr},
};

}  // namespace

const qvLibrary kBGPicLibrary{"bgpic", kCommands, nullptr, nullptr};

}  // namespace qv
