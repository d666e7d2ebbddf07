#include "quon/routers/emberplus/emberplus_s101.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quon::routers::s101 {

namespace {

// The reflected CRC-CCITT tables (polynomial 0x8408), sixteen of them so
// that sixteen bytes are taken a step: row k holds what a byte does to the
// register when k more bytes follow it in the step, so that only the first
// two bytes of a step wait for the register. A byte at a time, the CRC of
// a 1,000-target update was a quarter of the reader's time.
constexpr std::size_t crc_step = 16;
using crc_tables = std::array<std::array<std::uint16_t, 256>, crc_step>;
constexpr crc_tables crcTables() {
    crc_tables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0x8408 : value >> 1;
        tables[0][i] = static_cast<std::uint16_t>(value);
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (unsigned i = 0; i < 256; ++i)
            tables[k][i] = static_cast<std::uint16_t>((tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF]);
    return tables;
}
constexpr crc_tables crc_table = crcTables();

std::uint16_t crcRegister(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    for (; i + crc_step <= size; i += crc_step) {
        const std::uint8_t* step = data + i;
        // Three sums, so that the lookups of the bytes the register does not
        // touch wait on nothing.
        unsigned even = 0;
        unsigned odd = 0;
        for (std::size_t k = 2; k < crc_step; k += 2) {
            even ^= crc_table[crc_step - 1 - k][step[k]];
            odd ^= crc_table[crc_step - 2 - k][step[k + 1]];
        }
        const unsigned head = crc_table[crc_step - 1][(step[0] ^ crc) & 0xFF] ^ crc_table[crc_step - 2][(step[1] ^ (crc >> 8)) & 0xFF];
        crc = static_cast<std::uint16_t>(head ^ even ^ odd);
    }
    for (; i < size; ++i) crc = static_cast<std::uint16_t>((crc >> 8) ^ crc_table[0][(crc ^ data[i]) & 0xFF]);
    return crc;
}

// Eight bytes as one number (in the host's order: only whether any is a
// mark is asked of it).
std::uint64_t eightBytes(const std::uint8_t* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Whether any of eight bytes is a frame mark or an escape (0xFD and up): a
// byte's top bit set, and its low seven plus 3 carrying into the top bit.
bool anyMark(std::uint64_t word) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t top = 0x8080808080808080ull;
    constexpr std::uint64_t three = 0x0303030303030303ull;
    static_assert(escape == 0xFD && bof > escape && eof > escape, "the marks are the three highest bytes");
    return (word & ((word & low7) + three) & top) != 0;
}

// The register over a good frame's bytes and its CRC ends at this value.
constexpr std::uint16_t good_residue = 0xF0B8;

void appendEscaped(std::string& out, std::uint8_t byte) {
    if (byte >= lowest_escaped) {
        out += static_cast<char>(escape);
        out += static_cast<char>(byte ^ escape_xor);
    } else {
        out += static_cast<char>(byte);
    }
}

std::string header(std::uint8_t command) {
    return std::string{0x00, static_cast<char>(message_ember), static_cast<char>(command), static_cast<char>(version)};
}

}  // namespace

std::uint16_t crc(const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint16_t>(~crcRegister(0xFFFF, data, size));
}

std::string frame(std::string_view unescaped) {
    const std::uint16_t sum = crc(reinterpret_cast<const std::uint8_t*>(unescaped.data()), unescaped.size());
    std::string out;
    out.reserve(unescaped.size() + unescaped.size() / 8 + 8);
    out += static_cast<char>(bof);
    for (const char c : unescaped) appendEscaped(out, static_cast<std::uint8_t>(c));
    appendEscaped(out, static_cast<std::uint8_t>(sum & 0xFF));
    appendEscaped(out, static_cast<std::uint8_t>(sum >> 8));
    out += static_cast<char>(eof);
    return out;
}

std::string keepAliveRequest() { return frame(header(command_keep_alive_request)); }
std::string keepAliveResponse() { return frame(header(command_keep_alive_response)); }

std::string message(std::string_view ber) {
    std::string out;
    std::size_t at = 0;
    do {
        // The libraries count the 1,024 bytes differently (the payload, the
        // header with it, or the payload once escaped): each packet keeps
        // within all of them.
        std::size_t size = 0;
        for (std::size_t wire = packet_header_bytes; at + size < ber.size(); ++size) {
            wire += static_cast<std::uint8_t>(ber[at + size]) >= lowest_escaped ? 2 : 1;
            if (wire > max_packet_payload) break;
        }
        std::uint8_t flags = 0;
        if (at == 0) flags |= flag_first;
        if (at + size == ber.size()) flags |= flag_last;
        if (size == 0) flags |= flag_empty;
        // Glow, DTD 2.50 (minor first).
        std::string unescaped = header(command_ember) +
                                std::string{static_cast<char>(flags), static_cast<char>(dtd_glow), 0x02, 0x32, 0x02};
        static_assert(packet_header_bytes == 9, "slot, type, command, version, flags, DTD, two app bytes and their count");
        unescaped.append(ber.substr(at, size));
        out += frame(unescaped);
        at += size;
    } while (at < ber.size());
    return out;
}

const char* describe(problem p) {
    switch (p) {
        case problem::bytes_outside_frame:
            return "bytes outside an S101 frame";
        case problem::frame_cut_short:
            return "an S101 frame cut short by the start of another";
        case problem::frame_too_long:
            return "an S101 frame longer than 16384 bytes";
        case problem::bad_crc:
            return "an S101 frame with a bad CRC";
        case problem::frame_too_short:
            return "an S101 frame too short for its header";
        case problem::not_ember:
            return "an S101 frame that is not Ember+ (Glow)";
        case problem::packet_out_of_order:
            return "S101 packets of a message out of order";
        case problem::message_too_long:
            return "an Ember+ message longer than 4 MiB";
    }
    return "an S101 problem";
}

void reader::reset() {
    frame_.clear();
    message_.clear();
    inFrame_ = escaped_ = skipping_ = inGarbage_ = inMessage_ = false;
    sinceGood_ = 0;
}

void reader::feed(const std::uint8_t* data, std::size_t size, frame_sink& sink) {
    for (std::size_t i = 0; i < size; ++i) {
        if (inFrame_ && !escaped_ && !skipping_) {
            // Most of a frame is bytes below the escape: taken as a run.
            std::size_t end = i;
            const std::size_t limit = i + std::min(size - i, max_frame_bytes + 1 - frame_.size());
            while (end + 8 <= limit && !anyMark(eightBytes(data + end))) end += 8;
            while (end < limit && data[end] < escape) ++end;
            if (end > i) {
                frame_.append(reinterpret_cast<const char*>(data + i), end - i);
                sinceGood_ += end - i;
                i = end;
                if (frame_.size() > max_frame_bytes) {
                    sink.onFrameProblem(problem::frame_too_long);
                    frame_.clear();
                    skipping_ = true;
                }
                if (i == size) break;
            }
        }
        const std::uint8_t byte = data[i];
        ++sinceGood_;
        if (byte == bof) {
            if (inFrame_ && !frame_.empty()) sink.onFrameProblem(problem::frame_cut_short);
            frame_.clear();
            inFrame_ = true;
            escaped_ = skipping_ = inGarbage_ = false;
            continue;
        }
        if (!inFrame_) {
            if (!inGarbage_) sink.onFrameProblem(problem::bytes_outside_frame);
            inGarbage_ = true;
            continue;
        }
        if (byte == eof) {
            inFrame_ = false;
            if (skipping_) {
                skipping_ = false;
                continue;
            }
            endFrame(sink);
            continue;
        }
        if (skipping_) continue;
        if (escaped_) {
            escaped_ = false;
            frame_ += static_cast<char>(byte ^ escape_xor);
        } else if (byte == escape) {
            escaped_ = true;
            continue;
        } else {
            frame_ += static_cast<char>(byte);
        }
        if (frame_.size() > max_frame_bytes) {
            sink.onFrameProblem(problem::frame_too_long);
            frame_.clear();
            skipping_ = true;
        }
    }
}

void reader::endFrame(frame_sink& sink) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame_.data());
    const std::size_t size = frame_.size();
    if (escaped_ || size < 6) {  // slot, type, command, version, two CRC bytes
        escaped_ = false;
        sink.onFrameProblem(size < 6 ? problem::frame_too_short : problem::bad_crc);
        return;
    }
    if (crcRegister(0xFFFF, bytes, size) != good_residue) {
        sink.onFrameProblem(problem::bad_crc);
        return;
    }
    sinceGood_ = 0;
    const std::size_t end = size - 2;
    if (bytes[1] != message_ember) {
        sink.onFrameProblem(problem::not_ember);
        return;
    }
    const std::uint8_t command = bytes[2];
    if (command == command_keep_alive_request) {
        sink.onKeepAliveRequest();
        return;
    }
    if (command == command_keep_alive_response) {
        sink.onKeepAliveResponse();
        return;
    }
    if (command != command_ember) return;  // provider state, or a command of a later framing
    // flags, DTD, app-byte count, app bytes
    if (end < 7 || end < 7u + bytes[6]) {
        sink.onFrameProblem(problem::frame_too_short);
        return;
    }
    if (bytes[5] != dtd_glow) {
        sink.onFrameProblem(problem::not_ember);
        return;
    }
    const std::uint8_t flags = bytes[4];
    const std::size_t payload = 7u + bytes[6];
    const std::string_view data =
        (flags & flag_empty) ? std::string_view() : std::string_view(frame_).substr(payload, end - payload);
    const bool first = (flags & flag_first) != 0;
    const bool last = (flags & flag_last) != 0;
    if (first) {
        if (inMessage_) sink.onFrameProblem(problem::packet_out_of_order);
        message_.clear();
        inMessage_ = true;
    } else if (!inMessage_) {
        sink.onFrameProblem(problem::packet_out_of_order);
        return;
    }
    if (message_.size() + data.size() > max_message_bytes) {
        sink.onFrameProblem(problem::message_too_long);
        message_.clear();
        inMessage_ = false;
        return;
    }
    message_.append(data);
    if (!last) return;
    inMessage_ = false;
    // The message handed over and the next one under way swap buffers, so
    // that a stream of messages allocates none once both have grown; a
    // buffer grown for a rare large message is let go. Nothing of the
    // reader is touched after the sink's call (it may reset or end it).
    if (delivered_.capacity() > kept_buffer_bytes) std::string().swap(delivered_);
    delivered_.swap(message_);
    message_.clear();
    sink.onMessage(delivered_);
}

}  // namespace quon::routers::s101
