// Every external definition of a link by name. The link enters tens of
// thousands of names and then looks one up per external reference, in no
// order: hash tables over blocks of name bytes owned by the index cost a
// handful of allocations where a tree costs one per name. The names are
// split by hash into shards, each a table of its own, so that the shards
// can be filled on different threads.
#pragma once

#include "CoffRecords.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class ExtSymDefs {
public:
  static constexpr std::size_t kShards = 64;

  static std::size_t hashOf(std::string_view name) {
    return std::hash<std::string_view>()(name);
  }
  // The shard of a name's hash. The top bits choose it, the low bits a
  // slot within it.
  static std::size_t shardOf(std::size_t hash) {
    return static_cast<std::size_t>(static_cast<std::uint64_t>(hash) >> 58) %
           kShards;
  }

  void clear() {
    for (Table &table : cShards)
      table.clear();
  }

  // Makes room in one shard for count names of nameBytes bytes in all.
  void reserve(std::size_t shard, std::size_t count, std::size_t nameBytes) {
    cShards[shard].reserve(count, nameBytes);
  }

  // Enters name (a copy of it) for sym; false, entering nothing, when the
  // name is already in. hash is hashOf(name). Names of different shards
  // may be entered at the same time.
  bool add(std::string_view name, std::size_t hash, syment *sym) {
    return cShards[shardOf(hash)].add(name, hash, sym);
  }

  // The definition of name, or null.
  syment *find(std::string_view name) const {
    const std::size_t hash = hashOf(name);
    return cShards[shardOf(hash)].find(name, hash);
  }
  std::size_t count(std::string_view name) const {
    return find(name) != nullptr ? 1 : 0;
  }
  std::size_t size() const {
    std::size_t total = 0;
    for (const Table &table : cShards)
      total += table.size();
    return total;
  }

private:
  class Table {
  public:
    void clear() {
      cEntries.clear();
      cSlots.clear();
      cNames.clear();
    }

    void reserve(std::size_t count, std::size_t nameBytes) {
      cEntries.reserve(count);
      cNames.reserve(nameBytes);
      if (2 * count > cSlots.size())
        rehash(slotsFor(count));
    }

    bool add(std::string_view name, std::size_t hash, syment *sym) {
      if (2 * (cEntries.size() + 1) > cSlots.size())
        rehash(slotsFor(cEntries.size() + 1));
      const std::size_t at = probe(name, hash);
      if (cSlots[at].entry != 0)
        return false;
      cSlots[at] =
          Slot{tagOf(hash), static_cast<std::uint32_t>(cEntries.size() + 1)};
      cEntries.push_back(Entry{hash, cNames.size(), name.size(), sym});
      cNames.append(name);
      return true;
    }

    syment *find(std::string_view name, std::size_t hash) const {
      if (cSlots.empty())
        return nullptr;
      const Slot &slot = cSlots[probe(name, hash)];
      return slot.entry == 0 ? nullptr : cEntries[slot.entry - 1].sym;
    }
    std::size_t size() const { return cEntries.size(); }

  private:
    struct Entry {
      std::size_t hash;
      std::size_t nameAt; // in cNames
      std::size_t nameLength;
      syment *sym;
    };
    // Part of the hash beside the entry number, so that a probe rarely
    // reads an entry of another name. Entry numbers count from 1; 0 marks
    // an empty slot.
    struct Slot {
      std::uint32_t tag = 0;
      std::uint32_t entry = 0;
    };

    static std::uint32_t tagOf(std::size_t hash) {
      return static_cast<std::uint32_t>(hash >> 32 ^ hash);
    }
    static std::size_t slotsFor(std::size_t count) {
      std::size_t slots = 16;
      while (slots < 2 * count)
        slots *= 2;
      return slots;
    }

    std::string_view nameOf(const Entry &entry) const {
      return std::string_view(cNames).substr(entry.nameAt, entry.nameLength);
    }

    // The slot holding name, or the empty slot where it would go. The
    // table is at most half full, so an empty slot is always reached.
    std::size_t probe(std::string_view name, std::size_t hash) const {
      const std::size_t mask = cSlots.size() - 1;
      const std::uint32_t tag = tagOf(hash);
      for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot &slot = cSlots[at];
        if (slot.entry == 0)
          return at;
        if (slot.tag == tag) {
          const Entry &entry = cEntries[slot.entry - 1];
          if (entry.hash == hash && nameOf(entry) == name)
            return at;
        }
      }
    }

    void rehash(std::size_t slots) {
      cSlots.assign(slots, Slot());
      const std::size_t mask = slots - 1;
      for (std::size_t i = 0; i < cEntries.size(); ++i) {
        std::size_t at = cEntries[i].hash & mask;
        while (cSlots[at].entry != 0)
          at = (at + 1) & mask;
        cSlots[at] =
            Slot{tagOf(cEntries[i].hash), static_cast<std::uint32_t>(i + 1)};
      }
    }

    std::vector<Entry> cEntries; // in the order entered
    std::vector<Slot> cSlots;
    std::string cNames; // every entered name, one after another
  };

  std::vector<Table> cShards = std::vector<Table>(kShards);
};
