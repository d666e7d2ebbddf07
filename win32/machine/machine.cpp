#include "quon/win32/machine.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unicorn/unicorn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quon::win32 {

namespace {

constexpr uint32_t granularity = 0x10000;
constexpr uint32_t lowest = 0x10000;         // the first 64 KiB stay unmapped: null pointers fault
constexpr uint32_t highest = 0x7FFF0000;     // the user half of a 32-bit address space
constexpr uint32_t stub_size = 8;
constexpr uint32_t stub_bytes = 0x4000;
constexpr uint32_t routine_bytes = 0x1000;  // emulated functions, after the stubs
constexpr uint32_t stack_size = 1u << 20;
constexpr uint32_t objects_bytes = 0x10000;

// Unicorn, loaded when the first machine is made rather than with the
// program: its 80,000 relocations took 15 ms of every start of quon-host,
// whose commands mostly run no Windows code. The functions used, each
// uc_NAME:
#define QUON_UNICORN_CALLS(X) \
    X(open) X(close) X(hook_add) X(mem_map_ptr) X(mem_unmap) X(mem_protect) X(mem_read) X(mem_write) X(reg_read) \
    X(reg_write) X(reg_read_batch) X(reg_write_batch) X(emu_start) X(emu_stop) X(strerror) X(version)

struct unicorn_library {
#define QUON_UNICORN_MEMBER(name) decltype(&::uc_##name) name;
    QUON_UNICORN_CALLS(QUON_UNICORN_MEMBER)
#undef QUON_UNICORN_MEMBER
    std::string path;  // the file loaded
};

template <typename F>
void resolve(void* library, F& function, const char* name) {
    function = reinterpret_cast<F>(dlsym(library, name));
    if (!function) throw machine_fault(std::string(QUON_UNICORN_LIBRARY " has no ") + name);
}

// The program's own Unicorn (a build's or a package's private copy, where
// the system's is too old) wins over the system's, which is found by name.
void* openUnicorn() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path own =
            (program.parent_path() / QUON_UNICORN_FOLDER / QUON_UNICORN_LIBRARY).lexically_normal();
        if (std::filesystem::exists(own, error))
            if (void* handle = dlopen(own.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    return dlopen(QUON_UNICORN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
}

const unicorn_library& unicorn() {
    // Once; a failure (thrown) is tried again by the next machine.
    static const unicorn_library library = [] {
        void* handle = openUnicorn();
        if (!handle) throw machine_fault(std::string("cannot load Unicorn: ") + dlerror());
        unicorn_library l{};
#define QUON_UNICORN_RESOLVE(name) resolve(handle, l.name, "uc_" #name);
        QUON_UNICORN_CALLS(QUON_UNICORN_RESOLVE)
#undef QUON_UNICORN_RESOLVE
        const link_map* map = nullptr;
        l.path = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name ? map->l_name : QUON_UNICORN_LIBRARY;
        const unsigned packed = l.version(nullptr, nullptr);
        // Headers and library of another API (2.0's or a later major) would
        // not agree on the calls: refused rather than run.
        if ((packed >> 24) != UC_API_MAJOR || ((packed >> 16) & 0xFF) < UC_API_MINOR)
            throw machine_fault("Unicorn " + std::to_string(packed >> 24) + "." + std::to_string((packed >> 16) & 0xFF) +
                                " at " + l.path + "; this program needs " + std::to_string(UC_API_MAJOR) + "." +
                                std::to_string(UC_API_MINOR) + " or a later " + std::to_string(UC_API_MAJOR) + ".x");
        return l;
    }();
    return library;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string offset(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "+0x%X", value);
    return text;
}

uint64_t descriptor(uint32_t base, uint32_t limit, uint8_t access, uint8_t flags) {
    return (limit & 0xFFFFull) | (uint64_t{base} & 0xFFFFFF) << 16 | uint64_t{access} << 40 |
           uint64_t{(limit >> 16) & 0xF} << 48 | uint64_t{flags} << 52 | uint64_t{base >> 24} << 56;
}

int unicornRegister(reg r) {
    switch (r) {
        case reg::eax: return UC_X86_REG_EAX;
        case reg::ebx: return UC_X86_REG_EBX;
        case reg::ecx: return UC_X86_REG_ECX;
        case reg::edx: return UC_X86_REG_EDX;
        case reg::esi: return UC_X86_REG_ESI;
        case reg::edi: return UC_X86_REG_EDI;
        case reg::ebp: return UC_X86_REG_EBP;
        case reg::esp: return UC_X86_REG_ESP;
        case reg::eip: return UC_X86_REG_EIP;
    }
    return UC_X86_REG_INVALID;
}

const char* cpuException(uint32_t number) {
    switch (number) {
        case 0: return "integer division by zero or overflow";
        case 1: return "debug trap";
        case 3: return "breakpoint (int3)";
        case 4: return "overflow trap (into)";
        case 5: return "bound range exceeded";
        case 6: return "invalid instruction";
        case 7: return "no floating-point unit";
        case 8: return "double fault";
        case 10: return "invalid task state segment";
        case 11: return "segment not present";
        case 12: return "stack segment fault";
        case 13: return "general protection fault";
        case 14: return "page fault";
        case 16: return "floating-point error";
        case 17: return "alignment check";
        case 19: return "SIMD floating-point exception";
        default: return nullptr;
    }
}

}  // namespace

struct machine::stop_cause {
    enum kind { none, native, fault, exit } what = none;
    uint32_t index = 0;
    int exitCode = 0;
    bool named = false;  // the text names the native function and its caller
    std::string text;
    uint32_t address = 0;
    uint32_t eip = 0;
};

struct machine_hooks {
    static void interrupt(uc_engine* uc, uint32_t number, void* user) {
        machine& m = *static_cast<machine*>(user);
        if (m.stop_->what != machine::stop_cause::none) {
            unicorn().emu_stop(uc);
            return;
        }
        const uint32_t eip = m.get(reg::eip);
        if (number == 3 && eip - 1 >= m.stubs_ && eip - 1 < m.stubs_ + stub_bytes) {
            const uint32_t index = (eip - 1 - m.stubs_) / stub_size;
            if (index > 0 && index < m.natives_.size() && m.natives_[index].leaf) {
                m.runLeaf(index);
                if (m.stop_->what != machine::stop_cause::none) unicorn().emu_stop(uc);
                return;
            }
            unicorn().emu_stop(uc);
            m.stop_->what = machine::stop_cause::native;
            m.stop_->index = index;
            return;
        }
        unicorn().emu_stop(uc);
        const char* name = cpuException(number);
        m.stop_->what = machine::stop_cause::fault;
        m.stop_->text = name ? std::string("CPU exception: ") + name
                             : "interrupt " + std::to_string(number) + " (no system calls are emulated)";
        // A trap (int3, int N) leaves EIP after its instruction.
        m.stop_->eip = number == 3 ? eip - 1 : eip;
        m.stop_->address = m.stop_->eip;
    }

    static bool badAccess(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        machine& m = *static_cast<machine*>(user);
        if (m.stop_->what != machine::stop_cause::none) return false;
        const char* what = "memory access";
        switch (type) {
            case UC_MEM_READ_UNMAPPED: what = "read of unmapped memory"; break;
            case UC_MEM_WRITE_UNMAPPED: what = "write to unmapped memory"; break;
            case UC_MEM_FETCH_UNMAPPED: what = "execution of unmapped memory"; break;
            case UC_MEM_READ_PROT: what = "read of protected memory"; break;
            case UC_MEM_WRITE_PROT: what = "write to read-only memory"; break;
            case UC_MEM_FETCH_PROT: what = "execution of non-executable memory"; break;
            default: break;
        }
        m.stop_->what = machine::stop_cause::fault;
        m.stop_->text = std::string(what) + " (" + std::to_string(size) + " bytes)";
        m.stop_->address = static_cast<uint32_t>(address);
        m.stop_->eip = m.get(reg::eip);
        if (const auto* routine = m.routineAt(m.stop_->eip)) {
            // A routine keeps its return address at [esp] (it pushes
            // nothing): named as a native function's fault is.
            uint32_t caller = 0;
            unicorn().mem_read(uc, m.get(reg::esp), &caller, 4);
            m.stop_->named = true;
            m.stop_->text = routine->second + ", called from " + hex(caller) + " (" + m.describe(caller) + "): " +
                            m.faultText(m.stop_->text, m.stop_->address);
        }
        return false;
    }
};

uint32_t native_call::word(int index) const {
    if (index >= cached) return machine_.read32(esp_ + 4 * static_cast<uint32_t>(index));
    if (!read_) {
        // The words may run past the stack's top into memory that is not
        // mapped: then each is read alone, and a bad one faults as itself.
        if (!machine_.tryRead(esp_, words_, sizeof words_)) return machine_.read32(esp_ + 4 * static_cast<uint32_t>(index));
        read_ = true;
    }
    return words_[index];
}

uint32_t native_call::arg(int index) const { return word(index + 1); }
uint32_t native_call::returnAddress() const { return word(0); }

machine::machine() : stop_(std::make_unique<stop_cause>()) {
    if (unicorn().open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) throw machine_fault("Unicorn cannot make a 32-bit x86 CPU");
    try {
        setUp();
    } catch (...) {
        unicorn().close(uc_);
        throw;
    }
}

void machine::setUp() {
    unicorn().hook_add(uc_, &hooks_[0], UC_HOOK_INTR,
                reinterpret_cast<void*>(&machine_hooks::interrupt), this, 1, 0);
    unicorn().hook_add(uc_, &hooks_[1], UC_HOOK_MEM_INVALID,
                reinterpret_cast<void*>(&machine_hooks::badAccess), this, 1, 0);

    stubs_ = reserve(stub_bytes + routine_bytes, "native functions");
    std::vector<uint8_t> traps(stub_bytes + routine_bytes, 0xCC);
    write(stubs_, traps.data(), traps.size());
    protect(stubs_, stub_bytes + routine_bytes, readable | executable);
    natives_.push_back(native_entry{"the stop address", 0, nullptr, false});
    // Data is not executable, as on Windows; and its pages are written
    // directly (hostBytes).
    objects_ = reserve(objects_bytes, "native objects");
    protect(objects_, objects_bytes, readable | writable);

    // Below the stack an unmapped guard, so that an overflow faults there.
    const uint32_t stack = reserve(stack_size + granularity, "the stack");
    unicorn().mem_unmap(uc_, stack, granularity);
    regions_[stack].unmapped = granularity;
    stackLimit_ = stack + granularity;
    stackTop_ = stackLimit_ + stack_size;
    protect(stackLimit_, stack_size, readable | writable);
    teb_ = reserve(0x2000, "the thread block");
    protect(teb_, 0x2000, readable | writable);
    peb_ = teb_ + 0x1000;
    write32(teb_ + 0x00, 0xFFFFFFFF);  // no exception handler yet
    write32(teb_ + 0x04, stackTop_);
    write32(teb_ + 0x08, stackLimit_);
    write32(teb_ + 0x18, teb_);
    write32(teb_ + 0x20, static_cast<uint32_t>(getpid()));
    write32(teb_ + 0x24, static_cast<uint32_t>(getpid()));
    write32(teb_ + 0x30, peb_);
    setUpSegments();
    set(reg::esp, stackTop_ - 16);
}

machine::~machine() {
    unicorn().close(uc_);
    for (const auto& [base, r] : regions_) munmap(r.host, r.size);
}

void machine::setUpSegments() {
    const uint32_t table = reserve(0x1000, "the descriptor table");
    const uint64_t entries[] = {
        0,
        descriptor(0, 0xFFFFF, 0x9A, 0xC),   // 0x08: code, flat
        descriptor(0, 0xFFFFF, 0x92, 0xC),   // 0x10: data and stack, flat
        descriptor(teb_, 0xFFF, 0x92, 0x4),  // 0x18: FS, the thread block
    };
    write(table, entries, sizeof entries);
    protect(table, 0x1000, readable | writable);
    uc_x86_mmr gdtr{0, table, sizeof entries - 1, 0};
    unicorn().reg_write(uc_, UC_X86_REG_GDTR, &gdtr);
    const struct {
        int name;
        uint32_t selector;
    } segments[] = {{UC_X86_REG_SS, 0x10}, {UC_X86_REG_DS, 0x10}, {UC_X86_REG_ES, 0x10},
                    {UC_X86_REG_FS, 0x18}, {UC_X86_REG_GS, 0x10}, {UC_X86_REG_CS, 0x08}};
    for (const auto& s : segments) {
        const uc_err err = unicorn().reg_write(uc_, s.name, &s.selector);
        if (err != UC_ERR_OK) throw machine_fault(std::string("cannot load a segment register: ") + unicorn().strerror(err));
    }
}

bool machine::isFree(uint32_t base, uint32_t size) const {
    if (base < lowest || base > highest || size > highest - base) return false;
    auto next = regions_.lower_bound(base);
    if (next != regions_.end() && next->first < base + size) return false;
    if (next != regions_.begin()) {
        auto before = std::prev(next);
        if (before->first + before->second.size > base) return false;
    }
    return true;
}

uint32_t machine::reserve(uint32_t size, const std::string& name, uint32_t preferred) {
    if (size == 0 || size > highest) return 0;
    const uint32_t rounded = (size + granularity - 1) & ~(granularity - 1);
    uint32_t base = 0;
    if (preferred && preferred % granularity == 0 && isFree(preferred, rounded)) {
        base = preferred;
    } else {
        uint32_t candidate = 0x00100000;
        for (const auto& [start, r] : regions_) {
            if (start >= candidate + rounded && candidate + rounded > candidate) break;
            const uint32_t end = (start + r.size + granularity - 1) & ~(granularity - 1);
            if (end > candidate) candidate = end;
        }
        if (!isFree(candidate, rounded)) return 0;
        base = candidate;
    }
    // Pages are backed when first touched, as Unicorn's own memory is.
    void* host = mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (host == MAP_FAILED) return 0;
    if (unicorn().mem_map_ptr(uc_, base, rounded, UC_PROT_ALL, host) != UC_ERR_OK) {
        munmap(host, rounded);
        return 0;
    }
    regions_[base] = region{base, rounded, name, static_cast<uint8_t*>(host), 0, std::vector<bool>(rounded / 0x1000, true),
                            rounded / 0x1000};
    return base;
}

void machine::release(uint32_t base) {
    auto found = regions_.find(base);
    if (found == regions_.end()) return;
    const region& r = found->second;
    unicorn().mem_unmap(uc_, base + r.unmapped, r.size - r.unmapped);
    munmap(r.host, r.size);
    if (lastRegion_ == &r) lastRegion_ = nullptr;
    regions_.erase(found);
}

void machine::protect(uint32_t address, uint32_t size, uint32_t access) {
    uint32_t perms = UC_PROT_NONE;
    if (access & readable) perms |= UC_PROT_READ;
    if (access & writable) perms |= UC_PROT_WRITE;
    if (access & executable) perms |= UC_PROT_EXEC;
    const uint32_t start = address & ~0xFFFu;
    const uint32_t end = (address + size + 0xFFF) & ~0xFFFu;
    unicorn().mem_protect(uc_, start, end - start, perms);
    const bool code = (access & executable) != 0;
    for (uint32_t page = start; page < end;) {
        auto next = regions_.upper_bound(page);
        if (next == regions_.begin() || page - std::prev(next)->first >= std::prev(next)->second.size) {
            page = next == regions_.end() ? end : next->first;
            continue;
        }
        region& r = std::prev(next)->second;
        for (; page < end && page - r.base < r.size; page += 0x1000) {
            const uint32_t index = (page - r.base) / 0x1000;
            if (r.executable[index] != code) r.executablePages += code ? 1 : -1;
            r.executable[index] = code;
        }
    }
}

uint8_t* machine::hostBytes(uint32_t address, std::size_t size, bool write) const {
    const region* r = lastRegion_;
    if (!r || address - r->base >= r->size) {
        auto next = regions_.upper_bound(address);
        if (next == regions_.begin()) return nullptr;
        r = &std::prev(next)->second;
        if (address - r->base >= r->size) return nullptr;
        lastRegion_ = r;
    }
    const uint32_t offset = address - r->base;
    if (offset < r->unmapped || size > r->size - offset) return nullptr;
    if (write && r->executablePages)
        for (uint32_t page = offset / 0x1000; page <= (offset + size - 1) / 0x1000; ++page)
            if (r->executable[page]) return nullptr;
    return r->host + offset;
}

bool machine::tryRead(uint32_t address, void* out, std::size_t size) const {
    if (const uint8_t* bytes = hostBytes(address, size, false)) {
        std::memcpy(out, bytes, size);
        return true;
    }
    return unicorn().mem_read(uc_, address, out, size) == UC_ERR_OK;
}

void machine::read(uint32_t address, void* out, std::size_t size) const {
    if (size == 0) return;
    if (!tryRead(address, out, size))
        throw machine_fault("read of " + std::to_string(size) + " bytes at " + hex(address) + " (" + describe(address) +
                            "): not mapped");
}

void machine::write(uint32_t address, const void* bytes, std::size_t size) {
    if (size == 0) return;
    if (uint8_t* host = hostBytes(address, size, true)) {
        std::memcpy(host, bytes, size);
        return;
    }
    if (unicorn().mem_write(uc_, address, bytes, size) != UC_ERR_OK)
        throw machine_fault("write of " + std::to_string(size) + " bytes at " + hex(address) + " (" +
                            describe(address) + "): not mapped");
}

void machine::fill(uint32_t address, uint8_t value, std::size_t size) {
    if (size == 0) return;
    if (uint8_t* host = hostBytes(address, size, true)) {
        std::memset(host, value, size);
        return;
    }
    uint8_t bytes[4096];
    std::memset(bytes, value, std::min(size, sizeof bytes));
    for (std::size_t done = 0; done < size; done += sizeof bytes)
        write(address + static_cast<uint32_t>(done), bytes, std::min(size - done, sizeof bytes));
}

uint32_t machine::read32(uint32_t address) const {
    uint8_t b[4];
    read(address, b, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void machine::write32(uint32_t address, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    write(address, b, 4);
}

std::string machine::readString(uint32_t address, std::size_t limit) const {
    if (const uint8_t* bytes = hostBytes(address, 1, false)) {
        // The rest of the region, at most: a text running past it is read
        // through Unicorn below, which names where it stops.
        const std::size_t room = std::min<std::size_t>(limit, lastRegion_->size - (address - lastRegion_->base));
        if (const void* end = std::memchr(bytes, 0, room))
            return std::string(reinterpret_cast<const char*>(bytes), static_cast<const uint8_t*>(end) - bytes);
    }
    std::string text;
    char chunk[256];
    while (text.size() < limit) {
        // Read up to the end of the page, so a text ending just before an
        // unmapped page is read whole.
        const uint32_t at = address + static_cast<uint32_t>(text.size());
        const std::size_t size = std::min<std::size_t>(sizeof chunk, 0x1000 - (at & 0xFFF));
        read(at, chunk, size);
        const void* end = std::memchr(chunk, 0, size);
        if (end) return text.append(chunk, static_cast<const char*>(end) - chunk);
        text.append(chunk, size);
    }
    throw machine_fault("the text at " + hex(address) + " (" + describe(address) + ") has no end within " +
                        std::to_string(limit) + " bytes");
}

void machine::writeString(uint32_t address, const std::string& text) { write(address, text.c_str(), text.size() + 1); }

uint32_t machine::get(reg r) const {
    uint32_t value = 0;
    unicorn().reg_read(uc_, unicornRegister(r), &value);
    return value;
}

void machine::set(reg r, uint32_t value) { unicorn().reg_write(uc_, unicornRegister(r), &value); }

void machine::addModule(const std::string& name, uint32_t base, uint32_t size) { modules_[base] = {name, size}; }
void machine::removeModule(uint32_t base) { modules_.erase(base); }

std::string machine::describe(uint32_t address) const {
    if (address < stackLimit_ && stackLimit_ - address <= granularity) return "below the stack: a stack overflow";
    auto m = modules_.upper_bound(address);
    if (m != modules_.begin() && address - std::prev(m)->first < std::prev(m)->second.size)
        return std::prev(m)->second.name + offset(address - std::prev(m)->first);
    if (address >= stubs_ && address - stubs_ < stub_bytes) {
        const uint32_t index = (address - stubs_) / stub_size;
        if (index < natives_.size()) return "native " + natives_[index].name;
    }
    if (const auto* routine = routineAt(address)) return routine->second + offset(address - routine->first);
    auto r = regions_.upper_bound(address);
    if (r != regions_.begin() && address - std::prev(r)->first < std::prev(r)->second.size)
        return std::prev(r)->second.name + offset(address - std::prev(r)->first);
    if (address < lowest) return "a null pointer";
    return "unmapped";
}

uint32_t machine::addNative(const std::string& name, uint32_t popBytes, native_function function, bool leaf) {
    if (natives_.size() >= stub_bytes / stub_size) throw machine_fault("too many native functions");
    if (popBytes > 0xFFFF) throw machine_fault(name + ": a function pops at most 65535 bytes");
    natives_.push_back(native_entry{name, popBytes, std::move(function), leaf});
    const uint32_t stub = stubs_ + static_cast<uint32_t>(natives_.size() - 1) * stub_size;
    // The trap, then the function's own return: a leaf's results are set in
    // the trap's hook and the CPU goes on to the `ret` without leaving its
    // loop (setting EIP from a hook would make it stop and start again).
    const uint8_t stubBytes[] = {0xCC, 0xC2, static_cast<uint8_t>(popBytes), static_cast<uint8_t>(popBytes >> 8)};
    const uint8_t plain[] = {0xCC, 0xC3};
    if (popBytes) write(stub, stubBytes, sizeof stubBytes);
    else write(stub, plain, sizeof plain);
    return stub;
}

uint32_t machine::addRoutine(const std::string& name, std::vector<uint8_t> code, uint32_t fallback) {
    if (code.empty() || code.size() > routine_bytes - routinesUsed_) throw machine_fault("no room left for " + name);
    const uint32_t address = stubs_ + stub_bytes + routinesUsed_;
    if (fallback) {
        if (code.size() < 5 || code[code.size() - 5] != 0xE9) throw machine_fault(name + ": its code does not end in a jmp");
        const uint32_t relative = fallback - (address + static_cast<uint32_t>(code.size()));
        for (int i = 0; i < 4; ++i) code[code.size() - 4 + i] = static_cast<uint8_t>(relative >> (8 * i));
    }
    write(address, code.data(), code.size());
    routines_[address] = name;
    // Each routine starts on 16 bytes, as compiled functions do.
    routinesUsed_ += (static_cast<uint32_t>(code.size()) + 15) & ~15u;
    return address;
}

const std::pair<const uint32_t, std::string>* machine::routineAt(uint32_t address) const {
    if (address < stubs_ + stub_bytes || address - stubs_ - stub_bytes >= routinesUsed_) return nullptr;
    auto next = routines_.upper_bound(address);
    return next == routines_.begin() ? nullptr : &*std::prev(next);
}

std::string machine::nativeName(uint32_t address) const {
    if (address < stubs_ || address - stubs_ >= stub_bytes || (address - stubs_) % stub_size) return {};
    const uint32_t index = (address - stubs_) / stub_size;
    return index < natives_.size() ? natives_[index].name : std::string();
}

uint32_t machine::makeObject(const std::vector<uint32_t>& vtable, uint32_t extraBytes) {
    const uint32_t size = static_cast<uint32_t>(vtable.size() * 4 + 4 + ((extraBytes + 3) & ~3u));
    if (size > objects_bytes - objectsUsed_) throw machine_fault("no room left for native objects");
    const uint32_t table = objects_ + objectsUsed_;
    for (size_t i = 0; i < vtable.size(); ++i) write32(table + static_cast<uint32_t>(i) * 4, vtable[i]);
    const uint32_t object = table + static_cast<uint32_t>(vtable.size()) * 4;
    write32(object, table);
    objectsUsed_ += size;
    return object;
}

std::string machine::faultText(const std::string& what, uint32_t address) const {
    const uint32_t eip = stop_->eip;
    return what + " at " + hex(address) + " (" + describe(address) + "), EIP " + hex(eip) + " (" + describe(eip) + ")";
}

void machine::fail(const std::string& what) {
    broken_ = what;
    throw machine_fault(what);
}

void machine::dispatchNative(uint32_t index, uint32_t entryEsp) {
    const uint32_t esp = get(reg::esp);
    const std::string name = natives_[index].name;
    const uint32_t popBytes = natives_[index].popBytes;
    const native_function function = natives_[index].function;
    native_call call(*this, esp);
    try {
        function(call);
    } catch (const resume_request& resume) {
        if (resume.esp >= entryEsp) throw;
        set(reg::esp, resume.esp);
        set(reg::ebp, resume.ebp);
        set(reg::eip, resume.eip);
        return;
    } catch (const machine_fault& fault) {
        const uint32_t caller = read32(esp);
        fail(name + ", called from " + hex(caller) + " (" + describe(caller) + "): " + fault.what());
    }
    set(reg::eax, call.result);
    set(reg::edx, call.resultHigh);
    set(reg::eip, read32(esp));
    set(reg::esp, esp + 4 + popBytes);
}

void machine::runLeaf(uint32_t index) {
    const native_entry& entry = natives_[index];
    const uint32_t esp = get(reg::esp);
    try {
        native_call call(*this, esp);
        entry.function(call);
        int results[] = {UC_X86_REG_EAX, UC_X86_REG_EDX};
        void* values[] = {&call.result, &call.resultHigh};
        unicorn().reg_write_batch(uc_, results, values, 2);
    } catch (const program_exit& exit) {
        stop_->what = stop_cause::exit;
        stop_->exitCode = exit.code;
    } catch (const std::exception& error) {
        // Named as dispatchNative names it; the run ends once emulation stops.
        uint32_t caller = 0;
        unicorn().mem_read(uc_, esp, &caller, 4);
        stop_->what = stop_cause::fault;
        stop_->named = true;
        stop_->text = entry.name + ", called from " + hex(caller) + " (" + describe(caller) + "): " + error.what();
        stop_->address = esp;
        stop_->eip = caller;
    }
}

void machine::run(uint32_t entryEsp) {
    for (;;) {
        *stop_ = stop_cause{};
        const uint32_t eip = get(reg::eip);
        if (eip == stubs_) return;
        const uc_err err = unicorn().emu_start(uc_, eip, stubs_, 0, 0);
        const stop_cause cause = *stop_;
        if (cause.what == stop_cause::native) {
            if (cause.index == 0) return;
            dispatchNative(cause.index, entryEsp);
            continue;
        }
        if (cause.what == stop_cause::exit) throw program_exit{cause.exitCode};
        if (cause.what == stop_cause::fault) {
            if (cause.named) fail(cause.text);
            fail(faultText(cause.text, cause.address));
        }
        if (err != UC_ERR_OK) {
            stop_->eip = get(reg::eip);
            const std::string what = err == UC_ERR_INSN_INVALID ? "invalid instruction" : unicorn().strerror(err);
            fail(faultText(what, stop_->eip));
        }
        if (get(reg::eip) == stubs_) return;
    }
}

uint32_t machine::call(uint32_t address, std::initializer_list<uint32_t> args, convention how, uint32_t self,
                       uint32_t ebp) {
    if (!broken_.empty()) throw machine_fault(broken_);
    // The registers in one call each way: a call of Unicorn's costs more
    // than the register.
    int saved[] = {UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_ESI,
                   UC_X86_REG_EDI, UC_X86_REG_EBP, UC_X86_REG_ESP, UC_X86_REG_EIP};
    constexpr int count = static_cast<int>(std::size(saved));
    uint32_t values[count];
    void* places[count];
    for (int i = 0; i < count; ++i) places[i] = &values[i];
    unicorn().reg_read_batch(uc_, saved, places, count);
    const uint32_t entryEsp = values[6];
    // The return address (the stop address) and the arguments, in one write
    // (the words as the host holds them: both are little-endian).
    uint32_t small[8];
    std::vector<uint32_t> large;
    if (args.size() >= std::size(small)) large.resize(args.size() + 1);
    uint32_t* frame = large.empty() ? small : large.data();
    frame[0] = stubs_;
    std::copy(args.begin(), args.end(), frame + 1);
    const uint32_t size = static_cast<uint32_t>(args.size() + 1) * 4;
    const uint32_t esp = entryEsp - size;
    write(esp, frame, size);
    int entry[4] = {UC_X86_REG_ESP, UC_X86_REG_EIP};
    uint32_t entryValues[4] = {esp, address};
    int entryCount = 2;
    if (how == convention::thiscall_call) {
        entry[entryCount] = UC_X86_REG_ECX;
        entryValues[entryCount++] = self;
    }
    if (ebp) {
        entry[entryCount] = UC_X86_REG_EBP;
        entryValues[entryCount++] = ebp;
    }
    void* entryPlaces[4] = {&entryValues[0], &entryValues[1], &entryValues[2], &entryValues[3]};
    unicorn().reg_write_batch(uc_, entry, entryPlaces, entryCount);
    run(entryEsp);
    const uint32_t result = get(reg::eax);
    const uint32_t expected = how == convention::cdecl_call ? esp + 4 : entryEsp;
    const uint32_t got = get(reg::esp);
    if (got != expected) {
        stop_->eip = address;
        fail("the function at " + hex(address) + " (" + describe(address) + ") returned with its stack off by " +
             std::to_string(static_cast<int32_t>(got - expected)) + " bytes: it was called with the wrong convention");
    }
    unicorn().reg_write_batch(uc_, saved, places, count);
    return result;
}

void machine::resumeAt(uint32_t eip, uint32_t esp, uint32_t ebp) { throw resume_request{eip, esp, ebp}; }

std::string unicornInUse() {
    try {
        const unicorn_library& u = unicorn();
        const unsigned packed = u.version(nullptr, nullptr);
        return "Unicorn " + std::to_string(packed >> 24) + "." + std::to_string((packed >> 16) & 0xFF) + "." +
               std::to_string((packed >> 8) & 0xFF) + " (" + u.path + ")";
    } catch (const machine_fault& fault) {
        return fault.what();
    }
}

}  // namespace quon::win32
