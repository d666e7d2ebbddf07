// S101 framing: escaping, the CRC, keep-alives, messages of several
// packets both ways, and a reader that takes a stream cut anywhere, skips
// what is broken and goes on with the next good frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hex_bytes.h"
#include "quon/routers/emberplus/emberplus_s101.h"

namespace s101 = quon::routers::s101;

namespace {

using quon::test::hex;
using quon::test::showHex;

struct collected : s101::frame_sink {
    std::vector<std::string> events;
    void onMessage(const std::string& ber) override { events.push_back("message " + showHex(ber)); }
    void onKeepAliveRequest() override { events.push_back("keep-alive request"); }
    void onKeepAliveResponse() override { events.push_back("keep-alive response"); }
    void onFrameProblem(s101::problem p) override { events.push_back(std::string("problem ") + s101::describe(p)); }
};

std::vector<std::string> read(const std::string& stream, std::size_t piece = 0) {
    s101::reader reader;
    collected sink;
    if (piece == 0) piece = stream.size() + 1;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::string part = stream.substr(at, piece);
        reader.feed(reinterpret_cast<const std::uint8_t*>(part.data()), part.size(), sink);
    }
    return sink.events;
}

const std::string root_get_directory = "60 0B 6B 09 A0 07 62 05 A0 03 02 01 20";

TEST(S101Crc, IsX25) {
    const std::string check = "123456789";
    EXPECT_EQ(s101::crc(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x906E);
}

TEST(S101Frame, TheDocumentationsExampleEscapesDataAndCrc) {
    EXPECT_EQ(showHex(s101::frame(hex("FF 00 F9 01"))), "FE FD DF 00 FD D9 01 95 83 FF");
}

struct worked_frame {
    const char* what;
    std::string built;
    const char* wire;
};

TEST(S101Frame, WritesTheWorkedFrames) {
    const std::vector<worked_frame> frames = {
        {"keep-alive request", s101::keepAliveRequest(), "FE 00 0E 01 01 94 E4 FF"},
        {"keep-alive response (a CRC byte escaped)", s101::keepAliveResponse(), "FE 00 0E 02 01 FD DC CE FF"},
        {"GetDirectory on the root, DTD 2.50", s101::message(hex(root_get_directory)),
         "FE 00 0E 00 01 C0 01 02 32 02 60 0B 6B 09 A0 07 62 05 A0 03 02 01 20 8C 90 FF"},
        {"a connection request (a CRC byte escaped)",
         s101::message(hex("60 24 6B 22 A0 20 71 1E A0 05 0D 03 00 01 00 A5 15 30 13 A0 11 70 0F A0 03 02 01 02 A1 03 "
                           "0D 01 01 A2 03 02 01 00")),
         "FE 00 0E 00 01 C0 01 02 32 02 60 24 6B 22 A0 20 71 1E A0 05 0D 03 00 01 00 A5 15 30 13 A0 11 70 0F A0 03 02 "
         "01 02 A1 03 0D 01 01 A2 03 02 01 00 AC FD DB FF"},
    };
    for (const worked_frame& f : frames) EXPECT_EQ(showHex(f.built), f.wire) << f.what;
}

struct read_case {
    const char* what;
    const char* wire;
    std::vector<std::string> events;
};

TEST(S101Reader, ReadsTheWorkedFramesAndSkipsWhatIsBroken) {
    const std::vector<read_case> cases = {
        {"keep-alive request", "FE 00 0E 01 01 94 E4 FF", {"keep-alive request"}},
        {"keep-alive response", "FE 00 0E 02 01 FD DC CE FF", {"keep-alive response"}},
        {"GetDirectory, DTD 2.31", "FE 00 0E 00 01 C0 01 02 1F 02 60 0B 6B 09 A0 07 62 05 A0 03 02 01 20 B4 EC FF",
         {"message " + showHex(hex(root_get_directory))}},
        {"dirFieldMask all, an escaped FF in the payload",
         "FE 00 0E 00 01 C0 01 02 1F 02 60 10 6B 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FD DF 94 8F FF",
         {"message 60 10 6B 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FF"}},
        {"the empty Root of a path not there", "FE 00 0E 00 01 C0 01 02 1F 02 60 00 9D FD DD FF", {"message 60 00"}},
        {"a provider's answer, isOnline's FF escaped",
         "FE 00 0E 00 01 C0 01 02 1F 02 60 1E 6B 1C A0 1A 6A 18 A0 03 0D 01 00 A1 11 31 0F A0 08 0C 06 72 6F 75 74 65 72 "
         "A3 03 01 01 FD DF 16 35 FF",
         {"message 60 1E 6B 1C A0 1A 6A 18 A0 03 0D 01 00 A1 11 31 0F A0 08 0C 06 72 6F 75 74 65 72 A3 03 01 01 FF"}},
        {"a bad CRC, then a good frame", "FE 00 0E 01 01 94 E5 FF FE 00 0E 01 01 94 E4 FF",
         {"problem an S101 frame with a bad CRC", "keep-alive request"}},
        {"garbage before a frame, reported once", "01 02 03 F8 FE 00 0E 01 01 94 E4 FF",
         {"problem bytes outside an S101 frame", "keep-alive request"}},
        {"a frame cut short by another", "FE 00 0E 00 FE 00 0E 01 01 94 E4 FF",
         {"problem an S101 frame cut short by the start of another", "keep-alive request"}},
        {"too short", "FE 00 0E FF", {"problem an S101 frame too short for its header"}},
        {"a broken CRC that ends in an escape", "FE 00 0E 01 01 94 E4 FD FF", {"problem an S101 frame with a bad CRC"}},
    };
    for (const read_case& c : cases) EXPECT_EQ(read(hex(c.wire)), c.events) << c.what;
}

// Providers announce Glow DTD 2.5, 2.20, 2.31 or 2.50 (minor byte first):
// each is read alike.
TEST(S101Reader, EveryAnnouncedDtdVersionIsRead) {
    for (const char* version : {"05 02", "14 02", "1F 02", "32 02"}) {
        const std::string frame = s101::frame(hex(std::string("00 0E 00 01 C0 01 02 ") + version + " 60 00"));
        EXPECT_EQ(read(frame), std::vector<std::string>{"message 60 00"}) << version;
    }
}

TEST(S101Reader, AnUnknownCommandOrMessageTypeIsSkipped) {
    // Provider state (command 3), then a message type other than EmBER.
    const std::string state = s101::frame(hex("00 0E 03 01 01"));
    const std::string other = s101::frame(hex("00 0D 01 01"));
    EXPECT_EQ(read(state + other + s101::keepAliveRequest()),
              (std::vector<std::string>{"problem an S101 frame that is not Ember+ (Glow)", "keep-alive request"}));
    const std::string notGlow = s101::frame(hex("00 0E 00 01 C0 02 00 60 00"));
    EXPECT_EQ(read(notGlow), std::vector<std::string>{"problem an S101 frame that is not Ember+ (Glow)"});
}

TEST(S101Reader, AStreamSplitAtEveryByteReadsTheSame) {
    const std::string stream = s101::keepAliveRequest() +
                               hex("FE 00 0E 00 01 C0 01 02 1F 02 60 10 6B 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 "
                                   "FD DF 94 8F FF") +
                               s101::message(std::string(3000, '\xFE')) + s101::keepAliveResponse();
    const std::vector<std::string> whole = read(stream);
    ASSERT_EQ(whole.size(), 4u);
    for (std::size_t split = 1; split < stream.size(); ++split) {
        s101::reader reader;
        collected sink;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
        reader.feed(bytes, split, sink);
        reader.feed(bytes + split, stream.size() - split, sink);
        ASSERT_EQ(sink.events, whole) << "split at " << split;
    }
    EXPECT_EQ(read(stream, 1), whole);
}

// Libraries count the 1,024 bytes of a packet differently (the payload
// alone, with its header, or escaped): each packet sent keeps within all.
TEST(S101Message, ALongMessageGoesInPacketsOfAtMost1024BytesHoweverCounted) {
    for (const bool escapes : {false, true}) {
        std::string ber;
        for (int i = 0; i < 3000; ++i) ber += static_cast<char>(escapes ? 0xF0 + i % 16 : i % 0xF8);
        const std::string wire = s101::message(ber);
        std::vector<std::string> frames;
        std::size_t start = 0;
        for (std::size_t i = 0; i < wire.size(); ++i) {
            if (static_cast<std::uint8_t>(wire[i]) == s101::eof) {
                frames.push_back(wire.substr(start, i + 1 - start));
                start = i + 1;
            }
        }
        ASSERT_EQ(frames.size(), escapes ? 5u : 3u) << escapes;  // 1,015 bytes a packet once escaped
        std::size_t carried = 0;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            std::string unescaped;
            for (std::size_t i = 1; i + 1 < frames[f].size(); ++i) {
                if (static_cast<std::uint8_t>(frames[f][i]) == s101::escape)
                    unescaped += static_cast<char>(frames[f][++i] ^ s101::escape_xor);
                else
                    unescaped += frames[f][i];
            }
            const std::uint8_t flags = f == 0 ? 0x80 : f + 1 == frames.size() ? 0x40 : 0x00;
            EXPECT_EQ(static_cast<std::uint8_t>(unescaped[4]), flags) << f;
            const std::size_t payload = unescaped.size() - 9 - 2;
            carried += payload;
            EXPECT_LE(payload + 9, 1024u) << f;
            // The escaped payload (CRC bytes left out) and its header.
            std::string escapedPart;
            for (std::size_t i = 9; i < 9 + payload; ++i)
                escapedPart += static_cast<std::uint8_t>(unescaped[i]) >= s101::lowest_escaped ? "xx" : "x";
            EXPECT_LE(escapedPart.size() + 9, 1024u) << f;
            if (f + 1 < frames.size()) {
                EXPECT_GE(escapedPart.size() + 9, 1023u) << "packets are filled " << f;
            }
        }
        EXPECT_EQ(carried, ber.size());
        EXPECT_EQ(read(wire), std::vector<std::string>{"message " + showHex(ber)});
    }
}

TEST(S101Reader, JoinsPacketsAndTakesAnEmptyLastOne) {
    const auto packet = [](std::uint8_t flags, const std::string& payload) {
        return s101::frame(hex("00 0E 00 01") + std::string(1, static_cast<char>(flags)) + hex("01 02 1F 02") + payload);
    };
    EXPECT_EQ(read(packet(0x80, hex("60 03")) + packet(0x00, hex("6B")) + packet(0x40, hex("01 00"))),
              std::vector<std::string>{"message 60 03 6B 01 00"});
    EXPECT_EQ(read(packet(0x80, hex("60 00")) + packet(0x60, "")), std::vector<std::string>{"message 60 00"});
    EXPECT_EQ(read(packet(0x00, hex("6B")) + packet(0x40, hex("60 00")) + packet(0xC0, hex("60 00"))),
              (std::vector<std::string>{"problem S101 packets of a message out of order",
                                        "problem S101 packets of a message out of order", "message 60 00"}));
    EXPECT_EQ(read(packet(0x80, hex("61")) + packet(0xC0, hex("60 00"))),
              (std::vector<std::string>{"problem S101 packets of a message out of order", "message 60 00"}));
}

TEST(S101Reader, CountsBytesWithoutAGoodFrame) {
    s101::reader reader;
    collected sink;
    const std::string garbage(16 * 1024 + 10, 'x');
    reader.feed(reinterpret_cast<const std::uint8_t*>(garbage.data()), garbage.size(), sink);
    EXPECT_EQ(reader.bytesSinceGoodFrame(), garbage.size());
    EXPECT_EQ(sink.events, std::vector<std::string>{"problem bytes outside an S101 frame"});
    const std::string good = s101::keepAliveRequest();
    reader.feed(reinterpret_cast<const std::uint8_t*>(good.data()), good.size(), sink);
    EXPECT_EQ(reader.bytesSinceGoodFrame(), 0u);
    // A frame that never ends is dropped at its limit, then skipped to the next BOF.
    const std::string endless = "\xFE" + std::string(20000, 'a') + "\xFF" + good;
    sink.events.clear();
    reader.feed(reinterpret_cast<const std::uint8_t*>(endless.data()), endless.size(), sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"problem an S101 frame longer than 16384 bytes", "keep-alive request"}));
}

}  // namespace
