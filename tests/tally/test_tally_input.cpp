// A tally input without sockets: literal TSL 5 and TSL 3.1 bytes in, the
// changes of its mapped indices out, and up and down as time passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quon/tally/tally_input.h"

namespace {

using namespace quon;
using namespace quon::tally;
using namespace std::chrono_literals;

// "0a 00 ..." to bytes.
std::string hex(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ') continue;
        bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
        ++i;
    }
    return bytes;
}

// Indices 1 to 4: destinations 10 to 13 of matrix 1; index 9: source 5 of
// matrix 2.
tally_input_config mixer(tally_wire wire = tally_wire::tsl5_udp) {
    tally_input_config c;
    c.name = "mixer1";
    c.wire = wire;
    c.maps.push_back(tally_map{1, 4, point{1, point::end::destination, 10}, {}});
    c.maps.push_back(tally_map{9, 1, point{2, point::end::source, 5}, {}});
    return c;
}

// The changes as "index:bus+bus ...", in order; "off" on none.
std::string said(const std::vector<lit>& changes) {
    std::string text;
    for (const lit& l : changes) {
        std::string on;
        for (const buses bus : {program_bus, preview_bus, iso_bus})
            if (l.on & bus) on += (on.empty() ? "" : "+") + std::string(busName(bus));
        text += (text.empty() ? "" : " ") + std::to_string(l.index) + ":" + (on.empty() ? "off" : on);
    }
    return text;
}

const auto t0 = tally_input::clock::time_point{} + 1h;

struct bytes_case {
    const char* name;
    tally_input_config config;
    std::vector<std::string> packets;  // hex, one datagram each
    std::string changes;                // of all of them, "index:bus ..."
};

void PrintTo(const bytes_case& c, std::ostream* out) { *out << c.name; }

class TallyInputBytes : public testing::TestWithParam<bytes_case> {};

TEST_P(TallyInputBytes, ReportOnlyTheChangesOfMappedIndices) {
    tally_input input(GetParam().config);
    std::vector<lit> changes;
    for (const std::string& packet : GetParam().packets) {
        input_report report;
        input.packet(hex(packet), t0, report);
        changes.insert(changes.end(), report.changes.begin(), report.changes.end());
    }
    EXPECT_EQ(said(changes), GetParam().changes);
}

tally_input_config withScreen(uint16_t screen) {
    tally_input_config c = mixer();
    c.screen = screen;
    return c;
}

tally_input_config amberProgram() {
    tally_input_config c = mixer();
    c.program = 3;
    return c;
}

tally_input_config tsl31(int base, int iso = 0) {
    tally_input_config c = mixer(tally_wire::tsl31_udp);
    c.addressBase = base;
    c.iso = iso;
    return c;
}

tally_input_config amberIso() {
    tally_input_config c = mixer();
    c.iso = 3;
    return c;
}

// TSL 5: PBC, VER, FLAGS, SCREEN; then INDEX, CONTROL, LENGTH, TEXT each.
// CONTROL: right 0-1, text 2-3, left 4-5, brightness 6-7 (here 3: c0).
const std::string kLeftRed1 = "0a 00 00 00 00 00  01 00 d0 00 00 00";
const std::string kOff1 = "0a 00 00 00 00 00  01 00 c0 00 00 00";

INSTANTIATE_TEST_SUITE_P(
    Cases, TallyInputBytes,
    testing::Values(
        bytes_case{"tsl5_left_red_is_program", mixer(), {kLeftRed1}, "1:program"},
        bytes_case{"tsl5_text_green_is_preview", mixer(), {"0a 00 00 00 00 00  02 00 c8 00 00 00"}, "2:preview"},
        bytes_case{"tsl5_an_index_on_two_buses_is_on_both", mixer(), {"0a 00 00 00 00 00  03 00 e1 00 00 00"},
                   "3:program+preview"},
        bytes_case{"tsl5_the_iso_colour_is_the_inputs", amberIso(),
                   {"0a 00 00 00 00 00  01 00 c3 00 00 00", "0a 00 00 00 00 00  01 00 d3 00 00 00"},
                   "1:iso 1:program+iso"},
        bytes_case{"tsl5_amber_is_neither_by_default", mixer(), {"0a 00 00 00 00 00  01 00 ff 00 00 00"}, ""},
        bytes_case{"tsl5_the_program_colour_is_the_inputs", amberProgram(),
                   {"0a 00 00 00 00 00  01 00 c3 00 00 00", "0a 00 00 00 00 00  02 00 d0 00 00 00"}, "1:program"},
        bytes_case{"tsl5_a_repeated_state_is_said_once", mixer(), {kLeftRed1, kLeftRed1, kLeftRed1}, "1:program"},
        bytes_case{"tsl5_off_again", mixer(), {kLeftRed1, kOff1}, "1:program 1:off"},
        bytes_case{"tsl5_several_messages_with_and_without_text", mixer(),
                   {"21 00 00 00 00 00  01 00 d0 00 05 00 43 41 4d 20 31  02 00 c2 00 00 00  "
                    "09 00 c1 00 06 00 43 41 4d 20 31 30"},
                   "1:program 2:preview 9:program"},
        bytes_case{"tsl5_utf16_text", mixer(), {"0e 00 00 01 00 00  04 00 c4 00 04 00 41 00 e9 00"}, "4:program"},
        bytes_case{"tsl5_the_last_message_to_an_index_wins", mixer(),
                   {"10 00 00 00 00 00  01 00 d0 00 00 00  01 00 e0 00 00 00"}, "1:preview"},
        bytes_case{"tsl5_broadcast_index_lights_every_mapped_index", mixer(),
                   {"0a 00 00 00 00 00  ff ff d0 00 00 00"}, "1:program 2:program 3:program 4:program 9:program"},
        bytes_case{"tsl5_unmapped_index_lights_nothing", mixer(), {"0a 00 00 00 00 00  07 00 d0 00 00 00"}, ""},
        bytes_case{"tsl5_control_data_beside_display_data", mixer(),
                   {"12 00 00 00 00 00  01 00 d0 80 02 00 ab cd  02 00 d0 00 00 00"}, "2:program"},
        bytes_case{"tsl5_a_packet_of_no_messages", mixer(), {"04 00 00 00 00 00"}, ""},
        bytes_case{"tsl5_other_screens_are_not_read", withScreen(2),
                   {"0a 00 00 00 01 00  01 00 d0 00 00 00", "0a 00 00 00 02 00  02 00 d0 00 00 00"}, "2:program"},
        bytes_case{"tsl5_every_screen_reaches_a_screen_filter", withScreen(2),
                   {"0a 00 00 00 ff ff  01 00 d0 00 00 00"}, "1:program"},
        bytes_case{"tsl5_without_a_filter_every_screen_is_read", mixer(),
                   {"0a 00 00 00 05 00  01 00 d0 00 00 00"}, "1:program"},
        bytes_case{"tsl5_a_count_that_is_not_its_size_is_refused", mixer(),
                   {"0b 00 00 00 00 00  01 00 d0 00 00 00", "0a 00 00 00 00 00  01 00 d0 00 05 00"}, ""},
        bytes_case{"tsl31_tally_1_is_program_2_preview", tsl31(0),
                   {"81 31 43 41 4d 20 31 20 20 20 20 20 20 20 20 20 20 20",
                    "82 32 43 41 4d 20 32 20 20 20 20 20 20 20 20 20 20 20",
                    "83 33 43 41 4d 20 33 20 20 20 20 20 20 20 20 20 20 20"},
                   "1:program 2:preview 3:program+preview"},
        bytes_case{"tsl31_address_base_1_numbers_from_1", tsl31(1),
                   {"80 01 43 41 4d 20 31 20 20 20 20 20 20 20 20 20 20 20"}, "1:program"},
        bytes_case{"tsl31_several_messages_in_a_datagram", tsl31(0),
                   {"81 01 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 "
                    "89 02 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"},
                   "1:program 9:preview"},
        bytes_case{"tsl31_address_127_is_every_display", tsl31(0),
                   {"ff 02 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"},
                   "1:preview 2:preview 3:preview 4:preview 9:preview"},
        bytes_case{"tsl31_tallies_3_and_4_are_neither_by_default", tsl31(0),
                   {"81 0c 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"}, ""},
        bytes_case{"tsl31_the_iso_tally_is_the_inputs", tsl31(0, 3),
                   {"81 0c 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"}, "1:iso"},
        bytes_case{"tsl31_a_datagram_that_is_not_18_bytes_is_refused", tsl31(0),
                   {"81 01 20 20 20", "01 01 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"}, ""}),
    [](const testing::TestParamInfo<bytes_case>& info) { return std::string(info.param.name); });

TEST(TallyInput, ChangesNameTheInputIndexAndPoint) {
    tally_input input(mixer());
    input_report report;
    input.packet(hex("0a 00 00 00 00 00  03 00 d0 00 00 00"), t0, report);
    EXPECT_EQ(report.changes, (std::vector<lit>{{"mixer1", 3, point{1, point::end::destination, 12}, program_bus}}));
    EXPECT_EQ(input.lits(), report.changes);
}

TEST(TallyInput, TcpStreamSplitAtEveryByteReadsLikeDatagrams) {
    // Two packets, the second with fe in its text (doubled on the stream),
    // with bytes before, between and after them.
    std::string stream = hex("00 17");
    appendTsl5StreamFrame(stream, hex("0a 00 00 00 00 00  01 00 d0 00 00 00"));
    stream += hex("33 44");
    appendTsl5StreamFrame(stream, hex("0c 00 00 00 00 00  09 00 c8 00 02 00 fe fe"));
    stream += hex("fe");
    tally_input input(mixer(tally_wire::tsl5_tcp));
    tsl5_stream_reader reader;
    std::vector<lit> changes;
    for (const char byte : stream) {
        input_report report;
        input.stream(reader, std::string_view(&byte, 1), t0, report);
        changes.insert(changes.end(), report.changes.begin(), report.changes.end());
    }
    EXPECT_EQ(said(changes), "1:program 9:preview");
}

TEST(TallyInput, IsUpFromItsFirstPacketAndDownAfterTimeoutHoldingItsLamps) {
    tally_input input(mixer());
    EXPECT_FALSE(input.up());
    EXPECT_EQ(input.deadline(), std::nullopt);
    input_report report;
    input.packet(hex(kLeftRed1), t0, report);
    EXPECT_EQ(report.up, std::optional<bool>(true));
    EXPECT_EQ(input.deadline(), std::optional(t0 + 3s));

    report = {};
    input.tick(t0 + 2999ms, report);
    EXPECT_EQ(report.up, std::nullopt);
    input.tick(t0 + 3s, report);
    EXPECT_EQ(report.up, std::optional<bool>(false));
    EXPECT_TRUE(report.changes.empty()) << "hold by default";
    EXPECT_EQ(said(input.lits()), "1:program");

    report = {};
    input.packet(hex(kLeftRed1), t0 + 10s, report);
    EXPECT_EQ(report.up, std::optional<bool>(true));
    EXPECT_TRUE(report.changes.empty()) << "what was held is no change";
}

TEST(TallyInput, OnLossClearPutsEveryLitIndexOut) {
    tally_input_config config = mixer();
    config.clearOnLoss = true;
    config.timeout = 500ms;
    tally_input input(config);
    input_report report;
    input.packet(hex("0a 00 00 00 00 00  ff ff e0 00 00 00"), t0, report);
    input.packet(hex(kOff1), t0 + 100ms, report);
    report = {};
    input.tick(t0 + 600ms, report);
    EXPECT_EQ(report.up, std::optional<bool>(false));
    EXPECT_EQ(said(report.changes), "2:off 3:off 4:off 9:off");
    EXPECT_TRUE(input.lits().empty());
}

TEST(TallyInput, AnUnmappedLitIndexIsCountedAndWarnedAtMostOnceAMinute) {
    tally_input input(mixer());
    const std::string index7 = hex("0a 00 00 00 00 00  07 00 d0 00 00 00");
    const std::string index8 = hex("0a 00 00 00 00 00  08 00 d0 00 00 00");
    input_report report;
    input.packet(index7, t0, report);
    EXPECT_EQ(report.warnings,
              std::vector<std::string>{"index 7 lit but mapped to nothing (1 such messages so far; [[tally_in.map]])"});
    report = {};
    input.packet(index7, t0 + 30s, report);
    input.packet(index8, t0 + 40s, report);
    input.packet(hex("0a 00 00 00 00 00  08 00 c0 00 00 00"), t0 + 50s, report);  // off: no news
    EXPECT_TRUE(report.warnings.empty());
    input.packet(index7, t0 + 60s, report);
    EXPECT_EQ(report.warnings,
              std::vector<std::string>{"indices 7, 8 lit but mapped to nothing (4 such messages so far; [[tally_in.map]])"});
    EXPECT_EQ(input.unmapped(), 4u);
}

TEST(TallyInput, AnUnreadablePacketIsCountedAndKeepsNoInputUp) {
    tally_input input(mixer());
    input_report report;
    input.packet(hex("01 02 03"), t0, report);
    input.packet(hex("01 02 03"), t0 + 1s, report);
    EXPECT_FALSE(input.up());
    EXPECT_EQ(input.unreadable(), 2u);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_EQ(report.warnings[0].rfind("a TSL 5 packet that is none: ", 0), 0u) << report.warnings[0];
}

}  // namespace
