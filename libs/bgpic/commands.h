// The command handlers of the bgpic library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// bgpic_commands.cpp: BGPics as output devices, showing their parts
int32_t SelectBGPic(qvScriptState* L);
int32_t EndSelect(qvScriptState* L);
int32_t DisplayBGPicPart(qvScriptState* L);

}  // namespace qv::cmd
