// SW-P-08 as bytes: the frame reader (DLE stuffing, byte count, checksum),
// the decoding of the messages the client uses, and the messages a client
// sends. No sockets; numbers here are the wire's (0-based). Not
// thread-aware: one reader belongs to one connection.
//
// A frame is DLE STX, data, a byte count of the data, a checksum (the two's
// complement of the 8-bit sum of data and count), DLE ETX; a DLE within is
// sent twice. DLE ACK and DLE NAK answer a frame.
#ifndef QUON_ROUTERS_SWP08_PROTOCOL_H
#define QUON_ROUTERS_SWP08_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quon::routers::swp08 {

constexpr unsigned short default_port = 8910;

constexpr std::uint8_t dle = 0x10, stx = 0x02, etx = 0x03, ack = 0x06, nak = 0x15;

enum command : std::uint8_t {
    interrogate = 0x01,
    connect = 0x02,
    tally = 0x03,
    connected = 0x04,
    source_names_request = 0x64,
    destination_names_request = 0x66,
    source_names = 0x6A,
    destination_names = 0x6B,
    extended_interrogate = 0x81,
    extended_connect = 0x82,
    extended_tally = 0x83,
    extended_connected = 0x84,
};

// The largest number the short forms carry (wire numbering).
constexpr int short_form_max = 1023;
constexpr int extended_form_max = 65535;
// Largest data we accept in one frame; the longest message the client reads
// (a names message) holds 7 + 32 * 4 bytes.
constexpr std::size_t max_frame_data = 255;

enum class frame_problem {
    bad_checksum,    // answered with NAK
    bad_byte_count,  // answered with NAK
    too_long,        // skipped up to the next DLE STX
    bad_escape,      // DLE then a byte that is no control code, within a frame
    interrupted,     // a DLE STX within a frame: that frame is dropped
    outside_frame,   // bytes between frames
};
std::string describe(frame_problem problem);

// Receives what the reader finds; called from within feed().
struct frame_sink {
    virtual ~frame_sink() = default;
    virtual void onFrame(const std::vector<std::uint8_t>& data) = 0;  // without count and checksum
    virtual void onAck() = 0;
    virtual void onNak() = 0;
    virtual void onFrameProblem(frame_problem problem) = 0;
};

class frame_reader {
public:
    // Consumes bytes as they come off the connection, in pieces of any size;
    // memory stays within max_frame_data whatever the bytes are.
    void feed(const std::uint8_t* bytes, std::size_t size, frame_sink& sink);
    void reset();

private:
    void endFrame(frame_sink& sink);

    enum class state { between, between_dle, in_frame, in_frame_dle, skipping, skipping_dle };
    state state_ = state::between;
    std::vector<std::uint8_t> data_;
};

// Wraps data in a frame: count, checksum, stuffing.
std::vector<std::uint8_t> frame(const std::vector<std::uint8_t>& data);
std::uint8_t checksum(const std::vector<std::uint8_t>& dataAndCount);

// A matrix/level address, wire numbering (0-based).
struct address {
    int matrix = 0;
    int level = 0;
};

// Messages a client sends. Each picks the short form when every number
// fits it (destination and source up to 1023, matrix and level up to 15)
// and the extended form otherwise.
std::vector<std::uint8_t> interrogateMessage(address at, int destination);
std::vector<std::uint8_t> connectMessage(address at, int destination, int source);
// The router's answer to a connect or interrogate (the fake router sends it).
std::vector<std::uint8_t> tallyMessage(address at, int destination, int source, bool connectedForm);
// nameLength: 4, 8 or 12.
std::vector<std::uint8_t> namesRequest(bool sources, address at, int nameLength);
// Up to namesPerMessage(nameLength) names from `first` on (router side).
std::vector<std::uint8_t> namesMessage(bool sources, address at, int nameLength, int first,
                                       const std::vector<std::string>& names);
int namesPerMessage(int nameLength);
// The length code of 4, 8 or 12 characters, or nothing.
std::optional<std::uint8_t> nameLengthCode(int nameLength);

// A decoded crosspoint state (tally, connected, or a request the fake
// router reads).
struct crosspoint_message {
    std::uint8_t command;  // with the extended bit cleared: interrogate..connected
    address at;
    int destination;
    int source;  // -1 for an interrogate
};
// Nothing when data is not a well-formed crosspoint message of one of the
// eight forms.
std::optional<crosspoint_message> decodeCrosspoint(const std::vector<std::uint8_t>& data);

struct names_message {
    bool sources;
    int matrix;  // wire numbering
    int level;   // source names only
    int nameLength;
    int first;
    std::vector<std::string> names;  // raw, as sent (padding kept)
};
std::optional<names_message> decodeNames(const std::vector<std::uint8_t>& data);

struct names_request {
    bool sources;
    address at;
    int nameLength;
};
std::optional<names_request> decodeNamesRequest(const std::vector<std::uint8_t>& data);

}  // namespace quon::routers::swp08

#endif
