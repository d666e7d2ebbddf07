// What a module built in the Microsoft ABI needs beyond the C runtime DLL:
// the C++ allocation operators and the terminate hook the compiler calls.
// Each DLL and program links its own copy, so each frees only what it
// allocated itself, as on the production host.
#include <stdint.h>
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

// The load configuration, which carries the table of the image's registered
// exception handlers (SafeSEH). Without it lld-link marks the image as having
// no exception handlers at all, and Windows then refuses to run the C++
// handlers of the module. The linker supplies the table and its length.
extern "C" {
extern const void* const __safe_se_handler_table[];
extern const char __safe_se_handler_count;  // its address is the count

// IMAGE_LOAD_CONFIG_DIRECTORY32 up to SEHandlerCount, the part a 32-bit
// image needs; the two table fields hold addresses, hence pointers here.
struct quon_load_config {
    uint32_t size;
    uint32_t timeDateStamp;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint32_t globalFlagsClear;
    uint32_t globalFlagsSet;
    uint32_t criticalSectionDefaultTimeout;
    uint32_t deCommitFreeBlockThreshold;
    uint32_t deCommitTotalFreeThreshold;
    uint32_t lockPrefixTable;
    uint32_t maximumAllocationSize;
    uint32_t virtualMemoryThreshold;
    uint32_t processHeapFlags;
    uint32_t processAffinityMask;
    uint16_t csdVersion;
    uint16_t dependentLoadFlags;
    uint32_t editList;
    uint32_t securityCookie;
    const void* const* seHandlerTable;
    const char* seHandlerCount;
};
static_assert(sizeof(quon_load_config) == 72, "the load configuration of a 32-bit image is 72 bytes up to its handlers");

extern const quon_load_config _load_config_used;
const quon_load_config _load_config_used = {
    sizeof(quon_load_config), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    __safe_se_handler_table, &__safe_se_handler_count};
}
