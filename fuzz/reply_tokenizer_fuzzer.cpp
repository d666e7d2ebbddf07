// The reply tokenizer on any text; the first byte is the quote character.
#include <cstdint>
#include <cstring>
#include <string>

#include "quon/script/decode_quon_string.h"
#include "quon/script/empty_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char quote = static_cast<char>(data[0]) ? static_cast<char>(data[0]) : '\'';
    const std::string original(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string text = original;
    const size_t length = std::strlen(text.c_str());
    {
        const decodeQUONString decoded(text.c_str(), quote);
        FUZZ_CHECK(decoded.count >= 0 && decoded.count <= decodeQUONString::max_tokens);
        FUZZ_CHECK((decoded.buffer == nullptr) == (length == 0));
        FUZZ_CHECK(length == 0 || decoded.count >= 1);
        for (int i = 0; i < decodeQUONString::max_tokens; ++i) {
            const char* token = decoded.tokens[i];
            FUZZ_CHECK(token != nullptr);
            if (i >= decoded.count) {
                FUZZ_CHECK(token == quon_empty_text);
                continue;
            }
            FUZZ_CHECK(token >= decoded.buffer && token <= decoded.buffer + length);
            FUZZ_CHECK(token + std::strlen(token) <= decoded.buffer + length);
            FUZZ_CHECK(std::strchr(token, quote) == nullptr);
        }
    }
    FUZZ_CHECK(text == original);
    return 0;
}
