// tally_listener: one tally input on its sockets. A UDP socket, or a TCP
// listening server that takes up to max_tally_senders senders at once,
// bound where the input's `listen` says; what arrives goes through its
// tally_input (the logic, without I/O), and a timer takes it down after
// `timeout` without a packet. The owner hears of changes through callbacks.
//
// Threading: the io_context's thread only (the host's event loop); every
// callback runs there. Ownership: the owner holds the listener; the
// sockets' handlers hold its inner part, and do nothing (and call no
// callback) once the listener is destroyed.
#ifndef QUON_TALLY_TALLY_LISTENER_H
#define QUON_TALLY_TALLY_LISTENER_H

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quon/tally/tally_input_config.h"
#include "quon/tally/tally_types.h"

namespace quon::tally {

// TCP senders one input serves at once. A sender beyond them is refused,
// unless the longest quiet one has sent no packet that could be read for
// `timeout`: that one is closed for it (a sender that went away without
// closing, or sends nothing but noise).
constexpr size_t max_tally_senders = 8;
// An input that cannot bind tries again after a wait that doubles from
// the first to the last (each drawn from its upper half), then every last.
constexpr std::chrono::seconds first_bind_retry{1};
constexpr std::chrono::seconds last_bind_retry{30};
// The largest datagram read whole (larger ones are cut and then refused).
constexpr size_t max_tally_datagram = 65536;

// One input as /metrics, /healthz and STATUS show it.
struct tally_input_status {
    std::string name;
    std::string listen;     // as bound: the port the kernel gave for port 0
    bool up = false;        // listening, and a packet within `timeout`
    std::string problem;    // why it does not listen ("cannot bind ..."); empty while it does
    uint64_t packets = 0;   // datagrams or packets read
    uint64_t unmapped = 0;  // messages lighting an index no map names
    uint64_t unreadable = 0;
    std::chrono::system_clock::time_point lastPacket{};  // the last read; the epoch before the first
    size_t senders = 0;           // TCP: connected now
    uint64_t refusedSenders = 0;  // TCP: refused for want of room
};

class tally_listener {
public:
    // The mapped indices whose state changed, in index order.
    using on_changes = std::function<void(const std::vector<lit>&)>;
    // The input went up or down, or read a packet.
    using on_state = std::function<void(const tally_input_status&)>;
    // A line for the log: going up and down, what could not be read.
    using on_log = std::function<void(const std::string&)>;

    tally_listener(boost::asio::io_context& io, tally_input_config config, on_changes changes, on_state state,
                   on_log log);
    ~tally_listener();
    tally_listener(const tally_listener&) = delete;
    tally_listener& operator=(const tally_listener&) = delete;

    // Before start(): takes over the lamps and state of `previous`, the
    // same input before a reload changed it (tally_input::adopt); `out`
    // gets the lamps it does not hold, put out.
    void adopt(const tally_listener& previous, std::vector<lit>& out);
    // Binds where the input listens, reading nothing yet; false with why
    // ("cannot bind 127.0.0.1:8910: Address already in use").
    bool bind(std::string& error);
    // Makes the socket `previous` listens on this input's own, when it
    // listens where this one is to (the same transport, address and a port
    // that is not 0) and this one is not bound yet. True when taken.
    bool takeSocket(tally_listener& previous);
    // Starts reading on what it is bound to, binding first if it is not;
    // false with why when it cannot bind now. It then keeps trying, after
    // first_bind_retry and longer waits up to last_bind_retry, not
    // listening (down, status().problem) and saying each failure in the
    // log, until it can; the state callback hears when it listens.
    bool start(std::string& error);
    // Closes its sockets; it reads and tries nothing more.
    void stop();
    bool listening() const;
    // It listens where `next` is to: the same transport, address and a
    // port that is not 0.
    bool listensAt(const tally_input_config& next) const;

    const tally_input_config& config() const;
    tally_input_status status() const;
    // Every mapped index lit now (held ones too while down).
    std::vector<lit> lits() const;
    // A reload keeps this listener for `next` (and its sockets and state)
    // only when nothing of it changed; otherwise the owner replaces it.
    bool keeps(const tally_input_config& next) const { return config() == next; }

private:
    class running;
    std::shared_ptr<running> running_;
};

}  // namespace quon::tally

#endif
