// client_table: drives a router_client as tcp_connection would, without a
// socket or a clock, and writes what follows each step as short lines, so
// that a test is a table of steps (bytes in, time passing, a keep-alive or
// resync due) against the lines expected. The crosspoints, labels and
// problems pass through a held_state as they do in a link: a line is what
// the listener would hear. Sends are written by a describer of the
// protocol's choice; the armed timer as "timer +N ms" from the step's time.
// Channel 1 (a second connection, for a two_channel_client) has its own
// steps; what is sent on it is written after "second ".
#ifndef QUON_TEST_CLIENT_TABLE_H
#define QUON_TEST_CLIENT_TABLE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "quon/routers/held_state.h"
#include "quon/routers/router_client.h"
#include "quon/routers/two_channel_client.h"

namespace quon::test {

using lines = std::vector<std::string>;

class client_table {
public:
    using describer = std::function<lines(const std::string& sent)>;

    // `client` is borrowed and outlives the table.
    client_table(routers::router_client& client, describer describeSent)
        : client_(client), describeSent_(std::move(describeSent)) {}
    // One whose client has channel 1's steps too.
    client_table(routers::two_channel_client& client, describer describeSent)
        : client_(client), second_(&client), describeSent_(std::move(describeSent)) {}

    lines connect() {
        held_.newConnection();
        open_ = true;
        deadline_.reset();
        return run([&](routers::router_actions& out) { client_.connected(now_, out); });
    }
    // Channel 1's connection is made, and bytes come on it.
    lines secondConnect() {
        if (!second_) return oneChannel();
        return run([&](routers::router_actions& out) { second_->secondConnected(now_, out); });
    }
    lines secondIn(const std::string& bytes) {
        if (!second_) return oneChannel();
        return run([&](routers::router_actions& out) {
            second_->secondBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now_, out);
        });
    }
    lines closed() {
        client_.closed();
        open_ = false;
        return {};
    }
    lines in(const std::string& bytes) {
        return run([&](routers::router_actions& out) {
            client_.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now_, out);
        });
    }
    // The bytes one read at a time, each piece `piece` bytes long.
    lines inPieces(const std::string& bytes, std::size_t piece) {
        lines all;
        for (std::size_t at = 0; at < bytes.size() && open_; at += piece) append(all, in(bytes.substr(at, piece)));
        return all;
    }
    // Time passes; the client is woken at each time it asked for on the way.
    lines pass(std::chrono::milliseconds duration) {
        const routers::router_clock::time_point end = now_ + duration;
        lines all;
        while (open_ && deadline_ && *deadline_ <= end) {
            now_ = *deadline_;
            deadline_.reset();
            append(all, run([&](routers::router_actions& out) { client_.timer(now_, out); }));
        }
        now_ = end;
        return all;
    }
    lines keepAlive() {
        return run([&](routers::router_actions& out) { client_.keepAlive(now_, out); });
    }
    lines resync() {
        return run([&](routers::router_actions& out) { client_.resync(now_, out); });
    }
    lines requestRoute(int destination, int source, bool* accepted = nullptr) {
        bool taken = false;
        lines result = run([&](routers::router_actions& out) { taken = client_.requestRoute(destination, source, out); });
        if (accepted) *accepted = taken;
        return result;
    }
    lines poll(int first, int last) {
        return run([&](routers::router_actions& out) { client_.poll(first, last, out); });
    }

    const routers::held_state& held() const { return held_; }
    // Every action of the last step, as the client gave them.
    const routers::router_actions& lastActions() const { return last_; }

private:
    static void append(lines& to, const lines& more) { to.insert(to.end(), more.begin(), more.end()); }
    // A step on channel 1 of a table made for a one-channel client: the
    // test's own mistake.
    static lines oneChannel() {
        ADD_FAILURE() << "channel 1's step on a client that has one channel";
        return {};
    }

    template <typename Step>
    lines run(Step step) {
        last_.clear();
        step(last_);
        lines out;
        for (const routers::router_action& action : last_) {
            // As in a link, nothing after a failure is carried out.
            if (!open_) break;
            std::visit(
                [&](const auto& a) {
                    using kind = std::decay_t<decltype(a)>;
                    namespace act = routers::act;
                    if constexpr (std::is_same_v<kind, act::send>) {
                        for (const std::string& line : describeSent_(a.bytes))
                            out.push_back(a.channel == 0 ? line : "second " + line);
                    } else if constexpr (std::is_same_v<kind, act::arm_timer>) {
                        deadline_ = a.deadline;
                        out.push_back(
                            "timer +" +
                            std::to_string(
                                std::chrono::duration_cast<std::chrono::milliseconds>(a.deadline - now_).count()) +
                            " ms");
                    } else if constexpr (std::is_same_v<kind, act::crosspoint>) {
                        if (held_.take(a) != routers::held_state::news::none)
                            out.push_back("crosspoint " + std::to_string(a.destination) + " " +
                                          std::to_string(a.source));
                    } else if constexpr (std::is_same_v<kind, act::label>) {
                        if (held_.take(a))
                            out.push_back("label " + std::string(a.database == 0 ? "source " : "destination ") +
                                          std::to_string(a.index) + " " + a.text);
                    } else if constexpr (std::is_same_v<kind, act::up>) {
                        out.push_back("up " + std::to_string(a.sources) + " " + std::to_string(a.destinations));
                    } else if constexpr (std::is_same_v<kind, act::fail>) {
                        out.push_back("fail " + a.why);
                        open_ = false;
                    } else if constexpr (std::is_same_v<kind, act::problem>) {
                        if (held_.take(a)) out.push_back("problem " + a.text);
                    } else if constexpr (std::is_same_v<kind, act::missing>) {
                        if (held_.take(a)) out.push_back("missing " + a.text);
                    } else if constexpr (std::is_same_v<kind, act::read_start>) {
                        out.push_back("read starts");
                    } else if constexpr (std::is_same_v<kind, act::read_end>) {
                        out.push_back("read ends");
                    } else if constexpr (std::is_same_v<kind, act::answered>) {
                        out.push_back(a.channel == 0 ? "answered" : "second answered");
                    } else if constexpr (std::is_same_v<kind, act::reopen>) {
                        // The link opens the next connection: connect() (or
                        // secondConnect()) again.
                        const std::string at = a.host.empty() ? ""
                                               : std::string(a.tls ? " tls " : " ") + a.host + ":" +
                                                     std::to_string(a.port);
                        if (a.channel == 0) {
                            out.push_back("reopen" + at);
                            open_ = false;
                        } else {
                            out.push_back("reopen second" + at);
                        }
                    } else if constexpr (std::is_same_v<kind, act::remember>) {
                        out.push_back("remember");
                        remembered_ = a.text;
                    }
                },
                action);
        }
        return out;
    }

public:
    // The text of the last act::remember.
    const std::string& remembered() const { return remembered_; }

private:
    std::string remembered_;
    routers::router_client& client_;  // borrowed; outlives the table
    routers::two_channel_client* second_ = nullptr;  // the same client, when it has channel 1; borrowed
    describer describeSent_;
    routers::held_state held_;
    routers::router_actions last_;
    routers::router_clock::time_point now_{std::chrono::hours(1)};
    std::optional<routers::router_clock::time_point> deadline_;
    bool open_ = false;
};

// One row of a table: what happens, and the lines expected of it.
struct step {
    std::string what;
    std::function<lines(client_table&)> happen;
    lines expected;
};

inline std::function<lines(client_table&)> connects() {
    return [](client_table& t) { return t.connect(); };
}
inline std::function<lines(client_table&)> bytesIn(std::string bytes) {
    return [bytes](client_table& t) { return t.in(bytes); };
}
inline std::function<lines(client_table&)> timePasses(std::chrono::milliseconds duration) {
    return [duration](client_table& t) { return t.pass(duration); };
}
inline std::function<lines(client_table&)> keepAliveDue() {
    return [](client_table& t) { return t.keepAlive(); };
}
inline std::function<lines(client_table&)> resyncDue() {
    return [](client_table& t) { return t.resync(); };
}

inline void play(client_table& table, const std::vector<step>& steps) {
    for (const step& row : steps) EXPECT_EQ(row.happen(table), row.expected) << row.what;
}

}  // namespace quon::test

#endif
