// What an NMOS registry sends, as text, for the client's tables and the
// fake registry: resources as the Query API lists them, HTTP answers and
// WebSocket frames of a server (unmasked), and grains of changes.
#ifndef QUON_TEST_NMOS_REGISTRY_TEXT_H
#define QUON_TEST_NMOS_REGISTRY_TEXT_H

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace quon::test::nmos {

using json = nlohmann::json;

// Ids of the form the registry gives: sender s1 is "5e000000-...-000000000001".
inline std::string senderId(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "5e000000-0000-4000-8000-%012d", n);
    return id;
}
inline std::string receiverId(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "7e000000-0000-4000-8000-%012d", n);
    return id;
}

inline json sender(int n, const std::string& label) {
    return {{"id", senderId(n)},
            {"label", label},
            {"description", ""},
            {"tags", json::object()},
            {"version", "1:0"},
            {"flow_id", nullptr},
            {"transport", "urn:x-nmos:transport:rtp.mcast"},
            {"device_id", "de000000-0000-4000-8000-000000000001"},
            {"manifest_href", nullptr},
            {"interface_bindings", json::array()},
            {"subscription", {{"receiver_id", nullptr}, {"active", true}}}};
}
// `from` is the sender it takes, 0 for none (sender_id null).
inline json receiver(int n, const std::string& label, int from, bool active = true) {
    return {{"id", receiverId(n)},
            {"label", label},
            {"description", ""},
            {"tags", json::object()},
            {"version", "1:0"},
            {"format", "urn:x-nmos:format:video"},
            {"caps", json::object()},
            {"device_id", "de000000-0000-4000-8000-000000000001"},
            {"transport", "urn:x-nmos:transport:rtp.mcast"},
            {"interface_bindings", json::array()},
            {"subscription", {{"sender_id", from > 0 ? json(senderId(from)) : json(nullptr)}, {"active", active}}}};
}

// An HTTP/1.1 answer with a length.
inline std::string httpAnswer(int status, const std::string& body,
                              const std::vector<std::pair<std::string, std::string>>& headers = {}) {
    std::string reason = status == 200   ? "OK"
                         : status == 201 ? "Created"
                         : status == 400 ? "Bad Request"
                         : status == 404 ? "Not Found"
                         : status == 501 ? "Not Implemented"
                         : status == 503 ? "Service Unavailable"
                                         : "Status";
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
    return out + "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A page of a list: X-Paging-Limit and a next link when `next` is given.
inline std::string page(const json& items, std::optional<int> limit = std::nullopt, const std::string& next = "") {
    std::vector<std::pair<std::string, std::string>> headers;
    if (limit) headers.emplace_back("X-Paging-Limit", std::to_string(*limit));
    if (!next.empty()) headers.emplace_back("Link", "<http://127.0.0.1" + next + ">; rel=\"next\"");
    return httpAnswer(200, items.dump(), headers);
}

// Subscription 1 follows /receivers, subscription 2 /senders.
inline std::string subscriptionAnswer(const std::string& version, const std::string& host = "127.0.0.1:80",
                                      const std::string& resourcePath = "/receivers") {
    const std::string id = resourcePath == "/senders" ? "5b000000-0000-4000-8000-000000000002"
                                                      : "5b000000-0000-4000-8000-000000000001";
    const json body = {{"id", id},
                       {"ws_href", "ws://" + host + "/x-nmos/query/" + version + "/subscriptions/" + id + "/ws"},
                       {"max_update_rate_ms", 10},
                       {"persist", false},
                       {"secure", false},
                       {"resource_path", resourcePath},
                       {"params", json::object()}};
    return httpAnswer(201, body.dump());
}

// A server's frame: FIN set (unless `more`), unmasked.
inline std::string serverFrame(int opcode, const std::string& payload, bool more = false) {
    std::string frame;
    frame += static_cast<char>((more ? 0 : 0x80) | opcode);
    const std::size_t n = payload.size();
    if (n < 126) {
        frame += static_cast<char>(n);
    } else if (n <= 0xFFFF) {
        frame += static_cast<char>(126);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n & 0xFF);
    } else {
        frame += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((static_cast<unsigned long long>(n) >> shift) & 0xFF);
    }
    return frame + payload;
}

// One change of a grain: both given is a change (or, equal, a sync);
// `pre` alone a removal; `post` alone an addition.
inline json change(const json& pre, const json& post) {
    json c = {{"path", (post.is_null() ? pre : post)["id"]}};
    if (!pre.is_null()) c["pre"] = pre;
    if (!post.is_null()) c["post"] = post;
    return c;
}

// `flowId` is the subscription's id; `timestamp` TAI "seconds:nanoseconds".
inline std::string grain(const std::string& topic, const json& changes,
                         const std::string& flowId = "5b000000-0000-4000-8000-000000000001",
                         const std::string& timestamp = "0:0") {
    const json g = {{"grain_type", "event"},
                    {"source_id", "50000000-0000-4000-8000-000000000001"},
                    {"flow_id", flowId},
                    {"origin_timestamp", timestamp},
                    {"sync_timestamp", timestamp},
                    {"creation_timestamp", timestamp},
                    {"rate", {{"numerator", 0}, {"denominator", 1}}},
                    {"duration", {{"numerator", 0}, {"denominator", 1}}},
                    {"grain", {{"type", "urn:x-nmos:format:data.event"}, {"topic", topic}, {"data", changes}}}};
    return serverFrame(1, g.dump());
}

}  // namespace quon::test::nmos

#endif
