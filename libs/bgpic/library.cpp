// The bgpic library's table.
#include "libs/bgpic/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"DisplayBGPic", cmd::DisplayBGPic},
    {"DisplayBGPicPart", cmd::DisplayBGPicPart},
    {"ScaleBGPic", cmd::ScaleBGPic},
    {"CreateGradientBGPic", cmd::CreateGradientBGPic},
    {"CreateRainbowBGPic", cmd::CreateGradientBGPic},
    {"CreateTexturedBGPic", cmd::CreateTexturedBGPic},
    {"BrushToBGPic", cmd::BrushToBGPic},
    {"BGPicToBrush", cmd::BGPicToBrush},
    {"CreateBGPic", cmd::CreateBGPic},
    {"FreeBGPic", cmd::FreeBGPic},
    {"LoadBGPic", cmd::LoadBGPic},
    {"SelectBGPic", cmd::SelectBGPic},
    {"EndSelect", cmd::EndSelect},
    {"CopyBGPic", cmd::CopyBGPic},
    {nullptr, nullptr},
};

}  // namespace

const qvLibrary kBGPicLibrary{"bgpic", kCommands, nullptr, nullptr};

}  // namespace qv
