// The [Router] keys of a router on the network, read through each
// protocol's descriptor: the keys a device file is warned about are those
// read, a wrong value names its file, line and key, a key another protocol
// reads is only warned about, Address= takes the protocol's port, an
// https:// URL goes over TLS, and CaFile= is found and loaded when read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <boost/asio/io_context.hpp>

#include "quon/routers/network_routers.h"
#include "quon/routers/router_keys.h"
#include "router_device.h"
#include "temp_system.h"
#include "test_ca.h"

namespace routers = quon::routers;
using testing::HasSubstr;

namespace {

quon::router_description device(const std::string& protocol,
                                const std::vector<std::pair<std::string, std::string>>& keys) {
    return quon::test::routerDevice(protocol, keys);
}

const routers::protocol_descriptor& protocolNamed(const std::string& name) {
    for (const routers::protocol_descriptor& p : quon::networkProtocols())
        if (p.name == name) return p;
    throw std::runtime_error("no protocol " + name);
}

struct key_case {
    const char* name;
    const char* protocol;
    std::vector<std::pair<std::string, std::string>> keys;
    const char* error;  // empty: the client is made
};

void PrintTo(const key_case& c, std::ostream* out) { *out << c.name; }

class RouterKeys : public testing::TestWithParam<key_case> {};

TEST_P(RouterKeys, ReadsOrSaysWhereAndWhy) {
    const key_case& c = GetParam();
    routers::router_settings settings;
    std::string error;
    const auto client = routers::readRouterKeys(device(c.protocol, c.keys), protocolNamed(c.protocol), settings, error);
    if (*c.error == '\0') {
        EXPECT_NE(client, nullptr) << error;
        EXPECT_EQ(error, "");
    } else {
        EXPECT_EQ(client, nullptr);
        EXPECT_THAT(error, HasSubstr(c.error));
    }
}

const std::pair<std::string, std::string> address{"Address", "127.0.0.1"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RouterKeys,
    testing::Values(
        // Keys another protocol reads: warned about as not read, never a failure.
        key_case{"VideohubReadsNoLevelMatrixNameLengthOrAnswerWait",
                 "videohub",
                 {address, {"Level", "x"}, {"Matrix", "x"}, {"NameLength", "3"}, {"AnswerWait", "0"}},
                 ""},
        key_case{"EmberplusReadsNoLevelOrNameLength", "emberplus", {address, {"Level", "x"}, {"NameLength", "3"}}, ""},
        key_case{"Swp08ReadsEachOfItsKeys",
                 "swp08",
                 {address, {"Matrix", "15"}, {"Level", "0"}, {"NameLength", "12"}, {"AnswerWait", "1"}},
                 ""},
        key_case{"EmberplusReadsEachOfItsKeys", "emberplus", {address, {"Matrix", "0.1.0"}, {"AnswerWait", "100"}}, ""},
        key_case{"QuartzReadsEachOfItsKeys", "quartz", {address, {"Level", "b"}, {"AnswerWait", "100"}}, ""},
        key_case{"QuartzReadsNoMatrixOrNameLength", "quartz", {address, {"Matrix", "x"}, {"NameLength", "3"}}, ""},
        key_case{"QuartzLevelNotALetter",
                 "quartz",
                 {address, {"Level", "0"}},
                 "dev_001.ini:4: [Router] Level=0: a level letter from A to Z (V, A, B, ... as the router names its "
                 "levels)"},
        key_case{"NmosReadsEachOfItsKeysAndAUrl",
                 "nmos",
                 {{"Address", "http://[::1]:8010/x-nmos/query/v1.3"}, {"Senders", "CAM 1, 5e000000-0000-4000-8000-000000000001"},
                  {"Receivers", "MON A"}},
                 ""},
        key_case{"NmosListWithAnEmptyEntry",
                 "nmos",
                 {address, {"Receivers", "MON A,,MON C"}},
                 "[Router] Receivers=MON A,,MON C: ids or labels separated by commas, none empty (entry 2 is empty)"},
        key_case{"AUrlOnlyWhereTheProtocolTakesOne", "videohub", {{"Address", "http://127.0.0.1:9990/"}}, "Address=http://127.0.0.1:9990/: "},
        key_case{"AnHttpsUrlOnlyWhereTheProtocolTakesHttp", "videohub", {{"Address", "https://127.0.0.1:9990/"}},
                 "Address=https://127.0.0.1:9990/: "},
        key_case{"ACaFileOnlyOverHttps",
                 "nmos",
                 {{"Address", "http://127.0.0.1/"}, {"CaFile", "ca.pem"}},
                 "dev_001.ini:4: [Router] CaFile=ca.pem: read only with an https:// Address="},
        key_case{"ACaFileThatIsNotThere",
                 "nmos",
                 {{"Address", "https://127.0.0.1/"}, {"CaFile", "/nonexistent/ca.pem"}},
                 "dev_001.ini:4: [Router] CaFile=/nonexistent/ca.pem: /nonexistent/ca.pem cannot be read: No such file "
                 "or directory"},
        key_case{"AnEmptyCaFile",
                 "nmos",
                 {{"Address", "https://127.0.0.1/"}, {"CaFile", ""}},
                 "dev_001.ini:4: [Router] CaFile=: the path of a file of CA certificates (PEM)"},
        key_case{"QuartzLevelOfTwoLetters", "quartz", {address, {"Level", "VA"}}, "[Router] Level=VA: a level letter"},
        key_case{"WithoutAddress",
                 "swp08",
                 {{"Protocol", "swp08"}},
                 "dev_001.ini:3: Protocol=swp08 needs Address=host:port in [Router]"},
        key_case{"AddressPortZero",
                 "videohub",
                 {{"Address", "a:0"}},
                 "dev_001.ini:3: Address=a:0: the port is a number from 1 to 65535"},
        key_case{"ASharedTimingOutOfRange",
                 "videohub",
                 {address, {"silence", "0"}},
                 "dev_001.ini:4: [Router] silence=0: a whole number from 1 to 3600000"},
        key_case{"Swp08LevelPastTheWire",
                 "swp08",
                 {address, {"Level", "16"}},
                 "dev_001.ini:4: [Router] Level=16: a whole number from 0 to 15"},
        key_case{"Swp08NameLengthNotAWidth",
                 "swp08",
                 {address, {"NameLength", "9"}},
                 "dev_001.ini:4: [Router] NameLength=9: 4, 8 or 12"},
        key_case{"Swp08NameLengthNotANumber",
                 "swp08",
                 {address, {"NameLength", "x"}},
                 "dev_001.ini:4: [Router] NameLength=x: a whole number from 4 to 12"},
        key_case{"EmberplusMatrixWithAnEmptyPart",
                 "emberplus",
                 {address, {"Matrix", "0..1"}},
                 "dev_001.ini:4: [Router] Matrix=0..1: an empty part"},
        key_case{"EmberplusMatrixIdentifiersWithAnEmptyPart",
                 "emberplus",
                 {address, {"Matrix", "router//video"}},
                 "[Router] Matrix=router//video: an empty part"},
        key_case{"EmberplusMatrixStartingWithASeparator",
                 "emberplus",
                 {address, {"Matrix", "/router"}},
                 "[Router] Matrix=/router: an empty part"},
        key_case{"EmberplusMatrixEndingWithASeparator",
                 "emberplus",
                 {address, {"Matrix", "0.1."}},
                 "[Router] Matrix=0.1.: an empty part"},
        key_case{"EmberplusMatrixNumberPastAPath",
                 "emberplus",
                 {address, {"Matrix", "99999999999"}},
                 "[Router] Matrix=99999999999: 99999999999 is past the numbers of a path"}),
    [](const testing::TestParamInfo<key_case>& info) { return std::string(info.param.name); });

// Every key a protocol is said to read is read: a value no key takes (a
// range, and an empty entry of a list) fails the router, naming that key.
TEST(RouterKeysOfEachProtocol, EveryKeyListedIsParsed) {
    for (const routers::protocol_descriptor& protocol : quon::networkProtocols()) {
        for (const std::string& key : routers::keysOf(protocol)) {
            if (key == "Address") continue;
            bool refused = false;
            for (const std::string value : {"0..1", "0..1,"}) {
                routers::router_settings settings;
                std::string error;
                if (routers::readRouterKeys(device(protocol.name, {address, {key, value}}), protocol, settings, error))
                    continue;
                refused = true;
                EXPECT_THAT(error, HasSubstr("[Router] " + key + "=" + value + ": ")) << protocol.name;
            }
            EXPECT_TRUE(refused) << protocol.name << " " << key;
        }
    }
}

TEST(RouterKeysOfEachProtocol, AnAddressWithoutAPortTakesTheProtocolsPort) {
    for (const auto& [name, port] :
         {std::pair<std::string, int>{"videohub", 9990}, {"swp08", 8910}, {"emberplus", 9000}, {"quartz", 23}, {"nmos", 80}}) {
        routers::router_settings settings;
        std::string error;
        ASSERT_NE(routers::readRouterKeys(device(name, {{"Address", "[::1]"}}), protocolNamed(name), settings, error),
                  nullptr)
            << error;
        EXPECT_EQ(settings.host, "::1");
        EXPECT_EQ(settings.port, port) << name;
        ASSERT_NE(routers::readRouterKeys(device(name, {{"Address", "host:12"}}), protocolNamed(name), settings, error),
                  nullptr);
        EXPECT_EQ(settings.port, 12) << name;
        EXPECT_EQ(settings.sources, 16);
        EXPECT_EQ(settings.destinations, 8);
    }
}

// What a link learnt and keeps through a restart: beside the device file,
// or in systemd's state folder when serve runs under the packaged unit.
TEST(RouterKeysOfEachProtocol, TheStateFileIsReadFromBesideTheDeviceFileOrTheStateFolder) {
    char pattern[] = "/tmp/quon-keys-test-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::ofstream(folder + "/dev_001.state") << R"({"senders":["a"]})";
    quon::router_description d = device("nmos", {address});
    d.path = folder + "/dev_001.ini";
    routers::router_settings settings;
    std::string error;
    ASSERT_NE(routers::readRouterKeys(d, protocolNamed("nmos"), settings, error), nullptr) << error;
    EXPECT_EQ(settings.stateFile, folder + "/dev_001.state");
    EXPECT_EQ(settings.remembered, R"({"senders":["a"]})");
    ::setenv("STATE_DIRECTORY", (folder + "/state:/elsewhere").c_str(), 1);
    routers::router_settings underSystemd;
    ASSERT_NE(routers::readRouterKeys(d, protocolNamed("nmos"), underSystemd, error), nullptr) << error;
    ::unsetenv("STATE_DIRECTORY");
    EXPECT_EQ(underSystemd.stateFile, folder + "/state/dev_001.state");
    EXPECT_EQ(underSystemd.remembered, "");
    std::filesystem::remove_all(folder);
}

TEST(RouterKeysOfEachProtocol, AnHttpsUrlGoesOverTlsOnPort443UnlessItSaysAnother) {
    const struct {
        const char* address;
        std::uint16_t port;
        bool tls;
        const char* path;
    } cases[] = {
        {"http://registry.example", 80, false, ""},
        {"https://registry.example", 443, true, ""},
        {"HTTPS://registry.example:8443/x-nmos/query/v1.3", 8443, true, "/x-nmos/query/v1.3"},
        {"https://[::1]/x-nmos", 443, true, "/x-nmos"},
    };
    for (const auto& c : cases) {
        routers::router_settings settings;
        std::string error;
        ASSERT_NE(routers::readRouterKeys(device("nmos", {{"Address", c.address}}), protocolNamed("nmos"), settings,
                                          error),
                  nullptr)
            << c.address << ": " << error;
        EXPECT_EQ(settings.port, c.port) << c.address;
        EXPECT_EQ(settings.tls, c.tls) << c.address;
        EXPECT_EQ(settings.path, c.path) << c.address;
        EXPECT_EQ(settings.caFile, "") << c.address;
    }
}

// A relative CaFile= is a file beside the device file; it is loaded when
// the device file is read, so one that cannot serve leaves the router out.
TEST(RouterKeysOfEachProtocol, ACaFileIsFoundBesideTheDeviceFileAndLoadedWhenRead) {
    const temp_system system;
    const quon::test::test_ca ca;
    std::filesystem::copy_file(ca.caFile(), system.folder() + "/ca.pem");
    system.writeFile("garbled.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    std::filesystem::create_directory(system.folder() + "/certs");
    const std::string folder = std::filesystem::path(system.folder()).lexically_normal().string();
    const struct {
        const char* value;
        std::string error;  // empty: read, as the file beside the device file
    } cases[] = {
        {"ca.pem", ""},
        {"./certs/../ca.pem", ""},
        {"missing.pem", folder + "/missing.pem cannot be read: No such file or directory"},
        {"garbled.pem", folder + "/garbled.pem does not load: bad base64 decode"},
        {"certs", folder + "/certs is a folder"},
    };
    for (const auto& c : cases) {
        quon::router_description d = device("nmos", {{"Address", "https://127.0.0.1/"}, {"CaFile", c.value}});
        d.path = system.folder() + "/dev_001.ini";
        routers::router_settings settings;
        std::string error;
        const auto client = routers::readRouterKeys(d, protocolNamed("nmos"), settings, error);
        if (c.error.empty()) {
            EXPECT_NE(client, nullptr) << c.value << ": " << error;
            EXPECT_EQ(settings.caFile, folder + "/ca.pem") << c.value;
        } else {
            EXPECT_EQ(client, nullptr) << c.value;
            EXPECT_THAT(error, HasSubstr(":4: [Router] CaFile=" + std::string(c.value) + ": " + c.error)) << c.value;
        }
    }
}

// Through the registry, as the host uses it: a key of another protocol is
// warned about as ignored, and the router is made all the same.
TEST(RouterKeysOfEachProtocol, AKeyNotReadIsWarnedAboutAndTheRouterIsMade) {
    boost::asio::io_context loop;
    quon::router_registry registry;
    quon::addNetworkRouters(registry, loop);
    const quon::router_description d = device("videohub", {address, {"Level", "x"}});
    std::vector<std::string> warnings;
    registry.checkKeys(d, warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
              "dev_001.ini:4: [Router] Level: not a key of Protocol=videohub (Name, Protocol, Address, "
              "CaFile, ConnectTimeout, KeepAlive, KeepAliveWait, Silence, RetryFirst, RetryCap, Resync); ignored");

    struct no_events : quon::router_events {
        void revertive(int, int, int, uint64_t) override {}
        void nameChanged(int, int, int) override {}
        void statusChanged(int) override {}
        void routerWarning(int, const std::string&) override {}
    } events;
    std::string error;
    EXPECT_NE(registry.create(d, events, error), nullptr) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(registry.protocols(), "emberplus, nmos, quartz, swp08, videohub");
}

}  // namespace
