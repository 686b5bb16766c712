// What the tables of functions from libraries loaded on their first use (SDL, Xlib, fontconfig)
// hold before the library is loaded or when it is missing: functions that do nothing and answer
// zero (no window, no display, nothing found), so a call that comes too early harms nothing.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <mutex>
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
template <typename R, typename... A>
struct qvNothing<R (*)(A..., ...)> {
  static R Call(A..., ...) {
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

// The do-nothing stand-in of the function type F (a pointer to function).
template <typename F>
constexpr F NothingFunction() {
  return &qvNothing<F>::Call;
}

// Sets `*slot` to the function `name` of an opened library; whether the library has it.
template <typename F>
bool FindFunction(void* library, const char* name, F* slot) {
  *slot = reinterpret_cast<F>(dlsym(library, name));
  return *slot != nullptr;
}

// A library's table of functions, filled the first time it is asked for and read without a lock
// from then on. Before that, and for good when the library or one of its functions is missing,
// `nothing` stands in (null for a caller that checks).
template <typename Table>
class qvLazyTable {
 public:
  constexpr explicit qvLazyTable(const Table* nothing) : nothing_(nothing) {}
  qvLazyTable(const qvLazyTable&) = delete;
  qvLazyTable& operator=(const qvLazyTable&) = delete;

  // Fills the table through `fill` once; whether it holds the library's functions.
  bool Load(bool (*fill)(Table*)) {
    std::call_once(once_, [&] {
      if (fill(&functions_)) table_.store(&functions_, std::memory_order_release);
    });
    return table_.load(std::memory_order_acquire) != nullptr;
  }
  const Table* Get() const {
    const Table* table = table_.load(std::memory_order_acquire);
    return table != nullptr ? table : nothing_;
  }

 private:
  const Table* nothing_;
  Table functions_{};
  std::once_flag once_;
  std::atomic<const Table*> table_{nullptr};
};

}  // namespace qv
