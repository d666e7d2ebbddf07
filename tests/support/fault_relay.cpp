#include "fault_relay.h"

#include <algorithm>
#include <deque>
#include <queue>
#include <string>
#include <vector>

#include <boost/asio/write.hpp>

namespace quon::fake {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;
using clock_type = std::chrono::steady_clock;

namespace {

// Past this much waiting in one direction the relay stops reading, so that
// a stall pushes back on the sender as a network's would.
constexpr std::size_t most_waiting = 256 * 1024;

}  // namespace

// One direction of a connection: what `from` sends goes to `to`.
struct tcp_fault_relay::pump {
    pump(asio::io_context& io, tcp::socket& from, tcp::socket& to) : from(from), to(to), timer(io) {}
    struct piece {
        std::string bytes;
        clock_type::time_point due;
    };
    tcp::socket& from;
    tcp::socket& to;
    asio::steady_timer timer;
    std::array<char, 4096> buffer{};
    std::deque<piece> waiting;
    std::size_t waitingBytes = 0;
    clock_type::time_point lastDue{};
    bool reading = false;
    bool writing = false;
};

struct tcp_fault_relay::link : std::enable_shared_from_this<link> {
    link(asio::io_context& io, tcp::socket client, tcp_fault_relay& relay)
        : relay(&relay), client(std::move(client)), peer(io), up(io, this->client, peer), down(io, peer, this->client) {}

    void start(const tcp::endpoint& to) {
        auto self = shared_from_this();
        peer.async_connect(to, [self](const boost::system::error_code& error) {
            if (!self->relay) return;
            if (error) return self->end(false);
            for (tcp::socket* s : {&self->client, &self->peer}) s->set_option(tcp::no_delay(true));
            self->read(self->up);
            self->read(self->down);
        });
    }

    void read(pump& p) {
        if (!relay || p.reading || p.waitingBytes >= most_waiting) return;
        p.reading = true;
        auto self = shared_from_this();
        p.from.async_read_some(asio::buffer(p.buffer), [self, &p](const boost::system::error_code& error, std::size_t size) {
            p.reading = false;
            if (!self->relay) return;
            if (error) return self->end(false);
            self->cut(p, size);
            self->write(p);
            self->read(p);
        });
    }

    // The read's bytes in pieces, each due after its delay and never before
    // the one ahead of it.
    void cut(pump& p, std::size_t size) {
        const tcp_faults& f = relay->faults_;
        const auto now = clock_type::now();
        for (std::size_t at = 0; at < size;) {
            std::size_t length = size - at;
            clock_type::time_point due = now;
            if (!relay->calm_) {
                length = std::min(length, std::uniform_int_distribution<std::size_t>(1, f.largestPiece)(relay->random_));
                due += std::chrono::milliseconds(
                    std::uniform_int_distribution<long long>(0, f.longestDelay.count())(relay->random_));
            }
            due = std::max(due, p.lastDue);
            p.lastDue = due;
            p.waiting.push_back({std::string(p.buffer.data() + at, length), due});
            p.waitingBytes += length;
            at += length;
        }
    }

    void write(pump& p) {
        if (!relay || p.writing || p.waiting.empty()) return;
        p.writing = true;
        const auto when = std::max(p.waiting.front().due, relay->stalledUntil_);
        auto self = shared_from_this();
        if (when > clock_type::now()) {
            p.timer.expires_at(when);
            p.timer.async_wait([self, &p](const boost::system::error_code& error) {
                p.writing = false;
                if (!error) self->write(p);
            });
            return;
        }
        asio::async_write(p.to, asio::buffer(p.waiting.front().bytes),
                          [self, &p](const boost::system::error_code& error, std::size_t) {
                              p.writing = false;
                              if (!self->relay) return;
                              if (error) return self->end(false);
                              p.waitingBytes -= p.waiting.front().bytes.size();
                              p.waiting.pop_front();
                              self->write(p);
                              self->read(p);
                          });
    }

    // Closes both sides: with RST, or as a peer that closed would.
    void end(bool withReset) {
        boost::system::error_code ignored;
        for (tcp::socket* s : {&client, &peer}) {
            if (withReset && s->is_open()) s->set_option(asio::socket_base::linger(true, 0), ignored);
            s->close(ignored);
        }
        up.timer.cancel();
        down.timer.cancel();
        tcp_fault_relay* owner = relay;
        relay = nullptr;
        if (owner) owner->links_.erase(shared_from_this());
    }

    tcp_fault_relay* relay;  // null once ended
    tcp::socket client;
    tcp::socket peer;
    pump up;    // client to peer
    pump down;  // peer to client
};

tcp_fault_relay::tcp_fault_relay(asio::io_context& io, tcp::endpoint peer, std::uint64_t seed, tcp_faults faults)
    : io_(io), peer_(std::move(peer)), acceptor_(io), random_(seed), faults_(faults) {
    const tcp::endpoint loopback(asio::ip::make_address("127.0.0.1"), 0);
    acceptor_.open(loopback.protocol());
    acceptor_.bind(loopback);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    accept();
}

tcp_fault_relay::~tcp_fault_relay() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    const auto links = links_;
    for (const auto& l : links) l->end(false);
}

void tcp_fault_relay::accept() {
    acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket client) {
        if (error) return;
        ++accepted_;
        auto l = std::make_shared<link>(io_, std::move(client), *this);
        links_.insert(l);
        l->start(peer_);
        accept();
    });
}

void tcp_fault_relay::stall(std::chrono::milliseconds duration) {
    stalledUntil_ = std::max(stalledUntil_, clock_type::now() + duration);
}

void tcp_fault_relay::reset() {
    ++resets_;
    const auto links = links_;
    for (const auto& l : links) l->end(true);
}

void tcp_fault_relay::calm() {
    calm_ = true;
    stalledUntil_ = {};
}

struct udp_fault_relay::state : std::enable_shared_from_this<state> {
    state(asio::io_context& io, udp::endpoint peer, std::uint64_t seed, udp_faults faults)
        : socket(io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          peer(std::move(peer)),
          timer(io),
          random(seed),
          faults(faults) {
        socket.set_option(asio::socket_base::receive_buffer_size(8 << 20));
    }

    void receive() {
        auto self = shared_from_this();
        socket.async_receive(asio::buffer(buffer), [self](const boost::system::error_code& error, std::size_t size) {
            if (error || self->closed) return;
            self->take(std::string(self->buffer.data(), size));
            self->receive();
        });
    }

    void take(std::string datagram) {
        ++received;
        const auto now = clock_type::now();
        if (calm) return queue(std::move(datagram), now);
        if (std::bernoulli_distribution(faults.lost)(random)) {
            ++lost;
            return;
        }
        int copies = 1;
        if (std::bernoulli_distribution(faults.doubled)(random)) {
            ++doubled;
            copies = 2;
        }
        for (int i = 0; i < copies; ++i)
            queue(datagram, now + std::chrono::milliseconds(std::uniform_int_distribution<long long>(
                                       0, faults.longestDelay.count())(random)));
    }

    void queue(std::string datagram, clock_type::time_point due) {
        waiting.push({due, order++, std::move(datagram)});
        arm();
    }

    void arm() {
        if (waiting.empty() || (armed && armedFor <= waiting.top().due)) return;
        armed = true;
        armedFor = waiting.top().due;
        timer.expires_at(armedFor);
        auto self = shared_from_this();
        timer.async_wait([self](const boost::system::error_code& error) {
            if (error) return;
            self->armed = false;
            self->sendDue();
        });
    }

    void sendDue() {
        if (closed) return;
        const auto now = clock_type::now();
        while (!waiting.empty() && waiting.top().due <= now) {
            boost::system::error_code ignored;
            socket.send_to(asio::buffer(waiting.top().bytes), peer, 0, ignored);
            waiting.pop();
        }
        arm();
    }

    struct datagram {
        clock_type::time_point due;
        std::uint64_t order;  // ties keep the order they came in
        std::string bytes;
        bool operator>(const datagram& other) const {
            return due != other.due ? due > other.due : order > other.order;
        }
    };

    udp::socket socket;
    udp::endpoint peer;
    asio::steady_timer timer;
    std::mt19937_64 random;
    udp_faults faults;
    std::array<char, 65536> buffer{};
    std::priority_queue<datagram, std::vector<datagram>, std::greater<datagram>> waiting;
    std::uint64_t order = 0;
    bool armed = false;
    clock_type::time_point armedFor{};
    bool calm = false;
    bool closed = false;
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t doubled = 0;
};

udp_fault_relay::udp_fault_relay(asio::io_context& io, udp::endpoint peer, std::uint64_t seed, udp_faults faults)
    : state_(std::make_shared<state>(io, std::move(peer), seed, faults)) {
    port_ = state_->socket.local_endpoint().port();
    state_->receive();
}

udp_fault_relay::~udp_fault_relay() {
    state_->closed = true;
    boost::system::error_code ignored;
    state_->timer.cancel();
    state_->socket.close(ignored);
}

void udp_fault_relay::calm() { state_->calm = true; }
std::uint64_t udp_fault_relay::received() const { return state_->received; }
std::uint64_t udp_fault_relay::lost() const { return state_->lost; }
std::uint64_t udp_fault_relay::doubled() const { return state_->doubled; }

}  // namespace quon::fake
