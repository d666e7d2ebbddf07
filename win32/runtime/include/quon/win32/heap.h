// The C runtime's heap, in emulated memory, checked: every block is
// followed by guard bytes, freed blocks wait in quarantine before their
// memory is used again, and the heap names a double free, a free of a
// pointer it never gave, and a write past a block's end (seen at the
// block's free or at `check`) as a machine_fault. Blocks never freed are
// listed with the code that allocated them.
// One thread, as its machine.
#ifndef QUON_WIN32_HEAP_H
#define QUON_WIN32_HEAP_H

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "quon/win32/machine.h"

namespace quon::win32 {

class heap {
public:
    explicit heap(machine& cpu) : cpu_(cpu) {}

    // A block of `size` bytes, 8-byte aligned, or 0 when the heap cannot
    // hold it. `caller` names the allocating code in reports; blocks the
    // runtime allocates for itself (`runtime`) are never listed as leaks.
    uint32_t allocate(uint32_t size, uint32_t caller, bool runtime = false);
    void free(uint32_t address, uint32_t caller);
    // The size of a live block, or -1.
    int64_t sizeOf(uint32_t address) const;
    // Checks the guard bytes of every live block.
    void check() const;
    // One line for each block never freed, oldest first.
    std::vector<std::string> leaks() const;

    // Everything the heap may hold at once.
    static constexpr uint32_t limit = 512u << 20;

private:
    struct block {
        uint32_t size;
        uint32_t caller;
        uint64_t serial;
        bool runtime;
    };
    static constexpr uint32_t guard = 16;
    static constexpr uint32_t chunk = 16u << 20;
    static constexpr size_t quarantined = 1024;

    uint32_t span(uint32_t size) const { return (size + guard + 7) & ~7u; }
    void checkGuard(uint32_t address, const block& b, const char* when) const;
    [[noreturn]] void fault(const std::string& what, uint32_t caller) const;

    machine& cpu_;
    std::map<uint32_t, block> live_;
    std::map<uint32_t, block> freed_;
    std::deque<uint32_t> quarantine_;
    std::multimap<uint32_t, uint32_t> spare_;  // span -> address, reusable
    uint32_t next_ = 0, end_ = 0, reserved_ = 0;
    uint64_t serial_ = 0;
};

}  // namespace quon::win32

#endif
