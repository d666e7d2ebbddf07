// The Microsoft ABI build's runtime support (msvc_abi/runtime.cpp) with
// msvcrt.dll's exception handling, as the module uses them: an allocation
// the heap cannot satisfy throws, the throw unwinds through a frame with a
// destructor to run, and a catch-all handler takes it; and the typed
// catches of the scheme: by reference past a catch of another type, by
// value through the copy constructor, and "throw;".
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

// A thrown type with a value, copies counted.
struct code_error {
    int code;
    explicit code_error(int value) : code(value) {}
    code_error(const code_error& other) : code(other.code) { ++copies; }
    code_error& operator=(const code_error&) = delete;
    static int copies;
};
int code_error::copies = 0;
struct other_error {};

__declspec(noinline) void throwCode(int code) {
    counts_unwinding guard;
    throw code_error(code);
}

// A catch of another type lets the exception pass to the caller's.
__declspec(noinline) int passesOtherErrors(int code) {
    try {
        throwCode(code);
    } catch (const other_error&) {
        return -1;
    }
    return 0;
}

// Caught, then thrown again with "throw;".
__declspec(noinline) void rethrows(int code) {
    try {
        throwCode(code);
    } catch (const code_error&) {
        throw;
    }
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

    unwound = 0;
    int byReference = 0;
    try {
        passesOtherErrors(7);
    } catch (const other_error&) {
        byReference = -1;
    } catch (const code_error& error) {
        byReference = error.code;
    }
    check.expect(byReference == 7, "a catch by reference of the thrown type takes it, past a catch of another type");
    check.expect(unwound == 1, "the throwing frame is unwound once");

    const int copiesBefore = code_error::copies;
    int byValue = 0;
    try {
        throwCode(8);
    } catch (code_error error) {
        byValue = error.code;
    }
    check.expect(byValue == 8 && code_error::copies == copiesBefore + 1,
                 "a catch by value takes a copy made with the copy constructor");

    int again = 0;
    try {
        rethrows(9);
    } catch (const code_error& error) {
        again = error.code;
    }
    check.expect(again == 9, "throw; in a catch block throws the same object to the next handler");
    return check.finish();
}
