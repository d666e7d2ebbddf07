// A fake Quartz router: levels V and A of the state's routes (A starts as
// V), and level B, which no test asks for, all from source 1.
#include <algorithm>
#include <cstdio>
#include <map>

#include "fake_routers.h"
#include "quon/routers/quartz/quartz_protocol.h"

namespace quon::fake {

namespace {

namespace qz = quon::routers::quartz;
namespace asio = boost::asio;

std::string padded(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

class fake_quartz final : public fake_router, private qz::message_sink {
public:
    fake_quartz(asio::io_context& io, router_state state, std::uint16_t port, quartz_names names)
        : fake_router(io, std::move(state), port), names_(names), levelA_(state_.routes) {}

    // A panel's take on levels V and A: the update of both in one message,
    // in one packet with another panel's take on level B.
    void route(int destination, int source) override {
        const std::size_t d = static_cast<std::size_t>(destination - 1);
        state_.routes.at(d) = source;
        levelA_.at(d) = source;
        if (!silent())
            sendToAll(".UB" + padded(destination) + ",001\r.UVA" + padded(destination) + "," + padded(source) + "\r");
    }

    // The router tells every client of a rename, unasked; one that sends
    // names without their numbers cannot, and is read again instead.
    void setLabel(int database, int index, const std::string& text) override {
        (database == 0 ? state_.inputLabels : state_.outputLabels).at(static_cast<std::size_t>(index - 1)) = text;
        if (!silent() && names_ == quartz_names::numbered) sendToAll(nameMessage(database == 0, index));
    }

private:
    std::string nameMessage(bool source, int number) const {
        const std::vector<std::string>& labels = source ? state_.inputLabels : state_.outputLabels;
        std::string text = labels.at(static_cast<std::size_t>(number - 1));
        // Eight characters, padded with blanks, as older routers send them;
        // longer names whole.
        if (text.size() < 8) text.resize(8, ' ');
        const std::string head = source ? ".RAS" : ".RAD";
        if (names_ == quartz_names::unnumbered) return head + text + "\r";
        return head + padded(number) + "," + text + "\r";
    }

    void onAccepted(connection& client) override { readers_[&client] = qz::reader(); }
    void onClosed(const connection* client) override { readers_.erase(const_cast<connection*>(client)); }

    void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) override {
        replies_.clear();
        pushes_.clear();
        readers_[&client].feed(std::string_view(reinterpret_cast<const char*>(bytes), size), *this);
        // The answers of one read go together, cut at places that change
        // from read to read: messages split anywhere, several in a packet.
        std::size_t at = 0;
        while (at < replies_.size()) {
            const std::size_t piece = 1 + (cut_++ * 37) % 97;
            sendTo(client, replies_.substr(at, piece));
            at += piece;
        }
        if (!pushes_.empty()) sendToAll(pushes_);
    }

    void onReaderProblem(qz::reader_problem) override { replies_ += ".E\r"; }

    void onMessage(std::string_view body) override {
        const std::string text(body);
        const auto number = [&](std::size_t from) { return qz::parseNumber(body.substr(from)); };
        if (text == "#01") {
            ++keepAlivesAnswered_;
            replies_ += ".A\r";
        } else if (text.rfind("RS", 0) == 0 || text.rfind("RD", 0) == 0) {
            const bool source = text[1] == 'S';
            const std::optional<int> n = number(2);
            const std::size_t size = (source ? state_.inputLabels : state_.outputLabels).size();
            if (n && static_cast<std::size_t>(*n) <= size)
                replies_ += nameMessage(source, *n);
            else
                replies_ += ".E\r";
        } else if (text.size() >= 3 && text[0] == 'I') {
            // No answer for a level or destination it does not have.
            const std::vector<int>* routes = levelRoutes(text[1]);
            const std::optional<int> d = number(2);
            if (routes && d && static_cast<std::size_t>(*d) <= routes->size())
                replies_ += std::string(".A") + text[1] + padded(*d) + "," +
                            padded((*routes)[static_cast<std::size_t>(*d - 1)]) + "\r";
        } else if (text.size() >= 3 && text[0] == 'S') {
            take(text);
        } else {
            replies_ += ".E\r";
        }
    }

    // ".S{levels}{dest},{srce}": the route on each level, and its update to
    // every client.
    void take(const std::string& text) {
        std::size_t at = 1;
        std::string levels;
        while (at < text.size() && qz::isLevel(text[at])) levels += text[at++];
        const std::size_t comma = text.find(',', at);
        const std::optional<int> d =
            comma == std::string::npos ? std::nullopt : qz::parseNumber(std::string_view(text).substr(at, comma - at));
        const std::optional<int> s =
            comma == std::string::npos ? std::nullopt : qz::parseNumber(std::string_view(text).substr(comma + 1));
        if (levels.empty() || !d || !s || static_cast<std::size_t>(*s) > state_.inputLabels.size()) {
            replies_ += ".E\r";
            return;
        }
        std::string taken;
        for (const char level : levels) {
            std::vector<int>* routes = levelRoutes(level);
            if (!routes || static_cast<std::size_t>(*d) > routes->size()) continue;
            (*routes)[static_cast<std::size_t>(*d - 1)] = *s;
            taken += level;
        }
        if (taken.empty()) {
            replies_ += ".E\r";
            return;
        }
        std::sort(taken.begin(), taken.end(),
                  [](char a, char b) { return (a == 'V') > (b == 'V') || (a != 'V' && b != 'V' && a < b); });
        pushes_ += ".U" + taken + padded(*d) + "," + padded(*s) + "\r";
    }

    std::vector<int>* levelRoutes(char level) {
        if (level == 'V') return &state_.routes;
        if (level == 'A') return &levelA_;
        if (level == 'B') {
            levelB_.assign(state_.routes.size(), 1);
            return &levelB_;
        }
        return nullptr;
    }

    const quartz_names names_;
    std::vector<int> levelA_;
    std::vector<int> levelB_;
    std::map<connection*, qz::reader> readers_;
    std::string replies_;
    std::string pushes_;
    std::size_t cut_ = 0;
};

}  // namespace

std::unique_ptr<fake_router> makeFakeQuartz(asio::io_context& io, router_state state, std::uint16_t port,
                                            quartz_names names) {
    return std::make_unique<fake_quartz>(io, std::move(state), port, names);
}

}  // namespace quon::fake
