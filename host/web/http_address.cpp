#include "quon/web/http_address.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>

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
    if (!failure) {
        address = parsed.to_string();
        port = *where.port;
        return true;
    }
    // Digits and dots that are no address ("1.2.3") are a mistake, not a
    // name for the resolver (which would read them the old inet_aton way).
    if (where.host.find_first_not_of("0123456789.") == std::string::npos) {
        error = "\"" + text + "\": \"" + where.host + "\" is not a numeric IP address";
        return false;
    }
    // A name is resolved here, once: the page listens on its first address
    // for as long as the host runs.
    boost::asio::io_context io;
    boost::asio::ip::tcp::resolver resolver(io);
    const auto found = resolver.resolve(where.host, std::to_string(*where.port),
                                        boost::asio::ip::tcp::resolver::numeric_service, failure);
    if (failure || found.empty()) {
        error = "\"" + text + "\": \"" + where.host + "\" does not resolve" +
                (failure ? " (" + failure.message() + ")" : std::string());
        return false;
    }
    address = found.begin()->endpoint().address().to_string();
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
