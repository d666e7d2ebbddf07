// The fake Ember+ provider (fake_routers.h says what it answers and how).
#include <algorithm>
#include <map>
#include <set>

#include <boost/asio/steady_timer.hpp>

#include "fake_routers.h"
#include "glow_builder.h"
#include "quon/routers/emberplus/emberplus_glow.h"
#include "quon/routers/emberplus/emberplus_s101.h"

namespace quon::fake {

namespace {

namespace glow = quon::routers::glow;
namespace s101 = quon::routers::s101;
using path = glow::path;

const path router_path = {0};
const path matrices_path = {0, 1};
const path matrix_path = {0, 1, 0};
const path labels_path = {0, 2};
const path target_labels_path = {0, 2, 1};
const path source_labels_path = {0, 2, 2};

class fake_emberplus final : public fake_router, private s101::frame_sink {
public:
    fake_emberplus(boost::asio::io_context& io, router_state state, std::uint16_t port, std::size_t packetPayload,
                   std::chrono::milliseconds idleClose, emberplus_requests requests)
        : fake_router(io, std::move(state), port),
          packetPayload_(std::max<std::size_t>(packetPayload, 1)),
          idleClose_(idleClose),
          requests_(requests),
          idleTimer_(io) {
        if (idleClose_.count() > 0) watchIdle();
    }

    void route(int destination, int source) override {
        state_.routes.at(static_cast<std::size_t>(destination - 1)) = source;
        if (silent()) return;
        // Nested from the root, as provider A pushes.
        const std::string pushed = definite_.root(definite_.entry(definite_.node(
            0, definite_.children(definite_.entry(definite_.node(
                   1, definite_.children(definite_.entry(definite_.matrix(
                          0, definite_.connections({connectionOf(destination - 1, true)}))))))))));
        pushTo(matrix_path, pushed);
    }

    void setLabel(int database, int index, const std::string& text) override {
        (database == 0 ? state_.inputLabels : state_.outputLabels).at(static_cast<std::size_t>(index - 1)) = text;
        if (silent()) return;
        path at = database == 0 ? source_labels_path : target_labels_path;
        at.push_back(static_cast<std::uint32_t>(index - 1));
        pushTo(database == 0 ? source_labels_path : target_labels_path,
               definite_.root(definite_.entry(definite_.qualifiedParameter(at, definite_.valueOnly(text)))));
    }

private:
    void onAccepted(connection& client) override {
        readers_[&client] = s101::reader();
        subscribed_[&client].clear();
        heard_[&client] = std::chrono::steady_clock::now();
    }

    void onClosed(const connection* client) override {
        readers_.erase(const_cast<connection*>(client));
        subscribed_.erase(const_cast<connection*>(client));
        heard_.erase(const_cast<connection*>(client));
    }

    // Every quarter of the idle limit, the clients not heard from within it
    // are closed. The timer is cancelled with the router; a cancelled wait
    // touches nothing.
    void watchIdle() {
        idleTimer_.expires_after(std::max(idleClose_ / 4, std::chrono::milliseconds(1)));
        idleTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            const auto now = std::chrono::steady_clock::now();
            std::vector<connection*> idle;
            for (const auto& [client, at] : heard_)
                if (now - at > idleClose_) idle.push_back(client);
            for (connection* client : idle) closeClient(*client);
            watchIdle();
        });
    }

    void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) override {
        heard_[&client] = std::chrono::steady_clock::now();
        current_ = &client;
        readers_[&client].feed(bytes, size, *this);
        current_ = nullptr;
    }

    void onKeepAliveRequest() override {
        ++keepAlivesAnswered_;
        sendTo(*current_, s101::keepAliveResponse());
    }
    void onKeepAliveResponse() override {}
    void onFrameProblem(s101::problem) override {}

    void onMessage(const std::string& ber) override {
        std::vector<glow::element> elements;
        std::string error;
        glow::decode(ber, elements, error);
        for (const glow::element& e : elements) {
            const bool request = e.what == glow::kind::command || e.connections;
            if (e.what == glow::kind::command && e.command == glow::command_get_directory) {
                answerDirectory(e.at);
            } else if (e.what == glow::kind::matrix && e.at == matrix_path && e.connections) {
                for (const glow::connection& c : *e.connections) connect(c);
            }
            // The rest of the Root is dropped, and nothing said of it.
            if (request && requests_ == emberplus_requests::first_only) break;
        }
    }

    void connect(const glow::connection& c) {
        const int targets = static_cast<int>(state_.routes.size());
        const int sources = static_cast<int>(state_.inputLabels.size());
        if (c.target < 0 || c.target >= targets || c.sources.size() != 1 || c.sources[0] >= std::uint32_t(sources))
            return;
        route(static_cast<int>(c.target) + 1, static_cast<int>(c.sources[0]) + 1);
    }

    // A Connection of `target` as the state holds it.
    std::string connectionOf(int target, bool modified) const {
        const int source = state_.routes.at(static_cast<std::size_t>(target));
        std::vector<std::uint32_t> sources;
        if (source > 0) sources.push_back(static_cast<std::uint32_t>(source - 1));
        return definite_.connection(target, sources, modified ? std::optional<int>(1) : std::nullopt);
    }

    void answerDirectory(const path& at) {
        connection& client = *current_;
        const glow_builder& d = definite_;
        subscribed_[&client].insert(at);
        if (at.empty()) {
            send(client, d.root(d.entry(d.qualifiedNode(router_path, d.nodeContents("router", true)))));
        } else if (at == router_path) {
            // One qualified parent holding unqualified children.
            send(client, d.root(d.entry(d.qualifiedNode(
                             router_path, d.children(d.entry(d.node(0, d.nodeContents("identity"))) +
                                                     d.entry(d.node(1, d.nodeContents("matrices"))) +
                                                     d.entry(d.node(2, d.nodeContents("labels"))))))));
        } else if (at == matrices_path) {
            // Flat and qualified, with an empty connections collection.
            send(client, d.root(d.entry(d.qualifiedMatrix(matrix_path, matrixContents(d) + d.connections({})))));
        } else if (at == labels_path) {
            send(client, d.root(d.entry(d.qualifiedNode(path{0, 2, 1}, d.nodeContents("targets"))) +
                                d.entry(d.qualifiedNode(path{0, 2, 2}, d.nodeContents("sources")))));
        } else if (at == matrix_path) {
            // The whole matrix, indefinite, in packets.
            const glow_builder& i = indefinite_;
            std::vector<std::string> list;
            for (int t = 0; t < static_cast<int>(state_.routes.size()); ++t) {
                const int source = state_.routes[static_cast<std::size_t>(t)];
                std::vector<std::uint32_t> sources;
                if (source > 0) sources.push_back(static_cast<std::uint32_t>(source - 1));
                list.push_back(i.connection(t, sources));
            }
            send(client, i.root(i.entry(i.qualifiedMatrix(matrix_path, matrixContents(i) + i.connections(list)))));
        } else if ((at == target_labels_path || at == source_labels_path) &&
                   requests_ == emberplus_requests::labels_never) {
            // Subscribed, never answered.
        } else if (at == target_labels_path || at == source_labels_path) {
            // Nested from the root.
            const bool targets = at == target_labels_path;
            const std::vector<std::string>& labels = targets ? state_.outputLabels : state_.inputLabels;
            std::string params;
            for (std::size_t n = 0; n < labels.size(); ++n)
                params += d.entry(d.parameter(static_cast<std::uint32_t>(n),
                                              d.parameterContents((targets ? "t-" : "s-") + std::to_string(n), labels[n])));
            const std::string layer = d.node(targets ? 1 : 2, d.children(params));
            const std::string labelsNode = d.node(2, d.children(d.entry(layer)));
            send(client, d.root(d.entry(d.node(0, d.children(d.entry(labelsNode))))));
        } else {
            send(client, d.root(""));  // a path it does not have
        }
    }

    std::string matrixContents(const glow_builder& b) const {
        return b.matrixContents("video", static_cast<int>(state_.routes.size()),
                                static_cast<int>(state_.inputLabels.size()), labels_path, "primary",
                                static_cast<int>(glow::matrix_one_to_n));
    }

    // Every client that asked for the directory `parent` hears of a change in it.
    void pushTo(const path& parent, const std::string& ber) {
        for (auto& [client, paths] : subscribed_)
            if (paths.count(parent)) send(*client, ber);
    }

    // In packets of at most packetPayload_ bytes, announcing DTD 2.31.
    void send(connection& client, const std::string& ber) {
        std::string out;
        std::size_t at = 0;
        do {
            const std::size_t size = std::min(packetPayload_, ber.size() - at);
            std::uint8_t flags = 0;
            if (at == 0) flags |= s101::flag_first;
            if (at + size == ber.size()) flags |= s101::flag_last;
            std::string unescaped{0x00, 0x0E, 0x00, 0x01, static_cast<char>(flags), 0x01, 0x02, 0x1F, 0x02};
            unescaped += ber.substr(at, size);
            out += s101::frame(unescaped);
            at += size;
        } while (at < ber.size());
        sendTo(client, out);
    }

    const std::size_t packetPayload_;
    const std::chrono::milliseconds idleClose_;
    const emberplus_requests requests_;
    boost::asio::steady_timer idleTimer_;
    std::map<connection*, std::chrono::steady_clock::time_point> heard_;
    const glow_builder definite_{false};
    const glow_builder indefinite_{true};
    std::map<connection*, s101::reader> readers_;
    std::map<connection*, std::set<path>> subscribed_;
    connection* current_ = nullptr;
};

}  // namespace

std::unique_ptr<fake_router> makeFakeEmberplus(boost::asio::io_context& io, router_state state, std::uint16_t port,
                                               std::size_t packetPayload, std::chrono::milliseconds idleClose,
                                               emberplus_requests requests) {
    return std::make_unique<fake_emberplus>(io, std::move(state), port, packetPayload, idleClose, requests);
}

}  // namespace quon::fake
