// The Videohub Ethernet protocol as bytes: a reader that cuts the text
// stream into blocks, the parsing of the blocks the client uses, and the
// requests a client sends. No sockets; numbers here are the wire's
// (0-based). Not thread-aware: one reader belongs to one connection.
//
// A block is a header line (ending in ':' for a data block; "ACK" and "NAK"
// stand alone), item lines, and one empty line. Line ends may be LF, CR LF
// or CR.
#ifndef QUON_ROUTERS_VIDEOHUB_PROTOCOL_H
#define QUON_ROUTERS_VIDEOHUB_PROTOCOL_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quon::routers::videohub {

constexpr unsigned short default_port = 9990;

struct block {
    std::string header;  // without the line end, e.g. "VIDEO OUTPUT ROUTING:" or "ACK"
    std::vector<std::string> lines;
};
inline bool operator==(const block& a, const block& b) { return a.header == b.header && a.lines == b.lines; }

// What the reader had to skip or cut, for reporting.
enum class reader_problem { line_too_long, block_too_large };
std::string describe(reader_problem problem);

struct reader_limits {
    std::size_t maxLineBytes = 4096;   // a longer line is skipped
    std::size_t maxBlockLines = 4096;  // lines past this are skipped, the block kept
};

// Receives what the reader finds; called from within feed().
struct block_sink {
    virtual ~block_sink() = default;
    virtual void onBlock(const block& complete) = 0;
    virtual void onReaderProblem(reader_problem problem) = 0;
};

class reader {
public:
    explicit reader(reader_limits limits = {}) : limits_(limits) {}
    // Consumes bytes as they come off the connection, in pieces of any size.
    // Memory stays within the limits whatever the bytes are.
    void feed(std::string_view bytes, block_sink& sink);
    // Forgets a partial line and block (a new connection).
    void reset();

private:
    void endLine(block_sink& sink);

    reader_limits limits_;
    std::string line_;
    block current_;
    bool inBlock_ = false;
    bool skippingLine_ = false;  // the current line grew past the limit
    bool lastWasCr_ = false;     // a LF right after a CR ends nothing
    bool blockCut_ = false;      // lines of the current block were dropped
};

// An item line "index rest": a decimal index, one blank, then the rest
// (which may hold blanks). Nothing when the line has no such shape.
struct item {
    int index;
    std::string_view rest;
};
std::optional<item> parseItem(std::string_view line);
// A whole decimal number without sign within 0..max.
std::optional<int> parseNumber(std::string_view text, int max);
// The value of "Key: value" in a block of such lines (VIDEOHUB DEVICE:).
std::optional<std::string_view> field(const block& fields, std::string_view key);

// Requests.
std::string routeRequest(int output, int input);  // "VIDEO OUTPUT ROUTING:\n7 12\n\n"
std::string query(std::string_view header);       // a bare header asks for the whole block
std::string ping();                               // "PING:\n\n", answered with ACK

// Header names.
constexpr std::string_view preamble_header = "PROTOCOL PREAMBLE:";
constexpr std::string_view device_header = "VIDEOHUB DEVICE:";
constexpr std::string_view input_labels_header = "INPUT LABELS:";
constexpr std::string_view output_labels_header = "OUTPUT LABELS:";
constexpr std::string_view routing_header = "VIDEO OUTPUT ROUTING:";
constexpr std::string_view locks_header = "VIDEO OUTPUT LOCKS:";
constexpr std::string_view end_prelude_header = "END PRELUDE:";
constexpr std::string_view ack_header = "ACK";
constexpr std::string_view nak_header = "NAK";

}  // namespace quon::routers::videohub

#endif
