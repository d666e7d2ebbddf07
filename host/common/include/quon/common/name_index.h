// name_index: names to numbers in one flat table. A wall holds a hundred
// thousand names, and a node-based map's look-up of a name not in it (every
// display made) walks nodes scattered over the heap, a cache miss each; here
// a look-up reads one run of an array of 8-byte slots, and a name's bytes
// only when the top half of its hash matches.
//
// The index keeps views: whoever adds a name keeps its bytes alive and
// unchanged until it is erased or the index is gone. Not thread-safe; one
// owner.
#ifndef QUON_COMMON_NAME_INDEX_H
#define QUON_COMMON_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quon {

class name_index {
public:
    // Room for `count` names in all without growing.
    void reserve(std::size_t count);
    // The number `name` was added with, or nullptr.
    const std::uint64_t* find(std::string_view name) const;
    // Adds `name` with `value`; false, and nothing changed, when it is in.
    bool insert(std::string_view name, std::uint64_t value);
    // False when `name` was not in.
    bool erase(std::string_view name);
    std::size_t size() const { return entries_.size(); }

private:
    struct entry {
        std::string_view name;
        std::uint64_t value;
        std::uint64_t hash;
    };
    // The slot of `name` (hash `hash`), or of the empty slot where it would go.
    std::size_t probe(std::string_view name, std::uint64_t hash) const;
    void rebuild(std::size_t slotCount);

    // Each the top half of a name's hash and its place in `entries_` from 1;
    // 0 is empty. A power of two in size, at most half full.
    std::vector<std::uint64_t> slots_;
    std::vector<entry> entries_;
};

}  // namespace quon

#endif
