#include "name_table.h"

namespace {

// Returns the free slot of `table` for the name with `key` at `text`,
// which it does not hold.
size_t FreeSlot(const NameTable &table, const NameKey &key, const char *text) {
    const size_t mask = table.slots.size() - 1;
    size_t slot = HomeSlot(table, key, text);
    while (table.slots[slot].number != 0) slot = (slot + 1) & mask;
    return slot;
}

// Doubles the slots of `table`, placing every name anew.
void Grow(NameTable *table) {
    table->slotBits = table->slots.empty() ? 4 : table->slotBits + 1;
    table->slots.assign(size_t{1} << table->slotBits, NameSlot{});
    for (size_t number = 0; number < table->names.size(); ++number) {
        const std::string &name = table->names[number];
        const NameKey key = KeyOfName(name.data(), name.size());
        table->slots[FreeSlot(*table, key, name.data())] = {
            key, static_cast<uint32_t>(number + 1)};
    }
}

}  // namespace

bool IsLongName(const NameTable &table, uint32_t number, const char *text, size_t length) {
    return std::memcmp(table.names[number].data(), text, length) == 0;
}

uint32_t NumberName(NameTable *table, const char *text, size_t length) {
    const uint32_t found = FindName(*table, text, length);
    if (found != kNoName) return found;
    // Few names share a slot, so that a search seldom goes on to the next.
    if (4 * (table->names.size() + 1) > table->slots.size()) Grow(table);
    const NameKey key = KeyOfName(text, length);
    table->names.emplace_back(text, length);
    table->slots[FreeSlot(*table, key, text)] = {
        key, static_cast<uint32_t>(table->names.size())};
    if (length > table->longest) table->longest = length;
    return static_cast<uint32_t>(table->names.size() - 1);
}
