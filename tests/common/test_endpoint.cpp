// The one reader of "host:port".
#include <gtest/gtest.h>

#include "case_name.h"
#include "quon/common/endpoint.h"

namespace {

struct endpoint_case {
    const char* text;
    bool parses;
    const char* host;
    int port;  // -1: none
};

class Endpoint : public testing::TestWithParam<endpoint_case> {};

TEST_P(Endpoint, ReadsHostAndPortInEveryForm) {
    quon::endpoint_text out;
    out.host = "unchanged";
    std::string error;
    ASSERT_EQ(quon::parseEndpoint(GetParam().text, out, error), GetParam().parses) << error;
    if (!GetParam().parses) {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(out.host, "unchanged");
        return;
    }
    EXPECT_EQ(out.host, GetParam().host);
    EXPECT_EQ(out.port ? *out.port : -1, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Endpoint,
    testing::Values(endpoint_case{"192.0.2.10:9990", true, "192.0.2.10", 9990},
                    endpoint_case{"router-a.studio:2008", true, "router-a.studio", 2008},
                    endpoint_case{"router_b", true, "router_b", -1}, endpoint_case{"[2001:db8::1]:80", true, "2001:db8::1", 80},
                    endpoint_case{"[::1]", true, "::1", -1}, endpoint_case{":8080", true, "", 8080},
                    endpoint_case{"localhost:0", true, "localhost", 0},
                    endpoint_case{"localhost:65535", true, "localhost", 65535}, endpoint_case{"", false, "", -1},
                    endpoint_case{":", false, "", -1}, endpoint_case{"host:", false, "", -1},
                    endpoint_case{"host:65536", false, "", -1}, endpoint_case{"host:-1", false, "", -1},
                    endpoint_case{"host:80x", false, "", -1}, endpoint_case{"::1:80", false, "", -1},
                    endpoint_case{"[::1]80", false, "", -1}, endpoint_case{"[]:80", false, "", -1},
                    endpoint_case{"[::1:80", false, "", -1}, endpoint_case{"host/x:1", false, "", -1},
                    endpoint_case{"a b:1", false, "", -1}, endpoint_case{"[zz]:1", false, "", -1}),
    [](const testing::TestParamInfo<endpoint_case>& info) { return caseName(info.param.text); });

// What endpointText writes, parseEndpoint reads back.
TEST(EndpointText, IsReadBackAsTheSameHostAndPort) {
    for (const char* host : {"192.0.2.10", "router-a.studio", "2001:db8::1", "::1"}) {
        quon::endpoint_text read;
        std::string error;
        ASSERT_TRUE(quon::parseEndpoint(quon::endpointText(host, 9990), read, error)) << host << ": " << error;
        EXPECT_EQ(read.host, host);
        EXPECT_EQ(read.port, std::optional<std::uint16_t>(9990));
    }
}

}  // namespace
