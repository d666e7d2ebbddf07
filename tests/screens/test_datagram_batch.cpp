// datagram_batch against a pair of local datagram sockets whose reading end
// takes only so many datagrams before the writing end would block: no
// timing, no network.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "quon/screens/datagram_batch.h"
#include "quon/screens/display_queue.h"
#include "screen_codecs.h"
#include "tsl_decoder.h"

namespace {

using namespace quon;

const tsl31_tally_map default_tally31{tally_lamp::left, tally_lamp::text, tally_lamp::right, tally_lamp::none};

// Two connected datagram sockets; the sending one does not block.
class socket_pair {
public:
    socket_pair() {
        if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, ends_.data()) != 0) ADD_FAILURE() << "socketpair failed";
        ::fcntl(ends_[0], F_SETFL, ::fcntl(ends_[0], F_GETFL) | O_NONBLOCK);
        ::fcntl(ends_[1], F_SETFL, ::fcntl(ends_[1], F_GETFL) | O_NONBLOCK);
    }
    ~socket_pair() {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    socket_pair(const socket_pair&) = delete;
    socket_pair& operator=(const socket_pair&) = delete;

    int sender() const { return ends_[0]; }
    // The index of the first display of every datagram waiting.
    std::vector<int> receiveAll() {
        std::vector<int> indexes;
        std::array<char, 4096> buffer{};
        while (true) {
            const ssize_t size = ::recv(ends_[1], buffer.data(), buffer.size(), 0);
            if (size < 0) return indexes;
            const auto packet = decodeTsl5(std::string(buffer.data(), static_cast<size_t>(size)));
            indexes.push_back(packet && !packet->messages.empty() ? packet->messages[0].index : -1);
        }
    }

private:
    std::array<int, 2> ends_{-1, -1};
};

// A queue of `count` displays, each shown once.
display_queue shownDisplays(uint16_t count) {
    display_queue queue(codecFor(&tsl5_protocol, false, default_tally31));
    for (uint16_t i = 0; i < count; ++i) {
        queue.addDisplay(0, i);
        queue.show(i, "CAM " + std::to_string(i), tally_lamps{});
    }
    return queue;
}

std::vector<int> upTo(int last) {
    std::vector<int> indexes;
    for (int i = 0; i < last; ++i) indexes.push_back(i);
    return indexes;
}

TEST(DatagramBatch, FillTakesUpToItsLimitFromTheQueue) {
    display_queue queue = shownDisplays(10);
    datagram_batch batch;
    batch.fill(queue, 4);
    EXPECT_EQ(batch.size(), 4u);
    EXPECT_EQ(queue.waiting(), 6u);
    batch.fill(queue, 4);
    EXPECT_EQ(batch.size(), 4u) << "what waits goes first";
    batch.clear();
    EXPECT_TRUE(batch.empty());
}

TEST(DatagramBatch, HandsEveryDatagramToTheSocketInOrder) {
    display_queue queue = shownDisplays(8);
    datagram_batch batch;
    socket_pair pair;
    batch.fill(queue, 64);
    const auto done = batch.send(pair.sender(), nullptr, 0);
    EXPECT_EQ(done.sent, 8u);
    EXPECT_EQ(done.lost, 0u);
    EXPECT_FALSE(done.blocked);
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(pair.receiveAll(), upTo(8));
}

TEST(DatagramBatch, ASocketThatWouldBlockPartwayKeepsTheRestInOrder) {
    display_queue queue = shownDisplays(1000);
    datagram_batch batch;
    socket_pair pair;
    batch.fill(queue, 1000);
    const auto first = batch.send(pair.sender(), nullptr, 0);
    ASSERT_TRUE(first.blocked);
    ASSERT_GT(first.sent, 0u);
    ASSERT_LT(first.sent, 1000u);
    EXPECT_EQ(first.lost, 0u);
    EXPECT_EQ(batch.size(), 1000u - first.sent);

    // Nothing is lost or sent twice: the reader gets every datagram once,
    // in order, as it makes room.
    std::vector<int> received = pair.receiveAll();
    EXPECT_EQ(received, upTo(static_cast<int>(first.sent)));
    for (int round = 0; round < 1000 && !batch.empty(); ++round) {
        batch.send(pair.sender(), nullptr, 0);
        const auto more = pair.receiveAll();
        received.insert(received.end(), more.begin(), more.end());
    }
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(received, upTo(1000));
}

TEST(DatagramBatch, DatagramsTheSocketRefusesAreLostAndEachIsTried) {
    display_queue queue = shownDisplays(3);
    datagram_batch batch;
    batch.fill(queue, 64);
    // An IPv4 socket refuses an IPv6 address, each time, sending nothing.
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(descriptor, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    const auto done = batch.send(descriptor, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(descriptor);
    EXPECT_EQ(done.lost, 3u);
    EXPECT_EQ(done.sent, 0u);
    EXPECT_FALSE(done.blocked);
    EXPECT_TRUE(batch.empty());
}

}  // namespace
