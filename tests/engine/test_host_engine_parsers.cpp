// What the engine reads from components and from disk: the commands of
// the interface and panel layouts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "quon/engine/command_parser.h"
#include "quon/engine/panel_layout.h"
#include "seeded_edits.h"

using namespace quon;

namespace {

struct command_case {
    const char* text;
    bool valid;
    std::vector<std::string> texts;
    std::vector<int> numbers;
};

TEST(HostCommandParser, ReadsEveryCommandOfTheInterface) {
    const command_case cases[] = {
        {"PS '1' 'p/umdMimic.quon_ui'", true, {"1", "p/umdMimic.quon_ui"}, {}},
        {"PS '1' 'l' 'x'", true, {"1", "l", "x"}, {}},
        {"TP 'text=it's' '1' 'myMimic'", true, {"text=it's", "1", "myMimic"}, {}},
        {"TP 'text=a' 'b' '1' 'myMimic'", true, {"text=a' 'b", "1", "myMimic"}, {}},
        {"TG '1' 'alm_3' 'value'", true, {"1", "alm_3", "value"}, {}},
        {"HN 'sourceid=12'", true, {"sourceid=12"}, {}},
        {"HN ''", true, {""}, {}},
        {"SD 'router 'a''", true, {"router 'a'"}, {}},
        {"XI '1' 'alm_'", true, {"1", "alm_"}, {}},
        {"RN 12 0 5", true, {}, {12, 0, 5}},
        {"RN 007 -0 0000000000005", true, {}, {7, 0, 5}},
        {"RN 1 2 -", false, {}, {}},
        {"RN 1 2 +3", false, {}, {}},
        {"RR -2147483648 -2147483648 -2147483648 'ADD'", true, {}, {INT32_MIN, INT32_MIN, INT32_MIN}},
        {"RU 12", true, {}, {12}},
        {"RP -1 0 7", true, {}, {-1, 0, 7}},
        {"ET 1 10000", true, {}, {1, 10000}},
        {"ET 5", true, {}, {5}},
        {"AS", true, {}, {}},
        {"", false, {}, {}},
        {"A", false, {}, {}},
        {"AS x", false, {}, {}},
        {"ZZ 1", false, {}, {}},
        {"rn 1 0 1", false, {}, {}},
        {"R\xc3 1 0 1", false, {}, {}},
        {"TP 'text' '1' 'myMimic'", false, {}, {}},
        {"TP 'a=b' '1'", false, {}, {}},
        {"HN sourceid", false, {}, {}},
        {"RR 1 2", false, {}, {}},
        {"RR 1  2 3", false, {}, {}},
        {"RR 1 2 3 'add'", false, {}, {}},
        {"RU 2147483648", false, {}, {}},
        {"RP 1 2 x", false, {}, {}},
        {"ET", false, {}, {}},
        {"ET 1 2 3", false, {}, {}},
        {"RN 1 2 3 ", false, {}, {}},
    };
    for (const command_case& c : cases) {
        SCOPED_TRACE(c.text);
        host_command parsed;
        std::string error;
        ASSERT_EQ(parseHostCommand(c.text, parsed, error), c.valid) << error;
        if (!c.valid) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(std::vector<std::string>(parsed.texts, parsed.texts + parsed.textCount), c.texts);
        EXPECT_EQ(std::vector<int>(parsed.numbers, parsed.numbers + parsed.numberCount), c.numbers);
    }
    host_command add;
    std::string error;
    ASSERT_TRUE(parseHostCommand("RR 1 2 3 'ADD'", add, error));
    EXPECT_TRUE(add.add);
}

std::string described(bool read, const host_command& c, const std::string& error) {
    if (!read) return "error: " + error;
    std::string text = c.info->text;
    for (int i = 0; i < c.textCount; ++i) text += " [" + std::string(c.texts[i]) + "]";
    for (int i = 0; i < c.numberCount; ++i) text += " " + std::to_string(c.numbers[i]);
    return text + (c.add ? " add" : "");
}

// The engine's own readings of "RN" and "HN", as host_command.
host_command quickRouterNameRead(const int (&numbers)[host_command::max_fields]) {
    host_command c;
    c.info = &hostCommand(host_word::RN);
    for (int i = 0; i < host_command::max_fields; ++i) c.numbers[i] = numbers[i];
    c.numberCount = 3;
    return c;
}

host_command quickNotificationRead(std::string_view notification) {
    host_command c;
    c.info = &hostCommand(host_word::HN);
    c.texts[0] = notification;
    c.textCount = 1;
    return c;
}

// The three commands of a revertive are read by a quick path first (the
// quick reading behind parseHostCommand, and the engine's own of "RN" and
// "HN", which it asks before that): where one reads a text, the full
// reading reads it alike, and where it gives up the full reading decides
// (so what is accepted, and every error, is the full reading's). The texts
// are the usual ones, their edges, and mutations of the usual ones from a
// fixed seed.
TEST(HostCommandParser, QuickAndFullReadingsReadAlike) {
    const std::vector<std::string> usual = {"RN 1 0 13", "TP 'text=SRC 13' '1' 'myMimic'", "HN 'sourceid=13'"};
    std::vector<std::string> texts = {
        "RN 999999999 0 1", "RN 1234567890 0 1", "RN 0000000001 0 1", "RN 2147483648 0 1", "RN -1 0 1",
        "RN 1 0", "RN 1 0 ", "RN 1 0 1 ", "RN 1  0 1", "RN 1 0 1x", "RN 1 0 1 2", "RN  1 0 1", "RN", "RN 1",
        "TP 'text=a' 'b' '1' 'myMimic'", "TP 'text' '1' 'c'", "TP ''", "TP '' '' ''", "TP '=' '' ''",
        "TP 'a=b' '1'", "TP 'a=b' '1' 'c' ", "TP 'a=b' '1' 'c", "TP 'a=b''1' 'c'", "TP ' ' '", "TP '''",
        "HN ''", "HN '", "HN 'x", "HN x'", "HNx'x'", "HN '''", "HP 'x'", "TN 'x'", "RP 1 2 3", "XN 'a'"
    };
    texts.insert(texts.end(), usual.begin(), usual.end());
    const std::vector<std::string> edited = quon::test::seededEdits(usual, " '=-09AN", 3000, 36);
    texts.insert(texts.end(), edited.begin(), edited.end());
    int quickly = 0, routerNames = 0, notifications = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        host_command quick, full, parsed;
        std::string fullError, parseError;
        const bool fullRead = command_reading::full(text, full, fullError);
        const bool parseRead = parseHostCommand(text, parsed, parseError);
        EXPECT_EQ(described(parseRead, parsed, parseError), described(fullRead, full, fullError));
        if (int numbers[host_command::max_fields]; command_reading::quickRouterName(text, numbers)) {
            ++routerNames;
            EXPECT_EQ(described(true, quickRouterNameRead(numbers), ""), described(fullRead, full, fullError));
        }
        if (std::string_view notification; command_reading::quickNotification(text, notification)) {
            ++notifications;
            EXPECT_EQ(described(true, quickNotificationRead(notification), ""), described(fullRead, full, fullError));
        }
        if (!command_reading::quick(text, quick)) continue;
        ++quickly;
        EXPECT_EQ(described(true, quick, ""), described(fullRead, full, fullError));
    }
    for (const std::string& text : usual) {
        host_command quick;
        EXPECT_TRUE(command_reading::quick(text, quick)) << text;
    }
    int numbers[host_command::max_fields];
    EXPECT_TRUE(command_reading::quickRouterName(usual[0], numbers));
    std::string_view notification;
    EXPECT_TRUE(command_reading::quickNotification(usual[2], notification));
    EXPECT_GT(quickly, 300);  // the mutations that keep the usual shape
    EXPECT_GT(routerNames, 100);
    EXPECT_GT(notifications, 100);
}

TEST(PanelLayout, ParsesControlsAndRefusesMalformedFiles) {
    panel_layout layout;
    std::string error;
    ASSERT_TRUE(parseLayout("# c\ncontrol a\n text = x = y\n  empty =\ncontrol b\n", layout, error));
    ASSERT_EQ(layout.controls.size(), 2u);
    EXPECT_EQ(*layout.control("a")->property("text"), "x = y");
    EXPECT_EQ(*layout.control("a")->property("empty"), "");
    struct bad {
        const char* text;
        const char* message;
    };
    for (const bad b :
         {bad{"", "the layout declares no control"}, bad{"text = 1\n", "line 1: property before the first control"},
          bad{"control a\ncontrol a\n", "line 2: control \"a\" is declared twice"},
          bad{"control a\nnonsense\n", "line 2: expected \"control ID\" or \"property = value\""},
          bad{"control a b\n", "line 1: control id \"a b\" holds a blank or a quote"},
          bad{"control a\nall = 1\n", "line 2: \"all\" cannot name a property"}}) {
        EXPECT_FALSE(parseLayout(b.text, layout, error)) << b.text;
        EXPECT_EQ(error, b.message);
    }
}

}  // namespace
