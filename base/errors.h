// Error codes and the error arguments that every layer of the player shares.
//
// Every internal operation returns 0 or an error code; 1000-1508 are built in (one "ERR_" script
// constant each, listed once in base/errors.def), codes from 1509 on are declared at run time. An
// operation that fails may first store a text argument and a number argument, which the message
// of its code shows in place of "%s" and "%d".
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

enum qvErrorCode : int32_t {
#define QV_ERROR(name, code, textId) name = (code),
#include "base/errors.def"
#undef QV_ERROR
};

inline constexpr int32_t kLastBuiltinError = ERR_NOMIMEVIEWER;
inline constexpr int32_t kFirstDeclaredError = kLastBuiltinError + 1;

// Command handlers return a result count below this and an error code from it on.
inline constexpr int32_t kFirstErrorCode = ERR_MEM;

constexpr size_t kErrorStringSize = 512;  // the text argument, terminator included

// The text argument of the next error message (cut to 511 characters; null reads as "") and its
// number. Process-wide: whoever raises the error stores them just before returning its code.
void SetErrorString(const char* text);
void SetErrorNumber(int32_t n);
const char* GetErrorString();
int32_t GetErrorNumber();

}  // namespace qv
