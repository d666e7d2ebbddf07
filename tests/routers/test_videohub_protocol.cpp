// The Videohub reader cuts any byte stream into the same blocks, whatever
// the reads and line ends, and keeps within its limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quon/routers/videohub/videohub_protocol.h"

namespace vh = quon::routers::videohub;

namespace {

struct collected : vh::block_sink {
    std::vector<vh::block> blocks;
    std::vector<vh::reader_problem> problems;
    void onBlock(const vh::block& complete) override { blocks.push_back(complete); }
    void onReaderProblem(vh::reader_problem problem) override { problems.push_back(problem); }
};

const std::string prelude =
    "PROTOCOL PREAMBLE:\nVersion: 2.8\n\n"
    "VIDEOHUB DEVICE:\nDevice present: true\nVideo inputs: 4\nVideo outputs: 2\n\n"
    "INPUT LABELS:\n0 Camera 1\n1 Camera 2\n2 VT\n3 Graphics fill\n\n"
    "OUTPUT LABELS:\n0 Program\n1 Preview\n\n"
    "VIDEO OUTPUT LOCKS:\n0 U\n1 U\n\n"
    "VIDEO OUTPUT ROUTING:\n0 2\n1 3\n\n"
    "END PRELUDE:\n\n";

std::vector<vh::block> read(const std::vector<std::string>& pieces, vh::reader_limits limits = {},
                            std::vector<vh::reader_problem>* problems = nullptr) {
    vh::reader reader(limits);
    collected sink;
    for (const std::string& piece : pieces) reader.feed(piece, sink);
    if (problems) *problems = sink.problems;
    return sink.blocks;
}

TEST(VideohubReader, ReadsEveryBlockOfThePrelude) {
    const std::vector<vh::block> blocks = read({prelude});
    ASSERT_EQ(blocks.size(), 7u);
    EXPECT_EQ(blocks[0].header, "PROTOCOL PREAMBLE:");
    EXPECT_EQ(blocks[2].header, "INPUT LABELS:");
    EXPECT_EQ(blocks[2].lines, (std::vector<std::string>{"0 Camera 1", "1 Camera 2", "2 VT", "3 Graphics fill"}));
    EXPECT_EQ(blocks[5].lines, (std::vector<std::string>{"0 2", "1 3"}));
    EXPECT_EQ(blocks[6].header, "END PRELUDE:");
    EXPECT_TRUE(blocks[6].lines.empty());
}

TEST(VideohubReader, ThePreludeSplitAtEveryByteReadsTheSame) {
    const std::vector<vh::block> whole = read({prelude});
    for (std::size_t split = 0; split <= prelude.size(); ++split) {
        EXPECT_EQ(read({prelude.substr(0, split), prelude.substr(split)}), whole) << "split at " << split;
    }
}

TEST(VideohubReader, OneByteAtATimeReadsTheSame) {
    std::vector<std::string> bytes;
    for (const char c : prelude) bytes.emplace_back(1, c);
    EXPECT_EQ(read(bytes), read({prelude}));
}

TEST(VideohubReader, TwoBlocksInOneReadAreTwoBlocks) {
    const std::vector<vh::block> blocks = read({"ACK\n\nVIDEO OUTPUT ROUTING:\n7 12\n\n"});
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].header, "ACK");
    EXPECT_EQ(blocks[1].lines, std::vector<std::string>{"7 12"});
}

TEST(VideohubReader, AcceptsEveryLineEnd) {
    const std::vector<vh::block> expected = read({prelude});
    for (const std::string end : {"\r\n", "\r"}) {
        std::string text;
        for (const char c : prelude) {
            if (c == '\n') {
                text += end;
            } else {
                text += c;
            }
        }
        EXPECT_EQ(read({text}), expected) << "line end of " << end.size() << " bytes";
        // A CR LF cut between its CR and its LF is still one line end.
        for (std::size_t split = 0; split <= text.size(); ++split)
            ASSERT_EQ(read({text.substr(0, split), text.substr(split)}), expected) << "split at " << split;
    }
}

TEST(VideohubReader, ExtraEmptyLinesBetweenBlocksAreIgnored) { EXPECT_EQ(read({"\n\nACK\n\n\n\nNAK\n\n"}).size(), 2u); }

TEST(VideohubReader, AnUnknownBlockDoesNotDisturbTheNext) {
    const std::vector<vh::block> blocks =
        read({"CONFIGURATION:\nTake Mode: true\nweird \x01 line\n\nVIDEO OUTPUT ROUTING:\n0 1\n\n"});
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].header, "VIDEO OUTPUT ROUTING:");
    EXPECT_EQ(blocks[1].lines, std::vector<std::string>{"0 1"});
}

TEST(VideohubReader, AMegabyteLineIsSkippedAndReportedOnce) {
    vh::reader reader;
    collected sink;
    reader.feed("INPUT LABELS:\n0 ", sink);
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 256; ++i) reader.feed(chunk, sink);
    reader.feed("\n1 Camera 2\n\n", sink);
    EXPECT_EQ(sink.problems, std::vector<vh::reader_problem>{vh::reader_problem::line_too_long});
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(sink.blocks[0].lines, std::vector<std::string>{"1 Camera 2"});
}

TEST(VideohubReader, ALineAtTheLimitIsKept) {
    vh::reader_limits limits;
    limits.maxLineBytes = 8;
    std::vector<vh::reader_problem> problems;
    const std::vector<vh::block> blocks = read({"ROUTES:\n12345678\n123456789\n\n"}, limits, &problems);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].lines, std::vector<std::string>{"12345678"});
    EXPECT_EQ(problems, std::vector<vh::reader_problem>{vh::reader_problem::line_too_long});
}

TEST(VideohubReader, ABlockPastTheLineLimitIsCutAndReportedOnce) {
    vh::reader_limits limits;
    limits.maxBlockLines = 3;
    std::vector<vh::reader_problem> problems;
    const std::vector<vh::block> blocks =
        read({"INPUT LABELS:\n0 a\n1 b\n2 c\n3 d\n4 e\n\nACK\n\n"}, limits, &problems);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].lines, (std::vector<std::string>{"0 a", "1 b", "2 c"}));
    EXPECT_EQ(problems, std::vector<vh::reader_problem>{vh::reader_problem::block_too_large});
}

TEST(VideohubReader, ResetForgetsAPartialBlock) {
    vh::reader reader;
    collected sink;
    reader.feed("INPUT LABELS:\n0 half", sink);
    reader.reset();
    reader.feed("ACK\n\n", sink);
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(sink.blocks[0].header, "ACK");
}

struct item_case {
    const char* line;
    bool valid;
    int index;
    const char* rest;
};

class VideohubItem : public testing::TestWithParam<item_case> {};

TEST_P(VideohubItem, ParsesIndexAndRest) {
    const item_case& c = GetParam();
    const std::optional<vh::item> item = vh::parseItem(c.line);
    ASSERT_EQ(item.has_value(), c.valid);
    if (!c.valid) return;
    EXPECT_EQ(item->index, c.index);
    EXPECT_EQ(item->rest, c.rest);
}

INSTANTIATE_TEST_SUITE_P(Lines, VideohubItem,
                         testing::Values(item_case{"0 5", true, 0, "5"}, item_case{"12 Camera 1", true, 12, "Camera 1"},
                                         item_case{"3 ", true, 3, ""},
                                         item_case{"3  two blanks", true, 3, " two blanks"},
                                         item_case{"5", false, 0, ""}, item_case{"", false, 0, ""},
                                         item_case{" 5", false, 0, ""}, item_case{"-1 5", false, 0, ""},
                                         item_case{"x 5", false, 0, ""}, item_case{"1x 5", false, 0, ""},
                                         item_case{"9999999999 1", false, 0, ""}));

struct number_case {
    const char* text;
    int max;
    std::optional<int> value;
};

class VideohubNumber : public testing::TestWithParam<number_case> {};

TEST_P(VideohubNumber, AcceptsOnlyWholeNumbersInRange) {
    EXPECT_EQ(vh::parseNumber(GetParam().text, GetParam().max), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, VideohubNumber,
                         testing::Values(number_case{"0", 10, 0}, number_case{"10", 10, 10},
                                         number_case{"11", 10, std::nullopt}, number_case{"", 10, std::nullopt},
                                         number_case{"+1", 10, std::nullopt}, number_case{"-1", 10, std::nullopt},
                                         number_case{"1 ", 10, std::nullopt}, number_case{"0x1", 10, std::nullopt},
                                         number_case{"99999999999999", 2147483647, std::nullopt}));

TEST(VideohubFields, FindsTheValueOfAKey) {
    const vh::block device{"VIDEOHUB DEVICE:", {"Device present: true", "Video inputs: 40", "Video outputs:  12"}};
    EXPECT_EQ(vh::field(device, "Video inputs"), std::optional<std::string_view>("40"));
    EXPECT_EQ(vh::field(device, "Video outputs"), std::optional<std::string_view>("12"));
    EXPECT_EQ(vh::field(device, "Video"), std::nullopt);
    EXPECT_EQ(vh::field(device, "Serial ports"), std::nullopt);
}

TEST(VideohubRequests, AreTheProtocolsText) {
    EXPECT_EQ(vh::routeRequest(7, 12), "VIDEO OUTPUT ROUTING:\n7 12\n\n");
    EXPECT_EQ(vh::query(vh::routing_header), "VIDEO OUTPUT ROUTING:\n\n");
    EXPECT_EQ(vh::ping(), "PING:\n\n");
}

}  // namespace
