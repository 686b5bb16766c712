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
    {"ScaleBrush", cmd::ScaleBrush},
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
    {"SaveBrush", cmd::SaveBrush},
    {"SetAlphaIntensity", cmd::SetAlphaIntensity},
    {"DeleteAlphaChannel", cmd::DeleteAlphaChannel},
    {"CropBrush", cmd::CropBrush},
    {"InvertMask", cmd::InvertMask},
    {"InvertAlphaChannel", cmd::InvertAlphaChannel},
    {"FloodFill", cmd::FloodFill},
    {"DeleteMask", cmd::DeleteMask},
    {"ReadBrushPixel", cmd::ReadBrushPixel},
    {"WriteBrushPixel", cmd::WriteBrushPixel},
    {"SelectBrush", cmd::SelectBrush},
    {"SelectMask", cmd::SelectMask},
    {"SelectAlphaChannel", cmd::SelectAlphaChannel},
    {"SetMaskMode", cmd::SetMaskMode},
    {"BeginDoubleBuffer", cmd::BeginDoubleBuffer},
    {"EndDoubleBuffer", cmd::EndDoubleBuffer},
    {"Flip", cmd::Flip},
    {"GrabDesktop", cmd::GrabDesktop},
    {"TrimBrush", cmd::TrimBrush},
    {"RasterizeBrush", cmd::RasterizeBrush},
    {"ChangeBrushTransparency", cmd::ChangeBrushTransparency},
    {"BrushToRGBArray", cmd::BrushToRGBArray},
    {"RGBArrayToBrush", cmd::RGBArrayToBrush},
    {"CreateGradientBrush", cmd::CreateGradientBrush},
    {"CreateTexturedBrush", cmd::CreateTexturedBrush},
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
