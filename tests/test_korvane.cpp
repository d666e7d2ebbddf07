// Korvane.so driven as a host drives it: loaded with dlopen, created
// through its export, fed messages through `callback`, with the exact
// traffic checked in order.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"
#include "quon_records.h"
#include "recording_host.h"
#include "temp_system.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using export_function = quon_client_callback* (*)(quon_client_callback*, const char*);
using lines = std::vector<std::string>;

export_function loadExport() {
    static void* module = dlopen(KORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    return reinterpret_cast<export_function>(dlsym(module, "load_quon_client_script"));
}

TEST(KorvaneModule, ExportsOnlyTheLoadFunction) {
    FILE* pipe = popen("nm -D --defined-only '" KORVANE_MODULE_PATH "'", "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of("\n") + 1);
        symbols.push_back(text.substr(text.rfind(' ') + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_THAT(symbols, ElementsAre("load_quon_client_script"));
}

TEST(KorvaneModule, LoadsFromAnyWorkingDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    export_function create = loadExport();
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_NE(create, nullptr) << dlerror();
}

// Passes every message on to a recording host, out of reach of the
// allocation failures made for the module: the host's own allocations
// neither fail nor count. Notes the commands sent after a failure.
class sheltering_host : public quon_client_callback {
public:
    explicit sheltering_host(recording_host& host) : host_(host), failuresAtStart_(allocation_counter::failures) {}

    char* callback(void* data, int type) override {
        const long count = allocation_counter::count;
        const long live = allocation_counter::live;
        const long failingAt = allocation_counter::failing_at;
        allocation_counter::failing_at = 0;
        if (type == QUON_MSG_COMMAND && allocation_counter::failures > failuresAtStart_)
            sentAfterFailure_.push_back(data ? static_cast<const char*>(data) : "");
        char* reply = host_.callback(data, type);
        allocation_counter::count = count;
        allocation_counter::live = live;
        allocation_counter::failing_at = failingAt;
        return reply;
    }

    const lines& sentAfterFailure() const { return sentAfterFailure_; }

private:
    recording_host& host_;
    const long failuresAtStart_;
    lines sentAfterFailure_;
};

// Makes each allocation of a construction fail in turn, until one
// succeeds. The path is long enough that the layout command needs the heap
// after the base has been built.
TEST(KorvaneConstruction, FailedConstructionSendsNothingMoreAndLeavesNoTrace) {
    const std::string path(200, 'p');
    export_function create = loadExport();
    ASSERT_NE(create, nullptr);
    long failedConstructions = 0;
    for (long failing = 1;; ++failing) {
        ASSERT_LT(failing, 100) << "the construction never succeeds";
        SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
        recording_host host;
        sheltering_host sheltered(host);
        const long liveBefore = allocation_counter::live;
        allocation_counter::failing_at = allocation_counter::count + failing;
        quon_client_callback* component = create(&sheltered, path.c_str());
        const bool failed = allocation_counter::failing_at <= allocation_counter::count;
        allocation_counter::failing_at = 0;
        const long liveAfter = allocation_counter::live;
        if (component) {
            ASSERT_FALSE(failed) << "a component came back although an allocation failed";
            delete component;
            const lines commands = host.commands();
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(commands.back(), "AS");  // the one handed over ends with it
            EXPECT_THAT(sheltered.sentAfterFailure(), IsEmpty());
            break;
        }
        ++failedConstructions;
        EXPECT_THAT(sheltered.sentAfterFailure(), IsEmpty());
        EXPECT_EQ(liveAfter, liveBefore);
        EXPECT_THAT(host.problems(), IsEmpty());
    }
    // The object, the base's copy of the path and the layout command.
    EXPECT_GE(failedConstructions, 3);
}

// A component created through the export, with its recording host and a
// router 3 of 16 destinations and a router 4 of 8.
class Korvane : public ::testing::Test {
protected:
    // Also called again within a test for a fresh component.
    void SetUp() override {
        delete component;
        component = nullptr;
        system.writeRouter(3, 16);
        system.writeRouter(4, 8);
        export_function create = loadExport();
        ASSERT_NE(create, nullptr);
        component = create(&host, "panels");
        ASSERT_NE(component, nullptr);
        host.clear();
    }
    void TearDown() override {
        delete component;
        component = nullptr;
        EXPECT_THAT(host.problems(), IsEmpty());
    }

    // Sends a parent command; returns its reply ("(null)" for none) after
    // handing it back.
    std::string parent(const char* text) {
        char* reply = component->callback(const_cast<char*>(text), QUON_MSG_PARENT);
        const std::string copy = reply ? reply : "(null)";
        component->callback(reply, QUON_MSG_RELEASE);
        return copy;
    }
    void revertive(int device, int index, int info) {
        revertiveRecord record{device, 0, index, info};
        component->callback(&record, QUON_MSG_REVERTIVE);
    }
    void tick(intptr_t id) { component->callback(reinterpret_cast<void*>(id), QUON_MSG_TIMER); }
    void databaseChange(int device, int database, int index) {
        databaseRecord record{device, database, index};
        component->callback(&record, QUON_MSG_DATABASE);
    }
    // Commands since the last call, then forget them.
    lines sent() {
        const lines texts = host.commands();
        host.clear();
        return texts;
    }
    lines destroy() {
        delete component;
        component = nullptr;
        return sent();
    }
    void watch(int matrix, int destination) {
        parent(("myMatrix=" + std::to_string(matrix)).c_str());
        parent(("myDestination=" + std::to_string(destination)).c_str());
        host.clear();
    }

    temp_system system;
    recording_host host;
    quon_client_callback* component = nullptr;
};

TEST_F(Korvane, ShowsItsLayoutAtCreation) {
    recording_host other;
    quon_client_callback* fresh = loadExport()(&other, "panels");
    EXPECT_THAT(other.commands(), ElementsAre("PS '1' 'panels/umdMimic.quon_ui'"));
    delete fresh;
    quon_client_callback* bare = loadExport()(&other, "");
    delete bare;
    EXPECT_THAT(other.commands(), ElementsAre("PS '1' 'panels/umdMimic.quon_ui'", "ET 1", "AS",
                                              "PS '1' 'umdMimic.quon_ui'", "ET 1", "AS"));
}

TEST_F(Korvane, WorksWithoutAHost) {
    quon_client_callback* orphan = loadExport()(nullptr, "panels");
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(orphan->callback(const_cast<char*>("myMatrix=3"), QUON_MSG_PARENT), nullptr);
    delete orphan;
}

TEST_F(Korvane, TeardownInEachWatchingState) {
    EXPECT_THAT(destroy(), ElementsAre("ET 1", "AS"));  // idle

    SetUp();
    watch(3, 5);
    EXPECT_THAT(destroy(), ElementsAre("RU 3", "ET 1", "AS"));  // waiting

    SetUp();
    watch(3, 5);
    revertive(3, 5, 2);
    sent();
    EXPECT_THAT(destroy(), ElementsAre("RU 3", "AS"));  // watching

    SetUp();
    parent("myMatrix=3");
    EXPECT_THAT(destroy(), ElementsAre("ET 1", "AS"));  // matrix without destination
}

TEST_F(Korvane, SelectsByMatrixThenDestinationInEitherOrder) {
    EXPECT_EQ(parent("myMatrix=3"), "(null)");
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(parent("myDestination=5"), "(null)");
    EXPECT_THAT(sent(), ElementsAre("RU 3", "RR 3 5 5", "RP 3 5 5", "ET 1 10000"));

    SetUp();
    parent("myDestination=5");
    EXPECT_THAT(sent(), IsEmpty());  // no usable matrix: nothing is stored
    parent("myMatrix=3");
    EXPECT_THAT(sent(), IsEmpty());
    parent("myDestination=5");
    EXPECT_THAT(sent(), ElementsAre("RU 3", "RR 3 5 5", "RP 3 5 5", "ET 1 10000"));
}

// The destination decision table, starting from matrix 3 destination 5.
struct selection_case {
    const char* command;
    lines traffic;
    const char* settings;  // "return=all" afterwards, first two lines
};

TEST_F(Korvane, DestinationDecisionTable) {
    const selection_case cases[] = {
        {"myMatrix=3", {}, "myMatrix=3\nmyDestination=5"},
        {"myMatrix=0", {}, "myMatrix=3\nmyDestination=5"},
        {"myMatrix=1000", {}, "myMatrix=3\nmyDestination=5"},
        {"myMatrix=-4", {}, "myMatrix=3\nmyDestination=5"},
        {"myMatrix=none", {}, "myMatrix=3\nmyDestination=5"},
        {"myDestination=5", {}, "myMatrix=3\nmyDestination=5"},
        {"myDestination=0", {}, "myMatrix=3\nmyDestination=5"},
        {"myDestination=17", {}, "myMatrix=3\nmyDestination=5"},
        {"myDestination=16", {"RU 3", "RR 3 16 16", "RP 3 16 16", "ET 1 10000"}, "myMatrix=3\nmyDestination=16"},
        {"myDestination=x7y", {"RU 3", "RR 3 7 7", "RP 3 7 7", "ET 1 10000"}, "myMatrix=3\nmyDestination=7"},
        // A new matrix keeps the destination without measuring it.
        {"myMatrix=4", {"RU 3", "RR 4 5 5", "RP 4 5 5", "ET 1 10000"}, "myMatrix=4\nmyDestination=5"},
        {"myMatrix=999", {"RU 3", "RR 999 5 5", "RP 999 5 5", "ET 1 10000"}, "myMatrix=999\nmyDestination=5"},
    };
    for (const selection_case& c : cases) {
        SCOPED_TRACE(c.command);
        SetUp();
        watch(3, 5);
        parent(c.command);
        EXPECT_EQ(sent(), c.traffic);
        EXPECT_EQ(parent("return=all").substr(0, std::string(c.settings).size()), c.settings);
        TearDown();
    }
}

TEST_F(Korvane, NewMatrixWithoutUsableDestinationOnlyUnregisters) {
    watch(3, 5);
    parent("myMatrix=4");
    parent("myDestination=0");
    sent();
    // Back on matrix 3 without a destination ever set: no registration.
    SetUp();
    parent("myMatrix=3");
    parent("myMatrix=4");
    EXPECT_THAT(sent(), ElementsAre("RU 3"));
    // Waiting continues on the new matrix with the kept destination.
    SetUp();
    watch(3, 5);
    system.writeRouter(5, 2);
    parent("myMatrix=5");
    EXPECT_THAT(sent(), ElementsAre("RU 3", "RR 5 5 5", "RP 5 5 5", "ET 1 10000"));
    parent("myDestination=9");
    EXPECT_THAT(sent(), IsEmpty());
    tick(1);
    EXPECT_THAT(sent(), ElementsAre("RP 5 5 5"));
}

TEST_F(Korvane, UnreadableDeviceFileRefusesEveryDestination) {
    parent("myMatrix=12");
    parent("myDestination=1");
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(Korvane, RevertivesUpdateDisplayAndParent) {
    host.answer("RN 3 0 7", "CAM 7");
    watch(3, 5);
    revertive(4, 5, 7);  // other device
    revertive(3, 6, 7);  // other destination
    EXPECT_THAT(sent(), IsEmpty());
    revertive(3, 5, 7);
    EXPECT_THAT(host.transcript(),
                ElementsAre("0 ET 1", "0 RN 3 0 7", "5 CAM 7", "0 TP 'text=CAM 7' '1' 'myMimic'", "0 HN 'sourceid=7'"));
    EXPECT_EQ(host.events()[1].pointer, host.events()[2].pointer);
    sent();
    revertive(3, 5, 7);
    EXPECT_THAT(sent(), IsEmpty());
    revertive(3, 5, 8);  // no name known: shown empty, still notified
    EXPECT_THAT(sent(), ElementsAre("RN 3 0 8", "TP 'text=' '1' 'myMimic'", "HN 'sourceid=8'"));
}

TEST_F(Korvane, FirstRevertiveStopsTheTimerWhateverItsSource) {
    watch(3, 5);
    revertive(3, 5, 0);  // source 0 is already the stored source
    EXPECT_THAT(sent(), ElementsAre("ET 1"));
    revertive(3, 5, 0);
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(Korvane, SourceSurvivesAChangeOfDestination) {
    watch(3, 5);
    revertive(3, 5, 9);
    parent("myDestination=6");
    sent();
    revertive(3, 6, 9);
    EXPECT_THAT(sent(), ElementsAre("ET 1"));
    revertive(3, 5, 1);  // the old destination is no longer watched
    EXPECT_THAT(sent(), IsEmpty());
}

// Source 1 of router 3 is "CAM 1"; a change of router forgets it, so that
// the new router's first revertive is named from the new router and told
// to the parent whatever number it carries.
struct router_change_case {
    const char* name;
    const char* change;  // parent command that moves the display to router 4
    const char* between;  // parent command before the first revertive, or nullptr
    int source;
    lines traffic;  // from that first revertive on
};

TEST_F(Korvane, ChangeOfRouterForgetsTheSourceShown) {
    const router_change_case cases[] = {
        {"same number", "myMatrix=4", nullptr, 1,
         {"ET 1", "RN 4 0 1", "TP 'text=SAT 1' '1' 'myMimic'", "HN 'sourceid=1'"}},
        {"source 0", "myMatrix=4", nullptr, 0, {"ET 1", "RN 4 0 0", "TP 'text=' '1' 'myMimic'", "HN 'sourceid=0'"}},
        {"by instance", "instance=sat", nullptr, 1,
         {"ET 1", "RN 4 0 1", "TP 'text=SAT 1' '1' 'myMimic'", "HN 'sourceid=1'"}},
        {"new source database", "myMatrix=4", "mySourceDB=2", 1,
         {"ET 1", "RN 4 2 1", "TP 'text=SAT 1 (DB 2)' '1' 'myMimic'", "HN 'sourceid=1'"}},
    };
    for (const router_change_case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        host.answer("RN 3 0 1", "CAM 1");
        host.answer("RN 4 0 1", "SAT 1");
        host.answer("RN 4 2 1", "SAT 1 (DB 2)");
        host.answer("SD 'sat'", "4 5");
        watch(3, 5);
        revertive(3, 5, 1);
        parent(c.change);
        sent();
        // Until router 4 answers, the old number names nothing of it.
        databaseChange(4, 0, 1);
        if (c.between) parent(c.between);
        EXPECT_THAT(sent(), IsEmpty());
        revertive(4, 5, c.source);
        EXPECT_EQ(sent(), c.traffic);
        revertive(4, 5, c.source);
        EXPECT_THAT(sent(), IsEmpty());
        TearDown();
    }
}

TEST_F(Korvane, RetryTimerPollsUntilARevertiveArrives) {
    tick(1);
    EXPECT_THAT(sent(), ElementsAre("ET 1"));  // idle: stopped
    tick(2);
    tick(-7);
    EXPECT_THAT(sent(), ElementsAre("ET 2", "ET -7"));
    watch(3, 5);
    tick(1);
    tick(1);
    EXPECT_THAT(sent(), ElementsAre("RP 3 5 5", "RP 3 5 5"));
    revertive(3, 5, 4);
    sent();
    tick(1);  // a late tick still polls; only the revertive stops the timer
    EXPECT_THAT(sent(), ElementsAre("RP 3 5 5"));
}

TEST_F(Korvane, DatabaseChangeOfTheShownSourceRefreshesTheName) {
    watch(3, 5);
    revertive(3, 5, 7);
    sent();
    host.answer("RN 3 0 7", "Renamed");
    databaseChange(3, 0, 8);
    databaseChange(3, 1, 7);
    databaseChange(4, 0, 7);
    EXPECT_THAT(sent(), IsEmpty());
    databaseChange(3, 0, 7);
    EXPECT_THAT(sent(), ElementsAre("RN 3 0 7", "TP 'text=Renamed' '1' 'myMimic'"));
}

TEST_F(Korvane, ButtonAndValueMessagesChangeNothing) {
    const char* empty = "";
    parentCommandRecord event{"AckAll", {}, empty, 0, false, nullptr};
    for (const char*& s : event.sub) s = empty;
    buttonRecord button{{}, "AckAll", &event};
    EXPECT_EQ(component->callback(&button, QUON_MSG_BUTTON), nullptr);
    EXPECT_EQ(component->callback(reinterpret_cast<void*>(42), QUON_MSG_VALUE), nullptr);
    EXPECT_THAT(sent(), IsEmpty());
}

struct instance_case {
    const char* reply;  // nullptr: no reply
    lines traffic;
};

TEST_F(Korvane, InstanceLookupSelectsOnlyUsableDestinations) {
    const instance_case cases[] = {
        {"4 6", {"SD 'studio'", "RU 3", "RR 4 6 6", "RP 4 6 6", "ET 1 10000"}},
        {"3 5", {"SD 'studio'"}},  // already watched
        {"0 5", {"SD 'studio'"}},
        {"1000 5", {"SD 'studio'"}},
        {"4 0", {"SD 'studio'"}},
        {"4 9", {"SD 'studio'"}},
        {"12 1", {"SD 'studio'"}},  // no device file
        {"4", {"SD 'studio'"}},
        {nullptr, {"SD 'studio'"}},
    };
    for (const instance_case& c : cases) {
        SCOPED_TRACE(c.reply ? c.reply : "(null)");
        SetUp();
        watch(3, 5);
        if (c.reply) host.answer("SD 'studio'", c.reply);
        EXPECT_EQ(parent("instance=studio"), "(null)");
        EXPECT_EQ(sent(), c.traffic);
        // The name is kept whatever the lookup found, so the old selection
        // commands are ignored until the instance is cleared.
        EXPECT_EQ(parent("instance=studio"), "(null)");
        parent("myDestination=2");
        EXPECT_THAT(sent(), IsEmpty());
        parent("instance=");
        parent("myDestination=2");
        const lines cleared = sent();
        ASSERT_FALSE(cleared.empty());
        EXPECT_EQ(cleared.front(), "SD ''");
        EXPECT_EQ(cleared.size(), 5u);
        TearDown();
    }
}

struct reply_case {
    const char* command;
    const char* reply;
};

TEST_F(Korvane, AnswersTheCommandTable) {
    const reply_case fresh[] = {
        {"return=all", "myMatrix=0\nmyDestination=0\nmySourceDB=0\nmyStatesheet="},
        {"return=myMatrix", "myMatrix=0"},
        {"return=myDestination", "myDestination=0"},
        {"return=mySourceDB", "(null)"},
        {"return=myStatesheet", "(null)"},
        {"return=instance", "(null)"},
        {"return", "(null)"},
        {"_events", "sourceid=*"},
        {"_events=anything", "sourceid=*"},
        {"_commands", "myMatrix=[value]\nmyDestination=[value]\nmySourceDB=[value]\nmyStatesheet=[value]"},
        {"_commands.x=y", "myMatrix=[value]\nmyDestination=[value]\nmySourceDB=[value]\nmyStatesheet=[value]"},
        {"unknown=1", "(null)"},
        {"Return=all", "(null)"},
        {"", "(null)"},
    };
    for (const reply_case& c : fresh) EXPECT_EQ(parent(c.command), c.reply) << c.command;
    EXPECT_THAT(sent(), IsEmpty());

    watch(3, 5);
    parent("mySourceDB=2");
    parent("myStatesheet=alarm");
    sent();
    EXPECT_EQ(parent("return=all"), "myMatrix=3\nmyDestination=5\nmySourceDB=2\nmyStatesheet=alarm");
    EXPECT_EQ(parent("return=myMatrix"), "myMatrix=3");
    EXPECT_EQ(parent("return=myDestination"), "myDestination=5");
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(Korvane, SourceDatabaseRefreshesTheShownName) {
    host.answer("RN 0 2 0", "nothing yet");
    parent("mySourceDB=2");
    EXPECT_THAT(sent(), ElementsAre("RN 0 2 0", "TP 'text=nothing yet' '1' 'myMimic'"));
    parent("mySourceDB=2");
    parent("mySourceDB=-1");
    parent("mySourceDB=none");
    EXPECT_THAT(sent(), IsEmpty());
    watch(3, 5);
    revertive(3, 5, 7);
    sent();
    host.answer("RN 3 0 7", "CAM 7");
    parent("mySourceDB=0");
    EXPECT_THAT(sent(), ElementsAre("RN 3 0 7", "TP 'text=CAM 7' '1' 'myMimic'"));
}

TEST_F(Korvane, StatesheetIsPutOnlyWhenItChanges) {
    parent("myStatesheet=alarm");
    parent("myStatesheet=alarm");
    parent("myStatesheet=");
    parent("myStatesheet");
    EXPECT_THAT(sent(), ElementsAre("TP 'statesheet=alarm' '1' 'myMimic'", "TP 'statesheet=' '1' 'myMimic'"));
}

}  // namespace
