// The Quartz router protocol as bytes: a reader that cuts the stream into
// messages, the parsing of the messages a link takes, and the requests it
// sends. No sockets; numbers here are the wire's, which count from 1 as the
// host does. Not thread-aware: one reader belongs to one connection.
//
// A message is '.', a body of printable ASCII (names may hold any byte but
// CR and LF), and a carriage return. Levels are letters: V, then A, B, ...
// in the order the router lists them.
#ifndef QUON_ROUTERS_QUARTZ_PROTOCOL_H
#define QUON_ROUTERS_QUARTZ_PROTOCOL_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quon::routers::quartz {

// The port most Quartz routers listen on (the telnet port).
constexpr unsigned short default_port = 23;

// The largest destination or source number taken from the wire; larger
// numbers are malformed.
constexpr int max_number = 65535;

// What the reader had to skip, for reporting.
enum class reader_problem { garbage, line_too_long };
std::string describe(reader_problem problem);

// Receives what the reader finds; called from within feed().
struct message_sink {
    virtual ~message_sink() = default;
    // The bytes between the '.' and the line end, without either.
    virtual void onMessage(std::string_view body) = 0;
    virtual void onReaderProblem(reader_problem problem) = 0;
};

class reader {
public:
    // A message longer than this without its line end is dropped.
    static constexpr std::size_t max_message_bytes = 4096;

    // Consumes bytes as they come off the connection, in pieces of any size.
    // Bytes outside a message (before its '.') are skipped up to the next
    // '.'; CR and LF there are line ends and not garbage. A message ends at
    // CR or LF. Memory stays within max_message_bytes whatever the bytes.
    void feed(std::string_view bytes, message_sink& sink);
    // Forgets a partial message (a new connection).
    void reset();

private:
    enum class state { between, in_message, skipping };
    state state_ = state::between;
    std::string body_;
    bool garbageRun_ = false;  // one report for each run of skipped bytes
};

// A level letter: 'A' to 'Z'.
bool isLevel(char c);

// What a message says.
namespace message {
// ".A": acknowledges a request (the test request's answer).
struct acknowledge {};
// ".E": the router did not take a request.
struct error {};
// ".P": the router started (power up or reset); its state may be new.
struct power_up {};
// One route of a level. `update` is a pushed ".U" (levels holds each level
// letter it names); an ".A" answer to an interrogate or a list holds one
// level. A source above 4095 may carry a tie-line's level in its upper
// bits: `source` is the number as sent.
struct route {
    bool update = false;
    std::string levels;
    int destination = 0;
    int source = 0;
};
struct routes {
    std::vector<route> items;
};
// ".RAS"/".RAD": a source's or destination's name, with its number
// (".RAS5,CAM 5") or without (".RASCAM 5", the answer to the oldest
// request). `text` is the raw name, padding and all.
struct name {
    bool source = true;
    std::optional<int> number;
    std::string_view text;
};
// A message of a known kind that this link does not use (locks, level
// names, salvo answers): taken without a word.
struct ignored {};
// A message of no known kind, or of a known kind but not its shape.
struct unknown {
    bool malformed = false;  // a known kind (".A", ".U", ".RA") of the wrong shape
};
}  // namespace message

using parsed = std::variant<message::acknowledge, message::error, message::power_up, message::routes, message::name,
                            message::ignored, message::unknown>;
// `body` as the reader gives it; a name's text points into it.
parsed parse(std::string_view body);

// A whole decimal number within 1..max_number; leading zeros allowed.
std::optional<int> parseNumber(std::string_view digits);

// A tie-line source: the source number in the lower 12 bits.
constexpr int tieline_source_mask = 0xFFF;

// Requests, each with its CR.
std::string interrogate(char level, int destination);           // ".IV12\r"
std::string setRoute(char level, int destination, int source);  // ".SV12,3\r"
std::string readName(bool source, int number);                  // ".RS3\r", ".RD12\r"
std::string testConnection();                                   // ".#01\r", answered ".A"

}  // namespace quon::routers::quartz

#endif
