// The UMD settings of the wall file: what is read, and every error placed at
// its file, line and column.
#include <gtest/gtest.h>

#include <toml++/toml.h>
#include <string>
#include <vector>

#include "quon/umd/umd_config.h"

namespace {

bool read(const std::string& text, umd_config& config, std::vector<std::string>& errors) {
    const toml::table wall = toml::parse(std::string_view{text}, std::string_view{"wall.toml"});
    return readUmdConfig(wall, "walls/wall.toml", config, errors);
}

TEST(UmdConfig, ReadsDefaultsTalliesAndDisplays) {
    const std::string text = R"([umd]
to = "tsl5+udp://127.0.0.1:8900"
screen = 2
refresh = "500ms"
batch = true
blank_on_exit = true
tally31 = ["right", "", "left", "text"]

[[display]]
name = "mon1"
instance = "studio_a_mon_1"
umd = { index = 1 }

[[display]]
name = "mon2"
instance = "studio_a_mon_2"

[[display]]
name = "mon3"
umd = { index = 1, to = "tsl5+tcp://[::1]:9000", screen = 7 }

[[display]]
name = "mon4"
umd = { index = 126, to = "tsl31+udp://umd-bridge.local:4000" }

[tally.umd_alarm]
left = "red"
text = "green"
right = "amber"
brightness = 1
)";
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read(text, config, errors)) << testing::PrintToString(errors);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(config.refresh, std::chrono::milliseconds(500));
    EXPECT_TRUE(config.batch);
    EXPECT_TRUE(config.blank_on_exit);
    EXPECT_EQ(config.tally31,
              (tsl31_tally_map{tally_lamp::right, tally_lamp::none, tally_lamp::left, tally_lamp::text}));

    ASSERT_EQ(config.displays.size(), 3u) << "mon2 has no umd and is not sent";
    EXPECT_EQ(config.displays[0].name, "mon1");
    EXPECT_EQ(umdDestinationText(config.displays[0].to), "tsl5+udp://127.0.0.1:8900");
    EXPECT_EQ(config.displays[0].screen, 2);
    EXPECT_EQ(config.displays[0].index, 1);
    EXPECT_EQ(config.displays[1].name, "mon3");
    EXPECT_EQ(config.displays[1].to.transport, umd_transport::tcp);
    EXPECT_EQ(config.displays[1].to.host, "::1");
    EXPECT_EQ(config.displays[1].to.port, 9000);
    EXPECT_EQ(config.displays[1].screen, 7);
    EXPECT_EQ(config.displays[2].to.protocol, umd_protocol::tsl31);
    EXPECT_EQ(config.displays[2].to.host, "umd-bridge.local");
    EXPECT_EQ(config.displays[2].screen, 0) << "TSL 3.1 has no screens";
    EXPECT_EQ(config.displays[2].index, 126);

    EXPECT_EQ(config.lampsFor("umd_alarm"), (tally_lamps{lamp_colour::red, lamp_colour::green, lamp_colour::amber, 1}));
}

TEST(UmdConfig, AStateSheetWithoutTallyShowsEveryLampOffAtFullBrightness) {
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read("[tally.alarm]\nleft = \"red\"\n", config, errors));
    EXPECT_EQ(config.lampsFor("normal"), (tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3}));
    EXPECT_EQ(config.lampsFor(""), (tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3}));
    EXPECT_EQ(config.lampsFor("alarm"), (tally_lamps{lamp_colour::red, lamp_colour::off, lamp_colour::off, 3}));
}

TEST(UmdConfig, DefaultsRefreshEveryFiveSecondsOneMessagePerPacketNoBlanking) {
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read("", config, errors));
    EXPECT_EQ(config.refresh, std::chrono::seconds(5));
    EXPECT_FALSE(config.batch);
    EXPECT_FALSE(config.blank_on_exit);
    EXPECT_EQ(config.tally31,
              (tsl31_tally_map{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none}));
    EXPECT_TRUE(config.displays.empty());
}

TEST(UmdConfig, AnIndexMayRepeatOnAnotherScreenOrReceiver) {
    const std::string text = R"([umd]
to = "tsl5+udp://127.0.0.1:9000"
[[display]]
name = "a"
umd = { index = 4 }
[[display]]
name = "b"
umd = { index = 4, screen = 1 }
[[display]]
name = "c"
umd = { index = 4, to = "tsl5+udp://127.0.0.1:9001" }
[[display]]
name = "d"
umd = { index = 4, to = "tsl5+tcp://127.0.0.1:9000" }
)";
    umd_config config;
    std::vector<std::string> errors;
    EXPECT_TRUE(read(text, config, errors)) << testing::PrintToString(errors);
    EXPECT_EQ(config.displays.size(), 4u);
}

struct duration_case {
    const char* text;
    bool parses;
    long long milliseconds;
};

class UmdDuration : public testing::TestWithParam<duration_case> {};

TEST_P(UmdDuration, ParsesMillisecondsSecondsAndMinutes) {
    std::chrono::milliseconds value{-1};
    EXPECT_EQ(parseUmdDuration(GetParam().text, value), GetParam().parses);
    if (GetParam().parses) {
        EXPECT_EQ(value.count(), GetParam().milliseconds);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, UmdDuration,
                         testing::Values(duration_case{"500ms", true, 500}, duration_case{"5s", true, 5000},
                                         duration_case{"2m", true, 120000}, duration_case{"0s", true, 0},
                                         duration_case{"5", false, 0}, duration_case{"5 s", false, 0},
                                         duration_case{"s", false, 0}, duration_case{"-5s", false, 0},
                                         duration_case{"5h", false, 0}, duration_case{"1.5s", false, 0},
                                         duration_case{"9999999999s", false, 0}, duration_case{"", false, 0}));

struct error_case {
    const char* name;
    std::string toml;
    std::string error;  // the first error, in full
};

class UmdConfigError : public testing::TestWithParam<error_case> {};

TEST_P(UmdConfigError, IsReportedAtFileLineAndColumnAndLeavesTheResultAlone) {
    umd_config config;
    config.batch = true;
    std::vector<std::string> errors;
    EXPECT_FALSE(read(GetParam().toml, config, errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front(), GetParam().error);
    EXPECT_TRUE(config.batch) << "the result is not written";
}

const std::string kTo = "[umd]\nto = \"tsl5+udp://127.0.0.1:9000\"\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, UmdConfigError,
    testing::Values(
        error_case{"unknown_key_in_umd", "[umd]\nspeed = 1\n", "walls/wall.toml:2:1: unknown key `speed` in [umd]"},
        error_case{"unknown_scheme", "[umd]\nto = \"tsl6+udp://127.0.0.1:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl6+udp://127.0.0.1:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"tsl31_over_tcp", "[umd]\nto = \"tsl31+tcp://127.0.0.1:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl31+tcp://127.0.0.1:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"url_without_port", "[umd]\nto = \"tsl5+udp://127.0.0.1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://127.0.0.1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"url_port_out_of_range", "[umd]\nto = \"tsl5+udp://127.0.0.1:70000\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://127.0.0.1:70000\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"url_with_path", "[umd]\nto = \"tsl5+udp://host/x:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://host/x:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"to_not_a_string", "[umd]\nto = 5\n", "walls/wall.toml:2:6: `to` must be a string"},
        error_case{"refresh_without_unit", "[umd]\nrefresh = \"5\"\n",
                   "walls/wall.toml:2:11: `refresh` = \"5\" is not a duration (\"500ms\", \"5s\", \"2m\")"},
        error_case{"screen_out_of_range", "[umd]\nscreen = 65535\n",
                   "walls/wall.toml:2:10: `screen` is 65535, not 0 to 65534"},
        error_case{"batch_not_boolean", "[umd]\nbatch = \"yes\"\n",
                   "walls/wall.toml:2:9: `batch` must be true or false"},
        error_case{"tally31_unknown_lamp", "[umd]\ntally31 = [\"left\", \"top\", \"right\", \"\"]\n",
                   "walls/wall.toml:2:20: `tally31` lamp \"top\" is not \"left\", \"text\", \"right\" or \"\""},
        error_case{"tally31_three_lamps", "[umd]\ntally31 = [\"left\", \"text\", \"right\"]\n",
                   "walls/wall.toml:2:11: `tally31` must list 4 lamps, e.g. [\"left\", \"text\", \"right\", \"\"]"},
        error_case{"unknown_colour", "[tally.umd_alarm]\nleft = \"purple\"\n",
                   "walls/wall.toml:2:8: `left` = \"purple\" is not a colour (off, red, green or amber)"},
        error_case{"brightness_out_of_range", "[tally.umd_alarm]\nbrightness = 4\n",
                   "walls/wall.toml:2:14: `brightness` is 4, not 0 to 3"},
        error_case{"unknown_key_in_tally", "[tally.umd_alarm]\nblink = true\n",
                   "walls/wall.toml:2:1: unknown key `blink` in [tally.umd_alarm]"},
        error_case{"unknown_key_in_display_umd",
                   kTo + "[[display]]\nname = \"mon1\"\numd = { index = 1, colour = 2 }\n",
                   "walls/wall.toml:5:20: unknown key `colour` in `umd` of display \"mon1\""},
        error_case{"tsl31_address_out_of_range",
                   "[[display]]\nname = \"m\"\numd = { to = \"tsl31+udp://127.0.0.1:9000\", index = 127 }\n",
                   "walls/wall.toml:3:52: `index` is 127, not 0 to 126"},
        error_case{"tsl5_index_broadcast", kTo + "[[display]]\nname = \"m\"\numd = { index = 65535 }\n",
                   "walls/wall.toml:5:17: `index` is 65535, not 0 to 65534"},
        error_case{
            "index_used_twice_on_one_screen",
            kTo + "[[display]]\nname = \"a\"\numd = { index = 4 }\n[[display]]\nname = \"b\"\numd = { index = 4 }\n",
            "walls/wall.toml:8:17: index 4 is used twice on screen 0 of tsl5+udp://127.0.0.1:9000 (first at "
            "5:17)"},
        error_case{"address_used_twice",
                   "[umd]\nto = \"tsl31+udp://127.0.0.1:9000\"\n[[display]]\nname = \"a\"\numd = { index = 9 }\n"
                   "[[display]]\nname = \"b\"\numd = { index = 9 }\n",
                   "walls/wall.toml:8:17: address 9 is used twice on tsl31+udp://127.0.0.1:9000 (first at 5:17)"},
        error_case{"display_without_to", "[[display]]\nname = \"a\"\numd = { index = 1 }\n",
                   "walls/wall.toml:3:7: no `to` for display \"a\", here or in [umd]"},
        error_case{"display_without_index", kTo + "[[display]]\nname = \"a\"\numd = { screen = 1 }\n",
                   "walls/wall.toml:5:7: no `index` for display \"a\""},
        error_case{"screen_on_tsl31",
                   "[[display]]\nname = \"a\"\numd = { to = \"tsl31+udp://127.0.0.1:1\", index = 1, screen = 2 }\n",
                   "walls/wall.toml:3:61: `screen` is for TSL 5 only"},
        error_case{"display_without_name", kTo + "[[display]]\numd = { index = 1 }\n",
                   "walls/wall.toml:3:1: a display with `umd` needs a `name`"},
        error_case{
            "display_named_twice",
            kTo + "[[display]]\nname = \"a\"\numd = { index = 1 }\n[[display]]\nname = \"a\"\numd = { index = 2 }\n",
            "walls/wall.toml:7:8: display \"a\" is named twice (first at 4:8)"},
        error_case{"umd_not_a_table", kTo + "[[display]]\nname = \"a\"\numd = 1\n",
                   "walls/wall.toml:5:7: `umd` must be a table, e.g. { index = 1 }"}),
    [](const testing::TestParamInfo<error_case>& info) { return std::string(info.param.name); });

TEST(UmdConfig, ReportsEveryErrorNotJustTheFirst) {
    umd_config config;
    std::vector<std::string> errors;
    EXPECT_FALSE(read("[umd]\nrefresh = \"soon\"\nbatch = 1\n[tally.x]\nleft = \"pink\"\n", config, errors));
    EXPECT_EQ(errors.size(), 3u) << testing::PrintToString(errors);
}

}  // namespace
