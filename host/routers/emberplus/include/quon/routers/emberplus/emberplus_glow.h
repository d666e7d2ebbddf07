// emberplus_glow: the BER encoding Ember+ uses and the part of its Glow
// tree a matrix consumer reads and writes.
//
// BER: definite lengths (short and long form, minimal or not) and
// indefinite ones closed by end-of-contents, in any mix; tags in one or
// more bytes; INTEGER up to 64 bits, BOOLEAN, UTF8String, RELATIVE-OID.
// Glow: every element of a message (Node, Parameter, Matrix, Command; each
// nested or qualified) comes out as one flat `element` with its absolute
// path, in the order of the message, so that what a provider sends is
// applied by path whatever shape it has. Whatever is not read here (other
// types, other fields, REAL values) is skipped by its length; only bytes
// that break BER (a length past its container, a truncated number) are an
// error, and then the elements read before the break are kept.
//
// Pure; no state.
#ifndef QUON_ROUTERS_EMBERPLUS_GLOW_H
#define QUON_ROUTERS_EMBERPLUS_GLOW_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quon::routers {

namespace ber {

// An identifier byte of a constructed [APPLICATION n] or [CONTEXT n].
constexpr std::uint8_t application(int n) { return static_cast<std::uint8_t>(0x60 | n); }
constexpr std::uint8_t context(int n) { return static_cast<std::uint8_t>(0xA0 | n); }
constexpr std::uint8_t sequence = 0x30;
constexpr std::uint8_t set = 0x31;

// A TLV with a definite length in its shortest form.
std::string wrap(std::uint8_t identifier, std::string_view content);
// A constructed TLV with an indefinite length (content, then 00 00).
std::string wrapIndefinite(std::uint8_t identifier, std::string_view content);
std::string integer(std::int64_t value);
std::string boolean(bool value);
std::string utf8(std::string_view text);
std::string relativeOid(const std::vector<std::uint32_t>& components);

}  // namespace ber

namespace glow {

using path = std::vector<std::uint32_t>;

std::string showPath(const path& at);  // "0.1.0"; "" for the root

constexpr std::int64_t command_subscribe = 30;
constexpr std::int64_t command_unsubscribe = 31;
constexpr std::int64_t command_get_directory = 32;

constexpr std::int64_t matrix_one_to_n = 0;
constexpr std::int64_t matrix_one_to_one = 1;
constexpr std::int64_t matrix_n_to_n = 2;

constexpr std::int64_t operation_absolute = 0;
constexpr std::int64_t disposition_tally = 0;
constexpr std::int64_t disposition_modified = 1;
constexpr std::int64_t disposition_pending = 2;
constexpr std::int64_t disposition_locked = 3;

struct label_layer {
    path basePath;
    std::string description;
    bool operator==(const label_layer& o) const { return basePath == o.basePath && description == o.description; }
};

struct signal {
    std::int64_t number = 0;
    std::optional<path> labelsLocation;
    bool operator==(const signal& o) const { return number == o.number && labelsLocation == o.labelsLocation; }
};

struct connection {
    std::int64_t target = 0;
    std::vector<std::uint32_t> sources;  // empty: nothing connected
    std::optional<std::int64_t> operation;
    std::optional<std::int64_t> disposition;
    bool operator==(const connection& o) const {
        return target == o.target && sources == o.sources && operation == o.operation && disposition == o.disposition;
    }
};

enum class kind { node, parameter, matrix, command };

// One element of a message. Only the fields its kind has can be set; each
// is set only when the message carried it (a push may carry a part).
struct element {
    kind what = kind::node;
    // Absolute. A command's is the path of what it applies to (empty: the root).
    path at;
    bool hasContents = false;
    std::optional<std::string> identifier;
    std::optional<std::string> description;
    std::optional<bool> online;
    // Parameter: the value when it is a UTF8String or an INTEGER; a value of
    // another type sets neither.
    std::optional<std::string> text;
    std::optional<std::int64_t> number;
    // Matrix.
    std::optional<std::int64_t> type;
    std::optional<std::int64_t> targetCount;
    std::optional<std::int64_t> sourceCount;
    std::optional<std::vector<label_layer>> labels;
    std::optional<std::vector<signal>> targets;
    std::optional<std::vector<signal>> sources;
    std::optional<std::vector<connection>> connections;
    // Command.
    std::int64_t command = 0;
    std::optional<std::int64_t> dirFieldMask;
};

// Appends every element of a Glow Root to `out`. False with `error` (what
// and the byte offset) when the bytes break BER or are not a Root.
bool decode(std::string_view ber, std::vector<element>& out, std::string& error);

// Root messages a consumer sends (BER, to be framed by s101::message).
// GetDirectory on the root (empty path) or on the node or matrix at `at`.
std::string getDirectory(const path& at, kind what);
// Connect `source` to `target` of the matrix at `matrix`, absolute.
std::string connectionRequest(const path& matrix, std::int64_t target, std::uint32_t source);

}  // namespace glow

}  // namespace quon::routers

#endif
