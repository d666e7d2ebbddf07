// Components in the engine: loading, panels, names, messages and the
// commands they send.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "host_engine_fixture.h"
#include "quon/output/display_lines.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using namespace quon;

namespace {

TEST_F(HostEngine, KeepsControlPropertiesPerComponentAndPanel) {
    EXPECT_EQ(send("p", "TG '1' 'myMimic' 'statesheet'"), "statesheet=s");
    EXPECT_EQ(send("p", "TP 'text=CAM 1' '1' 'myMimic'"), "(null)");
    EXPECT_EQ(send("p", "TG '1' 'myMimic' 'text'"), "text=CAM 1");
    EXPECT_EQ(send("p", "TG '1' 'myMimic' 'all'"), "text=CAM 1\nstatesheet=s");
    EXPECT_EQ(send("p", "TG '1' 'myMimic' 'colour'"), "colour=");
    EXPECT_EQ(send("p", "TG '2' 'myMimic' 'text'"), "(null)");
    EXPECT_EQ(send("p", "TG '1' 'nobody' 'text'"), "(null)");
    EXPECT_EQ(send("q", "TG '1' 'myMimic' 'text'"), "(null)");  // q has no panel
    EXPECT_EQ(send("p", "XI '1' 'alm_'"), "alm_1,alm_2");
    EXPECT_EQ(send("p", "XI '1' ''"), "myMimic,alm_1,alm_2");
    EXPECT_EQ(send("p", "XI '1' 'zzz'"), "(empty)");
    EXPECT_EQ(displayLine(*engine, "p"), "p: [ CAM 1 ] (s)");
    EXPECT_THAT(engine->problems(), IsEmpty());
}

TEST_F(HostEngine, PanelShowFailsForMissingOrMalformedLayouts) {
    system.writeFile("bad.quon_ui", "nonsense\n");
    EXPECT_EQ(send("q", "PS '1' '" + system.folder() + "/missing.quon_ui'"), "(null)");
    EXPECT_EQ(send("q", "PS '1' '" + system.folder() + "/bad.quon_ui'"), "(null)");
    EXPECT_THAT(trace, testing::Contains(HasSubstr("warning   layout")));
}

TEST_F(HostEngine, LooksUpInstancesAndNames) {
    EXPECT_EQ(send("p", "SD 'studio'"), "1 3");
    EXPECT_EQ(send("p", "SD 'nobody'"), "(null)");
    EXPECT_EQ(send("p", "RN 1 0 2"), "CAM 2");
    EXPECT_EQ(send("p", "RN 1 0 3"), "(null)");
    EXPECT_EQ(send("p", "RN 9 0 1"), "(null)");
}

TEST_F(HostEngine, MessagesAndButtonsReachTheComponent) {
    ASSERT_TRUE(engine->value("p", -42, error));
    ASSERT_TRUE(engine->button("p", "AckAll", "alarm=2", error));
    ASSERT_TRUE(engine->button("p", "b", "press", error));
    EXPECT_THAT(log("p"), ElementsAre("value -42", "button AckAll alarm=2", "button b press="));
    EXPECT_FALSE(engine->value("nobody", 1, error));
}

TEST_F(HostEngine, TellsListenersOfCommandsAndNotifications) {
    recorder.commands.clear();
    send("p", "HN 'sourceid=3'");
    send("q", "HN 'sourceid=4'");
    EXPECT_THAT(recorder.notifications, ElementsAre("p: sourceid=3", "q: sourceid=4"));
    EXPECT_THAT(recorder.commands, ElementsAre("p: HN 'sourceid=3'", "q: HN 'sourceid=4'"));
}

TEST_F(HostEngine, MalformedCommandsGetNullAndAWarning) {
    for (const char* text : {"ZZ 1", "RR 1", "TP 'x' '1' 'c'", "", "RR 9 1 1"}) {
        trace.clear();
        EXPECT_EQ(send("p", text), "(null)") << text;
        EXPECT_THAT(trace, testing::Contains(HasSubstr("warning"))) << text;
    }
    EXPECT_THAT(engine->problems(), IsEmpty());
}

TEST_F(HostEngine, ExplainsModulesThatCannotBeUsed) {
    struct load_case {
        std::string module;
        std::string path;
        std::string message;
    };
    const load_case cases[] = {
        {"/nonexistent/Module.so", "", "/nonexistent/Module.so: no such module file"},
        {system.folder() + "/instances.ini", "", system.folder() + "/instances.ini: cannot be loaded: "},
        {QUON_STRING_LIBRARY_PATH, "",
         std::string(QUON_STRING_LIBRARY_PATH) + ": does not export load_quon_client_script"},
        {PROBE_MODULE_PATH, "refuse",
         std::string(PROBE_MODULE_PATH) + ": load_quon_client_script returned no component"},
    };
    for (const load_case& c : cases) {
        EXPECT_EQ(engine->create("x", c.module, c.path, error), host_engine::create_status::load_failed);
        EXPECT_EQ(error.substr(0, c.message.size()), c.message);
        EXPECT_FALSE(engine->exists("x"));
    }
    EXPECT_EQ(engine->create("p", PROBE_MODULE_PATH, "", error), host_engine::create_status::bad_name);
}

}  // namespace
