#include "quon/screens/datagram_batch.h"

#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "quon/screens/display_queue.h"

namespace quon {

namespace {

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

void datagram_batch::fill(display_queue& queue, size_t limit) {
    if (!empty()) return;
    first_ = count_ = 0;
    while (count_ < limit) {
        if (count_ == datagrams_.size()) datagrams_.emplace_back();
        if (!queue.nextPacket(datagrams_[count_])) break;
        ++count_;
    }
}

#ifdef __linux__

datagram_batch::outcome datagram_batch::send(int descriptor, const sockaddr* to, socklen_t toLength) {
    // The kernel takes at most this many messages a call.
    constexpr size_t most_per_call = 64;
    outcome done;
    std::array<iovec, most_per_call> pieces{};
    std::array<mmsghdr, most_per_call> messages{};
    while (!empty()) {
        const size_t count = std::min(size(), most_per_call);
        for (size_t i = 0; i < count; ++i) {
            std::string& datagram = datagrams_[first_ + i];
            pieces[i] = iovec{datagram.data(), datagram.size()};
            messages[i] = mmsghdr{};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr*>(to);
            messages[i].msg_hdr.msg_namelen = to ? toLength : 0;
            messages[i].msg_hdr.msg_iov = &pieces[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int taken = ::sendmmsg(descriptor, messages.data(), static_cast<unsigned>(count), MSG_DONTWAIT);
        if (taken > 0) {
            first_ += static_cast<size_t>(taken);
            done.sent += static_cast<size_t>(taken);
            // Fewer than asked: the next call tells why, for the first of the rest.
            continue;
        }
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) {
            done.blocked = true;
            return done;
        }
        ++first_;
        ++done.lost;
    }
    return done;
}

#else

datagram_batch::outcome datagram_batch::send(int descriptor, const sockaddr* to, socklen_t toLength) {
    outcome done;
    while (!empty()) {
        const std::string& datagram = datagrams_[first_];
        const ssize_t taken = to ? ::sendto(descriptor, datagram.data(), datagram.size(), 0, to, toLength)
                                 : ::send(descriptor, datagram.data(), datagram.size(), 0);
        if (taken < 0 && errno == EINTR) continue;
        if (taken < 0 && wouldBlock(errno)) {
            done.blocked = true;
            return done;
        }
        ++first_;
        ++(taken < 0 ? done.lost : done.sent);
    }
    return done;
}

#endif

}  // namespace quon
