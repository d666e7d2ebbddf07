#include "request_handler.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include <algorithm>
#include <cctype>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>
#include <cstdio>
#include <optional>

#include "quon/common/text.h"
#include "web_assets.h"

namespace quon::web {

namespace {

namespace http = boost::beast::http;
using string_view = boost::beast::string_view;

// Only the host's own files may run or style the page; nothing inline,
// nothing from elsewhere, no framing.
constexpr char content_security_policy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr string_view control_prefix = "/api/displays/";
constexpr string_view lineup_target = "/api/lineup";
constexpr std::size_t max_control_bytes = 1024;

// Whether `given` is `secret` (never empty), in a time that does not tell
// how much of it matched.
bool sameSecret(const std::string& given, const std::string& secret) {
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i)
        differ |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return differ == 0;
}

// `text` with each %XX made the byte it stands for, as a browser encodes a
// path segment; false when a % is not followed by two hex digits.
bool percentDecoded(const std::string& text, std::string& out) {
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = hex(text[i + 1]);
        const int low = hex(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// `text` as HTML text or a quoted attribute value.
std::string htmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

constexpr string_view tally_prefix = "/tally/";

// A tally page for a name the wall does not show: a page a person on a
// phone reads, saying so, with no script.
void tallyNotFound(http_response& response, const std::string& name) {
    response.result(http::status::not_found);
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.body() =
        "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>no such tally</title>"
        "<link rel=\"stylesheet\" href=\"/tally.css\"></head>\n<body data-tally=\"unknown\"><main class=\"tally\">"
        "<h1 class=\"who\">" +
        htmlEscaped(systemText(name)) +
        "</h1><p class=\"state\">not on this wall</p><p class=\"note\">No display or source of this name: "
        "check the address.</p></main></body></html>\n";
}

http_response readAnswer(const http_request& request, const request_context& context) {
    const wall_model& model = context.model;
    http_response response{http::status::ok, request.version()};
    response.set(http::field::server, "quon-host");
    response.set("Content-Security-Policy", content_security_policy);
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());

    string_view target = request.target();
    target = target.substr(0, target.find('?'));
    // HEAD is answered as GET is, without the body (every server must).
    const bool head = request.method() == http::verb::head;
    if (request.method() != http::verb::get && !head) {
        response.result(http::status::method_not_allowed);
        response.set(http::field::allow, "GET, HEAD");
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = "read-only: GET only\n";
    } else if (target == "/api/displays") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.displaysJson();
    } else if (target == "/api/routers") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.routersJson();
    } else if (target == "/api/receivers") {
        response.set(http::field::content_type, "application/json");
        response.body() =
            context.readReceivers ? wall_model::receiversJson(context.readReceivers()) : model.receiversJson();
    } else if (target == "/api/tally-inputs") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.tallyInputsJson();
    } else if (target.starts_with(tally_prefix)) {
        std::string name;
        bool sourceOnly = false;
        const web_asset* page = findWebAsset("/tally.html");
        if (readTallyPath(std::string_view(target.data(), target.size()), "/tally/", name, sourceOnly) &&
            model.findTallyTarget(name, sourceOnly)) {
            response.set(http::field::content_type, page->contentType);
            response.body().assign(reinterpret_cast<const char*>(page->data), page->size);
        } else {
            tallyNotFound(response, name);
        }
    } else if (target == "/api/events") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.eventsJson(0);
    } else if (target == "/metrics" && context.metrics) {
        response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
        response.body() = context.metrics();
    } else if (target == "/healthz") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.healthJson(context.pages);
    } else if (const web_asset* asset = findWebAsset(target == "/" ? "/index.html" : std::string(target))) {
        response.set(http::field::content_type, asset->contentType);
        response.body().assign(reinterpret_cast<const char*>(asset->data), asset->size);
    } else {
        response.result(http::status::not_found);
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = "not found\n";
    }
    response.prepare_payload();
    if (head) response.body().clear();  // Content-Length stays: the size GET would send
    return response;
}

// What a control request's log line may show: the token hidden wherever
// it is, and so is the value of any query parameter whose name ends in
// "token" (a client that puts a token in the URL, which the API never
// reads, may hold the right one, or another host's).
constexpr char hidden[] = "(hidden)";

std::string hiddenToken(std::string text, const std::string& token) {
    if (token.empty()) return text;
    for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at + sizeof hidden - 1))
        text.replace(at, token.size(), hidden);
    return text;
}

std::string hiddenQueryTokens(std::string text) {
    const std::string mask = hidden;
    const auto query = text.find('?');
    if (query == std::string::npos) return text;
    for (auto start = query + 1; start < text.size();) {
        auto end = text.find_first_of("&;", start);
        if (end == std::string::npos) end = text.size();
        const auto equals = text.find('=', start);
        if (equals != std::string::npos && equals < end) {
            const std::string name = lowerCase(text.substr(start, equals - start));
            if (name.size() >= 5 && name.compare(name.size() - 5, 5, "token") == 0) {
                text.replace(equals + 1, end - equals - 1, mask);
                end = equals + 1 + mask.size();
            }
        }
        start = end + 1;
    }
    return text;
}

// The first byte of `text` below 0x20 or 0x7F: a component reads a parent
// command as a C string, and the host's command words as text, so a NUL
// would cut it short and the others have no meaning there.
std::optional<std::size_t> controlByte(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return i;
    }
    return std::nullopt;
}

constexpr char view_cookie[] = "quon_view";

// A cookie's value holds none of ; , " \ or blanks: the token is written
// percent-encoded wherever it has anything but letters, digits and -._~.
std::string cookieValue(const std::string& token) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

// The tokens a request brings: its bearer, and the view cookie's.
std::vector<std::string> tokensOf(const http_request& request) {
    std::vector<std::string> tokens;
    const auto authorization = request.find(http::field::authorization);
    constexpr string_view bearer = "Bearer ";
    if (authorization != request.end() && authorization->value().starts_with(bearer))
        tokens.emplace_back(authorization->value().substr(bearer.size()));
    for (auto field = request.find(http::field::cookie); field != request.end() && field->name() == http::field::cookie;
         ++field) {
        const std::string text(field->value());
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            std::size_t first = text.find_first_not_of(' ', start);
            const std::string pair = first < end ? text.substr(first, end - first) : std::string();
            const std::string name = std::string(view_cookie) + "=";
            std::string decoded;
            if (pair.compare(0, name.size(), name) == 0 && percentDecoded(pair.substr(name.size()), decoded))
                tokens.push_back(std::move(decoded));
            start = end + 1;
        }
    }
    return tokens;
}

bool brings(const http_request& request, const std::string& token) {
    if (token.empty()) return false;
    bool found = false;
    // Every one is compared, found or not: the time says nothing.
    for (const std::string& given : tokensOf(request)) found = sameSecret(given, token) || found;
    return found;
}

// Whether the request's Authorization is "Bearer " and the control token:
// control is asked for by a program, never by the view cookie.
bool bearsControl(const http_request& request, const std::string& controlToken) {
    const auto authorization = request.find(http::field::authorization);
    const std::string bearer = "Bearer ";
    return !controlToken.empty() && authorization != request.end() &&
           sameSecret(std::string(authorization->value()), bearer + controlToken);
}

// What the control log says the client was: "control" with the control
// token, "view" with the view token, "no token" otherwise.
std::string roleOf(const http_request& request, const request_context& context) {
    if (bearsControl(request, context.control.token)) return "control";
    if (brings(request, context.viewToken)) return "view";
    return "no token";
}

http_response plainAnswer(const http_request& request, http::status status, const std::string& body) {
    http_response response{status, request.version()};
    response.set(http::field::server, "quon-host");
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set("Content-Security-Policy", content_security_policy);
    response.set("X-Content-Type-Options", "nosniff");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = body;
    response.prepare_payload();
    return response;
}

// The form that asks for the view token: plain HTML, posted to this host
// alone, nothing that runs.
http_response tokenForm(const http_request& request, bool wrong, const std::string& then = "/") {
    http_response response = plainAnswer(request, http::status::unauthorized, "");
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set("Content-Security-Policy", "default-src 'none'; form-action 'self'; frame-ancestors 'none'");
    response.set(http::field::www_authenticate, "Bearer");
    response.body() = std::string(
        "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>quon-host</title></head><body>\n"
        "<form method=\"post\" action=\"/login\"><input type=\"hidden\" name=\"then\" value=\"") +
        htmlEscaped(then) + "\"><p>" +
        (wrong ? "That is not this wall's token." : "This wall is shown to those who give its view token.") +
        "</p>\n<p><label>Token <input name=\"token\" type=\"password\" autocomplete=\"current-password\" required "
        "autofocus></label> <button>Show the wall</button></p></form>\n</body></html>\n";
    response.prepare_payload();
    return response;
}

// POST /login, from the form: the view or the control token, kept by the
// browser as a cookie of this host that no script reads and no other
// site's request carries.
http_response loginAnswer(const http_request& request, const request_context& context) {
    if (context.viewToken.empty()) return plainAnswer(request, http::status::not_found, "this wall needs no token\n");
    if (!sameOrigin(request))
        return plainAnswer(request, http::status::forbidden, "another site's page may not give a token\n");
    std::string token;
    std::string then = "/";
    const std::string& body = request.body();
    for (std::size_t start = 0; start < body.size();) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        std::string pair = body.substr(start, end - start);
        std::replace(pair.begin(), pair.end(), '+', ' ');
        if (pair.compare(0, 6, "token=") == 0 && !percentDecoded(pair.substr(6), token)) token.clear();
        // Back to a tally page, or else the wall: nowhere another site
        // could name.
        std::string asked;
        if (pair.compare(0, 5, "then=") == 0 && percentDecoded(pair.substr(5), asked) &&
            asked.compare(0, tally_prefix.size(), tally_prefix.data(), tally_prefix.size()) == 0 &&
            asked.find_first_of("\r\n") == std::string::npos)
            then = asked;
        start = end + 1;
    }
    // Both compared, whichever matches, so the time taken tells nothing of which token it was.
    const bool viewer = !token.empty() && sameSecret(token, context.viewToken);
    const bool controller = !token.empty() && !context.control.token.empty() && sameSecret(token, context.control.token);
    const bool known = viewer || controller;
    if (!known) return tokenForm(request, true, then);
    http_response response = plainAnswer(request, http::status::see_other, "");
    response.set(http::field::location, then);
    response.set(http::field::set_cookie, std::string(view_cookie) + "=" + cookieValue(token) +
                                              "; Path=/; HttpOnly; SameSite=Strict; Max-Age=2592000" +
                                              (context.tls ? "; Secure" : ""));
    return response;
}

// A request without the view token where one is set.
http_response lockedAnswer(const http_request& request, const request_context& context) {
    string_view target = request.target();
    target = target.substr(0, target.find('?'));
    if (target == "/healthz") {
        http_response response = plainAnswer(request, http::status::ok, context.model.healthStatusJson());
        response.set(http::field::content_type, "application/json");
        return response;
    }
    if (target == "/" || target == "/index.html") return tokenForm(request, false);
    // Nothing said of whether the name is on the wall until the token is.
    if (target.starts_with(tally_prefix)) return tokenForm(request, false, std::string(target));
    http_response response = plainAnswer(request, http::status::unauthorized, "this wall needs its view token\n");
    response.set(http::field::www_authenticate, "Bearer");
    return response;
}

// The control API. A browser sends a custom Authorization header to
// another site only after a preflight (OPTIONS), which is never allowed
// here, and a foreign Origin is refused besides: another site's page cannot
// make a browser act on the wall.
http_response controlAnswer(const http_request& request, const request_context& context) {
    const control_settings& control = context.control;
    const std::string target(request.target());
    const auto answer = [&](http::status status, const std::string& body) {
        http_response response{status, request.version()};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.set("Content-Security-Policy", content_security_policy);
        response.set("X-Content-Type-Options", "nosniff");
        response.set(http::field::cache_control, "no-store");
        if (status == http::status::unauthorized) response.set(http::field::www_authenticate, "Bearer");
        response.keep_alive(request.keep_alive());
        response.body() = body;
        response.prepare_payload();
        // Who sent what, and what came of it; the body is one line of at
        // most max_control_bytes, or is said to be longer.
        if (control.log) {
            const std::string& sent = request.body();
            const std::string shown =
                sent.size() > max_control_bytes ? "(" + std::to_string(sent.size()) + " bytes)" : "\"" + sent + "\"";
            control.log(hiddenToken(hiddenToken(context.peer + " POST " + hiddenQueryTokens(target) + " " + shown,
                                                control.token),
                                    context.viewToken) +
                        ": " + std::to_string(static_cast<int>(status)) + " (" + roleOf(request, context) + ")");
        }
        return response;
    };
    if (control.token.empty()) return answer(http::status::forbidden, "control is off (the wall file's [control])\n");
    if (!sameOrigin(request)) return answer(http::status::forbidden, "another site's page may not control the wall\n");
    if (!bearsControl(request, control.token)) return answer(http::status::unauthorized, "no or wrong token\n");
    if (request.body().size() > max_control_bytes)
        return answer(http::status::payload_too_large,
                      "a control request is at most " + std::to_string(max_control_bytes) + " bytes\n");
    // A line-up's body is the host's ("MODE DURATION [NAME...]"); a
    // display's goes to its component.
    const bool lineup = target == lineup_target;
    std::string display, action = "lineup";
    if (!lineup) {
        const std::string rest = target.substr(control_prefix.size());
        const auto slash = rest.rfind('/');
        const std::string encoded = slash == std::string::npos ? std::string() : rest.substr(0, slash);
        action = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        if (action != "parent" && action != "button") return answer(http::status::not_found, "not found\n");
        // NAME as a browser sends it: percent-encoded ("MON%201" is "MON 1").
        if (!percentDecoded(encoded, display))
            return answer(http::status::bad_request, "a display name with a % not followed by two hex digits\n");
        if (!context.model.findDisplay(display))
            return answer(http::status::not_found, "no display \"" + display + "\"\n");
    }
    if (request.body().find_first_of("\r\n") != std::string::npos || (action == "button" && request.body().empty()))
        return answer(http::status::bad_request,
                      lineup ? "one line: MODE DURATION [DISPLAY...]\n" : "one line: a parent command, or ID[ EVENT]\n");
    if (const std::optional<std::size_t> at = controlByte(request.body())) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(request.body()[*at]));
        return answer(http::status::bad_request, std::string("a control byte (") + byte + ") at byte " +
                                                     std::to_string(*at + 1) +
                                                     (lineup ? ": a line-up is text without control bytes "
                                                               "(below 0x20, or 0x7F)\n"
                                                             : ": a parent command or a button event is text without "
                                                               "control bytes (below 0x20, or 0x7F)\n"));
    }
    // Only the active host drives the screens: a command obeyed here would
    // change what this host's page shows and no screen, and leave its
    // display apart from the active host's.
    if (context.model.role() == "standby")
        return answer(http::status::service_unavailable,
                      "this host is the standby of a pair: send control to the active host\n");
    if (!control.act) return answer(http::status::service_unavailable, "no host to act\n");
    const control_answer done = control.act({context.peer, display, action, request.body()});
    return answer(static_cast<http::status>(done.status), done.body);
}

}  // namespace

http_response answerRequest(const http_request& request, const request_context& context) {
    if (request.method() == http::verb::post && request.target() == "/login") return loginAnswer(request, context);
    if (!mayView(request, context.viewToken, context.control.token)) return lockedAnswer(request, context);
    if (request.method() == http::verb::post &&
        (request.target().starts_with(control_prefix) || request.target() == lineup_target))
        return controlAnswer(request, context);
    return readAnswer(request, context);
}

bool readTallyPath(std::string_view path, std::string_view prefix, std::string& name, bool& sourceOnly) {
    name.clear();
    sourceOnly = false;
    if (path.substr(0, prefix.size()) != prefix) return false;
    std::string_view rest = path.substr(prefix.size());
    constexpr std::string_view source = "source/";
    if (rest.substr(0, source.size()) == source) {
        sourceOnly = true;
        rest.remove_prefix(source.size());
    }
    return percentDecoded(std::string(rest), name) && !name.empty();
}

bool mayView(const http_request& request, const std::string& viewToken, const std::string& controlToken) {
    if (viewToken.empty()) return true;
    const bool viewer = brings(request, viewToken);
    const bool controller = brings(request, controlToken);
    return viewer || controller;
}

http_response redirectToTls(const http_request& request, const std::string& ownAuthority) {
    const string_view host = request[http::field::host];
    http_response response = plainAnswer(request, http::status::permanent_redirect, "this page is served over HTTPS\n");
    response.set(http::field::location,
                 "https://" + (host.empty() ? ownAuthority : std::string(host)) + std::string(request.target()));
    response.keep_alive(false);
    return response;
}

http_response refusal(http::status status, const std::string& reason) {
    http_response response{status, 11};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set("Content-Security-Policy", content_security_policy);
    response.body() = reason;
    response.keep_alive(false);
    response.prepare_payload();
    return response;
}

bool answersTo(std::string_view host, const std::vector<std::string>& names) {
    if (host.empty()) return true;
    std::string name;
    if (host.front() == '[') {
        // An IPv6 address, the only form of one a Host can give.
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        boost::system::error_code error;
        boost::asio::ip::make_address_v6(std::string(host.substr(1, close - 1)), error);
        return !error && (close + 1 == host.size() || host[close + 1] == ':');
    }
    name = lowerCase(std::string(host.substr(0, host.rfind(':'))));
    if (name.empty()) return false;
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(name, error);
    if (!error || name == "localhost") return true;
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool sameOrigin(const http_request& request) {
    const auto origin = request.find(http::field::origin);
    if (origin == request.end()) return true;
    const std::string originText = lowerCase(std::string(origin->value()));
    const auto scheme = originText.find("://");
    if (scheme == std::string::npos) return false;
    return originText.substr(scheme + 3) == lowerCase(std::string(request[http::field::host]));
}

}  // namespace quon::web
