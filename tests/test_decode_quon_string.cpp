#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "quon/script/decode_quon_string.h"

namespace {

std::vector<std::string> tokensOf(const decodeQUONString& d) {
    return std::vector<std::string>(d.tokens, d.tokens + d.count);
}

struct decode_case {
    const char* text;
    std::vector<std::string> tokens;
};

TEST(DecodeQuonString, SplitsAtBlanksAndQuotes) {
    const decode_case cases[] = {
        {nullptr, {}},
        {"", {}},
        {"12 34", {"12", "34"}},
        {"12  34 ", {"12", "34"}},
        {" 12", {"", "12"}},
        {"   ", {""}},
        {"1 'a b' 2", {"1", "a b", "2"}},
        {"'a b'", {"", "a b"}},
        {"x '' y", {"x", "", "y"}},
        {"ab'cd", {"ab", "cd"}},
        {"ab'cd'ef", {"ab", "cd", "ef"}},
        {"a 'b c", {"a", "b c"}},
        {"'a'b", {"", "a", "b"}},
        {"a\tb c", {"a\tb", "c"}},
        {"''", {"", ""}},
    };
    for (const decode_case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        const decodeQUONString decoded(c.text, '\'');
        EXPECT_EQ(tokensOf(decoded), c.tokens);
        for (int i = decoded.count; i < decodeQUONString::max_tokens; ++i) EXPECT_STREQ(decoded.tokens[i], "");
        EXPECT_EQ(decoded.buffer == nullptr, c.text == nullptr || *c.text == '\0');
    }
}

std::string words(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += (i > 1 ? " w" : "w") + std::to_string(i);
    return text;
}

TEST(DecodeQuonString, KeepsAtMostThirtyTwoTokens) {
    const decodeQUONString full(words(32).c_str(), '\'');
    EXPECT_EQ(full.count, 32);
    EXPECT_STREQ(full.tokens[31], "w32");

    const decodeQUONString over(words(33).c_str(), '\'');
    EXPECT_EQ(over.count, 32);
    EXPECT_STREQ(over.tokens[31], "w32");

    std::string pairs;
    for (int i = 0; i < 40; ++i) pairs += "''";
    const decodeQUONString empties(pairs.c_str(), '\'');
    EXPECT_EQ(empties.count, 32);
}

TEST(DecodeQuonString, LeavesTheCallersTextAlone) {
    char* text = new char[16];
    std::strcpy(text, "12 'a b' 40");
    const decodeQUONString decoded(text, '\'');
    EXPECT_STREQ(text, "12 'a b' 40");
    delete[] text;
    EXPECT_EQ(tokensOf(decoded), (std::vector<std::string>{"12", "a b", "40"}));
}

TEST(DecodeQuonString, MakesExactlyOneAllocation) {
    const std::string longText = words(200);
    EXPECT_EQ(allocationsDuring([&] { decodeQUONString d(longText.c_str(), '\''); }), 1);
    EXPECT_EQ(allocationsDuring([] { decodeQUONString d("12 40", '\''); }), 1);
    EXPECT_EQ(allocationsDuring([] { decodeQUONString d("", '\''); }), 0);
    EXPECT_EQ(allocationsDuring([] { decodeQUONString d(nullptr, '\''); }), 0);
}

}  // namespace
