#include "quon/routers/emberplus/emberplus_glow.h"

#include "glow_connections.h"

#include <array>

namespace quon::routers {

namespace ber {

namespace {

std::string length(std::size_t size) {
    if (size < 0x80) return std::string(1, static_cast<char>(size));
    std::string bytes;
    for (std::size_t left = size; left > 0; left >>= 8) bytes.insert(bytes.begin(), static_cast<char>(left & 0xFF));
    return static_cast<char>(0x80 | bytes.size()) + bytes;
}

}  // namespace

std::string wrap(std::uint8_t identifier, std::string_view content) {
    std::string out(1, static_cast<char>(identifier));
    out += length(content.size());
    out.append(content);
    return out;
}

std::string wrapIndefinite(std::uint8_t identifier, std::string_view content) {
    std::string out{static_cast<char>(identifier), static_cast<char>(0x80)};
    out.append(content);
    out += std::string(2, '\0');
    return out;
}

std::string integer(std::int64_t value) {
    // Big-endian two's complement, without leading bytes that repeat the sign.
    std::string bytes;
    for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>((static_cast<std::uint64_t>(value) >> shift) & 0xFF);
    std::size_t start = 0;
    while (start + 1 < bytes.size()) {
        const auto first = static_cast<std::uint8_t>(bytes[start]);
        const auto next = static_cast<std::uint8_t>(bytes[start + 1]);
        if ((first == 0x00 && !(next & 0x80)) || (first == 0xFF && (next & 0x80)))
            ++start;
        else
            break;
    }
    return wrap(0x02, std::string_view(bytes).substr(start));
}

std::string boolean(bool value) { return wrap(0x01, std::string(1, value ? '\xFF' : '\0')); }

std::string utf8(std::string_view text) { return wrap(0x0C, text); }

std::string relativeOid(const std::vector<std::uint32_t>& components) {
    std::string bytes;
    for (const std::uint32_t component : components) {
        std::string one(1, static_cast<char>(component & 0x7F));
        for (std::uint32_t left = component >> 7; left > 0; left >>= 7)
            one.insert(one.begin(), static_cast<char>(0x80 | (left & 0x7F)));
        bytes += one;
    }
    return wrap(0x0D, bytes);
}

}  // namespace ber

namespace glow {

namespace {

// Nesting deeper than any Glow tree needs; past it the bytes are refused
// rather than followed down the stack.
constexpr int max_depth = 48;

struct decode_error {
    std::string what;
    std::size_t offset;
};

// One TLV of the message: where its content lies.
struct tlv {
    std::uint8_t tagClass = 0;  // 0x00 universal, 0x40 application, 0x80 context, 0xC0 private
    bool constructed = false;
    std::uint32_t tag = 0;
    std::string_view content;
    std::size_t offset = 0;  // of its content in the message
};

class decoder {
public:
    explicit decoder(std::string_view message) : message_(message) {}

    // The TLV at `pos` within `within` (a view into the message); `pos`
    // moves past it.
    tlv read(std::string_view within, std::size_t& pos, int depth) const {
        if (depth > max_depth) fail("elements nested deeper than " + std::to_string(max_depth), within, pos);
        const auto byte = [&](const char* what) {
            if (pos >= within.size()) fail(std::string("the message ends within ") + what, within, pos);
            return static_cast<std::uint8_t>(within[pos++]);
        };
        tlv out;
        const std::uint8_t identifier = byte("a tag");
        out.tagClass = identifier & 0xC0;
        out.constructed = (identifier & 0x20) != 0;
        out.tag = identifier & 0x1F;
        if (out.tag == 0x1F) {
            out.tag = 0;
            for (int i = 0;; ++i) {
                if (i == 4) fail("a tag number of more than 4 bytes", within, pos);
                const std::uint8_t b = byte("a tag");
                out.tag = (out.tag << 7) | (b & 0x7F);
                if (!(b & 0x80)) break;
            }
        }
        const std::uint8_t first = byte("a length");
        if (first == 0x80) {
            if (!out.constructed) fail("an indefinite length on a primitive value", within, pos);
            const std::size_t start = pos;
            while (true) {
                if (pos + 1 < within.size() && within[pos] == 0 && within[pos + 1] == 0) break;
                if (pos >= within.size()) fail("an indefinite length with no end-of-contents", within, pos);
                read(within, pos, depth + 1);
            }
            out.content = within.substr(start, pos - start);
            out.offset = offsetOf(within, start);
            pos += 2;
            return out;
        }
        std::size_t size = first;
        if (first > 0x80) {
            const int count = first & 0x7F;
            if (count > 4) fail("a length of more than 4 bytes", within, pos);
            size = 0;
            for (int i = 0; i < count; ++i) size = (size << 8) | byte("a length");
        }
        if (size > within.size() - pos) fail("a length past the end of its container", within, pos);
        out.content = within.substr(pos, size);
        out.offset = offsetOf(within, pos);
        pos += size;
        return out;
    }

    // Each TLV within a constructed one's content, in order.
    template <typename Each>
    void forEach(const tlv& container, int depth, Each each) const {
        std::size_t pos = 0;
        while (pos < container.content.size()) {
            const tlv child = read(container.content, pos, depth + 1);
            each(child);
        }
    }

    // The one TLV inside an explicit wrapper ([CONTEXT n]); none when empty.
    // The documentation's own example writes such a wrapper without the
    // constructed bit: its content is taken too when it is exactly one TLV.
    std::optional<tlv> inner(const tlv& wrapper, int depth) const {
        if (wrapper.content.empty()) return std::nullopt;
        std::size_t pos = 0;
        if (wrapper.constructed) return read(wrapper.content, pos, depth + 1);
        try {
            const tlv value = read(wrapper.content, pos, depth + 1);
            if (pos == wrapper.content.size()) return value;
        } catch (const decode_error&) {
            // a primitive field of another kind: not read
        }
        return std::nullopt;
    }

    std::optional<std::int64_t> integer(const tlv& wrapper, int depth) const {
        const std::optional<tlv> value = inner(wrapper, depth);
        if (!value || value->tagClass != 0 || value->tag != 0x02) return std::nullopt;
        const std::string_view bytes = value->content;
        if (bytes.empty() || bytes.size() > 8) fail("an INTEGER of " + std::to_string(bytes.size()) + " bytes", *value);
        std::uint64_t result = (static_cast<std::uint8_t>(bytes[0]) & 0x80) ? ~std::uint64_t(0) : 0;
        for (const char c : bytes) result = (result << 8) | static_cast<std::uint8_t>(c);
        return static_cast<std::int64_t>(result);
    }

    std::optional<std::string> text(const tlv& wrapper, int depth) const {
        const std::optional<tlv> value = inner(wrapper, depth);
        if (!value || value->tagClass != 0 || value->tag != 0x0C || value->constructed) return std::nullopt;
        return std::string(value->content);
    }

    std::optional<bool> boolean(const tlv& wrapper, int depth) const {
        const std::optional<tlv> value = inner(wrapper, depth);
        if (!value || value->tagClass != 0 || value->tag != 0x01 || value->content.size() != 1) return std::nullopt;
        return value->content[0] != 0;
    }

    std::optional<path> oid(const tlv& wrapper, int depth) const {
        const std::optional<tlv> value = inner(wrapper, depth);
        if (!value || value->tagClass != 0 || value->tag != 0x0D) return std::nullopt;
        return components(*value);
    }

    path components(const tlv& value) const {
        path out;
        std::uint64_t component = 0;
        bool open = false;
        for (const char c : value.content) {
            const auto b = static_cast<std::uint8_t>(c);
            component = (component << 7) | (b & 0x7F);
            if (component > 0xFFFFFFFFu) fail("a RELATIVE-OID component past 32 bits", value);
            open = (b & 0x80) != 0;
            if (!open) {
                out.push_back(static_cast<std::uint32_t>(component));
                component = 0;
            }
        }
        if (open) fail("a RELATIVE-OID that ends within a component", value);
        return out;
    }

    // The fields of a Glow SEQUENCE or SET by context tag, up to the
    // highest tag read (Count - 1); others skipped.
    template <std::size_t Count>
    std::array<std::optional<tlv>, Count> fields(const tlv& container, int depth) const {
        std::array<std::optional<tlv>, Count> out;
        forEach(container, depth, [&](const tlv& field) {
            if (field.tagClass == 0x80 && field.tag < out.size()) out[field.tag] = field;
        });
        return out;
    }

    // The entries of a RootElementCollection or ElementCollection.
    void collection(const tlv& container, const path& parent, int depth, std::vector<element>& out) const {
        forEach(container, depth, [&](const tlv& entry) {
            if (entry.tagClass != 0x80 || entry.tag != 0) return;
            if (const std::optional<tlv> inside = inner(entry, depth + 1)) readElement(*inside, parent, depth + 2, out);
        });
    }

    void readElement(const tlv& t, const path& parent, int depth, std::vector<element>& out) const;
    void readContents(const tlv& set, element& e, int depth) const;
    std::vector<signal> signals(const tlv& wrapper, std::uint32_t application, int depth) const;
    std::vector<connection> connections(const tlv& wrapper, int depth) const;
    std::vector<label_layer> labels(const tlv& wrapper, int depth) const;
    // The SEQUENCE OF inside a wrapper: each [0] entry's TLV of `application`.
    template <typename Each>
    void sequenceOf(const tlv& wrapper, std::uint32_t application, int depth, Each each) const {
        const std::optional<tlv> list = inner(wrapper, depth);
        if (!list || !list->constructed) return;
        forEach(*list, depth + 1, [&](const tlv& entry) {
            if (entry.tagClass != 0x80 || entry.tag != 0) return;
            const std::optional<tlv> item = inner(entry, depth + 2);
            if (item && item->tagClass == 0x40 && item->tag == application && item->constructed) each(*item);
        });
    }

    [[noreturn]] void fail(const std::string& what, std::string_view within, std::size_t pos) const {
        throw decode_error{what, offsetOf(within, pos)};
    }
    [[noreturn]] void fail(const std::string& what, const tlv& at) const { throw decode_error{what, at.offset}; }

    std::string_view message_;

private:
    std::size_t offsetOf(std::string_view within, std::size_t pos) const {
        return static_cast<std::size_t>(within.data() - message_.data()) + pos;
    }
};

void decoder::readElement(const tlv& t, const path& parent, int depth, std::vector<element>& out) const {
    if (t.tagClass != 0x40 || !t.constructed) return;
    element e;
    bool qualified = false;
    switch (t.tag) {
        case 1: e.what = kind::parameter; break;
        case 2: e.what = kind::command; break;
        case 3: e.what = kind::node; break;
        case 13: e.what = kind::matrix; break;
        case 9: e.what = kind::parameter; qualified = true; break;
        case 10: e.what = kind::node; qualified = true; break;
        case 17: e.what = kind::matrix; qualified = true; break;
        default: return;  // functions, templates, streams, and what comes later
    }
    const auto f = fields<6>(t, depth);
    if (e.what == kind::command) {
        e.at = parent;
        if (f[0]) e.command = integer(*f[0], depth + 1).value_or(0);
        if (f[1]) e.dirFieldMask = integer(*f[1], depth + 1);
        out.push_back(std::move(e));
        return;
    }
    if (!f[0]) return;  // no number or path: nowhere to put it
    if (qualified) {
        const std::optional<path> at = oid(*f[0], depth + 1);
        if (!at) return;
        e.at = *at;
    } else {
        const std::optional<std::int64_t> number = integer(*f[0], depth + 1);
        if (!number || *number < 0 || *number > 0xFFFFFFFF) return;
        e.at = parent;
        e.at.push_back(static_cast<std::uint32_t>(*number));
    }
    if (f[1]) {
        if (const std::optional<tlv> set = inner(*f[1], depth + 1); set && set->constructed) {
            e.hasContents = true;
            readContents(*set, e, depth + 2);
        }
    }
    if (e.what == kind::matrix) {
        if (f[3]) e.targets = signals(*f[3], 14, depth + 1);
        if (f[4]) e.sources = signals(*f[4], 15, depth + 1);
        if (f[5]) e.connections = connections(*f[5], depth + 1);
    }
    const path at = e.at;
    out.push_back(std::move(e));
    if (f[2]) {
        const std::optional<tlv> children = inner(*f[2], depth + 1);
        if (children && children->tagClass == 0x40 && children->tag == 4 && children->constructed)
            collection(*children, at, depth + 2, out);
    }
}

void decoder::readContents(const tlv& set, element& e, int depth) const {
    const auto f = fields<11>(set, depth);
    if (f[0]) e.identifier = text(*f[0], depth + 1);
    if (f[1]) e.description = text(*f[1], depth + 1);
    if (e.what == kind::node) {
        if (f[3]) e.online = boolean(*f[3], depth + 1);
    } else if (e.what == kind::parameter) {
        if (f[2]) {
            if (const std::optional<tlv> value = inner(*f[2], depth + 1); value && value->tagClass == 0) {
                if (value->tag == 0x0C && !value->constructed) e.text = std::string(value->content);
                if (value->tag == 0x02) e.number = integer(*f[2], depth + 1);
            }
        }
        if (f[9]) e.online = boolean(*f[9], depth + 1);
    } else if (e.what == kind::matrix) {
        if (f[2]) e.type = integer(*f[2], depth + 1);
        if (f[4]) e.targetCount = integer(*f[4], depth + 1);
        if (f[5]) e.sourceCount = integer(*f[5], depth + 1);
        if (f[10]) e.labels = labels(*f[10], depth + 1);
    }
}

std::vector<signal> decoder::signals(const tlv& wrapper, std::uint32_t application, int depth) const {
    std::vector<signal> out;
    sequenceOf(wrapper, application, depth, [&](const tlv& item) {
        const auto f = fields<2>(item, depth + 3);
        if (!f[0]) return;
        const std::optional<std::int64_t> number = integer(*f[0], depth + 4);
        if (!number) return;
        signal s;
        s.number = *number;
        if (f[1]) {
            if (const std::optional<tlv> contents = inner(*f[1], depth + 4); contents && contents->constructed) {
                const auto c = fields<3>(*contents, depth + 5);
                if (c[2]) s.labelsLocation = oid(*c[2], depth + 6);
            }
        }
        out.push_back(std::move(s));
    });
    return out;
}

std::vector<connection> decoder::connections(const tlv& wrapper, int depth) const {
    std::vector<connection> out;
    const std::optional<tlv> list = inner(wrapper, depth);
    if (!list || !list->constructed) return out;
    // The deepest the general reading goes for an entry of plain shape.
    const bool quickly = depth + 5 <= max_depth;
    if (quickly) out.reserve(quick::entries(list->content));
    std::size_t pos = 0;
    while (pos < list->content.size()) {
        if (quickly) {
            std::size_t after = pos;
            if (quick::entry(list->content, after, out) != quick::result::give_up) {
                pos = after;
                continue;
            }
        }
        const tlv entry = read(list->content, pos, depth + 2);
        if (entry.tagClass != 0x80 || entry.tag != 0) continue;
        const std::optional<tlv> item = inner(entry, depth + 2);
        if (!item || item->tagClass != 0x40 || item->tag != 16 || !item->constructed) continue;
        const auto f = fields<4>(*item, depth + 3);
        if (!f[0]) continue;
        const std::optional<std::int64_t> target = integer(*f[0], depth + 4);
        if (!target) continue;
        connection c;
        c.target = *target;
        if (f[1])
            if (const std::optional<path> sources = oid(*f[1], depth + 4))
                for (const std::uint32_t source : *sources) c.sources.push_back(source);
        if (f[2]) c.operation = integer(*f[2], depth + 4);
        if (f[3]) c.disposition = integer(*f[3], depth + 4);
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<label_layer> decoder::labels(const tlv& wrapper, int depth) const {
    std::vector<label_layer> out;
    sequenceOf(wrapper, 18, depth, [&](const tlv& item) {
        const auto f = fields<2>(item, depth + 3);
        if (!f[0]) return;
        const std::optional<path> base = oid(*f[0], depth + 4);
        if (!base) return;
        out.push_back({*base, f[1] ? text(*f[1], depth + 4).value_or("") : ""});
    });
    return out;
}

std::string entry(std::string_view element) { return ber::wrap(ber::context(0), element); }

std::string rootOf(std::string_view entries) {
    return ber::wrap(ber::application(0), ber::wrap(ber::application(11), entries));
}

std::string getDirectoryCommand() {
    return ber::wrap(ber::application(2), ber::wrap(ber::context(0), ber::integer(command_get_directory)));
}

std::string getDirectoryEntry(const path& at, kind what) {
    if (at.empty()) return entry(getDirectoryCommand());
    const std::uint8_t type = ber::application(what == kind::matrix ? 17 : what == kind::parameter ? 9 : 10);
    const std::string children = ber::wrap(ber::application(4), entry(getDirectoryCommand()));
    return entry(ber::wrap(type, ber::wrap(ber::context(0), ber::relativeOid(at)) + ber::wrap(ber::context(2), children)));
}

}  // namespace

namespace {

template <typename Numbers>
std::string dotted(const Numbers& numbers) {
    std::string out;
    for (const std::uint32_t n : numbers) out += (out.empty() ? "" : ".") + std::to_string(n);
    return out;
}

}  // namespace

std::string showPath(const path& at) { return dotted(at); }
std::string showPath(const source_list& sources) { return dotted(sources); }

bool decode(std::string_view message, std::vector<element>& out, std::string& error) {
    const decoder d(message);
    try {
        std::size_t pos = 0;
        const tlv root = d.read(message, pos, 0);
        if (root.tagClass != 0x40 || root.tag != 0 || !root.constructed) {
            error = "a message that is not a Glow Root";
            return false;
        }
        d.forEach(root, 0, [&](const tlv& choice) {
            if (choice.tagClass == 0x40 && choice.tag == 11 && choice.constructed) d.collection(choice, path(), 1, out);
            // Streams and invocation results are not needed.
        });
        return true;
    } catch (const decode_error& e) {
        error = e.what + " (at byte " + std::to_string(e.offset) + ")";
        return false;
    }
}

std::string getDirectory(const path& at, kind what) { return rootOf(getDirectoryEntry(at, what)); }

std::string connectionRequest(const path& matrix, std::int64_t target, std::uint32_t source) {
    const std::string connection = ber::wrap(
        ber::application(16), ber::wrap(ber::context(0), ber::integer(target)) +
                                  ber::wrap(ber::context(1), ber::relativeOid({source})) +
                                  ber::wrap(ber::context(2), ber::integer(operation_absolute)));
    const std::string connections = ber::wrap(ber::context(5), ber::wrap(ber::sequence, entry(connection)));
    return rootOf(entry(
        ber::wrap(ber::application(17), ber::wrap(ber::context(0), ber::relativeOid(matrix)) + connections)));
}

}  // namespace glow

}  // namespace quon::routers
