// display_queue without sockets: what is queued, and the packets that carry it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "quon/screens/tsl31/tsl31_packet.h"
#include "quon/screens/tsl5/tsl5_packet.h"
#include "quon/screens/display_queue.h"
#include "screen_codecs.h"
#include "tsl_decoder.h"

namespace {

using namespace quon;

const tsl31_tally_map default_tally31{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};
const tally_lamps alarm_lamps{lamp_colour::red, lamp_colour::amber, lamp_colour::green, 2};
const tally_lamps dark{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3};

struct display_at {
    uint16_t screen = 0;
    uint16_t index = 0;
};

struct shown_text {
    size_t slot = 0;
    std::string text;
};

// What a packet carries: its screen, its text encoding, each display's
// index and the text it was shown.
struct expected_packet {
    uint16_t screen = 0;
    bool utf16 = false;
    std::vector<std::pair<uint16_t, std::string>> messages;
};

struct packet_case {
    const char* name;
    bool batch;
    std::vector<display_at> displays;
    std::vector<shown_text> shows;
    std::vector<expected_packet> packets;
};
void PrintTo(const packet_case& c, std::ostream* out) { *out << c.name; }

std::vector<display_at> onScreen(uint16_t screen, uint16_t count) {
    std::vector<display_at> displays;
    for (uint16_t i = 0; i < count; ++i) displays.push_back({screen, i});
    return displays;
}

// Shows `text` on displays first..last-1 in turn.
std::vector<shown_text> showEach(size_t first, size_t last, const std::string& text) {
    std::vector<shown_text> shows;
    for (size_t slot = first; slot < last; ++slot) shows.push_back({slot, text});
    return shows;
}

std::vector<shown_text> join(std::vector<shown_text> a, const std::vector<shown_text>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

expected_packet carrying(uint16_t first, uint16_t last, const std::string& text, bool utf16 = false) {
    expected_packet packet;
    packet.utf16 = utf16;
    for (uint16_t index = first; index < last; ++index) packet.messages.emplace_back(index, text);
    return packet;
}

expected_packet plus(expected_packet packet, uint16_t index, const std::string& text) {
    packet.messages.emplace_back(index, text);
    return packet;
}

const std::string long64(64, 'x');   // a 70-byte message
const std::string accented64 = [] {  // 64 characters sent as UTF-16: a 134-byte message
    std::string text;
    for (int i = 0; i < 64; ++i) text += "\xC3\xA9";
    return text;
}();

// 29 messages of 70 bytes and one of 12 fill a packet to exactly 2,048
// bytes (6 of header); a 13-byte last message no longer fits.
const std::vector<packet_case> packet_cases = {
    {"OneDisplayAPacketWithoutBatch",
     false,
     onScreen(0, 3),
     showEach(0, 3, "CAM"),
     {carrying(0, 1, "CAM"), carrying(1, 2, "CAM"), carrying(2, 3, "CAM")}},
    {"BatchPacksOneScreenAndStartsAnotherForTheNext",
     true,
     {{0, 1}, {0, 2}, {0, 3}, {1, 4}},
     {{0, "A"}, {1, "B"}, {2, "C"}, {3, "D"}},
     {plus(plus(carrying(1, 2, "A"), 2, "B"), 3, "C"),
      [] {
          auto packet = carrying(4, 5, "D");
          packet.screen = 1;
          return packet;
      }()}},
    {"BatchFillsAPacketToExactly2048Bytes",
     true,
     onScreen(0, 30),
     join(showEach(0, 29, long64), {{29, "123456"}}),
     {plus(carrying(0, 29, long64), 29, "123456")}},
    {"BatchStartsANewPacketOneByteBeyond2048",
     true,
     onScreen(0, 30),
     join(showEach(0, 29, long64), {{29, "1234567"}}),
     {carrying(0, 29, long64), carrying(29, 30, "1234567")}},
    {"BatchNeverExceeds2048BytesOverManyPackets",
     true,
     onScreen(0, 100),
     showEach(0, 100, long64),
     {carrying(0, 29, long64), carrying(29, 58, long64), carrying(58, 87, long64), carrying(87, 100, long64)}},
    {"BatchKeepsUtf16TextsInPacketsOfTheirOwn",
     true,
     onScreen(0, 4),
     {{0, "A"}, {1, "\xC3\xA9t\xC3\xA9"}, {2, "\xE2\x82\xAC"}, {3, "D"}},
     {carrying(0, 1, "A"), plus(carrying(1, 2, "\xC3\xA9t\xC3\xA9", true), 2, "\xE2\x82\xAC"), carrying(3, 4, "D")}},
    {"BatchOfUtf16TextsStaysWithin2048Bytes",
     true,
     onScreen(0, 16),
     showEach(0, 16, accented64),
     {carrying(0, 15, accented64, true), carrying(15, 16, accented64, true)}},
    {"ADisplayChangedTwiceWhileQueuedGoesOnceWithItsLatestState",
     false,
     onScreen(0, 2),
     {{0, "OLD"}, {1, "B"}, {0, "NEW"}},
     {carrying(0, 1, "NEW"), carrying(1, 2, "B")}},
    {"ADisplayChangedTwiceWhileQueuedGoesOnceInABatch",
     true,
     onScreen(0, 2),
     {{0, "OLD"}, {1, "B"}, {0, "NEW"}},
     {plus(carrying(0, 1, "NEW"), 1, "B")}},
};

class DisplayQueuePackets : public testing::TestWithParam<packet_case> {};

TEST_P(DisplayQueuePackets, CarryTheQueuedDisplaysInOrder) {
    const packet_case& c = GetParam();
    display_queue queue(codecFor(&tsl5_protocol, c.batch, default_tally31));
    for (const display_at& display : c.displays) queue.addDisplay(display.screen, display.index);
    for (const shown_text& show : c.shows) queue.show(show.slot, show.text, alarm_lamps);

    std::vector<std::string> packets;
    std::string packet;
    while (queue.nextPacket(packet)) packets.push_back(packet);
    EXPECT_EQ(queue.waiting(), 0u);
    ASSERT_EQ(packets.size(), c.packets.size());
    for (size_t p = 0; p < packets.size(); ++p) {
        SCOPED_TRACE("packet " + std::to_string(p));
        EXPECT_LE(packets[p].size(), tsl5_max_packet_size);
        const auto decoded = decodeTsl5(packets[p]);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->screen, c.packets[p].screen);
        EXPECT_EQ(decoded->flags & 1, c.packets[p].utf16 ? 1 : 0);
        ASSERT_EQ(decoded->messages.size(), c.packets[p].messages.size());
        for (size_t m = 0; m < decoded->messages.size(); ++m) {
            EXPECT_EQ(decoded->messages[m].index, c.packets[p].messages[m].first);
            EXPECT_EQ(decoded->messages[m].textBytes, tsl5Text(c.packets[p].messages[m].second).bytes);
            EXPECT_EQ(decoded->messages[m].control, tsl5Control(alarm_lamps));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DisplayQueue, DisplayQueuePackets, testing::ValuesIn(packet_cases),
                         [](const testing::TestParamInfo<packet_case>& info) { return std::string(info.param.name); });

TEST(DisplayQueue, Tsl31SendsOneDatagramADisplayEvenWithBatch) {
    const tsl31_tally_map tallies{tally_lamp::text, tally_lamp::none, tally_lamp::left, tally_lamp::right};
    display_queue queue(codecFor(&tsl31_protocol, true, tallies));
    queue.addDisplay(0, 5);
    queue.addDisplay(0, 6);
    queue.show(0, "CAM 1", alarm_lamps);
    queue.show(1, "\xC3\xA9t\xC3\xA9", dark);

    std::string packet;
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(packet, tsl31Packet(5, tsl31Control(alarm_lamps, tallies), tsl31Text("CAM 1")));
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(packet, tsl31Packet(6, tsl31Control(dark, tallies), tsl31Text("\xC3\xA9t\xC3\xA9")));
    EXPECT_EQ(packet.size(), tsl31_packet_size);
    EXPECT_FALSE(queue.nextPacket(packet));
}

// A protocol that is not TSL: each message a line "screen.index=text", at
// most two lines of one screen a packet, framed on a stream by a count.
class line_codec final : public screen_codec {
public:
    void encode(uint16_t screen, uint16_t index, const std::string& text, const tally_lamps&,
                screen_message& out) const override {
        out.bytes = std::to_string(screen) + "." + std::to_string(index) + "=" + text + "\n";
        out.group = screen;
    }
    void begin(std::string& packet, const screen_message& first) const override { packet = first.bytes; }
    bool append(std::string& packet, const screen_message& next) const override {
        const uint32_t screen = static_cast<uint32_t>(std::stoul(packet.substr(0, packet.find('.'))));
        if (next.group != screen || std::count(packet.begin(), packet.end(), '\n') == 2) return false;
        packet += next.bytes;
        return true;
    }
    void finish(std::string&) const override {}
    bool buildsAlike(const screen_codec& other) const override {
        return dynamic_cast<const line_codec*>(&other) != nullptr;
    }
};

TEST(DisplayQueue, PacksMessagesAsItsCodecSaysWhateverTheProtocol) {
    const line_codec codec;
    display_queue queue(codec);
    for (const display_at& at : {display_at{0, 1}, display_at{0, 2}, display_at{0, 3}, display_at{1, 4}})
        queue.addDisplay(at.screen, at.index);
    for (size_t slot = 0; slot < 4; ++slot) queue.show(slot, "CAM " + std::to_string(slot), alarm_lamps);
    std::vector<std::string> packets;
    for (std::string packet; queue.nextPacket(packet);) packets.push_back(packet);
    EXPECT_EQ(packets, (std::vector<std::string>{"0.1=CAM 0\n0.2=CAM 1\n", "0.3=CAM 2\n", "1.4=CAM 3\n"}));
}

TEST(DisplayQueue, ARepeatedStateIsNeitherAChangeNorQueued) {
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    queue.addDisplay(0, 1);
    EXPECT_TRUE(queue.show(0, "CAM 1", alarm_lamps));
    std::string packet;
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_FALSE(queue.show(0, "CAM 1", alarm_lamps));
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_TRUE(queue.show(0, "CAM 1", dark)) << "the lamps alone are a change";
    EXPECT_EQ(queue.waiting(), 1u);
}

TEST(DisplayQueue, RefreshQueuesEveryShownDisplayOnce) {
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    for (uint16_t i = 0; i < 3; ++i) queue.addDisplay(0, i);
    queue.show(0, "A", alarm_lamps);
    queue.show(2, "C", alarm_lamps);
    std::string packet;
    while (queue.nextPacket(packet)) {
    }
    queue.refresh();
    queue.refresh();
    EXPECT_EQ(queue.waiting(), 2u) << "never shown, display 1 is not sent";
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(decodeTsl5(packet)->messages[0].index, 0);
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(decodeTsl5(packet)->messages[0].index, 2);
    EXPECT_FALSE(queue.nextPacket(packet));
}

TEST(DisplayQueue, StandbyDropsTheQueueAndQueuesNothingButKeepsTheLatestState) {
    display_queue queue(codecFor(&tsl5_protocol, true, default_tally31));
    for (uint16_t i = 0; i < 3; ++i) queue.addDisplay(0, i);
    queue.show(0, "A", alarm_lamps);
    queue.show(1, "B", alarm_lamps);
    queue.setStandby(true);
    EXPECT_TRUE(queue.standby());
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_TRUE(queue.show(1, "B2", alarm_lamps));
    queue.refresh();
    EXPECT_EQ(queue.waiting(), 0u);
    std::string packet;
    EXPECT_FALSE(queue.nextPacket(packet));
    EXPECT_TRUE(queue.shown(1));
    EXPECT_FALSE(queue.shown(2));
}

TEST(DisplayQueue, BecomingActiveQueuesEveryShownDisplayOnceWithItsLatestState) {
    display_queue queue(codecFor(&tsl5_protocol, true, default_tally31));
    for (uint16_t i = 0; i < 4; ++i) queue.addDisplay(0, i);
    queue.setStandby(true);
    queue.show(0, "A", alarm_lamps);
    queue.show(2, "C", alarm_lamps);
    queue.show(2, "C2", alarm_lamps);
    queue.setStandby(false);
    queue.setStandby(false);
    EXPECT_EQ(queue.waiting(), 2u);
    std::string packet;
    ASSERT_TRUE(queue.nextPacket(packet));
    const auto decoded = decodeTsl5(packet);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->messages.size(), 2u);
    EXPECT_EQ(decoded->messages[0].textBytes, "A");
    EXPECT_EQ(decoded->messages[1].index, 2);
    EXPECT_EQ(decoded->messages[1].textBytes, "C2");
    EXPECT_FALSE(queue.nextPacket(packet));
}

TEST(DisplayQueue, BlankQueuesThePickedDisplaysWithoutTextAndEveryLampOff) {
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    for (uint16_t i = 0; i < 3; ++i) queue.addDisplay(0, i);
    queue.show(0, "A", alarm_lamps);
    queue.show(1, "", dark);
    std::string packet;
    while (queue.nextPacket(packet)) {
    }
    EXPECT_EQ(queue.blank([](size_t slot) { return slot != 2; }), 2u);
    EXPECT_EQ(queue.waiting(), 2u) << "a display blank already is blanked again";
    for (uint16_t index = 0; index < 2; ++index) {
        ASSERT_TRUE(queue.nextPacket(packet));
        const auto decoded = decodeTsl5(packet);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->messages[0].index, index);
        EXPECT_EQ(decoded->messages[0].textBytes, "");
        EXPECT_EQ(decoded->messages[0].control, tsl5Control(dark));
    }
    EXPECT_FALSE(queue.nextPacket(packet));
}

TEST(DisplayQueue, WaitingCountsTheDisplaysNotYetInAPacket) {
    display_queue queue(codecFor(&tsl5_protocol, true, default_tally31));
    for (uint16_t i = 0; i < 40; ++i) queue.addDisplay(0, i);
    for (size_t slot = 0; slot < 40; ++slot) queue.show(slot, long64, alarm_lamps);
    EXPECT_EQ(queue.waiting(), 40u);
    std::string packet;
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(queue.waiting(), 11u);
    queue.setStandby(true);
    EXPECT_EQ(queue.waiting(), 0u) << "standby drops what waits";
    EXPECT_FALSE(queue.nextPacket(packet));
    queue.show(3, "again", alarm_lamps);
    EXPECT_EQ(queue.waiting(), 0u) << "nothing is queued on standby";
    queue.setStandby(false);
    EXPECT_EQ(queue.waiting(), 40u) << "a dropped display can be queued again, once";
}

// What one display's screen gets: the text and lamps of the one packet
// queued, or nothing when none is.
struct on_screen {
    std::string text;
    tally_lamps lamps;
    bool operator==(const on_screen& other) const { return text == other.text && lamps == other.lamps; }
};

struct lost_case {
    const char* name;
    router_lost lost;
    std::optional<on_screen> atOnce;  // when the router is lost
    std::optional<on_screen> later;   // `lost.after` later
    lost_treatment shownLater;
};

router_lost lostWith(lost_treatment treatment) {
    router_lost lost;
    lost.treatment = treatment;
    lost.markLamp = tally_lamp::right;
    lost.markColour = lamp_colour::amber;
    lost.text = "NO ROUTER";
    lost.after = std::chrono::seconds(10);
    return lost;
}

const tally_lamps marked_lamps{lamp_colour::red, lamp_colour::amber, lamp_colour::amber, 2};
const tally_lamps dark_at_2{lamp_colour::off, lamp_colour::off, lamp_colour::off, 2};

const lost_case lost_cases[] = {
    {"keep", lostWith(lost_treatment::keep), std::nullopt, std::nullopt, lost_treatment::keep},
    {"mark", lostWith(lost_treatment::mark), on_screen{"CAM 1", marked_lamps}, std::nullopt, lost_treatment::mark},
    {"blank", lostWith(lost_treatment::blank), std::nullopt, on_screen{"", dark_at_2}, lost_treatment::blank},
    {"text", lostWith(lost_treatment::text), std::nullopt, on_screen{"NO ROUTER", alarm_lamps}, lost_treatment::text},
};

void PrintTo(const lost_case& c, std::ostream* out) { *out << c.name; }

class DisplayQueueRouterLost : public testing::TestWithParam<lost_case> {};

// The one packet queued, decoded; nothing when none is.
std::optional<on_screen> next(display_queue& queue, const std::vector<on_screen>& known) {
    std::string packet;
    if (!queue.nextPacket(packet)) return std::nullopt;
    EXPECT_EQ(queue.waiting(), 0u);
    const auto decoded = decodeTsl5(packet);
    EXPECT_TRUE(decoded.has_value());
    if (!decoded) return std::nullopt;
    for (const on_screen& screen : known)
        if (decoded->messages[0].textBytes == tsl5Text(screen.text).bytes &&
            decoded->messages[0].control == tsl5Control(screen.lamps))
            return screen;
    ADD_FAILURE() << "an unexpected packet: \"" << decoded->messages[0].textBytes << "\"";
    return std::nullopt;
}

TEST_P(DisplayQueueRouterLost, TheScreenShowsWhatTheSettingSaysAndTheNameAgainOnceTheRouterIsBack) {
    const lost_case& c = GetParam();
    using clock = display_queue::clock;
    const clock::time_point t0 = clock::now();
    const std::vector<on_screen> known = {{"CAM 1", alarm_lamps}, {"CAM 2", alarm_lamps}, {"CAM 1", marked_lamps},
                                          {"CAM 2", marked_lamps}, {"", dark_at_2},       {"NO ROUTER", alarm_lamps}};
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    queue.addDisplay(0, 4, c.lost);
    queue.show(0, "CAM 1", alarm_lamps);
    next(queue, known);

    queue.setRouterLost(0, t0, t0);
    EXPECT_EQ(next(queue, known), c.atOnce);
    const bool waits = c.later.has_value();
    EXPECT_EQ(queue.nextChange(), waits ? std::optional(t0 + c.lost.after) : std::nullopt);
    EXPECT_EQ(queue.advance(t0 + c.lost.after - std::chrono::milliseconds(1)), 0u);
    EXPECT_EQ(queue.advance(t0 + c.lost.after), waits ? 1u : 0u);
    EXPECT_EQ(next(queue, known), c.later);
    EXPECT_EQ(queue.treatment(0), c.shownLater);
    EXPECT_EQ(queue.nextChange(), std::nullopt);

    // A new name while the router is lost changes only what the name shows.
    queue.show(0, "CAM 2", alarm_lamps);
    const bool named = c.shownLater == lost_treatment::keep || c.shownLater == lost_treatment::mark;
    EXPECT_EQ(next(queue, known),
              named ? std::optional(on_screen{"CAM 2", c.shownLater == lost_treatment::mark ? marked_lamps : alarm_lamps})
                    : std::nullopt);

    queue.setRouterLost(0, std::nullopt, t0 + c.lost.after);
    const bool unchanged = c.shownLater == lost_treatment::keep;
    EXPECT_EQ(next(queue, known), unchanged ? std::nullopt : std::optional(on_screen{"CAM 2", alarm_lamps}));
    EXPECT_EQ(queue.treatment(0), lost_treatment::keep);
}

INSTANTIATE_TEST_SUITE_P(DisplayQueue, DisplayQueueRouterLost, testing::ValuesIn(lost_cases),
                         [](const testing::TestParamInfo<lost_case>& info) { return std::string(info.param.name); });

TEST(DisplayQueue, ARouterLostLongAgoShowsAtOnceAndADisplayNeverShownStaysUnsent) {
    using clock = display_queue::clock;
    const clock::time_point now = clock::now();
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    queue.addDisplay(0, 1, lostWith(lost_treatment::text));
    queue.addDisplay(0, 2, lostWith(lost_treatment::text));
    queue.show(0, "CAM 1", alarm_lamps);
    std::string packet;
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_TRUE(queue.setRouterLost(0, now - std::chrono::seconds(60), now));
    EXPECT_FALSE(queue.setRouterLost(1, now - std::chrono::seconds(60), now)) << "nothing of ours on that screen";
    ASSERT_TRUE(queue.nextPacket(packet));
    EXPECT_EQ(decodeTsl5(packet)->messages[0].textBytes, "NO ROUTER");
    EXPECT_FALSE(queue.nextPacket(packet));
    EXPECT_EQ(queue.nextChange(), std::nullopt);
}

}  // namespace
