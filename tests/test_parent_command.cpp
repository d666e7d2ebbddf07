#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "quon/script/parent_command.h"

namespace {

struct parse_case {
    const char* text;
    const char* command;
    std::vector<std::string> subs;
    const char* value;
    bool hasValue;
};

TEST(ParentCommand, SplitsCommandSubPartsAndValue) {
    const parse_case cases[] = {
        {nullptr, "", {}, "", false},
        {"", "", {}, "", false},
        {"instance", "instance", {}, "", false},
        {"myMatrix=12", "myMatrix", {}, "12", true},
        {"name=", "name", {}, "", true},
        {"=5", "", {}, "5", true},
        {"level.left.fine=1.5=x", "level", {"left", "fine"}, "1.5=x", true},
        {"a..b", "a", {"", "b"}, "", false},
        {"a.", "a", {""}, "", false},
        {".", "", {""}, "", false},
    };
    for (const parse_case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        const parentCommand parsed(c.text);
        EXPECT_STREQ(parsed.command, c.command);
        ASSERT_EQ(parsed.subCount, static_cast<int>(c.subs.size()));
        for (size_t i = 0; i < c.subs.size(); ++i) EXPECT_EQ(parsed.sub[i], c.subs[i]);
        for (int i = parsed.subCount; i < QUON_COMMAND_MAX_SUBS; ++i) EXPECT_STREQ(parsed.sub[i], "");
        EXPECT_STREQ(parsed.value, c.value);
        EXPECT_EQ(parsed.hasValue, c.hasValue);
        EXPECT_EQ(parsed.buffer == nullptr, c.text == nullptr || *c.text == '\0');
    }
}

TEST(ParentCommand, StopsAfterTheThirtySecondSubPart) {
    std::string text = "cmd";
    for (int i = 1; i <= 33; ++i) text += ".s" + std::to_string(i);
    text += "=v";
    const parentCommand parsed(text.c_str());
    EXPECT_STREQ(parsed.command, "cmd");
    ASSERT_EQ(parsed.subCount, 32);
    for (int i = 0; i < 31; ++i) EXPECT_EQ(parsed.sub[i], "s" + std::to_string(i + 1));
    EXPECT_STREQ(parsed.sub[31], "s32.s33=v");
    EXPECT_STREQ(parsed.value, "");
    EXPECT_FALSE(parsed.hasValue);
}

TEST(ParentCommand, UnsetFieldsShareOneEmptyText) {
    const parentCommand parsed("a");
    EXPECT_EQ(parsed.value, parsed.sub[0]);
    EXPECT_EQ(parsed.sub[0], parsed.sub[31]);
}

TEST(ParentCommand, ReadsOnlyItsOwnCopy) {
    char* text = new char[16];
    std::strcpy(text, "myMatrix=12");
    const parentCommand parsed(text);
    EXPECT_STREQ(text, "myMatrix=12");
    std::memset(text, 'z', 11);
    delete[] text;
    EXPECT_STREQ(parsed.command, "myMatrix");
    EXPECT_STREQ(parsed.value, "12");
}

TEST(ParentCommand, MakesExactlyOneAllocation) {
    const std::string longText = "level.left=" + std::string(4096, 'x');
    EXPECT_EQ(allocationsDuring([&] { parentCommand parsed(longText.c_str()); }), 1);
    EXPECT_EQ(allocationsDuring([] { parentCommand parsed("a.b.c=d"); }), 1);
    EXPECT_EQ(allocationsDuring([] { parentCommand parsed(""); }), 0);
    EXPECT_EQ(allocationsDuring([] { parentCommand parsed(nullptr); }), 0);
}

}  // namespace
