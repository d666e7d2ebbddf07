// tally_input: one vision mixer's tally as a decoder and a state, without
// I/O. Packets and the time go in; the changes of its mapped indices come
// out, with whether the input is up (a packet within `timeout`) or down.
// tally_listener.h puts it on sockets; docs/tally.md describes what it
// reads.
//
// Threading: one thread, the owner's (the host's event loop).
#ifndef QUON_TALLY_TALLY_INPUT_H
#define QUON_TALLY_TALLY_INPUT_H

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "quon/screens/tsl5/tsl5_packet.h"
#include "quon/tally/tally_input_config.h"
#include "quon/tally/tally_types.h"

namespace quon::tally {

// What one call changed.
struct input_report {
    std::vector<lit> changes;           // each mapped index whose state changed, by index
    std::optional<bool> up;             // the input went up (true) or down (false)
    std::vector<std::string> warnings;  // for the log, each a line without the input's name
};

class tally_input {
public:
    using clock = std::chrono::steady_clock;
    // An unmapped lit index, or a packet that is none, is warned about at
    // most this often.
    static constexpr std::chrono::minutes warning_interval{1};

    explicit tally_input(tally_input_config config);

    // One whole packet received at `now`: a UDP datagram, or a TSL 5
    // packet taken out of a TCP stream (tsl5_stream_reader).
    void packet(std::string_view bytes, clock::time_point now, input_report& out);
    // Bytes of one TCP sender's stream, split anywhere; `reader` is that
    // sender's own (DLE/STX framing).
    void stream(tsl5_stream_reader& reader, std::string_view bytes, clock::time_point now, input_report& out);
    // Time has passed: down once `timeout` has passed without a packet.
    void tick(clock::time_point now, input_report& out);
    // When tick() next has something to do; none while down.
    std::optional<clock::time_point> deadline() const;

    // Takes over what `previous` (this input before a reload changed its
    // settings) held: the state of each index that still stands for the
    // same point, whether it was up, when its last packet came. Appends to
    // `out` each of its lits that this one does not hold, put out.
    void adopt(const tally_input& previous, std::vector<lit>& out);

    bool up() const { return up_; }
    const tally_input_config& config() const { return config_; }
    // Every mapped index that is lit now, by index.
    std::vector<lit> lits() const;
    // Display messages to an index that no mapping names and that was lit;
    // datagrams or packets that could not be read.
    uint64_t unmapped() const { return unmapped_; }
    // Datagrams or packets read.
    uint64_t packets() const { return packets_; }
    uint64_t unreadable() const { return unreadable_; }

private:
    struct mapped_index {
        point at;
        buses now = 0;
    };
    // Sets `index` (or every mapped index for the broadcast) to `now`.
    void set(int index, bool broadcast, buses now, clock::time_point when,
             std::map<int, buses>& before, input_report& out);
    void refuse(const std::string& why, clock::time_point now, input_report& out);

    tally_input_config config_;
    std::map<int, mapped_index> mapped_;
    bool up_ = false;
    clock::time_point lastPacket_{};
    uint64_t unmapped_ = 0;
    uint64_t packets_ = 0;
    uint64_t unreadable_ = 0;
    std::set<int> unmappedSince_;  // said at the next warning
    std::optional<clock::time_point> lastUnmappedWarning_;
    std::optional<clock::time_point> lastUnreadableWarning_;
};

}  // namespace quon::tally

#endif
