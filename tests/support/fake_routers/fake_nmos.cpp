// A fake NMOS registry: its Query API over HTTP/1.1 on the router's port,
// its subscriptions' WebSockets on a port of their own, and one media node
// whose senders are the state's inputs and receivers its outputs, receiver
// d taking sender routes[d - 1] (none for 0). What it does is what a
// registry in use does on the wire (fake_routers.h says it item by item),
// so that the client meets here what it meets in a facility.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "fake_routers.h"
#include "nmos_registry_text.h"
#include "quon/routers/nmos/nmos_wire.h"

namespace quon::fake {

namespace {

using namespace quon::test::nmos;
namespace wire = quon::routers::nmos;
using steady = std::chrono::steady_clock;

constexpr std::size_t grain_items = 10;  // changes to a grain, at most
constexpr std::size_t default_page = 10;
constexpr std::chrono::seconds subscription_linger{5};
const char* const registry_node_id = "a0000000-0000-4000-8000-000000000001";
const char* const media_node_id = "a0000000-0000-4000-8000-000000000002";
const char* const sides[] = {"/senders", "/receivers"};

// TAI "seconds:nanoseconds".
struct tai {
    std::uint64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    bool operator<(const tai& other) const {
        return seconds != other.seconds ? seconds < other.seconds : nanoseconds < other.nanoseconds;
    }
    std::string text() const { return std::to_string(seconds) + ":" + std::to_string(nanoseconds); }
};

std::optional<tai> readTai(std::string text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 10) return {};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != colon && (text[i] < '0' || text[i] > '9')) return {};
    return tai{std::stoull(text.substr(0, colon)), static_cast<std::uint32_t>(std::stoul(text.substr(colon + 1)))};
}

// The value of `name=` in a query string ("?a=1&b=2"), ':' as sent or as %3A.
std::optional<std::string> queryValue(const std::string& query, const std::string& name) {
    std::size_t at = 0;
    while (at < query.size()) {
        const std::size_t start = at + 1;
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        if (pair.rfind(name + "=", 0) == 0) {
            std::string value = pair.substr(name.size() + 1);
            for (const char* escaped : {"%3A", "%3a"})
                for (std::size_t e = value.find(escaped); e != std::string::npos; e = value.find(escaped))
                    value.replace(e, 3, ":");
            return value;
        }
        at = end;
    }
    return {};
}

class fake_nmos final : public fake_nmos_registry {
public:
    fake_nmos(boost::asio::io_context& io, router_state state, std::uint16_t port, std::size_t pageCap,
              std::chrono::milliseconds nodeReturn)
        : fake_nmos_registry(io, std::move(state), port),
          io_(io),
          pageCap_(pageCap),
          nodeReturn_(nodeReturn),
          nodeTimer_(io) {
        webSocketPort_ = listenAlso(0);
        advertised_ = webSocketPort_;
        // TAI is 37 s ahead of UTC.
        clock_.seconds = static_cast<std::uint64_t>(std::time(nullptr)) + 37;
        registryCreated_ = stamp();
        registerNode(false);
    }

    ~fake_nmos() override { life_.reset(); }

    void advertiseWebSocketsAt(std::uint16_t port) override { advertised_ = port; }

    void deactivate(int destination) override {
        const json pre = receiverAt(destination);
        active_.at(static_cast<std::size_t>(destination - 1)) = false;
        changed(1, destination, pre);
    }

    void remove(int destination) override {
        const std::size_t i = static_cast<std::size_t>(destination - 1);
        if (!registered_ || !present_.at(i)) return;
        queue(1, receiverAt(destination), nullptr);
        present_[i] = false;
    }

    void dropSendersSockets() override {
        std::vector<connection*> ending;
        for (auto& [client, c] : clients_)
            if (c.socket && c.side == 0) ending.push_back(client);
        for (connection* client : ending) closeClient(*client);
    }

    void route(int destination, int source) override {
        const std::size_t i = static_cast<std::size_t>(destination - 1);
        const json pre = receiverAt(destination);
        state_.routes.at(i) = source;
        active_[i] = source > 0;
        changed(1, destination, pre);
    }

    void setLabel(int database, int index, const std::string& text) override {
        const int side = database == 0 ? 0 : 1;
        const json pre = resourceAt(side, index);
        (side == 0 ? state_.inputLabels : state_.outputLabels).at(static_cast<std::size_t>(index - 1)) = text;
        changed(side, index, pre);
    }

    void restart(router_state state) override {
        forgetEverything();
        state_ = std::move(state);
        active_.clear();
        present_.clear();
        registerNode(false);
    }

    void restartRegistry() override {
        forgetEverything();
        nodeTimer_.expires_after(nodeReturn_);
        nodeTimer_.async_wait([this, life = std::weak_ptr<bool>(life_)](const boost::system::error_code& error) {
            if (!error && !life.expired()) registerNode(true);
        });
    }

    void expireNode() override {
        if (!registered_) return;
        for (int side : {0, 1})
            for (int n = 1; n <= count(side); ++n)
                if (listed(side, n)) queue(side, resourceAt(side, n), nullptr);
        registered_ = false;
    }

    void restartNode() override {
        std::fill(state_.routes.begin(), state_.routes.end(), 0);
        std::fill(active_.begin(), active_.end(), false);
        if (!registered_) {
            registerNode(true);
            return;
        }
        for (int side : {0, 1})
            for (int n = 1; n <= count(side); ++n) {
                const json pre = resourceAt(side, n);
                stamps_[side][static_cast<std::size_t>(n - 1)].updated = stamp();
                if (listed(side, n)) queue(side, pre, resourceAt(side, n));
            }
    }

    void sendChangesAtOnce() override { rateHonoured_ = false; }

    int subscriptions() const override {
        int held = 0;
        for (const auto& [id, s] : subscriptions_) held += lingering(s) ? 0 : 1;
        return held;
    }

private:
    struct stamps {
        tai created, updated;
    };
    struct subscription {
        json body;
        std::string asked;  // what the POST asked, to know an identical one
        int side = 0;
        int sockets = 0;
        steady::time_point idleSince;
    };
    struct client_state {
        std::uint64_t serial = 0;
        std::string in;
        bool socket = false;
        std::string subscription;
        int side = 0;  // what its WebSocket follows
        std::chrono::milliseconds rate{0};
        wire::frame_reader frames{1 << 20};
        std::vector<json> pending;  // changes not yet sent, one per resource
        steady::time_point lastGrain{};
        std::unique_ptr<boost::asio::steady_timer> flush;
        bool flushArmed = false;
    };

    tai stamp() {
        clock_.nanoseconds += 1000;
        if (clock_.nanoseconds >= 1000000000u) {
            clock_.nanoseconds -= 1000000000u;
            ++clock_.seconds;
        }
        return clock_;
    }

    int count(int side) const {
        return static_cast<int>(side == 0 ? state_.inputLabels.size() : state_.outputLabels.size());
    }
    bool listed(int side, int n) const {
        return registered_ && (side == 0 || present_[static_cast<std::size_t>(n - 1)]);
    }

    json resourceAt(int side, int n) const {
        const std::size_t i = static_cast<std::size_t>(n - 1);
        json r = side == 0 ? sender(n, state_.inputLabels.at(i))
                           : receiver(n, state_.outputLabels.at(i), state_.routes.at(i), active_.at(i));
        r["version"] = stamps_[side].at(i).updated.text();
        if (side == 0) {
            // Event senders (IS-07) and a transport of no AMWA list beside RTP.
            if (n % 4 == 3) r["transport"] = "urn:x-nmos:transport:websocket";
            if (n % 4 == 0) r["transport"] = "urn:x-fakevendor:transport:srt";
        } else if (n % 4 == 0) {
            r["format"] = "urn:x-nmos:format:mux";
        }
        return r;
    }
    json receiverAt(int d) const { return resourceAt(1, d); }

    json nodeJson(bool registry, const tai& version) const {
        const std::string href = "http://127.0.0.1:" + std::to_string(port()) + "/";
        json services = json::array();
        if (registry)
            for (const char* type : {"urn:x-dns-sd/_nmos-query._tcp", "urn:x-dns-sd/_nmos-register._tcp"})
                services.push_back({{"href", href + "x-nmos/"}, {"type", type}});
        return {{"id", registry ? registry_node_id : media_node_id},
                {"label", registry ? "registry" : "media node"},
                {"description", ""},
                {"tags", json::object()},
                {"version", version.text()},
                {"href", href},
                {"hostname", "localhost"},
                {"caps", json::object()},
                {"api",
                 {{"versions", json::array({"v1.0", "v1.1", "v1.2", "v1.3"})},
                  {"endpoints", json::array({{{"host", "127.0.0.1"}, {"port", port()}, {"protocol", "http"}}})}}},
                {"services", services},
                {"clocks", json::array()},
                {"interfaces", json::array()}};
    }

    // Every sender and receiver of the state (but those removed), stamped
    // afresh; with `announce`, an addition to each WebSocket.
    void registerNode(bool announce) {
        stamps_[0].resize(state_.inputLabels.size());
        stamps_[1].resize(state_.outputLabels.size());
        active_.resize(state_.routes.size(), true);
        present_.resize(state_.routes.size(), true);
        registered_ = true;
        nodeStamps_.created = nodeStamps_.updated = stamp();
        for (int side : {0, 1})
            for (int n = 1; n <= count(side); ++n) {
                stamps& s = stamps_[side][static_cast<std::size_t>(n - 1)];
                s.created = s.updated = stamp();
                if (announce) queue(side, nullptr, resourceAt(side, n));
            }
    }

    // Clients dropped, subscriptions and the node forgotten, as by a
    // restarted registry.
    void forgetEverything() {
        nodeTimer_.cancel();
        dropConnections();
        subscriptions_.clear();
        registered_ = false;
        registryCreated_ = stamp();
    }

    // Resource n of `side` changed from `pre`: a new version, pushed.
    void changed(int side, int n, const json& pre) {
        stamps_[side].at(static_cast<std::size_t>(n - 1)).updated = stamp();
        if (listed(side, n)) queue(side, pre, resourceAt(side, n));
    }

    // A change to every WebSocket following `side`, merged with what waits
    // for it there: the first pre, the last post.
    void queue(int side, const json& pre, const json& post) {
        // Silent, it pushes nothing: what changed meanwhile is lost.
        if (silent()) return;
        const json id = (post.is_null() ? pre : post)["id"];
        for (auto& [client, c] : clients_) {
            if (!c.socket || c.side != side) continue;
            auto held = std::find_if(c.pending.begin(), c.pending.end(),
                                     [&id](const json& change) { return change["path"] == id; });
            if (held == c.pending.end()) {
                c.pending.push_back(change(pre, post));
            } else {
                const json first = held->contains("pre") ? (*held)["pre"] : json(nullptr);
                if (first.is_null() && post.is_null())
                    c.pending.erase(held);
                else
                    *held = change(first, post);
            }
            schedule(*client, c);
        }
    }

    // Sends what waits once a max_update_rate_ms has passed since the last
    // grain, after whatever else the present handler queues.
    void schedule(connection& client, client_state& c) {
        if (c.flushArmed) return;
        c.flushArmed = true;
        c.flush->expires_at(rateHonoured_ ? std::max(steady::now(), c.lastGrain + c.rate) : steady::now());
        c.flush->async_wait([this, life = std::weak_ptr<bool>(life_), target = &client,
                             serial = c.serial](const boost::system::error_code& error) {
            if (error || life.expired()) return;
            const auto found = clients_.find(target);
            if (found == clients_.end() || found->second.serial != serial) return;
            client_state& s = found->second;
            s.flushArmed = false;
            std::vector<json> changes;
            changes.swap(s.pending);
            if (changes.empty() || silent()) return;
            s.lastGrain = steady::now();
            sendGrains(*target, s, changes);
        });
    }

    // `changes` in grains of at most grain_items; an empty list as one.
    void sendGrains(connection& client, const client_state& c, const std::vector<json>& changes) {
        std::size_t at = 0;
        do {
            json data = json::array();
            for (; at < changes.size() && data.size() < grain_items; ++at) data.push_back(changes[at]);
            sendTo(client, grain(std::string(sides[c.side]) + "/", data, c.subscription, stamp().text()));
        } while (at < changes.size());
    }

    bool lingering(const subscription& s) const {
        return s.sockets == 0 && steady::now() - s.idleSince > subscription_linger;
    }
    void sweep() {
        for (auto it = subscriptions_.begin(); it != subscriptions_.end();)
            it = lingering(it->second) ? subscriptions_.erase(it) : std::next(it);
    }

    void onAccepted(connection& client) override {
        client_state& c = clients_[&client];
        c.serial = ++serials_;
        c.flush = std::make_unique<boost::asio::steady_timer>(io_);
    }
    void onClosed(const connection* client) override {
        const auto found = clients_.find(const_cast<connection*>(client));
        if (found == clients_.end()) return;
        if (found->second.socket) {
            const auto held = subscriptions_.find(found->second.subscription);
            if (held != subscriptions_.end() && --held->second.sockets == 0) held->second.idleSince = steady::now();
        }
        clients_.erase(found);
    }

    void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) override {
        client_state& c = clients_[&client];
        const std::string_view piece(reinterpret_cast<const char*>(bytes), size);
        if (c.socket) {
            c.frames.feed(piece);
            while (auto e = c.frames.next()) {
                if (e->what == wire::frame_reader::event::kind::ping) {
                    ++keepAlivesAnswered_;
                    sendTo(client, serverFrame(10, e->payload));
                } else if (e->what != wire::frame_reader::event::kind::message &&
                           e->what != wire::frame_reader::event::kind::pong) {
                    closeClient(client);
                    return;
                }
            }
            return;
        }
        c.in.append(piece);
        for (;;) {
            const std::size_t end = c.in.find("\r\n\r\n");
            if (end == std::string::npos) return;
            const std::string head = c.in.substr(0, end + 2);
            std::size_t length = 0;
            const std::size_t at = head.find("Content-Length: ");
            if (at != std::string::npos) length = std::stoul(head.substr(at + 16));
            if (c.in.size() < end + 4 + length) return;
            const std::string body = c.in.substr(end + 4, length);
            c.in.erase(0, end + 4 + length);
            if (portOf(client) == webSocketPort_)
                openWebSocket(client, c, head);
            else
                answer(client, head, body);
            if (c.socket) return;
        }
    }

    struct request_line {
        std::string method, path, query, base;  // base: "/x-nmos/query/v1.3", or empty
    };
    static request_line readRequestLine(const std::string& head) {
        request_line r;
        r.method = head.substr(0, head.find(' '));
        const std::string target =
            head.substr(r.method.size() + 1, head.find(' ', r.method.size() + 1) - r.method.size() - 1);
        r.path = target.substr(0, target.find('?'));
        r.query = target.find('?') == std::string::npos ? "" : target.substr(target.find('?'));
        const std::string api = "/x-nmos/query/v1.";
        if (r.path.rfind(api, 0) == 0 && r.path.size() > api.size() && r.path[api.size()] >= '0' &&
            r.path[api.size()] <= '3' && (r.path.size() == api.size() + 1 || r.path[api.size() + 1] == '/'))
            r.base = r.path.substr(0, api.size() + 1);
        return r;
    }
    // The subscription id a path names ("<base>/subscriptions/ID"), or empty.
    static std::string subscriptionIn(const request_line& r) {
        const std::string prefix = r.base + "/subscriptions/";
        if (r.base.empty() || r.path.rfind(prefix, 0) != 0 || r.path.size() == prefix.size()) return "";
        return r.path.substr(prefix.size());
    }

    void openWebSocket(connection& client, client_state& c, const std::string& head) {
        const request_line r = readRequestLine(head);
        const std::size_t keyAt = head.find("Sec-WebSocket-Key: ");
        if (r.method != "GET" || keyAt == std::string::npos || head.find("Upgrade: websocket") == std::string::npos) {
            sendTo(client, httpAnswer(400, R"({"code":400,"error":"WebSocket upgrades only here","debug":null})"));
            return;
        }
        sweep();
        const auto held = subscriptions_.find(subscriptionIn(r));
        if (held == subscriptions_.end()) {
            sendTo(client, httpAnswer(404, R"({"code":404,"error":"no such subscription","debug":null})"));
            return;
        }
        const std::string key = head.substr(keyAt + 19, head.find("\r\n", keyAt) - keyAt - 19);
        sendTo(client,
               "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Accept: " +
                   wire::webSocketAccept(key) + "\r\n\r\n");
        c.socket = true;
        c.subscription = held->first;
        c.side = held->second.side;
        c.rate = std::chrono::milliseconds(held->second.body.value("max_update_rate_ms", 100));
        ++held->second.sockets;
        std::vector<json> sync;
        for (int n = 1; n <= count(c.side); ++n)
            if (listed(c.side, n)) {
                const json resource = resourceAt(c.side, n);
                sync.push_back(change(resource, resource));
            }
        c.lastGrain = steady::now();
        sendGrains(client, c, sync);
    }

    void answer(connection& client, const std::string& head, const std::string& body) {
        const request_line r = readRequestLine(head);
        const std::string& path = r.path;
        const std::string& base = r.base;
        if (r.method == "GET" && path == "/x-nmos/query/") {
            sendTo(client, httpAnswer(200, R"(["v1.0/","v1.1/","v1.2/","v1.3/"])"));
        } else if (r.method == "POST" && !base.empty() && path == base + "/subscriptions") {
            subscribe(client, base, body);
        } else if (r.method == "GET" && !base.empty() &&
                   (path == base + "/subscriptions" || path == base + "/subscriptions/")) {
            sweep();
            json list = json::array();
            for (const auto& [id, s] : subscriptions_) list.push_back(s.body);
            sendTo(client, httpAnswer(200, list.dump()));
        } else if (r.method == "GET" && !subscriptionIn(r).empty()) {
            // An upgrade asked of this port is answered as the GET it also is.
            sweep();
            const auto held = subscriptions_.find(subscriptionIn(r));
            sendTo(client, held == subscriptions_.end()
                               ? httpAnswer(404, R"({"code":404,"error":"no such subscription","debug":null})")
                               : httpAnswer(200, held->second.body.dump()));
        } else if (r.method == "GET" && !base.empty() && listAt(path, base) >= 0) {
            sendPage(client, r, listAt(path, base));
        } else {
            sendTo(client, httpAnswer(404, R"({"code":404,"error":"not here","debug":null})"));
        }
    }

    // 0 senders, 1 receivers, 2 nodes; -1 for another path.
    static int listAt(const std::string& path, const std::string& base) {
        const char* const names[] = {"/senders", "/receivers", "/nodes"};
        for (int i = 0; i < 3; ++i)
            if (path == base + names[i] || path == base + names[i] + "/") return i;
        return -1;
    }

    void subscribe(connection& client, const std::string& base, const std::string& body) {
        const json request = json::parse(body, nullptr, false);
        const std::string resourcePath = request.is_object() ? request.value("resource_path", "") : "";
        const int side = resourcePath == "/senders" ? 0 : resourcePath == "/receivers" ? 1 : -1;
        if (side < 0) {
            sendTo(client, httpAnswer(400, R"({"code":400,"error":"only /receivers and /senders here","debug":null})"));
            return;
        }
        const json asked = {{"resource_path", resourcePath},
                            {"params", request.value("params", json::object())},
                            {"max_update_rate_ms", request.value("max_update_rate_ms", 100)},
                            {"persist", request.value("persist", false)},
                            {"secure", request.value("secure", false)},
                            {"version", base}};
        sweep();
        for (auto& [id, s] : subscriptions_)
            if (s.asked == asked.dump()) {
                if (s.sockets == 0) s.idleSince = steady::now();
                sendTo(client, httpAnswer(200, s.body.dump()));
                return;
            }
        char id[40];
        std::snprintf(id, sizeof id, "5b000000-0000-4000-8000-%012d", ++subscriptionCount_);
        const std::string where = base + "/subscriptions/" + id;
        subscription& made = subscriptions_[id];
        made.body = {{"id", id},
                     {"ws_href", std::string(asked["secure"].get<bool>() ? "wss" : "ws") +
                                     "://127.0.0.1:" + std::to_string(advertised_) + where},
                     {"max_update_rate_ms", asked["max_update_rate_ms"]},
                     {"persist", false},
                     {"secure", asked["secure"]},
                     {"resource_path", resourcePath},
                     {"params", asked["params"]},
                     {"authorization", false}};
        made.asked = asked.dump();
        made.side = side;
        made.idleSince = steady::now();
        sendTo(client, httpAnswer(201, made.body.dump(), {{"Location", where}}));
    }

    // A page of senders, receivers or nodes: `paging.order` by update
    // (unless create), within (since, until]; with a since alone the oldest
    // of it, else the newest; newest first.
    void sendPage(connection& client, const request_line& r, int list) {
        const auto bad = [&](const std::string& why) {
            sendTo(client, httpAnswer(400, json{{"code", 400}, {"error", why}, {"debug", nullptr}}.dump()));
        };
        const bool byCreation = queryValue(r.query, "paging.order") == std::optional<std::string>("create");
        std::optional<tai> since, until;
        if (const auto text = queryValue(r.query, "paging.since"); text && !(since = readTai(*text)))
            return bad("paging.since is not seconds:nanoseconds");
        if (const auto text = queryValue(r.query, "paging.until"); text && !(until = readTai(*text)))
            return bad("paging.until is not seconds:nanoseconds");
        std::size_t limit = default_page;
        if (const auto text = queryValue(r.query, "paging.limit")) {
            if (text->empty() || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(*text) == 0)
                return bad("paging.limit is not a whole number above 0");
            limit = std::stoul(*text);
        }
        limit = std::min(limit, pageCap_);
        // (key, number): number 0 is the registry's node, 1 the media node.
        std::vector<std::pair<tai, int>> keyed;
        const auto consider = [&](const stamps& s, int number) {
            const tai key = byCreation ? s.created : s.updated;
            if ((!since || *since < key) && (!until || !(*until < key))) keyed.emplace_back(key, number);
        };
        if (list == 2) {
            consider({registryCreated_, registryCreated_}, 0);
            if (registered_) consider(nodeStamps_, 1);
        } else {
            for (int n = 1; n <= count(list); ++n)
                if (listed(list, n)) consider(stamps_[list][static_cast<std::size_t>(n - 1)], n);
        }
        std::sort(keyed.begin(), keyed.end());
        const tai now = clock_;
        tai pageSince = since.value_or(tai{}), pageUntil = until.value_or(now);
        std::vector<std::pair<tai, int>> chosen;
        if (since && !until) {
            chosen.assign(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(std::min(limit, keyed.size())));
            if (chosen.size() == limit) pageUntil = chosen.back().first;
        } else {
            const std::size_t skip = keyed.size() > limit ? keyed.size() - limit : 0;
            chosen.assign(keyed.begin() + static_cast<std::ptrdiff_t>(skip), keyed.end());
            if (skip > 0) pageSince = keyed[skip - 1].first;
        }
        json items = json::array();
        for (auto it = chosen.rbegin(); it != chosen.rend(); ++it)
            items.push_back(list == 2 ? nodeJson(it->second == 0, it->first) : resourceAt(list, it->second));
        const std::string url = "http://127.0.0.1:" + std::to_string(port()) + r.path + "?" +
                                (byCreation ? "paging.order=create&" : "") + "paging.limit=" + std::to_string(limit);
        const std::string links = "<" + url + "&paging.until=" + pageSince.text() + ">; rel=\"prev\", <" + url +
                                  "&paging.since=" + pageUntil.text() + ">; rel=\"next\", <" + url +
                                  "&paging.since=0:0>; rel=\"first\", <" + url + ">; rel=\"last\"";
        sendTo(client, httpAnswer(200, items.dump(),
                                  {{"X-Paging-Limit", std::to_string(limit)},
                                   {"X-Paging-Since", pageSince.text()},
                                   {"X-Paging-Until", pageUntil.text()},
                                   {"Link", links}}));
    }

    boost::asio::io_context& io_;
    const std::size_t pageCap_;
    const std::chrono::milliseconds nodeReturn_;
    boost::asio::steady_timer nodeTimer_;
    std::shared_ptr<bool> life_ = std::make_shared<bool>(true);  // for the timers' handlers
    std::uint16_t advertised_ = 0;
    bool rateHonoured_ = true;
    tai clock_;
    tai registryCreated_;
    bool registered_ = false;  // the media node is in the registry
    stamps nodeStamps_;
    std::vector<stamps> stamps_[2];  // by side and number
    std::vector<bool> active_;       // by destination
    std::vector<bool> present_;      // by destination: removed ones are not listed
    std::map<connection*, client_state> clients_;
    std::uint64_t serials_ = 0;
    std::map<std::string, subscription> subscriptions_;
    int subscriptionCount_ = 0;
};

}  // namespace

std::unique_ptr<fake_nmos_registry> makeFakeNmos(boost::asio::io_context& io, router_state state, std::uint16_t port,
                                                 std::size_t pageCap, std::chrono::milliseconds nodeReturn) {
    return std::make_unique<fake_nmos>(io, std::move(state), port, pageCap, nodeReturn);
}

}  // namespace quon::fake
