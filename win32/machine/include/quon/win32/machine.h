// A 32-bit x86 machine on Unicorn, set up as Windows sets up a thread:
// flat code and data segments, FS at a thread block (exception list, stack
// bounds, self pointer, process block), a stack, and memory regions named
// for reports. Native code calls emulated functions with `call` and gives
// emulated code native functions with `addNative`; emulated code reaches a
// native function through a stub address. A fault of the emulated code
// (an unmapped or protected access, an invalid instruction, a CPU
// exception) ends the call with a `machine_fault` naming the address, EIP
// and the module and offset of both.
//
// One thread: a machine and everything reached through it belong to the
// thread that made it. After a machine_fault the machine is broken: every
// later call throws the same fault.
#ifndef QUON_WIN32_MACHINE_H
#define QUON_WIN32_MACHINE_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct uc_struct;

namespace quon::win32 {

// Why emulation stopped where it should not have.
class machine_fault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown by a native function to end the program (exit, abort); carries
// the exit code up through every native and emulated call.
struct program_exit {
    int code;
};

enum class reg { eax, ebx, ecx, edx, esi, edi, ebp, esp, eip };

// How an emulated function takes its arguments: cdecl (the caller pops),
// stdcall (the callee pops), thiscall (stdcall with `this` in ECX).
enum class convention { cdecl_call, stdcall_call, thiscall_call };

class machine;

// A call from emulated code to a native function, as the native sees it:
// the arguments on the emulated stack, the registers at the call.
class native_call {
public:
    native_call(machine& m, uint32_t esp) : machine_(m), esp_(esp) {}
    machine& cpu() { return machine_; }
    uint32_t arg(int index) const;             // the index-th 32-bit argument
    uint32_t returnAddress() const;
    uint32_t stackPointer() const { return esp_; }  // at the return address
    uint32_t result = 0;                       // EAX on return
    uint32_t resultHigh = 0;                   // EDX on return

private:
    // The return address and the first arguments, read from the emulated
    // stack in one go at the first use: each read of emulated memory costs
    // far more than its bytes.
    static constexpr int cached = 8;
    uint32_t word(int index) const;

    machine& machine_;
    uint32_t esp_;
    mutable uint32_t words_[cached] = {};
    mutable bool read_ = false;
};

using native_function = std::function<void(native_call&)>;

// The Unicorn the machines run on, loaded if it is not yet: "Unicorn 2.1.1
// (/usr/lib/quon-host/libunicorn.so.2)", or why it cannot be loaded.
std::string unicornInUse();

class machine {
public:
    machine();
    ~machine();
    machine(const machine&) = delete;
    machine& operator=(const machine&) = delete;

    // Memory. Regions are 64 KiB aligned; `preferred` is taken when free
    // (0: anywhere). Returns 0 when no room is left. Mapped readable,
    // writable and executable until `protect` says otherwise.
    uint32_t reserve(uint32_t size, const std::string& name, uint32_t preferred = 0);
    void release(uint32_t base);
    bool isFree(uint32_t base, uint32_t size) const;
    enum access : uint32_t { readable = 1, writable = 2, executable = 4 };
    void protect(uint32_t address, uint32_t size, uint32_t access);

    // Reads and writes of emulated memory; a range not mapped throws a
    // machine_fault naming it.
    void read(uint32_t address, void* out, std::size_t size) const;
    void write(uint32_t address, const void* bytes, std::size_t size);
    uint32_t read32(uint32_t address) const;
    void write32(uint32_t address, uint32_t value);
    void fill(uint32_t address, uint8_t value, std::size_t size);  // memset's
    // A NUL-terminated text, at most `limit` bytes: longer is a fault. By
    // default as long as the largest block the heap gives (a host hands
    // components texts of a MiB and more).
    std::string readString(uint32_t address, std::size_t limit = 512u << 20) const;
    void writeString(uint32_t address, const std::string& text);  // with its NUL

    uint32_t get(reg r) const;
    void set(reg r, uint32_t value);

    // Names a span of addresses in reports ("Korvane.dll+0x1F0").
    void addModule(const std::string& name, uint32_t base, uint32_t size);
    void removeModule(uint32_t base);
    std::string describe(uint32_t address) const;

    // A native function emulated code can call at the returned address;
    // `popBytes` is what it pops of its arguments (stdcall's @N; 0 for
    // cdecl). `name` names it in reports. A `leaf` function never calls
    // emulated code (nor resumeAt): it runs inside the CPU's own loop,
    // which saves stopping and restarting emulation for each call.
    uint32_t addNative(const std::string& name, uint32_t popBytes, native_function function, bool leaf = false);
    // An emulated function: x86 code the CPU runs as it runs the program's,
    // for a small function whose trap into native code would cost more than
    // its work. It must keep its return address at [esp] where it may fault
    // (push nothing), so that a fault names it and its caller. With a
    // `fallback` (a native function's address) the code ends in a 5-byte
    // `jmp` that is set to reach it, for the cases the code leaves to it.
    // Returns its address.
    uint32_t addRoutine(const std::string& name, std::vector<uint8_t> code, uint32_t fallback = 0);
    // The name of the native function at a stub address, or empty.
    std::string nativeName(uint32_t address) const;

    // A native object emulated code can use as a C++ object of the
    // Microsoft ABI: its first word points at a table of the given
    // function addresses (made with addNative; thiscall ones read `this`
    // from ECX). Returns the object's address; it lives as long as the
    // machine.
    uint32_t makeObject(const std::vector<uint32_t>& vtable, uint32_t extraBytes = 0);

    // Calls the emulated function at `address` and returns EAX. ECX is
    // `self` for thiscall; `ebp` (when not 0) is set for the call, as the
    // C++ runtime does for funclets. Checks that the callee popped what its
    // convention says. Throws machine_fault on a fault; program_exit when
    // the program ends meanwhile.
    uint32_t call(uint32_t address, std::initializer_list<uint32_t> args,
                  convention how = convention::cdecl_call, uint32_t self = 0, uint32_t ebp = 0);

    // Abandons the native code running now and continues emulated code at
    // `eip` with the given stack and frame pointers, in the call whose
    // stack holds `esp` (what a C++ catch block's continuation needs).
    [[noreturn]] void resumeAt(uint32_t eip, uint32_t esp, uint32_t ebp);

    // The thread block, and the process block it points at.
    uint32_t threadBlock() const { return teb_; }
    uint32_t processBlock() const { return peb_; }
    uint32_t stackTop() const { return stackTop_; }

private:
    struct region {
        uint32_t base;
        uint32_t size;
        std::string name;
        // The host memory Unicorn runs the region on, so that native code
        // reads and writes it directly: each uc_mem_read or uc_mem_write
        // costs some 600 host instructions. Its first `unmapped` bytes are
        // not mapped in Unicorn (the stack's guard).
        uint8_t* host;
        uint32_t unmapped;
        // A page that may hold translated code is written through Unicorn,
        // which throws that code away.
        std::vector<bool> executable;
        uint32_t executablePages;
    };
    struct module_span {
        std::string name;
        uint32_t size;
    };
    struct native_entry {
        std::string name;
        uint32_t popBytes;
        native_function function;
        bool leaf;
    };
    struct resume_request {
        uint32_t eip, esp, ebp;
    };

    void setUp();
    void setUpSegments();
    // The host bytes of [address, address + size) when one region's memory
    // holds them all (for a write, on pages that hold no code); null
    // otherwise, for Unicorn to do or to refuse.
    uint8_t* hostBytes(uint32_t address, std::size_t size, bool write) const;
    bool tryRead(uint32_t address, void* out, std::size_t size) const;
    void run(uint32_t entryEsp);
    [[noreturn]] void fail(const std::string& what);
    const std::pair<const uint32_t, std::string>* routineAt(uint32_t address) const;
    std::string faultText(const std::string& what, uint32_t address) const;
    void dispatchNative(uint32_t index, uint32_t entryEsp);
    // Runs a leaf native inside the interrupt hook: no exception may leave.
    void runLeaf(uint32_t index);

    uc_struct* uc_ = nullptr;
    std::map<uint32_t, region> regions_;
    mutable const region* lastRegion_ = nullptr;  // the region hostBytes found last
    std::map<uint32_t, module_span> modules_;
    std::vector<native_entry> natives_;
    std::map<uint32_t, std::string> routines_;  // address -> name
    uint32_t routinesUsed_ = 0;
    uint32_t stubs_ = 0;
    uint32_t objects_ = 0;
    uint32_t objectsUsed_ = 0;
    uint32_t teb_ = 0, peb_ = 0, stackTop_ = 0, stackLimit_ = 0;
    std::string broken_;
    // Set by the hooks while emulation runs.
    struct stop_cause;
    std::unique_ptr<stop_cause> stop_;
    std::size_t hooks_[2] = {};

    friend struct machine_hooks;
    friend class native_call;
};

}  // namespace quon::win32

#endif
