// Preloaded into a program (LD_PRELOAD) to make it leak slowly without
// touching its code: of the small blocks it frees (64 bytes or less, the
// size of a name or a queue entry), every 1,000th is kept instead: in the
// soak, a few hundred kilobytes a second, far above what the verdict allows
// even when a busy machine slows the host's work.
// The soak's memory verdict is tested against a host that runs with it, so
// that the verdict can never become a check that cannot fail.
#include <dlfcn.h>
#include <malloc.h>

#include <atomic>

namespace {

using free_function = void (*)(void*);

// Found before main; a block freed earlier (while the loader runs) is kept.
free_function real_free = nullptr;
std::atomic<unsigned long> small_frees{0};
constexpr unsigned long keep_every = 1000;

__attribute__((constructor)) void findFree() { real_free = reinterpret_cast<free_function>(dlsym(RTLD_NEXT, "free")); }

}  // namespace

extern "C" void free(void* block) {
    if (!block || !real_free) return;
    if (malloc_usable_size(block) <= 64 &&
        small_frees.fetch_add(1, std::memory_order_relaxed) % keep_every == keep_every - 1)
        return;
    real_free(block);
}
