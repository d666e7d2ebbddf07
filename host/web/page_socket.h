// What every WebSocket of the page's clients keeps to, the wall's and a
// tally page's alike: the handshake within the header timeout, pings while
// idle, text messages, and at most a small one from the client (a page only
// answers pings and closes). Internal to quon_web.
#ifndef QUON_WEB_PAGE_SOCKET_H
#define QUON_WEB_PAGE_SOCKET_H

#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cstddef>

#include "server_state.h"

namespace quon::web {

constexpr std::size_t max_page_message_bytes = 1024;

template <class WebSocket>
void setUpPageSocket(WebSocket& ws, const server_state& server) {
    boost::beast::get_lowest_layer(ws).expires_never();
    boost::beast::websocket::stream_base::timeout timeouts;
    timeouts.handshake_timeout = server.settings.limits.headerTimeout;
    timeouts.idle_timeout = server.settings.idleTimeout;
    timeouts.keep_alive_pings = true;
    ws.set_option(timeouts);
    ws.read_message_max(max_page_message_bytes);
    ws.text(true);
}

}  // namespace quon::web

#endif
