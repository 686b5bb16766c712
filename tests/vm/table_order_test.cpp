// Where keys land decides the order in which a traversal visits them, which scripts see. A
// plain model of the placement rules (main positions, the colliding key moved away, the free
// node taken by a pointer moving down, the rehash's sizes and reinsertion order), written
// without any of the machine's node layout, must visit every table in the same order.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "tests/vm/state_fixture.h"
#include "vm/table.h"

namespace qv::testing {
namespace {

using Key = std::variant<double, std::string, uintptr_t>;  // uintptr_t: a light userdata

// The table as the rules describe it: an array part and a node array.
class ModelTable {
 public:
  void Set(const Key& key, std::optional<double> value) {
    if (std::optional<double>* slot = ArraySlot(key)) {
      *slot = value;
      return;
    }
    if (Node* node = Find(key)) {
      node->value = value;
      return;
    }
    for (;;) {
      if (Node* node = NewKey(key)) {
        node->value = value;
        return;
      }
      Rehash(key);
      if (std::optional<double>* slot = ArraySlot(key)) {  // it may belong to the array part now
        *slot = value;
        return;
      }
    }
  }

  std::vector<Key> Order() const {
    std::vector<Key> keys;
    for (size_t i = 0; i < array_.size(); ++i)
      if (array_[i]) keys.emplace_back(double(i + 1));
    for (const Node& n : nodes_)
      if (n.key && n.value) keys.push_back(*n.key);
    return keys;
  }

 private:
  struct Node {
    std::optional<Key> key;
    std::optional<double> value;
    int next = -1;
  };

  std::optional<double>* ArraySlot(const Key& key) {
    const double* d = std::get_if<double>(&key);
    if (d == nullptr || *d < 1 || *d > double(array_.size()) || *d != std::floor(*d))
      return nullptr;
    return &array_[size_t(*d) - 1];
  }
  static uint32_t StringHash(const std::string& s) {
    uint32_t h = uint32_t(s.size());
    const size_t step = (s.size() >> 5) + 1;
    for (size_t i = s.size(); i >= step; i -= step)
      h = h ^ ((h << 5) + (h >> 2) + uint32_t(uint8_t(s[i - 1])));
    return h;
  }
  int MainPosition(const Key& key) const {
    const auto size = uint32_t(nodes_.size());
    if (const std::string* s = std::get_if<std::string>(&key))
      return int(StringHash(*s) & (size - 1));
    if (const uintptr_t* p = std::get_if<uintptr_t>(&key)) return int(*p % ((size - 1) | 1));
    const double shifted = std::get<double>(key) + 1;
    uint32_t halves[2];
    std::memcpy(halves, &shifted, sizeof halves);
    return int((halves[0] + halves[1]) % ((size - 1) | 1));
  }
  Node* Find(const Key& key) {
    if (nodes_.empty()) return nullptr;
    for (int i = MainPosition(key); i >= 0; i = nodes_[size_t(i)].next)
      if (nodes_[size_t(i)].key == key) return &nodes_[size_t(i)];
    return nullptr;
  }
  // The new key's node, or null when the node array is full (or the shared empty one).
  Node* NewKey(const Key& key) {
    if (nodes_.empty()) return nullptr;
    int mp = MainPosition(key);
    if (nodes_[size_t(mp)].value) {
      int free = lastFree_;
      while (free > 0 && nodes_[size_t(free - 1)].key) --free;
      lastFree_ = free > 0 ? free - 1 : 0;
      if (free == 0) return nullptr;
      const int n = free - 1;
      const int other = MainPosition(*nodes_[size_t(mp)].key);
      if (other != mp) {  // the colliding key moves to the free node
        int prev = other;
        while (nodes_[size_t(prev)].next != mp) prev = nodes_[size_t(prev)].next;
        nodes_[size_t(prev)].next = n;
        nodes_[size_t(n)] = nodes_[size_t(mp)];
        nodes_[size_t(mp)].next = -1;
        nodes_[size_t(mp)].value.reset();
      } else {  // the new key takes the free node, right after its main position
        nodes_[size_t(n)].next = nodes_[size_t(mp)].next;
        nodes_[size_t(mp)].next = n;
        mp = n;
      }
    }
    nodes_[size_t(mp)].key = key;
    return &nodes_[size_t(mp)];
  }
  void Rehash(const Key& extra) {
    constexpr int kBits = 24;
    uint32_t slices[kBits + 1] = {};  // integer keys in (2^(i-1), 2^i], slice 0 holding key 1
    uint32_t total = 0;
    auto count = [&](const Key& k) {
      ++total;
      const double* d = std::get_if<double>(&k);
      if (d == nullptr || *d < 1 || *d > double(1u << kBits) || *d != std::floor(*d)) return;
      ++slices[*d <= 1 ? 0 : std::bit_width(uint32_t(*d) - 1)];
    };
    for (size_t i = 0; i < array_.size(); ++i)
      if (array_[i]) count(double(i + 1));
    for (const Node& n : nodes_)
      if (n.key && n.value) count(*n.key);
    count(extra);
    // The largest n = 2^i whose keys 1 .. n fill at least half of it, among the n whose slice
    // holds a key (with key 1 alone, n = 1).
    uint32_t arraySize = 0, inArray = 0, running = 0;
    for (int i = 0; i <= kBits; ++i) {
      running += slices[i];
      const uint32_t n = 1u << i;
      if (slices[i] > 0 && 2 * uint64_t(running) >= n) {
        arraySize = n;
        inArray = running;
      }
    }
    const uint32_t hashKeys = total - inArray;
    uint32_t nodeCount = 0;
    if (hashKeys > 0) {
      nodeCount = 1;
      while (nodeCount <= hashKeys) nodeCount *= 2;
    }
    std::vector<std::optional<double>> oldArray = std::move(array_);
    std::vector<Node> oldNodes = std::move(nodes_);
    array_.assign(arraySize, std::nullopt);
    for (uint32_t i = 0; i < std::min<size_t>(arraySize, oldArray.size()); ++i)
      array_[i] = oldArray[i];
    nodes_.assign(nodeCount, Node{});
    lastFree_ = int(nodeCount);
    for (size_t i = arraySize; i < oldArray.size(); ++i)
      if (oldArray[i]) Set(double(i + 1), oldArray[i]);
    for (size_t i = oldNodes.size(); i-- > 0;)
      if (oldNodes[i].key && oldNodes[i].value) Set(*oldNodes[i].key, oldNodes[i].value);
  }

  std::vector<std::optional<double>> array_;
  std::vector<Node> nodes_;
  int lastFree_ = 0;
};

class TableOrderTest : public StateTest {
 protected:
  void Set(const Key& key, std::optional<double> value) {
    if (const double* d = std::get_if<double>(&key))
      VmPushNumber(L, *d);
    else if (const uintptr_t* p = std::get_if<uintptr_t>(&key))
      VmPushLightUserdata(L, reinterpret_cast<void*>(*p));
    else
      VmPushString(L, std::get<std::string>(key).c_str());
    if (value)
      VmPushNumber(L, *value);
    else
      VmPushNil(L);
    VmRawSet(L, 1);
  }
  std::vector<Key> Order() {
    std::vector<Key> keys;
    VmPushNil(L);
    while (VmNext(L, 1)) {
      if (VmType(L, -2) == kTypeString)
        keys.emplace_back(std::string(VmToString(L, -2)));
      else if (VmType(L, -2) == kTypeLightUserdata)
        keys.emplace_back(reinterpret_cast<uintptr_t>(VmToUserdata(L, -2)));
      else
        keys.emplace_back(VmToNumber(L, -2));
      VmSetTop(L, -2);
    }
    return keys;
  }
};

std::string Describe(const std::vector<Key>& keys) {
  std::string text;
  for (const Key& k : keys) {
    if (const double* d = std::get_if<double>(&k))
      text += std::to_string(*d);
    else if (const uintptr_t* p = std::get_if<uintptr_t>(&k))
      text += "p" + std::to_string(*p);
    else
      text += std::get<std::string>(k);
    text += ' ';
  }
  return text;
}

// Growing string keys (collisions, moves, every doubling), then numbers in and out of the array
// part, light userdata, cleared keys and keys set anew, in several seeded mixes.
TEST_F(TableOrderTest, TraversalFollowsThePlacementRules) {
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    VmSetTop(L, 0);
    VmNewTable(L);
    ModelTable model;
    std::mt19937 rng(seed);
    auto both = [&](const Key& k, std::optional<double> v) {
      Set(k, v);
      model.Set(k, v);
    };
    const int keys = seed == 1 ? 3000 : 300;
    for (int i = 0; i < keys; ++i) both("k" + std::to_string(i), i);
    ASSERT_EQ(Describe(Order()), Describe(model.Order()));
    for (int step = 0; step < 3000; ++step) {
      const int kind = int(rng() % 5);
      Key k;
      if (kind == 0)
        k = double(rng() % 64 + 1);  // the array part's range
      else if (kind == 1)
        k = double(int(rng() % 2000) - 1000) * 0.75;
      else if (kind == 2)
        k = uintptr_t(rng() % 300 * 24 + 8);  // light userdata: placed by address
      else
        k = "s" + std::to_string(rng() % 500);
      const bool clear = rng() % 4 == 0;
      both(k, clear ? std::nullopt : std::optional<double>(step));
      if (step % 250 == 249) {
        ASSERT_EQ(Describe(Order()), Describe(model.Order())) << step;
      }
    }
    ASSERT_EQ(Describe(Order()), Describe(model.Order()));
  }
}

}  // namespace
}  // namespace qv::testing
