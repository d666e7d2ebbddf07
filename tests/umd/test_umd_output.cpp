// umd_output against fake receivers on loopback sockets (127.0.0.1, port 0).
#include <algorithm>
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quon/umd/tsl_packet.h"
#include "quon/umd/umd_output.h"
#include "fake_tsl_screen.h"
#include "run_until.h"
#include "tsl_decoder.h"

namespace asio = boost::asio;
using namespace std::chrono_literals;

namespace {

using namespace quon;

umd_destination loopback(umd_protocol protocol, umd_transport transport, uint16_t port) {
    return umd_destination{protocol, transport, "127.0.0.1", port};
}

umd_config configWith(std::vector<umd_display> displays) {
    umd_config config;
    config.refresh = 0ms;
    config.tallies["umd_alarm"] = tally_lamps{lamp_colour::amber, lamp_colour::green, lamp_colour::red, 2};
    config.displays = std::move(displays);
    return config;
}

std::string textOf(const std::string& packet) {
    const auto decoded = decodeTsl5(packet);
    if (!decoded || decoded->messages.empty()) return "<malformed>";
    return decoded->messages[0].textBytes;
}

TEST(UmdOutput, ShowSendsTheDisplaysPacketToItsUdpReceiver) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 7}}));

    output.show("mon1", "CAM 1", "umd_alarm");
    ASSERT_TRUE(runUntil(io, [&] { return !peer.datagrams().empty(); }));
    EXPECT_EQ(peer.datagrams()[0], bytesOf({0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0xb9, 0x00, 0x05, 0x00, 0x43,
                                          0x41, 0x4d, 0x20, 0x31}));
    EXPECT_EQ(output.packetsSent(), 1u);
    EXPECT_EQ(output.receiversConnected(), 1u);
}

TEST(UmdOutput, DisplaysWithoutUmdAreNotSent) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1}}));

    output.show("mon2", "CAM 2", "");
    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return !peer.datagrams().empty(); }));
    EXPECT_EQ(textOf(peer.datagrams()[0]), "CAM 1");
    EXPECT_EQ(output.packetsSent(), 1u);
}

TEST(UmdOutput, SendsTsl31DatagramsToTsl31Receivers) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl31, umd_transport::udp, peer.port()), 0, 5}}));

    output.show("mon1", "Caf\xc3\xa9 1", "umd_alarm");
    ASSERT_TRUE(runUntil(io, [&] { return !peer.datagrams().empty(); }));
    // left amber (tally 1), text green (tally 2), right red (tally 3), brightness 2.
    EXPECT_EQ(peer.datagrams()[0], bytesOf({0x85, 0x27}) + "Caf? 1          ");
}

TEST(UmdOutput, RefreshResendsAnUnchangedDisplay) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_config config = configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1}});
    config.refresh = 20ms;
    umd_output output(io, config);

    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() >= 3; }));
    for (const std::string& datagram : peer.datagrams()) EXPECT_EQ(datagram, peer.datagrams()[0]);
}

TEST(UmdOutput, ABurstOfChangesSendsOnlyTheLatestState) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1}}));

    for (int i = 0; i < 10; ++i) output.show("mon1", "CAM " + std::to_string(i), i % 2 ? "umd_alarm" : "");
    ASSERT_TRUE(runUntil(io, [&] { return !peer.datagrams().empty() && textOf(peer.datagrams().back()) == "CAM 9"; }));
    EXPECT_EQ(peer.datagrams().size(), 1u);
    EXPECT_EQ(output.packetsSent(), 1u);
    const auto decoded = decodeTsl5(peer.datagrams()[0]);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->messages[0].left, 3) << "the state sheet of the latest call";
}

TEST(UmdOutput, ARepeatedStateIsNotSentAgainOnChangeOnly) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1},
                                      {"mon2", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 2}}));

    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() == 1; }));
    output.show("mon1", "CAM 1", "");
    output.show("mon2", "CAM 2", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() == 2; }));
    EXPECT_EQ(textOf(peer.datagrams()[1]), "CAM 2");
    EXPECT_EQ(output.packetsSent(), 2u);
}

TEST(UmdOutput, BatchPacksDisplaysOfOneScreenIntoOnePacket) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    const auto to = loopback(umd_protocol::tsl5, umd_transport::udp, peer.port());
    umd_config config = configWith({{"a", to, 0, 1}, {"b", to, 0, 2}, {"c", to, 0, 3}, {"d", to, 1, 4}});
    config.batch = true;
    umd_output output(io, config);

    output.show("a", "A", "");
    output.show("b", "B", "");
    output.show("c", "C", "");
    output.show("d", "D", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() == 2; }));
    const auto first = decodeTsl5(peer.datagrams()[0]);
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(first->messages.size(), 3u);
    EXPECT_EQ(first->messages[2].textBytes, "C");
    const auto second = decodeTsl5(peer.datagrams()[1]);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->screen, 1);
    EXPECT_EQ(second->messages.size(), 1u);
}

// A salvo far larger than one turn of the loop sends: every display
// arrives, each with its latest state, in the order they were shown.
class UmdOutputSalvo : public testing::TestWithParam<bool> {};

TEST_P(UmdOutputSalvo, ReachesAUdpReceiverWholeAndInOrderPerDisplay) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    const auto to = loopback(umd_protocol::tsl5, umd_transport::udp, peer.port());
    std::vector<umd_display> displays;
    for (uint16_t i = 0; i < 1000; ++i) displays.push_back({"d" + std::to_string(i), to, 0, i});
    umd_config config = configWith(displays);
    config.batch = GetParam();
    umd_output output(io, config);

    for (int round = 1; round <= 2; ++round) {
        for (const auto& display : displays) output.show(display.name, display.name + " R" + std::to_string(round), "");
        const size_t expected = displays.size() * static_cast<size_t>(round);
        ASSERT_TRUE(runUntil(io, [&] { return peer.shown().size() >= expected; }));
    }
    ASSERT_EQ(peer.shown().size(), 2 * displays.size());
    for (size_t i = 0; i < peer.shown().size(); ++i) {
        const auto& display = displays[i % displays.size()];
        const std::string round = i < displays.size() ? " R1" : " R2";
        ASSERT_EQ(peer.shown()[i], (tsl5_shown{display.index, display.name + round})) << "message " << i;
    }
    EXPECT_EQ(output.packetsSent(), peer.datagrams().size());
    if (GetParam()) {
        EXPECT_LT(peer.datagrams().size(), displays.size() / 10);
    } else {
        EXPECT_EQ(peer.datagrams().size(), 2 * displays.size());
    }
}

INSTANTIATE_TEST_SUITE_P(UmdOutput, UmdOutputSalvo, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Batched") : std::string("OneDisplayAPacket");
                         });

TEST(UmdOutput, ShowReachesATcpReceiverInItsWrapper) {
    asio::io_context io;
    fake_tsl_tcp_screen peer(io);
    umd_output output(io,
                      configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::tcp, peer.port()), 0, 0xFE}}));

    output.show("mon1", "CAM 1", "umd_alarm");
    ASSERT_TRUE(runUntil(io, [&] { return peer.connections() == 1 && !peer.packets(0).empty(); }));
    EXPECT_EQ(peer.packets(0)[0],
              tsl5Packet(0, 0xFE, tally_lamps{lamp_colour::amber, lamp_colour::green, lamp_colour::red, 2},
                         tsl5Text("CAM 1")));
    EXPECT_EQ(output.receiversConnected(), 1u);
}

TEST(UmdOutput, AReceiverNamedByHostNameIsResolved) {
    asio::io_context io;
    fake_tsl_tcp_screen peer(io);
    umd_output output(
        io, configWith(
                {{"mon1", umd_destination{umd_protocol::tsl5, umd_transport::tcp, "localhost", peer.port()}, 0, 1}}));

    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.connections() == 1 && !peer.packets(0).empty(); }));
    EXPECT_EQ(textOf(peer.packets(0)[0]), "CAM 1");
}

TEST(UmdOutput, ATcpReceiverThatComesBackGetsTheStateAgain) {
    asio::io_context io;
    fake_tsl_tcp_screen peer(io);
    const auto to = loopback(umd_protocol::tsl5, umd_transport::tcp, peer.port());
    umd_output output(io, configWith({{"mon1", to, 0, 1}, {"mon2", to, 0, 2}}));

    output.show("mon1", "CAM 1", "");
    output.show("mon2", "CAM 2", "umd_alarm");
    ASSERT_TRUE(runUntil(io, [&] { return peer.connections() == 1 && peer.packets(0).size() == 2; }));

    peer.hangUp();
    ASSERT_TRUE(runUntil(io, [&] { return output.receiversConnected() == 0; }));
    output.show("mon1", "CAM 11", "");
    peer.listenAgain();
    ASSERT_TRUE(runUntil(io, [&] { return peer.connections() == 2 && peer.packets(1).size() == 2; }));
    std::vector<std::string> texts;
    for (const auto& packet : peer.packets(1)) texts.push_back(textOf(packet));
    EXPECT_EQ(texts, (std::vector<std::string>{"CAM 11", "CAM 2"}));
    EXPECT_EQ(output.receivers()[0].connections, 2u);
}

TEST(UmdOutput, ATcpReceiverThatIsNotListeningYetIsConnectedOnceItIs) {
    asio::io_context io;
    fake_tsl_tcp_screen peer(io);
    peer.hangUp();
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::tcp, peer.port()), 0, 1}}));

    output.show("mon1", "CAM 1", "");
    output.show("mon1", "CAM 2", "");
    // Connecting is refused until it listens; the output retries after its
    // back-off.
    for (int i = 0; i < 20; ++i) io.poll();
    EXPECT_EQ(output.receiversConnected(), 0u);
    peer.listenAgain();
    ASSERT_TRUE(runUntil(io, [&] { return peer.connections() == 1 && !peer.packets(0).empty(); }));
    EXPECT_EQ(peer.packets(0).size(), 1u);
    EXPECT_EQ(textOf(peer.packets(0)[0]), "CAM 2");
}

// Each state a receiver's link passed through, as told to the watcher.
struct state_log {
    std::vector<std::string> states;
    std::vector<umd_receiver_status> statuses;
    void operator()(const umd_receiver_status& s) {
        states.push_back(s.state);
        statuses.push_back(s);
    }
    bool saw(const std::string& state) const {
        return std::find(states.begin(), states.end(), state) != states.end();
    }
};

TEST(UmdOutput, ATcpReceiverIsConnectedRefusedAndLostInTurnWithTheReason) {
    asio::io_context io;
    fake_tsl_tcp_screen peer(io);
    state_log log;
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::tcp, peer.port()), 0, 1}}));
    output.onReceiverChange(std::ref(log));
    EXPECT_EQ(output.receivers()[0].state, "idle");

    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return log.saw("connected") && !peer.packets(0).empty(); }));
    EXPECT_NE(output.receivers()[0].lastSent, std::chrono::system_clock::time_point{});
    peer.hangUp();
    ASSERT_TRUE(runUntil(io, [&] { return log.saw("refused"); }));
    EXPECT_EQ(log.states, (std::vector<std::string>{"connecting", "connected", "lost", "connecting", "refused"}));
    EXPECT_EQ(log.statuses[2].detail.rfind("the receiver closed the connection; retrying in ", 0), 0u)
        << log.statuses[2].detail;
    EXPECT_TRUE(log.statuses[4].down);
    EXPECT_EQ(log.statuses[4].detail.rfind("connect to 127.0.0.1:", 0), 0u) << log.statuses[4].detail;
    EXPECT_NE(log.statuses[4].detail.find(" failed: Connection refused; retrying in "), std::string::npos)
        << log.statuses[4].detail;
    EXPECT_GE(output.receivers()[0].errors, 2u);
}

TEST(UmdOutput, AUdpReceiverIsSendingOnceItsSocketIsOpen) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    state_log log;
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1}}));
    output.onReceiverChange(std::ref(log));
    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return !peer.datagrams().empty(); }));
    EXPECT_EQ(log.states, (std::vector<std::string>{"sending"}));
    EXPECT_FALSE(output.receivers()[0].down);
    EXPECT_EQ(output.receivers()[0].packetsSent, 1u);
}

TEST(UmdOutput, HandlersStillQueuedAfterDestructionDoNothing) {
    asio::io_context io;
    fake_tsl_udp_screen udp(io);
    fake_tsl_tcp_screen tcp(io);
    {
        umd_config config = configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, udp.port()), 0, 1},
                                        {"mon2", loopback(umd_protocol::tsl5, umd_transport::tcp, tcp.port()), 0, 2}});
        config.refresh = std::chrono::milliseconds(1);
        umd_output output(io, config);
        output.show("mon1", "CAM 1", "");
        output.show("mon2", "CAM 2", "");
    }
    for (int i = 0; i < 20; ++i) io.poll();
    EXPECT_TRUE(udp.datagrams().empty());
    EXPECT_EQ(tcp.connections() == 0 ? 0u : tcp.packets(0).size(), 0u);
}

TEST(UmdOutput, ATcpReceiverThatStopsReadingDoesNotStallAnother) {
    asio::io_context io;
    fake_tsl_tcp_screen stalled(io, false);
    fake_tsl_tcp_screen reader(io);
    const auto toStalled = loopback(umd_protocol::tsl5, umd_transport::tcp, stalled.port());
    std::vector<umd_display> displays;
    for (uint16_t i = 0; i < 100; ++i) displays.push_back({"s" + std::to_string(i), toStalled, 0, i});
    displays.push_back({"r", loopback(umd_protocol::tsl5, umd_transport::tcp, reader.port()), 0, 1});
    umd_output output(io, configWith(displays));

    // Feed the stalled receiver until its socket takes no more and its
    // displays wait; the reader keeps up all along.
    const std::string padding(50, 'x');
    int round = 0;
    int roundsFull = 0;
    for (; round < 5000 && roundsFull < 20; ++round) {
        for (uint16_t i = 0; i < 100; ++i) output.show("s" + std::to_string(i), std::to_string(round) + padding, "");
        output.show("r", "R " + std::to_string(round), "");
        io.poll();
        roundsFull = output.receivers()[0].displaysWaiting == 100 ? roundsFull + 1 : 0;
    }
    ASSERT_EQ(roundsFull, 20) << "the stalled receiver never filled its socket";
    const std::string last = "R " + std::to_string(round - 1);
    ASSERT_TRUE(runUntil(io, [&] {
        return reader.connections() == 1 && !reader.packets(0).empty() && textOf(reader.packets(0).back()) == last;
    }));
    EXPECT_LT(output.receivers()[0].packetsSent, static_cast<uint64_t>(round) * 100) << "its displays coalesced";
    EXPECT_EQ(output.receiversConnected(), 2u);
}

TEST(UmdOutput, StopWithoutBlankOnExitSendsNothingAndCloses) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, peer.port()), 0, 1}}));

    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() == 1; }));
    output.stop();
    output.show("mon1", "CAM 2", "");
    EXPECT_EQ(output.receiversConnected(), 0u);
    io.poll();
    EXPECT_EQ(output.packetsSent(), 1u);
}

TEST(UmdOutput, RetireBlanksOnlyTheRemovedDisplaysThatWereShown) {
    asio::io_context io;
    fake_tsl_udp_screen peer(io);
    const auto to = loopback(umd_protocol::tsl5, umd_transport::udp, peer.port());
    umd_config config = configWith({{"mon1", to, 0, 1}, {"mon2", to, 0, 2}, {"mon3", to, 0, 3}});
    config.blank_on_exit = true;  // retiring is not exiting
    umd_output output(io, config);
    output.show("mon1", "CAM 1", "");
    output.show("mon2", "CAM 2", "");
    ASSERT_TRUE(runUntil(io, [&] { return peer.datagrams().size() == 2; }));
    output.retire({"mon2", "mon3"});
    ASSERT_TRUE(runUntil(io, [&] { return output.finished() && peer.datagrams().size() >= 3; }));
    for (int i = 0; i < 20; ++i) io.poll();  // anything more would have come by now
    ASSERT_EQ(peer.datagrams().size(), 3u);
    const auto blank = decodeTsl5(peer.datagrams()[2]);
    ASSERT_TRUE(blank);
    ASSERT_EQ(blank->messages.size(), 1u);
    EXPECT_EQ(blank->messages[0].index, 2);
    EXPECT_EQ(blank->messages[0].textBytes, "");
}

TEST(UmdOutput, AReloadKeepsTheConnectionOfATcpScreenItStillSendsTo) {
    asio::io_context io;
    fake_tsl_tcp_screen kept(io);
    fake_tsl_tcp_screen dropped(io);
    const auto to = loopback(umd_protocol::tsl5, umd_transport::tcp, kept.port());
    const auto other = loopback(umd_protocol::tsl5, umd_transport::tcp, dropped.port());
    auto output = std::make_unique<umd_output>(
        io, configWith({{"mon1", to, 0, 1}, {"mon2", to, 0, 2}, {"mon3", other, 0, 3}}));
    output->show("mon1", "CAM 1", "");
    output->show("mon2", "CAM 2", "");
    output->show("mon3", "CAM 3", "");
    ASSERT_TRUE(runUntil(io, [&] {
        return kept.connections() == 1 && dropped.connections() == 1 && kept.packets(0).size() == 2 &&
               dropped.packets(0).size() == 1;
    }));

    // mon2 leaves the kept screen, mon4 joins it; the other screen goes.
    auto next = std::make_unique<umd_output>(io, configWith({{"mon1", to, 0, 1}, {"mon4", to, 0, 4}}), output.get());
    output->retire({"mon2", "mon3"});
    next->show("mon1", "CAM 11", "");
    next->show("mon4", "CAM 4", "");
    ASSERT_TRUE(runUntil(io, [&] { return kept.packets(0).size() == 5 && output->finished(); }));
    EXPECT_EQ(kept.connections(), 1u);
    std::vector<std::pair<int, std::string>> sent;
    for (size_t i = 2; i < 5; ++i) {
        const auto decoded = decodeTsl5(kept.packets(0)[i]);
        ASSERT_TRUE(decoded);
        sent.emplace_back(decoded->messages[0].index, decoded->messages[0].textBytes);
    }
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<std::pair<int, std::string>>{{1, "CAM 11"}, {2, ""}, {4, "CAM 4"}}));
    ASSERT_EQ(next->receivers().size(), 1u);
    EXPECT_TRUE(next->receivers()[0].connected);
    EXPECT_EQ(next->receivers()[0].connections, 1u);
    EXPECT_EQ(next->receivers()[0].packetsSent, 5u);
    // The old output kept only the screen it closed.
    ASSERT_EQ(output->receivers().size(), 1u);
    EXPECT_TRUE(output->receivers()[0].to == other);
}

TEST(UmdOutput, StopWithBlankOnExitBlanksEveryDisplayThenCloses) {
    asio::io_context io;
    fake_tsl_udp_screen udp(io);
    fake_tsl_tcp_screen tcp(io);
    umd_config config = configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, udp.port()), 0, 1},
                                    {"mon2", loopback(umd_protocol::tsl5, umd_transport::udp, udp.port()), 0, 2},
                                    {"mon3", loopback(umd_protocol::tsl5, umd_transport::tcp, tcp.port()), 0, 3}});
    config.blank_on_exit = true;
    umd_output output(io, config);

    output.show("mon1", "CAM 1", "umd_alarm");
    output.show("mon3", "CAM 3", "umd_alarm");
    ASSERT_TRUE(runUntil(
        io, [&] { return udp.datagrams().size() == 1 && tcp.connections() == 1 && tcp.packets(0).size() == 1; }));
    output.stop();
    ASSERT_TRUE(runUntil(io, [&] { return output.receiversConnected() == 0; }));
    const std::string blank1 = tsl5Packet(0, 1, tally_lamps{}, tsl5Text(""));
    const std::string blank2 = tsl5Packet(0, 2, tally_lamps{}, tsl5Text(""));
    ASSERT_TRUE(runUntil(io, [&] { return udp.datagrams().size() == 3; }));
    EXPECT_EQ(udp.datagrams()[1], blank1);
    EXPECT_EQ(udp.datagrams()[2], blank2);
    ASSERT_TRUE(runUntil(io, [&] { return tcp.packets(0).size() == 2; }));
    EXPECT_EQ(tcp.packets(0)[1], tsl5Packet(0, 3, tally_lamps{}, tsl5Text("")));
}

// A standby output is checked against an active one that sends to its own
// screen after it: by the time that screen has its display, whatever the
// standby one had sent or connected would have arrived too.
TEST(UmdOutput, StandbySendsNothingAndHoldsNoTcpConnection) {
    asio::io_context io;
    fake_tsl_udp_screen udp(io);
    fake_tsl_tcp_screen tcp(io);
    fake_tsl_udp_screen sentinel(io);
    umd_config config = configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, udp.port()), 0, 1},
                                    {"mon2", loopback(umd_protocol::tsl5, umd_transport::tcp, tcp.port()), 0, 2}});
    config.refresh = 1ms;  // a refresh must not send either
    config.blank_on_exit = true;
    umd_output output(io, config);
    output.setStandby(true);
    umd_output active(io, configWith({{"mon9", loopback(umd_protocol::tsl5, umd_transport::udp, sentinel.port()), 0, 9}}));

    output.show("mon1", "CAM 1", "umd_alarm");
    output.show("mon2", "CAM 2", "");
    active.show("mon9", "CAM 9", "");
    ASSERT_TRUE(runUntil(io, [&] { return !sentinel.datagrams().empty(); }));
    io.run_for(20ms);  // some refreshes come due; none may send
    EXPECT_TRUE(udp.datagrams().empty());
    EXPECT_EQ(tcp.connections(), 0u);
    EXPECT_EQ(output.packetsSent(), 0u);
    for (const umd_receiver_status& r : output.receivers()) {
        EXPECT_EQ(r.state, "standby") << umdDestinationText(r.to);
        EXPECT_FALSE(r.down);
        EXPECT_FALSE(r.connected);
    }
    // Not even the blanks of blank_on_exit.
    output.stop();
    EXPECT_TRUE(output.finished());
}

TEST(UmdOutput, BecomingActiveSendsEveryDisplaysLatestStateOnceToEachReceiver) {
    asio::io_context io;
    fake_tsl_udp_screen udp(io);
    fake_tsl_tcp_screen tcp(io);
    const auto toUdp = loopback(umd_protocol::tsl5, umd_transport::udp, udp.port());
    const auto toTcp = loopback(umd_protocol::tsl5, umd_transport::tcp, tcp.port());
    umd_config config = configWith(
        {{"mon1", toUdp, 0, 1}, {"mon2", toUdp, 0, 2}, {"mon3", toTcp, 0, 3}, {"mon4", toTcp, 0, 4}, {"mon5", toTcp, 0, 5}});
    config.batch = true;
    umd_output output(io, config);
    output.setStandby(true);
    output.show("mon1", "CAM 1", "");
    output.show("mon1", "CAM 11", "umd_alarm");
    output.show("mon2", "CAM 2", "");
    output.show("mon3", "CAM 3", "");
    output.show("mon3", "CAM 33", "");
    output.show("mon4", "CAM 4", "umd_alarm");
    // mon5 was never shown: there is nothing to send for it.
    io.poll();

    std::vector<std::string> states;
    output.onReceiverChange([&](const umd_receiver_status& r) { states.push_back(umdDestinationText(r.to) + " " + r.state); });
    output.setStandby(false);
    EXPECT_FALSE(output.standby());
    ASSERT_TRUE(runUntil(io, [&] {
        return !udp.datagrams().empty() && tcp.connections() == 1 && !tcp.packets(0).empty();
    }));
    // One batch per receiver: one datagram, one packet, each display once
    // with its latest state.
    ASSERT_EQ(udp.shown().size(), 2u);
    EXPECT_EQ(udp.datagrams().size(), 1u);
    EXPECT_EQ(udp.shown()[0], (tsl5_shown{1, "CAM 11"}));
    EXPECT_EQ(udp.shown()[1], (tsl5_shown{2, "CAM 2"}));
    ASSERT_EQ(tcp.packets(0).size(), 1u);
    const auto decoded = decodeTsl5(tcp.packets(0)[0]);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->messages.size(), 2u);
    EXPECT_EQ(decoded->messages[0].index, 3);
    EXPECT_EQ(decoded->messages[0].textBytes, "CAM 33");
    EXPECT_EQ(decoded->messages[1].index, 4);
    EXPECT_EQ(decoded->messages[1].textBytes, "CAM 4");
    EXPECT_EQ(output.packetsSent(), 2u);
    EXPECT_EQ(states.front(), umdDestinationText(toUdp) + " idle");
}

TEST(UmdOutput, BecomingStandbyClosesTcpAtOnceAndStopsSending) {
    asio::io_context io;
    fake_tsl_udp_screen udp(io);
    fake_tsl_tcp_screen tcp(io);
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::udp, udp.port()), 0, 1},
                                      {"mon2", loopback(umd_protocol::tsl5, umd_transport::tcp, tcp.port()), 0, 2}}));
    output.show("mon1", "CAM 1", "");
    output.show("mon2", "CAM 2", "");
    ASSERT_TRUE(runUntil(io, [&] { return udp.datagrams().size() == 1 && tcp.connections() == 1 && tcp.packets(0).size() == 1; }));
    EXPECT_EQ(tcp.openConnections(), 1u);

    output.setStandby(true);
    // Closed in the call itself, not later.
    EXPECT_EQ(output.receiversConnected(), 0u);
    output.show("mon1", "CAM 11", "");
    output.show("mon2", "CAM 22", "");
    ASSERT_TRUE(runUntil(io, [&] { return tcp.openConnections() == 0; }));
    fake_tsl_udp_screen sentinel(io);
    umd_output active(io, configWith({{"mon9", loopback(umd_protocol::tsl5, umd_transport::udp, sentinel.port()), 0, 9}}));
    active.show("mon9", "CAM 9", "");
    ASSERT_TRUE(runUntil(io, [&] { return !sentinel.datagrams().empty(); }));
    EXPECT_EQ(udp.datagrams().size(), 1u);
    EXPECT_EQ(tcp.connections(), 1u);
    EXPECT_EQ(tcp.packets(0).size(), 1u);

    // And back: the changes made while standby go out, once.
    output.setStandby(false);
    ASSERT_TRUE(runUntil(io, [&] { return udp.datagrams().size() == 2 && tcp.connections() == 2 && tcp.packets(1).size() == 1; }));
    EXPECT_EQ(udp.shown()[1], (tsl5_shown{1, "CAM 11"}));
    EXPECT_EQ(textOf(tcp.packets(1)[0]), "CAM 22");
}

TEST(UmdOutput, AReceiverThatKeepsFailingIsNotDownWhileStandby) {
    asio::io_context io;
    fake_tsl_tcp_screen closed(io);
    const uint16_t port = closed.port();
    closed.hangUp();
    umd_output output(io, configWith({{"mon1", loopback(umd_protocol::tsl5, umd_transport::tcp, port), 0, 1}}));
    output.show("mon1", "CAM 1", "");
    ASSERT_TRUE(runUntil(io, [&] { return output.receivers()[0].down; }));
    output.setStandby(true);
    const umd_receiver_status status = output.receivers()[0];
    EXPECT_EQ(status.state, "standby");
    EXPECT_FALSE(status.down);
    EXPECT_EQ(status.displaysWaiting, 0u);
}

}  // namespace
