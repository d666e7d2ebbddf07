// role_watcher on this machine's own route netlink socket: no root needed
// to read the addresses, and 127.0.0.1 is on the loopback interface.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <optional>
#include <string>

#include "quon/pair/role_watcher.h"
#include "run_until.h"

namespace {

namespace ip = boost::asio::ip;

struct told {
    bool active = false;
    std::string cause;
    bool first = false;
};

std::optional<told> firstWord(const char* address) {
    boost::asio::io_context io;
    std::optional<told> role;
    std::string warnings;
    quon::pair::role_watcher watcher(
        io, ip::make_address(address), [&](bool active, const std::string& cause, bool first) {
            if (!role) role = told{active, cause, first};
        },
        [&](const std::string& w) { warnings += w + "\n"; });
    std::string error;
    EXPECT_TRUE(watcher.start(error)) << error;
    EXPECT_TRUE(runUntil(io, [&] { return role.has_value(); })) << warnings;
    EXPECT_EQ(warnings, "");
    return role;
}

TEST(RoleWatcher, AnAddressOfThisMachineMakesItActive) {
    const std::optional<told> role = firstWord("127.0.0.1");
    ASSERT_TRUE(role);
    EXPECT_TRUE(role->active);
    EXPECT_TRUE(role->first);
    EXPECT_EQ(role->cause, "127.0.0.1 is on lo");
}

TEST(RoleWatcher, AnIPv6AddressOfThisMachineIsNamedByItsInterface) {
    const std::optional<told> role = firstWord("::1");
    ASSERT_TRUE(role);
    EXPECT_TRUE(role->active);
    EXPECT_EQ(role->cause, "::1 is on lo");
}

TEST(RoleWatcher, AnAddressThisMachineDoesNotHaveMakesItStandby) {
    // From the documentation range; no test machine holds it.
    const std::optional<told> role = firstWord("192.0.2.77");
    ASSERT_TRUE(role);
    EXPECT_FALSE(role->active);
    EXPECT_TRUE(role->first);
    EXPECT_EQ(role->cause, "192.0.2.77 is not assigned here");
}

}  // namespace
