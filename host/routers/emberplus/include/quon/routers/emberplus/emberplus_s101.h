// emberplus_s101: the S101 framing that carries Ember+ over a TCP stream.
// A frame runs from BOF (0xFE) to EOF (0xFF); inside it every byte from
// 0xF8 up goes as 0xFD and the byte XOR 0x20, and a CRC-CCITT (reflected,
// as X.25) over the unescaped bytes comes last, low byte first. Frames
// carry a keep-alive request or response, or one packet of an EmBER
// message; the flags of a packet say whether it is the first, the last or
// both, and the packets of one message are joined before it is decoded.
//
// Pure: the writers return bytes, the reader takes bytes in pieces of any
// size and tells a sink what it found. No state is shared.
#ifndef QUON_ROUTERS_EMBERPLUS_S101_H
#define QUON_ROUTERS_EMBERPLUS_S101_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quon::routers::s101 {

constexpr std::uint16_t default_port = 9000;  // no port is fixed; the open libraries use this one

constexpr std::uint8_t bof = 0xFE;
constexpr std::uint8_t eof = 0xFF;
constexpr std::uint8_t escape = 0xFD;
constexpr std::uint8_t escape_xor = 0x20;
constexpr std::uint8_t lowest_escaped = 0xF8;

constexpr std::uint8_t message_ember = 0x0E;
constexpr std::uint8_t command_ember = 0x00;
constexpr std::uint8_t command_keep_alive_request = 0x01;
constexpr std::uint8_t command_keep_alive_response = 0x02;
constexpr std::uint8_t version = 0x01;
constexpr std::uint8_t dtd_glow = 0x01;

constexpr std::uint8_t flag_first = 0x80;
constexpr std::uint8_t flag_last = 0x40;
constexpr std::uint8_t flag_empty = 0x20;

// The most payload one packet carries when this side sends: with its
// header, and escaped, at most this many bytes.
constexpr std::size_t max_packet_payload = 1024;
constexpr std::size_t packet_header_bytes = 9;
// A frame longer than this (unescaped) is not one any provider sends.
constexpr std::size_t max_frame_bytes = 16384;
// A message joined from packets longer than this is dropped.
constexpr std::size_t max_message_bytes = 4u << 20;

// CRC-16/X-25 of the bytes: what goes on the wire (already inverted).
std::uint16_t crc(const std::uint8_t* data, std::size_t size);

// A frame of these unescaped bytes (header and payload): BOF, the bytes
// and their CRC escaped, EOF.
std::string frame(std::string_view unescaped);
std::string keepAliveRequest();
std::string keepAliveResponse();
// An EmBER message: one frame when it fits max_packet_payload, else
// packets flagged first, middle.., last, each with at most
// max_packet_payload bytes of header and escaped payload. Glow, announced
// as DTD 2.50.
std::string message(std::string_view ber);

enum class problem {
    bytes_outside_frame,  // bytes between frames that start none
    frame_cut_short,      // a BOF before the EOF of the frame under way
    frame_too_long,       // past max_frame_bytes without EOF
    bad_crc,
    frame_too_short,
    not_ember,            // a message type other than EmBER, or an EmBER payload that is not Glow
    packet_out_of_order,  // a middle or last packet with no first, or a first before the last ended
    message_too_long,     // the packets of one message past max_message_bytes
};
const char* describe(problem p);

class frame_sink {
public:
    virtual ~frame_sink() = default;
    // A whole EmBER message (its packets joined), not yet decoded; the
    // reader's own buffer, valid during the call (the reader must not be fed
    // from within it).
    virtual void onMessage(const std::string& ber) = 0;
    virtual void onKeepAliveRequest() = 0;
    virtual void onKeepAliveResponse() = 0;
    virtual void onFrameProblem(problem p) = 0;
};

// Takes a stream in pieces of any size. Frames with other commands (the
// provider state some send) are good frames that carry nothing needed.
class reader {
public:
    void feed(const std::uint8_t* data, std::size_t size, frame_sink& sink);
    void reset();
    // Bytes taken since the last frame whose CRC was good: a stream that
    // never yields one is beyond resynchronising.
    std::size_t bytesSinceGoodFrame() const { return sinceGood_; }

private:
    void endFrame(frame_sink& sink);

    std::string frame_;    // unescaped bytes of the frame under way
    std::string message_;  // payloads of the message under way
    std::string delivered_;  // the last message handed to the sink
    static constexpr std::size_t kept_buffer_bytes = 256u << 10;
    bool inFrame_ = false;
    bool escaped_ = false;
    bool skipping_ = false;     // a frame too long: its bytes go until the next BOF
    bool inGarbage_ = false;    // bytes outside a frame already reported
    bool inMessage_ = false;    // a first packet came and no last yet
    std::size_t sinceGood_ = 0;
};

}  // namespace quon::routers::s101

#endif
