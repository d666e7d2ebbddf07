// A tally input on its sockets (127.0.0.1, port 0) against the fake vision
// mixer over each wire: a cut lights program and preview, a mixer that goes
// quiet takes the input down.
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_vision_mixer.h"
#include "quon/tally/tally_inputs.h"
#include "quon/tally/tally_listener.h"
#include "run_until.h"

namespace {

using namespace quon::tally;
using namespace std::chrono_literals;

struct wire_case {
    const char* name;
    tally_wire input;
    fake_vision_mixer::wire mixer;
};

void PrintTo(const wire_case& c, std::ostream* out) { *out << c.name; }

class TallyListener : public testing::TestWithParam<wire_case> {};

TEST_P(TallyListener, ACutFromTheMixerLightsProgramAndPreviewThenAQuietMixerIsDown) {
    boost::asio::io_context io;
    tally_input_config config;
    config.name = "mixer1";
    config.wire = GetParam().input;
    config.address = "127.0.0.1";
    config.timeout = 300ms;
    config.maps.push_back(tally_map{1, 8, point{1, point::end::destination, 1}, {}});
    std::map<int, buses> lit;
    std::vector<bool> states;
    std::vector<std::string> log;
    tally_listener listener(
        io, config,
        [&](const std::vector<quon::tally::lit>& changes) {
            for (const auto& l : changes) lit[l.index] = l.on;
        },
        [&](const tally_input_status& s) { states.push_back(s.up); },
        [&](const std::string& line) { log.push_back(line); });
    std::string error;
    ASSERT_TRUE(listener.start(error)) << error;
    const tally_input_status bound = listener.status();
    const uint16_t port = static_cast<uint16_t>(std::stoi(bound.listen.substr(bound.listen.rfind(':') + 1)));
    ASSERT_NE(port, 0);

    fake_vision_mixer mixer(io, GetParam().mixer, port);
    mixer.repeat(50ms);
    mixer.cut(2);
    mixer.cut(5);
    ASSERT_TRUE(runUntil(io, [&] { return lit[5] == program_bus && lit[2] == preview_bus; }))
        << testing::PrintToString(log);
    ASSERT_FALSE(states.empty());
    EXPECT_TRUE(states.front());
    EXPECT_EQ(listener.lits().size(), 2u);

    mixer.quiet();
    ASSERT_TRUE(runUntil(io, [&] { return !listener.status().up; })) << testing::PrintToString(log);
    EXPECT_FALSE(states.back());
    EXPECT_EQ(listener.lits().size(), 2u) << "held";
}

INSTANTIATE_TEST_SUITE_P(Wires, TallyListener,
                         testing::Values(wire_case{"tsl5_udp", tally_wire::tsl5_udp, fake_vision_mixer::wire::tsl5_udp},
                                         wire_case{"tsl5_tcp", tally_wire::tsl5_tcp, fake_vision_mixer::wire::tsl5_tcp},
                                         wire_case{"tsl31_udp", tally_wire::tsl31_udp,
                                                   fake_vision_mixer::wire::tsl31_udp}),
                         [](const testing::TestParamInfo<wire_case>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

TEST(TallyInputs, AReloadKeepsAnUnchangedInputAndAChangedOneTakesOverItsLamps) {
    boost::asio::io_context io;
    tally_input_config a;
    a.name = "a";
    a.address = "127.0.0.1";
    a.maps.push_back(tally_map{1, 8, point{1, point::end::destination, 1}, {}});
    tally_input_config b = a;
    b.name = "b";
    std::vector<lit> changes;
    tally_inputs inputs(
        io, [&](const std::vector<lit>& some) { changes.insert(changes.end(), some.begin(), some.end()); },
        [](const tally_input_status&) {}, [](const std::string&) {});
    inputs.apply({a, b});
    const std::string listen = inputs.statuses()[0].listen;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp,
                            static_cast<uint16_t>(std::stoi(listen.substr(listen.rfind(':') + 1))));
    mixer.cut(2);
    ASSERT_TRUE(runUntil(io, [&] { return !changes.empty(); }));

    inputs.apply({a, b});
    EXPECT_EQ(inputs.statuses()[0].listen, listen) << "kept: the same socket";

    changes.clear();
    tally_input_config wider = a;
    wider.maps.push_back(tally_map{9, 1, point{2, point::end::source, 1}, {}});
    inputs.apply({wider});
    EXPECT_TRUE(changes.empty()) << "index 2 still stands for destination 2: held, not put out";
    EXPECT_EQ(inputs.lits().size(), 1u);
    EXPECT_TRUE(inputs.statuses()[0].up);

    inputs.stop();
    EXPECT_EQ(changes, (std::vector<lit>{{"a", 2, point{1, point::end::destination, 2}, 0}}));
}

// A port of this machine's loopback that was free a moment ago.
uint16_t freePort() {
    boost::asio::io_context io;
    boost::asio::ip::udp::socket probe(io, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    return probe.local_endpoint().port();
}

uint16_t portOf(const tally_input_status& status) {
    return static_cast<uint16_t>(std::stoi(status.listen.substr(status.listen.rfind(':') + 1)));
}

struct inputs_under_test {
    explicit inputs_under_test(boost::asio::io_context& io)
        : inputs(
              io, [this](const std::vector<lit>& some) { for (const lit& l : some) lamps[l.index] = l.on; },
              [this](const tally_input_status& s) { heard.push_back(s); },
              [this](const std::string& line) { log.push_back(line); }) {}
    std::map<int, buses> lamps;
    std::vector<tally_input_status> heard;
    std::vector<std::string> log;
    tally_inputs inputs;
};

tally_input_config input(const std::string& name, uint16_t port) {
    tally_input_config c;
    c.name = name;
    c.address = "127.0.0.1";
    c.port = port;
    c.maps.push_back(tally_map{1, 8, point{1, point::end::destination, 1}, {}});
    return c;
}

TEST(TallyInputs, AnInputThatCannotBindMakesPrepareFailAndTheRunningOnesGoOnAsTheyWere) {
    boost::asio::io_context io;
    inputs_under_test t(io);
    const tally_input_config a = input("a", 0);
    t.inputs.apply({a});
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, portOf(t.inputs.statuses()[0]));
    mixer.cut(2);
    ASSERT_TRUE(runUntil(io, [&] { return t.lamps[2] == program_bus; }));

    boost::asio::ip::udp::socket taken(io, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    tally_input_config moved = a;
    moved.port = taken.local_endpoint().port();
    std::vector<std::string> errors;
    EXPECT_FALSE(t.inputs.prepare({moved, input("b", 0)}, errors));
    ASSERT_EQ(errors.size(), 1u) << testing::PrintToString(errors);
    EXPECT_EQ(errors[0].rfind("tally input \"a\": cannot bind tsl5+udp://127.0.0.1:", 0), 0u) << errors[0];
    ASSERT_EQ(t.inputs.statuses().size(), 1u);
    EXPECT_TRUE(t.inputs.statuses()[0].up);
    mixer.cut(3);
    EXPECT_TRUE(runUntil(io, [&] { return t.lamps[3] == program_bus && t.lamps[2] == preview_bus; }));
}

// The reload's new settings on the old port: no moment in which another
// program could take it, and nothing the mixer sent in between is lost.
TEST(TallyInputs, AChangedInputListeningWhereItDidTakesOverItsSocket) {
    boost::asio::io_context io;
    inputs_under_test t(io);
    const tally_input_config a = input("a", freePort());
    t.inputs.apply({a});
    ASSERT_TRUE(t.inputs.statuses()[0].problem.empty()) << t.inputs.statuses()[0].problem;
    tally_input_config wider = a;
    wider.maps.push_back(tally_map{9, 1, point{2, point::end::source, 1}, {}});
    std::vector<std::string> errors;
    ASSERT_TRUE(t.inputs.prepare({wider}, errors)) << testing::PrintToString(errors);
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, a.port);
    mixer.cut(2);  // queued on the socket while the reload is on its way
    t.inputs.apply({wider});
    EXPECT_TRUE(runUntil(io, [&] { return t.lamps[2] == program_bus; })) << testing::PrintToString(t.log);
    EXPECT_EQ(portOf(t.inputs.statuses()[0]), a.port);
}

TEST(TallyInputs, AnInputWhosePortIsTakenIsDownAndListensOnceItIsFree) {
    boost::asio::io_context io;
    inputs_under_test t(io);
    auto taken = std::make_unique<boost::asio::ip::udp::socket>(
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    const tally_input_config a = input("a", taken->local_endpoint().port());
    t.inputs.apply({a});
    ASSERT_EQ(t.inputs.statuses().size(), 1u);
    const tally_input_status waiting = t.inputs.statuses()[0];
    EXPECT_FALSE(waiting.up);
    EXPECT_EQ(waiting.problem.rfind("cannot bind tsl5+udp://127.0.0.1:", 0), 0u) << waiting.problem;
    ASSERT_FALSE(t.log.empty());
    EXPECT_NE(t.log.back().find("; trying again in "), std::string::npos) << t.log.back();

    taken.reset();
    ASSERT_TRUE(runUntil(io, [&] { return t.inputs.statuses()[0].problem.empty(); })) << testing::PrintToString(t.log);
    ASSERT_FALSE(t.heard.empty()) << "the owner hears that it listens";
    EXPECT_TRUE(t.heard.back().problem.empty());
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp, a.port);
    mixer.cut(4);
    EXPECT_TRUE(runUntil(io, [&] { return t.lamps[4] == program_bus; }));
}

}  // namespace

#include "quon/engine/host_engine.h"
#include "quon/metrics/serve_metrics.h"
#include "quon/routers/built_in_routers.h"

namespace {

TEST(TallyInputMetrics, EachInputsStateAndCountsAreScraped) {
    const quon::router_registry routers = quon::builtInRouters();
    quon::host_engine engine(quon::system_description{}, routers);
    quon::serve_metrics metrics;
    tally_input_status down;
    down.name = "mixer1";
    down.packets = 12;
    down.unmapped = 3;
    const std::string text = metrics.scrape(engine.components(), engine.routers(), engine.tally(), {}, {}, {down});
    EXPECT_NE(text.find("quon_tally_input_up{input=\"mixer1\"} 0"), std::string::npos) << text;
    EXPECT_NE(text.find("quon_tally_input_packets_total{input=\"mixer1\"} 12"), std::string::npos);
    EXPECT_NE(text.find("quon_tally_input_unmapped_total{input=\"mixer1\"} 3"), std::string::npos);
}

TEST(TallyInputMetrics, AnInputGoneAtAReloadHasNoSeriesLeft) {
    const quon::router_registry routers = quon::builtInRouters();
    quon::host_engine engine(quon::system_description{}, routers);
    quon::serve_metrics metrics;
    tally_input_status up;
    up.name = "mixer1";
    up.up = true;
    ASSERT_NE(metrics.scrape(engine.components(), engine.routers(), engine.tally(), {}, {}, {up})
                  .find("quon_tally_input_up{input=\"mixer1\"} 1"),
              std::string::npos);
    const std::string text = metrics.scrape(engine.components(), engine.routers(), engine.tally(), {}, {}, {});
    EXPECT_EQ(text.find("mixer1"), std::string::npos) << text;
}

}  // namespace

namespace {

TEST(TallyListenerTcp, ServesEightSendersAtOnceAndRefusesANinthWhileTheyAreHeard) {
    boost::asio::io_context io;
    tally_input_config config;
    config.name = "mixer1";
    config.wire = tally_wire::tsl5_tcp;
    config.address = "127.0.0.1";
    config.timeout = std::chrono::minutes(1);
    tally_listener listener(
        io, config, [](const std::vector<lit>&) {}, [](const tally_input_status&) {}, [](const std::string&) {});
    std::string error;
    ASSERT_TRUE(listener.start(error)) << error;
    const std::string listen = listener.status().listen;
    const boost::asio::ip::tcp::endpoint at(boost::asio::ip::make_address("127.0.0.1"),
                                            static_cast<uint16_t>(std::stoi(listen.substr(listen.rfind(':') + 1))));
    std::vector<boost::asio::ip::tcp::socket> senders;
    for (size_t i = 0; i <= max_tally_senders; ++i) {
        senders.emplace_back(io);
        senders.back().connect(at);
    }
    ASSERT_TRUE(runUntil(io, [&] { return listener.status().refusedSenders == 1; }));
    EXPECT_EQ(listener.status().senders, max_tally_senders);
}

}  // namespace
