// The answers of the web view's HTTP API and files: a function from a
// request to its response, with no socket and no timer, so that it is tested
// as it is. What it answers from is passed in. Runs on the io_context's
// thread, as the model it reads.
#ifndef QUON_WEB_REQUEST_HANDLER_H
#define QUON_WEB_REQUEST_HANDLER_H

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "quon/web/web_view.h"
#include "wall_model.h"

namespace quon::web {

using http_request = boost::beast::http::request<boost::beast::http::string_body>;
using http_response = boost::beast::http::response<boost::beast::http::string_body>;

// The control API as the host set it (web_view::control).
struct control_settings {
    std::string token;  // empty: control is off
    std::function<control_answer(const control_request&)> act;
    std::function<void(const std::string&)> log;  // one line per request to the API
};

// What a request is answered from, as it stands when the request came.
// The references must outlive the call.
struct request_context {
    const wall_model& model;
    std::size_t pages;                                                   // live pages open now
    const std::function<std::string()>& metrics;                         // none: /metrics is not found
    const std::function<std::vector<receiver_state>()>& readReceivers;  // none: the model's receivers
    const control_settings& control;
    const std::string& viewToken;  // empty: anyone may look
    bool tls;                      // the request came over HTTPS
    std::string peer;  // "ADDR:PORT" of the client, as the control log names it
};

// The answer to any request but a WebSocket upgrade: GET and HEAD of the
// API and the page's files, POST of the control API and of the view
// token's form (/login), 405 for the rest. With a view token, a request
// without it is answered 401 (the page: a form that asks for it; /healthz:
// its status and role alone).
http_response answerRequest(const http_request& request, const request_context& context);

// NAME of a tally page's path, `prefix` then NAME ("/tally/" for the page,
// "/ws/tally/" for its WebSocket), percent-decoded; "source/NAME" asks for
// the source alone (`sourceOnly`). False when the path is not one, or NAME
// is empty or has a % not followed by two hex digits.
bool readTallyPath(std::string_view path, std::string_view prefix, std::string& name, bool& sourceOnly);

// Whether the request may see the wall: no view token is set, or it brings
// the view or the control token, as the cookie the form sets or as
// "Authorization: Bearer TOKEN". Compared in a time that tells nothing of
// how much matched.
bool mayView(const http_request& request, const std::string& viewToken, const std::string& controlToken);

// 308 to the same Host and target in https, for a plain HTTP request
// where the page is served over TLS; to `ownAuthority` ("ADDR:PORT" the
// client reached) for a request without Host.
http_response redirectToTls(const http_request& request, const std::string& ownAuthority);

// An answer that ends the connection: a request too large or malformed, or
// a WebSocket the server will not open. `reason` is one line.
http_response refusal(boost::beast::http::status status, const std::string& reason);

// Whether `host` (a request's Host, with or without its port) names this
// host: an IP address (a browser's page reached by address), "localhost",
// or one of `names` (lower case: the machine's own name and those the wall
// file lists). A page of another site that reaches this host through a name
// of its own (DNS rebinding) names that one, and is refused. No Host at all
// (HTTP/1.0 tools) is let in: a browser always sends one.
bool answersTo(std::string_view host, const std::vector<std::string>& names);

// Whether the request comes from a page of the host's own origin: a page of
// another site in the same browser must not read or control the wall. Tools
// that send no Origin are let in.
bool sameOrigin(const http_request& request);

}  // namespace quon::web

#endif
