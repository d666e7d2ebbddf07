#include "quon/win32/heap.h"

#include <cstdio>

namespace quon::win32 {

namespace {

constexpr uint8_t guard_byte = 0xFD;
constexpr uint8_t freed_byte = 0xDD;

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

uint32_t heap::allocate(uint32_t size, uint32_t caller, bool runtime) {
    if (size > limit) return 0;
    const uint32_t need = span(size);
    uint32_t address = 0;
    auto spare = spare_.lower_bound(need);
    if (spare != spare_.end() && spare->first <= need * 2) {
        address = spare->second;
        const uint32_t have = spare->first;
        spare_.erase(spare);
        if (have > need) spare_.emplace(have - need, address + need);
    } else {
        if (end_ - next_ < need) {
            const uint32_t size = std::max(chunk, need);
            if (reserved_ + size > limit) return 0;
            const uint32_t base = cpu_.reserve(size, "the heap");
            if (!base) return 0;
            // Data, as on Windows: written directly, not through Unicorn.
            cpu_.protect(base, size, machine::readable | machine::writable);
            if (end_ > next_) spare_.emplace(end_ - next_, next_);
            reserved_ += size;
            next_ = base;
            end_ = base + size;
        }
        address = next_;
        next_ += need;
    }
    cpu_.fill(address + size, guard_byte, need - size);
    live_[address] = block{size, caller, serial_++, runtime};
    return address;
}

void heap::fault(const std::string& what, uint32_t caller) const {
    throw machine_fault("heap: " + what + ", by the code at " + hex(caller) + " (" + cpu_.describe(caller) + ")");
}

void heap::checkGuard(uint32_t address, const block& b, const char* when) const {
    uint8_t bytes[guard + 7];
    const uint32_t count = span(b.size) - b.size;
    cpu_.read(address + b.size, bytes, count);
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != guard_byte)
            throw machine_fault("heap: the block at " + hex(address) + " (" + std::to_string(b.size) +
                                " bytes, allocated by the code at " + hex(b.caller) + " (" + cpu_.describe(b.caller) +
                                ")) was written past its end (byte " + std::to_string(i) + " after it), seen " + when);
}

void heap::free(uint32_t address, uint32_t caller) {
    if (address == 0) return;
    auto found = live_.find(address);
    if (found == live_.end()) {
        auto old = freed_.find(address);
        if (old != freed_.end())
            fault("double free of the block at " + hex(address) + " (" + std::to_string(old->second.size) +
                      " bytes, allocated by the code at " + hex(old->second.caller) + " (" +
                      cpu_.describe(old->second.caller) + "))",
                  caller);
        fault("free of " + hex(address) + " (" + cpu_.describe(address) + "), which the heap never gave", caller);
    }
    checkGuard(address, found->second, "when it was freed");
    const block b = found->second;
    live_.erase(found);
    cpu_.fill(address, freed_byte, b.size);
    freed_[address] = b;
    quarantine_.push_back(address);
    if (quarantine_.size() > quarantined) {
        const uint32_t oldest = quarantine_.front();
        quarantine_.pop_front();
        auto gone = freed_.find(oldest);
        spare_.emplace(span(gone->second.size), oldest);
        freed_.erase(gone);
    }
}

int64_t heap::sizeOf(uint32_t address) const {
    auto found = live_.find(address);
    return found == live_.end() ? -1 : int64_t{found->second.size};
}

void heap::check() const {
    for (const auto& [address, b] : live_) checkGuard(address, b, "at the end of the run");
}

std::vector<std::string> heap::leaks() const {
    std::map<uint64_t, std::string> bySerial;
    for (const auto& [address, b] : live_)
        if (!b.runtime)
            bySerial[b.serial] = "block at " + hex(address) + " of " + std::to_string(b.size) +
                                 " bytes, allocated by the code at " + hex(b.caller) + " (" + cpu_.describe(b.caller) +
                                 ")";
    std::vector<std::string> lines;
    for (auto& [serial, line] : bySerial) lines.push_back(std::move(line));
    return lines;
}

}  // namespace quon::win32
