// The sockets of one tally input: a UDP socket or a TCP acceptor with its
// senders, and the timer that takes the input down. Everything they read
// goes through tally_input.
#include "quon/tally/tally_listener.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <unistd.h>

#include <array>
#include <functional>
#include <list>

#include "quon/screens/tsl5/tsl5_packet.h"
#include "quon/tally/tally_input.h"
#include "quon/tcp/retry_backoff.h"

namespace quon::tally {

namespace asio = boost::asio;
using boost::system::error_code;
using clock = tally_input::clock;

class tally_listener::running : public std::enable_shared_from_this<running> {
public:
    running(asio::io_context& io, tally_input_config config, on_changes changes, on_state state, on_log log)
        : io_(io),
          input_(std::move(config)),
          udp_(io),
          acceptor_(io),
          timer_(io),
          retry_(io),
          backoff_(first_bind_retry, last_bind_retry,
                   static_cast<std::uint32_t>(std::hash<std::string>{}(input_.config().name))),
          changes_(std::move(changes)),
          state_(std::move(state)),
          log_(std::move(log)) {}

    // Opens and binds where the input listens, reading nothing yet.
    bool bind(std::string& error) {
        const tally_input_config& c = input_.config();
        error_code failure;
        const auto address = asio::ip::make_address(c.address, failure);
        const std::string where = listenText(c);
        const auto fail = [&](const char* what) {
            error = std::string("cannot ") + what + " " + where + ": " + failure.message();
            closeSockets();
            return false;
        };
        if (failure) return fail("listen on");
        if (c.wire == tally_wire::tsl5_tcp) {
            const asio::ip::tcp::endpoint at(address, c.port);
            if (acceptor_.open(at.protocol(), failure)) return fail("open");
            if (acceptor_.set_option(asio::socket_base::reuse_address(true), failure)) return fail("configure");
            if (acceptor_.bind(at, failure)) return fail("bind");
            if (acceptor_.listen(asio::socket_base::max_listen_connections, failure)) return fail("listen on");
        } else {
            const asio::ip::udp::endpoint at(address, c.port);
            if (udp_.open(at.protocol(), failure)) return fail("open");
            if (udp_.bind(at, failure)) return fail("bind");
        }
        return true;
    }

    bool listening() const { return udp_.is_open() || acceptor_.is_open(); }

    // The same transport, address and port; port 0 is never the same (each
    // bind of it gets a port of its own).
    bool listensAt(const tally_input_config& next) const {
        const tally_input_config& c = input_.config();
        if (!listening() || c.port == 0 || c.port != next.port ||
            (c.wire == tally_wire::tsl5_tcp) != (next.wire == tally_wire::tsl5_tcp))
            return false;
        error_code failure;
        const auto address = asio::ip::make_address(c.address, failure);
        if (failure) return false;
        const auto other = asio::ip::make_address(next.address, failure);
        return !failure && address == other;
    }

    // The socket of `from` becomes this input's: what is queued on it is
    // not lost, and no other program can take the port in between.
    bool take(running& from) {
        const tally_input_config& c = input_.config();
        if (listening() || !from.listensAt(c)) return false;
        error_code failure;
        const auto address = asio::ip::make_address(c.address, failure);
        if (c.wire == tally_wire::tsl5_tcp) {
            const int native = from.acceptor_.release(failure);
            if (failure) return false;
            acceptor_.assign(asio::ip::tcp::endpoint(address, c.port).protocol(), native, failure);
            if (failure) ::close(native);
        } else {
            const int native = from.udp_.release(failure);
            if (failure) return false;
            udp_.assign(asio::ip::udp::endpoint(address, c.port).protocol(), native, failure);
            if (failure) ::close(native);
        }
        return !failure;
    }

    bool start(std::string& error) {
        if (!listening() && !bind(error)) {
            problem_ = error;
            bindLater();
            return false;
        }
        run();
        return true;
    }

    void close() {
        closed_ = true;
        closeSockets();
        timer_.cancel();
        retry_.cancel();
    }

    tally_input_status status() const {
        tally_input_status s;
        const tally_input_config& c = input_.config();
        s.name = c.name;
        tally_input_config bound = c;
        error_code ignored;
        if (acceptor_.is_open()) bound.port = acceptor_.local_endpoint(ignored).port();
        if (udp_.is_open()) bound.port = udp_.local_endpoint(ignored).port();
        s.listen = listenText(bound);
        s.up = input_.up() && listening();
        s.problem = problem_;
        s.packets = input_.packets();
        s.unmapped = input_.unmapped();
        s.unreadable = input_.unreadable();
        s.lastPacket = lastPacket_;
        s.senders = senders_.size();
        s.refusedSenders = refusedSenders_;
        return s;
    }

    void adopt(const running& previous, std::vector<lit>& out) {
        input_.adopt(previous.input_, out);
        lastPacket_ = previous.lastPacket_;
    }

    const tally_input& input() const { return input_; }
    tally_input& input() { return input_; }

private:
    void run() {
        problem_.clear();
        backoff_.reset();
        if (acceptor_.is_open())
            accept();
        else
            receive();
        arm();  // an input that took over one that was up
        log_("tally input \"" + input_.config().name + "\" listens on " + status().listen);
    }

    // The port may be another program's for a while (a host being
    // replaced still holding it): binding is tried again, less and less
    // often, until it works.
    void bindLater() {
        const std::chrono::milliseconds wait = backoff_.next();
        log_("tally input \"" + input_.config().name + "\": " + problem_ + "; trying again in " +
             std::to_string(wait.count()) + " ms");
        retry_.expires_after(wait);
        retry_.async_wait([self = shared_from_this()](const error_code& e) {
            if (self->closed_ || e) return;
            std::string error;
            if (!self->bind(error)) {
                self->problem_ = error;
                return self->bindLater();
            }
            self->run();
            if (!self->closed_) self->state_(self->status());
        });
    }

    void closeSockets() {
        error_code ignored;
        udp_.close(ignored);
        acceptor_.close(ignored);
        for (sender& s : senders_) s.socket.close(ignored);
        senders_.clear();
    }

    struct sender {
        explicit sender(asio::io_context& io) : socket(io) {}
        asio::ip::tcp::socket socket;
        tsl5_stream_reader reader;
        std::array<char, 4096> buffer{};
        clock::time_point lastHeard = clock::now();
    };

    void receive() {
        udp_.async_receive_from(asio::buffer(datagram_), from_,
                                [self = shared_from_this()](const error_code& error, size_t size) {
                                    if (self->closed_) return;
                                    if (error == asio::error::operation_aborted) return;
                                    if (error) return self->retryAfter(error, &running::receive);
                                    input_report report;
                                    const uint64_t before = self->input_.packets();
                                    self->input_.packet(std::string_view(self->datagram_.data(), size),
                                                        clock::now(), report);
                                    self->handle(report, self->input_.packets() != before);
                                    if (!self->closed_) self->receive();
                                });
    }

    void accept() {
        acceptor_.async_accept([self = shared_from_this()](const error_code& error, asio::ip::tcp::socket socket) {
            if (self->closed_ || error == asio::error::operation_aborted) return;
            if (error) return self->retryAfter(error, &running::accept);
            self->admit(std::move(socket));
            if (!self->closed_) self->accept();
        });
    }

    // A socket that fails (out of file descriptors, say) is tried again a
    // second later rather than at once, so it cannot spin the loop.
    void retryAfter(const error_code& error, void (running::*again)()) {
        log_("tally input \"" + input_.config().name + "\": " + error.message() + "; trying again in 1 s");
        if (closed_) return;
        retry_.expires_after(std::chrono::seconds(1));
        retry_.async_wait([self = shared_from_this(), again](const error_code& e) {
            if (!self->closed_ && !e) ((*self).*again)();
        });
    }

    void admit(asio::ip::tcp::socket socket) {
        error_code ignored;
        if (senders_.size() >= max_tally_senders) {
            auto quietest = senders_.begin();
            for (auto s = senders_.begin(); s != senders_.end(); ++s)
                if (s->lastHeard < quietest->lastHeard) quietest = s;
            if (clock::now() - quietest->lastHeard < input_.config().timeout) {
                ++refusedSenders_;
                if (refusedSenders_ == 1 || refusedSenders_ % 100 == 0)
                    log_("tally input \"" + input_.config().name + "\": a sender refused, " +
                         std::to_string(max_tally_senders) + " are connected (" + std::to_string(refusedSenders_) +
                         " refused so far)");
                socket.close(ignored);
                return;
            }
            quietest->socket.close(ignored);  // its read ends and removes it
            quietest->lastHeard = clock::time_point::max();  // not chosen again
        }
        socket.set_option(asio::socket_base::keep_alive(true), ignored);
        senders_.emplace_back(io_);
        senders_.back().socket = std::move(socket);
        read(std::prev(senders_.end()));
    }

    void read(std::list<sender>::iterator s) {
        s->socket.async_read_some(asio::buffer(s->buffer),
                                  [self = shared_from_this(), s](const error_code& error, size_t size) {
                                      if (self->closed_) return;
                                      if (error) {
                                          self->senders_.erase(s);
                                          return;
                                      }
                                      // Heard when it sends a packet that is read, not any bytes: a
                                      // sender of noise does not hold its place.
                                      const clock::time_point now = clock::now();
                                      const uint64_t before = self->input_.packets();
                                      input_report report;
                                      self->input_.stream(s->reader, std::string_view(s->buffer.data(), size), now,
                                                          report);
                                      const bool read = self->input_.packets() != before;
                                      if (read) s->lastHeard = now;
                                      self->handle(report, read);
                                      if (!self->closed_) self->read(s);
                                  });
    }

    void arm() {
        const auto deadline = input_.deadline();
        if (!deadline || deadline == armed_) return;
        armed_ = deadline;
        timer_.expires_at(*deadline);
        timer_.async_wait([self = shared_from_this()](const error_code& error) {
            if (self->closed_ || error) return;
            self->armed_.reset();
            input_report report;
            self->input_.tick(clock::now(), report);
            self->handle(report);
        });
    }

    // Passes a report on; callbacks may destroy the listener, so nothing
    // of it is touched after one returns with it closed.
    void handle(const input_report& report, bool read = false) {
        if (read) lastPacket_ = std::chrono::system_clock::now();
        const auto self = shared_from_this();
        const std::string& name = input_.config().name;
        for (const std::string& warning : report.warnings) {
            log_("tally input \"" + name + "\": " + warning);
            if (closed_) return;
        }
        if (report.up) {
            const std::string how = input_.config().clearOnLoss ? "clearing its tallies" : "holding its tallies";
            log_(*report.up ? "tally input \"" + name + "\" is up"
                            : "tally input \"" + name + "\" is down: nothing read for " +
                                  std::to_string(input_.config().timeout.count()) + " ms (" + how + ")");
            if (closed_) return;
        }
        if (!report.changes.empty()) changes_(report.changes);
        if (closed_) return;
        // Every count the owner shows is pushed as it changes.
        const uint64_t counted = input_.packets() + input_.unmapped() + input_.unreadable();
        const bool recounted = counted != told_;
        told_ = counted;
        if (report.up || recounted) state_(status());
        if (closed_) return;
        arm();
    }

    asio::io_context& io_;
    tally_input input_;
    asio::ip::udp::socket udp_;
    asio::ip::udp::endpoint from_;
    std::array<char, max_tally_datagram> datagram_{};
    asio::ip::tcp::acceptor acceptor_;
    std::list<sender> senders_;
    uint64_t refusedSenders_ = 0;
    asio::steady_timer timer_;
    asio::steady_timer retry_;  // a failed socket, or a bind, tried again
    quon::tcp::retry_backoff backoff_;
    std::string problem_;  // why it does not listen; empty while it does
    std::optional<clock::time_point> armed_;
    bool closed_ = false;
    std::chrono::system_clock::time_point lastPacket_{};
    uint64_t told_ = 0;  // the counts' sum the state callback was last given
    on_changes changes_;
    on_state state_;
    on_log log_;
};

tally_listener::tally_listener(asio::io_context& io, tally_input_config config, on_changes changes, on_state state,
                               on_log log)
    : running_(std::make_shared<running>(io, std::move(config), std::move(changes), std::move(state),
                                         std::move(log))) {}

tally_listener::~tally_listener() { running_->close(); }

bool tally_listener::bind(std::string& error) { return running_->bind(error); }

bool tally_listener::takeSocket(tally_listener& previous) { return running_->take(*previous.running_); }

bool tally_listener::start(std::string& error) { return running_->start(error); }

void tally_listener::stop() { running_->close(); }

bool tally_listener::listening() const { return running_->listening(); }

bool tally_listener::listensAt(const tally_input_config& next) const { return running_->listensAt(next); }

void tally_listener::adopt(const tally_listener& previous, std::vector<lit>& out) {
    running_->adopt(*previous.running_, out);
}

const tally_input_config& tally_listener::config() const { return running_->input().config(); }

tally_input_status tally_listener::status() const { return running_->status(); }

std::vector<lit> tally_listener::lits() const { return running_->input().lits(); }

}  // namespace quon::tally
