// The parent command parser on any text.
#include <cstdint>
#include <cstring>
#include <string>

#include "quon/script/empty_text.h"
#include "fuzz_check.h"
#include "quon/script/parent_command.h"

namespace {

bool insideOrEmpty(const char* field, const parentCommand& parsed, size_t length) {
    if (field == quon_empty_text) return true;
    return parsed.buffer && field >= parsed.buffer && field <= parsed.buffer + length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string original(reinterpret_cast<const char*>(data), size);
    std::string text = original;  // NUL-terminated; stops at an inner NUL as the host's would
    const size_t length = std::strlen(text.c_str());
    {
        const parentCommand parsed(text.c_str());
        FUZZ_CHECK(parsed.subCount >= 0 && parsed.subCount <= QUON_COMMAND_MAX_SUBS);
        FUZZ_CHECK((parsed.buffer == nullptr) == (length == 0));
        FUZZ_CHECK(parsed.command && parsed.value);
        FUZZ_CHECK(insideOrEmpty(parsed.command, parsed, length));
        FUZZ_CHECK(insideOrEmpty(parsed.value, parsed, length));
        for (int i = 0; i < QUON_COMMAND_MAX_SUBS; ++i) {
            FUZZ_CHECK(parsed.sub[i] != nullptr);
            FUZZ_CHECK(i < parsed.subCount ? insideOrEmpty(parsed.sub[i], parsed, length)
                                           : parsed.sub[i] == quon_empty_text);
        }
        FUZZ_CHECK(!parsed.hasValue || parsed.subCount < QUON_COMMAND_MAX_SUBS);
        FUZZ_CHECK(parsed.hasValue || parsed.value == quon_empty_text);
        // The fields hold all of the text but the separators they replace.
        size_t kept = std::strlen(parsed.command) + std::strlen(parsed.value);
        for (int i = 0; i < parsed.subCount; ++i) kept += std::strlen(parsed.sub[i]);
        FUZZ_CHECK(length == 0 || kept + static_cast<size_t>(parsed.subCount) + (parsed.hasValue ? 1 : 0) == length);
    }
    FUZZ_CHECK(text == original);
    return 0;
}
