// The command handlers of the string library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

int32_t LowerStr(qvScriptState* L);
int32_t UpperStr(qvScriptState* L);
int32_t Val(qvScriptState* L);
int32_t StrStr(qvScriptState* L);
int32_t UnrightStr(qvScriptState* L);
int32_t UnleftStr(qvScriptState* L);
int32_t Chr(qvScriptState* L);
int32_t MidStr(qvScriptState* L);
int32_t RightStr(qvScriptState* L);
int32_t LeftStr(qvScriptState* L);
int32_t FindStr(qvScriptState* L);
int32_t AddStr(qvScriptState* L);
int32_t HexStr(qvScriptState* L);
int32_t Asc(qvScriptState* L);
int32_t StrLen(qvScriptState* L);
int32_t ReplaceStr(qvScriptState* L);
int32_t BinStr(qvScriptState* L);
int32_t SplitStr(qvScriptState* L);
int32_t PadNum(qvScriptState* L);
int32_t StrToArray(qvScriptState* L);
int32_t TrimStr(qvScriptState* L);
int32_t ToString(qvScriptState* L);
int32_t ToNumber(qvScriptState* L);
int32_t UnmidStr(qvScriptState* L);
int32_t CountStr(qvScriptState* L);
int32_t InsertStr(qvScriptState* L);
int32_t RepeatStr(qvScriptState* L);
int32_t MD5Str(qvScriptState* L);
int32_t CRC32Str(qvScriptState* L);
int32_t FormatStr(qvScriptState* L);
int32_t PatternFindStr(qvScriptState* L);
int32_t PatternReplaceStr(qvScriptState* L);

// eval.cpp
int32_t Eval(qvScriptState* L);

}  // namespace qv::cmd
