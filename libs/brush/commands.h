// The command handlers of the brush library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// brush_commands.cpp: creating and freeing brushes
int32_t CreateBrush(qvScriptState* L);
int32_t FreeBrush(qvScriptState* L);

// show_commands.cpp: showing a brush or a part of it
int32_t DisplayBrush(qvScriptState* L);
int32_t DisplayBrushPart(qvScriptState* L);

// picture_commands.cpp: picture files and single pixels
int32_t LoadBrush(qvScriptState* L);
int32_t SaveBrush(qvScriptState* L);
int32_t ReadBrushPixel(qvScriptState* L);
int32_t WriteBrushPixel(qvScriptState* L);

// filter_commands.cpp: filters on a brush's picture, and shadow and border brushes
int32_t BlurBrush(qvScriptState* L);
int32_t EmbossBrush(qvScriptState* L);
int32_t EdgeBrush(qvScriptState* L);
int32_t SharpenBrush(qvScriptState* L);
int32_t SolarizeBrush(qvScriptState* L);
int32_t GammaBrush(qvScriptState* L);
int32_t ContrastBrush(qvScriptState* L);
int32_t ModulateBrush(qvScriptState* L);
int32_t SepiaToneBrush(qvScriptState* L);
int32_t CharcoalBrush(qvScriptState* L);
int32_t BrushToMonochrome(qvScriptState* L);
int32_t CreateShadowBrush(qvScriptState* L);
int32_t CreateBorderBrush(qvScriptState* L);
int32_t OilPaintBrush(qvScriptState* L);

// output_commands.cpp: output devices and double buffering
int32_t SelectBrush(qvScriptState* L);
int32_t SelectMask(qvScriptState* L);
int32_t SelectAlphaChannel(qvScriptState* L);
int32_t BeginDoubleBuffer(qvScriptState* L);
int32_t EndDoubleBuffer(qvScriptState* L);
int32_t Flip(qvScriptState* L);

// effect_commands.cpp: swirl, pixelate and water ripple
int32_t SwirlBrush(qvScriptState* L);
int32_t PixelateBrush(qvScriptState* L);
int32_t WaterRippleBrush(qvScriptState* L);

// distort_commands.cpp: the distortions, which give the brush a new size
int32_t PerspectiveDistortBrush(qvScriptState* L);
int32_t ArcDistortBrush(qvScriptState* L);
int32_t PolarDistortBrush(qvScriptState* L);
int32_t BarrelDistortBrush(qvScriptState* L);

// edit_commands.cpp: reworking a brush's picture
int32_t ScaleBrush(qvScriptState* L);
int32_t TintBrush(qvScriptState* L);
int32_t ReplaceColors(qvScriptState* L);
int32_t InvertBrush(qvScriptState* L);
int32_t FlipBrush(qvScriptState* L);
int32_t MixBrush(qvScriptState* L);
int32_t BrushToGray(qvScriptState* L);
int32_t RotateBrush(qvScriptState* L);
int32_t TransformBrush(qvScriptState* L);
int32_t CropBrush(qvScriptState* L);
int32_t FloodFill(qvScriptState* L);
int32_t TrimBrush(qvScriptState* L);
int32_t RasterizeBrush(qvScriptState* L);
// plane_commands.cpp: colour key, mask and alpha channel
int32_t SetBrushTransparency(qvScriptState* L);
int32_t SetMaskMode(qvScriptState* L);
int32_t SetAlphaIntensity(qvScriptState* L);
int32_t DeleteAlphaChannel(qvScriptState* L);
int32_t InvertMask(qvScriptState* L);
int32_t InvertAlphaChannel(qvScriptState* L);
int32_t DeleteMask(qvScriptState* L);
int32_t ChangeBrushTransparency(qvScriptState* L);
// create_commands.cpp: new brushes from other objects, copies, the desktop, colour tables,
// gradients and textures
int32_t GetBrushLink(qvScriptState* L);
int32_t ConvertToBrush(qvScriptState* L);
int32_t CopyBrush(qvScriptState* L);
int32_t GrabDesktop(qvScriptState* L);
int32_t BrushToRGBArray(qvScriptState* L);
int32_t RGBArrayToBrush(qvScriptState* L);
int32_t CreateGradientBrush(qvScriptState* L);
int32_t CreateTexturedBrush(qvScriptState* L);

}  // namespace qv::cmd
