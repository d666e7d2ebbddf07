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
    EXPECT_EQ(displayLine(engine->components(), "p"), "p: [ CAM 1 ] (s)");
    EXPECT_THAT(engine->components().problems(), IsEmpty());
}

// Untraced, a display's "TP" to the control and property of its last is
// taken by comparing their names; every text reads as any command would:
// fields split from the right, the first '=' ends the property, anything
// else the long way.
TEST_F(HostEngine, AnUntracedTextPutReadsAsAnyCommand) {
    struct : host_listener {
        void propertyChanged(const property_change& c) override {
            seen.push_back(c.control + "." + c.property + "=" + c.value);
        }
        void warning(const std::string&, const std::string& text) override { seen.push_back("warning " + text); }
        std::vector<std::string> seen;
    } listener;
    engine->removeListener(&recorder);
    engine->addListener(&listener);
    const std::vector<std::pair<std::string, std::string>> puts = {
        {"TP 'text=CAM 1' '1' 'myMimic'", "CAM 1"}, {"TP 'text=CAM 2' '1' 'myMimic'", "CAM 2"},
        {"TP 'text=a' 'b' '1' 'myMimic'", "a' 'b"}, {"TP 'text==x=y=z' '1' 'myMimic'", "=x=y=z"},
        {"TP 'text=' '1' 'myMimic'", ""},           {"TP 'text=CAM 3' '1' 'myMimic' ", ""},
        {"TP 'text=CAM 3' '1' 'myMimi'", ""},       {"TP 'text=CAM 3' '2' 'myMimic'", ""},
        {"TP 'textx=CAM 3' '1' 'myMimic'", ""},     {"TP 'text' '1' 'myMimic'", ""},
        {"TP 'statesheet=t' '1' 'myMimic'", ""},    {"TP 'text=CAM 4' '1' 'myMimic'", "CAM 4"},
    };
    for (const auto& [text, shown] : puts) {
        send("p", text);
        EXPECT_EQ(engine->components().property("p", "1", "myMimic", "text"), shown) << text;
    }
    EXPECT_EQ(engine->components().property("p", "1", "myMimic", "textx"), "CAM 3");
    EXPECT_EQ(engine->components().property("p", "1", "myMimic", "statesheet"), "t");
    EXPECT_THAT(listener.seen,
                ElementsAre("myMimic.text=CAM 1", "myMimic.text=CAM 2", "myMimic.text=a' 'b", "myMimic.text==x=y=z",
                            "myMimic.text=", HasSubstr("warning malformed command"),
                            "warning no control \"myMimi\" on panel \"1\"",
                            "warning no control \"myMimic\" on panel \"2\"", "myMimic.textx=CAM 3",
                            HasSubstr("warning malformed command"), "myMimic.statesheet=t", "myMimic.text=CAM 4"));
    engine->removeListener(&listener);
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
    ASSERT_TRUE(engine->components().value("p", -42, error));
    ASSERT_TRUE(engine->components().button("p", "AckAll", "alarm=2", error));
    ASSERT_TRUE(engine->components().button("p", "b", "press", error));
    EXPECT_THAT(log("p"), ElementsAre("value -42", "button AckAll alarm=2", "button b press="));
    EXPECT_FALSE(engine->components().value("nobody", 1, error));
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
    EXPECT_THAT(engine->components().problems(), IsEmpty());
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
        EXPECT_EQ(engine->components().create("x", c.module, c.path, error),
                  engine_components::create_status::load_failed);
        EXPECT_EQ(error.substr(0, c.message.size()), c.message);
        EXPECT_FALSE(engine->components().exists("x"));
    }
    EXPECT_EQ(engine->components().create("p", PROBE_MODULE_PATH, "", error),
              engine_components::create_status::bad_name);
}

}  // namespace
