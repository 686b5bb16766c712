// The command handlers of the dos library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}  // namespace qv

namespace qv::cmd {

// file_commands.cpp: open files
int32_t OpenFile(qvScriptState* L);
int32_t CloseFile(qvScriptState* L);
int32_t Eof(qvScriptState* L);
int32_t ReadChr(qvScriptState* L);
int32_t ReadShort(qvScriptState* L);
int32_t ReadInt(qvScriptState* L);
int32_t ReadFloat(qvScriptState* L);
int32_t ReadString(qvScriptState* L);
int32_t ReadLine(qvScriptState* L);
int32_t Seek(qvScriptState* L);
int32_t FilePos(qvScriptState* L);
int32_t FileLength(qvScriptState* L);
int32_t WriteChr(qvScriptState* L);
int32_t WriteShort(qvScriptState* L);
int32_t WriteInt(qvScriptState* L);
int32_t WriteFloat(qvScriptState* L);
int32_t WriteString(qvScriptState* L);
int32_t WriteLine(qvScriptState* L);
int32_t FlushFile(qvScriptState* L);
int32_t SetIOMode(qvScriptState* L);
int32_t FileLines(qvScriptState* L);

// pack_commands.cpp: compressed files
int32_t CompressFile(qvScriptState* L);
int32_t DecompressFile(qvScriptState* L);

}  // namespace qv::cmd
