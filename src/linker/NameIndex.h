// A hash index over a map keyed by section name, for a phase that looks a
// name up for every input piece: hashing the name once is cheaper than a
// tree search over thousands of names. Built for one phase and dropped at
// its end; the map must not change while the index is in use.
//
// The entries lie in one flat open-addressed table (each with its hash, so
// a probe rarely touches a name): a lookup costs one or two cache misses
// and building the index allocates once when sized for what it gets (it
// grows when it gets more).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

template <class Value> class FlatNameIndex {
public:
  explicit FlatNameIndex(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected)
      capacity *= 2;
    cSlots.resize(capacity);
  }

  // Enters name (whose text must outlive the index) unless present.
  void add(std::string_view name, const Value &value) {
    add(name, hashOf(name), value);
  }

  // The value of name, or null.
  const Value *find(std::string_view name) const {
    return find(name, hashOf(name));
  }

  // The same with the name's hash made ahead (hashOf), e.g. on other
  // threads.
  void add(std::string_view name, std::size_t hash, const Value &value) {
    std::size_t at = probe(name, hash);
    if (cSlots[at].used)
      return;
    if (2 * (cCount + 1) > cSlots.size()) {
      grow();
      at = probe(name, hash);
    }
    cSlots[at] = Slot{true, hash, name, value};
    ++cCount;
  }
  const Value *find(std::string_view name, std::size_t hash) const {
    const Slot &slot = cSlots[probe(name, hash)];
    return slot.used ? &slot.value : nullptr;
  }

  static std::size_t hashOf(std::string_view name) {
    return std::hash<std::string_view>()(name);
  }

private:
  struct Slot {
    bool used = false;
    std::size_t hash = 0;
    std::string_view name;
    Value value{};
  };

  void grow() {
    std::vector<Slot> old(2 * cSlots.size());
    old.swap(cSlots);
    const std::size_t mask = cSlots.size() - 1;
    for (Slot &slot : old)
      if (slot.used) {
        std::size_t at = slot.hash & mask;
        while (cSlots[at].used)
          at = (at + 1) & mask;
        cSlots[at] = std::move(slot);
      }
  }

  // The slot holding name, or the empty slot where it would go. The table
  // is at most half full, so an empty slot is always reached.
  std::size_t probe(std::string_view name, std::size_t hash) const {
    const std::size_t mask = cSlots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const Slot &slot = cSlots[at];
      if (!slot.used || (slot.hash == hash && slot.name == name))
        return at;
    }
  }

  std::vector<Slot> cSlots;
  std::size_t cCount = 0;
};

template <class Map> class NameIndex {
public:
  explicit NameIndex(const Map &map) : cByName(map.size()) {
    for (auto &entry : map)
      cByName.add(entry.first, &entry.second);
  }

  // The mapped value of name, or null.
  const typename Map::mapped_type *find(const std::string &name) const {
    const auto *found = cByName.find(name);
    return found == nullptr ? nullptr : *found;
  }

private:
  FlatNameIndex<const typename Map::mapped_type *> cByName;
};
