// The pair's setting: the addresses of the hosts, the facility and the
// service, the routers' size, and the bounds of the verdicts.
#ifndef QUON_TESTS_TAKEOVER_PAIR_SETTING
#define QUON_TESTS_TAKEOVER_PAIR_SETTING

#include <array>
#include <chrono>
#include <filesystem>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

namespace quon::takeover {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using steady = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

constexpr const char* service_address = "192.0.2.50";
constexpr const char* facility_address = "192.0.2.10";
constexpr std::array<const char*, 2> host_addresses = {"192.0.2.1", "192.0.2.2"};
constexpr std::array<const char*, 2> host_names = {"A", "B"};
constexpr int router_count = 2;
constexpr int router_size = 16;  // sources and destinations of each router
// Bounds past which something did not happen at all (a verdict), far above
// the figures' targets, which are only reported.
constexpr std::chrono::seconds takeover_limit{15};
constexpr std::chrono::seconds convergence_limit{15};
constexpr std::chrono::seconds recovery_limit{30};
constexpr int skipped = 77;

}  // namespace quon::takeover

#endif
