// The math library's functions on doubles: the standard library's, arithmetic as commands and
// the range functions. Results outside a function's domain (the root of -1, the logarithm of 0)
// are the standard library's NaN or infinity, not errors.
#include <cmath>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "libs/math/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

int32_t Unary(qvScriptState* L, double (*fn)(double)) {
  CheckArgCount(L, 1, 1);
  VmPushNumber(L, fn(VmCheckNumber(L, 1)));
  return 1;
}

int32_t Binary(qvScriptState* L, double (*fn)(double, double)) {
  CheckArgCount(L, 2, 2);
  double a = VmCheckNumber(L, 1);
  double b = VmCheckNumber(L, 2);
  VmPushNumber(L, fn(a, b));
  return 1;
}

}  // namespace

int32_t Abs(qvScriptState* L) {
  return Unary(L, [](double x) { return std::fabs(x); });
}
int32_t Sin(qvScriptState* L) {
  return Unary(L, [](double x) { return std::sin(x); });
}
int32_t Cos(qvScriptState* L) {
  return Unary(L, [](double x) { return std::cos(x); });
}
int32_t Tan(qvScriptState* L) {
  return Unary(L, [](double x) { return std::tan(x); });
}
int32_t ASin(qvScriptState* L) {
  return Unary(L, [](double x) { return std::asin(x); });
}
int32_t ACos(qvScriptState* L) {
  return Unary(L, [](double x) { return std::acos(x); });
}
int32_t ATan(qvScriptState* L) {
  return Unary(L, [](double x) { return std::atan(x); });
}
int32_t Ceil(qvScriptState* L) {
  return Unary(L, [](double x) { return std::ceil(x); });
}
int32_t Floor(qvScriptState* L) {
  return Unary(L, [](double x) { return std::floor(x); });
}
int32_t Sqrt(qvScriptState* L) {
  return Unary(L, [](double x) { return std::sqrt(x); });
}
int32_t Exp(qvScriptState* L) {
  return Unary(L, [](double x) { return std::exp(x); });
}
int32_t Ln(qvScriptState* L) {
  return Unary(L, [](double x) { return std::log(x); });
}
// Ld and Log are ratios of common logarithms, as scripts have always got them: Ld(8) may differ
// from log2(8) in the last bit.
int32_t Ld(qvScriptState* L) {
  return Unary(L, [](double x) { return std::log10(x) / std::log10(2.0); });
}
int32_t Deg(qvScriptState* L) {
  return Unary(L, [](double x) { return x / kRadiansPerDegree; });
}
int32_t Rad(qvScriptState* L) {
  return Unary(L, [](double x) { return x * kRadiansPerDegree; });
}
int32_t Round(qvScriptState* L) {
  return Unary(L, [](double x) { return static_cast<double>(RoundToInt(x)); });
}
int32_t Int(qvScriptState* L) {
  return Unary(L, [](double x) { return static_cast<double>(DoubleToInt32(x)); });
}
int32_t Frac(qvScriptState* L) {
  return Unary(L, [](double x) {
    double whole;
    return std::modf(x, &whole);
  });
}
int32_t Sgn(qvScriptState* L) {
  return Unary(L, [](double x) { return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0); });
}

int32_t ATan2(qvScriptState* L) {
  return Binary(L, [](double y, double x) { return std::atan2(y, x); });
}
int32_t Pow(qvScriptState* L) {
  return Binary(L, [](double x, double y) { return std::pow(x, y); });
}
int32_t Hypot(qvScriptState* L) {
  return Binary(L, [](double a, double b) { return std::hypot(a, b); });
}
int32_t Log(qvScriptState* L) {
  return Binary(L, [](double x, double base) { return std::log10(x) / std::log10(base); });
}
int32_t Add(qvScriptState* L) {
  return Binary(L, [](double a, double b) { return a + b; });
}
int32_t Sub(qvScriptState* L) {
  return Binary(L, [](double a, double b) { return a - b; });
}
int32_t Mul(qvScriptState* L) {
  return Binary(L, [](double a, double b) { return a * b; });
}

// Div(a, b) and Mod(a, b): b = 0 is ERR_ZERODIVISION, not an infinity.
int32_t Div(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  double a = VmCheckNumber(L, 1);
  double b = VmCheckNumber(L, 2);
  if (b == 0) return ERR_ZERODIVISION;
  VmPushNumber(L, a / b);
  return 1;
}

int32_t Mod(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  double a = VmCheckNumber(L, 1);
  double b = VmCheckNumber(L, 2);
  if (b == 0) return ERR_ZERODIVISION;
  VmPushNumber(L, std::fmod(a, b));
  return 1;
}

// FrExp(x): mantissa and exponent.
int32_t FrExp(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int exponent = 0;
  double mantissa = std::frexp(VmCheckNumber(L, 1), &exponent);
  VmPushNumber(L, mantissa);
  VmPushNumber(L, exponent);
  return 2;
}

// LdExp(m, e): e as a 32-bit integer.
int32_t LdExp(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  double m = VmCheckNumber(L, 1);
  int32_t e = VmCheckInt(L, 2);
  VmPushNumber(L, std::ldexp(m, e));
  return 1;
}

// Rt(x, n): the n-th root; n = 0 is ERR_ZERODIVISION, a negative n ERR_WRONGUSAGE.
int32_t Rt(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  double x = VmCheckNumber(L, 1);
  double n = VmCheckNumber(L, 2);
  if (n == 0) return ERR_ZERODIVISION;
  if (n < 0) return ERR_WRONGUSAGE;
  VmPushNumber(L, std::pow(x, 1.0 / n));
  return 1;
}

// Min(a, b, ...) and Max(a, b, ...): two numbers or more.
static int32_t Extreme(qvScriptState* L, bool largest) {
  CheckArgCount(L, 2, 0);
  int count = VmGetTop(L);
  double best = VmCheckNumber(L, 1);
  for (int i = 2; i <= count; i++) {
    double v = VmCheckNumber(L, i);
    if (largest ? v > best : v < best) best = v;
  }
  VmPushNumber(L, best);
  return 1;
}
int32_t Min(qvScriptState* L) { return Extreme(L, false); }
int32_t Max(qvScriptState* L) { return Extreme(L, true); }

// Wrap(x, low, high): one step of wrapping into [low, high); a value more than a range away
// stays outside, as scripts expect.
int32_t Wrap(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  double x = VmCheckNumber(L, 1);
  double low = VmCheckNumber(L, 2);
  double high = VmCheckNumber(L, 3);
  if (x < low) {
    x = high + (x - low);
  } else if (!(x < high)) {
    x = low + (x - high);
  }
  VmPushNumber(L, x);
  return 1;
}

// Limit(x, low, high): x clamped into [low, high].
int32_t Limit(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  double x = VmCheckNumber(L, 1);
  double low = VmCheckNumber(L, 2);
  double high = VmCheckNumber(L, 3);
  VmPushNumber(L, x < low ? low : (x > high ? high : x));
  return 1;
}

}  // namespace qv::cmd
