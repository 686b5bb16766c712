// The brush library's table: its commands and constants.
#include "libs/brush/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"CreateBrush", cmd::CreateBrush},
    {"FreeBrush", cmd::FreeBrush},
    {"DisplayBrush", cmd::DisplayBrush},
    {"DisplayBrushPart", cmd::DisplayBrushPart},
    {"LoadBrush", cmd::LoadBrush},
    {"SaveBrush", cmd::SaveBrush},
    {"SwirlBrush", cmd::SwirlBrush},
    {"PixelateBrush", cmd::PixelateBrush},
    {"WaterRippleBrush", cmd::WaterRippleBrush},
    {"PerspectiveDistortBrush", cmd::PerspectiveDistortBrush},
    {"ArcDistortBrush", cmd::ArcDistortBrush},
    {"PolarDistortBrush", cmd::PolarDistortBrush},
    {"BarrelDistortBrush", cmd::BarrelDistortBrush},
    {"BlurBrush", cmd::BlurBrush},
    {"EmbossBrush", cmd::EmbossBrush},
    {"EdgeBrush", cmd::EdgeBrush},
    {"SharpenBrush", cmd::SharpenBrush},
    {"SolarizeBrush", cmd::SolarizeBrush},
    {"GammaBrush", cmd::GammaBrush},
    {"ContrastBrush", cmd::ContrastBrush},
    {"ModulateBrush", cmd::ModulateBrush},
    {"SepiaToneBrush", cmd::SepiaToneBrush},
    {"CharcoalBrush", cmd::CharcoalBrush},
    {"BrushToMonochrome", cmd::BrushToMonochrome},
    {"CreateShadowBrush", cmd::CreateShadowBrush},
    {"CreateBorderBrush", cmd::CreateBorderBrush},
    {"OilPaintBrush", cmd::OilPaintBrush},
    {"ReadBrushPixel", cmd::ReadBrushPixel},
    {"WriteBrushPixel", cmd::WriteBrushPixel},
    {"SelectBrush", cmd::SelectBrush},
    {"SelectMask", cmd::SelectMask},
    {"SelectAlphaChannel", cmd::SelectAlphaChannel},
    {"BeginDoubleBuffer", cmd::BeginDoubleBuffer},
    {"EndDoubleBuffer", cmd::EndDoubleBuffer},
    {"Flip", cmd::Flip},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"MASKVISIBLE", nullptr, 0},    {"MASKINVISIBLE", nullptr, 1},  {"MASKVANILLACOPY", nullptr, 2},
    {"MASKXOR", nullptr, 3},        {"MASKAND", nullptr, 4},        {"MASKOR", nullptr, 5},
    {"VANILLACOPY", nullptr, -1},   {"SELMODE_NORMAL", nullptr, 0}, {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2}, {nullptr, nullptr, 0},
};

}  // namespace

const qvLibrary kBrushLibrary{"brush", kCommands, kConstants, nullptr};

}  // namespace qv
