#include "core/tables.h"

#include <cmath>
#include <vector>

#include "base/errors.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Stack room that sorting needs above its arguments (a comparison call and its values).
constexpr int kSortStackRoom = 40;
// Nesting of tables that CopyTable follows; deeper gives ERR_STACK instead of overflowing the
// C stack.
constexpr int kCopyDepthLimit = 2000;

int32_t CountItems(qvScriptState* L, int table, bool stopAtEmptyString) {
  int32_t n = 0;
  for (;; ++n) {
    VmRawGetI(L, table, n);
    int32_t type = VmType(L, -1);
    bool end = type == kTypeNil ||
               (stopAtEmptyString && type == kTypeString && VmStrLen(L, -1) == 0);
    VmSetTop(L, -2);
    if (end || n == INT32_MAX) return n;
  }
}

// The quicksort over positions lo .. hi of an array: median of three (first, middle, last), the
// pivot kept at hi - 1 while both scans run, recursion on the smaller part and a loop on the
// larger. `a` gives Less(i, j) (item i before item j) and Swap(i, j). Each scan stops at the end
// of its range: an order that would take it further is inconsistent (ERR_SORTFUNC).
template <class Array>
int32_t QuickSort(Array& a, int32_t lo, int32_t hi) {
  while (lo < hi) {
    if (a.Less(hi, lo)) a.Swap(lo, hi);
    if (hi - lo == 1) break;
    int32_t mid = lo + (hi - lo) / 2;
    if (a.Less(mid, lo)) {
      a.Swap(mid, lo);
    } else if (a.Less(hi, mid)) {
      a.Swap(mid, hi);
    }
    if (hi - lo == 2) break;
    if (a.error() != 0) return a.error();
    int32_t pivot = hi - 1;
    a.Swap(mid, pivot);
    // a[lo] <= P == a[hi - 1] <= a[hi]: only lo + 1 .. hi - 2 remain.
    int32_t i = lo;
    int32_t j = pivot;
    for (;;) {
      while (a.Less(++i, pivot)) {
        if (i >= hi) return ERR_SORTFUNC;
      }
      while (a.Less(pivot, --j)) {
        if (j <= lo) return ERR_SORTFUNC;
      }
      if (j < i) break;
      a.Swap(i, j);
    }
    a.Swap(pivot, i);
    // a[lo .. i - 1] <= a[i] == P <= a[i + 1 .. hi]
    int32_t code;
    if (i - lo < hi - i) {
      code = QuickSort(a, lo, i - 1);
      lo = i + 1;
    } else {
      code = QuickSort(a, i + 1, hi);
      hi = i - 1;
    }
    if (code != 0) return code;
  }
  return a.error();
}

// Items read from the table as the scans reach them; the order is the machine's or the script's.
class TableArray {
 public:
  TableArray(qvScriptState* L, int table, int compare) : L_(L), table_(table), compare_(compare) {}

  bool Less(int32_t i, int32_t j) {
    if (error_ != 0) return false;
    if (VmGetEndFlag(L_)) {
      error_ = kStopped;  // the script ended (End) inside a comparison: stop quietly
      return false;
    }
    if (compare_ == 0) {
      VmRawGetI(L_, table_, i);
      VmRawGetI(L_, table_, j);
      bool less = VmLessThan(L_, -2, -1, 1) != 0;
      VmSetTop(L_, -3);
      return less;
    }
    VmPushValue(L_, compare_);
    VmRawGetI(L_, table_, i);
    VmRawGetI(L_, table_, j);
    VmCall(L_, 2, 1);
    int32_t code = 0;
    double result = VmGetCallbackNumber(L_, -1, &code);
    VmSetTop(L_, -2);
    if (code != 0) error_ = code;
    return code == 0 && result != 0;
  }

  void Swap(int32_t i, int32_t j) {
    if (error_ != 0) return;
    VmRawGetI(L_, table_, i);
    VmRawGetI(L_, table_, j);
    VmRawSetI(L_, table_, i);
    VmRawSetI(L_, table_, j);
  }

  // Nonzero once the sort should stop; kStopped when the script ended.
  int32_t error() const { return error_; }
  static constexpr int32_t kStopped = -1;

 private:
  qvScriptState* L_;
  int table_;
  int compare_;
  int32_t error_ = 0;  // a comparison gave no number: the sort stops at once
};

// Numbers sorted outside the machine: the same comparisons in the same sequence as TableArray
// would make, so the result (NaNs included) is the same.
class NumberArray {
 public:
  explicit NumberArray(std::vector<double>* items) : items_(*items) {}
  bool Less(int32_t i, int32_t j) const { return items_[i] < items_[j]; }
  void Swap(int32_t i, int32_t j) { std::swap(items_[i], items_[j]); }
  int32_t error() const { return 0; }

 private:
  std::vector<double>& items_;
};

int32_t Sort(qvScriptState* L, int table, int compare, bool fastPath) {
  table = VmAbsIndex(L, table);
  if (compare != 0) compare = VmAbsIndex(L, compare);
  if (!VmCheckStack(L, kSortStackRoom)) return ERR_STACK;
  int32_t n = CountItems(L, table, compare == 0);
  if (n < 2) return 0;

  if (fastPath && compare == 0) {
    std::vector<double> numbers;
    bool allNumbers = true;
    try {
      numbers.reserve(static_cast<size_t>(n));
    } catch (...) {
      allNumbers = false;  // the general path needs no memory of its own
    }
    for (int32_t i = 0; allNumbers && i < n; ++i) {
      VmRawGetI(L, table, i);
      if (VmType(L, -1) == kTypeNumber) {
        numbers.push_back(VmToNumber(L, -1));
      } else {
        allNumbers = false;
      }
      VmSetTop(L, -2);
    }
    if (allNumbers) {
      NumberArray a(&numbers);
      int32_t code = QuickSort(a, 0, n - 1);
      if (code != 0) return code;
      for (int32_t i = 0; i < n; ++i) {
        VmPushNumber(L, numbers[i]);
        VmRawSetI(L, table, i);
      }
      return 0;
    }
  }

  TableArray a(L, table, compare);
  int32_t code = QuickSort(a, 0, n - 1);
  return code == TableArray::kStopped ? 0 : code;
}

// Copies the table at `source` into a new table pushed on the stack; `path` is the table that
// maps each source table being copied above this one to its copy.
int32_t CopyInto(qvScriptState* L, int source, int path, int depth) {
  if (depth > kCopyDepthLimit || !VmCheckStack(L, 8)) return ERR_STACK;
  VmNewTable(L);
  int copy = VmGetTop(L);
  VmPushValue(L, source);
  VmPushValue(L, copy);
  VmRawSet(L, path);

  int32_t code = 0;
  VmPushNil(L);
  while (VmNext(L, source)) {
    // key at -2, value at -1
    if (VmType(L, -1) == kTypeTable) {
      VmPushValue(L, -1);
      VmRawGet(L, path);
      if (VmType(L, -1) != kTypeNil) {
        VmReplace(L, -2);  // a cycle: the copy in progress
      } else {
        VmSetTop(L, -2);
        code = CopyInto(L, VmGetTop(L), path, depth + 1);
        if (code != 0) {
          VmSetTop(L, copy - 1);
          break;
        }
        VmReplace(L, -2);
      }
    }
    VmPushValue(L, -2);
    VmInsert(L, -2);
    VmRawSet(L, copy);
  }
  if (code != 0) {
    VmPushValue(L, source);
    VmPushNil(L);
    VmRawSet(L, path);
    return code;
  }
  // Leaving this table: a later branch that meets it again makes a copy of its own.
  VmPushValue(L, source);
  VmPushNil(L);
  VmRawSet(L, path);
  return 0;
}

}  // namespace

int32_t CountArrayItems(qvScriptState* L, int table) {
  return CountItems(L, VmAbsIndex(L, table), false);
}

int32_t SortTable(qvScriptState* L, int table, int compare) {
  return Sort(L, table, compare, true);
}

int32_t SortTableReference(qvScriptState* L, int table, int compare) {
  return Sort(L, table, compare, false);
}

int32_t CopyTable(qvScriptState* L, int table) {
  table = VmAbsIndex(L, table);
  if (!VmCheckStack(L, 4)) return ERR_STACK;
  VmNewTable(L);
  int path = VmGetTop(L);
  int32_t code = CopyInto(L, table, path, 0);
  if (code != 0) {
    VmSetTop(L, path - 1);
    return code;
  }
  VmRemove(L, path);
  return 0;
}

}  // namespace qv
