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

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// The sources of a connection. Nearly every connection has one or none: up
// to three are held in place, so that decoding an update of many
// connections allocates nothing for each.
class source_list {
public:
    source_list() = default;
    source_list(std::initializer_list<std::uint32_t> numbers) {
        for (const std::uint32_t n : numbers) push_back(n);
    }
    void push_back(std::uint32_t n) {
        if (size_ < local_.size()) {
            local_[size_] = n;
        } else {
            if (size_ == local_.size()) more_.assign(local_.begin(), local_.end());
            more_.push_back(n);
        }
        ++size_;
    }
    const std::uint32_t* begin() const { return size_ <= local_.size() ? local_.data() : more_.data(); }
    const std::uint32_t* end() const { return begin() + size_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint32_t front() const { return *begin(); }
    std::uint32_t operator[](std::size_t i) const { return begin()[i]; }
    bool operator==(const source_list& o) const { return std::equal(begin(), end(), o.begin(), o.end()); }

private:
    std::size_t size_ = 0;
    std::array<std::uint32_t, 3> local_{};
    std::vector<std::uint32_t> more_;  // all of them, once there are more than three
};

std::string showPath(const source_list& sources);  // "3.7"; "" for none

struct connection {
    // Not defaulted: a connection made in place (as a decoded update's are)
    // then sets its members one by one instead of first clearing all of it.
    connection() {}
    std::int64_t target = 0;
    source_list sources;  // empty: nothing connected
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
