// A fake NMOS registry: its Query API (v1.2 and v1.3) over HTTP/1.1 and the
// WebSockets of subscriptions to /receivers and /senders. Senders are the state's
// inputs, receivers its outputs, receiver d taking sender routes[d - 1]
// (none for 0).
// As a registry may: pages of 3 (or another size) whatever is asked, one
// sync grain of every resource followed when a WebSocket opens, a
// subscription forgotten when its WebSocket closes (non-persistent).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

#include "fake_routers.h"
#include "nmos_registry_text.h"
#include "quon/routers/nmos/nmos_wire.h"

namespace quon::fake {

namespace {

using namespace quon::test::nmos;
namespace wire = quon::routers::nmos;

class fake_nmos final : public fake_nmos_registry {
public:
    fake_nmos(boost::asio::io_context& io, router_state state, std::uint16_t port, std::size_t pageSize)
        : fake_nmos_registry(io, std::move(state), port),
          pageSize_(pageSize),
          active_(state_.routes.size(), true),
          present_(state_.routes.size(), true) {}

    void deactivate(int destination) override {
        const json pre = receiverAt(destination);
        active_.at(static_cast<std::size_t>(destination - 1)) = false;
        push(pre, receiverAt(destination));
    }

    void remove(int destination) override {
        const json pre = receiverAt(destination);
        present_.at(static_cast<std::size_t>(destination - 1)) = false;
        push(pre, nullptr);
    }

    void dropSendersSockets() override {
        std::vector<connection*> ending;
        for (auto& [client, c] : clients_)
            if (c.socket && c.resourcePath == "/senders") ending.push_back(client);
        for (connection* client : ending) closeClient(*client);
    }

    void route(int destination, int source) override {
        const json pre = receiverAt(destination);
        state_.routes.at(static_cast<std::size_t>(destination - 1)) = source;
        push(pre, receiverAt(destination));
    }

    void setLabel(int database, int index, const std::string& text) override {
        if (database == 0) {
            std::string& label = state_.inputLabels.at(static_cast<std::size_t>(index - 1));
            const json pre = sender(index, label);
            label = text;
            if (!silent()) pushTo("/senders", grain("/senders/", json::array({change(pre, sender(index, text))})));
            return;
        }
        const json pre = receiverAt(index);
        state_.outputLabels.at(static_cast<std::size_t>(index - 1)) = text;
        push(pre, receiverAt(index));
    }

private:
    struct client_state {
        std::string in;
        bool socket = false;
        std::string subscription;
        std::string resourcePath;  // what its WebSocket follows
        wire::frame_reader frames{1 << 20};
    };

    json receiverAt(int d) const {
        const std::size_t i = static_cast<std::size_t>(d - 1);
        return receiver(d, state_.outputLabels.at(i), state_.routes.at(i), active_.at(i));
    }
    // Resources [first, first + count) of a list, by creation.
    // `next`, when given, is where the page after it starts.
    json list(bool senders, std::size_t first = 0, std::size_t count = SIZE_MAX, std::size_t* next = nullptr) const {
        json items = json::array();
        const std::size_t n = senders ? state_.inputLabels.size() : state_.outputLabels.size();
        std::size_t i = first;
        for (; i < n && items.size() < count; ++i) {
            const int number = static_cast<int>(i + 1);
            if (!senders && !present_[i]) continue;
            items.push_back(senders ? sender(number, state_.inputLabels[i]) : receiverAt(number));
        }
        if (next) *next = i;
        return items;
    }

    // The change, and beside it an unchanged neighbour (as a sync entry):
    // a grain may carry any number.
    void push(const json& pre, const json& post) {
        if (silent()) return;
        json changes = json::array({change(pre, post)});
        const std::string id = (post.is_null() ? pre : post)["id"];
        for (std::size_t i = 0; i < state_.routes.size(); ++i)
            if (present_[i] && receiverId(static_cast<int>(i + 1)) != id) {
                const json same = receiverAt(static_cast<int>(i + 1));
                changes.push_back(change(same, same));
                break;
            }
        pushTo("/receivers", grain("/receivers/", changes));
    }

    void pushTo(const std::string& resourcePath, const std::string& message) {
        for (auto& [client, c] : clients_)
            if (c.socket && c.resourcePath == resourcePath) sendTo(*client, message);
    }

    void onAccepted(connection& client) override { clients_[&client]; }
    void onClosed(const connection* client) override {
        const auto found = clients_.find(const_cast<connection*>(client));
        if (found == clients_.end()) return;
        if (found->second.socket) subscriptions_.erase(found->second.subscription);
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
            answer(client, c, head, body);
            if (c.socket) return;
        }
    }

    void answer(connection& client, client_state& c, const std::string& head, const std::string& body) {
        const std::string method = head.substr(0, head.find(' '));
        const std::string target =
            head.substr(method.size() + 1, head.find(' ', method.size() + 1) - method.size() - 1);
        const std::string path = target.substr(0, target.find('?'));
        const std::string query = target.find('?') == std::string::npos ? "" : target.substr(target.find('?'));
        const std::size_t version = path.find("/x-nmos/query/v1.");
        const std::string base = version == std::string::npos ? "" : path.substr(0, version + 18);
        if (method == "GET" && path == "/x-nmos/query/") {
            sendTo(client, httpAnswer(200, R"(["v1.2/","v1.3/"])"));
        } else if (method == "POST" && !base.empty() && path == base + "/subscriptions") {
            const json request = json::parse(body, nullptr, false);
            const std::string resourcePath = request.is_object() ? request.value("resource_path", "") : "";
            if (resourcePath != "/receivers" && resourcePath != "/senders") {
                sendTo(client,
                       httpAnswer(400, R"({"code":400,"error":"only /receivers and /senders here","debug":null})"));
                return;
            }
            char id[40];
            std::snprintf(id, sizeof id, "5b000000-0000-4000-8000-%012d", ++subscriptionCount_);
            subscriptions_[id] = resourcePath;
            const json answer = {
                {"id", id},
                {"ws_href", "ws://127.0.0.1:" + std::to_string(port()) + base + "/subscriptions/" + id + "/ws"},
                {"max_update_rate_ms", request.value("max_update_rate_ms", 100)},
                {"persist", false},
                {"secure", false},
                {"resource_path", resourcePath},
                {"params", json::object()}};
            sendTo(client, httpAnswer(201, answer.dump()));
        } else if (method == "GET" && (path == base + "/senders/" || path == base + "/receivers/")) {
            // paging.since=0:K: the K first (by creation) are behind.
            std::size_t since = 0;
            const std::size_t at = query.find("paging.since=0:");
            if (at != std::string::npos) since = std::stoul(query.substr(at + 15));
            std::size_t until = since;
            const json items = list(path == base + "/senders/", since, pageSize_, &until);
            sendTo(client, page(items, static_cast<int>(pageSize_),
                                path + "?paging.order=create&paging.since=0:" + std::to_string(until) +
                                    "&paging.limit=" + std::to_string(pageSize_)));
        } else if (method == "GET" && head.find("Upgrade: websocket") != std::string::npos) {
            const std::string subscription = path.substr(base.size() + 15, 36);
            const std::size_t keyAt = head.find("Sec-WebSocket-Key: ");
            if (base.empty() || !subscriptions_.count(subscription) || keyAt == std::string::npos) {
                sendTo(client, httpAnswer(404, R"({"code":404,"error":"no such subscription","debug":null})"));
                return;
            }
            const std::string key = head.substr(keyAt + 19, head.find("\r\n", keyAt) - keyAt - 19);
            sendTo(client,
                   "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Accept: " +
                       wire::webSocketAccept(key) + "\r\n\r\n");
            c.socket = true;
            c.subscription = subscription;
            c.resourcePath = subscriptions_[subscription];
            json sync = json::array();
            for (const json& r : list(c.resourcePath == "/senders")) sync.push_back(change(r, r));
            sendTo(client, grain(c.resourcePath + "/", sync));
        } else {
            sendTo(client, httpAnswer(404, R"({"code":404,"error":"not here","debug":null})"));
        }
    }

    const std::size_t pageSize_;
    std::vector<bool> active_;   // by destination
    std::vector<bool> present_;  // by destination: removed ones are not listed
    std::map<connection*, client_state> clients_;
    std::map<std::string, std::string> subscriptions_;  // id -> resource path
    int subscriptionCount_ = 0;
};

}  // namespace

std::unique_ptr<fake_nmos_registry> makeFakeNmos(boost::asio::io_context& io, router_state state, std::uint16_t port,
                                                 std::size_t pageSize) {
    return std::make_unique<fake_nmos>(io, std::move(state), port, pageSize);
}

}  // namespace quon::fake
