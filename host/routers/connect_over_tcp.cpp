#include "quon/routers/router_connection.h"

#include "quon/routers/two_channel_client.h"
#include "tcp_connection.h"
#include "two_channel_connection.h"

namespace quon::routers {

std::unique_ptr<router_connection> connectOverTcp(boost::asio::io_context& io, const router_settings& settings,
                                                  router_listener& listener, std::unique_ptr<router_client> client) {
    // The device file's protocol makes the client, which alone knows
    // whether it needs a second channel.
    if (auto* twoChannels = dynamic_cast<two_channel_client*>(client.get())) {
        client.release();
        return std::make_unique<connection_handle>(std::make_shared<two_channel_connection>(
            io, settings, listener, std::unique_ptr<two_channel_client>(twoChannels)));
    }
    return std::make_unique<connection_handle>(
        std::make_shared<tcp_connection>(io, settings, listener, std::move(client)));
}

}  // namespace quon::routers
