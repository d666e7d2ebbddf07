// The bytes of TSL 5 and TSL 3.1 packets, the TCP wrapper and the text rules.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "quon/screens/tsl31/tsl31_packet.h"
#include "quon/screens/tsl5/tsl5_packet.h"
#include "tsl_decoder.h"

namespace {

using namespace quon;

tally_lamps lamps(lamp_colour left, lamp_colour text, lamp_colour right, uint8_t brightness) {
    return tally_lamps{left, text, right, brightness};
}

TEST(Tsl5Packet, MatchesTheWorkedExampleByteForByte) {
    const std::string packet =
        tsl5Packet(0, 7, lamps(lamp_colour::amber, lamp_colour::green, lamp_colour::red, 2), tsl5Text("CAM 1"));
    EXPECT_EQ(packet, bytesOf({0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0xb9, 0x00, 0x05, 0x00, 0x43, 0x41, 0x4d,
                               0x20, 0x31}));
}

TEST(Tsl5Packet, EveryLampColourAndBrightnessDecodesToWhatWasSent) {
    for (int left = 0; left < 4; ++left) {
        for (int text = 0; text < 4; ++text) {
            for (int right = 0; right < 4; ++right) {
                for (int brightness = 0; brightness < 4; ++brightness) {
                    const tally_lamps sent = lamps(static_cast<lamp_colour>(left), static_cast<lamp_colour>(text),
                                                   static_cast<lamp_colour>(right), static_cast<uint8_t>(brightness));
                    const auto packet = decodeTsl5(tsl5Packet(0x1234, 0xABCD, sent, tsl5Text("X")));
                    ASSERT_TRUE(packet.has_value());
                    ASSERT_EQ(packet->messages.size(), 1u);
                    const decoded_message& message = packet->messages[0];
                    EXPECT_EQ(message.left, left);
                    EXPECT_EQ(message.text, text);
                    EXPECT_EQ(message.right, right);
                    EXPECT_EQ(message.brightness, brightness);
                    EXPECT_EQ(message.control & 0x8000, 0) << "bit 15 is clear for a text message";
                    EXPECT_EQ(packet->screen, 0x1234);
                    EXPECT_EQ(message.index, 0xABCD);
                    EXPECT_EQ(packet->version, 0);
                }
            }
        }
    }
}

struct text_case {
    const char* name;
    std::string source;
    bool utf16;
    std::string bytes;
};
void PrintTo(const text_case& c, std::ostream* out) { *out << c.name; }

class Tsl5TextEncoding : public testing::TestWithParam<text_case> {};

TEST_P(Tsl5TextEncoding, SetsTheFlagAndEncodesTheText) {
    const text_case& c = GetParam();
    const auto packet = decodeTsl5(tsl5Packet(0, 1, tally_lamps{}, tsl5Text(c.source)));
    ASSERT_TRUE(packet.has_value());
    EXPECT_EQ(packet->flags, c.utf16 ? 1 : 0);
    ASSERT_EQ(packet->messages.size(), 1u);
    EXPECT_EQ(packet->messages[0].textBytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Tsl5TextEncoding,
    testing::Values(text_case{"ascii", "CAM 1", false, "CAM 1"}, text_case{"empty", "", false, ""},
                    text_case{"utf8_latin", "Caf\xc3\xa9", true, utf16le(u"Caf\u00e9")},
                    text_case{"utf8_beyond_bmp", "\xf0\x9d\x84\x9e", true, bytesOf({0x34, 0xd8, 0x1e, 0xdd})},
                    text_case{"windows1252_e_acute", "Caf\xe9", true, utf16le(u"Caf\u00e9")},
                    text_case{"windows1252_euro", "\x80 5", true, utf16le(u"\u20ac 5")},
                    text_case{"windows1252_when_one_byte_breaks_utf8", "\xc3\xa9\x80", true,
                              utf16le(u"\u00c3\u00a9\u20ac")},
                    text_case{"overlong_utf8_is_windows1252", "\xc0\xaf", true, utf16le(u"\u00c0\u00af")},
                    text_case{"encoded_surrogate_is_windows1252", "\xed\xa0\x80", true, utf16le(u"\u00ed\u00a0\u20ac")},
                    text_case{"control_characters_become_question_marks", "A\tB\x7f", false, "A?B?"},
                    text_case{"unassigned_windows1252_byte_is_a_question_mark", "A\x81", false, "A?"}),
    [](const testing::TestParamInfo<text_case>& info) { return std::string(info.param.name); });

TEST(Tsl5Text, CutsAsciiNamesAt64Characters) {
    const tsl5_text text = tsl5Text(std::string(70, 'x'));
    EXPECT_FALSE(text.utf16);
    EXPECT_EQ(text.bytes, std::string(tsl5_max_characters, 'x'));
}

TEST(Tsl5Text, CutsUnicodeNamesAt64CharactersNotBytes) {
    std::string name;
    for (int i = 0; i < 70; ++i) name += "\xc3\xa9";
    const tsl5_text text = tsl5Text(name);
    EXPECT_TRUE(text.utf16);
    EXPECT_EQ(text.bytes, utf16le(std::u16string(tsl5_max_characters, u'\u00e9')));
}

TEST(Tsl5Text, NeverSplitsASurrogatePair) {
    std::string name(63, 'a');
    name += "\xf0\x9d\x84\x9e";
    name += "bb";
    const tsl5_text text = tsl5Text(name);
    EXPECT_EQ(text.bytes.size(), 63u * 2 + 4);
    EXPECT_EQ(text.bytes.substr(126), bytesOf({0x34, 0xd8, 0x1e, 0xdd}));
}

TEST(Tsl5Packet, CarriesSeveralMessagesWithOneByteCount) {
    std::string packet;
    beginTsl5Packet(packet, 3, false);
    appendTsl5Message(packet, 1, lamps(lamp_colour::red, lamp_colour::off, lamp_colour::off, 3), tsl5Text("ONE"));
    appendTsl5Message(packet, 2, lamps(lamp_colour::off, lamp_colour::green, lamp_colour::off, 1), tsl5Text("TWO!"));
    finishTsl5Packet(packet);
    const auto decoded = decodeTsl5(packet);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->screen, 3);
    ASSERT_EQ(decoded->messages.size(), 2u);
    EXPECT_EQ(decoded->messages[0].index, 1);
    EXPECT_EQ(decoded->messages[0].left, 1);
    EXPECT_EQ(decoded->messages[0].textBytes, "ONE");
    EXPECT_EQ(decoded->messages[1].index, 2);
    EXPECT_EQ(decoded->messages[1].text, 2);
    EXPECT_EQ(decoded->messages[1].brightness, 1);
    EXPECT_EQ(decoded->messages[1].textBytes, "TWO!");
}

struct stuffing_case {
    const char* name;
    uint16_t screen;
    uint16_t index;
    tally_lamps lamps;
    tsl5_text text;
};
void PrintTo(const stuffing_case& c, std::ostream* out) { *out << c.name; }

class Tsl5StreamFrame : public testing::TestWithParam<stuffing_case> {};

TEST_P(Tsl5StreamFrame, DoublesEveryFeAndUnwrapsToThePacket) {
    const stuffing_case& c = GetParam();
    const std::string packet = tsl5Packet(c.screen, c.index, c.lamps, c.text);
    size_t fes = 0;
    for (const char byte : packet) fes += static_cast<unsigned char>(byte) == 0xFE ? 1 : 0;
    ASSERT_GT(fes, 0u) << "the case must put an fe in the packet";

    std::string stream;
    appendTsl5StreamFrame(stream, packet);
    EXPECT_EQ(stream.substr(0, 2), bytesOf({0xfe, 0x02}));
    EXPECT_EQ(stream.size(), 2 + packet.size() + fes);
    for (size_t i = 2; i < stream.size(); ++i) {
        if (static_cast<unsigned char>(stream[i]) != 0xFE) continue;
        ASSERT_LT(i + 1, stream.size());
        EXPECT_EQ(static_cast<unsigned char>(stream[i + 1]), 0xFE) << "at " << i;
        ++i;
    }
    appendTsl5StreamFrame(stream, packet);
    EXPECT_EQ(unwrapTsl5Stream(stream), (std::vector<std::string>{packet, packet}));
}

tally_lamps controlFe() {
    // right green, text amber, left amber, brightness 3: 0xFE.
    return lamps(lamp_colour::amber, lamp_colour::amber, lamp_colour::green, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Tsl5StreamFrame,
    testing::Values(stuffing_case{"index", 0, 0x00FE, tally_lamps{}, tsl5Text("A")},
                    stuffing_case{"index_high_byte", 0, 0xFE01, tally_lamps{}, tsl5Text("A")},
                    stuffing_case{"screen", 0xFEFE, 1, tally_lamps{}, tsl5Text("A")},
                    stuffing_case{"control", 0, 1, controlFe(), tsl5Text("A")},
                    stuffing_case{"length", 0, 1, tally_lamps{}, tsl5_text{std::string(0xFE, 'x'), false}},
                    stuffing_case{"byte_count", 0, 1, tally_lamps{}, tsl5_text{std::string(0xFE - 10, 'x'), false}},
                    stuffing_case{"text", 0, 1, tally_lamps{}, tsl5Text("\xc3\xbe\xef\xbb\xbf")}),
    [](const testing::TestParamInfo<stuffing_case>& info) { return std::string(info.param.name); });

TEST(Tsl31Packet, IsAddressControlAndSixteenCharacters) {
    const tsl31_tally_map standard{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};
    const uint8_t control = tsl31Control(lamps(lamp_colour::red, lamp_colour::off, lamp_colour::green, 3), standard);
    EXPECT_EQ(control, 0x35);
    const std::string packet = tsl31Packet(5, control, tsl31Text("CAM 1"));
    EXPECT_EQ(packet, bytesOf({0x85, 0x35}) + "CAM 1           ");
    EXPECT_EQ(packet.size(), tsl31_packet_size);
    EXPECT_EQ(static_cast<unsigned char>(tsl31Packet(126, 0, tsl31Text(""))[0]), 0xFE);
}

struct tally31_case {
    const char* name;
    tally_lamps lamps;
    tsl31_tally_map map;
    uint8_t control;
};
void PrintTo(const tally31_case& c, std::ostream* out) { *out << c.name; }

class Tsl31Control : public testing::TestWithParam<tally31_case> {};

TEST_P(Tsl31Control, SetsTheTalliesOfLitLampsAndTheBrightness) {
    EXPECT_EQ(tsl31Control(GetParam().lamps, GetParam().map), GetParam().control);
}

constexpr tsl31_tally_map kStandard{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};
constexpr tsl31_tally_map kShuffled{tally_lamp::right, tally_lamp::none, tally_lamp::left, tally_lamp::text};

INSTANTIATE_TEST_SUITE_P(
    Maps, Tsl31Control,
    testing::Values(
        tally31_case{"all_off", lamps(lamp_colour::off, lamp_colour::off, lamp_colour::off, 0), kStandard, 0x00},
        tally31_case{"left_is_tally_1", lamps(lamp_colour::amber, lamp_colour::off, lamp_colour::off, 0), kStandard,
                     0x01},
        tally31_case{"text_is_tally_2", lamps(lamp_colour::off, lamp_colour::red, lamp_colour::off, 0), kStandard,
                     0x02},
        tally31_case{"right_is_tally_3", lamps(lamp_colour::off, lamp_colour::off, lamp_colour::green, 0), kStandard,
                     0x04},
        tally31_case{"all_on_brightness_1", lamps(lamp_colour::red, lamp_colour::red, lamp_colour::red, 1), kStandard,
                     0x17},
        tally31_case{"brightness_2", lamps(lamp_colour::off, lamp_colour::off, lamp_colour::off, 2), kStandard, 0x20},
        tally31_case{"shuffled_right_is_tally_1", lamps(lamp_colour::off, lamp_colour::off, lamp_colour::red, 0),
                     kShuffled, 0x01},
        tally31_case{"shuffled_text_is_tally_4", lamps(lamp_colour::off, lamp_colour::green, lamp_colour::off, 3),
                     kShuffled, 0x38},
        tally31_case{"shuffled_left_is_tally_3", lamps(lamp_colour::amber, lamp_colour::off, lamp_colour::off, 0),
                     kShuffled, 0x04}),
    [](const testing::TestParamInfo<tally31_case>& info) { return std::string(info.param.name); });

struct text31_case {
    const char* name;
    std::string source;
    std::string text;
};
void PrintTo(const text31_case& c, std::ostream* out) { *out << c.name; }

class Tsl31Text : public testing::TestWithParam<text31_case> {};

TEST_P(Tsl31Text, IsSixteenPrintableAsciiCharacters) { EXPECT_EQ(tsl31Text(GetParam().source), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Tsl31Text,
    testing::Values(text31_case{"padded_with_blanks", "CAM 1", "CAM 1           "},
                    text31_case{"empty_is_blank", "", std::string(16, ' ')},
                    text31_case{"exactly_sixteen", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP"},
                    text31_case{"cut_at_sixteen", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOP"},
                    text31_case{"utf8_character_is_one_question_mark", "Caf\xc3\xa9 2", "Caf? 2          "},
                    text31_case{"windows1252_character_is_one_question_mark", "Caf\xe9 2", "Caf? 2          "},
                    text31_case{"cut_counts_characters_not_bytes",
                                "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                                "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                                "ABCDEFGH",
                                "??????????ABCDEF"},
                    text31_case{"control_character_is_a_question_mark", "A\tB", "A?B             "}),
    [](const testing::TestParamInfo<text31_case>& info) { return std::string(info.param.name); });

// What any sender may send, read by the decoders the tally inputs use:
// written out byte by byte from the protocol description.
struct decode5_case {
    const char* name;
    std::string bytes;
    // Each message: index, control, text; none when the packet is refused.
    std::optional<std::vector<std::tuple<uint16_t, uint16_t, std::string>>> messages;
};
void PrintTo(const decode5_case& c, std::ostream* out) { *out << c.name; }

class Tsl5Decode : public testing::TestWithParam<decode5_case> {};

TEST_P(Tsl5Decode, ReadsEveryMessageOrRefusesSayingWhy) {
    const decode5_case& c = GetParam();
    std::string why;
    const std::optional<tsl5_packet> packet = decodeTsl5Packet(c.bytes, &why);
    ASSERT_EQ(packet.has_value(), c.messages.has_value()) << why;
    if (!packet) {
        EXPECT_FALSE(why.empty());
        return;
    }
    std::vector<std::tuple<uint16_t, uint16_t, std::string>> read;
    for (const tsl5_message& m : packet->messages) read.emplace_back(m.index, m.control, m.text);
    EXPECT_EQ(read, *c.messages);
}

using messages5 = std::vector<std::tuple<uint16_t, uint16_t, std::string>>;

INSTANTIATE_TEST_SUITE_P(
    Packets, Tsl5Decode,
    testing::Values(
        decode5_case{"worked_example",
                     bytesOf({0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0xb9, 0x00, 0x05, 0x00, 0x43, 0x41,
                              0x4d, 0x20, 0x31}),
                     messages5{{7, 0xb9, "CAM 1"}}},
        decode5_case{"tally_only_message_without_text",
                     bytesOf({0x0a, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00}),
                     messages5{{3, 0x01, ""}}},
        decode5_case{"broadcast_index_and_control_data",
                     bytesOf({0x0a, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0x00, 0x80, 0x00, 0x00}),
                     messages5{{0xffff, 0x8000, ""}}},
        decode5_case{"several_messages",
                     bytesOf({0x11, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x10, 0x00, 0x01, 0x00, 0x41, 0x02,
                              0x00, 0x04, 0x00, 0x00, 0x00}),
                     messages5{{1, 0x10, "A"}, {2, 0x04, ""}}},
        decode5_case{"header_only", bytesOf({0x04, 0x00, 0x00, 0x00, 0x00, 0x00}), messages5{}},
        decode5_case{"shorter_than_a_header", bytesOf({0x03, 0x00, 0x00, 0x00, 0x00}), std::nullopt},
        decode5_case{"byte_count_not_its_size", bytesOf({0x05, 0x00, 0x00, 0x00, 0x00, 0x00}), std::nullopt},
        decode5_case{"message_header_cut",
                     bytesOf({0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}), std::nullopt},
        decode5_case{"text_runs_past_the_end",
                     bytesOf({0x0b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x41}),
                     std::nullopt}),
    [](const testing::TestParamInfo<decode5_case>& info) { return std::string(info.param.name); });

TEST(Tsl5Decode, ReadsLampsAsTheyWereEncoded) {
    const tally_lamps sent = lamps(lamp_colour::amber, lamp_colour::green, lamp_colour::red, 2);
    const auto packet = decodeTsl5Packet(tsl5Packet(0, 1, sent, tsl5Text("X")));
    ASSERT_TRUE(packet.has_value());
    EXPECT_EQ(packet->messages[0].lamps(), sent);
    EXPECT_FALSE(packet->messages[0].controlData());
}

// A stream split at every byte, with bytes between packets and an fe in
// each packet, gives the same packets as one piece.
TEST(Tsl5StreamReader, TakesPacketsSplitAtAnyByteAndSkipsBytesBetweenThem) {
    const std::string first = tsl5Packet(0, 0x00FE, tally_lamps{}, tsl5Text("A"));
    const std::string second = tsl5Packet(0xFEFE, 2, tally_lamps{}, tsl5Text("\xc3\xbe"));
    std::string stream = "noise";
    appendTsl5StreamFrame(stream, first);
    stream += bytesOf({0x00, 0xfe, 0xfe, 0x41});  // between packets, a doubled DLE too
    appendTsl5StreamFrame(stream, second);
    for (size_t split = 0; split <= stream.size(); ++split) {
        tsl5_stream_reader reader;
        std::vector<std::string> packets;
        reader.feed(std::string_view(stream).substr(0, split), packets);
        reader.feed(std::string_view(stream).substr(split), packets);
        EXPECT_EQ(packets, (std::vector<std::string>{first, second})) << "split at " << split;
    }
    tsl5_stream_reader byByte;
    std::vector<std::string> packets;
    for (const char byte : stream) byByte.feed(std::string_view(&byte, 1), packets);
    EXPECT_EQ(packets, (std::vector<std::string>{first, second}));
}

TEST(Tsl5StreamReader, DropsAPacketCutShortByTheNextAndOneTooLong) {
    const std::string packet = tsl5Packet(0, 1, tally_lamps{}, tsl5Text("CAM 1"));
    std::string stream;
    appendTsl5StreamFrame(stream, packet.substr(0, 7));  // the sender restarted mid-packet
    appendTsl5StreamFrame(stream, packet);
    stream += bytesOf({0xfe, 0x02, 0xff, 0xff});  // a byte count beyond any packet
    stream += std::string(tsl5_max_packet_size, 'x');
    appendTsl5StreamFrame(stream, packet);
    tsl5_stream_reader reader;
    std::vector<std::string> packets;
    reader.feed(stream, packets);
    EXPECT_EQ(packets, (std::vector<std::string>{packet, packet}));
}

struct decode31_case {
    const char* name;
    std::string bytes;
    std::optional<std::tuple<uint8_t, uint8_t, std::string>> message;
};
void PrintTo(const decode31_case& c, std::ostream* out) { *out << c.name; }

class Tsl31Decode : public testing::TestWithParam<decode31_case> {};

TEST_P(Tsl31Decode, ReadsTheMessageOrRefusesSayingWhy) {
    const decode31_case& c = GetParam();
    std::string why;
    const std::optional<tsl31_message> message = decodeTsl31Packet(c.bytes, &why);
    ASSERT_EQ(message.has_value(), c.message.has_value()) << why;
    if (!message) {
        EXPECT_FALSE(why.empty());
        return;
    }
    EXPECT_EQ(std::make_tuple(message->address, message->control, message->text), *c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, Tsl31Decode,
    testing::Values(decode31_case{"address_5_tallies_1_and_3", bytesOf({0x85, 0x35}) + "CAM 1           ",
                                  std::make_tuple(uint8_t{5}, uint8_t{0x35}, std::string("CAM 1           "))},
                    decode31_case{"address_126", bytesOf({0xfe, 0x00}) + std::string(16, ' '),
                                  std::make_tuple(uint8_t{126}, uint8_t{0}, std::string(16, ' '))},
                    decode31_case{"too_short", bytesOf({0x85, 0x00}) + "CAM 1", std::nullopt},
                    decode31_case{"too_long", bytesOf({0x85, 0x00}) + std::string(17, ' '), std::nullopt},
                    decode31_case{"no_address_bit", bytesOf({0x05, 0x00}) + std::string(16, ' '), std::nullopt}),
    [](const testing::TestParamInfo<decode31_case>& info) { return std::string(info.param.name); });

TEST(Tsl31Decode, ReadsTalliesAsTheyWereEncoded) {
    const tsl31_tally_map standard{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};
    const uint8_t control = tsl31Control(lamps(lamp_colour::red, lamp_colour::off, lamp_colour::green, 3), standard);
    const auto message = decodeTsl31Packet(tsl31Packet(5, control, tsl31Text("CAM 1")));
    ASSERT_TRUE(message.has_value());
    EXPECT_TRUE(message->tally(1));
    EXPECT_FALSE(message->tally(2));
    EXPECT_TRUE(message->tally(3));
    EXPECT_FALSE(message->tally(4));
    EXPECT_EQ(message->text, "CAM 1           ");
}

}  // namespace
