// BER and the Glow subset of the Ember+ link: every element of a message
// comes out flat with its absolute path, whether it came nested or
// qualified, with definite, long-form or indefinite lengths and tags in one
// byte or two; what is not read is skipped; broken BER is an error that
// keeps what came before it; the requests the link sends, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hex_bytes.h"
#include "quon/routers/emberplus/emberplus_glow.h"

namespace glow = quon::routers::glow;
namespace ber = quon::routers::ber;

namespace {

using quon::test::hex;
using quon::test::showHex;

// One line per element, only the fields it carried.
std::string describe(const glow::element& e) {
    static const char* const kinds[] = {"node", "parameter", "matrix", "command"};
    std::string out = std::string(kinds[static_cast<int>(e.what)]) + " [" + glow::showPath(e.at) + "]";
    if (e.what == glow::kind::command) {
        out += " " + std::to_string(e.command);
        if (e.dirFieldMask) out += " mask " + std::to_string(*e.dirFieldMask);
        return out;
    }
    if (e.identifier) out += " id " + *e.identifier;
    if (e.description) out += " desc " + *e.description;
    if (e.online) out += *e.online ? " online" : " offline";
    if (e.text) out += " text " + *e.text;
    if (e.number) out += " number " + std::to_string(*e.number);
    if (e.type) out += " type " + std::to_string(*e.type);
    if (e.targetCount) out += " targets " + std::to_string(*e.targetCount);
    if (e.sourceCount) out += " sources " + std::to_string(*e.sourceCount);
    if (e.labels)
        for (const auto& l : *e.labels) out += " label " + glow::showPath(l.basePath) + " " + l.description;
    const auto signalList = [&](const char* name, const std::optional<std::vector<glow::signal>>& list) {
        if (!list) return;
        out += std::string(" ") + name;
        for (const auto& s : *list) {
            out += " " + std::to_string(s.number);
            if (s.labelsLocation) out += "@" + glow::showPath(*s.labelsLocation);
        }
    };
    signalList("target-list", e.targets);
    signalList("source-list", e.sources);
    if (e.connections) {
        out += " connections";
        for (const auto& c : *e.connections) {
            out += " " + std::to_string(c.target) + "<{" + glow::showPath(c.sources) + "}";
            if (c.operation) out += " op " + std::to_string(*c.operation);
            if (c.disposition) out += " disp " + std::to_string(*c.disposition);
        }
    }
    return out;
}

std::vector<std::string> decoded(const std::string& bytes, std::string* error = nullptr) {
    std::vector<glow::element> elements;
    std::string why;
    const bool ok = glow::decode(bytes, elements, why);
    if (error) *error = ok ? "" : why;
    std::vector<std::string> lines;
    for (const auto& e : elements) lines.push_back(describe(e));
    if (!ok && !error) lines.push_back("error " + why);
    return lines;
}

// A constructed TLV with its tag in the two-byte form and a 4-byte length
// (universal class: a SEQUENCE, tag 16).
std::string longForm(std::uint8_t tagClass, std::uint8_t tag, const std::string& content) {
    std::string out{static_cast<char>(tagClass | 0x3F), static_cast<char>(tag), static_cast<char>(0x84)};
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((content.size() >> shift) & 0xFF);
    return out + content;
}

// Builders, definite or indefinite throughout.
struct builder {
    bool indefinite = false;
    std::string wrap(std::uint8_t id, const std::string& content) const {
        return indefinite ? ber::wrapIndefinite(id, content) : ber::wrap(id, content);
    }
    std::string ctx(int n, const std::string& content) const { return wrap(ber::context(n), content); }
    std::string app(int n, const std::string& content) const { return wrap(ber::application(n), content); }
    std::string root(const std::string& entries) const { return app(0, app(11, entries)); }
    std::string entry(const std::string& element) const { return ctx(0, element); }
    std::string node(int number, const std::string& fields) const {
        return app(3, ctx(0, ber::integer(number)) + fields);
    }
    std::string children(const std::string& entries) const { return ctx(2, app(4, entries)); }
};

TEST(GlowDecode, AProvidersAnswerWithAQualifiedNode) {
    EXPECT_EQ(decoded(hex("60 1E 6B 1C A0 1A 6A 18 A0 03 0D 01 00 A1 11 31 0F A0 08 0C 06 72 6F 75 74 65 72 A3 03 01 01 "
                          "FF")),
              std::vector<std::string>{"node [0] id router online"});
}

// Node 0 -> Node 1 -> Matrix 0 -> target 1 from source 3, modified: the
// same push nested and qualified, definite and indefinite.
TEST(GlowDecode, NestedAndQualifiedPushesGiveTheSamePaths) {
    for (const bool indefinite : {false, true}) {
        const builder b{indefinite};
        const std::string connection = b.app(16, b.ctx(0, ber::integer(1)) + b.ctx(1, ber::relativeOid({3})) +
                                                     b.ctx(3, ber::integer(1)));
        const std::string connections = b.ctx(5, b.wrap(ber::sequence, b.entry(connection)));
        const std::string matrix = b.app(13, b.ctx(0, ber::integer(0)) + connections);
        const std::string nested =
            b.root(b.entry(b.node(0, b.children(b.entry(b.node(1, b.children(b.entry(matrix))))))));
        EXPECT_EQ(decoded(nested), (std::vector<std::string>{"node [0]", "node [0.1]",
                                                              "matrix [0.1.0] connections 1<{3} disp 1"}))
            << indefinite;
        const std::string qualified =
            b.root(b.entry(b.app(17, b.ctx(0, ber::relativeOid({0, 1, 0})) + connections)));
        EXPECT_EQ(decoded(qualified), std::vector<std::string>{"matrix [0.1.0] connections 1<{3} disp 1"})
            << indefinite;
        // A qualified node holding unqualified children.
        const std::string mixed = b.root(b.entry(b.app(10, b.ctx(0, ber::relativeOid({0, 1})) + b.children(b.entry(matrix)))));
        EXPECT_EQ(decoded(mixed), (std::vector<std::string>{"node [0.1]", "matrix [0.1.0] connections 1<{3} disp 1"}))
            << indefinite;
    }
}

struct decode_case {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(GlowDecode, ReadsTheObservedFieldsAndForms) {
    const std::vector<decode_case> cases = {
        {"a connection as observed",
         builder{}.root(builder{}.entry(ber::wrap(
             0x71, hex("A0 05 0D 03 00 01 00 A5 15 30 13 A0 11 70 0F A0 03 02 01 02 A1 03 0D 01 01 A3 03 02 01 01")))),
         {"matrix [0.1.0] connections 2<{1} disp 1"}},
        {"contents with labels as observed",
         builder{}.root(builder{}.entry(ber::wrap(
             0x71, hex("A0 05 0D 03 00 01 00") +
                       ber::wrap(0xA1, ber::wrap(0x31, hex("A0 07 0C 05 76 69 64 65 6F A4 03 02 01 04 A5 03 02 01 08") +
                                                           hex("AA 19 30 17 A0 15 72 13 A0 06 0D 04 00 01 87 68 A1 09 0C 07") +
                                                           "primary"))))),
         {"matrix [0.1.0] id video targets 4 sources 8 label 0.1.1000 primary"}},
        {"non-linear targets and sources",
         builder{}.root(builder{}.entry(ber::wrap(
             0x71, hex("A0 03 0D 01 05 A3 14 30 12 A0 07 6E 05 A0 03 02 01 03 A0 07 6E 05 A0 03 02 01 07 "
                       "A4 0B 30 09 A0 07 6F 05 A0 03 02 01 00")))),
         {"matrix [5] target-list 3 7 source-list 0"}},
        {"a signal's labelsLocation", [] {
             const std::string contents = ber::wrap(0xA1, ber::wrap(0x31, ber::wrap(0xA2, ber::relativeOid({0, 9, 2}))));
             const std::string target = ber::wrap(0x6E, hex("A0 03 02 01 02") + contents);
             const std::string targets = ber::wrap(0xA3, ber::wrap(0x30, ber::wrap(0xA0, target)));
             return builder{}.root(builder{}.entry(ber::wrap(0x71, hex("A0 03 0D 01 05") + targets)));
         }(),
         {"matrix [5] target-list 2@0.9.2"}},
        {"a public trace's all-indefinite Subscribe",
         hex("60 80 6B 80 A0 80 69 80 A0 03 0D 01 20 A2 80 64 80 A0 80 62 80 A0 03 02 01 1E 00 00 00 00 00 00 00 00 00 00 "
             "00 00 00 00 00 00"),
         {"parameter [32]", "command [32] 30"}},
        {"two-byte tags and long-form lengths",
         longForm(0x40, 0, longForm(0x40, 11, longForm(0x80, 0, longForm(0x40, 17,
             longForm(0x80, 0, ber::relativeOid({4})) +
             longForm(0x80, 5, longForm(0x00, 16, longForm(0x80, 0, longForm(0x40, 16,
                 longForm(0x80, 0, ber::integer(5)))))))))),
         {"matrix [4] connections 5<{}"}},
        {"a label parameter; a REAL value and unknown fields skipped",
         builder{}.root(builder{}.entry(ber::wrap(0x69, hex("A0 05 0D 03 00 01 01") +
                                                            ber::wrap(0xA1, ber::wrap(0x31, hex("A0 05 0C 03 74 2D 30 A2 0A 0C 08") +
                                                                                                "Target 1" + hex("B4 03 02 01 05 A5 03 02 01 03"))))) +
                        builder{}.entry(ber::wrap(0x69, hex("A0 03 0D 01 07 A1 08 31 06 A2 04 09 02 80 00")))),
         {"parameter [0.1.1] id t-0 text Target 1", "parameter [7]"}},
        {"REAL values as either library writes them (mantissa reduced or not), skipped",
         builder{}.root(builder{}.entry(ber::wrap(0x69, hex("A0 03 0D 01 07 A1 09 31 07 A2 05 09 03 80 03 05"))) +
                        builder{}.entry(ber::wrap(
                            0x69, hex("A0 03 0D 01 08 A1 0F 31 0D A2 0B 09 09 80 03 14 00 00 00 00 00 00")))),
         {"parameter [7]", "parameter [8]"}},
        {"a matrix in a listing with empty children and connections collections",
         builder{}.root(builder{}.entry(ber::wrap(0x71, hex("A0 05 0D 03 00 01 00 A2 02 64 00 A5 02 30 00")))),
         {"matrix [0.1.0] connections"}},
        {"an integer value; an offline node",
         builder{}.root(builder{}.entry(ber::wrap(0x69, hex("A0 03 0D 01 07 A1 07 31 05 A2 03 02 01 FB"))) +
                        builder{}.entry(ber::wrap(0x63, hex("A0 03 02 01 02 A1 07 31 05 A3 03 01 01 00")))),
         {"parameter [7] number -5", "node [2] offline"}},
        {"functions, templates, streams and unknown types skipped",
         builder{}.root(builder{}.entry(hex("73 05 A0 03 02 01 01")) + builder{}.entry(hex("78 00")) +
                        builder{}.entry(hex("1F 50 00")) + builder{}.entry(hex("63 05 A0 03 02 01 09"))),
         {"node [9]"}},
        {"a stream collection at the root", hex("60 04 66 02 30 00"), {}},
        {"a stream collection under the number the prose gives it (5)", hex("60 04 65 02 30 00"), {}},
        {"wrappers without the constructed bit, as the documentation's example writes them",
         hex("60 14 6B 12 A0 10 63 0E 80 03 02 01 04 81 07 31 05 83 03 01 01 00"), {"node [4] offline"}},
        {"a primitive field that holds no TLV: not read", hex("60 09 6B 07 A0 05 63 03 80 01 04"), {}},
        {"the empty Root", hex("60 00"), {}},
        {"a command on the root with a mask", hex("60 10 6B 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FF"),
         {"command [] 32 mask -1"}},
    };
    for (const decode_case& c : cases) EXPECT_EQ(decoded(c.bytes), c.lines) << c.what;
}

// The decoder reads entries of the usual shape by a quicker path and
// every other entry by the general one: both, side by side in one update,
// give what each entry says, and an entry that is skipped is not read
// further (its broken RELATIVE-OID is no error).
TEST(GlowDecode, ConnectionsOfEveryShapeInOneUpdateReadAlike) {
    const builder b;
    const auto connection = [](const std::string& fields) { return ber::wrap(ber::context(0), ber::wrap(ber::application(16), fields)); };
    const std::string target = b.ctx(0, ber::integer(1));
    const std::string entries =
        connection(target + b.ctx(1, ber::relativeOid({3})) + b.ctx(2, ber::integer(0))) +
        connection(b.ctx(0, ber::integer(2)) + b.ctx(1, ber::relativeOid({1, 2, 3, 4, 300}))) +
        ber::wrapIndefinite(ber::context(0), ber::wrapIndefinite(ber::application(16), b.ctx(0, ber::integer(3)) + b.ctx(1, ber::relativeOid({5})))) +
        connection(b.ctx(0, ber::integer(4)) + b.ctx(1, ber::relativeOid({6})) + b.ctx(1, ber::relativeOid({7}))) +
        connection(hex("80 03 02 01 05") + b.ctx(7, ber::integer(9)) + ber::wrap(ber::context(3), "")) +
        connection(b.ctx(1, hex("0D 01 81"))) + connection(b.ctx(0, ber::utf8("x")) + b.ctx(1, hex("0D 01 81"))) +
        connection(longForm(0x80, 0, ber::integer(6)) + b.ctx(3, ber::integer(1))) + b.ctx(1, target) +
        connection(b.ctx(0, ber::integer(-1)));
    const std::string update = b.root(b.entry(b.app(17, b.ctx(0, ber::relativeOid({0, 1, 0})) + b.ctx(5, b.wrap(ber::sequence, entries)))));
    EXPECT_EQ(decoded(update), std::vector<std::string>{"matrix [0.1.0] connections 1<{3} op 0 2<{1.2.3.4.300} 3<{5} "
                                                         "4<{7} 5<{} 6<{} disp 1 -1<{}"});
    const std::string broken = b.root(b.entry(b.app(17, b.ctx(0, ber::relativeOid({0})) + b.ctx(5, b.wrap(ber::sequence,
        connection(target) + connection(target + b.ctx(1, hex("0D 01 81"))))))));
    std::string error;
    EXPECT_EQ(decoded(broken, &error), std::vector<std::string>{});
    EXPECT_EQ(error, "a RELATIVE-OID that ends within a component (at byte 39)");
}

struct error_case {
    const char* what;
    std::string bytes;
    std::vector<std::string> kept;
    const char* error;
};

TEST(GlowDecode, BrokenBerIsAnErrorThatKeepsWhatCameBefore) {
    const builder b;
    const std::string good = b.entry(b.node(2, ""));
    const std::vector<error_case> cases = {
        {"not a Root", hex("6B 00"), {}, "a message that is not a Glow Root"},
        {"a length past the message", hex("60 05 6B 03 A0 01"), {}, "a length past the end of its container (at byte 2)"},
        {"a truncated length", hex("60 82 00"), {}, "the message ends within a length (at byte 3)"},
        {"an indefinite primitive", hex("60 80 02 80"), {}, "an indefinite length on a primitive value (at byte 4)"},
        {"an indefinite length never closed", hex("60 80 6B 80 A0 05 63 03 A0 01 02"), {},
         "an indefinite length with no end-of-contents"},
        {"a nine-byte integer after a good node",
         b.root(good + b.entry(ber::wrap(0x63, hex("A0 0B 02 09 01 02 03 04 05 06 07 08 09")))), {"node [2]"},
         "an INTEGER of 9 bytes"},
        {"a truncated RELATIVE-OID after a good node",
         b.root(good + b.entry(ber::wrap(0x6A, hex("A0 03 0D 01 81")))), {"node [2]"},
         "a RELATIVE-OID that ends within a component"},
        {"nesting past the limit", [] {
             std::string deep;
             for (int i = 0; i < 100; ++i) deep += "\x60\x80";
             return deep;
         }(), {}, "nested deeper than"},
    };
    for (const error_case& c : cases) {
        std::string error;
        EXPECT_EQ(decoded(c.bytes, &error), c.kept) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
}

TEST(BerEncode, IntegersAreMinimalTwosComplement) {
    const std::vector<std::pair<std::int64_t, const char*>> table = {
        {0, "02 01 00"},          {1, "02 01 01"},          {-1, "02 01 FF"},           {127, "02 01 7F"},
        {128, "02 02 00 80"},     {-128, "02 01 80"},       {255, "02 02 00 FF"},       {32768, "02 03 00 80 00"},
        {-32768, "02 02 80 00"},  {65535, "02 03 00 FF FF"}, {1000, "02 02 03 E8"},      {2147483647, "02 04 7F FF FF FF"},
        {INT64_MIN, "02 08 80 00 00 00 00 00 00 00"},       {INT64_MAX, "02 08 7F FF FF FF FF FF FF FF"},
    };
    const builder b;
    for (const auto& [value, bytes] : table) {
        EXPECT_EQ(showHex(ber::integer(value)), bytes) << value;
        // and back, as a node's number or a parameter's value
        const std::vector<std::string> lines =
            decoded(b.root(b.entry(b.app(9, b.ctx(0, ber::relativeOid({1})) +
                                                b.ctx(1, b.wrap(ber::set, b.ctx(2, ber::integer(value))))))));
        EXPECT_EQ(lines, std::vector<std::string>{"parameter [1] number " + std::to_string(value)}) << value;
    }
}

TEST(BerEncode, RelativeOidsAreBase128) {
    const std::vector<std::pair<glow::path, const char*>> table = {
        {{0}, "0D 01 00"},           {{1000}, "0D 02 87 68"},           {{128}, "0D 02 81 00"},
        {{16383}, "0D 02 FF 7F"},    {{16384}, "0D 03 81 80 00"},       {{0, 1, 1000}, "0D 04 00 01 87 68"},
        {{}, "0D 00"},               {{4294967295u}, "0D 05 8F FF FF FF 7F"},
    };
    const builder b;
    for (const auto& [components, bytes] : table) {
        EXPECT_EQ(showHex(ber::relativeOid(components)), bytes);
        EXPECT_EQ(decoded(b.root(b.entry(b.app(10, b.ctx(0, ber::relativeOid(components)))))),
                  std::vector<std::string>{"node [" + glow::showPath(components) + "]"});
    }
}

TEST(GlowEncode, WritesTheRequestsOfTheLink) {
    EXPECT_EQ(showHex(glow::getDirectory({}, glow::kind::node)), "60 0B 6B 09 A0 07 62 05 A0 03 02 01 20");
    EXPECT_EQ(showHex(glow::getDirectory({0, 1, 0}, glow::kind::matrix)),
              "60 1A 6B 18 A0 16 71 14 A0 05 0D 03 00 01 00 A2 0B 64 09 A0 07 62 05 A0 03 02 01 20");
    EXPECT_EQ(showHex(glow::getDirectory({0, 1}, glow::kind::node)),
              "60 19 6B 17 A0 15 6A 13 A0 04 0D 02 00 01 A2 0B 64 09 A0 07 62 05 A0 03 02 01 20");
    EXPECT_EQ(showHex(glow::connectionRequest({0, 1, 0}, 2, 1)),
              "60 24 6B 22 A0 20 71 1E A0 05 0D 03 00 01 00 A5 15 30 13 A0 11 70 0F A0 03 02 01 02 A1 03 0D 01 01 A2 03 "
              "02 01 00");
    // One command a message: a provider may act on a Root's first element only.
    EXPECT_EQ(decoded(glow::getDirectory({0, 1, 1000, 2}, glow::kind::node)),
              (std::vector<std::string>{"node [0.1.1000.2]", "command [0.1.1000.2] 32"}));
}

}  // namespace
