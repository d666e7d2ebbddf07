// The web view against fake browsers on loopback sockets, all on the test's
// own io_context: the server and the clients take turns on one thread, as in
// quon-host.
#include "quon/web/web_view.h"

#include <gtest/gtest.h>

#include <array>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>

#include "quon/web/page_tls.h"
#include "run_until.h"
#include "test_ca.h"

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using json = nlohmann::json;
using quon::web::control_answer;
using quon::web::control_request;
using quon::web::display_state;
using quon::web::link_state;
using quon::web::receiver_state;
using quon::web::tally_input_state;
using quon::web::web_settings;
using quon::web::web_view;

// A TCP client that writes what it is told and gathers what comes back.
class raw_client {
public:
    // From `from`: another loopback address stands for another machine.
    raw_client(asio::io_context& io, unsigned short port, int receiveBuffer = 0, const char* from = "127.0.0.1")
        : socket_(io) {
        socket_.open(tcp::v4());
        if (receiveBuffer > 0) socket_.set_option(asio::socket_base::receive_buffer_size(receiveBuffer));
        socket_.bind({asio::ip::make_address(from), 0});
        socket_.connect({asio::ip::make_address("127.0.0.1"), port});
    }

    void send(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }

    void startReading() {
        socket_.async_read_some(asio::buffer(chunk_),
                                [this](const boost::system::error_code& failure, std::size_t size) {
                                    if (failure) {
                                        closed_ = true;
                                        return;
                                    }
                                    received_.append(chunk_.data(), size);
                                    startReading();
                                });
    }

    bool closed() const { return closed_; }
    std::string& received() { return received_; }
    const std::string& received() const { return received_; }

private:
    tcp::socket socket_;
    std::array<char, 65536> chunk_{};
    std::string received_;
    bool closed_ = false;
};

// A TLS client that trusts `caFile` alone and checks the server's
// certificate names 127.0.0.1: writes `bytes` once the handshake is done,
// and gathers the answer until the server closes.
class tls_client {
public:
    tls_client(asio::io_context& io, unsigned short port, const std::string& caFile)
        : context_(asio::ssl::context::tls_client), stream_(io, context_) {
        context_.load_verify_file(caFile);
        stream_.set_verify_mode(asio::ssl::verify_peer);
        stream_.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
        stream_.lowest_layer().connect({asio::ip::make_address("127.0.0.1"), port});
    }

    void exchange(const std::string& bytes) {
        sent_ = bytes;
        stream_.async_handshake(asio::ssl::stream_base::client, [this](const boost::system::error_code& failure) {
            if (failure) {
                handshakeFailed_ = closed_ = true;
                return;
            }
            asio::async_write(stream_, asio::buffer(sent_),
                              [this](const boost::system::error_code&, std::size_t) { read(); });
        });
    }

    bool closed() const { return closed_; }
    bool handshakeFailed() const { return handshakeFailed_; }
    const std::string& received() const { return received_; }

private:
    void read() {
        stream_.async_read_some(asio::buffer(chunk_), [this](const boost::system::error_code& failure, std::size_t size) {
            received_.append(chunk_.data(), size);
            if (failure) {
                closed_ = true;
                return;
            }
            read();
        });
    }

    asio::ssl::context context_;
    asio::ssl::stream<tcp::socket> stream_;
    std::array<char, 65536> chunk_{};
    std::string sent_;
    std::string received_;
    bool closed_ = false;
    bool handshakeFailed_ = false;
};

struct http_reply {
    int status = 0;
    std::string head;
    std::string body;
};

http_reply parseReply(const std::string& bytes) {
    http_reply reply;
    const auto end = bytes.find("\r\n\r\n");
    if (bytes.size() < 12 || end == std::string::npos) return reply;
    reply.status = std::stoi(bytes.substr(9, 3));
    reply.head = bytes.substr(0, end);
    reply.body = bytes.substr(end + 4);
    return reply;
}

// A page's WebSocket, written out by hand: the upgrade, then the server's
// unmasked frames, gathered into text messages.
class ws_client {
public:
    ws_client(asio::io_context& io, unsigned short port, int receiveBuffer = 0, const char* from = "127.0.0.1")
        : raw_(io, port, receiveBuffer, from) {}

    void upgrade(const std::string& extraHeaders = "", const std::string& target = "/ws") {
        raw_.send(
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
            extraHeaders + "\r\n");
    }
    void startReading() { raw_.startReading(); }

    // The status of the upgrade answer; 0 while it has not come.
    int status() const { return handshakeDone_ ? status_ : parseReply(raw_.received()).status; }
    bool closed() const { return raw_.closed(); }
    int pings() const { return pings_; }

    // Every complete text message so far.
    const std::vector<json>& messages() {
        std::string& bytes = raw_.received();
        if (!handshakeDone_) {
            const auto end = bytes.find("\r\n\r\n");
            if (end == std::string::npos) return messages_;
            status_ = parseReply(bytes).status;
            bytes.erase(0, end + 4);
            handshakeDone_ = true;
        }
        while (bytes.size() >= 2) {
            const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
            std::size_t length = byte(1) & 0x7f;
            std::size_t header = 2;
            if (length == 126) {
                if (bytes.size() < 4) break;
                length = (std::size_t{byte(2)} << 8) | byte(3);
                header = 4;
            } else if (length == 127) {
                if (bytes.size() < 10) break;
                length = 0;
                for (std::size_t i = 2; i < 10; ++i) length = (length << 8) | byte(i);
                header = 10;
            }
            if (bytes.size() < header + length) break;
            const unsigned opcode = byte(0) & 0x0f;
            const bool final = (byte(0) & 0x80) != 0;
            if (opcode == 9) ++pings_;
            if (opcode == 1 || opcode == 0) {
                partial_ += bytes.substr(header, length);
                if (final) {
                    messages_.push_back(json::parse(partial_));
                    partial_.clear();
                }
            }
            bytes.erase(0, header + length);
        }
        return messages_;
    }

    // Waits for the message after the ones seen so far.
    json next(asio::io_context& io) {
        const std::size_t seen = seen_;
        EXPECT_TRUE(runUntil(io, [&] { return messages().size() > seen || closed(); }));
        const auto& all = messages();
        if (all.size() <= seen) return json();
        seen_ = seen + 1;
        return all[seen];
    }

private:
    raw_client raw_;
    bool handshakeDone_ = false;
    int status_ = 0;
    int pings_ = 0;
    std::string partial_;
    std::vector<json> messages_;
    std::size_t seen_ = 0;
};

class WebView : public ::testing::Test {
protected:
    void startView() {
        settings.address = "127.0.0.1";
        settings.port = 0;
        view = std::make_unique<web_view>(io, settings);
        std::string error;
        ASSERT_TRUE(view->start(error)) << error;
        ASSERT_NE(view->port(), 0);
    }

    // Sends a request and gathers the answer until the server closes.
    http_reply request(const std::string& bytes) {
        raw_client client(io, view->port());
        client.send(bytes);
        client.startReading();
        EXPECT_TRUE(runUntil(io, [&] { return client.closed(); }));
        return parseReply(client.received());
    }

    http_reply get(const std::string& target) {
        return request("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }

    std::unique_ptr<ws_client> openPage() {
        auto page = std::make_unique<ws_client>(io, view->port());
        page->upgrade();
        page->startReading();
        return page;
    }

    static tally_input_state input(const std::string& name, const std::string& listen, bool up,
                                   const std::string& problem) {
        tally_input_state state;
        state.name = name;
        state.listen = listen;
        state.up = up;
        state.problem = problem;
        return state;
    }

    std::unique_ptr<ws_client> openTallyPage(const std::string& path, const std::string& headers = "") {
        auto page = std::make_unique<ws_client>(io, view->port());
        page->upgrade(headers, "/ws/tally/" + path);
        page->startReading();
        return page;
    }

    static display_state tile(const std::string& name, const std::string& text) {
        display_state state;
        state.name = name;
        state.text = text;
        return state;
    }

    asio::io_context io;
    web_settings settings;
    std::unique_ptr<web_view> view;
};

// Every field of every display, as whole objects: none missing, none extra.
TEST_F(WebView, ApiDisplaysListsEveryFieldInWallOrder) {
    startView();
    display_state first = tile("MON 2", "CAM 1");
    first.statesheet = "alarm";
    first.left = "red";
    first.centre = "green";
    first.right = "amber";
    first.brightness = 40;
    first.notified = "sourceid=5";
    first.router = 3;
    first.routerSilent = true;
    first.destination = 14;
    first.tslIndex = 13;
    first.marked = "blank";
    view->setDisplay(first);
    view->setDisplay(tile("MON 1", "VT 4"));
    first.text = "CAM 2";
    view->setDisplay(first);  // an update keeps its place

    const http_reply reply = get("/api/displays");
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.head.find("Content-Type: application/json"), std::string::npos);
    const json displays = json::parse(reply.body);
    const json expected = json::parse(R"([
        {"name":"MON 2","text":"CAM 2","statesheet":"alarm","left":"red","centre":"green","right":"amber",
         "brightness":40,"notified":"sourceid=5","router":3,"routerSilent":true,"destination":14,"tslIndex":13,
         "marked":"blank","watchProblem":"","tally":"","iso":false,"tallyInput":"","tallyIndex":0,"tallyWhy":""},
        {"name":"MON 1","text":"VT 4","statesheet":"","left":"off","centre":"off","right":"off",
         "brightness":100,"notified":"","router":0,"routerSilent":false,"destination":0,"tslIndex":-1,
         "marked":"","watchProblem":"","tally":"","iso":false,"tallyInput":"","tallyIndex":0,"tallyWhy":""}])");
    EXPECT_EQ(displays, expected);
    EXPECT_EQ(json::parse(view->displaysJson()), displays);
}

TEST_F(WebView, ApiDisplaysCarriesEveryTileField) {
    startView();
    display_state state = tile("MON 1", "CAM 1");
    state.statesheet = "alarm";
    state.left = "red";
    state.centre = "green";
    state.right = "amber";
    state.brightness = 40;
    state.notified = "sourceid=5";
    state.router = 3;
    state.routerSilent = true;
    state.destination = 14;
    state.tslIndex = 13;
    state.marked = "mark";
    state.watchProblem = "watches destination 14; router 3 reports 12";
    state.tally = "program";
    state.tallyInput = "mixer1";
    state.tallyIndex = 3;
    state.tallyWhy = "router 3 destination 14 <- source 5; mixer1 index 3 lights router 3 source 5";
    view->setDisplay(state);
    const json expected = json::parse(R"([{"name":"MON 1","text":"CAM 1","statesheet":"alarm","left":"red",
        "centre":"green","right":"amber","brightness":40,"notified":"sourceid=5","router":3,"routerSilent":true,
        "destination":14,"tslIndex":13,"marked":"mark","watchProblem":"watches destination 14; router 3 reports 12",
        "tally":"program","iso":false,"tallyInput":"mixer1","tallyIndex":3,
        "tallyWhy":"router 3 destination 14 <- source 5; mixer1 index 3 lights router 3 source 5"}])");
    EXPECT_EQ(json::parse(get("/api/displays").body), expected);
}

// A display on no router and sent to no TSL receiver says so with values no
// real destination or index takes; TSL index 0 is a real one.
TEST_F(WebView, DestinationAndTslIndexOfADisplayWithoutThem) {
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    display_state indexZero = tile("MON 2", "CAM 2");
    indexZero.tslIndex = 0;
    indexZero.router = 1;
    indexZero.destination = 1;
    view->setDisplay(indexZero);
    const json displays = json::parse(get("/api/displays").body);
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0]["router"], 0);
    EXPECT_EQ(displays[0]["destination"], 0);
    EXPECT_EQ(displays[0]["tslIndex"], -1);
    EXPECT_EQ(displays[1]["destination"], 1);
    EXPECT_EQ(displays[1]["tslIndex"], 0);
}

TEST_F(WebView, RemovedAndReorderedDisplaysShowInTheApi) {
    startView();
    for (const char* name : {"A", "B", "C", "D"}) view->setDisplay(tile(name, "x"));
    view->removeDisplay("B");
    view->removeDisplay("nobody");
    view->wallOrder({"D", "nobody", "C"});
    std::vector<std::string> names;
    for (const json& display : json::parse(get("/api/displays").body)) names.push_back(display["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"D", "C", "A"}));
}

TEST_F(WebView, ApiRoutersListsLinksByDeviceNumber) {
    startView();
    link_state second{7, "Studio router", "SW-P-08", "connecting", 128, "retry in 5 s", {}};
    link_state first{2, "MCR router", "Videohub", "connected", 64, "", {}};
    view->link(second);
    view->link(first);
    first.state = "lost";
    first.detail = "connection refused";
    view->link(first);
    view->link({9, "gone", "", "connected", 1, "", {}});
    view->removeLink(9);

    const json routers = json::parse(get("/api/routers").body);
    const json expected = json::parse(R"([
        {"device":2,"name":"MCR router","protocol":"Videohub","state":"lost","size":64,"detail":"connection refused",
         "missing":[]},
        {"device":7,"name":"Studio router","protocol":"SW-P-08","state":"connecting","size":128,"detail":"retry in 5 s",
         "missing":[]}])");
    EXPECT_EQ(routers, expected);
}

TEST_F(WebView, HealthzCountsWhatItServes) {
    startView();
    view->setDisplay(tile("MON 1", "x"));
    view->link({1, "r", "", "connected", 4, "", {}, true});
    const http_reply reply = get("/healthz");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(json::parse(reply.body),
              json::parse(R"({"status":"ok","role":"active","down":[],"displays":1,"routers":1,"receivers":0,"tallyInputs":0,"clients":0})"));
}

TEST_F(WebView, HealthzIsDegradedNamingEachTallyInputThatIsDownOrNotListening) {
    startView();
    const std::string cannot = "cannot bind tsl5+udp://127.0.0.1:8912: Address already in use";
    view->tallyInputs({input("mixer1", "tsl5+udp://127.0.0.1:8910", true, ""),
                       input("mixer2", "tsl31+udp://127.0.0.1:8911", false, ""),
                       input("mixer3", "tsl5+udp://127.0.0.1:8912", false, cannot)});
    const json health = json::parse(get("/healthz").body);
    EXPECT_EQ(health["status"], "degraded");
    EXPECT_EQ(health["down"], json::array({"tally input mixer2 down (tsl31+udp://127.0.0.1:8911)",
                                           "tally input mixer3 not listening (" + cannot + ")"}));
    EXPECT_EQ(health["tallyInputs"], 3);
}

// Each input's counts as the host gives them, in the API and pushed to
// the pages at each change.
TEST_F(WebView, TallyInputsAreInTheApiAndPushedToPagesAsTheyChange) {
    startView();
    tally_input_state mixer = input("mixer1", "tsl5+udp://127.0.0.1:8910", true, "");
    mixer.lastPacket = "2026-12-11T10:00:00.250Z";
    mixer.packets = 12;
    mixer.unmapped = 3;
    mixer.unreadable = 1;
    mixer.changes = 5;
    view->tallyInputs({mixer});
    const json expected = json::parse(R"([{"name":"mixer1","listen":"tsl5+udp://127.0.0.1:8910","up":true,
        "problem":"","lastPacket":"2026-12-11T10:00:00.250Z","packets":12,"unmapped":3,"unreadable":1,"changes":5}])");
    EXPECT_EQ(json::parse(get("/api/tally-inputs").body), expected);
    auto page = openPage();
    EXPECT_EQ(page->next(io)["tallyInputs"], expected);
    mixer.packets = 13;
    view->tallyInputs({mixer});
    EXPECT_EQ(page->next(io)["tallyInputs"][0]["packets"], 13);
}

// A tally page's socket carries its one display's state, whole at each
// change of it, and nothing of the other displays.
TEST_F(WebView, ATallyPageFollowsItsDisplayAlone) {
    startView();
    display_state mon1 = tile("MON 1", "CAM 1");
    view->setDisplay(mon1);
    view->setDisplay(tile("MON 2", "CAM 2"));
    auto page = openTallyPage("MON%201");
    json state = page->next(io);
    EXPECT_EQ(state, json::parse(R"({"type":"tally","kind":"display","name":"MON 1","onWall":true,"tally":"","iso":false,
        "text":"CAM 1","tallyWhy":""})"));
    display_state mon2 = tile("MON 2", "CAM 2");
    mon2.tally = "program";
    view->setDisplay(mon2);
    mon1.tally = "preview";
    view->setDisplay(mon1);
    state = page->next(io);
    EXPECT_EQ(state["tally"], "preview") << "the first message after its own is of its next change";
    view->removeDisplay("MON 1");
    EXPECT_EQ(page->next(io)["onWall"], false);
    EXPECT_EQ(view->clientCount(), 0u) << "a tally page is no wall page";
}

// A source's page follows the picture as routes move it between displays.
TEST_F(WebView, ASourcesTallyPageFollowsItFromDisplayToDisplay) {
    startView();
    display_state mon1 = tile("MON 1", "CAM 1");
    mon1.tally = "program";
    view->setDisplay(mon1);
    auto page = openTallyPage("source/CAM%201");
    EXPECT_EQ(page->next(io)["tally"], "program");
    mon1.text = "CAM 2";
    view->setDisplay(mon1);
    display_state mon2 = tile("MON 2", "CAM 1");
    mon2.tally = "preview";
    view->setDisplay(mon2);
    const json state = page->next(io);
    EXPECT_EQ(state["kind"], "source");
    EXPECT_EQ(state["tally"], "preview");
    EXPECT_EQ(state["displays"], 1);
}

// The tally page's socket is let in as the wall's is: the view token
// first, so that nothing is said of a name without it; then a name not
// on the wall is not found.
TEST_F(WebView, ATallyPageNeedsTheViewTokenThenAKnownName) {
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    view->viewToken("look-but-do-not-touch");
    for (const char* path : {"MON%201", "nobody"}) {
        auto without = openTallyPage(path);
        ASSERT_TRUE(runUntil(io, [&] { return without->closed(); }));
        EXPECT_EQ(without->status(), 401) << path;
    }
    const std::string cookie = "Cookie: quon_view=look-but-do-not-touch\r\n";
    auto unknown = openTallyPage("nobody", cookie);
    ASSERT_TRUE(runUntil(io, [&] { return unknown->closed(); }));
    EXPECT_EQ(unknown->status(), 404);
    auto page = openTallyPage("MON%201", cookie);
    EXPECT_EQ(page->next(io)["name"], "MON 1");
    view->viewToken("another-token-for-the-wall");
    EXPECT_TRUE(runUntil(io, [&] { return page->closed(); })) << "closed with the wall's pages";
}

TEST_F(WebView, HealthzIsDegradedNamingEachDisplayItsRouterCannotShowUntilItCan) {
    startView();
    display_state absent = tile("MON 1", "CAM 1");
    absent.watchProblem = "watches router 3, which this system does not have";
    view->setDisplay(absent);
    display_state past = tile("MON 13", "CAM 13");
    past.watchProblem = "watches destination 13; router 1 reports 12";
    view->setDisplay(past);
    view->setDisplay(tile("MON 2", "CAM 2"));
    json health = json::parse(get("/healthz").body);
    EXPECT_EQ(health["status"], "degraded");
    EXPECT_EQ(health["down"], json::array({"MON 1 watches router 3, which this system does not have",
                                           "MON 13 watches destination 13; router 1 reports 12"}));

    absent.watchProblem.clear();
    view->setDisplay(absent);
    view->removeDisplay("MON 13");
    health = json::parse(get("/healthz").body);
    EXPECT_EQ(health["status"], "ok");
    EXPECT_EQ(health["down"], json::array());
}

TEST_F(WebView, HealthzIsDegradedNamingEachRouterThatIsDownOrIncompleteAndEachReceiverDown) {
    startView();
    view->link({1, "r", "", "connected", 4, "", {}, true});
    view->link({2, "s", "", "lost", 4, "connection refused; retrying in 2 s", {}});
    view->link({3, "t", "", "connected", 4, "", {"the sources' labels (path 0.2.2) did not come; showing numbers"}, true});
    receiver_state up;
    up.to = "tsl5+udp://127.0.0.1:9000";
    up.state = "sending";
    receiver_state down;
    down.to = "tsl5+tcp://127.0.0.1:9001";
    down.state = "connecting";
    down.down = true;
    view->receivers({up, down});
    const json health = json::parse(get("/healthz").body);
    EXPECT_EQ(health["status"], "degraded");
    const json expected = {"router 2 lost (connection refused; retrying in 2 s)",
                           "router 3 connected (the sources' labels (path 0.2.2) did not come; showing numbers)",
                           "receiver tsl5+tcp://127.0.0.1:9001 connecting"};
    EXPECT_EQ(health["down"], expected);
    const json receivers = json::parse(get("/api/receivers").body);
    ASSERT_EQ(receivers.size(), 2u);
    EXPECT_EQ(receivers[1]["down"], true);
    EXPECT_EQ(receivers[0]["state"], "sending");
}

TEST_F(WebView, FollowedReceiversAreReadAtEachRequestAndPushedToPagesWhenTheyChange) {
    startView();
    receiver_state r;
    r.to = "tsl5+udp://127.0.0.1:9000";
    r.state = "sending";
    unsigned long long packets = 10;
    view->followReceivers(
        [&] {
            r.packets = packets;
            return std::vector<receiver_state>{r};
        },
        std::chrono::milliseconds(10));
    EXPECT_EQ(json::parse(get("/api/receivers").body)[0]["packets"], 10);
    packets = 232;
    EXPECT_EQ(json::parse(get("/api/receivers").body)[0]["packets"], 232) << "read again, not as last pushed";

    auto page = openPage();
    const json full = page->next(io);
    EXPECT_EQ(full["type"], "full");
    EXPECT_EQ(full["receivers"][0]["packets"], 232);
    packets = 240;  // the state stays "sending": only the count changed
    json update;
    for (int i = 0; i < 5 && !(update.contains("receivers") && update["receivers"][0]["packets"] == 240); ++i)
        update = page->next(io);
    EXPECT_EQ(update["receivers"][0]["packets"], 240) << update.dump();
}

TEST_F(WebView, JsonKeepsMarkupQuotesAndControlCharactersAsText) {
    startView();
    const std::string name = "<img src=x onerror=alert(1)>";
    const std::string text = "&amp; \"quoted\" \\ </script>\n\t\x01";
    view->setDisplay(tile(name, text));
    const http_reply reply = get("/api/displays");
    const json displays = json::parse(reply.body);
    EXPECT_EQ(displays[0]["name"], name);
    EXPECT_EQ(displays[0]["text"], text);
    EXPECT_EQ(reply.body.find('\n'), std::string::npos) << "control characters must be escaped";
    EXPECT_NE(reply.head.find("X-Content-Type-Options: nosniff"), std::string::npos);
}

struct text_case {
    const char* what;
    std::string sent;
    std::string shown;  // as the JSON decodes
};

void PrintTo(const text_case& c, std::ostream* out) { *out << c.what; }

class WebViewJsonText : public WebView, public ::testing::WithParamInterface<text_case> {};

TEST_P(WebViewJsonText, DecodesToTheTextUtf8OrWindows1252) {
    startView();
    view->setDisplay(tile("MON 1", GetParam().sent));
    auto page = openPage();
    const json full = page->next(io);
    view->setDisplay(tile("MON 1", GetParam().sent + "!"));
    const json update = page->next(io);
    const json api = json::parse(get("/api/displays").body);
    EXPECT_EQ(api[0]["text"], GetParam().shown + "!");
    EXPECT_EQ(full["displays"][0]["text"], GetParam().shown);
    EXPECT_EQ(update["displays"][0]["text"], GetParam().shown + "!");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WebViewJsonText,
    ::testing::Values(
        text_case{"plain", "CAM 1", "CAM 1"}, text_case{"quotes", "say \"hi\"", "say \"hi\""},
        text_case{"backslash", "a\\b", "a\\b"},
        text_case{"controls", std::string("\n\r\t\b\f\x01\x1f\x7f", 8), std::string("\n\r\t\b\f\x01\x1f\x7f", 8)},
        text_case{"nul", std::string("a\0b", 3), std::string("a\0b", 3)},
        text_case{"two byte", "caf\xc3\xa9", "caf\xc3\xa9"},
        text_case{"three byte", "\xe2\x86\x92 \xe2\x82\xac", "\xe2\x86\x92 \xe2\x82\xac"},
        text_case{"four byte", "\xf0\x9f\x8e\xa5", "\xf0\x9f\x8e\xa5"},
        // Not UTF-8: the whole text is Windows-1252.
        text_case{"stray continuation",
                  "a\x80"
                  "b",
                  "a\xe2\x82\xac"
                  "b"},
        text_case{"overlong",
                  "\xc0\xaf"
                  "x",
                  "\xc3\x80\xc2\xafx"},
        text_case{"surrogate", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},
        text_case{"beyond unicode", "\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xe2\x82\xac\xe2\x82\xac"},
        text_case{"cut short", "ab\xe2\x86", "ab\xc3\xa2\xe2\x80\xa0"},
        text_case{"latin1", "Caf\xe9", "Caf\xc3\xa9"}),
    [](const ::testing::TestParamInfo<text_case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST_F(WebView, APageOpenedLaterGetsChangesToDisplaysChangedBefore) {
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    view->setDisplay(tile("MON 1", "CAM 2"));
    auto page = openPage();
    EXPECT_EQ(page->next(io)["displays"][0]["text"], "CAM 2");
    view->setDisplay(tile("MON 1", "CAM 3"));
    const json update = page->next(io);
    ASSERT_EQ(update["displays"].size(), 1u);
    EXPECT_EQ(update["displays"][0]["text"], "CAM 3");
}

TEST_F(WebView, ATextThatIsNotUtf8IsReadAsWindows1252) {
    startView();
    view->setDisplay(tile("MON \xff", "CAM \xc3"));
    view->link({1, "Caf\xe9", "", "lost", 4, "caf\xe9", {}});
    view->event("Caf\xe9");
    const json displays = json::parse(get("/api/displays").body);
    EXPECT_EQ(displays[0]["name"], "MON \xc3\xbf");
    EXPECT_EQ(displays[0]["text"], "CAM \xc3\x83");
    const json routers = json::parse(get("/api/routers").body);
    EXPECT_EQ(routers[0]["name"], "Caf\xc3\xa9");
    EXPECT_EQ(routers[0]["detail"], "caf\xc3\xa9");
    EXPECT_EQ(json::parse(get("/api/events").body).back()["text"], "Caf\xc3\xa9");
}

// The answers themselves are tested without sockets
// (test_request_handler.cpp); here, that the server serves them.
TEST_F(WebView, ServesThePageAndItsFiles) {
    startView();
    const http_reply page = get("/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Security-Policy: default-src 'none'"), std::string::npos) << page.head;
    EXPECT_NE(page.body.find("<script src=\"/wall.js\""), std::string::npos);
    EXPECT_EQ(get("/nothing-here").status, 404);
}

TEST_F(WebView, ServesSeveralRequestsOnOneConnection) {
    startView();
    raw_client client(io, view->port());
    client.send(
        "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nGET /api/routers HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    client.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return client.closed(); }));
    EXPECT_EQ(client.received().find("HTTP/1.1 200"), 0u);
    EXPECT_NE(client.received().find("HTTP/1.1 200", 10), std::string::npos);
}

struct refused_case {
    const char* what;
    std::string request;
    int status;
};

void PrintTo(const refused_case& c, std::ostream* out) { *out << c.what; }

class WebViewRefuses : public WebView, public ::testing::WithParamInterface<refused_case> {};

TEST_P(WebViewRefuses, ThatConnectionOnlyAndChangesNothing) {
    settings.maxHeaderBytes = 1024;
    settings.maxRequestBytes = 2048;
    // The bystander waits idle while the refused request runs: on a busy
    // machine that may take longer than the default limit.
    settings.requestTimeout = std::chrono::seconds(120);
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    const std::string before = view->displaysJson();

    raw_client bystander(io, view->port());  // an open connection that must survive
    const http_reply reply = request(GetParam().request);
    EXPECT_EQ(reply.status, GetParam().status) << GetParam().what;

    bystander.send("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    bystander.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return bystander.closed(); }));
    EXPECT_EQ(parseReply(bystander.received()).status, 200);
    EXPECT_EQ(view->displaysJson(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, WebViewRefuses,
    ::testing::Values(
        refused_case{"post",
                     "POST /api/displays HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]", 405},
        refused_case{"put", "PUT / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 405},
        refused_case{"oversized header",
                     "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: " + std::string(4000, 'x') + "\r\n\r\n", 431},
        refused_case{"oversized body",
                     "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'x'), 413},
        refused_case{"malformed request line", "GARBAGE\r\n\r\n", 400},
        refused_case{"bad header", "GET / HTTP/1.1\r\nHost a\r\n\r\n", 400},
        refused_case{"bad version", "GET / HTTP/9.x\r\nHost: 127.0.0.1\r\n\r\n", 400},
        refused_case{"unknown socket",
                     "GET /other HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
                     404},
        // Another site's name for this host (DNS rebinding): its page may
        // read nothing, the live state least of all.
        refused_case{"another sites name",
                     "GET /api/displays HTTP/1.1\r\nHost: evil.example:18080\r\nConnection: close\r\n\r\n", 421},
        refused_case{"another sites name for the live socket",
                     "GET /ws HTTP/1.1\r\nHost: evil.example:18080\r\nOrigin: http://evil.example:18080\r\n"
                     "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
                     421}),
    [](const ::testing::TestParamInfo<refused_case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// The control API's checks are tested without sockets
// (test_request_handler.cpp); here, a request over a connection.
std::string controlPost(const std::string& target, const std::string& headers, const std::string& body) {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string good_token = "s3cret-token-of-the-wall";
const std::string with_token = "Authorization: Bearer " + good_token + "\r\n";

TEST_F(WebView, ControlHandsTheHostTheDisplayActionAndBodyAndAnswersItsReply) {
    startView();
    view->setDisplay(tile("mon1", "CAM 1"));
    control_request seen;
    std::vector<std::string> log;
    view->control(
        good_token,
        [&](const control_request& r) {
            seen = r;
            return control_answer{200, "tally=1"};
        },
        [&](const std::string& line) { log.push_back(line); });
    const http_reply reply = request(controlPost("/api/displays/mon1/parent", with_token, "return=tally"));
    EXPECT_EQ(reply.status, 200);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("127.0.0.1:", 0), 0u) << "names the client's address and port: " << log[0];
    EXPECT_EQ(seen.peer, log[0].substr(0, log[0].find(' ')));
    EXPECT_EQ(reply.body, "tally=1");
    EXPECT_EQ(seen.display, "mon1");
    EXPECT_EQ(seen.action, "parent");
    EXPECT_EQ(seen.body, "return=tally");
    EXPECT_EQ(get("/api/displays").status, 200) << "the rest of the API stays as it was";
}

// A reload may turn control on or off: open pages show or hide their
// controls.
TEST_F(WebView, PagesHearWhenControlTurnsOnAndOff) {
    startView();
    auto page = openPage();
    EXPECT_EQ(page->next(io)["control"], false);
    const auto act = [](const control_request&) { return control_answer{200, ""}; };
    view->control(good_token, act, nullptr);
    EXPECT_EQ(page->next(io)["control"], true);
    view->control(good_token + "2", act, nullptr);  // still on: nothing to say
    view->control("", act, nullptr);
    EXPECT_EQ(page->next(io)["control"], false);
}

TEST_F(WebView, ASlowRequestIsClosedWhileOthersAreServed) {
    // Long enough for the other request even on a busy machine.
    settings.limits.headerTimeout = std::chrono::milliseconds(2000);
    startView();
    raw_client slow(io, view->port());
    slow.send("GET /api/displays HTTP/1.1\r\nHo");
    slow.startReading();
    raw_client silent(io, view->port());  // sends nothing at all
    silent.startReading();
    EXPECT_EQ(get("/healthz").status, 200);
    ASSERT_TRUE(runUntil(io, [&] { return slow.closed() && silent.closed(); }));
    EXPECT_EQ(slow.received(), "");
    EXPECT_EQ(view->refusals(), (std::map<std::string, std::uint64_t>{{"slow", 1}}))
        << "a connection that began no request is idle, not slow";
}

// Connections past a client's share, or past the limit, are closed at
// once; this machine's own (the pair's health check) still get in.
TEST_F(WebView, ConnectionsBeyondTheLimitsAreClosedAtOnceButThisMachinesGetIn) {
    settings.limits.connections = 4;
    settings.limits.connectionsPerClient = 2;
    settings.reservedForThisMachine = 1;
    // Far past the test's own guard, so that only a limit can close a
    // connection.
    settings.requestTimeout = std::chrono::seconds(120);
    startView();
    // Accepted in order: when one is closed, those before it hold their places.
    raw_client a1(io, view->port(), 0, "127.0.0.2"), a2(io, view->port(), 0, "127.0.0.2");
    raw_client a3(io, view->port(), 0, "127.0.0.2");
    a3.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return a3.closed(); })) << "past its client's share";
    raw_client b1(io, view->port(), 0, "127.0.0.3"), b2(io, view->port(), 0, "127.0.0.3");
    raw_client c1(io, view->port(), 0, "127.0.0.4");
    c1.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return c1.closed(); })) << "past the limit";
    EXPECT_EQ(c1.received(), "");
    EXPECT_EQ(get("/healthz").status, 200) << "this machine's reserve";
    EXPECT_EQ(view->refusals(), (std::map<std::string, std::uint64_t>{{"client", 1}, {"connections", 1}}));
}

// Each refusal is counted by reason, and said once a while per address.
TEST_F(WebView, RefusalsAreCountedAndSaidOnceAWhilePerAddress) {
    settings.limits.connectionsPerClient = 1;
    settings.requestTimeout = std::chrono::seconds(120);
    settings.refusalReportEvery = std::chrono::milliseconds(50);
    startView();
    std::vector<std::string> said;
    view->reportRefusals([&said](const std::string& line) { said.push_back(line); });
    raw_client held(io, view->port(), 0, "127.0.0.2");
    std::vector<std::unique_ptr<raw_client>> refused;
    for (int i = 0; i < 3; ++i) {
        refused.push_back(std::make_unique<raw_client>(io, view->port(), 0, "127.0.0.2"));
        refused.back()->startReading();
        ASSERT_TRUE(runUntil(io, [&] { return refused.back()->closed(); }));
    }
    EXPECT_EQ(request("GET / HTTP/1.1\r\nHost: evil.example\r\nConnection: close\r\n\r\n").status, 421);
    ASSERT_TRUE(runUntil(io, [&] { return said.size() == 2; }));
    EXPECT_EQ(said, (std::vector<std::string>{"refused from 127.0.0.1: host 1", "refused from 127.0.0.2: client 3"}));
    EXPECT_EQ(view->refusals(), (std::map<std::string, std::uint64_t>{{"client", 3}, {"host", 1}}));
}

TEST_F(WebView, PagesBeyondTheLimitGetServiceUnavailable) {
    settings.limits.pages = 2;
    startView();
    auto first = openPage();
    auto second = openPage();
    ASSERT_TRUE(runUntil(io, [&] { return view->clientCount() == 2; }));
    auto third = openPage();
    ASSERT_TRUE(runUntil(io, [&] { return third->closed(); }));
    EXPECT_EQ(third->status(), 503);
    EXPECT_EQ(first->next(io)["type"], "full");
    EXPECT_EQ(view->clientCount(), 2u);
}

TEST_F(WebView, PagesBeyondAClientsShareGetServiceUnavailableButThisMachinesDoNot) {
    settings.limits.pagesPerClient = 1;
    startView();
    ws_client first(io, view->port(), 0, "127.0.0.2"), second(io, view->port(), 0, "127.0.0.2");
    for (ws_client* page : {&first, &second}) {
        page->upgrade();
        page->startReading();
    }
    ASSERT_TRUE(runUntil(io, [&] { return second.closed(); }));
    EXPECT_EQ(second.status(), 503);
    EXPECT_EQ(first.next(io)["type"], "full");
    auto own = openPage();
    auto ownAgain = openPage();
    EXPECT_EQ(ownAgain->next(io)["type"], "full");
    EXPECT_EQ(view->refusals(), (std::map<std::string, std::uint64_t>{{"client pages", 1}}));
}

// A client's burst (three seconds' worth) is served; past it, 429 and the
// connection closed. This machine's own are not counted.
TEST_F(WebView, RequestsPastAClientsRateGetTooManyRequests) {
    settings.limits.requestsPerSecond = 1;
    settings.requestTimeout = std::chrono::seconds(120);
    startView();
    std::string requests;
    for (int i = 0; i < 10; ++i) requests += "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    raw_client other(io, view->port(), 0, "127.0.0.2");
    other.send(requests);
    other.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return other.closed(); }));
    std::vector<int> statuses;
    for (std::size_t at = other.received().find("HTTP/1.1 "); at != std::string::npos;
         at = other.received().find("HTTP/1.1 ", at + 1))
        statuses.push_back(std::stoi(other.received().substr(at + 9, 3)));
    ASSERT_GE(statuses.size(), 4u);
    EXPECT_EQ(std::vector<int>(statuses.begin(), statuses.begin() + 3), (std::vector<int>{200, 200, 200}));
    EXPECT_EQ(statuses.back(), 429);
    EXPECT_NE(other.received().find("Retry-After: 1"), std::string::npos);
    raw_client own(io, view->port());
    own.send(requests + "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    own.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return own.closed(); }));
    EXPECT_EQ(own.received().find("429"), std::string::npos);
    EXPECT_EQ(view->refusals().at("rate"), 1u);
}

// With a view token a page opens only with it, and one let in by a token
// no longer in force is closed.
TEST_F(WebView, APageNeedsTheViewTokenInForce) {
    startView();
    view->viewToken("look-but-do-not-touch");
    ws_client without(io, view->port());
    without.upgrade();
    without.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return without.closed(); }));
    EXPECT_EQ(without.status(), 401);
    ws_client with(io, view->port());
    with.upgrade("Cookie: quon_view=look-but-do-not-touch\r\n");
    with.startReading();
    EXPECT_EQ(with.next(io)["type"], "full");
    view->viewToken("look-but-do-not-touch");
    EXPECT_FALSE(with.closed());
    view->viewToken("another-token-for-the-wall");
    ASSERT_TRUE(runUntil(io, [&] { return with.closed(); }));
    EXPECT_EQ(view->clientCount(), 0u);
    EXPECT_EQ(view->refusals(), (std::map<std::string, std::uint64_t>{{"token", 1}}));
}

// Over HTTPS: the API, with HSTS; plain HTTP on the same port redirected
// to it, but the pair's check from this machine; and "off" closes plain
// HTTP without a word.
TEST_F(WebView, OverHttpsPlainHttpIsRedirectedButThisMachinesHealthCheck) {
    settings.requestTimeout = std::chrono::seconds(120);
    settings.limits.headerTimeout = std::chrono::seconds(1);  // the stalled handshake's; the others are quick
    startView();
    const quon::test::test_ca ca;
    const quon::test::test_certificate certificate = ca.loopback();
    std::string error;
    const auto identity = quon::web::loadPageIdentity(certificate.certificateFile, certificate.keyFile, error);
    ASSERT_TRUE(identity) << error;
    view->serveTls(identity, true);
    view->setDisplay(tile("MON 1", "CAM 1"));

    tls_client secure(io, view->port(), ca.caFile());
    secure.exchange("GET /api/displays HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(runUntil(io, [&] { return secure.closed(); }));
    const http_reply reply = parseReply(secure.received());
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("CAM 1"), std::string::npos);
    EXPECT_NE(reply.head.find("Strict-Transport-Security: max-age=31536000"), std::string::npos) << reply.head;

    const std::string plain = "GET /api/displays?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(view->port()) +
                              "\r\nConnection: close\r\n\r\n";
    raw_client other(io, view->port(), 0, "127.0.0.2");
    other.send(plain);
    other.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return other.closed(); }));
    const http_reply moved = parseReply(other.received());
    EXPECT_EQ(moved.status, 308);
    EXPECT_NE(moved.head.find("Location: https://127.0.0.1:" + std::to_string(view->port()) + "/api/displays?x=1"),
              std::string::npos)
        << moved.head;
    EXPECT_EQ(moved.body.find("CAM 1"), std::string::npos);
    const http_reply health = get("/healthz");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.head.find("Strict-Transport-Security"), std::string::npos);

    // A handshake begun and never ended is held to the header's deadline.
    raw_client stalled(io, view->port(), 0, "127.0.0.2");
    stalled.send(std::string("\x16\x03\x01\x02\x00", 5));
    stalled.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return stalled.closed(); }));
    EXPECT_EQ(view->refusals().at("slow"), 1u);

    view->serveTls(identity, false);
    raw_client refused(io, view->port(), 0, "127.0.0.2");
    refused.send(plain);
    refused.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return refused.closed(); }));
    EXPECT_EQ(refused.received(), "");
}

TEST_F(WebView, AWebSocketOverTlsGetsTheFullState) {
    startView();
    const quon::test::test_ca ca;
    const quon::test::test_certificate certificate = ca.loopback();
    std::string error;
    view->serveTls(quon::web::loadPageIdentity(certificate.certificateFile, certificate.keyFile, error), true);
    view->setDisplay(tile("MON 1", "CAM 1"));
    tls_client page(io, view->port(), ca.caFile());
    page.exchange("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(runUntil(io, [&] { return page.received().find("CAM 1") != std::string::npos || page.closed(); }));
    EXPECT_EQ(parseReply(page.received()).status, 101);
    EXPECT_EQ(view->clientCount(), 1u);
}

// What cannot be served is said, naming the file, before anything changes.
TEST(PageIdentity, FilesThatCannotBeUsedAreRefusedSayingWhich) {
    const quon::test::test_ca ca;
    const quon::test::test_certificate one = ca.loopback();
    const quon::test::test_certificate other = ca.issue("other", {"localhost"});
    std::string error;
    const auto loaded = quon::web::loadPageIdentity(one.certificateFile, one.keyFile, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_NE(loaded->summary().find(", until 20"), std::string::npos) << loaded->summary();
    EXPECT_FALSE(quon::web::loadPageIdentity(one.certificateFile, other.keyFile, error));
    EXPECT_EQ(error, "the page's key " + other.keyFile + " is not the key of the certificate " + one.certificateFile);
    EXPECT_FALSE(quon::web::loadPageIdentity(one.certificateFile + ".missing", one.keyFile, error));
    EXPECT_EQ(error.rfind("cannot read the page's certificate " + one.certificateFile + ".missing: ", 0), 0u) << error;
    EXPECT_FALSE(quon::web::loadPageIdentity(one.keyFile, one.keyFile, error));
    EXPECT_EQ(error.rfind("the page's certificate " + one.keyFile + " is not a PEM certificate", 0), 0u) << error;
}

TEST_F(WebView, APageOfAnotherSiteMayNotConnect) {
    startView();
    ws_client page(io, view->port());
    page.upgrade("Origin: http://evil.example\r\n");
    page.startReading();
    ASSERT_TRUE(runUntil(io, [&] { return page.closed(); }));
    EXPECT_EQ(page.status(), 403);

    ws_client own(io, view->port());
    own.upgrade("Origin: http://127.0.0.1\r\n");
    own.startReading();
    EXPECT_EQ(own.next(io)["type"], "full");
    EXPECT_EQ(own.status(), 101);
}

TEST_F(WebView, APageGetsTheFullStateThenEachChange) {
    settings.maxEvents = 2;
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    view->setDisplay(tile("MON 2", "CAM 2"));
    view->link({1, "Router", "SW-P-08", "connected", 16, "", {}});
    view->event("one");
    view->event("two");
    view->event("three");
    auto page = openPage();

    const json full = page->next(io);
    EXPECT_EQ(full["type"], "full");
    EXPECT_EQ(full["displays"], json::parse(view->displaysJson()));
    EXPECT_EQ(full["routers"], json::parse(view->routersJson()));
    ASSERT_EQ(full["events"].size(), 2u);
    EXPECT_EQ(full["events"][0]["sequence"], 2);
    EXPECT_EQ(full["events"][0]["text"], "two");
    EXPECT_EQ(full["events"][1]["text"], "three");
    EXPECT_EQ(full["events"][1]["time"].get<std::string>().size(), std::string("2026-12-08T15:04:05.250Z").size());
    EXPECT_EQ(full["maxEvents"], 2);

    view->setDisplay(tile("MON 2", "VT 9"));
    const json update = page->next(io);
    EXPECT_EQ(update["type"], "update");
    ASSERT_EQ(update["displays"].size(), 1u);
    EXPECT_EQ(update["displays"][0]["text"], "VT 9");
    EXPECT_FALSE(update.contains("order"));
    EXPECT_FALSE(update.contains("routers"));
    EXPECT_FALSE(update.contains("events"));

    view->removeDisplay("MON 1");
    view->setDisplay(tile("MON 3", "CAM 3"));
    view->event("four");
    view->link({1, "Router", "SW-P-08", "lost", 16, "connection reset", {}});
    const json changes = page->next(io);
    EXPECT_EQ(changes["order"], json::parse(R"(["MON 2","MON 3"])"));
    ASSERT_EQ(changes["displays"].size(), 1u);
    EXPECT_EQ(changes["displays"][0]["name"], "MON 3");
    ASSERT_EQ(changes["events"].size(), 1u);
    EXPECT_EQ(changes["events"][0]["sequence"], 4);
    EXPECT_EQ(changes["events"][0]["text"], "four");
    EXPECT_EQ(changes["routers"][0]["state"], "lost");
}

TEST_F(WebView, AWarningSaidAgainIsCountedAndPushesNoOtherEventOut) {
    settings.maxEvents = 3;
    startView();
    view->event("router 1: connected");
    view->countedEvent("warning: mon1: no router 3");
    view->event("mon2 created");
    auto page = openPage();
    EXPECT_EQ(page->next(io)["events"].size(), 3u);
    for (int i = 0; i < 11; ++i) view->countedEvent("warning: mon1: no router 3");

    const json events = json::parse(get("/api/events").body);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["text"], "router 1: connected");
    EXPECT_EQ(events[0]["count"], 1);
    EXPECT_EQ(events[1]["text"], "mon2 created");
    EXPECT_EQ(events[2]["text"], "warning: mon1: no router 3");
    EXPECT_EQ(events[2]["count"], 12);
    // The page hears of it once more, as the latest event, with its count.
    const json update = page->next(io);
    ASSERT_EQ(update["events"].size(), 1u);
    EXPECT_EQ(update["events"][0]["sequence"], events[2]["sequence"]);
    EXPECT_EQ(update["events"][0]["count"], 12);
}

TEST_F(WebView, ChangesToOneDisplayBetweenFlushesArriveAsItsLatestState) {
    settings.flushDelay = std::chrono::milliseconds(50);
    startView();
    view->setDisplay(tile("MON 1", "CAM 0"));
    auto page = openPage();
    EXPECT_EQ(page->next(io)["type"], "full");
    for (int i = 1; i <= 100; ++i) view->setDisplay(tile("MON 1", "CAM " + std::to_string(i)));
    const json update = page->next(io);
    ASSERT_EQ(update["displays"].size(), 1u);
    EXPECT_EQ(update["displays"][0]["text"], "CAM 100");
}

TEST_F(WebView, APageThatNeverReadsIsDroppedAndOthersKeepUp) {
    settings.flushDelay = std::chrono::milliseconds(1);
    settings.maxBacklogChanges = 500;
    startView();
    constexpr int kTiles = 100;
    const std::string bulk(8000, 'x');
    for (int i = 0; i < kTiles; ++i) view->setDisplay(tile("MON " + std::to_string(i), bulk));

    auto reader = openPage();
    ws_client stalled(io, view->port(), 4096);
    stalled.upgrade();  // and never reads again
    ASSERT_EQ(reader->next(io)["type"], "full");
    ASSERT_TRUE(runUntil(io, [&] { return view->clientCount() == 2; }));

    int round = 0;
    for (; round < 1000 && view->clientCount() == 2; ++round) {
        const std::string text = "round " + std::to_string(round) + " " + bulk;
        for (int i = 0; i < kTiles; ++i) view->setDisplay(tile("MON " + std::to_string(i), text));
        // The reader keeps up: it sees the round's last change before the next.
        ASSERT_TRUE(runUntil(io,
                             [&] {
                                 for (const json& display : reader->messages().back()["displays"])
                                     if (display["name"] == "MON " + std::to_string(kTiles - 1) &&
                                         display["text"] == text)
                                         return true;
                                 return false;
                             }))
            << "round " << round;
    }
    EXPECT_EQ(view->clientCount(), 1u) << "the stalled page was never dropped";
    EXPECT_FALSE(reader->closed());

    view->setDisplay(tile("MON 0", "after"));
    EXPECT_TRUE(runUntil(io, [&] {
        const json& displays = reader->messages().back()["displays"];
        return !displays.empty() && displays[0]["text"] == "after";
    }));
}

TEST_F(WebView, APageThatAnswersNoPingIsDropped) {
    settings.idleTimeout = std::chrono::milliseconds(300);
    startView();
    auto page = openPage();  // reads, but never answers a ping
    EXPECT_EQ(page->next(io)["type"], "full");
    ASSERT_TRUE(runUntil(io, [&] { return page->closed(); }));
    page->messages();
    EXPECT_GE(page->pings(), 1);
    EXPECT_EQ(view->clientCount(), 0u);
}

TEST_F(WebView, StopClosesEveryPageAndStartServesAgain) {
    startView();
    view->setDisplay(tile("MON 1", "CAM 1"));
    auto page = openPage();
    EXPECT_EQ(page->next(io)["type"], "full");
    view->stop();
    ASSERT_TRUE(runUntil(io, [&] { return page->closed(); }));
    EXPECT_EQ(view->clientCount(), 0u);

    view->setDisplay(tile("MON 1", "CAM 2"));
    std::string error;
    ASSERT_TRUE(view->start(error)) << error;
    auto again = openPage();
    const json full = again->next(io);
    EXPECT_EQ(full["displays"][0]["text"], "CAM 2");
}

TEST_F(WebView, StartReportsAnAddressInUse) {
    startView();
    web_settings taken = settings;
    taken.port = view->port();
    web_view second(io, taken);
    std::string error;
    EXPECT_FALSE(second.start(error));
    EXPECT_NE(error.find("bind"), std::string::npos) << error;
}

}  // namespace
