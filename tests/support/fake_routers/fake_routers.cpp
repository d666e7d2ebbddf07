#include "fake_routers.h"

#include <deque>
#include <map>

#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include "quon/routers/swp08/swp08_protocol.h"
#include "quon/routers/videohub/videohub_protocol.h"

namespace quon::fake {

namespace asio = boost::asio;
using asio::ip::tcp;

router_state numberedState(int sources, int destinations) {
    router_state state;
    for (int s = 1; s <= sources; ++s) state.inputLabels.push_back("Input " + std::to_string(s));
    for (int d = 1; d <= destinations; ++d) {
        state.outputLabels.push_back("Output " + std::to_string(d));
        state.routes.push_back(sources > 0 ? (d - 1) % sources + 1 : 1);
    }
    return state;
}

class fake_router::connection : public std::enable_shared_from_this<connection> {
public:
    // Over TLS with `tls`, once handshake() is done.
    connection(tcp::socket socket, fake_router& owner, std::weak_ptr<bool> alive, asio::ssl::context* tls)
        : socket_(std::move(socket)), port_(localPort(socket_)), owner_(owner), alive_(std::move(alive)) {
        if (tls) tls_ = std::make_unique<asio::ssl::stream<tcp::socket&>>(socket_, *tls);
    }

    template <class Handler>
    void handshake(Handler handler) {
        tls_->async_handshake(asio::ssl::stream_base::server, std::move(handler));
    }

    std::uint16_t port() const { return port_; }

    void read() {
        auto self = shared_from_this();
        auto done = [this, self](const boost::system::error_code& error, std::size_t size) {
            if (alive_.expired()) return;
            if (error) {
                owner_.forget(this);
                return;
            }
            if (!owner_.silent()) owner_.onBytes(*this, buffer_, size);
            if (socket_.is_open()) read();
        };
        if (tls_)
            tls_->async_read_some(asio::buffer(buffer_), std::move(done));
        else
            socket_.async_read_some(asio::buffer(buffer_), std::move(done));
    }

    void write(std::string bytes) {
        queue_.push_back(std::move(bytes));
        if (queue_.size() == 1) writeNext();
    }

    void close() {
        boost::system::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

private:
    // 0 for a connection the peer reset before it was taken.
    static std::uint16_t localPort(const tcp::socket& socket) {
        boost::system::error_code error;
        const tcp::endpoint local = socket.local_endpoint(error);
        return error ? 0 : local.port();
    }

    void writeNext() {
        auto self = shared_from_this();
        auto done = [this, self](const boost::system::error_code& error, std::size_t) {
            if (error) {
                queue_.clear();
                return;
            }
            queue_.pop_front();
            if (!queue_.empty()) writeNext();
        };
        if (tls_)
            asio::async_write(*tls_, asio::buffer(queue_.front()), std::move(done));
        else
            asio::async_write(socket_, asio::buffer(queue_.front()), std::move(done));
    }

    tcp::socket socket_;
    std::unique_ptr<asio::ssl::stream<tcp::socket&>> tls_;  // over socket_, when served over TLS
    const std::uint16_t port_;  // the router's
    fake_router& owner_;
    std::weak_ptr<bool> alive_;
    std::uint8_t buffer_[4096];
    std::deque<std::string> queue_;
};

fake_router::fake_router(asio::io_context& io, router_state state, std::uint16_t port, const std::string& address)
    : state_(std::move(state)), acceptor_(io), alive_(std::make_shared<bool>(true)) {
    const tcp::endpoint endpoint(asio::ip::make_address(address), port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    accept(acceptor_);
}

std::uint16_t fake_router::listenAlso(std::uint16_t port) {
    auto& acceptor = *otherAcceptors_.emplace_back(std::make_unique<tcp::acceptor>(acceptor_.get_executor()));
    const tcp::endpoint endpoint(acceptor_.local_endpoint().address(), port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen();
    accept(acceptor);
    return acceptor.local_endpoint().port();
}

std::uint16_t fake_router::portOf(const connection& client) { return client.port(); }

fake_router::~fake_router() {
    alive_.reset();
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    for (const auto& other : otherAcceptors_) other->close(ignored);
    for (const auto& client : connections_) client->close();
    for (const auto& client : handshaking_) client->close();
}

void fake_router::accept(tcp::acceptor& acceptor) {
    std::weak_ptr<bool> alive = alive_;
    acceptor.async_accept([this, alive, &acceptor](const boost::system::error_code& error, tcp::socket socket) {
        if (alive.expired() || error) return;
        ++accepted_;
        socket.set_option(tcp::no_delay(true));
        auto client = std::make_shared<connection>(std::move(socket), *this, alive_, tls_.get());
        if (tls_) {
            handshaking_.insert(client);
            client->handshake([this, alive, client](const boost::system::error_code& handshakeError) {
                if (alive.expired() || !handshaking_.erase(client)) return;
                if (handshakeError) {
                    client->close();
                    return;
                }
                admit(client);
            });
        } else {
            admit(client);
        }
        accept(acceptor);
    });
}

void fake_router::admit(const std::shared_ptr<connection>& client) {
    connections_.insert(client);
    client->read();
    if (silent_)
        ungreeted_.insert(client.get());
    else
        onAccepted(*client);
}

void fake_router::serveTls(const std::string& certificateFile, const std::string& keyFile) {
    tls_ = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    tls_->use_certificate_chain_file(certificateFile);
    tls_->use_private_key_file(keyFile, asio::ssl::context::pem);
}

void fake_router::setSilent(bool silent) {
    silent_ = silent;
    if (silent_) return;
    for (const auto& client : connections_)
        if (ungreeted_.count(client.get())) onAccepted(*client);
    ungreeted_.clear();
}

void fake_router::forget(connection* client) {
    ungreeted_.erase(client);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() == client) {
            (*it)->close();
            connections_.erase(it);
            onClosed(client);
            return;
        }
    }
}

void fake_router::dropConnections() {
    for (const auto& client : connections_) {
        client->close();
        onClosed(client.get());
    }
    for (const auto& client : handshaking_) client->close();
    connections_.clear();
    handshaking_.clear();
    ungreeted_.clear();
}

void fake_router::restart(router_state state) {
    dropConnections();
    state_ = std::move(state);
}

void fake_router::sendGarbage(const std::string& bytes) { sendToAll(bytes); }

void fake_router::sendTo(connection& client, const std::string& bytes) { client.write(bytes); }

void fake_router::sendToAll(const std::string& bytes) {
    for (const auto& client : connections_) client->write(bytes);
}

namespace {

namespace vh = quon::routers::videohub;
namespace sw = quon::routers::swp08;

class fake_videohub final : public fake_router {
public:
    fake_videohub(asio::io_context& io, router_state state, bool byteByByte, std::uint16_t port,
                  const std::string& address)
        : fake_router(io, std::move(state), port, address), byteByByte_(byteByByte) {}

    void route(int destination, int source) override {
        state_.routes.at(static_cast<std::size_t>(destination - 1)) = source;
        if (!silent())
            sendToAll(std::string(vh::routing_header) + "\n" + std::to_string(destination - 1) + " " +
                      std::to_string(source - 1) + "\n\n");
    }

    void setLabel(int database, int index, const std::string& text) override {
        labels(database).at(static_cast<std::size_t>(index - 1)) = text;
        if (!silent())
            sendToAll(std::string(database == 0 ? vh::input_labels_header : vh::output_labels_header) + "\n" +
                      std::to_string(index - 1) + " " + text + "\n\n");
    }

private:
    std::vector<std::string>& labels(int database) { return database == 0 ? state_.inputLabels : state_.outputLabels; }

    // Appended piece by piece: a router of 50,000 ports greets with some
    // megabytes, and the benchmarks time the host, not the fake.
    static void appendLabels(std::string& text, std::string_view header, const std::vector<std::string>& labels) {
        text.append(header).append(1, '\n');
        for (std::size_t i = 0; i < labels.size(); ++i)
            text.append(std::to_string(i)).append(1, ' ').append(labels[i]).append(1, '\n');
        text.append(1, '\n');
    }

    void appendRouting(std::string& text) const {
        text.append(vh::routing_header).append(1, '\n');
        for (std::size_t i = 0; i < state_.routes.size(); ++i)
            text.append(std::to_string(i)).append(1, ' ').append(std::to_string(state_.routes[i] - 1)).append(1, '\n');
        text.append(1, '\n');
    }

    std::string prelude() const {
        std::string text = "PROTOCOL PREAMBLE:\nVersion: 2.8\n\n";
        text += "VIDEOHUB DEVICE:\nDevice present: true\nModel name: Fake Videohub\nVideo inputs: " +
                std::to_string(state_.inputLabels.size()) +
                "\nVideo processing units: 0\nVideo outputs: " + std::to_string(state_.outputLabels.size()) +
                "\nVideo monitoring outputs: 0\nSerial ports: 0\n\n";
        text.reserve(text.size() + 40 * (state_.inputLabels.size() + state_.outputLabels.size() + state_.routes.size()));
        appendLabels(text, vh::input_labels_header, state_.inputLabels);
        appendLabels(text, vh::output_labels_header, state_.outputLabels);
        text.append(vh::locks_header).append(1, '\n');
        for (std::size_t i = 0; i < state_.routes.size(); ++i) text.append(std::to_string(i)).append(" U\n");
        text.append(1, '\n');
        appendRouting(text);
        text += "CONFIGURATION:\nTake Mode: false\n\n";
        text += std::string(vh::end_prelude_header) + "\n\n";
        return text;
    }

    void onAccepted(connection& client) override {
        readers_[&client] = vh::reader();
        const std::string text = prelude();
        if (!byteByByte_) {
            sendTo(client, text);
            return;
        }
        for (const char c : text) sendTo(client, std::string(1, c));
    }

    struct block_collector : vh::block_sink {
        std::vector<vh::block> blocks;
        void onBlock(const vh::block& complete) override { blocks.push_back(complete); }
        void onReaderProblem(vh::reader_problem) override {}
    };

    void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) override {
        block_collector collected;
        readers_[&client].feed(std::string_view(reinterpret_cast<const char*>(bytes), size), collected);
        for (const vh::block& request : collected.blocks) answer(client, request);
    }

    void answer(connection& client, const vh::block& request) {
        const std::string_view header = request.header;
        if (header == "PING:") {
            sendTo(client, "ACK\n\n");
            ++keepAlivesAnswered_;
        } else if (header == vh::routing_header) {
            if (request.lines.empty()) {
                std::string text = "ACK\n\n";
                appendRouting(text);
                sendTo(client, text);
                return;
            }
            std::vector<std::pair<int, int>> changes;
            for (const std::string& line : request.lines) {
                const auto item = vh::parseItem(line);
                const auto input =
                    item ? vh::parseNumber(item->rest, static_cast<int>(state_.inputLabels.size()) - 1) : std::nullopt;
                if (!input || item->index >= static_cast<int>(state_.routes.size())) {
                    sendTo(client, "NAK\n\n");
                    return;
                }
                changes.emplace_back(item->index, *input);
            }
            sendTo(client, "ACK\n\n");
            std::string pushed = std::string(vh::routing_header) + "\n";
            for (const auto& [output, input] : changes) {
                state_.routes[static_cast<std::size_t>(output)] = input + 1;
                pushed += std::to_string(output) + " " + std::to_string(input) + "\n";
            }
            sendToAll(pushed + "\n");
        } else if (header == vh::input_labels_header || header == vh::output_labels_header) {
            std::vector<std::string>& held = labels(header == vh::input_labels_header ? 0 : 1);
            if (request.lines.empty()) {
                std::string text = "ACK\n\n";
                appendLabels(text, header, held);
                sendTo(client, text);
                return;
            }
            for (const std::string& line : request.lines) {
                const auto item = vh::parseItem(line);
                if (!item || item->index >= static_cast<int>(held.size())) {
                    sendTo(client, "NAK\n\n");
                    return;
                }
            }
            sendTo(client, "ACK\n\n");
            std::string pushed = std::string(header) + "\n";
            for (const std::string& line : request.lines) {
                const auto item = vh::parseItem(line);
                held[static_cast<std::size_t>(item->index)] = std::string(item->rest);
                pushed += line + "\n";
            }
            sendToAll(pushed + "\n");
        } else {
            sendTo(client, "NAK\n\n");
        }
    }

    bool byteByByte_;
    std::map<connection*, vh::reader> readers_;
};

class fake_swp08 final : public fake_router, private sw::frame_sink {
public:
    fake_swp08(asio::io_context& io, router_state state, std::uint16_t port, int namesPerMessage)
        : fake_router(io, std::move(state), port), namesPerMessage_(namesPerMessage) {}

    void route(int destination, int source) override {
        state_.routes.at(static_cast<std::size_t>(destination - 1)) = source;
        if (!silent()) sendToAll(framed(sw::tallyMessage(at_, destination - 1, source - 1, true)));
    }

    void setLabel(int database, int index, const std::string& text) override {
        (database == 0 ? state_.inputLabels : state_.outputLabels).at(static_cast<std::size_t>(index - 1)) = text;
    }

private:
    static std::string framed(const std::vector<std::uint8_t>& data) {
        const std::vector<std::uint8_t> bytes = sw::frame(data);
        return std::string(bytes.begin(), bytes.end());
    }

    void onAccepted(connection& client) override { readers_[&client] = sw::frame_reader(); }

    // What the bytes of one read ask is answered in one write, as a
    // router's controller does: a write for each of 50,000 interrogates
    // would measure this fake, not the host.
    void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) override {
        current_ = &client;
        readers_[&client].feed(bytes, size, *this);
        current_ = nullptr;
        if (!answers_.empty()) sendTo(client, std::move(answers_));
        answers_.clear();
    }

    void onAck() override {}
    void onNak() override {}
    void onFrameProblem(sw::frame_problem problem) override {
        if (problem == sw::frame_problem::bad_checksum || problem == sw::frame_problem::bad_byte_count)
            answers_ += std::string{char(sw::dle), char(sw::nak)};
    }

    void onFrame(const std::vector<std::uint8_t>& data) override {
        answers_ += std::string{char(sw::dle), char(sw::ack)};
        if (const auto crosspoint = sw::decodeCrosspoint(data)) {
            const std::size_t destination = static_cast<std::size_t>(crosspoint->destination);
            if (crosspoint->at.matrix != at_.matrix || crosspoint->at.level != at_.level ||
                destination >= state_.routes.size())
                return;
            if (crosspoint->command == sw::interrogate) {
                ++keepAlivesAnswered_;
                answers_ += framed(sw::tallyMessage(at_, crosspoint->destination, state_.routes[destination] - 1, false));
            } else if (crosspoint->command == sw::connect &&
                       crosspoint->source < static_cast<int>(state_.inputLabels.size())) {
                // Its acknowledgement goes before the tally every client gets.
                sendTo(*current_, std::move(answers_));
                answers_.clear();
                route(crosspoint->destination + 1, crosspoint->source + 1);
            }
        } else if (const auto request = sw::decodeNamesRequest(data)) {
            if (namesPerMessage_ == names_never_answered) return;
            const std::vector<std::string>& names = request->sources ? state_.inputLabels : state_.outputLabels;
            const int fit = sw::namesPerMessage(request->nameLength);
            const int per = namesPerMessage_ == names_as_many_as_fit ? fit : std::min(namesPerMessage_, fit);
            // As many as fit: a short (or empty) last message tells the
            // client it has all. Fewer to a message: nothing tells it.
            const int last = namesPerMessage_ == names_as_many_as_fit ? static_cast<int>(names.size())
                                                                      : static_cast<int>(names.size()) - 1;
            for (int first = 0; first <= last; first += per) {
                const auto begin = names.begin() + first;
                const auto end = names.begin() + std::min<int>(first + per, static_cast<int>(names.size()));
                answers_ += framed(sw::namesMessage(request->sources, at_, request->nameLength, first,
                                                    std::vector<std::string>(begin, end)));
            }
        }
    }

    const sw::address at_{0, 0};
    const int namesPerMessage_;
    std::map<connection*, sw::frame_reader> readers_;
    connection* current_ = nullptr;
    std::string answers_;  // to current_, written once its bytes are read
};

}  // namespace

std::unique_ptr<fake_router> makeFakeVideohub(asio::io_context& io, router_state state, bool preludeByteByByte,
                                              std::uint16_t port, const std::string& address) {
    return std::make_unique<fake_videohub>(io, std::move(state), preludeByteByByte, port, address);
}

std::unique_ptr<fake_router> makeFakeSwp08(asio::io_context& io, router_state state, std::uint16_t port,
                                           int namesPerMessage) {
    return std::make_unique<fake_swp08>(io, std::move(state), port, namesPerMessage);
}

}  // namespace quon::fake
