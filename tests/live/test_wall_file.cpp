// The wall file: what is read (the displays and the TSL output's settings),
// and every error placed at its file, line and column, once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quon/live/wall_file.h"
#include "quon/screens/tsl31/tsl31_protocol.h"
#include "quon/screens/tsl5/tsl5_protocol.h"
#include "seeded_edits.h"
#include "wall_description.h"

namespace {

using namespace quon;
using quon::test::described;


bool read(const std::string& text, umd_config& config, std::vector<std::string>& errors) {
    wall parsed;
    if (!parseWall(text, "walls/wall.toml", parsed, errors)) return false;
    config = parsed.umd;
    return true;
}

TEST(WallFile, ReadsDefaultsTalliesAndDisplays) {
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
    EXPECT_EQ(config.displays[2].to.protocol, &tsl31_protocol);
    EXPECT_EQ(config.displays[2].to.host, "umd-bridge.local");
    EXPECT_EQ(config.displays[2].screen, 0) << "TSL 3.1 has no screens";
    EXPECT_EQ(config.displays[2].index, 126);

    EXPECT_EQ(config.lampsFor("umd_alarm"), (tally_lamps{lamp_colour::red, lamp_colour::green, lamp_colour::amber, 1}));
}

TEST(WallFile, AStateSheetWithoutTallyShowsEveryLampOffAtFullBrightness) {
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read("[tally.alarm]\nleft = \"red\"\n", config, errors));
    EXPECT_EQ(config.lampsFor("normal"), (tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3}));
    EXPECT_EQ(config.lampsFor(""), (tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3}));
    EXPECT_EQ(config.lampsFor("alarm"), (tally_lamps{lamp_colour::red, lamp_colour::off, lamp_colour::off, 3}));
}

TEST(WallFile, DefaultsRefreshEveryHalfSecondOneMessagePerPacketNoBlanking) {
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read("", config, errors));
    EXPECT_EQ(config.refresh, std::chrono::milliseconds(500));
    EXPECT_FALSE(config.batch);
    EXPECT_FALSE(config.blank_on_exit);
    EXPECT_EQ(config.tally31,
              (tsl31_tally_map{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none}));
    EXPECT_TRUE(config.displays.empty());
}

TEST(WallFile, AnIndexMayRepeatOnAnotherScreenOrReceiver) {
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

const std::string kIn = "[[tally_in]]\nname = \"m\"\nlisten = \"tsl5+udp://127.0.0.1:1\"\n";
const std::string kTo = "[umd]\nto = \"tsl5+udp://127.0.0.1:9000\"\n";

TEST(WallFile, OnRouterLostComesFromUmdUnlessADisplaySaysOtherwise) {
    const std::string text = R"([umd]
to = "tsl5+udp://127.0.0.1:9000"
on_router_lost = "mark"
lost_mark = "left:red"
lost_text = "NO ROUTER"
[[display]]
name = "a"
umd = { index = 1 }
[[display]]
name = "b"
umd = { index = 2, on_router_lost = "text", lost_after = "3s" }
[[display]]
name = "c"
umd = { index = 3, on_router_lost = "keep" }
)";
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read(text, config, errors)) << testing::PrintToString(errors);
    ASSERT_EQ(config.displays.size(), 3u);
    const router_lost& a = config.lostFor("a");
    EXPECT_EQ(a.treatment, lost_treatment::mark);
    EXPECT_EQ(a.markLamp, tally_lamp::left);
    EXPECT_EQ(a.markColour, lamp_colour::red);
    EXPECT_EQ(a.after, std::chrono::seconds(10));
    const router_lost& b = config.lostFor("b");
    EXPECT_EQ(b.treatment, lost_treatment::text);
    EXPECT_EQ(b.text, "NO ROUTER");
    EXPECT_EQ(b.after, std::chrono::seconds(3));
    EXPECT_EQ(config.lostFor("c").treatment, lost_treatment::keep);

    ASSERT_TRUE(read(kTo + "[[display]]\nname = \"a\"\numd = { index = 1 }\n", config, errors));
    EXPECT_EQ(config.lostFor("a"), router_lost{}) << "keep by default";
}

TEST(WallFile, TallyLampsComeFromUmdUnlessADisplaySaysOtherwise) {
    umd_config config;
    std::vector<std::string> errors;
    ASSERT_TRUE(read(kTo + "[[display]]\nname = \"a\"\numd = { index = 1 }\n", config, errors));
    EXPECT_EQ(config.lightsFor("a"), tally_lights{}) << "left red and right green by default";
    ASSERT_TRUE(read(R"([umd]
to = "tsl5+udp://127.0.0.1:9000"
program = "text:red"
preview = ""
[[display]]
name = "a"
umd = { index = 1 }
[[display]]
name = "b"
umd = { index = 2, preview = "right:amber" }
)",
                     config, errors))
        << testing::PrintToString(errors);
    const tally_lights a = config.lightsFor("a"), b = config.lightsFor("b");
    EXPECT_EQ(a.program, (tally_light{tally_lamp::text, lamp_colour::red}));
    EXPECT_EQ(a.preview, tally_light{}) << "none";
    EXPECT_EQ(b.program, a.program);
    EXPECT_EQ(b.preview, (tally_light{tally_lamp::right, lamp_colour::amber}));
    // Lit, a lamp overrides the sheet's colour of that lamp alone.
    const tally_lamps sheet{lamp_colour::amber, lamp_colour::green, lamp_colour::amber, 2};
    EXPECT_EQ(lightUp(sheet, a.program), (tally_lamps{lamp_colour::amber, lamp_colour::red, lamp_colour::amber, 2}));
}

TEST(WallFile, ParentCommandsFollowTheOthersAtStartAndADisplayMayWatchNoRouter) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall("[[display]]\nname = \"cam\"\nmodule = \"Tally.so\"\nstatesheet = \"s\"\n"
                          "parent = [\"camera=1,2\", \"blink=500\"]\n",
                          "walls/wall.toml", parsed, errors))
        << testing::PrintToString(errors);
    ASSERT_EQ(parsed.displays.size(), 1u);
    EXPECT_EQ(parsed.displays[0].startCommands(),
              (std::vector<std::string>{"myStatesheet=s", "camera=1,2", "blink=500"}));
    wall changed = parsed;
    changed.displays[0].parent.pop_back();
    EXPECT_FALSE(changed.displays[0] == parsed.displays[0]) << "a changed parent list is a changed display";
}

TEST(WallFile, ControlIsOffUnlessTheFileGivesItsToken) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall("[control]\ntoken = \"0123456789abcdef\"\n", "walls/wall.toml", parsed, errors));
    ASSERT_TRUE(parsed.control.has_value());
    EXPECT_EQ(parsed.control->token, "0123456789abcdef");
    ASSERT_TRUE(parseWall("", "walls/wall.toml", parsed, errors));
    EXPECT_FALSE(parsed.control.has_value());
}

TEST(WallFile, ThePageAnswersToTheNamesItLists) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall("[page]\nnames = [\"Wall.Studio.example\", \"wallhost\"]\n", "walls/wall.toml", parsed, errors));
    EXPECT_EQ(parsed.page.names, (std::vector<std::string>{"wall.studio.example", "wallhost"}));
    ASSERT_TRUE(parseWall("", "walls/wall.toml", parsed, errors));
    EXPECT_TRUE(parsed.page.names.empty());
}

// Each key of [page] where it goes; the files beside the wall file.
TEST(WallFile, ThePageSettingsAreRead) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall("[page]\nview_token = \"look-but-do-not-touch\"\ncertificate = \"tls/wall.pem\"\n"
                          "key = \"/etc/quon-host/wall.key\"\nplain_http = \"off\"\nconnections = 100\n"
                          "connections_per_client = 4\npages = 50\npages_per_client = 2\nrequests_per_second = 5\n"
                          "header_timeout = \"2s\"\n",
                          "/walls/wall.toml", parsed, errors))
        << testing::PrintToString(errors);
    const quon::wall_page_settings& page = parsed.page;
    EXPECT_EQ(page.viewToken, "look-but-do-not-touch");
    EXPECT_EQ(page.certificate, "/walls/tls/wall.pem");
    EXPECT_EQ(page.key, "/etc/quon-host/wall.key");
    EXPECT_FALSE(page.redirectPlain);
    quon::web::page_limits limits;
    limits.connections = 100;
    limits.connectionsPerClient = 4;
    limits.pages = 50;
    limits.pagesPerClient = 2;
    limits.requestsPerSecond = 5;
    limits.headerTimeout = std::chrono::seconds(2);
    EXPECT_EQ(page.limits, limits);
    ASSERT_TRUE(parseWall("[page]\ncertificate = \"a\"\nkey = \"b\"\n", "/walls/wall.toml", parsed, errors));
    EXPECT_TRUE(parsed.page.redirectPlain) << "plain HTTP is redirected unless the file says off";
    EXPECT_EQ(parsed.page.limits, quon::web::page_limits());
}

TEST(WallFile, ReadsTallyInputsTheirMappingsAndTies) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall(R"([[tally_in]]
name = "mixer1"
listen = "tsl5+tcp://[::1]:8910"
screen = 2
timeout = "500ms"
on_loss = "clear"
program = "amber"
preview = "red"
[[tally_in.map]]
index = 1
count = 16
matrix = 1
destination = 10
[[tally_in.map]]
index = 40
matrix = 2
source = 12

[[tally_in]]
name = "mixer2"
listen = "tsl31+udp://127.0.0.1:0"
program = "2"
preview = "1"
address_base = 1

[[tie]]
from = { matrix = 1, destination = 40 }
to = { matrix = 2, source = 3 }
)",
                          "walls/wall.toml", parsed, errors))
        << testing::PrintToString(errors);
    ASSERT_EQ(parsed.tallyInputs.size(), 2u);
    const tally::tally_input_config& a = parsed.tallyInputs[0];
    EXPECT_EQ(tally::listenText(a), "tsl5+tcp://[::1]:8910");
    EXPECT_EQ(a.screen, std::optional<uint16_t>(2));
    EXPECT_EQ(a.timeout, std::chrono::milliseconds(500));
    EXPECT_TRUE(a.clearOnLoss);
    EXPECT_EQ(a.program, 3);
    EXPECT_EQ(a.preview, 1);
    ASSERT_EQ(a.maps.size(), 2u);
    EXPECT_EQ(a.maps[0].count, 16);
    EXPECT_EQ(a.maps[0].first, (tally::point{1, tally::point::end::destination, 10}));
    EXPECT_EQ(a.maps[1].first, (tally::point{2, tally::point::end::source, 12}));
    const tally::tally_input_config& b = parsed.tallyInputs[1];
    EXPECT_EQ(tally::listenText(b), "tsl31+udp://127.0.0.1:0");
    EXPECT_EQ(b.screen, std::nullopt);
    EXPECT_EQ(b.timeout, std::chrono::seconds(3));
    EXPECT_FALSE(b.clearOnLoss) << "hold by default";
    EXPECT_EQ(b.program, 2);
    EXPECT_EQ(b.addressBase, 1);
    EXPECT_EQ(parsed.ties, (std::vector<tally::tie>{{1, 40, 2, 3}}));
}

TEST(WallFile, ReadsTheCascadeOfMixersAndWhereOnAirEnds) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall(R"([[tally_in]]
name = "studioA"
listen = "tsl5+udp://127.0.0.1:0"
iso = "amber"
[[tally_in.output]]
matrix = 1
source = 50
[[tally_in.output]]
bus = "preview"
mixer = "master"
index = 7

[[tally_in]]
name = "master"
listen = "tsl31+udp://127.0.0.1:0"
iso = "3"
[[tally_in.map]]
index = 1
matrix = 1
destination = 20

[[on_air]]
mixer = "master"
[[on_air]]
matrix = 2
destination = 1
)",
                          "walls/wall.toml", parsed, errors))
        << testing::PrintToString(errors);
    ASSERT_EQ(parsed.tallyInputs.size(), 2u);
    EXPECT_EQ(parsed.tallyInputs[0].iso, 3);
    EXPECT_EQ(parsed.tallyInputs[1].iso, 3);
    const tally::point studioPreview = tally::outputPoint("studioA", tally::preview_bus);
    EXPECT_EQ(parsed.cascade.outputs,
              (std::vector<tally::output>{{"studioA", tally::program_bus, {1, tally::point::end::source, 50}},
                                          {"studioA", tally::preview_bus, studioPreview}}));
    // The master's index 7 stands for the studio's preview.
    ASSERT_EQ(parsed.tallyInputs[1].maps.size(), 2u);
    EXPECT_EQ(parsed.tallyInputs[1].maps[1].index, 7);
    EXPECT_EQ(parsed.tallyInputs[1].maps[1].first, studioPreview);
    EXPECT_EQ(parsed.cascade.end.mixers, std::vector<std::string>{"master"});
    EXPECT_EQ(parsed.cascade.end.destinations,
              (std::vector<tally::point>{{2, tally::point::end::destination, 1}}));
}

struct error_case {
    const char* name;
    std::string toml;
    std::string error;  // the first error, in full
};

void PrintTo(const error_case& c, std::ostream* out) { *out << c.name; }

class WallFileError : public testing::TestWithParam<error_case> {};

TEST_P(WallFileError, IsReportedAtFileLineAndColumnAndLeavesTheResultAlone) {
    umd_config config;
    config.batch = true;
    std::vector<std::string> errors;
    EXPECT_FALSE(read(GetParam().toml, config, errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front(), GetParam().error);
    EXPECT_TRUE(config.batch) << "the result is not written";
}


INSTANTIATE_TEST_SUITE_P(
    Cases, WallFileError,
    testing::Values(
        error_case{"unknown_key_in_umd", "[umd]\nspeed = 1\n", "walls/wall.toml:2:1: unknown key `speed` in [umd] (to, screen, refresh, batch, blank_on_exit, tally31, "
                   "program, hot, preview, iso, on_router_lost, lost_mark, lost_text, lost_after)"},
        error_case{"unknown_scheme", "[umd]\nto = \"tsl6+udp://127.0.0.1:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl6+udp://127.0.0.1:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"tsl31_over_tcp", "[umd]\nto = \"tsl31+tcp://127.0.0.1:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl31+tcp://127.0.0.1:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port"},
        error_case{"url_without_port", "[umd]\nto = \"tsl5+udp://127.0.0.1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://127.0.0.1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port: no port"},
        error_case{"url_port_out_of_range", "[umd]\nto = \"tsl5+udp://127.0.0.1:70000\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://127.0.0.1:70000\" names a port out of range (1 to "
                   "65535)"},
        error_case{"url_with_path", "[umd]\nto = \"tsl5+udp://host/x:1\"\n",
                   "walls/wall.toml:2:6: `to` = \"tsl5+udp://host/x:1\" is not tsl5+udp://host:port, "
                   "tsl5+tcp://host:port or tsl31+udp://host:port: \"host/x\" is not a host name or address"},
        error_case{"to_not_a_string", "[umd]\nto = 5\n", "walls/wall.toml:2:6: `to` takes a text"},
        error_case{"refresh_without_unit", "[umd]\nrefresh = \"5\"\n",
                   "walls/wall.toml:2:11: `refresh` = \"5\" is not a duration (\"500ms\", \"5s\", \"1m\")"},
        error_case{"screen_out_of_range", "[umd]\nscreen = 65535\n",
                   "walls/wall.toml:2:10: `screen` takes a whole number from 0 to 65534"},
        error_case{"batch_not_boolean", "[umd]\nbatch = \"yes\"\n",
                   "walls/wall.toml:2:9: `batch` takes true or false"},
        error_case{"tally31_unknown_lamp", "[umd]\ntally31 = [\"left\", \"top\", \"right\", \"\"]\n",
                   "walls/wall.toml:2:20: `tally31` lamp \"top\" is not \"left\", \"text\", \"right\" or \"\""},
        error_case{"tally31_three_lamps", "[umd]\ntally31 = [\"left\", \"text\", \"right\"]\n",
                   "walls/wall.toml:2:11: `tally31` lists 4 lamps, e.g. [\"left\", \"text\", \"right\", \"\"]"},
        error_case{"unknown_colour", "[tally.umd_alarm]\nleft = \"purple\"\n",
                   "walls/wall.toml:2:8: `left` = \"purple\" is not a colour (off, red, green or amber)"},
        error_case{"brightness_out_of_range", "[tally.umd_alarm]\nbrightness = 4\n",
                   "walls/wall.toml:2:14: `brightness` takes a whole number from 0 to 3"},
        error_case{"unknown_key_in_tally", "[tally.umd_alarm]\nblink = true\n",
                   "walls/wall.toml:2:1: unknown key `blink` in [tally.umd_alarm] (left, text, right, brightness)"},
        error_case{"unknown_key_in_display_umd",
                   kTo + "[[display]]\nname = \"mon1\"\numd = { index = 1, colour = 2 }\n",
                   "walls/wall.toml:5:20: unknown key `colour` in `umd` of display \"mon1\" (to, index, screen, "
                   "program, hot, preview, iso, on_router_lost, lost_mark, lost_text, lost_after)"},
        error_case{"unknown_router_lost", "[umd]\non_router_lost = \"hide\"\n",
                   "walls/wall.toml:2:18: `on_router_lost` = \"hide\" is not \"keep\", \"mark\", \"blank\" or \"text\""},
        error_case{"lost_mark_without_colour", kTo + "[[display]]\nname = \"a\"\numd = { index = 1, lost_mark = \"text\" }\n",
                   "walls/wall.toml:5:32: `lost_mark` = \"text\" is not LAMP:COLOUR (a lamp left, text or right; a "
                   "colour red, green or amber), e.g. \"text:amber\""},
        error_case{"program_without_colour", "[umd]\nprogram = \"left\"\n",
                   "walls/wall.toml:2:11: `program` = \"left\" is not LAMP:COLOUR (a lamp left, text or right; a "
                   "colour red, green or amber), e.g. \"left:red\", or \"\" for none"},
        error_case{"lost_after_without_unit", "[umd]\nlost_after = \"10\"\n",
                   "walls/wall.toml:2:14: `lost_after` = \"10\" is not a duration (\"500ms\", \"5s\", \"1m\")"},
        error_case{"lost_text_missing",
                   kTo + "[[display]]\nname = \"a\"\numd = { index = 1, on_router_lost = \"text\" }\n",
                   "walls/wall.toml:5:37: `on_router_lost` = \"text\" needs `lost_text`, the text shown instead of "
                   "the name"},
        error_case{"tsl31_address_out_of_range",
                   "[[display]]\nname = \"m\"\numd = { to = \"tsl31+udp://127.0.0.1:9000\", index = 127 }\n",
                   "walls/wall.toml:3:52: `index` takes a whole number from 0 to 126"},
        error_case{"tsl5_index_broadcast", kTo + "[[display]]\nname = \"m\"\numd = { index = 65535 }\n",
                   "walls/wall.toml:5:17: `index` takes a whole number from 0 to 65534"},
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
                   "walls/wall.toml:3:1: a [[display]] needs a `name`"},
        error_case{
            "display_named_twice",
            kTo + "[[display]]\nname = \"a\"\numd = { index = 1 }\n[[display]]\nname = \"a\"\numd = { index = 2 }\n",
            "walls/wall.toml:7:8: display \"a\" named twice"},
        error_case{"umd_not_a_table", kTo + "[[display]]\nname = \"a\"\numd = 1\n",
                   "walls/wall.toml:5:7: `umd` is a table, e.g. { index = 1 }"},
        error_case{"pair_address_not_an_address", "[pair]\nactive_address = \"host-b.local\"\n",
                   "walls/wall.toml:2:18: `active_address` = \"host-b.local\" is not a numeric IPv4 or IPv6 address"},
        error_case{"pair_address_with_port", "[pair]\nactive_address = \"192.0.2.50:80\"\n",
                   "walls/wall.toml:2:18: `active_address` = \"192.0.2.50:80\" is not a numeric IPv4 or IPv6 address"},
        error_case{"pair_address_with_scope", "[pair]\nactive_address = \"fe80::1%eth0\"\n",
                   "walls/wall.toml:2:18: `active_address` = \"fe80::1%eth0\" is not a numeric IPv4 or IPv6 address"},
        error_case{"pair_address_unspecified", "[pair]\nactive_address = \"0.0.0.0\"\n",
                   "walls/wall.toml:2:18: `active_address` = \"0.0.0.0\" cannot be assigned to an interface (an "
                   "unspecified or multicast address)"},
        error_case{"pair_address_multicast", "[pair]\nactive_address = \"ff02::1\"\n",
                   "walls/wall.toml:2:18: `active_address` = \"ff02::1\" cannot be assigned to an interface (an "
                   "unspecified or multicast address)"},
        error_case{"pair_address_not_text", "[pair]\nactive_address = 3232236082\n",
                   "walls/wall.toml:2:18: `active_address` takes a text"},
        error_case{"pair_without_address", "[pair]\n", "walls/wall.toml:1:1: [pair] needs `active_address`, e.g. \"192.0.2.50\""},
        error_case{"pair_unknown_key", "[pair]\nactive_address = \"192.0.2.50\"\npriority = 100\n",
                   "walls/wall.toml:3:1: unknown key `priority` in [pair] (active_address)"},
        error_case{"pair_not_a_table", "pair = \"192.0.2.50\"\n", "walls/wall.toml:1:8: `pair` is a table: [pair]"},
        error_case{"parent_not_a_list", "[[display]]\nname = \"a\"\nparent = \"x=1\"\n",
                   "walls/wall.toml:3:10: `parent` is a list of parent commands, e.g. [\"myFoo=1\"]"},
        error_case{"parent_command_empty", "[[display]]\nname = \"a\"\nparent = [\"x=1\", \"\"]\n",
                   "walls/wall.toml:3:18: a parent command is a text of one line, not empty"},
        error_case{"parent_command_of_two_lines", "[[display]]\nname = \"a\"\nparent = [\"x=1\\ny=2\"]\n",
                   "walls/wall.toml:3:11: a parent command is a text of one line, not empty"},
        error_case{"parent_command_not_text", "[[display]]\nname = \"a\"\nparent = [1]\n",
                   "walls/wall.toml:3:11: a parent command is a text of one line, not empty"},
        error_case{"control_token_too_short", "[control]\ntoken = \"short\"\n",
                   "walls/wall.toml:2:9: `token` is at least 16 printable ASCII characters without blanks"},
        error_case{"control_token_with_blank", "[control]\ntoken = \"0123456789 abcdef\"\n",
                   "walls/wall.toml:2:9: `token` is at least 16 printable ASCII characters without blanks"},
        error_case{"control_without_token", "[control]\n", "walls/wall.toml:1:1: [control] needs `token`"},
        error_case{"control_unknown_key", "[control]\ntoken = \"0123456789abcdef\"\nopen = true\n",
                   "walls/wall.toml:3:1: unknown key `open` in [control] (token)"},
        error_case{"control_not_a_table", "control = true\n", "walls/wall.toml:1:11: `control` is a table: [control]"},
        error_case{"page_name_with_a_port", "[page]\nnames = [\"wall.example:8080\"]\n",
                   "walls/wall.toml:2:10: a name of `names` is a host name as users type it, of letters, digits, '-' "
                   "and '.', without a port (\"wall.studio.example\")"},
        error_case{"page_names_not_a_list", "[page]\nnames = \"wall.example\"\n",
                   "walls/wall.toml:2:9: `names` is a list of host names: names = [\"wall.example\"]"},
        error_case{"page_unknown_key", "[page]\ntls = true\n",
                   "walls/wall.toml:2:1: unknown key `tls` in [page] (names, view_token, certificate, key, plain_http, "
                   "connections, connections_per_client, pages, pages_per_client, requests_per_second, "
                   "header_timeout)"},
        error_case{"page_certificate_without_key", "[page]\ncertificate = \"wall.pem\"\n",
                   "walls/wall.toml:1:1: [page] needs both `certificate` and `key`, or neither"},
        error_case{"page_plain_http_without_certificate", "[page]\nplain_http = \"off\"\n",
                   "walls/wall.toml:2:14: `plain_http` is for a page served over HTTPS: give it `certificate` and "
                   "`key`"},
        error_case{"page_plain_http_neither", "[page]\ncertificate = \"a\"\nkey = \"b\"\nplain_http = \"on\"\n",
                   "walls/wall.toml:4:14: `plain_http` = \"on\" is not \"redirect\" or \"off\""},
        error_case{"page_view_token_too_short", "[page]\nview_token = \"short\"\n",
                   "walls/wall.toml:2:14: `view_token` is at least 16 printable ASCII characters without blanks"},
        error_case{"page_no_pages", "[page]\npages = 0\n",
                   "walls/wall.toml:2:9: `pages` takes a whole number from 1 to 100000"},
        error_case{"page_header_timeout_zero", "[page]\nheader_timeout = \"0s\"\n",
                   "walls/wall.toml:2:18: `header_timeout` = \"0s\" is not a duration above zero (\"500ms\", \"5s\", "
                   "\"1m\")"},
        error_case{"tally_in_unknown_scheme", "[[tally_in]]\nname = \"m\"\nlisten = \"tsl31+tcp://127.0.0.1:1\"\n",
                   "walls/wall.toml:3:10: `listen` = \"tsl31+tcp://127.0.0.1:1\" is not tsl5+udp://address:port, "
                   "tsl5+tcp://address:port or tsl31+udp://address:port (a numeric address)"},
        error_case{"tally_in_listen_on_a_name", "[[tally_in]]\nname = \"m\"\nlisten = \"tsl5+udp://mixer.local:1\"\n",
                   "walls/wall.toml:3:10: `listen` = \"tsl5+udp://mixer.local:1\" is not tsl5+udp://address:port, "
                   "tsl5+tcp://address:port or tsl31+udp://address:port (a numeric address)"},
        error_case{"tally_in_without_listen", "[[tally_in]]\nname = \"m\"\n",
                   "walls/wall.toml:1:1: a [[tally_in]] needs `listen`, e.g. \"tsl5+udp://192.0.2.1:8910\""},
        error_case{"tally_in_bad_timeout", kIn + "timeout = \"3\"\n",
                   "walls/wall.toml:4:11: `timeout` = \"3\" is not a duration above zero (\"500ms\", \"5s\", \"1m\")"},
        error_case{"tally_in_bad_on_loss", kIn + "on_loss = \"dark\"\n",
                   "walls/wall.toml:4:11: `on_loss` = \"dark\" is not \"hold\" or \"clear\""},
        error_case{"tally_in_bad_colour", kIn + "program = \"blue\"\n",
                   "walls/wall.toml:4:11: `program` = \"blue\" is not a TSL 5 tally colour (red, green or amber)"},
        error_case{"tally_in_tsl31_bad_tally", "[[tally_in]]\nname = \"m\"\nlisten = \"tsl31+udp://127.0.0.1:1\"\n"
                   "preview = \"5\"\n",
                   "walls/wall.toml:4:11: `preview` = \"5\" is not a TSL 3.1 tally number (\"1\" to \"4\")"},
        error_case{"tally_in_same_meaning", kIn + "preview = \"red\"\n",
                   "walls/wall.toml:4:11: `program` and `preview` are the same TSL 5 colour"},
        error_case{"tally_in_screen_on_tsl31", "[[tally_in]]\nname = \"m\"\nlisten = \"tsl31+udp://127.0.0.1:1\"\n"
                   "screen = 1\n",
                   "walls/wall.toml:4:10: `screen` is for TSL 5 only"},
        error_case{"tally_in_address_base_2", "[[tally_in]]\nname = \"m\"\nlisten = \"tsl31+udp://127.0.0.1:1\"\n"
                   "address_base = 2\n",
                   "walls/wall.toml:4:16: `address_base` takes a whole number from 0 to 1"},
        error_case{"tally_in_named_twice", kIn + "[[tally_in]]\nname = \"m\"\nlisten = \"tsl5+udp://127.0.0.1:2\"\n",
                   "walls/wall.toml:5:8: tally input \"m\" named twice"},
        error_case{"tally_in_index_mapped_twice",
                   kIn + "[[tally_in.map]]\nindex = 1\ncount = 4\nmatrix = 1\ndestination = 1\n"
                         "[[tally_in.map]]\nindex = 4\nmatrix = 1\nsource = 1\n",
                   "walls/wall.toml:10:9: index 4 of tally input \"m\" is mapped twice (first at 5:9)"},
        error_case{"tally_in_map_both_ends", kIn + "[[tally_in.map]]\nindex = 1\nmatrix = 1\ndestination = 1\nsource = 1\n",
                   "walls/wall.toml:4:1: a [[tally_in.map]] needs either a `destination` or a `source`"},
        error_case{"tally_in_map_past_the_last_address",
                   "[[tally_in]]\nname = \"m\"\nlisten = \"tsl31+udp://127.0.0.1:1\"\n"
                   "[[tally_in.map]]\nindex = 120\ncount = 8\nmatrix = 1\nsource = 1\n",
                   "walls/wall.toml:6:9: indices 120 to 127 run past 126, the sender's last"},
        error_case{"tally_in_iso_is_program", kIn + "iso = \"red\"\n",
                   "walls/wall.toml:4:7: `iso` and `program` are the same TSL 5 colour"},
        error_case{"tally_in_output_both_ways", kIn + "[[tally_in.output]]\nmatrix = 1\nsource = 5\nmixer = \"x\"\n",
                   "walls/wall.toml:4:1: a [[tally_in.output]] needs either `matrix` and `source` (the router source "
                   "it feeds) or `mixer` and `index` (the other mixer's input it is)"},
        error_case{"tally_in_output_bad_bus", kIn + "[[tally_in.output]]\nbus = \"aux\"\nmatrix = 1\nsource = 5\n",
                   "walls/wall.toml:5:7: `bus` = \"aux\" is not \"program\", \"preview\" or \"iso\""},
        error_case{"tally_in_output_into_no_mixer", kIn + "[[tally_in.output]]\nmixer = \"master\"\nindex = 1\n",
                   "walls/wall.toml:5:9: `mixer` = \"master\" is no [[tally_in]]"},
        error_case{"tally_in_output_into_itself", kIn + "[[tally_in.output]]\nmixer = \"m\"\nindex = 1\n",
                   "walls/wall.toml:5:9: tally input \"m\" feeds its own input"},
        error_case{"tally_in_output_onto_a_mapped_index",
                   kIn + "[[tally_in.output]]\nmixer = \"n\"\nindex = 2\n[[tally_in]]\nname = \"n\"\n"
                         "listen = \"tsl5+udp://127.0.0.1:2\"\n[[tally_in.map]]\nindex = 1\ncount = 2\nmatrix = 1\n"
                         "source = 1\n",
                   "walls/wall.toml:6:9: index 2 of tally input \"n\" is mapped twice (first at 11:9)"},
        error_case{"tally_in_two_outputs_into_one_source",
                   kIn + "[[tally_in.output]]\nmatrix = 1\nsource = 5\n[[tally_in.output]]\nbus = \"preview\"\n"
                         "matrix = 1\nsource = 5\n",
                   "walls/wall.toml:10:10: source 5 of matrix 1 is fed by two outputs (first at 6:10)"},
        error_case{"on_air_no_mixer", kIn + "[[on_air]]\nmixer = \"master\"\n",
                   "walls/wall.toml:5:9: `mixer` = \"master\" is no [[tally_in]]"},
        error_case{"on_air_both_ways", kIn + "[[on_air]]\nmixer = \"m\"\nmatrix = 1\ndestination = 2\n",
                   "walls/wall.toml:4:1: an [[on_air]] needs either `mixer` (the transmission mixer) or `matrix` and "
                   "`destination` (the station's output)"},
        error_case{"tally_in_map_broadcast", kIn + "[[tally_in.map]]\nindex = 65535\nmatrix = 1\nsource = 1\n",
                   "walls/wall.toml:5:9: `index` takes a whole number from 0 to 65534"},
        error_case{"tie_destination_twice",
                   "[[tie]]\nfrom = { matrix = 1, destination = 4 }\nto = { matrix = 2, source = 1 }\n"
                   "[[tie]]\nfrom = { matrix = 1, destination = 4 }\nto = { matrix = 2, source = 2 }\n",
                   "walls/wall.toml:5:36: destination 4 of matrix 1 is tied twice (first at 2:36)"},
        error_case{"tie_source_fed_twice",
                   "[[tie]]\nfrom = { matrix = 1, destination = 4 }\nto = { matrix = 2, source = 1 }\n"
                   "[[tie]]\nfrom = { matrix = 1, destination = 5 }\nto = { matrix = 2, source = 1 }\n",
                   "walls/wall.toml:6:29: source 1 of matrix 2 is fed by two ties (first at 3:29)"},
        error_case{"tie_without_to", "[[tie]]\nfrom = { matrix = 1, destination = 4 }\n",
                   "walls/wall.toml:1:1: a [[tie]] needs `to` = { matrix = 1, source = 1 }"},
        error_case{"unknown_table", "[pairs]\n", "walls/wall.toml:1:2: unknown key `pairs` (display, umd, tally, pair, control, page, tally_in, on_air, tie)"}),
    [](const testing::TestParamInfo<error_case>& info) { return std::string(info.param.name); });

TEST(WallFile, PairTakesAnIPv4OrIPv6AddressAsWrittenBack) {
    for (const auto& [written, read] : std::vector<std::pair<std::string, std::string>>{
             {"192.0.2.50", "192.0.2.50"}, {"2001:DB8:0::50", "2001:db8::50"}, {"127.0.0.1", "127.0.0.1"}}) {
        wall parsed;
        std::vector<std::string> errors;
        ASSERT_TRUE(parseWall("[pair]\nactive_address = \"" + written + "\"\n", "wall.toml", parsed, errors))
            << testing::PrintToString(errors);
        ASSERT_TRUE(parsed.pair) << written;
        EXPECT_EQ(parsed.pair->activeAddress, read);
    }
}

TEST(WallFile, WithoutPairTheHostIsAlone) {
    wall parsed;
    std::vector<std::string> errors;
    ASSERT_TRUE(parseWall(kTo, "wall.toml", parsed, errors));
    EXPECT_FALSE(parsed.pair);
}

TEST(WallFile, ADisplayNamedTwiceIsOneErrorThoughBothAreSent) {
    umd_config config;
    std::vector<std::string> errors;
    EXPECT_FALSE(read("[umd]\nto = \"tsl5+udp://127.0.0.1:9000\"\n[[display]]\nname = \"a\"\numd = { index = 1 }\n"
                      "[[display]]\nname = \"a\"\numd = { index = 2 }\n",
                      config, errors));
    EXPECT_EQ(errors, std::vector<std::string>{"walls/wall.toml:7:8: display \"a\" named twice"});
}

TEST(WallFile, ListsErrorsInFileOrder) {
    wall parsed;
    std::vector<std::string> errors;
    EXPECT_FALSE(parseWall("[[display]]\nname = \"a\"\nmatrix = \"x\"\n[umd]\nbatch = 1\n[tally.s]\nleft = \"pink\"\n",
                           "w.toml", parsed, errors));
    ASSERT_EQ(errors.size(), 3u) << testing::PrintToString(errors);
    EXPECT_EQ(errors[0].rfind("w.toml:3:", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("w.toml:5:", 0), 0u) << errors[1];
    EXPECT_EQ(errors[2].rfind("w.toml:7:", 0), 0u) << errors[2];
}

TEST(WallFile, ATallyInputsMapsAreReadEvenWhenItsListenIsRefused) {
    wall parsed;
    std::vector<std::string> errors;
    EXPECT_FALSE(parseWall("[[tally_in]]\nname = \"m\"\nlisten = \"udp://x\"\n[[tally_in.map]]\nindex = 1\nmatrix = 1\n",
                           "w.toml", parsed, errors));
    EXPECT_EQ(errors.size(), 2u) << testing::PrintToString(errors);
}

TEST(WallFile, ReportsEveryErrorNotJustTheFirst) {
    umd_config config;
    std::vector<std::string> errors;
    EXPECT_FALSE(read("[umd]\nrefresh = \"soon\"\nbatch = 1\n[tally.x]\nleft = \"pink\"\n", config, errors));
    EXPECT_EQ(errors.size(), 3u) << testing::PrintToString(errors);
}

TEST(WallFile, QuickAndFullReadingsReadAlike) {
    const std::vector<std::string> usual = {
        "[[display]]\nname = \"d1\"\nmatrix = 1\ndestination = 1\n[[display]]\nname = \"d2\"\nmatrix = 2\n"
        "destination = 65536\nsourcedb = 0\n",
        "# a wall\n[umd]\nto = \"tsl5+udp://127.0.0.1:8900\"\nrefresh = \"500ms\"\n\n  [[display]]  # first\r\n"
        "name = \"a\"\t# mon\r\ninstance = \"studio_a\"\r\nstatesheet = \"alarm\"\r\numd = { index = 2 }\r\n[[display]]\nname = \"b\"\n"
        "umd = { index = 1 }\nparent = [\"myFoo=1\", \"myBar=[2]\"]\n[[display]]\nname = \"c\"\nmodule = "
        "\"m/Other.so\"\n[tally.alarm]\nleft = \"red\"\n",
        "[[tie]]\nfrom = { matrix = 1, destination = 2 }\nto = { matrix = 2, source = 3 }\n[[display]]\nname = "
        "\"x\"\nmatrix = 999\ndestination = 7\numd = {index=0}\n[[display]]\nname = 'y'\nmatrix = 1_0\ndestination = 0x1F\n"};
    // Screens read apart (b's by the full reading), in the file's order.
    const std::string screensApart =
        "[umd]\nto = \"tsl5+udp://127.0.0.1:4000\"\n[[display]]\nname = \"a\"\numd = { index = 4 }\n[[display]]\n"
        "name = \"b\"\numd = { index = 3, screen = 1 }\n[[display]]\nname = \"c\"\numd = { index = 1 }\n";
    std::vector<std::string> texts = {
        "[[display]]\nname = \"d1\"\n[[display]]\nname = \"d1\"\n", "[[display]]\nname = \"d 1\"\n",
        "[[display]]\nname = \"\"\n", "[[display]]\nmatrix = 1\n", "[[display]]\nname = \"a\"\nname = \"b\"\n",
        "[[display]]\nname = \"a\"\nmatrix = 1000\n", "[[display]]\nname = \"a\"\ndestination = 01\n",
        "[[display]]\nname = \"a\"\ninstance = \"i\"\nmatrix = 1\n", "[[display]]\nname = \"a\\u0041\"\n",
        "[[display]]\nname = \"\xc3\xa9\"\n", "[[display]]\nname = \"a\" # \xff\n", "display = 1\n[[display]]\nname = \"a\"\n",
        "display = []\n[[display]]\nname = \"a\"\n", "[[display]]\nname = \"a\"\n[display.umd]\nindex = 1\n",
        "[[display]]\nname = \"a\"\r", "\xEF\xBB\xBF[[display]]\nname = \"a\"\n", "[[display]]\nname = \"a\"\nx = \"\"\"\n[[display]]\nname = \"b\"\n\"\"\"\n",
        "[[display]]\nname = \"a\"\nparent = [\n\"x\",\n]\n[[display]]\nname = \"b\"\n",
        "[umd]\nto = \"\"\"\n[[display]]\nname = \"b\"\n\"\"\"\n", "[[display]]\nname = \"a\"\n[[display]]\nname = \"b\"\nunknown = 1\n",
        "[umd]\nto = \"tsl31+udp://127.0.0.1:4000\"\n[[display]]\nname = \"a\"\numd = { index = 127 }\n",
        "[umd]\nto = \"tsl5+udp://127.0.0.1:4000\"\n[[display]]\nname = \"a\"\numd = { index = 3 }\n[[display]]\n"
        "name = \"b\"\numd = { index = 3, screen = 0 }\n", screensApart};
    texts.insert(texts.end(), usual.begin(), usual.end());
    const std::vector<std::string> edited = quon::test::seededEdits(usual, " \t\n\r\"'\\[]{}#=.,0159adex_-\xc3", 4000, 36);
    texts.insert(texts.end(), edited.begin(), edited.end());
    int quickly = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        wall full, parsed, quick;
        std::vector<std::string> fullErrors, parseErrors;
        const bool fullRead = wall_reading::full(text, "walls/wall.toml", full, fullErrors);
        EXPECT_EQ(described(parseWall(text, "walls/wall.toml", parsed, parseErrors), parsed, parseErrors),
                  described(fullRead, full, fullErrors));
        if (!wall_reading::quick(text, "walls/wall.toml", quick)) continue;
        ++quickly;
        EXPECT_EQ(described(true, quick, {}), described(fullRead, full, fullErrors));
    }
    // Most edits make a wrong file, which the quick reading leaves alone.
    EXPECT_GT(quickly, 200);
    for (const std::string& text : {usual[0], usual[1], screensApart}) {
        wall quick;
        EXPECT_TRUE(wall_reading::quick(text, "walls/wall.toml", quick)) << text;
    }
}

}  // namespace
