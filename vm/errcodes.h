// The error codes that the machine itself raises.
#pragma once

#include <cstdint>

namespace qv::vmerr {

constexpr int32_t kMem = 1000;             // ERR_MEM
constexpr int32_t kValueExpected = 1024;   // ERR_VALUEEXPECTED
constexpr int32_t kWrongOp = 1030;         // ERR_WRONGOP
constexpr int32_t kRetWoGosub = 1040;      // ERR_RETWOGOSUB
constexpr int32_t kInternal = 1066;        // ERR_INTERNAL
constexpr int32_t kZeroDivision = 1089;    // ERR_ZERODIVISION
constexpr int32_t kNumStrCmp = 1130;       // ERR_NUMSTRCMP
constexpr int32_t kConcat = 1131;          // ERR_CONCAT
constexpr int32_t kTableDecla = 1132;      // ERR_TABLEDECLA
constexpr int32_t kFuncDecla = 1133;       // ERR_FUNCDECLA
constexpr int32_t kInternal1 = 1134;       // ERR_INTERNAL1
constexpr int32_t kStack = 1135;           // ERR_STACK
constexpr int32_t kFieldInit = 1159;       // ERR_FIELDINIT
constexpr int32_t kFuncExpected = 1185;    // ERR_FUNCEXPECTED
constexpr int32_t kUnexpectedEof = 1198;   // ERR_UNEXPECTEDEOF
constexpr int32_t kVmMismatch = 1199;      // ERR_VMMISMATCH
constexpr int32_t kBadInteger = 1200;      // ERR_BADINTEGER
constexpr int32_t kBadUpvalues = 1201;     // ERR_BADUPVALUES
constexpr int32_t kBadConstant = 1202;     // ERR_BADCONSTANT
constexpr int32_t kBadBytecode = 1203;     // ERR_BADBYTECODE
constexpr int32_t kBadSignature = 1204;    // ERR_BADSIGNATURE
constexpr int32_t kUnkNumFmt = 1205;       // ERR_UNKNUMFMT
constexpr int32_t kInvNextKey = 1206;      // ERR_INVNEXTKEY
constexpr int32_t kTableOverflow = 1207;   // ERR_TABLEOVERFLOW
constexpr int32_t kTableIndex = 1208;      // ERR_TABLEINDEX
constexpr int32_t kNoQvFunc = 1324;        // ERR_NOQVFUNC

}  // namespace qv::vmerr
