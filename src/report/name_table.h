// Numbers for the names one daily log holds (its targets, its failure
// texts), found by their bytes without building a string for each row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// A name as a few machine words: its length and two words of its bytes
// that, up to 16 bytes, hold all of them.
struct NameKey {
    uint64_t first, last;
    size_t length;
};

struct NameSlot {
    NameKey key;
    uint32_t number;  // + 1; 0 when the slot is free
};

struct NameTable {
    std::vector<std::string> names;  // by number, in the order first seen
    std::vector<NameSlot> slots;     // by hash, at most a quarter of them taken
    unsigned slotBits = 0;           // the number of slots is 2 to this power
    size_t longest = 0;              // the length of the longest name
};

// What FindName returns for a name that has no number.
const uint32_t kNoName = UINT32_MAX;

// Returns the number of the name `text` (`length` bytes) in `table`,
// giving it the next number when it is new.
uint32_t NumberName(NameTable *table, const char *text, size_t length);

// Returns the number of the name `text` (`length` bytes) in `table`, or
// kNoName when it has none.
inline uint32_t FindName(const NameTable &table, const char *text, size_t length);

// What follows is FindName's, inline as it runs once for each row.

// Returns the key of `length` bytes at `text`: its first and last eight
// bytes (four, or each byte, when it is shorter), which overlap.
inline NameKey KeyOfName(const char *text, size_t length) {
    NameKey key = {0, 0, length};
    if (length >= 8) {
        std::memcpy(&key.first, text, 8);
        std::memcpy(&key.last, text + length - 8, 8);
    } else if (length >= 4) {
        uint32_t first, last;
        std::memcpy(&first, text, 4);
        std::memcpy(&last, text + length - 4, 4);
        key.first = first;
        key.last = last;
    } else {
        for (size_t i = 0; i < length; ++i) key.first = key.first << 8 | static_cast<unsigned char>(text[i]);
    }
    return key;
}

// Returns the slot of `table` where the search for `key` begins; `text`
// holds the name, whose every byte counts when it is longer than its key.
inline size_t HomeSlot(const NameTable &table, const NameKey &key, const char *text) {
    const uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    uint64_t hash = key.first ^ (key.last << 32 | key.last >> 32) ^ key.length;
    for (size_t at = 8; at + 8 < key.length; at += 8) {
        uint64_t word;
        std::memcpy(&word, text + at, 8);
        hash = (hash ^ word) * kMultiplier;
    }
    // Mixed so that every bit of the key reaches the top bits, which choose.
    hash *= kMultiplier;
    hash ^= hash >> 32;
    return static_cast<size_t>((hash * 0xC4CEB9FE1A85EC53u) >> (64 - table.slotBits));
}

// Returns true when name `number` of `table`, longer than its key, is the
// `length` bytes at `text`.
bool IsLongName(const NameTable &table, uint32_t number, const char *text, size_t length);

// Returns true when `slot` holds the name with `key` at `text`.
inline bool HoldsName(const NameTable &table, const NameSlot &slot, const NameKey &key,
                      const char *text) {
    return slot.key.first == key.first && slot.key.last == key.last &&
           slot.key.length == key.length &&
           (key.length <= 16 || IsLongName(table, slot.number - 1, text, key.length));
}

inline uint32_t FindName(const NameTable &table, const char *text, size_t length) {
    if (table.slots.empty()) return kNoName;
    const NameKey key = KeyOfName(text, length);
    const size_t mask = table.slots.size() - 1;
    for (size_t slot = HomeSlot(table, key, text);; slot = (slot + 1) & mask) {
        const NameSlot &held = table.slots[slot];
        if (held.number == 0) return kNoName;
        if (HoldsName(table, held, key, text)) return held.number - 1;
    }
}
