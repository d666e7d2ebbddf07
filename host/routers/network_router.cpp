#include "network_router.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "quon/routers/router_connection.h"
#include "quon/routers/router_keys.h"

namespace quon::routers {

namespace {

namespace asio = boost::asio;

// A router reached over the network: one connection, carrying a client of
// its protocol; what the connection reports becomes the engine's events.
class network_router : public router_backend, private router_listener {
public:
    network_router(const router_description& d, router_events& events, asio::io_context& loop,
                   const router_settings& settings, std::unique_ptr<router_client> client)
        : device_(d.device),
          destinations_(d.destinations()),
          where_(settings.host + ":" + std::to_string(settings.port)),
          events_(events),
          connection_(connectOverTcp(loop, settings, *this, std::move(client))) {
        status_.state = router_state::connecting;
        status_.detail = d.protocol + " " + where_;
    }

    router_status status() const override { return status_; }
    int destinations() const override { return destinations_; }

    void poll(int first, int last, uint64_t requester) override {
        first = std::max(first, 1);
        last = std::min(last, destinations_);
        if (first > last) return;
        if (!connection_->up()) {
            // Answered once the router is up, from what it read by then.
            // The first read's crosspoints reach the components that watch
            // them, but one that came to watch after its destination was
            // read would otherwise wait for its retry timer (ten seconds
            // for Korvane): serve makes displays while the routers connect.
            waiting_.push_back(waiting_poll{first, last, requester});
            return;
        }
        // While up the link hears of every route the router makes, so what
        // it holds is the answer; only destinations it has not read yet are
        // asked of the router. (A wall's displays made after up would
        // otherwise each wait for a round trip.)
        int askFirst = 0, askLast = 0;
        for (int d = first; d <= last; ++d) {
            if (const std::optional<int> known = connection_->source(d)) {
                events_.revertive(device_, d, *known, requester);
                continue;
            }
            pollers_[d].insert(requester);
            if (!askFirst) askFirst = d;
            askLast = d;
        }
        if (askFirst) connection_->poll(askFirst, askLast);
    }

    const std::string* name(int database, int index) const override { return connection_->label(database, index); }
    int crosspoint(int destination) const override { return connection_->source(destination).value_or(0); }
    bool unread() const override { return connection_->unread(); }

    bool route(int destination, int source, std::string& error) override {
        if (connection_->requestRoute(destination, source)) return true;
        error = connection_->up() ? "router " + std::to_string(device_) + " cannot take source " +
                                        std::to_string(source) + " to destination " + std::to_string(destination)
                                  : "router " + std::to_string(device_) + " is not connected";
        return false;
    }
    bool rename(int, int, const std::string&, std::string& error) override {
        error = "the labels of a router on the network are changed on the router";
        return false;
    }
    bool setAnswers(bool, std::string& error) override {
        error = "a router on the network answers or not by itself";
        return false;
    }
    void start() override { connection_->start(); }
    void stop() override { connection_->stop(); }

private:
    void routerUp(int, int destinations) override {
        everUp_ = true;
        status_.state = router_state::connected;
        status_.size = destinations;
        status_.detail = where_;
        if (destinations > 0 && destinations != destinations_)
            events_.routerWarning(device_, "reports " + std::to_string(destinations) +
                                               " destinations; the device file says " + std::to_string(destinations_) +
                                               " (DatabaseSize_1), which is what components use");
        events_.statusChanged(device_);
        // What was read before up answers the polls made meanwhile; a
        // destination not read yet reaches its watchers when it is (some
        // protocols read the routes after up), or the component polls
        // again.
        std::vector<waiting_poll> waiting;
        waiting.swap(waiting_);
        for (const waiting_poll& w : waiting)
            for (int d = w.first; d <= w.last; ++d) {
                if (const std::optional<int> known = connection_->source(d))
                    events_.revertive(device_, d, *known, w.requester);
            }
    }
    void routerDown(const std::string& why, std::chrono::milliseconds retryIn) override {
        pollers_.clear();
        // The component's retry timer polls again.
        waiting_.clear();
        status_.state = router_state::lost;
        status_.missing.clear();
        const long long seconds = (retryIn.count() + 999) / 1000;
        status_.detail = why + "; retrying in " + std::to_string(seconds) + " s";
        events_.statusChanged(device_);
    }
    void crosspoint(int destination, int source, bool changed) override {
        if (destination < 1 || destination > destinations_) return;
        const auto pollers = pollers_.find(destination);
        if (pollers != pollers_.end()) {
            for (uint64_t requester : pollers->second) events_.revertive(device_, destination, source, requester);
            pollers_.erase(pollers);
        }
        if (changed) events_.revertive(device_, destination, source, 0);
    }
    void label(int database, int index, const std::string&) override {
        // Before the first connection no component has a name from this
        // router, and every crosspoint of the first read is news that makes
        // them ask; afterwards a label the router changes is news itself.
        if (everUp_) events_.nameChanged(device_, database, index);
    }
    void problem(const std::string& text) override { events_.routerWarning(device_, text); }
    // Said once (the log and the page's events), and held as the router's
    // state (the page's link and /healthz) until the connection ends. Before
    // up, routerUp() shows it with the rest.
    void missing(const std::string& text) override {
        events_.routerWarning(device_, text);
        status_.missing.push_back(text);
        if (status_.state == router_state::connected) events_.statusChanged(device_);
    }

    int device_;
    int destinations_;
    std::string where_;
    router_events& events_;
    router_status status_;
    bool everUp_ = false;
    std::map<int, std::set<uint64_t>> pollers_;      // destination -> components waiting for it
    struct waiting_poll {
        int first;
        int last;
        uint64_t requester;
    };
    std::vector<waiting_poll> waiting_;  // polls while the router was not up yet, in order
    std::unique_ptr<router_connection> connection_;  // last: it calls back into the members above
};

}  // namespace

router_factory networkRouter(asio::io_context& loop, protocol_descriptor protocol) {
    return [&loop, protocol = std::move(protocol)](const router_description& d, router_events& events,
                                                   std::string& error) -> std::unique_ptr<router_backend> {
        router_settings settings;
        std::unique_ptr<router_client> client = readRouterKeys(d, protocol, settings, error);
        if (!client) return nullptr;
        return std::make_unique<network_router>(d, events, loop, settings, std::move(client));
    };
}

}  // namespace quon::routers
