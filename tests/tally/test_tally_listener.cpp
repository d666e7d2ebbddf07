// A tally input on its sockets (127.0.0.1, port 0) against the fake vision
// mixer over each wire: a cut lights program and preview, a mixer that goes
// quiet takes the input down.
#include <gtest/gtest.h>

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
    std::map<int, state> lit;
    std::vector<bool> states;
    std::vector<std::string> log;
    tally_listener listener(
        io, config,
        [&](const std::vector<quon::tally::lit>& changes) {
            for (const auto& l : changes) lit[l.index] = l.now;
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
    ASSERT_TRUE(runUntil(io, [&] { return lit[5] == state::program && lit[2] == state::preview; }))
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
    std::vector<std::string> errors;
    ASSERT_TRUE(inputs.apply({a, b}, errors)) << testing::PrintToString(errors);
    const std::string listen = inputs.statuses()[0].listen;
    fake_vision_mixer mixer(io, fake_vision_mixer::wire::tsl5_udp,
                            static_cast<uint16_t>(std::stoi(listen.substr(listen.rfind(':') + 1))));
    mixer.cut(2);
    ASSERT_TRUE(runUntil(io, [&] { return !changes.empty(); }));

    ASSERT_TRUE(inputs.apply({a, b}, errors));
    EXPECT_EQ(inputs.statuses()[0].listen, listen) << "kept: the same socket";

    changes.clear();
    tally_input_config wider = a;
    wider.maps.push_back(tally_map{9, 1, point{2, point::end::source, 1}, {}});
    ASSERT_TRUE(inputs.apply({wider}, errors));
    EXPECT_TRUE(changes.empty()) << "index 2 still stands for destination 2: held, not put out";
    EXPECT_EQ(inputs.lits().size(), 1u);
    EXPECT_TRUE(inputs.statuses()[0].up);

    inputs.stop();
    EXPECT_EQ(changes, (std::vector<lit>{{"a", 2, point{1, point::end::destination, 2}, state::off}}));
}

}  // namespace

#include "quon/metrics/serve_metrics.h"
#include "quon/routers/built_in_routers.h"

namespace {

TEST(TallyInputMetrics, EachInputsStateAndCountsAreScraped) {
    const quon::router_registry routers = quon::builtInRouters();
    const quon::host_engine engine(quon::system_description{}, routers);
    quon::serve_metrics metrics;
    tally_input_status down;
    down.name = "mixer1";
    down.packets = 12;
    down.unmapped = 3;
    const std::string text = metrics.scrape(engine, {}, {}, {down});
    EXPECT_NE(text.find("quon_tally_input_up{input=\"mixer1\"} 0"), std::string::npos) << text;
    EXPECT_NE(text.find("quon_tally_input_packets_total{input=\"mixer1\"} 12"), std::string::npos);
    EXPECT_NE(text.find("quon_tally_input_unmapped_total{input=\"mixer1\"} 3"), std::string::npos);
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
