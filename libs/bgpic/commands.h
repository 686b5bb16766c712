// The command handlers of the bgpic library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// bgpic_commands.cpp: showing BGPics, BGPics as output devices, sizes, freeing
int32_t DisplayBGPic(qvScriptState* L);
int32_t SelectBGPic(qvScriptState* L);
int32_t EndSelect(qvScriptState* L);
int32_t DisplayBGPicPart(qvScriptState* L);
int32_t ScaleBGPic(qvScriptState* L);
int32_t FreeBGPic(qvScriptState* L);

// create_commands.cpp: new BGPics, and brushes from BGPics
int32_t CreateBGPic(qvScriptState* L);
int32_t CreateGradientBGPic(qvScriptState* L);  // also CreateRainbowBGPic
int32_t CreateTexturedBGPic(qvScriptState* L);
int32_t LoadBGPic(qvScriptState* L);
int32_t CopyBGPic(qvScriptState* L);
int32_t BrushToBGPic(qvScriptState* L);
int32_t BGPicToBrush(qvScriptState* L);

}  // namespace qv::cmd
