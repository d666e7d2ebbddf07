#include "quon/web/http_address.h"

#include <boost/asio/ip/address.hpp>

#include "quon/common/endpoint.h"

namespace quon::web {

bool parseHttpAddress(const std::string& text, std::string& address, unsigned short& port, std::string& error) {
    // A bare number is a port on the default address.
    const bool bare = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    endpoint_text where;
    std::string why;
    if (!parseEndpoint(bare ? ":" + text : text, where, why)) {
        error = "\"" + text + "\": " + why;
        return false;
    }
    if (!where.port) {
        error = "\"" + text + "\": no port (ADDR:PORT, :PORT or PORT)";
        return false;
    }
    if (where.host.empty()) {
        address = "127.0.0.1";
        port = *where.port;
        return true;
    }
    boost::system::error_code failure;
    const auto parsed = boost::asio::ip::make_address(where.host, failure);
    if (failure) {
        error = "\"" + text + "\": \"" + where.host + "\" is not a numeric IP address";
        return false;
    }
    address = parsed.to_string();
    port = *where.port;
    return true;
}

bool isLoopbackAddress(const std::string& address) {
    boost::system::error_code failure;
    const auto parsed = boost::asio::ip::make_address(address, failure);
    if (failure) return false;
    if (parsed.is_v6() && parsed.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6()).is_loopback();
    return parsed.is_loopback();
}

}  // namespace quon::web
