// SW-P-08 frames: stuffing, byte count and checksum both ways, resync after
// bad bytes, and the byte layouts of the messages the links use.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "quon/routers/swp08/swp08_protocol.h"

namespace sw = quon::routers::swp08;
using bytes = std::vector<std::uint8_t>;

namespace {

struct collected : sw::frame_sink {
    std::vector<bytes> frames;
    int acks = 0;
    int naks = 0;
    std::vector<sw::frame_problem> problems;
    void onFrame(const bytes& data) override { frames.push_back(data); }
    void onAck() override { ++acks; }
    void onNak() override { ++naks; }
    void onFrameProblem(sw::frame_problem problem) override { problems.push_back(problem); }
};

collected read(const std::vector<bytes>& pieces) {
    sw::frame_reader reader;
    collected sink;
    for (const bytes& piece : pieces) reader.feed(piece.data(), piece.size(), sink);
    return sink;
}

bytes join(std::initializer_list<bytes> parts) {
    bytes all;
    for (const bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(Swp08Frame, WrapsDataWithCountAndChecksum) {
    // interrogate, matrix 0 level 0, destination 0: sum 01 + 04 = 05, checksum FB
    EXPECT_EQ(sw::frame({0x01, 0x00, 0x00, 0x00}), (bytes{0x10, 0x02, 0x01, 0x00, 0x00, 0x00, 0x04, 0xFB, 0x10, 0x03}));
}

TEST(Swp08Frame, DoublesEveryDleWithin) {
    // destination 16 = 0x10 in the data
    const bytes framed = sw::frame({0x01, 0x00, 0x00, 0x10});
    EXPECT_EQ(framed, (bytes{0x10, 0x02, 0x01, 0x00, 0x00, 0x10, 0x10, 0x04, 0xEB, 0x10, 0x03}));
    const collected sink = read({framed});
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], (bytes{0x01, 0x00, 0x00, 0x10}));
}

TEST(Swp08Frame, AChecksumOfDleIsDoubledToo) {
    // sum of data and count = 0xF0, checksum 0x10
    const bytes data{0x6A, 0x00, 0x00, 0x00, 0x00, 0x80};
    const bytes framed = sw::frame(data);
    EXPECT_EQ(sw::checksum({0x6A, 0x00, 0x00, 0x00, 0x00, 0x80, 0x06}), 0x10);
    EXPECT_EQ(framed[framed.size() - 4], 0x10);
    EXPECT_EQ(framed[framed.size() - 3], 0x10);
    EXPECT_EQ(read({framed}).frames, std::vector<bytes>{data});
}

TEST(Swp08Frame, AStreamSplitAtEveryByteReadsTheSame) {
    const bytes stream = join({sw::frame(sw::tallyMessage({0, 0}, 16, 16, false)),
                               {0x10, 0x06},
                               sw::frame(sw::namesMessage(true, {0, 0}, 8, 0, {"CAM 1", "VT\x10"})),
                               {0x10, 0x15},
                               sw::frame(sw::tallyMessage({0, 0}, 2000, 16, true))});
    const collected whole = read({stream});
    ASSERT_EQ(whole.frames.size(), 3u);
    EXPECT_EQ(whole.acks, 1);
    EXPECT_EQ(whole.naks, 1);
    EXPECT_TRUE(whole.problems.empty());
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        const collected parts =
            read({bytes(stream.begin(), stream.begin() + split), bytes(stream.begin() + split, stream.end())});
        ASSERT_EQ(parts.frames, whole.frames) << "split at " << split;
        ASSERT_EQ(parts.acks + parts.naks, 2) << "split at " << split;
    }
}

struct bad_case {
    const char* name;
    bytes stream;
    sw::frame_problem problem;
};

void PrintTo(const bad_case& c, std::ostream* out) { *out << c.name; }

class Swp08BadFrame : public testing::TestWithParam<bad_case> {};

// Each bad stream is followed by a good frame, which must still be read.
TEST_P(Swp08BadFrame, IsReportedAndTheNextFrameIsRead) {
    const bytes good = sw::frame(sw::interrogateMessage({0, 0}, 5));
    const collected sink = read({join({GetParam().stream, good})});
    ASSERT_FALSE(sink.problems.empty());
    EXPECT_EQ(sink.problems.front(), GetParam().problem);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], sw::interrogateMessage({0, 0}, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Swp08BadFrame,
    testing::Values(bad_case{"checksum",
                             {0x10, 0x02, 0x01, 0x00, 0x00, 0x00, 0x04, 0xFA, 0x10, 0x03},
                             sw::frame_problem::bad_checksum},
                    bad_case{"count",
                             {0x10, 0x02, 0x01, 0x00, 0x00, 0x00, 0x05, 0xFA, 0x10, 0x03},
                             sw::frame_problem::bad_byte_count},
                    bad_case{"empty", {0x10, 0x02, 0x10, 0x03}, sw::frame_problem::bad_byte_count},
                    bad_case{"garbage", {'h', 'e', 'l', 'l', 'o'}, sw::frame_problem::outside_frame},
                    bad_case{"escape", {0x10, 0x02, 0x01, 0x10, 0x41, 0x00}, sw::frame_problem::bad_escape},
                    bad_case{"interrupted", {0x10, 0x02, 0x01, 0x00}, sw::frame_problem::interrupted},
                    bad_case{"stray dle", {0x10, 0x10}, sw::frame_problem::outside_frame},
                    bad_case{"too long", join({{0x10, 0x02}, bytes(600, 0x41)}), sw::frame_problem::too_long}),
    [](const testing::TestParamInfo<bad_case>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    });

TEST(Swp08Frame, AnEndlessFrameIsCutAndTheReaderResynchronises) {
    bytes stream{0x10, 0x02};
    stream.insert(stream.end(), 100000, 0x41);
    const bytes good = sw::frame(sw::interrogateMessage({0, 0}, 5));
    const collected sink = read({join({stream, {0x10, 0x03}, good})});
    EXPECT_EQ(sink.problems, std::vector<sw::frame_problem>{sw::frame_problem::too_long});
    EXPECT_EQ(sink.frames.size(), 1u);
}

TEST(Swp08Messages, ShortFormsCarryTheMultiplier) {
    // destination 200 = 1*128 + 72, source 300 = 2*128 + 44; matrix 1 level 2
    EXPECT_EQ(sw::connectMessage({1, 2}, 200, 300), (bytes{0x02, 0x12, 0x12, 72, 44}));
    EXPECT_EQ(sw::interrogateMessage({0, 3}, 1023), (bytes{0x01, 0x03, 0x70, 127}));
    EXPECT_EQ(sw::tallyMessage({0, 0}, 5, 6, false), (bytes{0x03, 0x00, 0x00, 5, 6}));
    EXPECT_EQ(sw::tallyMessage({0, 0}, 5, 6, true), (bytes{0x04, 0x00, 0x00, 5, 6}));
}

TEST(Swp08Messages, ExtendedFormsServeNumbersAbove1023AndWideAddresses) {
    EXPECT_EQ(sw::connectMessage({0, 0}, 1024, 5), (bytes{0x82, 0, 0, 4, 0, 0, 5}));
    EXPECT_EQ(sw::connectMessage({0, 0}, 5, 4000), (bytes{0x82, 0, 0, 0, 5, 15, 160}));
    EXPECT_EQ(sw::interrogateMessage({0, 0}, 65535), (bytes{0x81, 0, 0, 255, 255}));
    EXPECT_EQ(sw::interrogateMessage({0, 16}, 1), (bytes{0x81, 0, 16, 0, 1}));
    EXPECT_EQ(sw::tallyMessage({2, 1}, 2000, 7, true), (bytes{0x84, 2, 1, 7, 208, 0, 7}));
}

struct crosspoint_case {
    int matrix, level, destination, source;
};

class Swp08CrosspointRoundTrip : public testing::TestWithParam<crosspoint_case> {};

TEST_P(Swp08CrosspointRoundTrip, DecodesWhatWasEncoded) {
    const crosspoint_case& c = GetParam();
    const sw::address at{c.matrix, c.level};
    for (const bool connectedForm : {false, true}) {
        const auto tally = sw::decodeCrosspoint(sw::tallyMessage(at, c.destination, c.source, connectedForm));
        ASSERT_TRUE(tally.has_value());
        EXPECT_EQ(tally->command, connectedForm ? sw::connected : sw::tally);
        EXPECT_EQ(tally->at.matrix, c.matrix);
        EXPECT_EQ(tally->at.level, c.level);
        EXPECT_EQ(tally->destination, c.destination);
        EXPECT_EQ(tally->source, c.source);
    }
    const auto interrogate = sw::decodeCrosspoint(sw::interrogateMessage(at, c.destination));
    ASSERT_TRUE(interrogate.has_value());
    EXPECT_EQ(interrogate->command, sw::interrogate);
    EXPECT_EQ(interrogate->destination, c.destination);
    EXPECT_EQ(interrogate->source, -1);
}

INSTANTIATE_TEST_SUITE_P(Numbers, Swp08CrosspointRoundTrip,
                         testing::Values(crosspoint_case{0, 0, 0, 0}, crosspoint_case{15, 15, 127, 128},
                                         crosspoint_case{3, 1, 1023, 1023}, crosspoint_case{0, 0, 1024, 0},
                                         crosspoint_case{0, 0, 0, 1024}, crosspoint_case{20, 40, 65535, 65535},
                                         crosspoint_case{0, 0, 16, 16}));

TEST(Swp08Messages, MalformedCrosspointsAreRefused) {
    EXPECT_FALSE(sw::decodeCrosspoint({0x03, 0x00, 0x00, 5}).has_value());        // short
    EXPECT_FALSE(sw::decodeCrosspoint({0x03, 0x00, 0x00, 5, 6, 7}).has_value());  // long
    EXPECT_FALSE(sw::decodeCrosspoint({0x03, 0x00, 0x00, 0x85, 6}).has_value());  // destination byte over 127
    EXPECT_FALSE(sw::decodeCrosspoint({0x83, 0, 0, 1, 2, 3}).has_value());        // extended, short
    EXPECT_FALSE(sw::decodeCrosspoint({0x05, 0x00, 0x00, 5, 6}).has_value());     // not a crosspoint command
    EXPECT_FALSE(sw::decodeCrosspoint({}).has_value());
}

TEST(Swp08Names, RequestsCarryMatrixLevelAndLengthCode) {
    EXPECT_EQ(sw::namesRequest(true, {1, 2}, 8), (bytes{0x64, 0x12, 0x01}));
    EXPECT_EQ(sw::namesRequest(false, {1, 2}, 12), (bytes{0x66, 0x10, 0x02}));
    EXPECT_EQ(sw::namesRequest(true, {0, 0}, 4), (bytes{0x64, 0x00, 0x00}));
    const auto request = sw::decodeNamesRequest({0x64, 0x12, 0x02});
    ASSERT_TRUE(request.has_value());
    EXPECT_TRUE(request->sources);
    EXPECT_EQ(request->at.matrix, 1);
    EXPECT_EQ(request->at.level, 2);
    EXPECT_EQ(request->nameLength, 12);
    EXPECT_FALSE(sw::decodeNamesRequest({0x64, 0x12, 0x03}).has_value());
}

TEST(Swp08Names, AResponseRoundTripsPaddedAndCut) {
    const bytes message = sw::namesMessage(false, {2, 0}, 4, 300, {"CAM", "GRAPHICS"});
    EXPECT_EQ(message, (bytes{0x6B, 0x20, 0x00, 1, 44, 2, 'C', 'A', 'M', ' ', 'G', 'R', 'A', 'P'}));
    const auto names = sw::decodeNames(message);
    ASSERT_TRUE(names.has_value());
    EXPECT_FALSE(names->sources);
    EXPECT_EQ(names->matrix, 2);
    EXPECT_EQ(names->nameLength, 4);
    EXPECT_EQ(names->first, 300);
    EXPECT_EQ(names->names, (std::vector<std::string>{"CAM ", "GRAP"}));
}

TEST(Swp08Names, AResponseHoldsAtMostWhatFits) {
    const std::vector<std::string> many(40, "NAME");
    for (const int length : {4, 8, 12}) {
        const auto names = sw::decodeNames(sw::namesMessage(true, {0, 0}, length, 0, many));
        ASSERT_TRUE(names.has_value());
        EXPECT_EQ(static_cast<int>(names->names.size()), sw::namesPerMessage(length));
    }
}

TEST(Swp08Names, MalformedResponsesAreRefused) {
    EXPECT_FALSE(sw::decodeNames({0x6A, 0x00, 0x01, 0, 0, 2, 'A', 'B'}).has_value());  // fewer bytes than said
    EXPECT_FALSE(sw::decodeNames({0x6A, 0x00, 0x07, 0, 0, 0}).has_value());            // bad length code
    EXPECT_FALSE(sw::decodeNames({0x6A, 0x00, 0x01, 0, 0}).has_value());               // short
    EXPECT_TRUE(sw::decodeNames({0x6A, 0x00, 0x01, 0, 0, 0}).has_value());             // none: the end
}

}  // namespace
