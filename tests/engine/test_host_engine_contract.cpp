// What the engine reports and refuses on the host contract: replies handed
// back, commands after "AS", and never calling into a component that is
// calling the host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_engine_fixture.h"
#include "quon/engine/contract_monitor.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace quon;

namespace {

TEST_F(HostEngine, ReportsRepliesHandedBackTwiceNeverOrForeign) {
    parent("p", "keep:SD 'studio'");
    parent("p", "back");
    EXPECT_THAT(engine->components().problems(), IsEmpty());
    parent("p", "back");
    parent("p", "foreign");
    parent("q", "keep:RN 1 0 1");
    ASSERT_TRUE(engine->components().destroy("q", error));
    EXPECT_THAT(engine->components().problems(),
                ElementsAre("p: reply handed back twice: \"1 3\"", "p: handed back a text the host never gave",
                            "q: reply never handed back: \"CAM 1\""));
}

// The monitor remembers the last eight replies handed back (a second
// hand-back of any of them is recognised) and lends the oldest one's block
// to the next reply that fits it.
TEST(ContractMonitor, RemembersTheLastEightRepliesHandedBackAndLendsTheOldest) {
    struct : contract_reporter {
        void violated(const contract_violation& v) override { seen.push_back(v.text); }
        std::vector<std::string> seen;
    } reporter;
    std::vector<std::string>& seen = reporter.seen;
    contract_monitor monitor(reporter);
    const host_command_info& rn = hostCommand(host_word::RN);
    const std::string name(40, 'x');  // longer than the monitor's own buffer
    std::vector<char*> given;
    for (int i = 0; i < 10; ++i) given.push_back(monitor.give(rn, name + std::to_string(i)));
    for (char* reply : given) monitor.handedBack(reply);  // the first two are forgotten
    monitor.handedBack(given[2]);
    monitor.handedBack(given[9]);
    EXPECT_EQ(monitor.give(rn, name + "a"), given[2]);
    EXPECT_EQ(monitor.give(rn, name + "b"), given[3]);
    monitor.handedBack(given[2]);
    EXPECT_THAT(
        seen, ElementsAre("reply handed back twice: \"" + name + "2\"", "reply handed back twice: \"" + name + "9\""));
    monitor.finished();
    monitor.destroyed();
    EXPECT_EQ(seen.back(), "reply never handed back: \"" + name + "b\"");
}

TEST_F(HostEngine, ReportsCommandsAfterAS) {
    send("p", "AS");
    send("p", "RU 1");
    EXPECT_THAT(engine->components().problems(), ElementsAre("p: command after \"AS\": \"RU 1\""));
}

// The probe logs "reentered" for a message that reaches it while it is
// inside a call to the host: the poll's revertives, a route taken while a
// watcher is calling the host, and the timer's ticks all come after.
TEST_F(HostEngine, NeverCallsIntoAComponentThatIsCallingTheHost) {
    send("p", "RR 1 1 2");
    send("q", "RR 1 1 1");
    send("p", "RP 1 1 2");
    send("p", "ET 3 1");
    ASSERT_TRUE(engine->advance(2, error)) << error;
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 2", "revertive 1 2 1", "timer 3", "timer 3"));
    // A route reaches both watchers; q's poll answers q alone, once it has
    // returned.
    ASSERT_TRUE(engine->routers().route(1, 1, 4, error)) << error;
    send("q", "RP 1 1 1");
    EXPECT_THAT(log("q"), ElementsAre("revertive 1 1 4", "revertive 1 1 4"));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 4"));
}

}  // namespace
