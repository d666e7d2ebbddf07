// msvcrt's printf formatting and _snprintf's truncation, over arguments in
// emulated memory as a program passes them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format.h"

using quon::win32::machine;

namespace {

struct format_case {
    const char* name;
    const char* format;
    std::vector<uint32_t> arguments;  // 32-bit stack slots; texts are given as offsets below
    std::vector<const char*> texts;   // written at text_area + 0x40 * i; slot value 0xF000000i points at text i
    const char* expected;
};

void PrintTo(const format_case& c, std::ostream* out) { *out << c.name; }

class Win32Format : public testing::TestWithParam<format_case> {};

TEST_P(Win32Format, FormatsAsMsvcrtDoes) {
    machine cpu;
    const uint32_t area = cpu.reserve(0x10000, "test data");
    const uint32_t texts = area + 0x1000;
    cpu.writeString(area, GetParam().format);
    for (size_t i = 0; i < GetParam().texts.size(); ++i) cpu.writeString(texts + 0x40 * static_cast<uint32_t>(i), GetParam().texts[i]);
    const uint32_t arguments = area + 0x2000;
    for (size_t i = 0; i < GetParam().arguments.size(); ++i) {
        uint32_t value = GetParam().arguments[i];
        if ((value & 0xFFFFFFF0u) == 0xF0000000u) value = texts + 0x40 * (value & 0xF);
        cpu.write32(arguments + 4 * static_cast<uint32_t>(i), value);
    }
    EXPECT_EQ(quon::win32::formatText(cpu, area, arguments), GetParam().expected);
}

uint32_t low(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<uint32_t>(bits);
}
uint32_t high(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<uint32_t>(bits >> 32);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, Win32Format,
    testing::Values(
        format_case{"SignedDecimal", "%d|%i|%ld", {static_cast<uint32_t>(-5), 7, 9}, {}, "-5|7|9"},
        format_case{"Unsigned", "%u", {0xFFFFFFFF}, {}, "4294967295"},
        format_case{"ZeroPaddedAndLeftAligned", "%05d|%-4d|%+d", {42, 7, 3}, {}, "00042|7   |+3"},
        format_case{"HexAndOctal", "%x %X %o %#x", {255, 255, 8, 255}, {}, "ff FF 10 0xff"},
        format_case{"Characters", "%c%c", {'o', 'k'}, {}, "ok"},
        format_case{"TextsWithPrecisionAndWidth", "%.2s|%5s|%-3s|", {0xF0000000, 0xF0000001, 0xF0000001}, {"abc", "ab"},
                    "ab|   ab|ab |"},
        format_case{"NullText", "%s", {0}, {}, "(null)"},
        format_case{"WidthFromAnArgument", "%*d", {4, 3}, {}, "   3"},
        format_case{"SixtyFourBit", "%I64d|%lld", {0xFFFFFFFE, 0xFFFFFFFF, 5, 0}, {}, "-2|5"},
        format_case{"Percent", "100%%", {}, {}, "100%"},
        format_case{"Double", "%.3f", {low(1.5), high(1.5)}, {}, "1.500"}),
    [](const testing::TestParamInfo<format_case>& info) { return std::string(info.param.name); });

TEST(Win32Format, NIsRefused) {
    machine cpu;
    const uint32_t area = cpu.reserve(0x1000, "test data");
    cpu.writeString(area, "%n");
    EXPECT_THROW(quon::win32::formatText(cpu, area, area + 0x100), quon::win32::machine_fault);
}

// _snprintf's rule: a terminator only when there is room; -1 when cut.
TEST(Win32Format, StoreTruncatedTerminatesOnlyWhenThereIsRoom) {
    machine cpu;
    const uint32_t buffer = cpu.reserve(0x1000, "test data");
    const struct {
        const char* text;
        int32_t result;
        const char* stored;  // 8 bytes
    } cases[] = {{"abc", 3, "abc\0xxxx"}, {"abcde", 5, "abcdexxx"}, {"abcdefg", -1, "abcdexxx"}};
    for (const auto& c : cases) {
        cpu.write(buffer, "xxxxxxxx", 8);
        EXPECT_EQ(quon::win32::storeTruncated(cpu, buffer, 5, c.text), c.result) << c.text;
        char stored[8];
        cpu.read(buffer, stored, 8);
        EXPECT_EQ(std::string(stored, 8), std::string(c.stored, 8)) << c.text;
    }
}

}  // namespace
