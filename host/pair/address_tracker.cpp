#include "quon/pair/address_tracker.h"

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace quon::pair {

namespace {

constexpr std::size_t header_size = sizeof(nlmsghdr);

// The kernel's error code, negative in its messages; any int may come.
std::string kernelError(int negative) {
    if (negative < 0 && negative > -4096) return std::strerror(-negative);
    return "error code " + std::to_string(negative);
}

constexpr std::size_t aligned(std::size_t size) { return (size + NLMSG_ALIGNTO - 1) & ~std::size_t(NLMSG_ALIGNTO - 1); }

template <typename T>
T readAt(const std::uint8_t* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

std::string dumpRequest(std::uint32_t sequence, unsigned char family) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(aligned(header_size) + sizeof(ifaddrmsg));
    header.nlmsg_type = RTM_GETADDR;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header.nlmsg_seq = sequence;
    ifaddrmsg body{};
    body.ifa_family = family;
    std::string bytes(header.nlmsg_len, '\0');
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + aligned(header_size), &body, sizeof body);
    return bytes;
}

}  // namespace

address_tracker::address_tracker(const boost::asio::ip::address& wanted,
                                 std::function<std::string(std::uint32_t)> interfaceName)
    : wanted_(wanted), interfaceName_(std::move(interfaceName)) {}

std::vector<address_action> address_tracker::start() {
    std::vector<address_action> out;
    requestDump(out);
    return out;
}

std::vector<address_action> address_tracker::overrun() {
    std::vector<address_action> out;
    if (dumping_) {
        dumpAgain_ = true;
    } else {
        redump_ = true;
        requestDump(out);
    }
    return out;
}

std::vector<address_action> address_tracker::dumpAgain() {
    std::vector<address_action> out;
    if (!dumping_) requestDump(out);
    return out;
}

void address_tracker::requestDump(std::vector<address_action>& out) {
    dumping_.emplace();
    ++dumpSequence_;
    out.push_back({address_action::kind::send,
                   dumpRequest(dumpSequence_, static_cast<unsigned char>(wanted_.is_v4() ? AF_INET : AF_INET6)),
                   {}, false});
}

std::vector<address_action> address_tracker::received(const std::uint8_t* data, std::size_t size) {
    std::vector<address_action> out;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < header_size) {
            unreadable("netlink: " + std::to_string(size - at) + " bytes left over after the last message", out);
            break;
        }
        const auto header = readAt<nlmsghdr>(data + at);
        if (header.nlmsg_len < header_size || header.nlmsg_len > size - at) {
            unreadable("netlink: a message says it has " + std::to_string(header.nlmsg_len) + " bytes where " +
                           std::to_string(size - at) + " remain",
                       out);
            break;
        }
        readMessage(header.nlmsg_type, header.nlmsg_flags, header.nlmsg_seq, data + at + header_size,
                    header.nlmsg_len - header_size, out);
        at += aligned(header.nlmsg_len);
    }
    return out;
}

void address_tracker::readMessage(std::uint16_t type, std::uint16_t flags, std::uint32_t sequence,
                                  const std::uint8_t* payload, std::size_t size, std::vector<address_action>& out) {
    const bool ours = dumping_ && sequence == dumpSequence_;
    switch (type) {
    case RTM_NEWADDR:
    case RTM_DELADDR:
        readAddress(type == RTM_NEWADDR, ours && (flags & NLM_F_MULTI) != 0, payload, size, out);
        return;
    case NLMSG_DONE:
        if (!ours) return;
        if (size >= sizeof(int) && readAt<int>(payload) < 0) {
            dumping_.reset();
            out.push_back({address_action::kind::problem, {},
                           "netlink: the address dump failed: " + kernelError(readAt<int>(payload)), false});
            out.push_back({address_action::kind::dump_later, {}, {}, false});
            return;
        }
        dumpEnded(out);
        return;
    case NLMSG_ERROR: {
        if (size < sizeof(int)) {
            unreadable("netlink: an error message of " + std::to_string(size) + " bytes", out);
            return;
        }
        const int error = readAt<int>(payload);
        if (error == 0 || !ours) return;  // an acknowledgement, or not about the dump
        dumping_.reset();
        out.push_back({address_action::kind::problem, {},
                       "netlink: the kernel refused the address dump: " + kernelError(error), false});
        out.push_back({address_action::kind::dump_later, {}, {}, false});
        return;
    }
    case NLMSG_OVERRUN: {
        std::vector<address_action> again = overrun();
        out.insert(out.end(), again.begin(), again.end());
        return;
    }
    default:
        return;  // NLMSG_NOOP, and what the groups joined do not concern
    }
}

void address_tracker::readAddress(bool added, bool listed, const std::uint8_t* payload, std::size_t size,
                                  std::vector<address_action>& out) {
    if (size < sizeof(ifaddrmsg)) {
        unreadable("netlink: an address message of " + std::to_string(size) + " bytes", out);
        return;
    }
    const auto message = readAt<ifaddrmsg>(payload);
    const int family = wanted_.is_v4() ? AF_INET : AF_INET6;
    if (message.ifa_family != family) return;
    const std::size_t length = wanted_.is_v4() ? 4 : 16;
    // IFA_LOCAL is the address itself; IFA_ADDRESS is the peer's on a
    // point-to-point link, and the address itself otherwise (IPv6 sends
    // IFA_ADDRESS alone).
    const std::uint8_t* local = nullptr;
    const std::uint8_t* address = nullptr;
    std::string label;
    std::size_t at = aligned(sizeof(ifaddrmsg));
    while (at + sizeof(rtattr) <= size) {
        const auto attribute = readAt<rtattr>(payload + at);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > size - at) {
            unreadable("netlink: an address attribute says it has " + std::to_string(attribute.rta_len) +
                           " bytes where " + std::to_string(size - at) + " remain",
                       out);
            return;
        }
        const std::uint8_t* value = payload + at + aligned(sizeof(rtattr));
        const std::size_t valueSize = attribute.rta_len - aligned(sizeof(rtattr));
        if (attribute.rta_type == IFA_LOCAL && valueSize == length) local = value;
        if (attribute.rta_type == IFA_ADDRESS && valueSize == length) address = value;
        if (attribute.rta_type == IFA_LABEL)
            label.assign(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), valueSize));
        at += aligned(attribute.rta_len);
    }
    const std::uint8_t* found = local ? local : address;
    if (!found) return;
    const bool same = wanted_.is_v4() ? std::memcmp(found, wanted_.to_v4().to_bytes().data(), 4) == 0
                                      : std::memcmp(found, wanted_.to_v6().to_bytes().data(), 16) == 0;
    if (!same) return;
    const std::uint32_t index = message.ifa_index;
    if (listed) {
        // Counts once the dump ends.
        (*dumping_)[index] = label;
        return;
    }
    if (added) {
        interfaces_[index] = label;
        if (dumping_) (*dumping_)[index] = label;
    } else {
        if (label.empty()) {
            const auto known = interfaces_.find(index);
            if (known != interfaces_.end()) label = known->second;
        }
        interfaces_.erase(index);
        if (dumping_) dumping_->erase(index);
    }
    if (!known_) return;  // the first dump decides
    const std::string name = label.empty() ? where(index) : label;
    decide(wanted_.to_string() + (added ? " added on " : " removed from ") + name, out);
}

void address_tracker::dumpEnded(std::vector<address_action>& out) {
    interfaces_ = std::move(*dumping_);
    dumping_.reset();
    known_ = true;
    std::string cause;
    if (interfaces_.empty()) {
        cause = wanted_.to_string() + " is not assigned here";
    } else {
        const auto& [index, label] = *interfaces_.begin();
        cause = wanted_.to_string() + " is on " + (label.empty() ? where(index) : label);
    }
    if (redump_) cause += ", read again after the kernel dropped messages";
    redump_ = false;
    decide(cause, out);
    if (dumpAgain_) {
        dumpAgain_ = false;
        redump_ = true;
        requestDump(out);
    }
}

void address_tracker::decide(const std::string& cause, std::vector<address_action>& out) {
    const bool now = assigned();
    if (told_ && now == toldAssigned_) return;
    out.push_back({now ? address_action::kind::assigned : address_action::kind::unassigned, {}, cause, !told_});
    told_ = true;
    toldAssigned_ = now;
}

std::string address_tracker::where(std::uint32_t index) const {
    std::string name = interfaceName_ ? interfaceName_(index) : std::string();
    return name.empty() ? "interface " + std::to_string(index) : name;
}

void address_tracker::unreadable(const std::string& what, std::vector<address_action>& out) {
    out.push_back({address_action::kind::problem, {}, what, false});
    std::vector<address_action> again = overrun();
    out.insert(out.end(), again.begin(), again.end());
}

}  // namespace quon::pair
