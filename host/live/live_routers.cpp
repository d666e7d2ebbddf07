#include "quon/live/live_routers.h"

#include <algorithm>
#include <map>
#include <set>

#include "quon/common/decimal.h"
#include "quon/common/endpoint.h"
#include "quon/links/emberplus_client.h"
#include "quon/links/router_link.h"

namespace quon {

namespace {

namespace asio = boost::asio;

// Reads "host:port", "[v6]:port" or a bare host (the protocol's port).
bool parseAddress(const std::string& text, std::string& host, uint16_t& port, std::string& error) {
    endpoint_text where;
    if (!parseEndpoint(text, where, error)) {
        error = "Address=" + text + ": " + error;
        return false;
    }
    if (where.host.empty()) {
        error = "Address=" + text + ": no host";
        return false;
    }
    if (where.port && *where.port == 0) {
        error = "Address=" + text + ": the port is a number from 1 to 65535";
        return false;
    }
    host = where.host;
    if (where.port) port = *where.port;
    return true;
}

bool readNumber(const router_description& d, const char* key, long long low, long long high, long long& out,
                std::string& error) {
    const auto value = d.settings.find(key);
    if (value == d.settings.end()) return true;
    if (parseDecimal(value->second, low, high, out)) return true;
    error = d.place(key) + "[Router] " + d.spelling(key) + "=" + value->second + ": a whole number from " +
            std::to_string(low) + " to " + std::to_string(high);
    return false;
}

// Each error begins with the device file's path and the line of its key.
bool readSettings(const router_description& d, links::link_settings& s, std::string& error) {
    const auto address = d.settings.find("address");
    if (address == d.settings.end()) {
        error = d.place("protocol") + "Protocol=" + d.protocol + " needs Address=host:port in [Router]";
        return false;
    }
    if (!parseAddress(address->second, s.host, s.port, error)) {
        error = d.place("address") + error;
        return false;
    }
    if (d.protocol == "emberplus") {
        // Ember+ names its matrix by a path, not a number.
        const auto path = d.settings.find("matrix");
        if (path != d.settings.end()) {
            links::emberplus_matrix_path parsed;
            if (!links::parseMatrixPath(path->second, parsed, error)) {
                error = d.place("matrix") + "[Router] " + error;
                return false;
            }
            s.matrixPath = path->second;
        }
    }
    long long matrix = 0, level = 0;
    if ((d.protocol != "emberplus" && !readNumber(d, "matrix", 0, 15, matrix, error)) ||
        !readNumber(d, "level", 0, 15, level, error))
        return false;
    // The wire numbers matrix and level from 0; the link from 1.
    s.matrix = static_cast<int>(matrix) + 1;
    s.level = static_cast<int>(level) + 1;
    const struct {
        const char* key;
        std::chrono::milliseconds* field;
    } timings[] = {{"connecttimeout", &s.connectTimeout}, {"keepalive", &s.keepAliveInterval},
                   {"silence", &s.silenceLimit},          {"retryfirst", &s.backOffFirst},
                   {"retrycap", &s.backOffCap},           {"resync", &s.resyncInterval},
                   {"answerwait", &s.answerWait}};
    for (const auto& t : timings) {
        long long ms = t.field->count();
        if (!readNumber(d, t.key, 1, 3600000, ms, error)) return false;
        *t.field = std::chrono::milliseconds(ms);
    }
    long long nameLength = s.nameLength;
    if (!readNumber(d, "namelength", 4, 12, nameLength, error)) return false;
    if (nameLength % 4 != 0) {
        error = d.place("namelength") + "[Router] " + d.spelling("namelength") + "=" + d.settings.at("namelength") +
                ": 4, 8 or 12";
        return false;
    }
    s.nameLength = static_cast<int>(nameLength);
    // What the components use wins over what the router's names suggest.
    const auto sources = d.databaseSizes.find(0);
    s.sources = sources == d.databaseSizes.end() ? 0 : std::max(sources->second, 0);
    s.destinations = d.destinations();
    return true;
}

// A router reached over the network, through a link of its protocol.
class network_router : public router_backend, private links::router_link_listener {
public:
    using link_maker = std::unique_ptr<links::router_link> (*)(asio::io_context&, const links::link_settings&,
                                                               links::router_link_listener&);

    network_router(const router_description& d, router_events& events, asio::io_context& loop,
                   const links::link_settings& settings, link_maker make)
        : device_(d.device),
          destinations_(d.destinations()),
          where_(settings.host + ":" + std::to_string(settings.port)),
          events_(events),
          link_(make(loop, settings, *this)) {
        status_.state = router_state::connecting;
        status_.detail = d.protocol + " " + where_;
    }

    router_status status() const override { return status_; }
    int destinations() const override { return destinations_; }

    void poll(int first, int last, uint64_t requester) override {
        if (!link_->up()) return;  // the component's retry timer polls again
        first = std::max(first, 1);
        last = std::min(last, destinations_);
        if (first > last) return;
        for (int d = first; d <= last; ++d) pollers_[d].insert(requester);
        link_->poll(first, last);
    }

    const std::string* name(int database, int index) const override { return link_->label(database, index); }
    int crosspoint(int destination) const override { return link_->source(destination).value_or(0); }

    bool route(int destination, int source, std::string& error) override {
        if (link_->requestRoute(destination, source)) return true;
        error = link_->up() ? "router " + std::to_string(device_) + " cannot take source " + std::to_string(source) +
                                  " to destination " + std::to_string(destination)
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
    void start() override { link_->start(); }
    void stop() override { link_->stop(); }

private:
    void linkUp(int, int destinations) override {
        everUp_ = true;
        status_.state = router_state::connected;
        status_.size = destinations;
        status_.detail = where_;
        if (destinations > 0 && destinations != destinations_)
            events_.routerWarning(device_, "reports " + std::to_string(destinations) +
                                               " destinations; the device file says " + std::to_string(destinations_) +
                                               " (DatabaseSize_1), which is what components use");
        events_.statusChanged(device_);
    }
    void linkDown(const std::string& why, std::chrono::milliseconds retryIn) override {
        pollers_.clear();
        status_.state = router_state::lost;
        status_.missing.clear();
        const long long seconds = (retryIn.count() + 999) / 1000;
        status_.detail = why + "; retrying in " + std::to_string(seconds) + " s";
        events_.statusChanged(device_);
    }
    void crosspoint(int destination, int source) override {
        if (destination < 1 || destination > destinations_) return;
        const auto known = routed_.find(destination);
        const bool changed = known == routed_.end() || known->second != source;
        routed_[destination] = source;
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
    // up, linkUp() shows it with the rest.
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
    std::map<int, int> routed_;                   // what components were last told
    std::map<int, std::set<uint64_t>> pollers_;   // destination -> components waiting for it
    std::unique_ptr<links::router_link> link_;    // last: it calls back into the members above
};

router_factory factoryOf(asio::io_context& loop, network_router::link_maker make, uint16_t defaultPort) {
    return [&loop, make, defaultPort](const router_description& d, router_events& events,
                                      std::string& error) -> std::unique_ptr<router_backend> {
        links::link_settings settings;
        if (!readSettings(d, settings, error)) return nullptr;
        if (settings.port == 0) settings.port = defaultPort;
        return std::make_unique<network_router>(d, events, loop, settings, make);
    };
}

}  // namespace

void addLiveRouters(router_registry& registry, asio::io_context& loop) {
    const std::vector<std::string> timings = {"ConnectTimeout", "KeepAlive", "Silence", "RetryFirst",
                                              "RetryCap",       "Resync",    "AnswerWait"};
    std::vector<std::string> videohub = {"Address"};
    videohub.insert(videohub.end(), timings.begin(), timings.end());
    std::vector<std::string> swp08 = {"Address", "Matrix", "Level", "NameLength"};
    swp08.insert(swp08.end(), timings.begin(), timings.end());
    registry.add("videohub", factoryOf(loop, &links::makeVideohubLink, 9990), videohub);
    registry.add("swp08", factoryOf(loop, &links::makeSwp08Link, 8910), swp08);
    std::vector<std::string> emberplus = {"Address", "Matrix"};
    emberplus.insert(emberplus.end(), timings.begin(), timings.end());
    registry.add("emberplus", factoryOf(loop, &links::makeEmberplusLink, 9000), emberplus);
}

}  // namespace quon
