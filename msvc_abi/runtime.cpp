// What a module built in the Microsoft ABI needs beyond the C runtime DLL:
// the C++ allocation operators and the terminate hook the compiler calls.
// Each DLL and program links its own copy, so each frees only what it
// allocated itself, as on the production host.
#include <stdlib.h>

namespace {

// Thrown when the heap is exhausted, so that a failed allocation unwinds
// to the module's catch-all handlers as it does elsewhere. msvcrt.dll's own
// operator new returns null instead, which a new-expression would then use.
struct allocation_failure {};

void* allocate(size_t size) {
    void* block = malloc(size ? size : 1);
    if (!block) throw allocation_failure();
    return block;
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }

// The type descriptors of thrown objects point at type_info's vtable, which
// the C runtime DLL exports only as data (an import, not a definition). The
// runtime matches a catch by the descriptor's decorated name and the build
// never asks typeid of them, so nothing reads through this stand-in.
extern "C" const void* const quon_type_info_vtable[2] __asm__("??_7type_info@@6B@") = {nullptr, nullptr};

// Called when an exception would leave a noexcept function; msvcrt.dll
// predates the name.
extern "C" void __std_terminate() { abort(); }
