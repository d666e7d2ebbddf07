// The facility: the screens that note which host each message came from.
#ifndef QUON_TESTS_TAKEOVER_FACILITY
#define QUON_TESTS_TAKEOVER_FACILITY

#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "pair_setting.h"
#include "tsl_decoder.h"

namespace quon::takeover {

struct message_seen {
    steady::time_point at;
    int host = -1;  // 0 A, 1 B, -1 neither
    std::string text;
};

inline int hostOf(const asio::ip::address& address) {
    for (size_t h = 0; h < host_addresses.size(); ++h)
        if (address.to_string() == host_addresses[h]) return static_cast<int>(h);
    return -1;
}

// What the screens took: every display message, and what each display of
// each receiver (0 UDP, 1 TCP) shows now.
class screens {
public:
    explicit screens(asio::io_context& io) : udp_(io), acceptor_(io) {
        udp_.open(udp::v4());
        udp_.bind(udp::endpoint(asio::ip::make_address(facility_address), 0));
        const tcp::endpoint where(asio::ip::make_address(facility_address), 0);
        acceptor_.open(where.protocol());
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        acceptor_.bind(where);
        acceptor_.listen();
        receive();
        accept();
    }

    uint16_t udpPort() const { return udp_.local_endpoint().port(); }
    uint16_t tcpPort() const { return acceptor_.local_endpoint().port(); }

    const std::vector<message_seen>& seen() const { return seen_; }
    const std::string* shows(int receiver, int index) const {
        const auto it = shown_.find({receiver, index});
        return it == shown_.end() ? nullptr : &it->second;
    }
    int blanks() const { return blanks_; }

private:
    struct connection {
        explicit connection(tcp::socket s) : socket(std::move(s)) {}
        tcp::socket socket;
        int host = -1;
        std::array<char, 4096> buffer{};
        std::string pending;  // bytes not yet a whole packet
    };

    void take(const std::string& packet, int receiver, int host) {
        const auto decoded = decodeTsl5(packet);
        if (!decoded) return;
        const auto now = steady::now();
        for (const auto& m : decoded->messages) {
            seen_.push_back({now, host, m.textBytes});
            shown_[{receiver, m.index}] = m.textBytes;
            if (m.textBytes.empty()) ++blanks_;
        }
    }

    void receive() {
        udp_.async_receive_from(asio::buffer(datagram_), from_, [this](boost::system::error_code error, size_t size) {
            if (error) return;
            take(std::string(datagram_.data(), size), 0, hostOf(from_.address()));
            receive();
        });
    }

    void accept() {
        acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error) return;
            auto c = std::make_shared<connection>(std::move(socket));
            boost::system::error_code ignored;
            c->host = hostOf(c->socket.remote_endpoint(ignored).address());
            read(c);
            accept();
        });
    }

    void read(const std::shared_ptr<connection>& c) {
        c->socket.async_read_some(asio::buffer(c->buffer), [this, c](boost::system::error_code error, size_t size) {
            if (error) return;
            c->pending.append(c->buffer.data(), size);
            unwrap(*c);
            read(c);
        });
    }

    // DLE/STX (fe 02) starts a packet; fe fe inside stands for fe; the
    // packet's own byte count says where it ends.
    void unwrap(connection& c) {
        for (;;) {
            const size_t start = c.pending.find("\xfe\x02");
            if (start == std::string::npos) {
                if (c.pending.size() > 1) c.pending.erase(0, c.pending.size() - 1);
                return;
            }
            std::string packet;
            size_t at = start + 2;
            bool whole = false;
            while (at < c.pending.size()) {
                char byte = c.pending[at];
                if (static_cast<unsigned char>(byte) == 0xfe) {
                    if (at + 1 >= c.pending.size()) break;
                    if (static_cast<unsigned char>(c.pending[at + 1]) != 0xfe) break;  // a new packet: this one is cut
                    ++at;
                }
                packet.push_back(byte);
                ++at;
                if (packet.size() >= 2 && packet.size() == size_t(readLittleEndian16(packet, 0)) + 2) {
                    whole = true;
                    break;
                }
            }
            if (!whole) {
                if (at < c.pending.size()) {  // cut by a new start: drop it
                    c.pending.erase(0, at);
                    continue;
                }
                c.pending.erase(0, start);
                return;
            }
            take(packet, 1, c.host);
            c.pending.erase(0, at);
        }
    }

    udp::socket udp_;
    udp::endpoint from_;
    std::array<char, 4096> datagram_{};
    tcp::acceptor acceptor_;
    std::vector<message_seen> seen_;
    std::map<std::pair<int, int>, std::string> shown_;
    int blanks_ = 0;
};

}  // namespace quon::takeover

#endif
