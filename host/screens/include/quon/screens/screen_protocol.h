// screen_protocol: what the host knows of one screen protocol (TSL 5, TSL
// 3.1, ...), in one place: its name, the schemes the wall file's `to` takes
// for it, the limits of its display numbers, and the codec that turns a
// display's state into its bytes. Each protocol lives in a folder of its own
// under host/screens/ and is listed once in screen_protocols.cpp; the wall
// reader and the output ask the list, never a protocol by name.
//
// Descriptors are constants; codecs are plain values. Any thread.
#ifndef QUON_SCREENS_SCREEN_PROTOCOL_H
#define QUON_SCREENS_SCREEN_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quon/screens/umd_config.h"

namespace quon {

// One display's message as its codec encoded it, kept until it is sent
// (and sent again at each refresh without encoding it anew).
struct screen_message {
    std::string bytes;  // as the codec appends it to a packet
    // Messages of one group may share a packet (TSL 5: one screen and one
    // text encoding); others never do.
    uint32_t group = 0;
};

// Turns displays' states into packets for one receiver. Made from the wall
// file's settings by its protocol's descriptor.
class screen_codec {
public:
    virtual ~screen_codec() = default;

    // The message that shows `text` (a source name, UTF-8 or Windows-1252)
    // with `lamps` on display `index` of `screen`.
    virtual void encode(uint16_t screen, uint16_t index, const std::string& text, const tally_lamps& lamps,
                        screen_message& out) const = 0;
    // A packet: begin() with its first message, append() each next one it
    // may also carry (false, leaving the packet alone: that one goes in the
    // next packet), then finish().
    virtual void begin(std::string& packet, const screen_message& first) const = 0;
    virtual bool append(std::string& packet, const screen_message& next) const = 0;
    virtual void finish(std::string& packet) const = 0;
    // Appends a finished packet to a byte stream (TCP). Plain bytes unless
    // the protocol frames its packets on a stream.
    virtual void frame(std::string& stream, std::string_view packet) const { stream.append(packet); }
    // Builds every packet as `other` does (a reload may keep a receiver's
    // connection and displays then).
    virtual bool buildsAlike(const screen_codec& other) const = 0;
};

// How a protocol's packets travel.
struct screen_scheme {
    const char* text;  // as the wall file's `to` writes it: "tsl5+udp"
    umd_transport transport;
};

struct screen_protocol {
    const char* name;  // "TSL 5", as messages and docs say it
    std::vector<screen_scheme> schemes;
    // Display numbers run from 0 to maxIndex; `indexWord` is what the
    // protocol calls one ("index", "address").
    uint16_t maxIndex;
    const char* indexWord;
    // Screens run from 0 to maxScreen; a protocol without screens has none
    // (every display is on screen 0).
    bool screens;
    uint16_t maxScreen;
    std::unique_ptr<screen_codec> (*makeCodec)(const umd_config& config);
};

// Every screen protocol the host speaks, in the order the docs list them.
const std::vector<const screen_protocol*>& screenProtocols();

}  // namespace quon

#endif
