// The graphics library's table: its commands and constants.
#include "libs/graphics/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"SaveSnapshot", cmd::SaveSnapshot},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"CENTER", nullptr, -100000},
    {"LEFT", nullptr, -90000},
    {"RIGHT", nullptr, -80000},
    {"TOP", nullptr, -70000},
    {"BOTTOM", nullptr, -60000},
    {"LEFTOUT", nullptr, -50000},
    {"RIGHTOUT", nullptr, -40000},
    {"TOPOUT", nullptr, -30000},
    {"BOTTOMOUT", nullptr, -20000},
    {"NOTRANSPARENCY", nullptr, 4294967295.0},
    {"NOCOLOR", nullptr, 4294967295.0},
    {"LINEAR", nullptr, 2},
    {"RADIAL", nullptr, 3},
    {"CONICAL", nullptr, 4},
    {"SNAPWINDOW", nullptr, 0},
    {"SNAPDISPLAY", nullptr, 1},
    {"SNAPDESKTOP", nullptr, 2},
    {"IMGFMT_BMP", nullptr, 0},
    {"IMGFMT_PNG", nullptr, 1},
    {"IMGFMT_JPEG", nullptr, 2},
    {"IMGFMT_GIF", nullptr, 3},
    {"IMGFMT_ILBM", nullptr, 4},
    {"BGPIC", nullptr, 1},
    {"BRUSH", nullptr, 3},
    {"ANIM", nullptr, 4},
    {"BRUSHPART", nullptr, 12},
    {"BGPICPART", nullptr, 13},
    {"DISPLAY", nullptr, 21},
    {"LAYER", nullptr, 22},
    {"MASK", nullptr, 28},
    {"ALPHACHANNEL", nullptr, 30},
    {"DOUBLEBUFFER", nullptr, 38},
    {nullptr, nullptr, 0},
};

}  // namespace

const qvLibrary kGraphicsLibrary{"graphics", kCommands, kConstants, nullptr};

}  // namespace qv
