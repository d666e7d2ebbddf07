#include "glow_connections.h"

#include <cstdint>
#include <optional>

namespace quon::routers::glow::quick {

namespace {

// A TLV header of the plain shape nearly every provider writes: one
// identifier byte and a definite length that fits its container. Reading
// one never throws; anything else (a tag of several bytes, an indefinite
// length, a length past its container) is left to the full reader.
struct plain_tlv {
    std::uint8_t identifier = 0;
    std::string_view content;
};

// A length of one to four bytes after its count byte.
bool readPlainLong(std::string_view within, std::size_t& pos, plain_tlv& out) {
    const auto identifier = static_cast<std::uint8_t>(within[pos]);
    const std::size_t count = static_cast<std::uint8_t>(within[pos + 1]) & 0x7F;
    std::size_t at = pos + 2;
    if (count == 0 || count > 4 || within.size() - at < count) return false;
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) size = (size << 8) | static_cast<std::uint8_t>(within[at + i]);
    at += count;
    if (size > within.size() - at) return false;
    out.identifier = identifier;
    out.content = std::string_view(within.data() + at, size);
    pos = at + size;
    return true;
}

// Small enough to be inlined where it is called (nine times a connection).
inline bool readPlain(std::string_view within, std::size_t& pos, plain_tlv& out) {
    if (within.size() - pos < 2) return false;
    const auto identifier = static_cast<std::uint8_t>(within[pos]);
    const auto first = static_cast<std::uint8_t>(within[pos + 1]);
    if ((identifier & 0x1F) == 0x1F) return false;
    if (first >= 0x80) return readPlainLong(within, pos, out);
    if (first > within.size() - pos - 2) return false;
    out.identifier = identifier;
    out.content = std::string_view(within.data() + pos + 2, first);
    pos += 2 + first;
    return true;
}

// The universal tags the quick path reads, whatever the constructed bit
// says (as the full reader does).
bool isUniversal(std::uint8_t identifier, std::uint8_t tag) { return (identifier & 0xDF) == tag; }


// The value inside a field's [CONTEXT n] wrapper: false to give up.
inline bool wrapped(const plain_tlv& field, plain_tlv& value, bool& present) {
    if (field.content.empty()) {
        present = false;
        return true;
    }
    if (!(field.identifier & 0x20)) return false;
    std::size_t pos = 0;
    present = true;
    return readPlain(field.content, pos, value);  // after the first TLV, bytes are ignored as in the general reading
}

inline bool integer(const plain_tlv& field, std::optional<std::int64_t>& out) {
    plain_tlv value;
    bool present = false;
    if (!wrapped(field, value, present)) return false;
    if (!present || !isUniversal(value.identifier, 0x02)) return true;
    const std::string_view bytes = value.content;
    if (bytes.empty() || bytes.size() > 8) return false;
    std::uint64_t result = (static_cast<std::uint8_t>(bytes[0]) & 0x80) ? ~std::uint64_t(0) : 0;
    for (const char c : bytes) result = (result << 8) | static_cast<std::uint8_t>(c);
    out = static_cast<std::int64_t>(result);
    return true;
}

bool sources(const plain_tlv& field, source_list& out) {
    plain_tlv value;
    bool present = false;
    if (!wrapped(field, value, present)) return false;
    if (!present || !isUniversal(value.identifier, 0x0D)) return true;
    std::uint64_t component = 0;
    bool open = false;
    for (const char c : value.content) {
        const auto b = static_cast<std::uint8_t>(c);
        component = (component << 7) | (b & 0x7F);
        if (component > 0xFFFFFFFFu) return false;
        open = (b & 0x80) != 0;
        if (!open) {
            out.push_back(static_cast<std::uint32_t>(component));
            component = 0;
        }
    }
    return !open;
}

// A Connection's fields, each read as it comes (any error gives up, so the
// order the general reading takes them in does not matter).
result fill(std::string_view fields, connection& c) {
    std::optional<std::int64_t> target;
    unsigned seen = 0;
    std::size_t at = 0;
    plain_tlv field;
    while (at < fields.size()) {
        if (!readPlain(fields, at, field)) return result::give_up;
        const unsigned tag = field.identifier & 0x1F;
        if ((field.identifier & 0xC0) != 0x80 || tag > 3) continue;
        if (seen & (1u << tag)) return result::give_up;  // given twice: the general reading keeps the last
        seen |= 1u << tag;
        const bool read = tag == 0   ? integer(field, target)
                          : tag == 1 ? sources(field, c.sources)
                          : tag == 2 ? integer(field, c.operation)
                                     : integer(field, c.disposition);
        if (!read) return result::give_up;
    }
    if (!target) return result::none;  // no target, or not an INTEGER: skipped
    c.target = *target;
    return result::connection;
}

}  // namespace

// [CONTEXT 0] { Connection [APPLICATION 16] }, read into a connection made
// in place at the end of `out` (a copy of it made on the stack cost a
// stalled load for each of its fields), taken back unless the result is
// `connection`.
result entry(std::string_view list, std::size_t& pos, std::vector<connection>& out) {
    plain_tlv wrapper;
    plain_tlv item;
    std::size_t at = 0;
    if (!readPlain(list, pos, wrapper) || wrapper.identifier != ber::context(0) || wrapper.content.empty() ||
        !readPlain(wrapper.content, at, item) || item.identifier != ber::application(16))
        return result::give_up;
    const result r = fill(item.content, out.emplace_back());
    if (r != result::connection) out.pop_back();
    return r;
}

std::size_t entries(std::string_view list) {
    std::size_t count = 0;
    std::size_t pos = 0;
    plain_tlv entry;
    while (pos < list.size() && readPlain(list, pos, entry)) ++count;
    return count;
}

}  // namespace quon::routers::glow::quick
