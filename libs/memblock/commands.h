// The command handlers of the memblock library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;

// memblock_commands.cpp: the block list; 0 or ERR_MEM.
int32_t RegisterMemBlocks();
}  // namespace qv

namespace qv::cmd {

// memblock_commands.cpp
int32_t AllocMem(qvScriptState* L);
int32_t FreeMem(qvScriptState* L);
int32_t Peek(qvScriptState* L);
int32_t Poke(qvScriptState* L);
int32_t FillMem(qvScriptState* L);
int32_t CopyMem(qvScriptState* L);
int32_t ReadMem(qvScriptState* L);
int32_t WriteMem(qvScriptState* L);
int32_t DumpMem(qvScriptState* L);

}  // namespace qv::cmd
