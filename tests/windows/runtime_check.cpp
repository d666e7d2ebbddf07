// The Microsoft ABI build's runtime support (msvc_abi/runtime.cpp) with
// msvcrt.dll's exception handling, as the module uses them: an allocation
// the heap cannot satisfy throws, the throw unwinds through a frame with a
// destructor to run, and a catch-all handler takes it.
#include "check.h"

namespace {

int unwound = 0;

struct counts_unwinding {
    counts_unwinding() = default;
    counts_unwinding(const counts_unwinding&) = delete;
    counts_unwinding& operator=(const counts_unwinding&) = delete;
    ~counts_unwinding() { ++unwound; }
};

// More than a 32-bit process's heap can ever hold.
const unsigned too_much = 0xFFFFFF00u;

// Not inlined, so that the throw leaves a frame of its own.
__declspec(noinline) char* allocateWithGuard(unsigned size) {
    counts_unwinding guard;
    return new char[size];
}

}  // namespace

int main() {
    check_results check;
    char* small = new char[16];
    check.expect(small != nullptr, "a small allocation succeeds");
    delete[] small;

    bool caught = false;
    char* huge = nullptr;
    try {
        huge = allocateWithGuard(too_much);
    } catch (...) {
        caught = true;
    }
    check.expect(caught, "an allocation the heap cannot satisfy throws, and catch (...) takes it");
    check.expect(huge == nullptr, "no block is returned");
    check.expect(unwound == 1, "the frame between the throw and the handler is unwound");
    delete[] huge;
    return check.finish();
}
