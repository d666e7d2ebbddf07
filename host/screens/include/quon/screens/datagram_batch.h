// datagram_batch: the datagrams of one UDP receiver on their way to the
// kernel, handed over many at a call (sendmmsg on Linux, one sendto each
// elsewhere). It is filled from a display_queue only once it is empty, so a
// receiver has one batch in flight: when the socket would block partway, the
// rest stay here, in order, and the queue behind it keeps coalescing changes.
//
// Plain data and system calls on a descriptor it borrows; one thread (the
// loop's, in umd_output).
#ifndef QUON_SCREENS_DATAGRAM_BATCH_H
#define QUON_SCREENS_DATAGRAM_BATCH_H

#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quon {

class display_queue;

class datagram_batch {
public:
    // What one send() did.
    struct outcome {
        size_t sent = 0;       // datagrams the kernel took
        size_t lost = 0;       // datagrams it refused (not for being full); dropped, as the network may
        bool blocked = false;  // the socket would block: the rest wait for it to be writable
    };

    // When empty: takes up to `limit` packets from `queue`. Otherwise does
    // nothing (what waits goes first).
    void fill(display_queue& queue, size_t limit);
    // Hands what waits to the non-blocking datagram socket `descriptor`,
    // addressed to `to` (nullptr: its connected peer), in order, until all
    // is taken or the socket would block.
    outcome send(int descriptor, const sockaddr* to, socklen_t toLength);
    // Forgets what waits (the socket is closed).
    void clear() { first_ = count_ = 0; }

    bool empty() const { return first_ == count_; }
    // Datagrams not yet taken by the kernel.
    size_t size() const { return count_ - first_; }

private:
    // Kept across fills so that their storage is reused.
    std::vector<std::string> datagrams_;
    size_t first_ = 0;  // the first not yet taken
    size_t count_ = 0;  // the filled ones
};

}  // namespace quon

#endif
