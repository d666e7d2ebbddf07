#include "quon/routers/nmos/nmos_client.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <nlohmann/json.hpp>

#include "quon/common/endpoint.h"
#include "quon/routers/label_text.h"

namespace quon::routers::nmos {

namespace http = boost::beast::http;
using json = nlohmann::json;

namespace {

const char* const side_names[] = {"sender", "receiver"};
const char* const list_keys[] = {"Senders", "Receivers"};
const char* const paths[] = {"/senders", "/receivers"};

bool isVersion(const std::string& v) { return v == "v1.3" || v == "v1.2"; }

// A path this link may put in a request line: from the root, of printable
// ASCII without blanks (nothing a registry sends can break the request).
bool isRequestPath(const std::string& path) {
    if (path.empty() || path[0] != '/' || path.size() > 8192) return false;
    return std::all_of(path.begin(), path.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// "HTTP/1.x NNN": the parser judges a start cut short otherwise than a
// whole one.
bool isStatusLine(const std::string& text) {
    const auto digit = [&text](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    return text.size() >= 12 && text.compare(0, 7, "HTTP/1.") == 0 && digit(7) && text[8] == ' ' && digit(9) &&
           digit(10) && digit(11);
}

// Whether every Content-Length of `header` is a number within the
// document limit: the parser would make room for what it says before it
// weighs it against its own limit.
bool lengthWithin(std::string_view header) {
    constexpr std::string_view name = "content-length:";
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t end = std::min(header.find("\r\n", at), header.size());
        const std::string_view line = header.substr(at, end - at);
        at = end + 2;
        if (line.size() < name.size()) continue;
        bool match = true;
        for (std::size_t i = 0; i < name.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
        if (!match) continue;
        std::size_t i = name.size();
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::uint64_t value = 0;
        for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
            value = value * 10 + static_cast<std::uint64_t>(line[i] - '0');
            if (value > max_document_bytes) return false;
        }
    }
    return true;
}

}  // namespace

struct nmos_client::parser_box {
    http::response_parser<http::string_body> parser;
};

struct nmos_client::http_answer {
    int status = 0;
    std::string reason;
    std::string body;
    std::string pagingLimit;  // X-Paging-Limit, empty when absent
    std::string link;
    std::string upgrade;
    std::string accept;
};

nmos_client::nmos_client(const router_settings& settings, const nmos_options& options)
    : settings_(settings), options_(options), random_(settings.jitterSeed != 0 ? settings.jitterSeed : 0x9E3779B9u) {
    authority_ = endpointText(settings.host, settings.port);
    std::string path = settings.path;
    while (!path.empty() && path.back() == '/') path.pop_back();
    const std::size_t api = path.find("/x-nmos/query");
    prefix_ = api == std::string::npos ? path : path.substr(0, api);
    if (api != std::string::npos && path.size() > api + 14) {
        base_ = path;
        baseFromAddress_ = true;
    }
    if (options.sendersListed) entries_[0] = options.senders;
    if (options.receiversListed) entries_[1] = options.receivers;
    if (!settings.remembered.empty()) takeRemembered(settings.remembered);
}

// {"senders": [id, ...], "receivers": [id, ...]}: number n is entry n-1.
void nmos_client::takeRemembered(const std::string& text) {
    const json kept = json::parse(text, nullptr, false);
    const char* const keys[] = {"senders", "receivers"};
    const auto wrong = [this](const std::string& why) {
        rememberedProblem_ = "the state file " + settings_.stateFile + " " + why +
                             "; senders and receivers are numbered afresh as met";
        for (int side : {0, 1})
            if (!(side == 0 ? options_.sendersListed : options_.receiversListed)) {
                entries_[side].clear();
                numbered_[side].clear();
            }
    };
    if (!kept.is_object()) return wrong("is not the JSON object this host writes");
    for (int side : {0, 1}) {
        if (side == 0 ? options_.sendersListed : options_.receiversListed) continue;
        const auto list = kept.find(keys[side]);
        if (list == kept.end()) continue;
        if (!list->is_array() || list->size() > max_resources)
            return wrong(std::string("holds no list of at most ") + std::to_string(max_resources) + " " +
                         side_names[side] + " ids");
        for (const json& id : *list) {
            if (!id.is_string() || !numbered_[side].emplace(id.get<std::string>(), entries_[side].size() + 1).second)
                return wrong(std::string("holds a ") + side_names[side] + " id that is not text, or twice");
            entries_[side].push_back(id.get<std::string>());
        }
    }
}

nmos_client::~nmos_client() = default;

void nmos_client::begin(router_clock::time_point now, router_actions& out, int channel) {
    now_ = now;
    out_ = &out;
    channel_ = channel;
}

void nmos_client::send(std::string bytes) {
    if (open_ && (channel_ == 0 || secondOpen_))
        out_->emplace_back(std::in_place_type<act::send>, act::send{std::move(bytes), channel_});
}

void nmos_client::request(std::string bytes, std::string what) {
    send(std::move(bytes));
    on().waitingFor = std::move(what);
    on().deadline = now_ + settings_.connectTimeout;
    armEarliest();
}

void nmos_client::armEarliest() {
    std::optional<router_clock::time_point> earliest;
    for (const conversation& c : talk_)
        if (c.deadline && (!earliest || *c.deadline < *earliest)) earliest = c.deadline;
    if (syncing_ && (!earliest || syncDeadline_ < *earliest)) earliest = syncDeadline_;
    for (int channel : {0, 1})
        if (syncing_ && !synced_[channel] && syncQuiet_[channel] && (!earliest || *syncQuiet_[channel] < *earliest))
            earliest = syncQuiet_[channel];
    if (open_ && earliest) out_->emplace_back(std::in_place_type<act::arm_timer>, act::arm_timer{*earliest});
}

void nmos_client::fail(const std::string& why) {
    if (!open_) return;
    out_->emplace_back(std::in_place_type<act::fail>, act::fail{why});
    closed();
}

void nmos_client::problem(const std::string& cause, const std::string& text) {
    if (open_) out_->emplace_back(std::in_place_type<act::problem>, act::problem{cause, text});
}

void nmos_client::reopen(bool webSocket) {
    // Channel 1 ends with channel 0's connection.
    const conversation& receivers = talk_[0];
    out_->emplace_back(std::in_place_type<act::reopen>, webSocket ? act::reopen{0, receivers.wsHost, receivers.wsPort,
                                                                                receivers.wsTls}
                                                                  : act::reopen{0, {}, 0, false});
    open_ = secondOpen_ = false;
    reopening_ = true;
    for (conversation& c : talk_) c.deadline.reset();
}

void nmos_client::closed() {
    open_ = secondOpen_ = up_ = reopening_ = followNext_ = syncing_ = stale_ = false;
    for (conversation& c : talk_) {
        c.deadline.reset();
        c.parser.reset();
    }
    upgradeRefusals_ = 0;
}

std::array<std::uint8_t, 4> nmos_client::nextMask() {
    // xorshift: masks need not be secret from a registry, only varied.
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    return {static_cast<std::uint8_t>(random_), static_cast<std::uint8_t>(random_ >> 8),
            static_cast<std::uint8_t>(random_ >> 16), static_cast<std::uint8_t>(random_ >> 24)};
}

void nmos_client::connected(router_clock::time_point now, router_actions& out) {
    begin(now, out);
    const bool fresh = !reopening_;
    open_ = true;
    secondOpen_ = false;
    reopening_ = false;
    for (conversation& c : talk_) {
        c.inbox.clear();
        c.parser.reset();
        c.frames.reset();
        c.deadline.reset();
        c.at = stage::opening;
    }
    if (!rememberedProblem_.empty()) {
        problem("state file", rememberedProblem_);
        rememberedProblem_.clear();
    }
    if (fresh) {
        up_ = followNext_ = false;
        upgradeRefusals_ = 0;
        shownSource_.clear();
        shownLabel_[0].clear();
        shownLabel_[1].clear();
        warned_.clear();
        if (!baseFromAddress_) base_.clear();
    }
    if (followNext_) {
        // The receivers' WebSocket here, the senders' on channel 1.
        followNext_ = false;
        // Each WebSocket's first grain is its sync, the whole list again:
        // one read with the other's, whole once both came (before up, the
        // read since connect goes on).
        if (up_) out_->emplace_back(std::in_place_type<act::read_start>);
        syncing_ = true;
        for (int channel : {0, 1}) {
            synced_[channel] = false;
            syncFirst_[channel] = 0;
            syncSeen_[channel].clear();
            syncQuiet_[channel].reset();
        }
        syncDeadline_ = now + settings_.connectTimeout;
        openWebSocket();
        const conversation& senders = talk_[1];
        out_->emplace_back(std::in_place_type<act::reopen>,
                           act::reopen{1, senders.wsHost, senders.wsPort, senders.wsTls});
        return;
    }
    if (baseFromAddress_) {
        const std::string version = base_.substr(base_.rfind('/') + 1);
        if (!isVersion(version)) {
            fail("Address= names Query API version " + version + "; this host reads v1.3 and v1.2");
            return;
        }
    }
    if (base_.empty()) {
        on().at = stage::versions;
        request(httpGet(authority_, prefix_ + "/x-nmos/query/"), "GET " + prefix_ + "/x-nmos/query/");
        return;
    }
    subscribe(1);
}

void nmos_client::secondConnected(router_clock::time_point now, router_actions& out) {
    if (!open_) return;
    begin(now, out, 1);
    secondOpen_ = true;
    on().inbox.clear();
    on().parser.reset();
    on().frames.reset();
    on().deadline.reset();
    openWebSocket();
}

void nmos_client::openWebSocket() {
    on().at = stage::opening;
    std::array<std::uint8_t, 16> key{};
    for (std::size_t i = 0; i < key.size(); i += 4) {
        const auto mask = nextMask();
        std::copy(mask.begin(), mask.end(), key.begin() + static_cast<std::ptrdiff_t>(i));
    }
    on().wsKey = webSocketKey(key);
    request(webSocketOpen(on().wsAuthority, on().wsPath, on().wsKey),
            "the WebSocket opening of " + std::string(on().wsTls ? "wss://" : "ws://") + on().wsAuthority +
                on().wsPath);
}

// Receivers first, then senders: both before the read, so that nothing
// changed between the read and the subscriptions is lost.
void nmos_client::subscribe(int side) {
    on().at = side == 1 ? stage::subscribe : stage::subscribe_senders;
    const json body = {{"max_update_rate_ms", update_rate_ms},
                       {"resource_path", paths[side]},
                       {"params", json::object()},
                       {"persist", false},
                       {"secure", settings_.tls}};
    request(httpPost(authority_, base_ + "/subscriptions", body.dump()), "POST " + base_ + "/subscriptions");
}

void nmos_client::readPage(const std::string& path) { request(httpGet(authority_, path), "GET " + path); }

void nmos_client::bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) {
    if (!open_) return;
    begin(now, out);
    feed(data, size);
}

void nmos_client::secondBytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now,
                              router_actions& out) {
    if (!open_ || !secondOpen_) return;
    begin(now, out, 1);
    feed(data, size);
}

void nmos_client::feed(const std::uint8_t* data, std::size_t size) {
    on().inbox.append(reinterpret_cast<const char*>(data), size);
    if (on().at == stage::following) {
        feedFrames();
        return;
    }
    answered_ = false;
    feedHttp();
    // An answer still coming is an answer: wait for the rest.
    if (open_ && on().deadline && !answered_ && on().at != stage::following) {
        on().deadline = now_ + settings_.connectTimeout;
        armEarliest();
    }
}

void nmos_client::feedHttp() {
    while (open_ && on().at != stage::following && !on().inbox.empty()) {
        if (!on().parser) {
            // Empty lines before an answer are skipped, and its header is
            // read whole, so that how it was cut does not change what is
            // said of it.
            on().inbox.erase(0, std::min(on().inbox.find_first_not_of("\r\n"), on().inbox.size()));
            const std::size_t end = on().inbox.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (on().inbox.size() > max_header_bytes)
                    fail("the registry's answer to " + on().waitingFor + " has a header of more than " +
                         std::to_string(max_header_bytes) + " bytes");
                return;
            }
            if (!isStatusLine(on().inbox)) {
                fail("the registry's answer to " + on().waitingFor + " is not HTTP/1.x: " +
                     cleanLabel(on().inbox.substr(0, std::min<std::size_t>(on().inbox.find('\r'), 40))).text);
                return;
            }
            if (!lengthWithin(std::string_view(on().inbox).substr(0, end + 2))) {
                fail("the registry's answer to " + on().waitingFor + " is longer than " +
                     std::to_string(max_document_bytes) + " bytes (or its Content-Length is not a number)");
                return;
            }
            on().parser = std::make_unique<parser_box>();
            on().parser->parser.body_limit(max_document_bytes);
            on().parser->parser.header_limit(static_cast<std::uint32_t>(max_header_bytes) + 4);
            on().parser->parser.eager(true);
        }
        boost::beast::error_code error;
        const std::size_t used =
            on().parser->parser.put(boost::asio::buffer(on().inbox.data(), on().inbox.size()), error);
        on().inbox.erase(0, used);
        if (error == http::error::need_more) return;
        if (error) {
            fail("the registry's answer to " + on().waitingFor + " could not be read as HTTP: " + error.message());
            return;
        }
        if (!on().parser->parser.is_done()) {
            if (used == 0) return;
            continue;
        }
        if (on().parser->parser.need_eof()) {
            fail("the registry's answer to " + on().waitingFor +
                 " gives no length (Content-Length or chunked), so no request can follow it on the connection");
            return;
        }
        const auto& message = on().parser->parser.get();
        http_answer response;
        response.status = static_cast<int>(message.result_int());
        response.reason = std::string(message.reason());
        response.body = message.body();
        const auto header = [&message](const char* name) {
            const auto found = message.find(name);
            return found == message.end() ? std::string() : std::string(found->value());
        };
        response.pagingLimit = header("X-Paging-Limit");
        response.link = header("Link");
        response.upgrade = header("Upgrade");
        response.accept = header("Sec-WebSocket-Accept");
        on().parser.reset();
        on().deadline.reset();
        answered_ = true;
        answer(response);
    }
    if (open_ && on().at == stage::following && !on().inbox.empty()) feedFrames();
}

void nmos_client::answer(const http_answer& response) {
    const stage at = on().at;
    const bool paging501 = response.status == 501 && paged_ && (at == stage::senders || at == stage::receivers);
    const bool subscribing = at == stage::subscribe || at == stage::subscribe_senders;
    const bool expected = at == stage::opening || at == stage::versions || paging501 || response.status == 200 ||
                          (subscribing && response.status == 201);
    if (!expected) {
        fail("the registry answered " + std::to_string(response.status) + " " + cleanLabel(response.reason).text +
             " to " + on().waitingFor);
        return;
    }
    switch (on().at) {
        case stage::versions: takeVersions(response); break;
        case stage::subscribe:
        case stage::subscribe_senders: takeSubscription(response); break;
        case stage::senders:
        case stage::receivers: takePage(response); break;
        case stage::opening: takeUpgrade(response); break;
        case stage::following: break;
    }
}

void nmos_client::takeVersions(const http_answer& response) {
    std::vector<std::string> offered;
    if (response.status == 200) {
        const json list = json::parse(response.body, nullptr, false);
        if (list.is_array())
            for (const json& item : list)
                if (item.is_string()) {
                    std::string v = item.get<std::string>();
                    while (!v.empty() && v.back() == '/') v.pop_back();
                    offered.push_back(v);
                }
    }
    for (const char* want : {"v1.3", "v1.2"})
        if (std::find(offered.begin(), offered.end(), want) != offered.end()) {
            base_ = prefix_ + "/x-nmos/query/" + want;
            subscribe(1);
            return;
        }
    std::string list;
    for (const std::string& v : offered) list += (list.empty() ? "" : ", ") + cleanLabel(v).text;
    fail("the registry offers no Query API this host reads (v1.3 or v1.2) at " + prefix_ + "/x-nmos/query/" +
         (response.status == 200 ? " (it offers: " + (list.empty() ? std::string("none") : list) + ")"
                                 : " (answered " + std::to_string(response.status) + ")"));
}

void nmos_client::takeSubscription(const http_answer& response) {
    const json body = json::parse(response.body, nullptr, false);
    if (!body.is_object() || !body.contains("ws_href") || !body["ws_href"].is_string()) {
        fail("the registry's answer to " + on().waitingFor + " holds no ws_href (a subscription's WebSocket address)");
        return;
    }
    const std::string href = body["ws_href"].get<std::string>();
    // Each WebSocket on its channel: the receivers' on this one, the senders' on channel 1.
    conversation& ws = talk_[on().at == stage::subscribe ? 0 : 1];
    std::string why;
    const std::optional<web_socket_url> url = readWebSocketUrl(href, why);
    if (!url) {
        fail("the subscription's ws_href '" + cleanLabel(href.substr(0, 200)).text + "' " + why);
        return;
    }
    ws.wsPath = url->path;
    if (url->host.empty()) {
        ws.wsHost = settings_.host;
        ws.wsPort = settings_.port;
        ws.wsTls = settings_.tls;
        ws.wsAuthority = authority_;
    } else {
        ws.wsHost = url->host;
        ws.wsPort = url->port;
        ws.wsTls = url->tls;
        ws.wsAuthority = url->authority;
    }
    if (on().at == stage::subscribe) {
        subscribe(0);
        return;
    }
    on().at = stage::senders;
    paged_ = true;
    pages_ = 0;
    reading_[0].clear();
    reading_[1].clear();
    readPage(base_ + paths[0] + "/?paging.order=create&paging.since=0:0&paging.limit=" + std::to_string(page_limit));
}

void nmos_client::takePage(const http_answer& response) {
    const int side = on().at == stage::senders ? 0 : 1;
    if (response.status == 501) {
        // A registry that does not page answers the whole list to a plain GET.
        paged_ = false;
        readPage(base_ + paths[side] + "/");
        return;
    }
    const json list = json::parse(response.body, nullptr, false);
    if (!list.is_array()) {
        fail("the registry's answer to " + on().waitingFor + " is not a JSON list of " + side_names[side] + "s");
        return;
    }
    for (const json& item : list) {
        std::string id;
        nmos_resource resource;
        if (!readResource(side, &item, id, resource)) continue;
        if (reading_[side].size() >= max_resources && !reading_[side].count(id)) {
            problem("too many", std::string("the registry holds more than ") + std::to_string(max_resources) + " " +
                                    side_names[side] + "s; the rest are not followed");
            break;
        }
        reading_[side][id] = std::move(resource);
    }
    ++pages_;
    // Paged when X-Paging-Limit says so; a short page is the last.
    long limit = 0;
    try {
        limit = response.pagingLimit.empty() ? 0 : std::stol(response.pagingLimit);
    } catch (...) {
        limit = 0;
    }
    std::optional<std::string> next = nextLink(response.link);
    if (next && !isRequestPath(*next)) {
        problem("next link", "the registry's next page link '" + cleanLabel(next->substr(0, 200)).text +
                                 "' is not a URL; the read ends at this page");
        next.reset();
    }
    if (paged_ && limit > 0 && list.size() >= static_cast<std::size_t>(limit) && next &&
        reading_[side].size() < max_resources && pages_ < max_resources) {
        readPage(*next);
        return;
    }
    if (side == 0) {
        on().at = stage::receivers;
        paged_ = true;
        pages_ = 0;
        readPage(base_ + paths[1] +
                 "/?paging.order=create&paging.since=0:0&paging.limit=" + std::to_string(page_limit));
        return;
    }
    endRead();
}

bool nmos_client::readResource(int side, const void* item, std::string& id, nmos_resource& resource) {
    const json& r = *static_cast<const json*>(item);
    std::string why;
    if (!r.is_object())
        why = "not an object";
    else if (!r.contains("id") || !r["id"].is_string())
        why = "no id";
    else if (!r.contains("label") || !r["label"].is_string())
        why = "no label";
    else if (side == 1) {
        const auto s = r.find("subscription");
        if (s == r.end() || !s->is_object())
            why = "no subscription";
        else {
            const auto sender = s->find("sender_id");
            const auto active = s->find("active");
            if (sender == s->end() || !(sender->is_string() || sender->is_null()))
                why = "no subscription.sender_id";
            else if (active != s->end() && !active->is_boolean())
                why = "a subscription.active that is not true or false";
            else {
                resource.sender = sender->is_string() ? sender->get<std::string>() : std::string();
                // v1.2 has no active: a receiver subscribed to a sender takes it.
                resource.active = active != s->end() ? active->get<bool>() : !resource.sender.empty();
            }
        }
    }
    if (!why.empty()) {
        const std::string shown = r.is_object() && r.contains("id") && r["id"].is_string()
                                      ? " " + cleanLabel(r["id"].get<std::string>().substr(0, 40)).text
                                      : "";
        problem(std::string("misfit ") + side_names[side], std::string("the registry sent a ") + side_names[side] +
                                                               shown + " with " + why +
                                                               "; it is skipped (further such are not reported)");
        return false;
    }
    id = r["id"].get<std::string>();
    resource.label = r["label"].get<std::string>();
    return true;
}

void nmos_client::endRead() {
    bool numbersChanged = false;
    for (int side : {0, 1}) {
        resources_[side] = std::move(reading_[side]);
        reading_[side].clear();
        readCount_[side] = resources_[side].size();
        const bool listed = side == 0 ? options_.sendersListed : options_.receiversListed;
        if (listed) continue;
        std::vector<std::string> met;
        for (const auto& [id, resource] : resources_[side])
            if (!numbered_[side].count(id)) met.push_back(id);
        numbersChanged |= number(side, std::move(met));
    }
    if (numbersChanged) rememberNumbers();
    publish();
    checkMapping();
    if (!open_) return;
    followNext_ = true;
    reopen(true);
}

bool nmos_client::number(int side, std::vector<std::string> ids) {
    const std::size_t before = entries_[side].size();
    std::sort(ids.begin(), ids.end(), [this, side](const std::string& a, const std::string& b) {
        const std::string& la = resources_[side].at(a).label;
        const std::string& lb = resources_[side].at(b).label;
        return la != lb ? la < lb : a < b;
    });
    for (std::string& id : ids) {
        if (entries_[side].size() >= max_resources) {
            problem(std::string("numbers ") + side_names[side],
                    std::string("more than ") + std::to_string(max_resources) + " " + side_names[side] +
                        "s were met since this host started (a number is kept for good): the rest get none");
            break;
        }
        numbered_[side].emplace(id, static_cast<int>(entries_[side].size()) + 1);
        entries_[side].push_back(std::move(id));
    }
    return entries_[side].size() > before;
}

void nmos_client::rememberNumbers() {
    json kept = json::object();
    const char* const keys[] = {"senders", "receivers"};
    for (int s : {0, 1})
        if (!(s == 0 ? options_.sendersListed : options_.receiversListed)) kept[keys[s]] = entries_[s];
    if (open_) out_->emplace_back(std::in_place_type<act::remember>, act::remember{kept.dump()});
}

void nmos_client::takeUpgrade(const http_answer& response) {
    if (response.status == 404 || response.status == 410) {
        // The subscription is gone (the registry restarted, or dropped it
        // unused): subscribe and read again, once, before giving up.
        if (++upgradeRefusals_ > 1) {
            fail("the registry answered " + std::to_string(response.status) + " to " + on().waitingFor +
                 " again after a new subscription");
            return;
        }
        reopen();
        return;
    }
    std::string upgrade = response.upgrade;
    std::transform(upgrade.begin(), upgrade.end(), upgrade.begin(), [](unsigned char c) { return std::tolower(c); });
    if (response.status != 101 || upgrade != "websocket") {
        // A registry's REST port may answer an upgrade as a plain GET.
        fail("the registry answered " + std::to_string(response.status) + " " + cleanLabel(response.reason).text +
             " to " + on().waitingFor + ", not 101 Switching Protocols to a WebSocket");
        return;
    }
    if (response.accept != webSocketAccept(on().wsKey)) {
        fail("the registry's Sec-WebSocket-Accept does not answer the key sent in " + on().waitingFor);
        return;
    }
    on().at = stage::following;
    // A refusal counts as in a row until both WebSockets are open.
    if (talk_[1 - channel_].at == stage::following) upgradeRefusals_ = 0;
}

void nmos_client::feedFrames() {
    on().frames.feed(on().inbox);
    on().inbox.clear();
    while (open_) {
        std::optional<frame_reader::event> e = on().frames.next();
        if (!e) break;
        switch (e->what) {
            case frame_reader::event::kind::message: takeGrain(e->payload); break;
            case frame_reader::event::kind::ping: send(clientFrame(opcode::pong, e->payload, nextMask())); break;
            case frame_reader::event::kind::pong:
                out_->emplace_back(std::in_place_type<act::answered>, act::answered{channel_});
                break;
            case frame_reader::event::kind::close:
                // The registry ends the subscription's socket: subscribe and
                // read again on a new connection.
                publishIfStale();
                reopen();
                return;
            case frame_reader::event::kind::error: fail("the registry's WebSocket: " + e->payload); return;
        }
    }
    // What the grains of these bytes changed, told once: a registry sends
    // a sync or a node's return as hundreds of grains.
    publishIfStale();
}

void nmos_client::takeGrain(const std::string& text) {
    const json message = json::parse(text, nullptr, false);
    const auto misfit = [this](const std::string& why) {
        problem("grain", "a WebSocket message that is not a grain of changes (" + why +
                             ") was skipped (further such are not reported)");
    };
    if (message.is_discarded()) return misfit("not JSON");
    if (!message.is_object() || !message.contains("grain") || !message["grain"].is_object()) return misfit("no grain");
    const json& grain = message["grain"];
    if (!grain.contains("data") || !grain["data"].is_array()) return misfit("no data list");
    const std::string topic =
        grain.contains("topic") && grain["topic"].is_string() ? grain["topic"].get<std::string>() : "";
    int side = -1;
    if (topic.rfind("/receivers", 0) == 0)
        side = 1;
    else if (topic.rfind("/senders", 0) == 0)
        side = 0;
    if (side < 0) return;                  // another kind of resource: not followed
    std::vector<std::string> connections;  // receivers whose connection alone may have changed
    std::vector<std::string> met;          // resources this link had not numbered yet
    const bool listed = side == 0 ? options_.sendersListed : options_.receiversListed;
    bool renumber = false;
    bool live = false;  // a change that is not a sync entry: the sync is over
    for (const json& change : grain["data"]) {
        if (!change.is_object()) {
            misfit("a change that is not an object");
            continue;
        }
        const auto post = change.find("post");
        const auto pre = change.find("pre");
        if (pre == change.end() || post == change.end() || *pre != *post)
            live = true;
        else if (syncing_ && !synced_[channel_] && post->is_object() && post->contains("id") &&
                 (*post)["id"].is_string())
            syncSeen_[channel_].insert((*post)["id"].get<std::string>());
        if (post != change.end() && post->is_object()) {
            std::string id;
            nmos_resource resource;
            if (!readResource(side, &*post, id, resource)) continue;
            if (resources_[side].size() >= max_resources && !resources_[side].count(id)) {
                problem("too many", std::string("the registry holds more than ") + std::to_string(max_resources) + " " +
                                        side_names[side] + "s; the rest are not followed");
                continue;
            }
            const auto held = resources_[side].find(id);
            // A receiver that keeps its label changes only its connection:
            // the numbers it has stay; anything else renumbers.
            if (side == 1 && held != resources_[side].end() && held->second.label == resource.label)
                connections.push_back(id);
            else
                renumber = true;
            if (!listed && !numbered_[side].count(id) &&
                std::find(met.begin(), met.end(), id) == met.end())
                met.push_back(id);
            resources_[side][id] = std::move(resource);
        } else if (pre != change.end() && pre->is_object()) {
            renumber = true;
            // A pre without a post: the resource is gone.
            const auto id = pre->find("id");
            if (id != pre->end() && id->is_string())
                resources_[side].erase(id->get<std::string>());
            else if (change.contains("path") && change["path"].is_string())
                resources_[side].erase(change["path"].get<std::string>());
        } else {
            misfit("a change with neither pre nor post");
        }
    }
    // A resource removed in the same grain as it came is not numbered.
    met.erase(std::remove_if(met.begin(), met.end(), [&](const std::string& id) { return !resources_[side].count(id); }),
              met.end());
    if (number(side, std::move(met))) rememberNumbers();
    if (renumber || stale_ || syncing_)
        stale_ = true;
    else
        publishConnections(connections);
    if (syncing_ && !synced_[channel_]) {
        // A registry pages its sync as it pages a list: the sync is whole
        // at a shorter grain than its first, at as many resources as the
        // read found, at a change that is news, or when it pauses.
        const std::size_t size = grain["data"].size();
        const bool first = syncFirst_[channel_] == 0;
        if (first) syncFirst_[channel_] = size;
        if (live || size == 0 || (!first && size < syncFirst_[channel_]) ||
            syncSeen_[channel_].size() >= readCount_[side]) {
            synced_[channel_] = true;
            if (synced_[0] && synced_[1]) endSync();
        } else {
            syncQuiet_[channel_] = now_ + sync_pause;
            armEarliest();
        }
    }
}

void nmos_client::publishIfStale() {
    if (stale_ && !syncing_) publish();
}

void nmos_client::endSync() {
    syncing_ = false;
    if (!open_) return;
    publishIfStale();
    if (up_) {
        out_->emplace_back(std::in_place_type<act::read_end>);
        return;
    }
    up_ = true;
    const int sizes[] = {settings_.sources, settings_.destinations};
    int shown[2];
    for (int side : {0, 1}) shown[side] = sizes[side] > 0 ? sizes[side] : static_cast<int>(entries_[side].size());
    out_->emplace_back(std::in_place_type<act::up>, act::up{shown[0], shown[1]});
}

void nmos_client::publish() {
    stale_ = false;
    if (!open_) return;
    int count[2];
    const int sizes[] = {settings_.sources, settings_.destinations};
    std::unordered_map<std::string, std::string> byLabel[2];  // label -> the lowest id bearing it
    for (int side : {0, 1}) {
        count[side] = static_cast<int>(entries_[side].size());
        if (sizes[side] > 0) count[side] = std::min(count[side], sizes[side]);
        shownLabel_[side].resize(static_cast<std::size_t>(count[side]));
        for (const auto& [id, resource] : resources_[side]) byLabel[side].emplace(resource.label, id);
    }
    // Entry i of a side: its id; or the resource its label first named,
    // kept through relabels while the resource lasts.
    const auto resolve = [&](int side, std::size_t i) -> const std::pair<const std::string, nmos_resource>* {
        const std::string& key = entries_[side][i];
        auto found = resources_[side].find(key);
        if (found != resources_[side].end()) return &*found;
        std::vector<std::string>& bound = bound_[side];
        if (bound.size() < entries_[side].size()) bound.resize(entries_[side].size());
        found = bound[i].empty() ? resources_[side].end() : resources_[side].find(bound[i]);
        if (found != resources_[side].end()) return &*found;
        const auto named = byLabel[side].find(key);
        if (named == byLabel[side].end()) return nullptr;
        bound[i] = named->second;
        return &*resources_[side].find(named->second);
    };
    const auto label = [&](int side, int n, const std::string& raw) {
        std::optional<std::string>& shown = shownLabel_[side][static_cast<std::size_t>(n - 1)];
        if (shown && *shown == raw) return;
        shown = raw;
        const cleaned_label cleaned = cleanLabel(raw);
        if (cleaned.repaired)
            problem("label", repairedLabelText(std::string(side_names[side]) + " " + std::to_string(n) + "'s label",
                                               raw, cleaned));
        out_->emplace_back(std::in_place_type<act::label>,
                           act::label{side == 0 ? source_labels : destination_labels, n, cleaned.text});
    };
    std::unordered_map<std::string, int>& sourceOf = sourceOf_;
    sourceOf.clear();
    destinationsOf_.clear();
    for (int n = 1; n <= count[0]; ++n)
        if (const auto* sender = resolve(0, static_cast<std::size_t>(n - 1))) {
            sourceOf.emplace(sender->first, n);
            label(0, n, sender->second.label);
        }
    shownSource_.resize(static_cast<std::size_t>(count[1]), -1);
    for (int n = 1; n <= count[1]; ++n) {
        const auto* receiver = resolve(1, static_cast<std::size_t>(n - 1));
        if (receiver) {
            label(1, n, receiver->second.label);
            destinationsOf_[receiver->first].push_back(n);
        }
        showSource(n, receiver ? &receiver->second : nullptr);
    }
}

void nmos_client::showSource(int destination, const nmos_resource* receiver) {
    int source = 0;
    if (receiver && receiver->active && !receiver->sender.empty()) {
        const auto found = sourceOf_.find(receiver->sender);
        if (found != sourceOf_.end()) source = found->second;
    }
    int& shown = shownSource_[static_cast<std::size_t>(destination - 1)];
    if (shown == source) return;
    shown = source;
    out_->emplace_back(std::in_place_type<act::crosspoint>, act::crosspoint{destination, source, false});
}

void nmos_client::publishConnections(const std::vector<std::string>& receivers) {
    if (!open_) return;
    for (const std::string& id : receivers) {
        const auto numbers = destinationsOf_.find(id);
        const auto receiver = resources_[1].find(id);
        if (numbers == destinationsOf_.end() || receiver == resources_[1].end()) continue;
        for (const int n : numbers->second) showSource(n, &receiver->second);
    }
}

void nmos_client::checkMapping() {
    const int sizes[] = {settings_.sources, settings_.destinations};
    const char* const size_keys[] = {"DatabaseSize_0", "DatabaseSize_1"};
    for (int side : {0, 1}) {
        const bool listed = side == 0 ? options_.sendersListed : options_.receiversListed;
        if (!listed) continue;
        const int n = static_cast<int>(entries_[side].size());
        if (sizes[side] > 0 && n != sizes[side] && warned_.insert(std::string("size ") + list_keys[side]).second)
            problem(std::string("size ") + list_keys[side],
                    std::string(list_keys[side]) + "= names " + std::to_string(n) + " " + side_names[side] + "s and " +
                        size_keys[side] + " is " + std::to_string(sizes[side]) + ": numbers up to " +
                        std::to_string(std::min(n, sizes[side])) + " are followed");
        for (int i = 0; i < n; ++i) {
            const std::string& key = entries_[side][static_cast<std::size_t>(i)];
            if (resources_[side].count(key)) continue;
            const std::size_t at = static_cast<std::size_t>(i);
            if (at < bound_[side].size() && resources_[side].count(bound_[side][at])) continue;
            bool labelled = false;
            for (const auto& [id, resource] : resources_[side])
                if (resource.label == key) {
                    labelled = true;
                    break;
                }
            if (labelled || !warned_.insert(std::to_string(side) + key).second) continue;
            problem("unmapped " + std::to_string(side) + key,
                    std::string(list_keys[side]) + "= names '" + cleanLabel(key).text + "' (" +
                        (side == 0 ? "source " : "destination ") + std::to_string(i + 1) +
                        "), which the registry does not hold" +
                        (side == 0 ? ": a receiver taking it shows no source" : ": it shows no source"));
        }
    }
}

void nmos_client::timer(router_clock::time_point now, router_actions& out) {
    if (!open_) return;
    begin(now, out);
    for (int channel : {0, 1}) {
        channel_ = channel;
        if (on().deadline && now >= *on().deadline) {
            fail("no answer to " + on().waitingFor + " within " + std::to_string(settings_.connectTimeout.count()) +
                 " ms (ConnectTimeout)");
            return;
        }
    }
    // A WebSocket without a grain by then: what came is the read.
    for (int channel : {0, 1})
        if (syncing_ && !synced_[channel] && syncQuiet_[channel] && now >= *syncQuiet_[channel])
            synced_[channel] = true;
    if (syncing_ && (now >= syncDeadline_ || (synced_[0] && synced_[1]))) endSync();
    // A wake-up for a deadline since met: the other channel's may remain.
    armEarliest();
}

void nmos_client::keepAlive(router_clock::time_point now, router_actions& out) {
    if (!open_) return;
    for (int channel : {0, 1}) {
        begin(now, out, channel);
        if (on().at == stage::following) send(clientFrame(opcode::ping, "", nextMask()));
    }
}

void nmos_client::resync(router_clock::time_point now, router_actions& out) {
    if (!open_ || talk_[0].at != stage::following) return;
    begin(now, out);
    // The WebSockets' connections carry nothing else: read on a new one,
    // then follow on two more; only what changed is reported.
    reopen();
}

void nmos_client::poll(int firstDestination, int lastDestination, router_actions& out) {
    if (!up_) return;
    out_ = &out;
    const int last = std::min(lastDestination, static_cast<int>(shownSource_.size()));
    for (int d = std::max(firstDestination, 1); d <= last; ++d) {
        const int source = shownSource_[static_cast<std::size_t>(d - 1)];
        if (source >= 0) out.emplace_back(std::in_place_type<act::crosspoint>, act::crosspoint{d, source, false});
    }
}

}  // namespace quon::routers::nmos
