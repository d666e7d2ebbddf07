// The wall file of `quon-host serve` (TOML): the displays to run, each a
// component with the parent commands it gets at start, and the TSL UMD
// output (see umd_config.h). docs/serve.md describes it.
//
//   [[display]]
//   name = "mon1"                 # the component's name
//   instance = "studio_a_mon_1"   # or matrix = 2 and destination = 2
//   statesheet = "umd_alarm"      # optional
//   sourcedb = 0                  # optional
//   module = "Other.so"           # optional; a path relative to the file
//   parent = ["myFoo=1"]          # optional: more parent commands at start
//   text_control = "myLabel"      # optional: the control its screen shows
//   text_panel = "1"              #   (myMimic on panel 1 unless named)
//
// A display with a `module` may have neither `instance` nor `matrix` and
// `destination`: a component that watches no router.
//
//   [pair]
//   active_address = "192.0.2.50" # optional: this host is one of a pair
//
//   [control]
//   token = "..."                 # optional: the page's control API, on
//
//   [page]                        # optional, each key (docs/web.md)
//   names = ["wall.example"]      # host names the page answers to
//   view_token = "..."            # who may look
//   certificate = "wall.pem"      # HTTPS, with `key`
//   key = "wall.key"
//   plain_http = "redirect"       # or "off", with a certificate
//   connections = 1024            # and the other limits of page_limits
//
//   [[tally_in]], [[on_air]] and [[tie]]: the vision mixers' tally, where
//   on air ends, and the cables between routers (tally_input_config.h,
//   docs/tally.md).
#ifndef QUON_LIVE_WALL_FILE_H
#define QUON_LIVE_WALL_FILE_H

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quon/displays/display_model.h"
#include "quon/screens/umd_config.h"
#include "quon/tally/tally_input_config.h"
#include "quon/tally/tally_types.h"
#include "quon/web/web_view.h"

namespace quon {

struct wall_display {
    std::string name;
    std::string module;  // resolved; empty for the host's default module
    std::optional<std::string> instance;
    std::optional<int> matrix;
    std::optional<int> destination;
    std::optional<int> sourceDatabase;
    std::optional<std::string> statesheet;
    std::vector<std::string> parent;  // `parent = [...]`, in file order
    // The panel control whose text and state sheet its screens show.
    display_control shows;

    // The keys of a [[display]]; "" stands for the [[display]] itself.
    static constexpr std::array<const char*, 12> keys = {"",         "name",        "module",   "instance",
                                                         "statesheet", "matrix",    "destination", "sourcedb",
                                                         "parent",   "umd",         "text_control", "text_panel"};
    // Where each key was written (by its index in `keys`; line 0 where it
    // was not), in the file `file`: what a later check points at. Kept as
    // numbers, not texts: a wall holds a hundred thousand displays.
    struct place {
        uint32_t line = 0;
        uint32_t column = 0;
    };
    std::shared_ptr<const std::string> file;
    std::array<place, keys.size()> places{};
    // The keys whose values were refused (an error each), a bit each by
    // index: what a later check leaves alone rather than err about twice.
    uint16_t refusedKeys = 0;

    // "path:line:column: " where `key` was written, else where the display
    // begins.
    std::string at(const std::string& key) const;
    bool refused(std::string_view key) const;
    // The index of `key` in `keys`, or -1.
    static constexpr int keyIndex(std::string_view key) {
        for (size_t i = 0; i < keys.size(); ++i)
            if (key == keys[i]) return static_cast<int>(i);
        return -1;
    }

    // The parent commands it gets at start, in the documented order:
    // myStatesheet, then instance (or myMatrix and myDestination), then
    // mySourceDB, then those of `parent`.
    std::vector<std::string> startCommands() const;
    bool operator==(const wall_display& other) const;
};

// [pair]: this host is the main or the backup of a pair. It drives the
// screens while `active_address` is assigned to one of its interfaces
// (keepalived moves it to the host it elects), and is standby otherwise.
struct wall_pair {
    std::string activeAddress;  // a numeric IPv4 or IPv6 address, as read back
    bool operator==(const wall_pair& other) const { return activeAddress == other.activeAddress; }
    bool operator!=(const wall_pair& other) const { return !(*this == other); }
};

// [control]: the web view's control API is on (docs/web.md); clients send
// this token. Without it the page is read-only.
struct wall_control {
    std::string token;  // at least 16 characters, printable, no blanks
    bool operator==(const wall_control& other) const { return token == other.token; }
};

// [page]: who reaches the page, by which name, over what, within which
// limits (docs/web.md).
struct wall_page_settings {
    // The host names users type to reach the page (a DNS name the facility
    // gave the host), lower case, in file order. Besides its addresses,
    // localhost and the machine's own name, the only names a request may
    // give in Host, so that another site's page cannot reach the wall
    // through a name of its own that resolves here.
    std::vector<std::string> names;
    std::string viewToken;  // empty: anyone who reaches the port may look
    // HTTPS: the PEM files, resolved against the wall file's folder; both
    // or neither.
    std::string certificate;
    std::string key;
    bool redirectPlain = true;  // plain_http = "redirect"; false: "off"
    web::page_limits limits;
    bool operator==(const wall_page_settings& other) const {
        return names == other.names && viewToken == other.viewToken && certificate == other.certificate &&
               key == other.key && redirectPlain == other.redirectPlain && limits == other.limits;
    }
};

struct wall {
    std::vector<wall_display> displays;  // in file order
    umd_config umd;
    std::optional<wall_pair> pair;  // none: always active
    std::optional<wall_control> control;  // none: read-only page
    wall_page_settings page;
    std::vector<tally::tally_input_config> tallyInputs;  // [[tally_in]], in file order
    std::vector<tally::tie> ties;                        // [[tie]], in file order
    // "path:line:column: " of each tie's keys ("from.matrix",
    // "from.destination", "to.matrix", "to.source") and of the [[tie]]
    // under "": what a later check points at. One a tie.
    std::vector<std::map<std::string, std::string>> tieWhere;
    // [[tally_in.output]] and [[on_air]]; the places of each output's keys
    // (one an output) and of each on-air destination's (one a destination).
    tally::cascade cascade;
    std::vector<std::map<std::string, std::string>> cascadeWhere, onAirWhere;
};

// Reads the wall file. False with every error, each "file:line:column:
// what", in file order, when anything is wrong; `out` is then untouched.
// When the file is TOML that could be read, `readable` (if given) gets
// what of it is usable even so, for a check against the system that says
// everything at once.
bool readWallFile(const std::string& path, wall& out, std::vector<std::string>& errors, wall* readable = nullptr);
bool parseWall(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors,
               wall* readable = nullptr);

// The two readings parseWall is made of, each on its own (for the test that
// holds them alike). The full one (toml++) reads any file and says every
// error. The quick one reads a good file's usual shape without toml++'s
// parse of every display, and gives up (false, `out` untouched) on
// anything it is not sure of or that is wrong: the full one then reads it.
namespace wall_reading {
bool full(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors,
          wall* readable = nullptr);
bool quick(const std::string& text, const std::string& path, wall& out);
}  // namespace wall_reading

// Puts errors "path:line:column: what" in file order (one without a place
// first), keeping the order of errors at one place.
void sortErrorsByPlace(std::vector<std::string>::iterator first, std::vector<std::string>::iterator last,
                       const std::string& path);

}  // namespace quon

#endif
