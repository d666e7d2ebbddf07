// A UDP socket bound to 127.0.0.1 on a port the system picks: a TSL
// receiver for tests and benchmarks. Closed when destroyed.
#ifndef QUON_TEST_LOOPBACK_UDP_H
#define QUON_TEST_LOOPBACK_UDP_H

#include <cstdint>

class loopback_udp_socket {
public:
    loopback_udp_socket();
    ~loopback_udp_socket();
    loopback_udp_socket(const loopback_udp_socket&) = delete;
    loopback_udp_socket& operator=(const loopback_udp_socket&) = delete;

    int descriptor() const { return descriptor_; }
    std::uint16_t port() const { return port_; }

private:
    int descriptor_ = -1;
    std::uint16_t port_ = 0;
};

#endif
