// quon-host serve end to end: the real program with the real module, on a
// system whose router is a fake router of each protocol on loopback, driven
// as an operator would (routes, signals, an edited wall file).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include "fake_tsl_screen.h"
#include "fake_vision_mixer.h"
#include "program_run.h"
#include "test_ca.h"
#include "run_until.h"
#include "tsl_decoder.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
#define QUON_TESTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUON_TESTS_SANITIZED 1
#endif
#endif

namespace {

struct protocol_case {
    const char* protocol;
    bool pushesLabels;  // SW-P-08 routers are asked for names, at connect and at each resync; Ember+ pushes renames
    // Ember+: which requests the fake provider acts on (fake_router --requests); null: every one.
    const char* requests = nullptr;
    std::string device = "";  // lines of the device file's [Router] beyond those every test has
};

void PrintTo(const protocol_case& c, std::ostream* out) {
    *out << c.protocol << (c.requests ? std::string(" ") + c.requests : std::string());
}

std::string caseName(const ::testing::TestParamInfo<protocol_case>& info) {
    std::string name = info.param.protocol;
    if (info.param.requests) name += std::string("_") + info.param.requests;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// A system of three instances and a wall of two displays, a and b, on a
// fake router of the case's protocol, 16 by 16.
class ServeTest : public ::testing::Test {
protected:
    explicit ServeTest(protocol_case c) : case_(std::move(c)) {}

    void SetUp() override {
        char pattern[] = "/tmp/quon-serve-test-XXXXXX";
        root = mkdtemp(pattern);
        program_run fake;
        fake.program = FAKE_ROUTER_PATH;
        fake.arguments = {case_.protocol, "--sources", "16", "--destinations", "16"};
        if (case_.requests) fake.arguments.insert(fake.arguments.end(), {"--requests", case_.requests});
        router = std::make_unique<running_program>(fake);
        const std::optional<std::string> port = router->readLine();
        ASSERT_TRUE(port) << router->errors();
        const std::string folder = root + "/vx/main/config/system";
        fs::create_directories(folder);
        port_ = *port;
        writeDevice("");
        std::ofstream(folder + "/instances.ini") << "[Instances]\na=1 1\nb=1 2\nc=1 3\n";
        writeWall("[[display]]\nname = \"a\"\ninstance = \"a\"\n\n[[display]]\nname = \"b\"\ninstance = \"b\"\n");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    void writeWall(const std::string& text) { std::ofstream(root + "/wall.toml") << text; }
    // The fake router's device file, with `extra` lines in its [Router].
    void writeDevice(const std::string& extra) {
        std::ofstream(root + "/vx/main/config/system/dev_001.ini")
            << "[Router]\nName=Fake\nProtocol=" << case_.protocol << "\nAddress=" << scheme_ << "127.0.0.1:" << port_
            << "\nRetryFirst=100\nRetryCap=500\nKeepAlive=200\nKeepAliveWait=3000\nSilence=3000\n"
            << extra << "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    }

    // With a trace unless `extra` chooses one or `traced` is false.
    std::unique_ptr<running_program> serve(std::vector<std::string> extra = {}, bool traced = true) {
        program_run run;
        run.program = QUON_HOST_PATH;
        run.arguments = {"serve", root + "/wall.toml"};
        const bool chosen = std::any_of(extra.begin(), extra.end(),
                                        [](const std::string& a) { return a.rfind("--trace", 0) == 0; });
        if (traced && !chosen) run.arguments.push_back("--trace");
        run.arguments.insert(run.arguments.end(), extra.begin(), extra.end());
        run.environment = {{"VX_ROOT", root + "/vx"}, {"VX_SYSTEM", "main"}};
        return std::make_unique<running_program>(run);
    }

    // Another fake router of the protocol, `size` by `size`; its port in `port`.
    std::unique_ptr<running_program> otherRouter(int size, std::string& port) {
        program_run fake;
        fake.program = FAKE_ROUTER_PATH;
        fake.arguments = {case_.protocol, "--sources", std::to_string(size), "--destinations",
                          std::to_string(size)};
        auto other = std::make_unique<running_program>(fake);
        port = other->readLine().value_or("");
        return other;
    }
    // "127.0.0.1:PORT" of serve's page, from what it says on standard
    // error; "" when it has not said.
    static std::string pageAddress(running_program& host) {
        const std::string errors = host.errors();
        size_t at = errors.find("the wall is at http");
        if (at == std::string::npos) return "";
        at = errors.find("://", at) + 3;
        return errors.substr(at, errors.find('/', at) - at);
    }

    protocol_case case_;
    std::string root;
    std::string scheme_;  // before Address='s host: "https://" for a router over TLS
    std::string port_;
    std::unique_ptr<running_program> router;
};

class Serve : public ServeTest, public ::testing::WithParamInterface<protocol_case> {
protected:
    Serve() : ServeTest(GetParam()) {}
};

// What serve does alike whatever the protocol (the keys read, tally, the
// page, the display model, a module) is tested on one; what is one
// protocol's own, on that one.
class ServeVideohub : public ServeTest {
protected:
    ServeVideohub() : ServeTest({"videohub", true}) {}
};
class ServeSwp08 : public ServeTest {
protected:
    ServeSwp08() : ServeTest({"swp08", false}) {}
};
class ServeEmberplus : public ServeTest {
protected:
    ServeEmberplus() : ServeTest({"emberplus", true}) {}
};

TEST_P(Serve, ARouterThatGoesSilentIsLostAndFollowedAgainWhenItAnswers) {
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    router->write("silent on\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): lost")) << host->output() << host->errors();
    router->write("route 2 7\n");
    router->write("silent off\n");
    ASSERT_TRUE(host->waitFor("b: [ Input 7 ]", 40)) << host->output() << host->errors();
    host->signal(SIGINT);
    EXPECT_EQ(host->wait(), 0);
}

TEST_F(ServeEmberplus, FindsAnEmberplusMatrixByItsIdentifiersAndRefusesABadPath) {
    writeDevice("Matrix=router/matrices/video\n");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    router->write("route 2 4\n");
    ASSERT_TRUE(host->waitFor("b: [ Input 4 ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(), Not(HasSubstr("names are empty")));

    writeDevice("Matrix=router//video\n");
    auto refused = serve();
    EXPECT_EQ(refused->wait(), 2);
    EXPECT_THAT(refused->errors(), HasSubstr("dev_001.ini:10: [Router] Matrix=router//video: an empty part"));
}

TEST_P(Serve, SighupAppliesTheDifferenceOfTheWallFile) {
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    writeWall(
        "[[display]]\nname = \"a\"\ninstance = \"a\"\nstatesheet = \"red\"\n\n[[display]]\nname = \"c\"\ninstance = "
        "\"c\"\n");
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded: 2 displays")) << host->output() << host->errors();
    writeWall("[[display]\nname = 1\n");
    host->signal(SIGHUP);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    const std::string out = host->output();
    EXPECT_THAT(out, HasSubstr("b        -> command   \"AS\""));
    EXPECT_THAT(out, HasSubstr("a        <- parent    \"myStatesheet=red\""));
    EXPECT_THAT(out, Not(HasSubstr("a        <- parent    \"instance=a\"\n[^\n]*\n[^\n]*myStatesheet")));
    EXPECT_THAT(out, HasSubstr("c        <- parent    \"instance=c\""));
    EXPECT_THAT(out + host->errors(), HasSubstr("wall.toml:1:"));
    EXPECT_THAT(out, HasSubstr("c        -> command   \"AS\""));
}

TEST_P(Serve, AReloadThatCannotWorkChangesNothing) {
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    writeWall("[[display]]\nname = \"a\"\ninstance = \"a\"\n\n[[display]]\nname = \"z\"\ninstance = \"nosuch\"\n");
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("wall.toml:7:12: display \"z\": instance \"nosuch\" is not in"))
        << host->output() << host->errors();
    router->write("route 2 6\n");
    // b was not destroyed: it still follows its router.
    ASSERT_TRUE(host->waitFor("b: [ Input 6 ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(), HasSubstr("the wall file was not reloaded"));
    EXPECT_THAT(host->output(), Not(HasSubstr("z        <- parent")));
}

TEST_F(ServeVideohub, AMisspeltRouterKeyRefusesAReloadAndAStart) {
    const std::string said = "[Router] unknown key Adress; did you mean Address?";
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    writeDevice("Adress=127.0.0.1:1\n");
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError(said)) << host->output() << host->errors();
    EXPECT_THAT(host->errors(), HasSubstr("the wall file was not reloaded"));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);

    auto refused = serve();
    EXPECT_EQ(refused->wait(), 2);
    EXPECT_THAT(refused->errors(), HasSubstr(said));
}

TEST_P(Serve, SighupReconnectsARouterWhoseAddressChangedAndLeavesTheOthers) {
    std::string otherPort;
    const auto other = otherRouter(16, otherPort);
    ASSERT_FALSE(otherPort.empty());
    other->write("route 1 9\n");
    // Router 2, simulated, stays as it is through the reload.
    const std::string folder = root + "/vx/main/config/system";
    std::ofstream(folder + "/dev_002.ini") << "[Router]\nName=Sim\n[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n"
                                              "[Database_0]\n1=OLD NAME\n[Crosspoints]\n1=1\n";
    writeWall("[[display]]\nname = \"a\"\ninstance = \"a\"\n\n[[display]]\nname = \"s\"\nmatrix = 2\n"
              "destination = 1\n");
    auto host = serve();
    // The two displays show in either order.
    const auto shown = [&](const std::string& line) {
        return host->output().find(line) != std::string::npos || host->waitFor(line);
    };
    ASSERT_TRUE(shown("a: [ Input 1 ]")) << host->output() << host->errors();
    ASSERT_TRUE(shown("s: [ OLD NAME ]")) << host->output() << host->errors();
    std::ofstream(folder + "/dev_001.ini")
        << "[Router]\nName=Fake\nProtocol=" << GetParam().protocol << "\nAddress=127.0.0.1:" << otherPort
        << "\nRetryFirst=100\nRetryCap=500\nKeepAlive=200\nKeepAliveWait=3000\nSilence=3000\n[Database]\nDatabaseSize_0=16\n"
           "DatabaseSize_1=16\n";
    std::ofstream(folder + "/dev_002.ini") << "[Router]\nName=Sim\n[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n"
                                              "[Database_0]\n1=NEW NAME\n[Crosspoints]\n1=1\n";
    host->signal(SIGHUP);
    ASSERT_TRUE(shown("a: [ Input 9 ]")) << host->output() << host->errors();
    ASSERT_TRUE(shown("s: [ NEW NAME ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->output(),
                HasSubstr("wall file reloaded: 2 displays (0 added, 0 removed, 0 changed); routers changed 1; "
                          "renamed 2"));
    // Neither display was made anew: each got its start command once.
    const std::string out = host->output();
    for (const std::string start : {"a        <- parent    \"instance=a\"", "s        <- parent    \"myMatrix=2\""}) {
        const size_t first = out.find(start);
        EXPECT_NE(first, std::string::npos) << start;
        EXPECT_EQ(out.find(start, first + 1), std::string::npos) << start;
    }
}

TEST_P(Serve, WarnsWhenTheRouterReportsAnotherSizeThanTheDeviceFile) {
    std::string port;
    const auto bigger = otherRouter(20, port);
    ASSERT_FALSE(port.empty());
    std::ofstream(root + "/vx/main/config/system/dev_001.ini")
        << "[Router]\nName=Fake\nProtocol=" << GetParam().protocol << "\nAddress=127.0.0.1:" << port
        << "\n[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    auto host = serve();
    // The size is known when the link is up. An SW-P-08 link reports the
    // routes it reads before that, so a display may show first.
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected, 20 destinations")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(),
                HasSubstr("router 1: reports 20 destinations; the device file says 16 (DatabaseSize_1)"));
}

TEST_F(ServeSwp08, AsksAnSwp08RouterForNamesOfTheDeviceFilesLength) {
    writeDevice("NameLength=4\n");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("a: [ Inpu ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);

    // A display on a router that cannot be set up: nothing starts.
    writeDevice("NameLength=9\n");
    auto refused = serve();
    EXPECT_EQ(refused->wait(), 2);
    EXPECT_THAT(refused->errors(), HasSubstr("wall.toml:3:12: display \"a\": instance \"a\" (1 1): router 1: "));
    EXPECT_THAT(refused->errors(), HasSubstr("dev_001.ini:10: [Router] NameLength=9: 4, 8 or 12; router 1 left out"));
}

TEST_F(ServeSwp08, ReadsEveryDestinationOfARouterThatSendsItsNamesOneToAMessage) {
    program_run fake;
    fake.program = FAKE_ROUTER_PATH;
    fake.arguments = {"swp08", "--sources", "16", "--destinations", "16", "--names-per-message", "1"};
    running_program oneByOne(fake);
    const std::optional<std::string> port = oneByOne.readLine();
    ASSERT_TRUE(port);
    port_ = *port;
    writeDevice("");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("b: [ Input 2 ]")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected, 16 destinations")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(), Not(HasSubstr("reports")));
}

// A screen on loopback with a loop of its own, run only while a test waits
// on it: it keeps what TSL 5 packets say each index shows.
class tsl5_screen {
public:
    int port() const { return screen_.port(); }

    // Waits until index `index` has been sent `text` (the bytes as sent:
    // ASCII, or UTF-16LE) `times` times in all.
    bool waitFor(int index, const std::string& text, int timeoutMs = 20000, int times = 1) {
        const tsl5_shown wanted{index, text};
        const auto count = [&] { return std::count(screen_.shown().begin(), screen_.shown().end(), wanted); };
        return runUntil(io_, [&] { return count() >= times; }, std::chrono::milliseconds(timeoutMs));
    }
    const std::vector<tsl5_shown>& shown() const { return screen_.shown(); }
    // Waits until index `index` has been sent `text` with lamps left and
    // right (0 off, 1 red, 2 green, 3 amber) `times` times in all.
    bool waitForLamps(int index, const std::string& text, int left, int right, int times = 1) {
        return runUntil(io_, [&] { return sent(index, text, left, right) >= times; },
                        std::chrono::milliseconds(20000));
    }
    // How many messages, among those read so far, sent that.
    int sent(int index, const std::string& text, int left, int right) const {
        int count = 0;
        for (const std::string& datagram : screen_.datagrams())
            if (const auto packet = decodeTsl5(datagram))
                for (const decoded_message& m : packet->messages)
                    count += m.index == index && m.textBytes == text && m.left == left && m.right == right;
        return count;
    }
    // Whether anything was sent to `index` among what was read so far.
    bool sawIndex(int index) const {
        return std::any_of(screen_.shown().begin(), screen_.shown().end(),
                           [&](const tsl5_shown& s) { return s.index == index; });
    }

private:
    boost::asio::io_context io_;
    fake_tsl_udp_screen screen_{io_};
};

TEST_P(Serve, ARouteChangeReachesTheScreenOverTsl5) {
    tsl5_screen screen;
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    auto host = serve({"--quiet"});
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    router->write("route 1 9\n");
    EXPECT_TRUE(screen.waitFor(7, "Input 9")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// The port a tally input listens on, from the last line serve said of it.
int tallyPort(running_program& host) {
    const std::string out = host.output();
    const size_t at = out.rfind("listens on tsl5+udp://127.0.0.1:");
    return at == std::string::npos ? 0 : std::stoi(out.substr(at + 32));
}

TEST_F(ServeVideohub, TallyLightsWhatShowsTheOnAirPictureThroughRoutesTiesAndReloads) {
    tsl5_screen screen;
    const std::string rest = "[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
                             "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n"
                             "[[display]]\nname = \"b\"\ninstance = \"b\"\numd = { index = 2 }\n"
                             "[[display]]\nname = \"c\"\ninstance = \"c\"\numd = { index = 3 }\n"
                             // Router destination 12 feeds its own source 14.
                             "[[tie]]\nfrom = { matrix = 1, destination = 12 }\nto = { matrix = 1, source = 14 }\n"
                             "[[tally_in]]\nname = \"mixer1\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
                             // Mixer input 1 is fed by destination 10; input 2 is source 1.
                             "[[tally_in.map]]\nindex = 1\nmatrix = 1\ndestination = 10\n"
                             "[[tally_in.map]]\nindex = 2\nmatrix = 1\nsource = 1\n";
    writeWall(rest);
    auto host = serve({"--quiet"});
    ASSERT_TRUE(screen.waitFor(3, "Input 3")) << host->output() << host->errors();
    boost::asio::io_context io;
    auto mixer = std::make_unique<fake_vision_mixer>(io, fake_vision_mixer::wire::tsl5_udp, tallyPort(*host));
    mixer->cut(2);  // source 1, which display a shows
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 1, 0)) << host->output() << host->errors();
    // A route moves the tally with the name, in the same message.
    router->write("route 2 1\n");
    EXPECT_TRUE(screen.waitForLamps(2, "Input 1", 1, 0)) << host->output() << host->errors();
    EXPECT_EQ(screen.sent(2, "Input 1", 0, 0), 0) << "the new name went out with the old tally";
    // Through the tie line: destination 12 carries source 1 into source 14.
    router->write("route 12 1\n");
    router->write("route 3 14\n");
    EXPECT_TRUE(screen.waitForLamps(3, "Input 14", 1, 0)) << host->output() << host->errors();

    // A reload maps input 3 to source 5; display a is routed source 5.
    writeWall(rest + "[[tally_in.map]]\nindex = 3\nmatrix = 1\nsource = 5\n");
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded")) << host->output() << host->errors();
    router->write("route 1 5\n");
    ASSERT_TRUE(screen.waitFor(1, "Input 5")) << host->output() << host->errors();
    mixer = std::make_unique<fake_vision_mixer>(io, fake_vision_mixer::wire::tsl5_udp, tallyPort(*host));
    mixer->preview(3);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 5", 0, 2)) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// The port tally input `name` listens on, from what serve said of it.
int tallyPortOf(running_program& host, const std::string& name) {
    const std::string said = "tally input \"" + name + "\" listens on tsl5+udp://127.0.0.1:";
    const std::string out = host.output();
    const size_t at = out.rfind(said);
    return at == std::string::npos ? 0 : std::stoi(out.substr(at + said.size()));
}

// A studio mixer whose program (router source 16) reaches the master
// through router destination 12: display a shows the studio's camera 1,
// b a camera it never takes, c the studio's program.
TEST_F(ServeVideohub, OnAirFollowsTheStudioThroughTheMasterAndEachCutChangesOnlyItsDisplays) {
    tsl5_screen screen;
    router->write("route 3 16\n");
    router->write("route 12 16\n");
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n"
              "[[display]]\nname = \"b\"\ninstance = \"b\"\numd = { index = 2 }\n"
              "[[display]]\nname = \"c\"\ninstance = \"c\"\numd = { index = 3 }\n"
              "[[tally_in]]\nname = \"studio\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
              "[[tally_in.map]]\nindex = 1\ncount = 2\nmatrix = 1\nsource = 1\n"
              "[[tally_in.output]]\nmatrix = 1\nsource = 16\n"
              "[[tally_in]]\nname = \"master\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
              "[[tally_in.map]]\nindex = 1\nmatrix = 1\ndestination = 12\n"
              "[[tally_in.map]]\nindex = 2\nmatrix = 1\nsource = 7\n"
              "[[on_air]]\nmixer = \"master\"\n");
    auto host = serve({});
    ASSERT_TRUE(screen.waitFor(3, "Input 16")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("tally input \"master\" listens on")) << host->output();
    boost::asio::io_context io;
    fake_vision_mixer studio(io, fake_vision_mixer::wire::tsl5_udp, tallyPortOf(*host, "studio"));
    fake_vision_mixer master(io, fake_vision_mixer::wire::tsl5_udp, tallyPortOf(*host, "master"));
    // Hot (amber) while the master does not take the studio; its program
    // monitor is on nothing's program.
    studio.cut(1);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 3, 0)) << host->output() << host->errors();
    const int bSent = screen.sent(2, "Input 2", 0, 0);
    master.cut(1);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 1, 0)) << host->output() << host->errors();
    EXPECT_TRUE(screen.waitForLamps(3, "Input 16", 1, 0)) << host->output() << host->errors();
    EXPECT_TRUE(host->waitFor("a on air: router 1 destination 1 <- source 1; studio index 1 lights router 1 source 1; "
                              "studio's program is router 1 source 16, on program of master index 1, on air"))
        << host->output();
    // The master takes another source: the studio's camera is hot again,
    // and the studio's program is in the master's preview.
    master.cut(2);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 3, 0, 2)) << host->output() << host->errors();
    EXPECT_TRUE(screen.waitForLamps(3, "Input 16", 0, 2)) << host->output() << host->errors();
    EXPECT_EQ(screen.sent(1, "Input 1", 1, 0), 1) << "one packet for each change of display a";
    EXPECT_EQ(screen.sent(3, "Input 16", 1, 0), 1);
    EXPECT_EQ(screen.sent(2, "Input 2", 0, 0), bSent) << "display b changed with cuts that do not concern it";
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// The wall file is made large (a comment of 3 MiB) so that serve takes its
// heap at once: what it reserved and never touched costs no memory.
TEST_P(Serve, Sigusr1ReportsTheHeapInUseAndServingGoesOn) {
    writeWall("# " + std::string(3 << 20, 'x') +
              "\n[[display]]\nname = \"a\"\ninstance = \"a\"\n\n[[display]]\nname = \"b\"\ninstance = \"b\"\n");
    auto host = serve({"--trace=json"});
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
#if !defined(QUON_TESTS_SANITIZED)
    // (Under the sanitizers serve reserves nothing, and their own memory is
    // most of what is resident.)
    std::ifstream status("/proc/" + std::to_string(host->pid()) + "/status");
    const std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
    const size_t resident = text.find("VmRSS:");
    ASSERT_NE(resident, std::string::npos) << text;
    EXPECT_LT(std::stol(text.substr(resident + 6)), 64 * 1024) << "kB resident after a reserve of 120 MiB";
#endif
    host->signal(SIGUSR1);
    ASSERT_TRUE(host->waitFor("\"kind\":\"memory\"")) << host->output() << host->errors();
    const std::string out = host->output();
    const std::size_t line = out.rfind("{\"kind\":\"memory\"");
    const std::size_t bytes = out.find("\"heap_bytes\":", line);
    ASSERT_NE(bytes, std::string::npos) << out.substr(line);
    EXPECT_GT(std::stoull(out.substr(bytes + 13)), 0u) << out.substr(line);
    EXPECT_THAT(out.substr(line), HasSubstr("bytes of heap in use"));
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ Input 5 ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, BlankOnExitBlanksEveryDisplayBeforeTheHostExits) {
    tsl5_screen screen;
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\nblank_on_exit = true\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\n"
              "umd = { index = 7 }\n");
    auto host = serve({"--quiet"});
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_TRUE(screen.waitFor(7, "")) << host->output() << host->errors();
}

// GET `path` from the page's server; the whole response, or "" on failure.
// The whole response to `request`, sent to serve's page at `url`.
// A socket connected to the page at `url` from `from` (another loopback
// address stands for another machine); -1 when it cannot connect.
int connectFrom(const std::string& url, const char* from) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &own.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&own), sizeof own) == 0 &&
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return s;
    ::close(s);
    return -1;
}

std::string httpExchange(const std::string& url, const std::string& request, const char* from = "127.0.0.1") {
    const int s = connectFrom(url, from);
    std::string response;
    if (s >= 0) {
        if (::send(s, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (;;) {
                pollfd p{s, POLLIN, 0};
                if (::poll(&p, 1, 10000) <= 0) break;
                const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                response.append(buffer, static_cast<size_t>(n));
            }
        }
        ::close(s);
    }
    return response;
}

std::string httpGet(const std::string& url, const std::string& path) {
    return httpExchange(url, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
}

// A parent command sent to a display through the control API.
std::string sendParent(const std::string& url, const std::string& token, const std::string& display,
                       const std::string& command) {
    return httpExchange(url, "POST /api/displays/" + display + "/parent HTTP/1.1\r\nHost: localhost\r\n"
                             "Authorization: Bearer " + token + "\r\nContent-Length: " +
                             std::to_string(command.size()) + "\r\nConnection: close\r\n\r\n" + command);
}

// The JSON object of display `name` in /api/displays, as written.
std::string displayJson(const std::string& displays, const std::string& name) {
    const size_t at = displays.find("{\"name\":\"" + name + "\"");
    return at == std::string::npos ? "" : displays.substr(at, displays.find('}', at) - at + 1);
}

// The value of the series `series` (name and labels as written) in a scrape.
std::optional<double> metric(const std::string& scrape, const std::string& series) {
    const size_t at = scrape.find("\n" + series + " ");
    if (at == std::string::npos) return std::nullopt;
    return std::stod(scrape.substr(at + series.size() + 2));
}

// A loopback TCP port where nothing listens.
int closedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

TEST_F(ServeVideohub, AQuietMixersTallyIsHeldWhileItShowsDown) {
    tsl5_screen screen;
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n"
              "[[tally_in]]\nname = \"mixer1\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\ntimeout = \"1s\"\n"
              "[[tally_in.map]]\nindex = 1\nmatrix = 1\nsource = 1\n");
    auto host = serve({"--quiet", "--http", "127.0.0.1:0"});
    ASSERT_TRUE(screen.waitFor(1, "Input 1")) << host->output() << host->errors();
    boost::asio::io_context io;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, tallyPort(*host));
    mixer.cut(1);
    ASSERT_TRUE(screen.waitForLamps(1, "Input 1", 1, 0)) << host->output() << host->errors();
    // The mixer sends nothing more.
    ASSERT_TRUE(host->waitFor("tally input \"mixer1\" is down: nothing read for 1000 ms (holding its tallies)"))
        << host->output() << host->errors();
    const std::string health = httpGet(pageAddress(*host), "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\""));
    EXPECT_THAT(health, HasSubstr("tally input mixer1 down"));
    // Still on air: source 1 routed away and back is shown lit again.
    router->write("route 1 3\n");
    ASSERT_TRUE(screen.waitFor(1, "Input 3")) << host->output() << host->errors();
    router->write("route 1 1\n");
    ASSERT_TRUE(screen.waitFor(1, "Input 1", 20000, 3)) << host->output() << host->errors();
    EXPECT_EQ(screen.sent(1, "Input 1", 1, 0), 2) << host->output() << host->errors();
    EXPECT_EQ(screen.sent(1, "Input 1", 0, 0), 1) << "only the first, before the cut, went out dark";
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// A wall whose display a (source 1) is index 1 of mixer1, listening on `port`.
std::string mixerWall(int screenPort, const std::string& port) {
    return "[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screenPort) +
           "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n"
           "[[tally_in]]\nname = \"mixer1\"\nlisten = \"tsl5+udp://127.0.0.1:" + port +
           "\"\n[[tally_in.map]]\nindex = 1\nmatrix = 1\nsource = 1\n";
}

// A UDP port of loopback held by the test, as another program would hold
// it; not passed on to the programs the test starts.
struct held_port {
    held_port() { ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC); }
    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket{io, {boost::asio::ip::make_address("127.0.0.1"), 0}};
    std::string number() const { return std::to_string(socket.local_endpoint().port()); }
};

TEST_F(ServeVideohub, AReloadWhoseTallyInputCannotListenIsRefusedAndTheRunningInputGoesOn) {
    tsl5_screen screen;
    held_port taken;
    writeWall(mixerWall(screen.port(), "0"));
    auto host = serve({"--quiet", "--http", "127.0.0.1:0"});
    ASSERT_TRUE(screen.waitFor(1, "Input 1")) << host->output() << host->errors();
    boost::asio::io_context io;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, tallyPort(*host));
    mixer.cut(1);
    ASSERT_TRUE(screen.waitForLamps(1, "Input 1", 1, 0)) << host->output() << host->errors();

    writeWall(mixerWall(screen.port(), taken.number()));
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("tally input \"mixer1\": cannot bind tsl5+udp://127.0.0.1:" + taken.number() +
                                   ": Address already in use"))
        << host->output() << host->errors();
    EXPECT_THAT(host->errors(), HasSubstr("the wall file was not reloaded"));
    const std::string url = pageAddress(*host);
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_tally_input_up{input=\"mixer1\"}"), 1.0);
    // Still reading the mixer where it listened: input 1 goes to preview.
    mixer.cut(3);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 0, 2)) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_F(ServeVideohub, ATallyInputWhosePortIsTakenIsDownUntilItCanListen) {
    tsl5_screen screen;
    auto taken = std::make_unique<held_port>();
    const std::string port = taken->number();
    writeWall(mixerWall(screen.port(), port));
    auto host = serve({"--quiet", "--http", "127.0.0.1:0"});
    const std::string cannot = "cannot bind tsl5+udp://127.0.0.1:" + port + ": Address already in use";
    ASSERT_TRUE(host->waitFor("tally input \"mixer1\": " + cannot + "; trying again in "))
        << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    const std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\""));
    EXPECT_THAT(health, HasSubstr("tally input mixer1 not listening (" + cannot + ")"));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_tally_input_up{input=\"mixer1\"}"), 0.0);

    taken.reset();
    ASSERT_TRUE(host->waitFor("tally input \"mixer1\" listens on tsl5+udp://127.0.0.1:" + port))
        << host->output() << host->errors();
    EXPECT_THAT(httpGet(url, "/healthz"), Not(HasSubstr("not listening")));
    boost::asio::io_context io;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, static_cast<uint16_t>(std::stoi(port)));
    mixer.cut(1);
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 1, 0)) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, WhatIsDownShowsInTheLogTheApiAndHealthz) {
    const std::string port = std::to_string(closedPort());
    const std::string to = "tsl5+tcp://127.0.0.1:" + port;
    writeWall("[umd]\nto = \"" + to + "\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitFor("receiver " + to + ": refused; connect to 127.0.0.1:" + port +
                              " failed: Connection refused; retrying in "))
        << host->output() << host->errors();
    EXPECT_THAT(host->output(), HasSubstr("; nothing sent yet"));
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    const std::string receivers = httpGet(url, "/api/receivers");
    EXPECT_THAT(receivers, HasSubstr("\"to\":\"" + to + "\""));
    // Down while it tries again, until it connects.
    EXPECT_THAT(receivers, HasSubstr("\"down\":true"));
    std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\""));
    EXPECT_THAT(health, HasSubstr("\"receiver " + to + " "));

    router->write("silent on\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): lost")) << host->output() << host->errors();
    health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("router 1 lost"));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_receiver_up{to=\"" + to + "\"}"), 0.0);
    router->write("silent off\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected", 40)) << host->output() << host->errors();
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_router_reconnects_total{device=\"1\"}"), 1.0);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, HealthzIsOkWhenNothingIsDown) {
    tsl5_screen screen;
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    const std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"ok\""));
    EXPECT_THAT(health, HasSubstr("\"down\":[]"));
    // Alone, a host is active and says nothing of roles.
    EXPECT_THAT(health, HasSubstr("\"role\":\"active\""));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_active"), 1.0);
    EXPECT_THAT(httpGet(url, "/api/receivers"), HasSubstr("\"state\":\"sending\""));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(), Not(HasSubstr("role:")));
}

// A page of another site reaches this host through a name of its own
// (DNS rebinding) and names it in Host: refused, unless the wall file
// lists it, as it lists the names users type; a reload changes the list.
TEST_F(ServeVideohub, ThePageAnswersToItsAddressesAndTheNamesTheWallFileLists) {
    const std::string display = "[[display]]\nname = \"a\"\ninstance = \"a\"\n";
    writeWall("[page]\nnames = [\"wall.studio.example\"]\n\n" + display);
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    const auto displays = [&url](const std::string& name) {
        return httpExchange(url, "GET /api/displays HTTP/1.1\r\nHost: " + name + "\r\nConnection: close\r\n\r\n");
    };
    EXPECT_THAT(displays(url), HasSubstr("\"name\":\"a\""));
    EXPECT_THAT(displays("wall.studio.example:8080"), HasSubstr("\"name\":\"a\""));
    const std::string refused = displays("evil.example:18080");
    EXPECT_THAT(refused, HasSubstr("HTTP/1.1 421 Misdirected Request"));
    EXPECT_THAT(refused, Not(HasSubstr("\"name\"")));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_page_refused_total{reason=\"host\"}"), 1.0);
    writeWall("[page]\nnames = [\"evil.example\"]\n\n" + display);
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded")) << host->output() << host->errors();
    EXPECT_THAT(displays("evil.example:18080"), HasSubstr("\"name\":\"a\""));
    EXPECT_THAT(displays("wall.studio.example"), HasSubstr("421"));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// What one laptop on the network can do to the page, bounded: connections
// left half-open, idle WebSockets, a stream of requests, from addresses
// other than this machine's. Throughout, the pair's check (from this
// machine) is answered, and a new client still gets the page and the live
// wall; the half-open ones are closed at the header's deadline. The
// check's latencies are reported, not judged.
TEST_F(ServeVideohub, ThePageHoldsWhileAClientOnTheNetworkFloodsIt) {
    writeWall("[page]\nheader_timeout = \"1s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    const std::string upgrade =
        "GET /ws HTTP/1.1\r\nHost: " + url + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    std::vector<int> halfOpen, held;
    const auto sendAll = [](int s, const std::string& bytes) { return ::send(s, bytes.data(), bytes.size(), 0); };
    for (int i = 0; i < 200; ++i) {
        const std::string from = "127.0.0." + std::to_string(2 + i % 8);
        const int s = connectFrom(url, from.c_str());
        if (s < 0) continue;
        if (i % 2 == 0) sendAll(s, "GET /api/displays HT");
        halfOpen.push_back(s);
    }
    for (int i = 0; i < 40; ++i) {
        const int s = connectFrom(url, "127.0.0.10");
        if (s >= 0 && sendAll(s, upgrade) > 0) held.push_back(s);
    }
    std::string many;
    for (int i = 0; i < 500; ++i) many += "GET /api/displays HTTP/1.1\r\nHost: " + url + "\r\n\r\n";
    const int stream = connectFrom(url, "127.0.0.11");
    ASSERT_GE(stream, 0);
    held.push_back(stream);
    sendAll(stream, many);

    std::vector<double> latencies;
    for (int i = 0; i < 40; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        const std::string health = httpGet(url, "/healthz");
        latencies.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count());
        ASSERT_THAT(health, HasSubstr("HTTP/1.1 200 OK")) << "check " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_THAT(httpExchange(url, "GET / HTTP/1.1\r\nHost: " + url + "\r\nConnection: close\r\n\r\n", "127.0.0.20"),
                HasSubstr("/wall.js"));
    const int page = connectFrom(url, "127.0.0.20");
    ASSERT_GE(page, 0);
    held.push_back(page);
    sendAll(page, upgrade);
    std::string live;
    char buffer[4096];
    for (pollfd p{page, POLLIN, 0}; live.find("\"type\":\"full\"") == std::string::npos && ::poll(&p, 1, 10000) > 0;) {
        const ssize_t n = ::recv(page, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        live.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_THAT(live, HasSubstr("101 Switching Protocols"));
    EXPECT_THAT(live, HasSubstr("\"type\":\"full\""));

    // Every half-open connection the host took is closed: at the header's
    // deadline, or at once past the client's share.
    std::size_t closed = 0;
    for (const int s : halfOpen) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 10000) > 0 && ::recv(s, buffer, sizeof buffer, 0) <= 0) ++closed;
        ::close(s);
    }
    EXPECT_EQ(closed, halfOpen.size());
    const std::string metrics = httpGet(url, "/metrics");
    for (const char* reason : {"client", "client pages", "rate", "slow"})
        EXPECT_GT(metric(metrics, "quon_page_refused_total{reason=\"" + std::string(reason) + "\"}"), 0.0) << reason;
    for (const int s : held) ::close(s);
    std::sort(latencies.begin(), latencies.end());
    std::printf("/healthz under the flood: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu checks)\n",
                latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100], latencies.back(),
                latencies.size());
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// GET `target` over TLS from the page at `url` ("127.0.0.1:PORT"), trusting
// `caFile` alone; "" when the handshake fails.
std::string httpsGet(const std::string& url, const std::string& target, const std::string& caFile) {
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.load_verify_file(caFile);
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, context);
    stream.set_verify_mode(asio::ssl::verify_peer);
    stream.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
    boost::system::error_code failure;
    stream.lowest_layer().connect(
        {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(url.substr(url.rfind(':') + 1)))},
        failure);
    if (!failure) stream.handshake(asio::ssl::stream_base::client, failure);
    if (failure) return "";
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + url + "\r\nConnection: close\r\n\r\n";
    asio::write(stream, asio::buffer(request), failure);
    std::string response;
    char buffer[4096];
    for (std::size_t n; (n = stream.read_some(asio::buffer(buffer), failure)) > 0 || !failure;)
        response.append(buffer, n);
    return response;
}

// The page over HTTPS from the wall file's certificate; a reload takes up
// renewed files, and refuses ones that cannot be used, the page served as
// it was.
TEST_F(ServeVideohub, ThePageIsServedOverHttpsAndAReloadTakesUpTheRenewedCertificate) {
    const quon::test::test_ca first, renewed;
    const auto place = [&](const quon::test::test_certificate& c) {
        fs::copy_file(c.certificateFile, root + "/wall.pem", fs::copy_options::overwrite_existing);
        fs::copy_file(c.keyFile, root + "/wall.key", fs::copy_options::overwrite_existing);
    };
    place(first.loopback());
    writeWall("[page]\ncertificate = \"wall.pem\"\nkey = \"wall.key\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitForError("the wall is at https://")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    EXPECT_THAT(httpsGet(url, "/api/displays", first.caFile()), HasSubstr("\"name\":\"a\""));
    EXPECT_THAT(httpExchange(url, "GET / HTTP/1.1\r\nHost: " + url + "\r\n\r\n"),
                HasSubstr("Location: https://" + url + "/"));

    place(renewed.loopback());
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded")) << host->output() << host->errors();
    EXPECT_EQ(httpsGet(url, "/api/displays", first.caFile()), "") << "the old certificate is no longer served";
    EXPECT_THAT(httpsGet(url, "/api/displays", renewed.caFile()), HasSubstr("\"name\":\"a\""));

    fs::copy_file(first.loopback().keyFile, root + "/wall.key", fs::copy_options::overwrite_existing);
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("is not the key of the certificate")) << host->output() << host->errors();
    EXPECT_THAT(host->errors(), HasSubstr("the wall file was not reloaded"));
    EXPECT_THAT(httpsGet(url, "/api/displays", renewed.caFile()), HasSubstr("\"name\":\"a\""));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// The role comes from the machine's own addresses: 127.0.0.1 is always
// here, 192.0.2.77 (a documentation address) never, so no root is needed.
TEST_P(Serve, APairHostHoldingTheAddressIsActiveAtStart) {
    tsl5_screen screen;
    writeWall("[pair]\nactive_address = \"127.0.0.1\"\n\n[umd]\nto = \"tsl5+udp://127.0.0.1:" +
              std::to_string(screen.port()) + "\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitForError("role: active at start (127.0.0.1 is on lo)")) << host->output() << host->errors();
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    EXPECT_THAT(httpGet(url, "/healthz"), HasSubstr("\"role\":\"active\""));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_active"), 1.0);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, AStandbyHostFollowsTheRoutersSendsNothingAndTakesOverWhenAReloadMakesItActive) {
    tsl5_screen screen;
    const std::string rest = "[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
                             "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n";
    writeWall("[pair]\nactive_address = \"192.0.2.77\"\n\n" + rest);
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitForError("role: standby at start (192.0.2.77 is not assigned here)"))
        << host->output() << host->errors();
    // The display runs as on the active host.
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ Input 5 ]")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    // keepalived's check asks /healthz on the standby too: it must pass.
    std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("HTTP/1.1 200 OK"));
    EXPECT_THAT(health, HasSubstr("\"status\":\"ok\""));
    EXPECT_THAT(health, HasSubstr("\"role\":\"standby\""));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_active"), 0.0);
    EXPECT_EQ(metric(httpGet(url, "/metrics"),
                     "quon_receiver_state{state=\"standby\",to=\"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) + "\"}"),
              1.0);
    const std::string receivers = httpGet(url, "/api/receivers");
    EXPECT_THAT(receivers, HasSubstr("\"state\":\"standby\""));
    EXPECT_THAT(receivers, HasSubstr("\"packets\":0"));
    EXPECT_THAT(receivers, HasSubstr("\"down\":false"));

    writeWall("[pair]\nactive_address = \"127.0.0.1\"\n\n" + rest);
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("role: active after the reload (127.0.0.1 is on lo)")) << host->output()
                                                                                           << host->errors();
    // The current state goes out at once; nothing went out before.
    ASSERT_TRUE(screen.waitFor(7, "Input 5")) << host->output() << host->errors();
    // Datagrams queue in order: had the standby host sent "Input 1", it
    // would come first.
    EXPECT_EQ(screen.shown().front(), (tsl5_shown{7, "Input 5"}));
    EXPECT_THAT(httpGet(url, "/healthz"), HasSubstr("\"role\":\"active\""));
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_active"), 1.0);

    writeWall("[pair]\nactive_address = \"192.0.2.77\"\n\n" + rest);
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("role: standby after the reload (192.0.2.77 is not assigned here)"))
        << host->output() << host->errors();
    writeWall(rest);
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("role: active after the reload (no [pair] in the wall file any more)"))
        << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// Without a trace, a component that breaks the contract is still seen:
// printed, and counted in the metrics.
TEST_P(Serve, AContractBreachIsPrintedAndCountedWithoutATrace) {
    writeWall("[[display]]\nname = \"a\"\ninstance = \"a\"\nmodule = \"" FAULTY_EMPTY_TEXT_PATH "\"\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(host->waitFor("parent command returned an empty text")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    EXPECT_GE(metric(httpGet(url, "/metrics"), "quon_contract_violations_total").value_or(0), 1.0);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, MetricsCountWhatServeDoesAndDocsListEveryOne) {
    tsl5_screen screen;
    const std::string to = "tsl5+udp://127.0.0.1:" + std::to_string(screen.port());
    writeWall("[umd]\nto = \"" + to + "\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    // A simulated router answers from the start: it never tells a change.
    std::ofstream(root + "/vx/main/config/system/dev_002.ini")
        << "[Router]\nName=Spare\n[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n";
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded")) << host->output() << host->errors();
    writeWall("[[display]\n");
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitForError("the wall file was not reloaded")) << host->output() << host->errors();
    router->write("route 1 4\n");
    ASSERT_TRUE(screen.waitFor(7, "Input 4")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    // The page's events say what each reload did.
    const std::string events = httpGet(url, "/api/events");
    EXPECT_THAT(events, HasSubstr("wall file reloaded: 1 displays (0 added, 0 removed, 0 changed); routers unchanged"));
    EXPECT_THAT(events, HasSubstr("reload refused: 1 error\\n"));
    const std::string scrape = httpGet(url, "/metrics");
    EXPECT_THAT(scrape, HasSubstr("Content-Type: text/plain; version=0.0.4"));
    const std::string protocol = GetParam().protocol;
    EXPECT_EQ(metric(scrape, "quon_router_up{device=\"1\",name=\"Fake\",protocol=\"" + protocol + "\"}"), 1.0)
        << scrape;
    EXPECT_EQ(metric(scrape, "quon_router_up{device=\"2\",name=\"Spare\",protocol=\"simulated\"}"), 1.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_displays"), 1.0) << scrape;
    EXPECT_GE(metric(scrape, "quon_revertives_total").value_or(0), 2.0) << scrape;
    EXPECT_GE(metric(scrape, "quon_commands_total").value_or(0), 1.0) << scrape;
    EXPECT_GE(metric(scrape, "quon_parent_commands_total").value_or(0), 1.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_reloads_total{outcome=\"applied\"}"), 1.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_reloads_total{outcome=\"refused\"}"), 1.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_receiver_state{state=\"sending\",to=\"" + to + "\"}"), 1.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_receiver_state{state=\"lost\",to=\"" + to + "\"}"), 0.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_receiver_up{to=\"" + to + "\"}"), 1.0) << scrape;
    EXPECT_GE(metric(scrape, "quon_receiver_packets_total{to=\"" + to + "\"}").value_or(0), 2.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_receiver_errors_total{to=\"" + to + "\"}"), 0.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_router_reconnects_total{device=\"1\"}"), 0.0) << scrape;
    EXPECT_EQ(metric(scrape, "quon_contract_violations_total"), 0.0) << scrape;

    // Every metric is in the list of docs/web.md.
    std::ifstream docs(std::string(QUON_DOCS_FOLDER) + "/web.md");
    const std::string listed((std::istreambuf_iterator<char>(docs)), std::istreambuf_iterator<char>());
    for (size_t type = scrape.find("# TYPE "); type != std::string::npos; type = scrape.find("# TYPE ", type + 1)) {
        const std::string name = scrape.substr(type + 7, scrape.find(' ', type + 7) - type - 7);
        EXPECT_THAT(listed, HasSubstr("| `" + name + "`")) << name;
    }
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, ANameThatIsNotUtf8ReachesEveryOutputAsTheSameText) {
    tsl5_screen screen;
    // Written on Windows: "Café" in Windows-1252.
    std::ofstream(root + "/vx/main/config/system/dev_002.ini")
        << "[Router]\nName=Sim\n[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n[Database_0]\n1=Caf\xE9\n"
           "[Crosspoints]\n1=1\n";
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\n\n[[display]]\nname = \"s\"\nmatrix = 2\ndestination = 1\numd = { index = 3 }\n");
    auto host = serve({"--http", "127.0.0.1:0"});
    ASSERT_TRUE(host->waitFor("s: [ Caf\xC3\xA9 ]")) << host->output() << host->errors();
    // TSL 5 sends it as UTF-16LE.
    EXPECT_TRUE(screen.waitFor(3, std::string("C\0a\0f\0\xE9\0", 8))) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    EXPECT_THAT(httpGet(url, "/api/displays"), HasSubstr("\"text\":\"Caf\xC3\xA9\""));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, TraceLinesAreDatedByTheWallClockBetweenEvents) {
    auto host = serve({"--trace=json"});
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    // Nothing happens for a while; the teardown is dated after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    const std::string out = host->output();
    const size_t teardown = out.rfind("\"AS\"");
    ASSERT_NE(teardown, std::string::npos) << out;
    const size_t line = out.rfind('\n', teardown) + 1;
    const size_t time = out.find("\"time_ms\":", line);
    ASSERT_LT(time, teardown) << out.substr(line);
    EXPECT_GE(std::stoull(out.substr(time + 10)), 1500u) << out.substr(line);
}

TEST_P(Serve, AScreenGetsNothingBeforeItsDisplaysRouterAnswers) {
    tsl5_screen screen;
    std::ofstream(root + "/vx/main/config/system/dev_002.ini")
        << "[Router]\nName=Mute\nAnswers=no\n[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n";
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"100ms\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n\n"
              "[[display]]\nname = \"m\"\nmatrix = 2\ndestination = 1\nstatesheet = \"umd_alarm\"\n"
              "umd = { index = 8 }\n");
    auto host = serve({"--quiet"});
    // Three sends of a: the wall has been refreshed twice since it started.
    ASSERT_TRUE(screen.waitFor(7, "Input 1", 20000, 3)) << host->output() << host->errors();
    EXPECT_FALSE(screen.sawIndex(8));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// A lost router's displays show lost_text on their screens, and the page,
// /api and /metrics say so; the receivers' counts are live, and every line
// serve prints carries its time.
TEST_P(Serve, ALostRoutersScreensShowTheLostTextUntilItIsBack) {
    tsl5_screen screen;
    const std::string to = "tsl5+udp://127.0.0.1:" + std::to_string(screen.port());
    writeWall("[umd]\nto = \"" + to + "\"\nrefresh = \"0s\"\non_router_lost = \"text\"\nlost_text = \"NO ROUTER\"\n"
              "lost_after = \"500ms\"\n\n[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(screen.waitFor(7, "Input 1")) << host->output() << host->errors();
    router->write("route 1 4\n");
    ASSERT_TRUE(screen.waitFor(7, "Input 4")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    // Two packets sent and no change of the link's state since the first.
    EXPECT_THAT(httpGet(url, "/api/receivers"), HasSubstr("\"packets\":2"));

    router->write("silent on\n");
    ASSERT_TRUE(screen.waitFor(7, "NO ROUTER")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("a: screen shows its router lost (text)")) << host->output();
    EXPECT_THAT(httpGet(url, "/api/displays"), HasSubstr("\"marked\":\"text\""));
    const std::string scrape = httpGet(url, "/metrics");
    EXPECT_EQ(metric(scrape, "quon_display_marked{display=\"a\",treatment=\"text\"}"), 1.0);
    EXPECT_EQ(metric(scrape, "quon_displays_marked{treatment=\"text\"}"), 1.0);
    // A reload keeps what the screen shows, and says nothing of it.
    host->signal(SIGHUP);
    ASSERT_TRUE(host->waitFor("wall file reloaded")) << host->output() << host->errors();
    EXPECT_THAT(httpGet(url, "/api/displays"), HasSubstr("\"marked\":\"text\""));
    EXPECT_THAT(host->output(), Not(HasSubstr("screen shows its name again")));

    router->write("silent off\n");
    ASSERT_TRUE(screen.waitFor(7, "Input 4", 40000, 2)) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("a: screen shows its name again")) << host->output();
    EXPECT_THAT(httpGet(url, "/api/displays"), HasSubstr("\"marked\":\"\""));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    // "2026-12-09T05:41:30.123Z router 1 (Fake): lost ..."
    EXPECT_THAT(host->output(), testing::ContainsRegex("(^|\n)[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z "
                                                        "router 1 \\(Fake\\): lost"));
}

// A display sent to a router the system does not have is shown as a lost
// router's on its screen, and says why on the page, in /api/displays and in
// /healthz; its warning is said once among the page's events, and counted.
// A component that shows its name on another control than myMimic: the
// wall names that control, and the screens, the page and the log show it,
// and nothing it sets on any other control.
TEST_F(ServeVideohub, TheScreensShowTheControlTheWallNamesForADisplay) {
    tsl5_screen screen;
    const std::string token = "token-of-the-wall-for-tests";
    fs::create_directories(root + "/panels");
    std::ofstream(root + "/panels/label.quon_ui") << "control myMimic\n  text =\ncontrol myLabel\n  text =\n";
    writeWall("[control]\ntoken = \"" + token + "\"\n\n[umd]\nto = \"tsl5+udp://127.0.0.1:" +
              std::to_string(screen.port()) + "\"\nrefresh = \"0s\"\n\n[[display]]\nname = \"p\"\nmodule = \"" +
              PROBE_MODULE_PATH +
              "\"\ntext_control = \"myLabel\"\nparent = [\"send:PS '1' '" + root +
              "/panels/label.quon_ui'\", \"send:RR 1 1 1\"]\numd = { index = 3 }\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(host->waitForError("the wall is at")) << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    // Not before its router has told it a route.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sendParent(url, token, "p", "log").find("revertive 1 1") == std::string::npos)
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << host->output() << host->errors();
    EXPECT_THAT(sendParent(url, token, "p", "send:TP 'text=ON THE MIMIC' '1' 'myMimic'"), HasSubstr("200 OK"));
    EXPECT_THAT(sendParent(url, token, "p", "send:TP 'text=ON THE LABEL' '1' 'myLabel'"), HasSubstr("200 OK"));
    ASSERT_TRUE(screen.waitFor(3, "ON THE LABEL")) << host->output() << host->errors();
    EXPECT_TRUE(host->waitFor("p: [ ON THE LABEL ]")) << host->output();
    EXPECT_THAT(displayJson(httpGet(url, "/api/displays"), "p"), HasSubstr("\"text\":\"ON THE LABEL\""));
    for (const auto& shown : screen.shown()) EXPECT_NE(shown.text, "ON THE MIMIC");
    EXPECT_THAT(host->output(), Not(HasSubstr("p: [ ON THE MIMIC ]")));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// A line-up request through the control API.
std::string sendLineup(const std::string& url, const std::string& token, const std::string& body) {
    return httpExchange(url, "POST /api/lineup HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer " + token +
                                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body);
}

// Every lamp of the displays asked for, then their names, each for its
// time; then what they showed, and nothing of displays not asked for.
TEST_F(ServeVideohub, ALineUpLightsEveryLampOrShowsEachNameThenRestoresWhatWasShown) {
    tsl5_screen screen;
    const std::string token = "token-of-the-wall-for-tests";
    writeWall("[control]\ntoken = \"" + token + "\"\n\n[umd]\nto = \"tsl5+udp://127.0.0.1:" +
              std::to_string(screen.port()) + "\"\nrefresh = \"0s\"\n\n"
              "[[display]]\nname = \"MON1\"\ninstance = \"a\"\numd = { index = 1 }\n"
              "[[display]]\nname = \"MON2\"\ninstance = \"b\"\numd = { index = 2 }\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(screen.waitFor(2, "Input 2")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    EXPECT_THAT(sendLineup(url, token, "lamps"), HasSubstr("400 Bad Request"));
    EXPECT_THAT(sendLineup(url, token, "lamps 1s MON3"), HasSubstr("no display \"MON3\""));
    EXPECT_THAT(sendLineup(url, "not-the-token-of-the-wall", "lamps 1s"), HasSubstr("401"));

    EXPECT_THAT(sendLineup(url, token, "lamps 1m MON1"), HasSubstr("200 OK"));
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 1, 2)) << host->output() << host->errors();
    EXPECT_THAT(httpGet(url, "/healthz"), HasSubstr("\"lineup\":\"every lamp lit on 1 display until "));
    EXPECT_TRUE(host->waitFor("line-up: every lamp lit on 1 display until")) << host->output();
    // A new one ends the last first, here from the command line; this one
    // ends by itself.
    program_run lineup;
    lineup.program = QUON_HOST_PATH;
    lineup.arguments = {"lineup", "--page", "http://" + url, "name", "1s", "MON9"};
    lineup.environment["QUON_CONTROL_TOKEN"] = token;
    const program_result refused = lineup.run();
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, HasSubstr("quon-host lineup: 404: no display \"MON9\""));
    lineup.arguments = {"lineup", "--page", "http://" + url, "name", "1s"};
    const program_result taken = lineup.run();
    EXPECT_EQ(taken.exitCode, 0) << taken.err;
    EXPECT_TRUE(screen.waitForLamps(1, "MON1", 0, 0)) << host->output() << host->errors();
    EXPECT_TRUE(screen.waitForLamps(2, "MON2", 0, 0)) << host->output() << host->errors();
    EXPECT_TRUE(host->waitFor("line-up over")) << host->output();
    EXPECT_TRUE(screen.waitForLamps(1, "Input 1", 0, 0)) << host->output() << host->errors();
    EXPECT_TRUE(screen.waitForLamps(2, "Input 2", 0, 0, 2)) << host->output() << host->errors();
    EXPECT_THAT(httpGet(url, "/healthz"), Not(HasSubstr("lineup")));
    EXPECT_EQ(screen.sent(2, "Input 2", 1, 2), 0) << "a display not asked for was lined up";
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// Sent back to a router the system has, it is as it was.
TEST_F(ServeVideohub, ADisplayOnARouterTheSystemDoesNotHaveIsShownAsSuchUntilItIsBack) {
    tsl5_screen screen;
    const std::string token = "token-of-the-wall-for-tests";
    writeWall("[control]\ntoken = \"" + token + "\"\n\n[umd]\nto = \"tsl5+udp://127.0.0.1:" +
              std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\non_router_lost = \"mark\"\nlost_mark = \"right:red\"\n\n"
              "[[display]]\nname = \"a\"\nmatrix = 1\ndestination = 1\numd = { index = 7 }\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(screen.waitForLamps(7, "Input 1", 0, 0)) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();

    EXPECT_THAT(sendParent(url, token, "a", "myMatrix=3"), HasSubstr("200 OK"));
    ASSERT_TRUE(host->waitFor("a: watches router 3, which this system does not have")) << host->output();
    EXPECT_TRUE(screen.waitForLamps(7, "Input 1", 0, 1)) << host->output() << host->errors();
    std::string tile = displayJson(httpGet(url, "/api/displays"), "a");
    EXPECT_THAT(tile, HasSubstr("\"router\":3,\"routerSilent\":false"));
    EXPECT_THAT(tile, HasSubstr("\"marked\":\"mark\""));
    EXPECT_THAT(tile, HasSubstr("\"watchProblem\":\"watches router 3, which this system does not have\""));
    std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\""));
    EXPECT_THAT(health, HasSubstr("\"a watches router 3, which this system does not have\""));
    // Said as the display registers and as it polls, and then at every poll.
    const std::string events = httpGet(url, "/api/events");
    const std::string warning = "\"text\":\"warning: a: no router 3\",\"count\":";
    const size_t said = events.find(warning);
    ASSERT_NE(said, std::string::npos) << events;
    EXPECT_EQ(events.find(warning, said + 1), std::string::npos) << events;
    EXPECT_GE(std::stoi(events.substr(said + warning.size())), 2) << events;

    EXPECT_THAT(sendParent(url, token, "a", "myMatrix=1"), HasSubstr("200 OK"));
    ASSERT_TRUE(host->waitFor("a: watches what its router has again")) << host->output();
    EXPECT_TRUE(screen.waitForLamps(7, "Input 1", 0, 0, 2)) << host->output() << host->errors();
    tile = displayJson(httpGet(url, "/api/displays"), "a");
    EXPECT_THAT(tile, HasSubstr("\"router\":1,"));
    EXPECT_THAT(tile, HasSubstr("\"marked\":\"\",\"watchProblem\":\"\""));
    health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"ok\""));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

// A router that comes back with fewer destinations than its device file
// has none past them: their displays' screens are treated as a lost
// router's, their tally is off, and /healthz names them, until the router
// has them again.
TEST_F(ServeVideohub, DisplaysPastTheSizeARouterComesBackWithShowNoSourceUntilItHasThemAgain) {
    tsl5_screen screen;
    writeWall("[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
              "\"\nrefresh = \"0s\"\non_router_lost = \"mark\"\nlost_mark = \"right:amber\"\n\n"
              "[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 1 }\n"
              "[[display]]\nname = \"m13\"\nmatrix = 1\ndestination = 13\numd = { index = 13 }\n"
              "[[tally_in]]\nname = \"mixer1\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
              "[[tally_in.map]]\nindex = 1\nmatrix = 1\nsource = 13\n");
    auto host = serve({"--http", "127.0.0.1:0"}, false);
    ASSERT_TRUE(screen.waitFor(13, "Input 13")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    boost::asio::io_context io;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, tallyPort(*host));
    mixer.cut(1);
    ASSERT_TRUE(screen.waitForLamps(13, "Input 13", 1, 0)) << host->output() << host->errors();

    router->write("restart 16 12\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected, 12 destinations", 40)) << host->output();
    ASSERT_TRUE(host->waitFor("m13: watches destination 13; router 1 reports 12")) << host->output();
    EXPECT_TRUE(screen.waitForLamps(13, "Input 13", 0, 3)) << host->output() << host->errors();
    const std::string tile = displayJson(httpGet(url, "/api/displays"), "m13");
    EXPECT_THAT(tile, HasSubstr("\"marked\":\"mark\",\"watchProblem\":\"watches destination 13; router 1 reports 12\""));
    EXPECT_THAT(tile, HasSubstr("\"tally\":\"\""));
    EXPECT_THAT(displayJson(httpGet(url, "/api/displays"), "a"), HasSubstr("\"marked\":\"\",\"watchProblem\":\"\""));
    std::string health = httpGet(url, "/healthz");
    EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\""));
    EXPECT_THAT(health, HasSubstr("\"m13 watches destination 13; router 1 reports 12\""));

    router->write("restart 16 16\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected, 16 destinations", 40)) << host->output();
    ASSERT_TRUE(host->waitFor("m13: watches what its router has again")) << host->output();
    EXPECT_TRUE(screen.waitForLamps(13, "Input 13", 1, 0, 2)) << host->output() << host->errors();
    EXPECT_THAT(httpGet(url, "/healthz"), Not(HasSubstr("m13 watches")));
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

TEST_P(Serve, ADisplayRemovedAtAReloadIsSentBlank) {
    tsl5_screen screen;
    const std::string umd = "[umd]\nto = \"tsl5+udp://127.0.0.1:" + std::to_string(screen.port()) +
                            "\"\nrefresh = \"0s\"\n\n";
    writeWall(umd + "[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n\n[[display]]\nname = "
                    "\"b\"\ninstance = \"b\"\numd = { index = 9 }\n");
    auto host = serve({"--quiet"});
    ASSERT_TRUE(screen.waitFor(9, "Input 2")) << host->output() << host->errors();
    writeWall(umd + "[[display]]\nname = \"a\"\ninstance = \"a\"\numd = { index = 7 }\n");
    host->signal(SIGHUP);
    EXPECT_TRUE(screen.waitFor(9, "")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Protocols, Serve, ::testing::Values(protocol_case{"videohub", true}, protocol_case{"swp08", false},
                                                              protocol_case{"emberplus", true}),
                         &caseName);

// Each router the way an operator uses it: every display shows a name
// from the start, through a route, a rename and a reconnect, until SIGTERM
// ends every display. A Quartz router (ASCII over TCP) is read name by name
// and route by route, its operator's route pushed as one update of two
// levels beside another level's, a rename pushed unasked. An NMOS
// registry's relabel is pushed on the senders' WebSocket, long before a
// resync (an hour away) could bring it. Ember+ providers of other makes:
// one acts on the first request of a message only, one never answers for
// labels; what never came is shown as numbers, said once per connection in
// the log, and held in /healthz and the page's link.
class ServeRouter : public Serve {};

TEST_P(ServeRouter, ShowsARouteARenameAndAReconnectAndEndsEveryDisplayOnSigterm) {
    const bool named = !GetParam().requests || std::string(GetParam().requests) != "labels-never";
    writeDevice(GetParam().device);
    auto host = serve({"--http", "127.0.0.1:0"});
    const auto shown = [&](int n) { return (named ? "Input " : "") + std::to_string(n); };
    ASSERT_TRUE(host->waitFor("a: [ " + shown(1) + " ]")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("b: [ " + shown(2) + " ]")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("router 1 (Fake): connected, 16 destinations")) << host->output() << host->errors();
    const std::string url = pageAddress(*host);
    ASSERT_FALSE(url.empty()) << host->errors();
    const std::string said = "router 1: the sources' labels (path 0.2.2) did not come; showing numbers";
    const std::string health = httpGet(url, "/healthz");
    if (named) {
        EXPECT_THAT(health, HasSubstr("\"status\":\"ok\"")) << health;
    } else {
        EXPECT_THAT(host->errors(), HasSubstr("quon-host: warning: " + said)) << host->output();
        EXPECT_THAT(health, HasSubstr("\"status\":\"degraded\"")) << health;
        EXPECT_THAT(health, HasSubstr("router 1 connected (the sources' labels (path 0.2.2) did not come; showing "
                                      "numbers)"))
            << health;
        EXPECT_THAT(httpGet(url, "/api/routers"), HasSubstr("\"missing\":[\"the targets' labels (path 0.2.1)"));
    }
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ " + shown(5) + " ]")) << host->output() << host->errors();
    if (GetParam().pushesLabels) {
        router->write("label in 5 CAM 5 WIDE ANGLE\n");
        ASSERT_TRUE(host->waitFor("a: [ CAM 5 WIDE ANGLE ]")) << host->output() << host->errors();
    }
    router->write("drop\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): lost")) << host->output() << host->errors();
    router->write("route 1 9\n");
    ASSERT_TRUE(host->waitFor("a: [ " + shown(9) + " ]", 40)) << host->output() << host->errors();
    if (!named) {
        // The log says a warning once a minute at most; the page's events
        // say it once, counted: once per connection.
        const std::string events = httpGet(url, "/api/events");
        const std::size_t at = events.find(said + "\",\"count\":2");
        EXPECT_NE(at, std::string::npos) << events;
        EXPECT_EQ(events.find(said, at + 1), std::string::npos) << events;
        EXPECT_THAT(httpGet(url, "/healthz"), HasSubstr("router 1 connected (the sources' labels"));
    }
    EXPECT_EQ(metric(httpGet(url, "/metrics"), "quon_router_reconnects_total{device=\"1\"}"), 1.0);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    const std::string out = host->output();
    EXPECT_THAT(out, HasSubstr("a        -> command   \"AS\""));
    EXPECT_THAT(out, HasSubstr("b        -> command   \"AS\""));
    EXPECT_THAT(out, Not(HasSubstr("violation")));
    // Updates of other levels, padded names, pages: the protocols', not faults.
    if (named) {
        EXPECT_THAT(host->errors(), Not(HasSubstr("warning"))) << host->errors();
    }
}

// serve runs a Windows module (the windows32-msvc preset's Korvane.dll) on
// the emulated CPU as it runs the .so, on every router.
TEST_P(ServeRouter, RunsTheWindowsModule) {
    const std::string dll = QUON_WINDOWS_MODULES "/Korvane.dll";
    if (access(dll.c_str(), R_OK) != 0) GTEST_SKIP() << dll << " is not built (the windows32-msvc preset builds it)";
    const bool named = !GetParam().requests || std::string(GetParam().requests) != "labels-never";
    const auto shown = [&](int n) { return (named ? "Input " : "") + std::to_string(n); };
    writeDevice(GetParam().device);
    writeWall("[[display]]\nname = \"a\"\ninstance = \"a\"\nmodule = \"" + dll + "\"\n");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("a: [ " + shown(1) + " ]")) << host->output() << host->errors();
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ " + shown(5) + " ]")) << host->output() << host->errors();
    if (GetParam().pushesLabels) {
        router->write("label in 5 CAM 5 WIDE ANGLE\n");
        ASSERT_TRUE(host->waitFor("a: [ CAM 5 WIDE ANGLE ]")) << host->output() << host->errors();
    }
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->output(), HasSubstr("a        -> command   \"AS\""));
    EXPECT_THAT(host->output(), Not(HasSubstr("violation")));
}

std::vector<protocol_case> everyRouter() {
    std::string senders = "Senders=", receivers = "Receivers=";
    for (int n = 1; n <= 16; ++n) {
        senders += (n > 1 ? "," : "") + std::string("Input ") + std::to_string(n);
        receivers += (n > 1 ? "," : "") + std::string("Output ") + std::to_string(n);
    }
    // Long answer waits where a late answer (a busy machine) must not be
    // taken for one that never comes; short where nothing can come late.
    return {{"videohub", true},
            {"swp08", false},
            {"emberplus", true},
            {"emberplus", true, "first-only", "AnswerWait=5000\n"},
            {"emberplus", true, "labels-never", "AnswerWait=300\n"},
            {"quartz", true, nullptr, "Level=v\nAnswerWait=5000\n"},
            {"nmos", true, nullptr, senders + "\n" + receivers + "\nResync=3600000\n"}};
}

INSTANTIATE_TEST_SUITE_P(Routers, ServeRouter, ::testing::ValuesIn(everyRouter()), &caseName);

// An NMOS registry (its Query API, its subscriptions' WebSockets on a port
// of their own): numbered as met, a registry restart whose node registers
// late, and the node's expiry; over HTTPS and WSS.
class ServeNmos : public ServeTest {
protected:
    ServeNmos() : ServeTest({"nmos", true}) {}
};

// Numbered as met (no Senders= or Receivers=: in label order "Output 10"
// is destination 2): a registry restart whose node registers again only
// after the host has read it empty (3 s), then the node's expiry.
TEST_F(ServeNmos, ShowsEveryRouteAgainAfterARegistryRestartWithItsNodeLateAndNoneAfterTheNodeExpires) {
    writeDevice("Resync=3600000\n");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("b: [ Input 10 ]")) << host->output() << host->errors();
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ Input 5 ]")) << host->output() << host->errors();
    router->write("restart\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): lost")) << host->output() << host->errors();
    const std::size_t restarted = host->output().size();
    const auto shownSinceRestart = [&](const std::string& line) {
        return host->output().find(line, restarted) != std::string::npos || host->waitFor(line);
    };
    ASSERT_TRUE(shownSinceRestart("a: [ Input 5 ]")) << host->output() << host->errors();
    ASSERT_TRUE(shownSinceRestart("b: [ Input 10 ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    ASSERT_EQ(host->wait(), 0);

    // The numbers the link gave are kept: the next serve takes them back
    // from the state file, here with its first two receivers swapped.
    const std::string stateFile = root + "/vx/main/config/system/dev_001.state";
    std::string kept;
    {
        std::ifstream in(stateFile);
        kept.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t list = kept.find("\"receivers\":[\"");
    ASSERT_NE(list, std::string::npos) << kept;
    const std::size_t first = list + 13, comma = kept.find(',', first);
    const std::size_t end = kept.find_first_of(",]", comma + 1);
    kept.replace(first, end - first,
                 kept.substr(comma + 1, end - comma - 1) + "," + kept.substr(first, comma - first));
    std::ofstream(stateFile) << kept;
    host = serve();
    ASSERT_TRUE(host->waitFor("a: [ Input 10 ]")) << host->output() << host->errors();
    ASSERT_TRUE(host->waitFor("b: [ Input 5 ]")) << host->output() << host->errors();
    router->write("expire\n");
    ASSERT_TRUE(host->waitFor("a: [  ]")) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->output(), Not(HasSubstr("violation")));
    EXPECT_THAT(host->errors(), Not(HasSubstr("warning"))) << host->errors();
}

// Over HTTPS and WSS (BCP-003-01), with the facility's CA named in the
// device file: the same start, change and restart; without it, the
// certificate does not verify and the link says so.
TEST_F(ServeNmos, FollowsARegistryOverHttpsAndWssWhoseCertificateVerifies) {
    const quon::test::test_ca ca;
    const quon::test::test_certificate certificate = ca.loopback();
    program_run fake;
    fake.program = FAKE_ROUTER_PATH;
    fake.arguments = {"nmos", "--certificate", certificate.certificateFile, "--key", certificate.keyFile,
                      "--node-return", "200"};
    router = std::make_unique<running_program>(fake);
    port_ = router->readLine().value_or("");
    scheme_ = "https://";
    writeDevice("Resync=3600000\n");
    auto untrusted = serve();
    ASSERT_TRUE(untrusted->waitFor("the router 127.0.0.1's certificate does not verify"))
        << untrusted->output() << untrusted->errors();
    untrusted->signal(SIGTERM);
    EXPECT_EQ(untrusted->wait(), 0);

    writeDevice("CaFile=" + ca.caFile() + "\nResync=3600000\n");
    auto host = serve();
    ASSERT_TRUE(host->waitFor("a: [ Input 1 ]")) << host->output() << host->errors();
    router->write("route 1 5\n");
    ASSERT_TRUE(host->waitFor("a: [ Input 5 ]")) << host->output() << host->errors();
    router->write("label in 5 CAM 5\n");
    ASSERT_TRUE(host->waitFor("a: [ CAM 5 ]")) << host->output() << host->errors();
    router->write("restart\n");
    ASSERT_TRUE(host->waitFor("router 1 (Fake): lost")) << host->output() << host->errors();
    router->write("route 1 9\n");
    ASSERT_TRUE(host->waitFor("a: [ Input 9 ]", 40)) << host->output() << host->errors();
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
    EXPECT_THAT(host->errors(), Not(HasSubstr("warning"))) << host->errors();
}

TEST(ServeWallFile, ARefusedWallFileNamesFileLineAndColumn) {
    char pattern[] = "/tmp/quon-serve-test-XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::ofstream(root + "/wall.toml") << "[[display]]\nname = \"a\"\nmatrix = \"two\"\n";
    program_run run;
    run.program = QUON_HOST_PATH;
    run.arguments = {"serve", root + "/wall.toml"};
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr(root + "/wall.toml:3:10: `matrix` takes a whole number"));
    fs::remove_all(root);
}

}  // namespace
