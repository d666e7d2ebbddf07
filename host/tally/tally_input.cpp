#include "quon/tally/tally_input.h"

#include "quon/screens/tsl31/tsl31_packet.h"
#include "quon/screens/tsl5/tsl5_packet.h"

namespace quon::tally {

namespace {

// TSL 3.1's address 127 (first byte 0xff) is every display.
constexpr int tsl31_broadcast_address = 127;
// An unmapped-index warning names at most this many indices.
constexpr size_t max_named_indices = 16;

// An index is on a bus while any of its three lamps has the bus's colour.
buses tsl5Buses(const tally_lamps& lamps, const tally_input_config& config) {
    const auto any = [&lamps](int colour) {
        return colour != 0 && (static_cast<int>(lamps.left) == colour || static_cast<int>(lamps.text) == colour ||
                               static_cast<int>(lamps.right) == colour);
    };
    return static_cast<buses>((any(config.program) ? program_bus : 0) | (any(config.preview) ? preview_bus : 0) |
                              (any(config.iso) ? iso_bus : 0));
}

}  // namespace

tally_input::tally_input(tally_input_config config) : config_(std::move(config)) {
    for (const tally_map& map : config_.maps)
        for (int i = 0; i < map.count; ++i) {
            point at = map.first;
            at.number += i;
            mapped_[map.index + i].at = at;
        }
}

void tally_input::packet(std::string_view bytes, clock::time_point now, input_report& out) {
    std::map<int, buses> before;  // the buses before this packet of each index it touched
    std::string why;
    if (config_.tsl31()) {
        // Some senders put several 18-byte messages in one datagram.
        if (bytes.empty() || bytes.size() % tsl31_packet_size != 0)
            return refuse("a TSL 3.1 datagram of " + std::to_string(bytes.size()) +
                              " bytes (not a multiple of 18)",
                          now, out);
        std::vector<tsl31_message> messages;
        for (size_t at = 0; at < bytes.size(); at += tsl31_packet_size) {
            const auto message = decodeTsl31Packet(bytes.substr(at, tsl31_packet_size), &why);
            if (!message) return refuse("a TSL 3.1 message that is none: " + why, now, out);
            messages.push_back(*message);
        }
        lastPacket_ = now;
        for (const tsl31_message& m : messages) {
            const auto on = [&m](int tally) { return tally != 0 && m.tally(tally); };
            const buses b = static_cast<buses>((on(config_.program) ? program_bus : 0) |
                                               (on(config_.preview) ? preview_bus : 0) | (on(config_.iso) ? iso_bus : 0));
            set(m.address + config_.addressBase, m.address == tsl31_broadcast_address, b, now, before, out);
        }
    } else {
        const auto decoded = decodeTsl5Packet(bytes, &why);
        if (!decoded) return refuse("a TSL 5 packet that is none: " + why, now, out);
        lastPacket_ = now;
        if (!config_.screen || decoded->screen == *config_.screen || decoded->screen == tsl5_all_screens)
            for (const tsl5_message& m : decoded->messages) {
                if (m.controlData()) continue;  // control data beside the displays: not tally
                set(m.index, m.index == tsl5_broadcast_index, tsl5Buses(m.lamps(), config_), now, before, out);
            }
    }
    ++packets_;
    if (!up_) {
        up_ = true;
        out.up = true;
    }
    for (const auto& [index, was] : before) {
        const mapped_index& m = mapped_.at(index);
        if (m.now != was) out.changes.push_back(lit{config_.name, index, m.at, m.now});
    }
}

void tally_input::stream(tsl5_stream_reader& reader, std::string_view bytes, clock::time_point now,
                         input_report& out) {
    std::vector<std::string> packets;
    reader.feed(bytes, packets);
    for (const std::string& p : packets) packet(p, now, out);
}

void tally_input::set(int index, bool broadcast, buses now, clock::time_point when, std::map<int, buses>& before,
                      input_report& out) {
    const auto apply = [&](int i, mapped_index& m) {
        before.emplace(i, m.now);
        m.now = now;
    };
    if (broadcast) {
        for (auto& [i, m] : mapped_) apply(i, m);
        return;
    }
    const auto found = mapped_.find(index);
    if (found != mapped_.end()) {
        apply(index, found->second);
        return;
    }
    if (now == 0) return;  // an unmapped index that is off is no news
    ++unmapped_;
    unmappedSince_.insert(index);
    if (lastUnmappedWarning_ && when - *lastUnmappedWarning_ < warning_interval) return;
    lastUnmappedWarning_ = when;
    std::string indices;
    size_t named = 0;
    for (const int i : unmappedSince_)
        if (named++ < max_named_indices) indices += (indices.empty() ? "" : ", ") + std::to_string(i);
    if (unmappedSince_.size() > max_named_indices)
        indices += " and " + std::to_string(unmappedSince_.size() - max_named_indices) + " more";
    out.warnings.push_back(std::string(unmappedSince_.size() == 1 ? "index " : "indices ") + indices +
                           " lit but mapped to nothing (" + std::to_string(unmapped_) +
                           " such messages so far; [[tally_in.map]])");
    unmappedSince_.clear();
}

void tally_input::refuse(const std::string& why, clock::time_point now, input_report& out) {
    ++unreadable_;
    if (lastUnreadableWarning_ && now - *lastUnreadableWarning_ < warning_interval) return;
    lastUnreadableWarning_ = now;
    out.warnings.push_back(why + " (" + std::to_string(unreadable_) + " unreadable so far)");
}

void tally_input::tick(clock::time_point now, input_report& out) {
    if (!up_ || now - lastPacket_ < config_.timeout) return;
    up_ = false;
    out.up = false;
    if (!config_.clearOnLoss) return;  // hold: a stale lamp, not a dark one on air
    for (auto& [index, m] : mapped_)
        if (m.now != 0) {
            m.now = 0;
            out.changes.push_back(lit{config_.name, index, m.at, 0});
        }
}

void tally_input::adopt(const tally_input& previous, std::vector<lit>& out) {
    up_ = previous.up_;
    lastPacket_ = previous.lastPacket_;
    for (const lit& held : previous.lits()) {
        const auto found = mapped_.find(held.index);
        if (found != mapped_.end() && found->second.at == held.at) {
            found->second.now = held.on;
        } else {
            lit off = held;
            off.input = config_.name;
            off.on = 0;
            out.push_back(off);
        }
    }
}

std::optional<tally_input::clock::time_point> tally_input::deadline() const {
    if (!up_) return std::nullopt;
    return lastPacket_ + config_.timeout;
}

std::vector<lit> tally_input::lits() const {
    std::vector<lit> all;
    for (const auto& [index, m] : mapped_)
        if (m.now != 0) all.push_back(lit{config_.name, index, m.at, m.now});
    return all;
}

}  // namespace quon::tally
