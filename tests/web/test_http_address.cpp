#include "quon/web/http_address.h"

#include <gtest/gtest.h>

#include <string>

#include "case_name.h"

namespace {

struct accepted_case {
    const char* text;
    const char* address;
    unsigned short port;
};

void PrintTo(const accepted_case& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class ParseHttpAddressAccepts : public ::testing::TestWithParam<accepted_case> {};

TEST_P(ParseHttpAddressAccepts, GivesAddressAndPort) {
    std::string address;
    unsigned short port = 1;
    std::string error;
    ASSERT_TRUE(quon::web::parseHttpAddress(GetParam().text, address, port, error)) << error;
    EXPECT_EQ(address, GetParam().address);
    EXPECT_EQ(port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseHttpAddressAccepts,
    ::testing::Values(accepted_case{":8080", "127.0.0.1", 8080}, accepted_case{"8080", "127.0.0.1", 8080},
                      accepted_case{":0", "127.0.0.1", 0}, accepted_case{"127.0.0.1:80", "127.0.0.1", 80},
                      accepted_case{"0.0.0.0:8080", "0.0.0.0", 8080},
                      accepted_case{"0.0.0.0:65535", "0.0.0.0", 65535},
                      accepted_case{"[::1]:9000", "::1", 9000}, accepted_case{"[::]:9000", "::", 9000}),
    [](const ::testing::TestParamInfo<accepted_case>& info) { return caseName(info.param.text); });

class ParseHttpAddressRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(ParseHttpAddressRefuses, WithAReason) {
    std::string address = "unchanged";
    unsigned short port = 0;
    std::string error;
    EXPECT_FALSE(quon::web::parseHttpAddress(GetParam(), address, port, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(address, "unchanged");
}

INSTANTIATE_TEST_SUITE_P(BadInput, ParseHttpAddressRefuses,
                         ::testing::Values("", ":", ":65536", ":-1", ":80x",
                                           "::1:8080", "[::1]8080", "[::1]:", "[]:80", "[::1:80", "1.2.3:80",
                                           "127.0.0.1:", ":123456"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return caseName(info.param);
                         });

// The one name a test may resolve.
TEST(ParseHttpAddress, ResolvesANameOnceToANumericAddress) {
    std::string address;
    unsigned short port = 0;
    std::string error;
    ASSERT_TRUE(quon::web::parseHttpAddress("localhost:8080", address, port, error)) << error;
    EXPECT_TRUE(address == "127.0.0.1" || address == "::1") << address;
    EXPECT_EQ(port, 8080);
}

struct loopback_case {
    const char* address;
    bool loopback;
};

void PrintTo(const loopback_case& c, std::ostream* out) { *out << '"' << c.address << '"'; }

class IsLoopbackAddress : public ::testing::TestWithParam<loopback_case> {};

TEST_P(IsLoopbackAddress, TellsWhetherOnlyThisMachineCanReachIt) {
    EXPECT_EQ(quon::web::isLoopbackAddress(GetParam().address), GetParam().loopback) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(Addresses, IsLoopbackAddress,
                         ::testing::Values(loopback_case{"127.0.0.1", true}, loopback_case{"127.3.2.1", true},
                                           loopback_case{"::1", true}, loopback_case{"::ffff:127.0.0.1", true},
                                           loopback_case{"0.0.0.0", false}, loopback_case{"::", false},
                                           loopback_case{"::ffff:10.0.0.1", false},
                                           loopback_case{"not an address", false}),
                         [](const ::testing::TestParamInfo<loopback_case>& info) {
                             return caseName(info.param.address);
                         });

}  // namespace
