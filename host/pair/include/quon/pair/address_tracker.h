// address_tracker: whether one IP address is assigned to any interface of
// this machine, read from the kernel's route netlink messages, without I/O.
// The caller owns the socket: it sends what `send` actions carry (the
// RTM_GETADDR dump request), hands every datagram the kernel sends to
// received(), and calls overrun() when the socket lost messages (ENOBUFS).
// The address counts as assigned while it is on at least one interface,
// under any label, whatever its flags.
//
// Threading: none of its own; one caller at a time. It owns its state and
// borrows nothing but `interfaceName` (see the constructor).
#ifndef QUON_PAIR_ADDRESS_TRACKER_H
#define QUON_PAIR_ADDRESS_TRACKER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/ip/address.hpp>

namespace quon::pair {

struct address_action {
    enum class kind {
        send,        // `bytes`: a request for the kernel
        assigned,    // the address became assigned (`first`: the first answer)
        unassigned,  // the address is no longer (or, `first`, not) assigned
        problem,     // `text`: what the kernel sent that could not be read
        dump_later,  // the kernel refused the dump: call dumpAgain() after a while
    };
    kind what;
    std::string bytes;
    // assigned, unassigned: why, e.g. "192.0.2.50 added on veth-a".
    std::string text;
    // assigned, unassigned: the first answer since start(); the role was
    // not known before.
    bool first = false;
};

class address_tracker {
public:
    // `interfaceName` names an interface by index for messages without a
    // label (IPv6 addresses carry none); without it, or when it returns
    // "", an interface is called "interface N". It must outlive the tracker.
    explicit address_tracker(const boost::asio::ip::address& wanted,
                             std::function<std::string(std::uint32_t index)> interfaceName = nullptr);

    // The dump request: every address of the wanted family.
    std::vector<address_action> start();
    // One datagram from the kernel, whole. Nothing in it can make the
    // tracker fail: a message it cannot read is a problem, and whatever
    // may have been lost with it is read again by a new dump.
    std::vector<address_action> received(const std::uint8_t* data, std::size_t size);
    // The socket dropped messages: the state is read again (after the dump
    // running now, if one is).
    std::vector<address_action> overrun();
    // After dump_later.
    std::vector<address_action> dumpAgain();

    // A dump has been answered since start().
    bool known() const { return known_; }
    bool assigned() const { return !interfaces_.empty(); }
    const boost::asio::ip::address& wanted() const { return wanted_; }

private:
    void requestDump(std::vector<address_action>& out);
    void readMessage(std::uint16_t type, std::uint16_t flags, std::uint32_t sequence, const std::uint8_t* payload,
                     std::size_t size, std::vector<address_action>& out);
    // `listed`: a part of our dump, not a change.
    void readAddress(bool added, bool listed, const std::uint8_t* payload, std::size_t size,
                     std::vector<address_action>& out);
    void dumpEnded(std::vector<address_action>& out);
    void decide(const std::string& cause, std::vector<address_action>& out);
    std::string where(std::uint32_t index) const;
    // Something was unreadable: reported, and the state read again.
    void unreadable(const std::string& what, std::vector<address_action>& out);

    const boost::asio::ip::address wanted_;
    std::function<std::string(std::uint32_t)> interfaceName_;
    // The interfaces (by index) the address is on, with their labels.
    std::map<std::uint32_t, std::string> interfaces_;
    // While a dump runs: what it has listed so far.
    std::optional<std::map<std::uint32_t, std::string>> dumping_;
    std::uint32_t dumpSequence_ = 0;
    bool dumpAgain_ = false;  // another dump once this one ends
    bool redump_ = false;     // the running dump reads again after lost messages
    bool known_ = false;
    bool told_ = false;       // a role was told since start()
    bool toldAssigned_ = false;
};

}  // namespace quon::pair

#endif
