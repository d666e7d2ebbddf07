// The Quartz reader and parser as tables: messages cut at any byte, line
// ends of each kind, garbage skipped to the next '.', an over-long message
// dropped; and each shape of message a router may send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quon/routers/quartz/quartz_protocol.h"

namespace qz = quon::routers::quartz;

namespace {

struct collected : qz::message_sink {
    std::vector<std::string> seen;
    void onMessage(std::string_view body) override { seen.push_back(std::string(body)); }
    void onReaderProblem(qz::reader_problem problem) override { seen.push_back("problem: " + qz::describe(problem)); }
};

std::vector<std::string> readAll(const std::string& bytes, std::size_t piece) {
    qz::reader reader;
    collected sink;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        reader.feed(std::string_view(bytes).substr(at, piece), sink);
    return sink.seen;
}

struct reader_case {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected;
};

void PrintTo(const reader_case& c, std::ostream* out) { *out << c.name; }

class QuartzReader : public testing::TestWithParam<reader_case> {};

TEST_P(QuartzReader, GivesTheSameMessagesWhereverTheBytesAreCut) {
    const reader_case& c = GetParam();
    for (const std::size_t piece : {c.bytes.size(), std::size_t(1), std::size_t(2), std::size_t(5)})
        EXPECT_EQ(readAll(c.bytes, std::max<std::size_t>(piece, 1)), c.expected) << piece << " bytes a read";
}

const std::string too_long = "." + std::string(qz::reader::max_message_bytes + 1, 'X');

INSTANTIATE_TEST_SUITE_P(
    Streams, QuartzReader,
    testing::Values(
        reader_case{"SeveralMessagesInOnePiece", ".UV001,002\r.A\r.RAS1,CAM 1\r", {"UV001,002", "A", "RAS1,CAM 1"}},
        reader_case{"CrLfAndLfLineEnds", ".A\r\n.E\n\r.P\r", {"A", "E", "P"}},
        reader_case{"PowerUpsLeadingCarriageReturn", "\r.P\r", {"P"}},
        reader_case{"GarbageSkippedToTheNextDotOnceARun",
                    "hello.A\rworld again.E\r",
                    {"problem: bytes outside any message were skipped", "A",
                     "problem: bytes outside any message were skipped", "E"}},
        reader_case{"ADotInsideAMessageIsPartOfIt", ".RAS2,CAM.2\r", {"RAS2,CAM.2"}},
        reader_case{"AnOverLongMessageIsDroppedToItsLineEnd",
                    too_long + ".A\r.E\r",
                    {"problem: a message of more than 4096 bytes without its carriage return was dropped", "E"}},
        reader_case{"AMessageOfTheLimitIsKept",
                    "." + std::string(qz::reader::max_message_bytes, 'X') + "\r",
                    {std::string(qz::reader::max_message_bytes, 'X')}},
        reader_case{"AnEmptyMessage", ".\r", {""}}),
    [](const testing::TestParamInfo<reader_case>& info) { return std::string(info.param.name); });

// Each message shaped as a line: what parse() made of it.
std::string shown(const std::string& body) {
    const qz::parsed parsed = qz::parse(body);
    if (std::holds_alternative<qz::message::acknowledge>(parsed)) return "acknowledge";
    if (std::holds_alternative<qz::message::error>(parsed)) return "error";
    if (std::holds_alternative<qz::message::power_up>(parsed)) return "power up";
    if (std::holds_alternative<qz::message::ignored>(parsed)) return "ignored";
    if (const auto* unknown = std::get_if<qz::message::unknown>(&parsed))
        return unknown->malformed ? "malformed" : "unknown";
    if (const auto* name = std::get_if<qz::message::name>(&parsed))
        return std::string(name->source ? "source " : "destination ") +
               (name->number ? std::to_string(*name->number) : "?") + " [" + std::string(name->text) + "]";
    std::string out;
    for (const qz::message::route& route : std::get<qz::message::routes>(parsed).items)
        out += (out.empty() ? "" : "; ") + std::string(route.update ? "update " : "answer ") + route.levels + " " +
               std::to_string(route.destination) + "," + std::to_string(route.source);
    return out;
}

struct parse_case {
    const char* name;
    std::string body;
    std::string expected;
};

void PrintTo(const parse_case& c, std::ostream* out) { *out << c.name; }

class QuartzParse : public testing::TestWithParam<parse_case> {};

TEST_P(QuartzParse, ReadsTheMessage) { EXPECT_EQ(shown(GetParam().body), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Messages, QuartzParse,
    testing::Values(
        parse_case{"Acknowledge", "A", "acknowledge"}, parse_case{"Error", "E", "error"},
        parse_case{"PowerUp", "P", "power up"}, parse_case{"InterrogateAnswer", "AV12,3", "answer V 12,3"},
        parse_case{"PaddedAnswer", "AB012,003", "answer B 12,3"},
        parse_case{"ListAnswerOfSeveralRoutes", "AV1,2V2,5V3,7", "answer V 1,2; answer V 2,5; answer V 3,7"},
        parse_case{"Update", "UV002,003", "update V 2,3"},
        parse_case{"UpdateOfSeveralLevels", "UVAC001,009", "update VAC 1,9"},
        parse_case{"TielineSourceAsSent", "UV001,8194", "update V 1,8194"},
        parse_case{"NumberedName", "RAS5,CAM 5", "source 5 [CAM 5]"},
        parse_case{"PaddedName", "RAD012,MON 12  ", "destination 12 [MON 12  ]"},
        parse_case{"NameWithoutItsNumber", "RASCAM 5", "source ? [CAM 5]"},
        parse_case{"NameHoldingACommaWithoutItsNumber", "RASA,B", "source ? [A,B]"},
        parse_case{"LongUtf8Name", "RAS7,Caméra sept grand angle", "source 7 [Caméra sept grand angle]"},
        parse_case{"EmptyName", "RAS3,", "source 3 []"}, parse_case{"LevelName", "RALV,VIDEO", "ignored"},
        parse_case{"PanelName", "RAT3,CAM 3", "ignored"}, parse_case{"LockStatus", "BA1,0", "ignored"},
        parse_case{"VersionAnswer", "A106,0F", "ignored"}, parse_case{"UpdateWithoutSource", "UV1", "malformed"},
        parse_case{"UpdateOfDestinationZero", "UV0,1", "malformed"},
        parse_case{"UpdateWithTrailingBytes", "UV1,2X", "malformed"},
        parse_case{"AnswerOfTwoLevels", "AVA1,2", "malformed"},
        parse_case{"NumberPastTheLimit", "UV65536,1", "malformed"}, parse_case{"UnknownName", "RAX1,Y", "malformed"},
        parse_case{"Unknown", "ZZ", "unknown"}, parse_case{"Empty", "", "unknown"}),
    [](const testing::TestParamInfo<parse_case>& info) { return std::string(info.param.name); });

TEST(QuartzRequests, AreWrittenAsTheProtocolSpellsThem) {
    EXPECT_EQ(qz::interrogate('V', 12), ".IV12\r");
    EXPECT_EQ(qz::setRoute('B', 5, 300), ".SB5,300\r");
    EXPECT_EQ(qz::readName(true, 3), ".RS3\r");
    EXPECT_EQ(qz::readName(false, 1000), ".RD1000\r");
    EXPECT_EQ(qz::testConnection(), ".#01\r");
}

}  // namespace
