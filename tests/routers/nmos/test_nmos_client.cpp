// The NMOS client as tables, without sockets: what it asks a registry and
// reports for what the registry answers and pushes. Each freedom a
// registry has is a case: the versions it offers, paging or none (and
// pages of any size), answers split anywhere, grains of one or many
// changes, removals, relabels, receivers taking no sender or inactive,
// fragmented WebSocket messages; and its faults: 5xx, silence, JSON that
// does not parse or fit, a dropped subscription.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "client_table.h"
#include "docs_cases.h"
#include "nmos_registry_text.h"
#include "quon/routers/nmos/nmos_client.h"
#include "quon/routers/nmos/nmos_wire.h"

using namespace std::chrono_literals;
using namespace quon::test::nmos;
using quon::test::bytesIn;
using quon::test::client_table;
using quon::test::connects;
using quon::test::keepAliveDue;
using quon::test::lines;
using quon::test::play;
using quon::test::resyncDue;
using quon::test::timePasses;
namespace routers = quon::routers;
namespace nmos = quon::routers::nmos;

namespace {

const std::string v13 = "/x-nmos/query/v1.3";
const std::string firstPage = "/?paging.order=create&paging.since=0:0&paging.limit=1000";
const std::string wsPath = v13 + "/subscriptions/5b000000-0000-4000-8000-000000000001/ws";
const std::string sendersWsPath = v13 + "/subscriptions/5b000000-0000-4000-8000-000000000002/ws";
const std::string sendersSubscribed = subscriptionAnswer("v1.3", "127.0.0.1:80", "/senders");

class NmosClient : public ::testing::Test {
protected:
    // What the client sent, one line a request or frame; the WebSocket's
    // key is kept to answer it.
    lines describe(const std::string& sent) {
        if (sent.rfind("GET ", 0) == 0 || sent.rfind("POST ", 0) == 0) {
            const std::string line = sent.substr(0, sent.find(" HTTP/1.1"));
            const std::size_t keyAt = sent.find("Sec-WebSocket-Key: ");
            if (keyAt == std::string::npos) return {line};
            key = sent.substr(keyAt + 19, sent.find("\r\n", keyAt) - keyAt - 19);
            return {"WS " + line.substr(4)};
        }
        const auto op = static_cast<unsigned char>(sent[0]) & 0x0F;
        return {op == 9 ? "ws ping" : op == 10 ? "ws pong" : op == 8 ? "ws close" : "ws other"};
    }

    void make(nmos::nmos_options options = {}, int sources = 0, int destinations = 0, std::string path = "",
              std::string remembered = "") {
        routers::router_settings s;
        s.stateFile = "dev_001.state";
        s.remembered = std::move(remembered);
        s.port = 80;
        s.sources = sources;
        s.destinations = destinations;
        s.path = std::move(path);
        s.jitterSeed = 7;
        client = std::make_unique<nmos::nmos_client>(s, options);
        table = std::make_unique<client_table>(*client, [this](const std::string& sent) { return describe(sent); });
    }

    std::string upgrade() const {
        return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Accept: " +
               nmos::webSocketAccept(key) + "\r\n\r\n";
    }

    // Connects, reads `senders` and `receivers` (one page each), and
    // returns what was reported; the link then reopens.
    // `versions`: the link is new, and asks the API's versions first.
    lines read(const json& senders, const json& receivers, bool versions = true) {
        lines all = table->connect();
        const auto append = [&all](const lines& more) { all.insert(all.end(), more.begin(), more.end()); };
        if (versions) append(table->in(httpAnswer(200, R"(["v1.2/","v1.3/"])")));
        append(table->in(subscriptionAnswer("v1.3")));
        append(table->in(sendersSubscribed));
        append(table->in(page(senders)));
        append(table->in(page(receivers)));
        return all;
    }
    // The next connection opens the receivers' WebSocket, and the second
    // the senders'; their sync grains (here empty) make the link up.
    lines follow() {
        table->connect();
        table->in(upgrade());
        table->secondConnect();
        table->secondIn(upgrade());
        table->in(grain("/receivers/", json::array()));
        return table->secondIn(grain("/senders/", json::array()));
    }

    std::string key;
    std::unique_ptr<nmos::nmos_client> client;
    std::unique_ptr<client_table> table;
};

const json two_senders = json::array({sender(1, "CAM 1"), sender(2, "CAM 2")});
const json two_receivers = json::array({receiver(1, "MON A", 2), receiver(2, "MON B", 0)});

TEST_F(NmosClient, SubscribesThenReadsPageByPageThenFollowsTheWebSocket) {
    make();
    play(*table, {{"connect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
                  {"the versions",
                   bytesIn(httpAnswer(200, R"(["v1.0/","v1.1/","v1.2/","v1.3/"])")),
                   {"POST " + v13 + "/subscriptions", "timer +5000 ms"}},
                  {"the receivers' subscription",
                   bytesIn(subscriptionAnswer("v1.3")),
                   {"POST " + v13 + "/subscriptions", "timer +5000 ms"}},
                  {"the senders' subscription",
                   bytesIn(sendersSubscribed),
                   {"GET " + v13 + "/senders" + firstPage, "timer +5000 ms"}},
                  {"a full page of senders, and a next link",
                   bytesIn(page(json::array({sender(1, "CAM 1")}), 1, v13 + "/senders/?p=2")),
                   {"GET " + v13 + "/senders/?p=2", "timer +5000 ms"}},
                  {"a short page: the last",
                   bytesIn(page(json::array({sender(2, "CAM 2")}), 1)),
                   {"GET " + v13 + "/receivers" + firstPage, "timer +5000 ms"}},
                  {"the receivers",
                   bytesIn(page(two_receivers, 5)),
                   {"remember", "label source 1 CAM 1", "label source 2 CAM 2", "label destination 1 MON A",
                    "crosspoint 1 2", "label destination 2 MON B", "crosspoint 2 0", "reopen 127.0.0.1:80"}},
                  {"the receivers' WebSocket's connection, where its ws_href says",
                   connects(),
                   {"WS " + wsPath, "timer +5000 ms", "reopen second 127.0.0.1:80"}}});
    play(*table,
         {{"the upgrade", [this](client_table& t) { return t.in(upgrade()); }, {}},
          {"the senders' WebSocket's connection",
           [](client_table& t) { return t.secondConnect(); },
           {"second WS " + sendersWsPath, "timer +5000 ms"}},
          {"its upgrade", [this](client_table& t) { return t.secondIn(upgrade()); }, {}},
          {"the receivers' sync grain, every receiver read: whole, nothing new",
           bytesIn(grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 2)),
                                                     change(receiver(2, "MON B", 0), receiver(2, "MON B", 0))}))),
           {}},
          {"the senders' sync grain, a page of one: more may follow",
           [](client_table& t) {
               return t.secondIn(grain("/senders/", json::array({change(sender(1, "CAM 1"), sender(1, "CAM 1"))})));
           },
           {"timer +250 ms"}},
          {"a shorter page is the last: the read is whole, and the link up",
           [](client_table& t) { return t.secondIn(grain("/senders/", json::array())); },
           {"up 2 2"}},
          {"a connection change",
           bytesIn(grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 1))}))),
           {"crosspoint 1 1"}},
          {"keep-alive", keepAliveDue(), {"ws ping", "second ws ping"}},
          {"a ping", bytesIn(serverFrame(9, "x")), {"ws pong"}}});
}

// Each freedom of a registry, as the changes it pushes after the start
// (CAM 1, CAM 2; MON A taking CAM 2, MON B taking none).
struct push_case {
    const char* name;
    std::string bytes;
    lines expected;
    bool sendersSocket = false;  // pushed on the senders' WebSocket
};

class NmosClientPushes : public NmosClient, public ::testing::WithParamInterface<push_case> {};

TEST_P(NmosClientPushes, EachIsFollowed) {
    make();
    read(two_senders, two_receivers);
    follow();
    const push_case& c = GetParam();
    EXPECT_EQ(c.sendersSocket ? table->secondIn(c.bytes) : table->in(c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Freedoms, NmosClientPushes,
    ::testing::Values(
        push_case{"GrainOfSeveralChanges",
                  grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 1)),
                                                    change(receiver(2, "MON B", 0), receiver(2, "MON B", 2))})),
                  {"crosspoint 1 1", "crosspoint 2 2"}},
        push_case{"PreWithoutPostIsARemoval", grain("/receivers/", json::array({change(receiver(1, "MON A", 2), nullptr)})),
                  {"crosspoint 1 0"}},
        push_case{"ReceiverRelabelled",
                  grain("/receivers/", json::array({change(receiver(2, "MON B", 0), receiver(2, "MON B2", 0))})),
                  {"label destination 2 MON B2"}},
        push_case{"SenderIdNullShowsNoSource",
                  grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 0))})),
                  {"crosspoint 1 0"}},
        push_case{"InactiveShowsNoSource",
                  grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 2, false))})),
                  {"crosspoint 1 0"}},
        push_case{"SenderGrainsAreFollowedToo",
                  grain("/senders/", json::array({change(sender(2, "CAM 2"), sender(2, "CAM TWO"))})),
                  {"label source 2 CAM TWO"}},
        push_case{"SenderRelabelledOnItsWebSocket",
                  grain("/senders/", json::array({change(sender(2, "CAM 2"), sender(2, "CAM TWO"))})),
                  {"label source 2 CAM TWO"},
                  true},
        push_case{"SenderRemovedOnItsWebSocket", grain("/senders/", json::array({change(sender(2, "CAM 2"), nullptr)})),
                  {"crosspoint 1 0"}, true},
        push_case{"OtherTopicsAreIgnored", grain("/flows/", json::array()), {}},
        push_case{"FragmentedMessage",
                  [] {
                      const std::string whole = grain("/receivers/", json::array({change(receiver(1, "MON A", 2), receiver(1, "MON A", 1))}));
                      const std::string payload = whole.substr(whole[1] == 126 ? 4 : 2);
                      return serverFrame(1, payload.substr(0, 10), true) + serverFrame(9, "") +
                             serverFrame(0, payload.substr(10));
                  }(),
                  {"ws pong", "crosspoint 1 1"}},
        push_case{"GrainNotJsonIsReportedOnce",
                  serverFrame(1, "{nope") + serverFrame(1, "[]"),
                  {"problem a WebSocket message that is not a grain of changes (not JSON) was skipped (further such are "
                   "not reported)"}},
        push_case{"ReceiverThatDoesNotFitIsSkipped",
                  grain("/receivers/", json::array({change(nullptr, json{{"id", receiverId(9)}, {"label", "X"}})})),
                  {"problem the registry sent a receiver " + receiverId(9) +
                   " with no subscription; it is skipped (further such are not reported)"}}),
    [](const ::testing::TestParamInfo<push_case>& info) { return std::string(info.param.name); });

TEST_F(NmosClient, AnswersSplitAtEveryByteReadTheSame) {
    make();
    table->connect();
    lines all;
    for (const std::string& answer :
         {httpAnswer(200, R"(["v1.3/"])"), subscriptionAnswer("v1.3"), sendersSubscribed, page(two_senders),
          page(two_receivers)}) {
        const lines got = table->inPieces(answer, 1);
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(std::count(all.begin(), all.end(), "crosspoint 1 2"), 1);
    EXPECT_EQ(all.back(), "reopen 127.0.0.1:80");
}

TEST_F(NmosClient, VersionsPagingAndAddressesARegistryMayOffer) {
    make();
    play(*table, {{"connect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
                  {"v1.2 alone",
                   bytesIn(httpAnswer(200, R"(["v1.1/","v1.2/"])")),
                   {"POST /x-nmos/query/v1.2/subscriptions", "timer +5000 ms"}}});
    make();
    play(*table, {{"connect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
                  {"no version this host reads",
                   bytesIn(httpAnswer(200, R"(["v1.0/","v1.1/"])")),
                   {"fail the registry offers no Query API this host reads (v1.3 or v1.2) at /x-nmos/query/ (it "
                    "offers: v1.0, v1.1)"}}});
    make({}, 0, 0, "/x-nmos/query/v1.3/");
    play(
        *table,
        {{"the version from Address=", connects(), {"POST " + v13 + "/subscriptions", "timer +5000 ms"}},
         {"subscribed", bytesIn(subscriptionAnswer("v1.3") + sendersSubscribed),
          {"POST " + v13 + "/subscriptions", "timer +5000 ms", "GET " + v13 + "/senders" + firstPage, "timer +5000 ms"}},
         {"paging not implemented", bytesIn(httpAnswer(501, "")), {"GET " + v13 + "/senders/", "timer +5000 ms"}},
         {"the whole list, no X-Paging-Limit",
          bytesIn(page(two_senders)),
          {"GET " + v13 + "/receivers" + firstPage, "timer +5000 ms"}}});
    make({}, 0, 0, "/x-nmos/query/v1.1");
    play(*table, {{"an old version named",
                   connects(),
                   {"fail Address= names Query API version v1.1; this host reads v1.3 and v1.2"}}});
}

TEST_F(NmosClient, FaultsOfTheRegistryAreTheLinksReason) {
    make();
    play(*table, {{"connect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
                  {"5xx",
                   bytesIn(httpAnswer(200, R"(["v1.3/"])") + httpAnswer(503, "")),
                   {"POST " + v13 + "/subscriptions", "timer +5000 ms",
                    "fail the registry answered 503 Service Unavailable to POST " + v13 + "/subscriptions"}}});
    play(*table,
         {{"reconnect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
          {"silence", timePasses(5s), {"fail no answer to GET /x-nmos/query/ within 5000 ms (ConnectTimeout)"}}});
    table->connect();
    table->in(httpAnswer(200, R"(["v1.3/"])"));
    table->in(subscriptionAnswer("v1.3") + sendersSubscribed);
    play(*table,
         {{"a page that is not JSON",
           bytesIn(httpAnswer(200, "[{")),
           {"fail the registry's answer to GET " + v13 + "/senders" + firstPage + " is not a JSON list of senders"}},
          {"reconnect", connects(), {"GET /x-nmos/query/", "timer +5000 ms"}},
          {"not HTTP",
           bytesIn("SSH-2.0\r\n\r\n"),
           {"fail the registry's answer to GET /x-nmos/query/ is not HTTP/1.x: SSH-2.0"}}});
}

// A registry may serve its WebSockets on another port or host, and over
// TLS; its REST port may answer an upgrade as a plain GET (200 and JSON).
TEST_F(NmosClient, EachWebSocketIsOpenedWhereItsHrefSaysAndAnUpgradeRefusedIsTheLinksReason) {
    make();
    table->connect();
    table->in(httpAnswer(200, R"(["v1.3/"])"));
    table->in(subscriptionAnswer("v1.3", "127.0.0.1:81"));
    const std::string sent = subscriptionAnswer("v1.3", "[::1]", "/senders");
    json overTls = json::parse(sent.substr(sent.find("\r\n\r\n") + 4));
    overTls["ws_href"] = "wss" + overTls["ws_href"].get<std::string>().substr(2);
    table->in(httpAnswer(201, overTls.dump()));
    table->in(page(two_senders));
    play(*table,
         {{"the read, then the receivers' WebSocket on its own port", bytesIn(page(two_receivers)),
           {"remember", "label source 1 CAM 1", "label source 2 CAM 2", "label destination 1 MON A", "crosspoint 1 2",
            "label destination 2 MON B", "crosspoint 2 0", "reopen 127.0.0.1:81"}},
          {"and the senders' over TLS on another host", connects(),
           {"WS " + wsPath, "timer +5000 ms", "reopen second tls ::1:443"}},
          {"the REST port's answer to an upgrade", bytesIn(subscriptionAnswer("v1.3", "127.0.0.1:81").replace(9, 11, "200 OK")),
           {"fail the registry answered 200 OK to the WebSocket opening of ws://127.0.0.1:81" + wsPath +
            ", not 101 Switching Protocols to a WebSocket"}}});
}

// The registry's sync may come as several grains: one read with the HTTP
// read, whole at a shorter grain, at as many as were read, or at a pause.
TEST_F(NmosClient, ASyncPagedOverGrainsIsOneRead) {
    make();
    read(two_senders, two_receivers);
    table->connect();
    table->in(upgrade());
    table->secondConnect();
    table->secondIn(upgrade());
    play(*table,
         {{"a full first page of the receivers' sync",
           bytesIn(grain("/receivers/", json::array({change(receiver(1, "MON A", 1), receiver(1, "MON A", 1))}))),
           {"timer +250 ms"}},
          {"the senders' sync, as many as were read",
           [](client_table& t) {
               return t.secondIn(grain("/senders/", json::array({change(sender(1, "CAM 1"), sender(1, "CAM 1")),
                                                                 change(sender(2, "CAM 2"), sender(2, "CAM 2"))})));
           },
           {}},
          {"a pause ends the receivers': what the syncs changed, told at their end", timePasses(250ms),
           {"crosspoint 1 1", "up 2 2"}}});
}

// Without a list, a resource is numbered when first met, after the
// others, for good: a registry that restarts empty and hears its nodes
// again later finds every display's number where it was.
TEST_F(NmosClient, ResourcesMetLaterAreNumberedAfterTheOthersAndKeepTheirNumbers) {
    make();
    read(two_senders, two_receivers);
    follow();
    const std::string both = json{{"receivers", {receiverId(1), receiverId(2)}}, {"senders", {senderId(1), senderId(2)}}}.dump();
    EXPECT_EQ(table->remembered(), both);
    play(*table,
         {{"a sender added, first in label order, numbered last",
           [](client_table& t) { return t.secondIn(grain("/senders/", json::array({change(nullptr, sender(3, "AAA"))}))); },
           {"remember", "label source 3 AAA"}},
          {"a receiver added, taking it",
           bytesIn(grain("/receivers/", json::array({change(nullptr, receiver(3, "MON C", 3))}))),
           {"remember", "label destination 3 MON C", "crosspoint 3 3"}},
          {"the registry restarts empty", [this](client_table& t) {
               t.resync();
               return read(json::array(), json::array(), false);
           },
           {"POST " + v13 + "/subscriptions", "timer +5000 ms", "POST " + v13 + "/subscriptions", "timer +5000 ms",
            "GET " + v13 + "/senders" + firstPage, "timer +5000 ms", "GET " + v13 + "/receivers" + firstPage,
            "timer +5000 ms", "crosspoint 1 0", "crosspoint 3 0", "reopen 127.0.0.1:80"}},
          {"its node registers again: every receiver added back where it was",
           [this](client_table& t) {
               follow();
               t.secondIn(grain("/senders/", json::array({change(nullptr, sender(3, "AAA")), change(nullptr, sender(2, "CAM 2")),
                                                          change(nullptr, sender(1, "CAM 1"))})));
               return t.in(grain("/receivers/", json::array({change(nullptr, receiver(2, "MON B", 0)),
                                                             change(nullptr, receiver(3, "MON C", 3)),
                                                             change(nullptr, receiver(1, "MON A", 2))})));
           },
           {"crosspoint 1 2", "crosspoint 3 3"}}});
    const std::string kept = table->remembered();

    // The next process reads the same numbers back; what it cannot read is said, and numbering starts afresh.
    make({}, 0, 0, "", json{{"senders", {senderId(2), senderId(1)}}}.dump());
    const lines again = read(two_senders, two_receivers);
    EXPECT_NE(std::find(again.begin(), again.end(), "label source 1 CAM 2"), again.end());
    make({}, 0, 0, "", "[1]");
    const lines fresh = read(two_senders, two_receivers);
    EXPECT_EQ(fresh.front(), "problem the state file dev_001.state is not the JSON object this host writes; senders and "
                             "receivers are numbered afresh as met");
    EXPECT_NE(std::find(fresh.begin(), fresh.end(), "label source 1 CAM 1"), fresh.end());
    EXPECT_NE(kept.find(senderId(3)), std::string::npos);
}

TEST_F(NmosClient, ALostSubscriptionOrAClosedWebSocketSubscribesAndReadsAgain) {
    make();
    read(two_senders, two_receivers);
    table->connect();
    play(*table,
         {{"the subscription is gone", bytesIn(httpAnswer(404, "")), {"reopen"}},
          {"subscribes again on the same link", connects(), {"POST " + v13 + "/subscriptions", "timer +5000 ms"}},
          {"and reads again",
           bytesIn(subscriptionAnswer("v1.3") + sendersSubscribed),
           {"POST " + v13 + "/subscriptions", "timer +5000 ms", "GET " + v13 + "/senders" + firstPage,
            "timer +5000 ms"}}});
    table->in(page(two_senders));
    EXPECT_EQ(table->in(page(two_receivers)), lines{"reopen 127.0.0.1:80"});
    follow();
    play(*table, {{"the senders' WebSocket closed by the registry",
                   [](client_table& t) { return t.secondIn(serverFrame(8, "")); },
                   {"reopen"}}});
}

TEST_F(NmosClient, TheResyncReadsAgainAndReportsOnlyWhatDiffers) {
    make();
    read(two_senders, two_receivers);
    follow();
    play(*table, {{"resync", resyncDue(), {"reopen"}}});
    const json relabelled = json::array({sender(1, "CAM 1"), sender(2, "CAM 2b")});
    const json moved = json::array({receiver(1, "MON A", 2), receiver(2, "MON B", 1)});
    EXPECT_EQ(read(relabelled, moved, false),
              (lines{"POST " + v13 + "/subscriptions", "timer +5000 ms", "POST " + v13 + "/subscriptions",
                     "timer +5000 ms", "GET " + v13 + "/senders" + firstPage,
                     "timer +5000 ms", "GET " + v13 + "/receivers" + firstPage, "timer +5000 ms",
                     "label source 2 CAM 2b", "crosspoint 2 1", "reopen 127.0.0.1:80"}));
    play(*table, {{"a WebSocket closed by the registry",
                   [this](client_table& t) {
                       t.connect();
                       t.in(upgrade());
                       return t.in(serverFrame(8, ""));
                   },
                   {"reopen"}}});
}

TEST_F(NmosClient, TheDeviceFilesListsNumberByIdOrLabelAndNameWhatIsMissingOnce) {
    nmos::nmos_options options;
    options.sendersListed = options.receiversListed = true;
    options.senders = {"CAM 2", senderId(1), "CAM 9"};
    options.receivers = {receiverId(2), "MON A"};
    make(options, 3, 1);
    EXPECT_EQ(read(two_senders, two_receivers),
              (lines{"GET /x-nmos/query/", "timer +5000 ms", "POST " + v13 + "/subscriptions", "timer +5000 ms",
                     "POST " + v13 + "/subscriptions", "timer +5000 ms", "GET " + v13 + "/senders" + firstPage, "timer +5000 ms", "GET " + v13 + "/receivers" + firstPage,
                     "timer +5000 ms", "label source 1 CAM 2", "label source 2 CAM 1", "label destination 1 MON B",
                     "crosspoint 1 0",
                     "problem Senders= names 'CAM 9' (source 3), which the registry does not hold: a receiver "
                     "taking it shows no source",
                     "problem Receivers= names 2 receivers and DatabaseSize_1 is 1: numbers up to 1 are followed",
                     "reopen 127.0.0.1:80"}));
    EXPECT_EQ(follow(), lines{"up 3 1"}) << "the sizes the device file gives";
    EXPECT_EQ(table->in(grain("/receivers/", json::array({change(receiver(2, "MON B", 0), receiver(2, "MON B", 2))}))),
              lines{"crosspoint 1 1"})
        << "MON B takes CAM 2, which Senders= makes source 1";
    EXPECT_EQ(table->secondIn(grain("/senders/", json::array({change(sender(2, "CAM 2"), sender(2, "CAM 2 WIDE"))}))),
              (lines{"label source 1 CAM 2 WIDE"}))
        << "a sender named by its label keeps its number through a relabel";
    table->resync();
    const lines again = read(two_senders, two_receivers, false);
    EXPECT_EQ(
        std::count_if(again.begin(), again.end(), [](const std::string& l) { return l.rfind("problem", 0) == 0; }), 0)
        << "what is missing is named once a link";
}

TEST(NmosWire, LinkHeadersAndUrls) {
    EXPECT_EQ(
        nmos::nextLink(
            R"(<http://r.example/x-nmos/query/v1.3/senders/?paging.until=0:10&paging.limit=10>; rel="prev", <http://r.example:8080/x-nmos/query/v1.3/senders/?paging.since=0:20&paging.limit=10>; rel="next")"),
        std::optional<std::string>("/x-nmos/query/v1.3/senders/?paging.since=0:20&paging.limit=10"));
    EXPECT_EQ(nmos::nextLink(R"(<http://r.example/a>; rel="prev")"), std::nullopt);
    // ws_href: as given, its port and scheme the link's to open; a bare path is on the registry's own connection.
    struct url_case {
        std::string url;
        std::string host;
        int port;
        bool tls;
        std::string path;
    };
    for (const url_case& c : std::vector<url_case>{
             {"ws://127.0.0.1:8011/x-nmos/query/v1.3/subscriptions/a/ws", "127.0.0.1", 8011, false,
              "/x-nmos/query/v1.3/subscriptions/a/ws"},
             {"WSS://registry.example/s?x=1", "registry.example", 443, true, "/s?x=1"},
             {"ws://[::1]:81", "::1", 81, false, "/"},
             {"/x-nmos/query/v1.3/subscriptions/a/ws", "", 0, false, "/x-nmos/query/v1.3/subscriptions/a/ws"}}) {
        std::string why;
        const auto url = nmos::readWebSocketUrl(c.url, why);
        ASSERT_TRUE(url) << c.url << ": " << why;
        EXPECT_EQ(std::make_tuple(url->host, int(url->port), url->tls, url->path),
                  std::make_tuple(c.host, c.port, c.tls, c.path))
            << c.url;
    }
    for (const std::string bad : {"http://127.0.0.1:81/ws", "ws://:81/ws", "ws://127.0.0.1:0/ws", "ws://h/a b", "ws"}) {
        std::string why;
        EXPECT_FALSE(nmos::readWebSocketUrl(bad, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_EQ(nmos::webSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(NmosDocs, EveryCaseTheDocsNameIsATestCase) {
    quon::test::expectDocsCasesAreTests("NMOS",
                                  {"tests/routers/nmos/test_nmos_client.cpp", "tests/test_serve.cpp", "tests/routers/nmos/test_nmos_connection.cpp"},
                                  10);
}

}  // namespace
