// What the tables of functions from libraries loaded on their first use (SDL, Xlib, fontconfig)
// hold before the library is loaded or when it is missing: functions that do nothing and answer
// zero (no window, no display, nothing found), so a call that comes too early harms nothing.
#pragma once

#include <type_traits>

namespace qv {

template <typename F>
struct qvNothing;
template <typename R, typename... A>
struct qvNothing<R (*)(A...)> {
  static R Call(A...) {
    if constexpr (!std::is_void_v<R>) return R{};
  }
};
template <typename R, typename... A>
struct qvNothing<R (*)(A...) noexcept> {
  static R Call(A...) noexcept {
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

// The do-nothing stand-in of the function type F (a pointer to function).
template <typename F>
constexpr F NothingFunction() {
  return &qvNothing<F>::Call;
}

}  // namespace qv
