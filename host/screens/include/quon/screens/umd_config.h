// umd_config: what the UMD output sends where, as the wall file says it
// (live/wall_file.h reads the `[umd]` defaults, every `[tally.NAME]` state
// sheet and the `umd` entry of each `[[display]]`). docs/umd.md describes
// the settings.
//
// Plain values, no pointers; read on whatever thread parses the wall file.
#ifndef QUON_SCREENS_UMD_CONFIG_H
#define QUON_SCREENS_UMD_CONFIG_H

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace quon {

struct screen_protocol;  // screen_protocol.h
enum class umd_transport { udp, tcp };

// One receiver: a protocol, a transport and where it listens. Displays with
// equal destinations share one socket.
struct umd_destination {
    const screen_protocol* protocol = nullptr;  // one of screenProtocols()
    umd_transport transport = umd_transport::udp;
    std::string host;
    uint16_t port = 0;

    bool operator<(const umd_destination& other) const {
        if (protocol != other.protocol) return std::less<const screen_protocol*>()(protocol, other.protocol);
        return std::tie(transport, host, port) < std::tie(other.transport, other.host, other.port);
    }
    bool operator==(const umd_destination& other) const {
        return std::tie(protocol, transport, host, port) ==
               std::tie(other.protocol, other.transport, other.host, other.port);
    }
};

// SCHEME://host:port, for a scheme of one of screenProtocols() ("tsl5+udp",
// "tsl5+tcp", "tsl31+udp"); host is a name, an IPv4 address or a bracketed
// IPv6 address. False when the text does not parse, with `error` completing
// "`to` = TEXT ..." (the forms, a port out of range, a missing host).
bool parseUmdDestination(const std::string& text, umd_destination& out, std::string& error);
// The destination as parseUmdDestination reads it.
std::string umdDestinationText(const umd_destination& destination);


// The colour of a lamp, numbered as both protocols number them.
enum class lamp_colour : uint8_t { off = 0, red = 1, green = 2, amber = 3 };

// What a state sheet shows: three lamps and a brightness from 0 to 3.
struct tally_lamps {
    lamp_colour left = lamp_colour::off;
    lamp_colour text = lamp_colour::off;
    lamp_colour right = lamp_colour::off;
    uint8_t brightness = 3;

    bool operator==(const tally_lamps& other) const {
        return left == other.left && text == other.text && right == other.right && brightness == other.brightness;
    }
    bool operator!=(const tally_lamps& other) const { return !(*this == other); }
};

// Which lamp drives each of the four TSL 3.1 tallies; `none` leaves it off.
enum class tally_lamp { none, left, text, right };
using tsl31_tally_map = std::array<tally_lamp, 4>;

// Which lamp shows program (on air), hot, preview and ISO, and in which
// colour ([umd] `program`, `hot`, `preview`, `iso`: "left:red"); lamp
// `none`: not shown. While lit it overrides the state sheet's colour of
// that lamp and leaves the others.
struct tally_light {
    tally_lamp lamp = tally_lamp::none;
    lamp_colour colour = lamp_colour::off;
    bool operator==(const tally_light& other) const { return lamp == other.lamp && colour == other.colour; }
};
struct tally_lights {
    tally_light program{tally_lamp::left, lamp_colour::red};
    tally_light preview{tally_lamp::right, lamp_colour::green};
    tally_light hot{tally_lamp::left, lamp_colour::amber};
    tally_light iso{tally_lamp::text, lamp_colour::red};
    bool operator==(const tally_lights& other) const {
        return program == other.program && preview == other.preview && hot == other.hot && iso == other.iso;
    }
};
// `lamps` with `light` lit over its lamp.
tally_lamps lightUp(tally_lamps lamps, const tally_light& light);

// What a display's screen shows while the router the display watches is
// lost (its link went down after it was up), per [umd] `on_router_lost`:
// the name as it was (keep), the name with one lamp lit (mark), nothing
// (blank) or `text`. blank and text wait `after` first, so that a short
// drop changes nothing on the screen; mark is lit at once.
enum class lost_treatment { keep, mark, blank, text };
// "keep", "mark", "blank" or "text".
const char* lostTreatmentName(lost_treatment treatment);

struct router_lost {
    lost_treatment treatment = lost_treatment::keep;
    tally_lamp markLamp = tally_lamp::text;
    lamp_colour markColour = lamp_colour::amber;
    std::string text;
    std::chrono::milliseconds after{10000};

    bool operator==(const router_lost& other) const {
        return treatment == other.treatment && markLamp == other.markLamp && markColour == other.markColour &&
               text == other.text && after == other.after;
    }
};

// A display that is sent: its `[[display]]` name, where, and which display
// of that receiver: `index` within its protocol's limits (TSL 5: an index
// from 0 to 65534; TSL 3.1: an address from 0 to 126).
struct umd_display {
    std::string name;
    umd_destination to;
    uint16_t screen = 0;
    uint16_t index = 0;
};

struct umd_config {
    // How often every display is sent again; zero sends on change only.
    // Half a second: a datagram lost at 5 % loss is sent again four times
    // within 2 s (docs/umd.md, "The refresh").
    std::chrono::milliseconds refresh{500};
    // TSL 5: pack displays of one screen into one packet.
    bool batch = false;
    // Send blank displays with every lamp off at shutdown.
    bool blank_on_exit = false;
    tsl31_tally_map tally31{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};
    // State sheet name to lamps.
    std::map<std::string, tally_lamps> tallies;
    // Only the displays that have a `umd` entry, in the wall file's order.
    std::vector<umd_display> displays;
    // What each display's screen shows while its router is lost, by
    // display name: [umd]'s, unless its `umd` says otherwise. A display not
    // listed keeps its name.
    std::map<std::string, router_lost> lost;
    // The lamps that show program and preview: [umd]'s, and those of the
    // displays whose `umd` says otherwise, by display name.
    tally_lights lights;
    std::map<std::string, tally_lights> displayLights;

    // The lamps of a state sheet; a sheet without a `[tally.NAME]` shows
    // every lamp off at full brightness.
    tally_lamps lampsFor(const std::string& statesheet) const;
    router_lost lostFor(const std::string& display) const;
    const tally_lights& lightsFor(const std::string& display) const;
};

}  // namespace quon

#endif
