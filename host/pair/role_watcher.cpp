#include "quon/pair/role_watcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <array>
#include <boost/asio/generic/raw_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <vector>

#include "quon/pair/address_tracker.h"

namespace quon::pair {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// After the kernel refused a dump, or a read failed, the next try.
constexpr std::chrono::seconds retry_after{1};
// Room for a burst of changes (a host that takes many addresses at once)
// before the kernel drops messages and a dump is needed.
constexpr int receive_buffer = 1 << 20;

asio::generic::raw_protocol::endpoint netlinkEndpoint(std::uint32_t groups) {
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = groups;
    return {&address, sizeof address, NETLINK_ROUTE};
}

std::string interfaceName(std::uint32_t index) {
    char name[IF_NAMESIZE] = {};
    return if_indextoname(index, name) ? std::string(name) : std::string();
}

}  // namespace

struct role_watcher::impl : std::enable_shared_from_this<impl> {
    impl(asio::io_context& io, const asio::ip::address& address, role_changed c,
         std::function<void(const std::string&)> w)
        : socket(io), timer(io), tracker(address, interfaceName), changed(std::move(c)), warn(std::move(w)) {}

    bool open(std::string& error) {
        error_code failure;
        socket.open(asio::generic::raw_protocol(AF_NETLINK, NETLINK_ROUTE), failure);
        if (!failure) socket.set_option(asio::socket_base::receive_buffer_size(receive_buffer), failure);
        if (!failure) socket.bind(netlinkEndpoint(RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR), failure);
        if (failure) {
            error = "cannot watch the addresses of this host (route netlink socket): " + failure.message();
            socket.close(failure);
            return false;
        }
        carryOut(tracker.start());
        receive();
        return true;
    }

    void receive() {
        socket.async_receive_from(
            asio::buffer(buffer), sender, [self = shared_from_this(), this](const error_code& error, std::size_t size) {
                if (closed || error == asio::error::operation_aborted) return;
                if (error == asio::error::no_buffer_space) {
                    carryOut(tracker.overrun());
                } else if (error) {
                    warn("netlink: " + error.message() + "; reading again in 1 s");
                    timer.expires_after(retry_after);
                    timer.async_wait([self, this](const error_code& waited) {
                        if (waited || closed) return;
                        carryOut(tracker.dumpAgain());
                        receive();
                    });
                    return;
                } else if (sender.size() >= sizeof(sockaddr_nl) &&
                           reinterpret_cast<const sockaddr_nl*>(sender.data())->nl_pid == 0) {
                    // Only the kernel's word counts.
                    carryOut(tracker.received(buffer.data(), size));
                }
                if (!closed) receive();
            });
    }

    void carryOut(const std::vector<address_action>& actions) {
        for (const address_action& action : actions) {
            if (closed) return;
            switch (action.what) {
            case address_action::kind::send: {
                error_code error;
                socket.send_to(asio::buffer(action.bytes), netlinkEndpoint(0), 0, error);
                if (error) {
                    warn("netlink: the address dump could not be asked for: " + error.message() +
                         "; asking again in 1 s");
                    dumpLater();
                }
                break;
            }
            case address_action::kind::assigned:
            case address_action::kind::unassigned:
                changed(action.what == address_action::kind::assigned, action.text, action.first);
                break;
            case address_action::kind::problem:
                warn(action.text);
                break;
            case address_action::kind::dump_later:
                dumpLater();
                break;
            }
        }
    }

    void dumpLater() {
        timer.expires_after(retry_after);
        timer.async_wait([self = shared_from_this(), this](const error_code& error) {
            if (!error && !closed) carryOut(tracker.dumpAgain());
        });
    }

    asio::generic::raw_protocol::socket socket;
    asio::generic::raw_protocol::endpoint sender;
    asio::steady_timer timer;
    std::array<std::uint8_t, 64 * 1024> buffer{};
    address_tracker tracker;
    role_changed changed;
    std::function<void(const std::string&)> warn;
    bool closed = false;
};

role_watcher::role_watcher(asio::io_context& io, const asio::ip::address& address, role_changed changed,
                           std::function<void(const std::string&)> warn)
    : impl_(std::make_shared<impl>(io, address, std::move(changed), std::move(warn))) {}

role_watcher::~role_watcher() {
    impl_->closed = true;
    error_code ignored;
    impl_->timer.cancel();
    impl_->socket.close(ignored);
}

bool role_watcher::start(std::string& error) { return impl_->open(error); }

const asio::ip::address& role_watcher::address() const { return impl_->tracker.wanted(); }

}  // namespace quon::pair
