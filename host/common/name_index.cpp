#include "quon/common/name_index.h"

#include <functional>
#include <stdexcept>

namespace quon {

namespace {

constexpr std::uint64_t top_half = ~std::uint64_t{0xffffffff};

}  // namespace

void name_index::reserve(std::size_t count) {
    entries_.reserve(count);
    std::size_t slotCount = 16;
    while (slotCount < 2 * count) slotCount *= 2;
    if (slotCount > slots_.size()) rebuild(slotCount);
}

void name_index::rebuild(std::size_t slotCount) {
    slots_.assign(slotCount, 0);
    const std::size_t mask = slotCount - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t at = entries_[i].hash & mask;
        while (slots_[at] != 0) at = (at + 1) & mask;
        slots_[at] = (entries_[i].hash & top_half) | (i + 1);
    }
}

std::size_t name_index::probe(std::string_view name, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint64_t slot = slots_[at];
        if (slot == 0) return at;
        if ((slot & top_half) == (hash & top_half) && entries_[(slot & 0xffffffff) - 1].name == name) return at;
    }
}

const std::uint64_t* name_index::find(std::string_view name) const {
    if (entries_.empty()) return nullptr;
    const std::uint64_t slot = slots_[probe(name, std::hash<std::string_view>()(name))];
    return slot == 0 ? nullptr : &entries_[(slot & 0xffffffff) - 1].value;
}

bool name_index::insert(std::string_view name, std::uint64_t value) {
    if (2 * (entries_.size() + 1) > slots_.size()) rebuild(slots_.empty() ? 16 : 2 * slots_.size());
    // A place in `entries_` is kept in 32 bits.
    if (entries_.size() >= 0xffffffff) throw std::length_error("name_index: too many names");
    const std::uint64_t hash = std::hash<std::string_view>()(name);
    const std::size_t at = probe(name, hash);
    if (slots_[at] != 0) return false;
    entries_.push_back({name, value, hash});
    slots_[at] = (hash & top_half) | entries_.size();
    return true;
}

bool name_index::erase(std::string_view name) {
    if (entries_.empty()) return false;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = probe(name, std::hash<std::string_view>()(name));
    if (slots_[hole] == 0) return false;
    const std::size_t place = (slots_[hole] & 0xffffffff) - 1;
    // Close the hole: a name further along the run moves back into it
    // unless its own slot lies between the hole and it (linear probing
    // finds every name by walking from its slot without meeting an empty
    // one).
    for (std::size_t next = (hole + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
        const std::size_t home = entries_[(slots_[next] & 0xffffffff) - 1].hash & mask;
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = 0;
    // The last entry takes the erased one's place in `entries_`.
    const std::size_t last = entries_.size() - 1;
    if (place != last) {
        const entry moved = entries_[last];
        std::size_t at = moved.hash & mask;
        while ((slots_[at] & 0xffffffff) != last + 1) at = (at + 1) & mask;
        slots_[at] = (moved.hash & top_half) | (place + 1);
        entries_[place] = moved;
    }
    entries_.pop_back();
    return true;
}

}  // namespace quon
