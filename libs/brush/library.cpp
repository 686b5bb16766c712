// The brush library's table: its commands and constants.
#include "libs/brush/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"CreateBrush", cmd::CreateBrush},
    {"DisplayBrush", cmd::DisplayBrush},
    {"DisplayBrushPart", cmd::DisplayBrushPart},
    {"ScaleBrush", cmd::ScaleBrush},
    {"FreeBrush", cmd::FreeBrush},
    {"TintBrush", cmd::TintBrush},
    {"ReplaceColors", cmd::ReplaceColors},
    {"InvertBrush", cmd::InvertBrush},
    {"FlipBrush", cmd::FlipBrush},
    {"MixBrush", cmd::MixBrush},
    {"BrushToGray", cmd::BrushToGray},
    {"RotateBrush", cmd::RotateBrush},
    {"TransformBrush", cmd::TransformBrush},
    {"GetBrushLink", cmd::GetBrushLink},
    {"ConvertToBrush", cmd::ConvertToBrush},
    {"CopyBrush", cmd::CopyBrush},
    {"SetBrushTransparency", cmd::SetBrushTransparency},
    {"LoadBrush", cmd::LoadBrush},
    {"SelectMask", cmd::SelectMask},
    {"SelectAlphaChannel", cmd::SelectAlphaChannel},
    {"SelectBrush", cmd::SelectBrush},
    {"SetMaskMode", cmd::SetMaskMode},
    {"SaveBrush", cmd::SaveBrush},
    {"SetAlphaIntensity", cmd::SetAlphaIntensity},
    {"DeleteAlphaChannel", cmd::DeleteAlphaChannel},
    {"CropBrush", cmd::CropBrush},
    {"InvertMask", cmd::InvertMask},
    {"InvertAlphaChannel", cmd::InvertAlphaChannel},
    {"FloodFill", cmd::FloodFill},
    {"DeleteMask", cmd::DeleteMask},
    {"BeginDoubleBuffer", cmd::BeginDoubleBuffer},
    {"EndDoubleBuffer", cmd::EndDoubleBuffer},
    {"Flip", cmd::Flip},
    {"GrabDesktop", cmd::GrabDesktop},
    {"TrimBrush", cmd::TrimBrush},
    {"RasterizeBrush", cmd::RasterizeBrush},
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
    {"SwirlBrush", cmd::SwirlBrush},
    {"PixelateBrush", cmd::PixelateBrush},
    {"BrushToMonochrome", cmd::BrushToMonochrome},
    {"ChangeBrushTransparency", cmd::ChangeBrushTransparency},
    {"CreateShadowBrush", cmd::CreateShadowBrush},
    {"CreateBorderBrush", cmd::CreateBorderBrush},
    {"WaterRippleBrush", cmd::WaterRippleBrush},
    {"OilPaintBrush", cmd::OilPaintBrush},
    {"BrushToRGBArray", cmd::BrushToRGBArray},
    {"RGBArrayToBrush", cmd::RGBArrayToBrush},
    {"PerspectiveDistortBrush", cmd::PerspectiveDistortBrush},
    {"ArcDistortBrush", cmd::ArcDistortBrush},
    {"PolarDistortBrush", cmd::PolarDistortBrush},
    {"BarrelDistortBrush", cmd::BarrelDistortBrush},
    {"CreateGradientBrush", cmd::CreateGradientBrush},
    {"CreateTexturedBrush", cmd::CreateTexturedBrush},
    {"ReadBrushPixel", cmd::ReadBrushPixel},
    {"WriteBrushPixel", cmd::WriteBrushPixel},
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
