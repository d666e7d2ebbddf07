// role_watcher: the role of this host in a pair, from the kernel. The host
// is active while the pair's address (which keepalived moves to the host
// it elects) is assigned to one of its interfaces, and standby while it is
// not. A route netlink socket joined to the IPv4 and IPv6 address groups
// waits on the host's event loop, so a change is known as soon as the
// kernel makes it; a dump of the addresses gives the state at start, and
// again whenever the socket drops messages. address_tracker reads the
// messages.
//
// Threading: every call, and every call back, on the thread running `io`.
// Lifetime: `io` outlives the watcher; destroying it closes the socket, and
// nothing is called back after that.
#ifndef QUON_PAIR_ROLE_WATCHER_H
#define QUON_PAIR_ROLE_WATCHER_H

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>

namespace quon::pair {

class role_watcher {
public:
    // `changed(active, cause, first)`: the role, once the kernel has told
    // it (`first`), and at every change after. `warn`: what the kernel sent
    // that could not be read. Both must outlive the watcher.
    using role_changed = std::function<void(bool active, const std::string& cause, bool first)>;
    role_watcher(boost::asio::io_context& io, const boost::asio::ip::address& address, role_changed changed,
                 std::function<void(const std::string&)> warn);
    ~role_watcher();
    role_watcher(const role_watcher&) = delete;
    role_watcher& operator=(const role_watcher&) = delete;

    // Opens the socket and asks for the addresses; false with `error` when
    // the socket cannot be opened.
    bool start(std::string& error);
    const boost::asio::ip::address& address() const;

private:
    struct impl;
    std::shared_ptr<impl> impl_;
};

}  // namespace quon::pair

#endif
