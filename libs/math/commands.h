// The command handlers of the math library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// functions.cpp: the standard functions on doubles, arithmetic and ranges
int32_t Abs(qvScriptState* L);
int32_t Sin(qvScriptState* L);
int32_t Cos(qvScriptState* L);
int32_t Tan(qvScriptState* L);
int32_t ASin(qvScriptState* L);
int32_t ACos(qvScriptState* L);
int32_t ATan(qvScriptState* L);
int32_t ATan2(qvScriptState* L);
int32_t Ceil(qvScriptState* L);
int32_t Floor(qvScriptState* L);
int32_t Mod(qvScriptState* L);
int32_t FrExp(qvScriptState* L);
int32_t LdExp(qvScriptState* L);
int32_t Sqrt(qvScriptState* L);
int32_t Min(qvScriptState* L);
int32_t Max(qvScriptState* L);
int32_t Log(qvScriptState* L);
int32_t Ld(qvScriptState* L);
int32_t Ln(qvScriptState* L);
int32_t Exp(qvScriptState* L);
int32_t Deg(qvScriptState* L);
int32_t Pow(qvScriptState* L);
int32_t Rad(qvScriptState* L);
int32_t Add(qvScriptState* L);
int32_t Sub(qvScriptState* L);
int32_t Div(qvScriptState* L);
int32_t Mul(qvScriptState* L);
int32_t Round(qvScriptState* L);
int32_t Int(qvScriptState* L);
int32_t Frac(qvScriptState* L);
int32_t Rt(qvScriptState* L);
int32_t Wrap(qvScriptState* L);
int32_t Limit(qvScriptState* L);
int32_t Sgn(qvScriptState* L);
int32_t Hypot(qvScriptState* L);

// random.cpp: the runtime's 48-bit generator
int32_t Rnd(qvScriptState* L);
int32_t RndF(qvScriptState* L);

// bits.cpp: 32-bit words, and rotations and casts of 8, 16 or 32 bits
int32_t Shr(qvScriptState* L);
int32_t Shl(qvScriptState* L);
int32_t Sar(qvScriptState* L);
int32_t BitSet(qvScriptState* L);
int32_t BitTest(qvScriptState* L);
int32_t BitClear(qvScriptState* L);
int32_t BitXor(qvScriptState* L);
int32_t BitComplement(qvScriptState* L);
int32_t Ror(qvScriptState* L);
int32_t Rol(qvScriptState* L);
int32_t Cast(qvScriptState* L);

}  // namespace qv::cmd
