// The host engine driven through the probe module, which sends whatever
// command its parent asks for and logs every message it receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/command_parser.h"
#include "quon/engine/host_engine.h"
#include "quon/engine/panel_layout.h"
#include "quon/engine/system_files.h"
#include "quon/output/display_lines.h"
#include "quon/output/trace_format.h"
#include "quon/routers/built_in_routers.h"
#include "temp_system.h"

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using namespace quon;

namespace {

struct command_case {
    const char* text;
    bool valid;
    std::vector<std::string> texts;
    std::vector<int> numbers;
};

TEST(HostCommandParser, ReadsEveryCommandOfTheInterface) {
    const command_case cases[] = {
        {"PS '1' 'p/umdMimic.quon_ui'", true, {"1", "p/umdMimic.quon_ui"}, {}},
        {"PS '1' 'l' 'x'", true, {"1", "l", "x"}, {}},
        {"TP 'text=it's' '1' 'myMimic'", true, {"text=it's", "1", "myMimic"}, {}},
        {"TP 'text=a' 'b' '1' 'myMimic'", true, {"text=a' 'b", "1", "myMimic"}, {}},
        {"TG '1' 'alm_3' 'value'", true, {"1", "alm_3", "value"}, {}},
        {"HN 'sourceid=12'", true, {"sourceid=12"}, {}},
        {"HN ''", true, {""}, {}},
        {"SD 'router 'a''", true, {"router 'a'"}, {}},
        {"XI '1' 'alm_'", true, {"1", "alm_"}, {}},
        {"RN 12 0 5", true, {}, {12, 0, 5}},
        {"RR -2147483648 -2147483648 -2147483648 'ADD'", true, {}, {INT32_MIN, INT32_MIN, INT32_MIN}},
        {"RU 12", true, {}, {12}},
        {"RP -1 0 7", true, {}, {-1, 0, 7}},
        {"ET 1 10000", true, {}, {1, 10000}},
        {"ET 5", true, {}, {5}},
        {"AS", true, {}, {}},
        {"", false, {}, {}},
        {"A", false, {}, {}},
        {"AS x", false, {}, {}},
        {"ZZ 1", false, {}, {}},
        {"TP 'text' '1' 'myMimic'", false, {}, {}},
        {"TP 'a=b' '1'", false, {}, {}},
        {"HN sourceid", false, {}, {}},
        {"RR 1 2", false, {}, {}},
        {"RR 1  2 3", false, {}, {}},
        {"RR 1 2 3 'add'", false, {}, {}},
        {"RU 2147483648", false, {}, {}},
        {"RP 1 2 x", false, {}, {}},
        {"ET", false, {}, {}},
        {"ET 1 2 3", false, {}, {}},
        {"RN 1 2 3 ", false, {}, {}},
    };
    for (const command_case& c : cases) {
        SCOPED_TRACE(c.text);
        host_command parsed;
        std::string error;
        ASSERT_EQ(parseHostCommand(c.text, parsed, error), c.valid) << error;
        if (!c.valid) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(parsed.texts, c.texts);
        EXPECT_EQ(parsed.numbers, c.numbers);
    }
    host_command add;
    std::string error;
    ASSERT_TRUE(parseHostCommand("RR 1 2 3 'ADD'", add, error));
    EXPECT_TRUE(add.add);
}

TEST(PanelLayout, ParsesControlsAndRefusesMalformedFiles) {
    panel_layout layout;
    std::string error;
    ASSERT_TRUE(parseLayout("# c\ncontrol a\n text = x = y\n  empty =\ncontrol b\n", layout, error));
    ASSERT_EQ(layout.controls.size(), 2u);
    EXPECT_EQ(*layout.control("a")->property("text"), "x = y");
    EXPECT_EQ(*layout.control("a")->property("empty"), "");
    struct bad {
        const char* text;
        const char* message;
    };
    for (const bad b :
         {bad{"", "the layout declares no control"}, bad{"text = 1\n", "line 1: property before the first control"},
          bad{"control a\ncontrol a\n", "line 2: control \"a\" is declared twice"},
          bad{"control a\nnonsense\n", "line 2: expected \"control ID\" or \"property = value\""},
          bad{"control a b\n", "line 1: control id \"a b\" holds a blank or a quote"},
          bad{"control a\nall = 1\n", "line 2: \"all\" cannot name a property"}}) {
        EXPECT_FALSE(parseLayout(b.text, layout, error)) << b.text;
        EXPECT_EQ(error, b.message);
    }
}

class HostEngine : public ::testing::Test {
protected:
    void SetUp() override {
        system.writeDevice(1,
                           "[Router]\nName=R\n[Database]\nDatabaseSize_0=8\nDatabaseSize_1=4\n"
                           "[Database_0]\n1=CAM 1\n2=CAM 2\n[Crosspoints]\n1=2\n2=1\n");
        system.writeDevice(2, "[Router]\nAnswers=no\n[Database]\nDatabaseSize_1=2\n");
        system.writeFile("instances.ini", "[Instances]\nStudio=1 3\n");
        system.writeFile("panel.quon_ui",
                         "control myMimic\ntext=\nstatesheet=s\ncontrol alm_1\nvalue=1\ncontrol alm_2\n");
        engine = std::make_unique<host_engine>(readSystem(system.folder()), builtInRouters());
        engine->addListener(&recorder);
        ASSERT_EQ(engine->create("p", PROBE_MODULE_PATH, "", error), host_engine::create_status::created) << error;
        ASSERT_EQ(engine->create("q", PROBE_MODULE_PATH, "", error), host_engine::create_status::created) << error;
        ASSERT_EQ(send("p", "send:PS '1' '" + system.folder() + "/panel.quon_ui'"), "1");
    }

    std::optional<std::string> parent(const std::string& name, const std::string& text) {
        std::optional<std::string> reply;
        EXPECT_TRUE(engine->parent(name, text.c_str(), reply, error)) << error;
        return reply;
    }
    std::string send(const std::string& name, const std::string& command) {
        return parent(name, "send:" + command.substr(command.compare(0, 5, "send:") == 0 ? 5 : 0)).value_or("(none)");
    }
    std::vector<std::string> log(const std::string& name) {
        const std::optional<std::string> text = parent(name, "log");
        std::vector<std::string> lines;
        size_t start = 0;
        while (text && start < text->size()) {
            const size_t end = text->find('\n', start);
            lines.push_back(text->substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    // Keeps what the engine tells: the trace as text, commands and parent
    // notifications.
    struct recording_listener : host_listener {
        bool wantsTrace() const override { return true; }
        void traced(const trace_event& e) override { trace.push_back(formatTraceText(e)); }
        void commandSent(const std::string& component, const std::string& text) override {
            commands.push_back(component + ": " + text);
        }
        void parentNotified(const std::string& component, const std::string& text) override {
            notifications.push_back(component + ": " + text);
        }
        std::vector<std::string> trace, commands, notifications;
    };

    temp_system system;
    recording_listener recorder;  // outlives the engine, whose teardown is traced
    std::vector<std::string>& trace = recorder.trace;
    std::string error;
    std::unique_ptr<host_engine> engine;
};

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

TEST_F(HostEngine, PollDeliversAfterTheCallReturns) {
    send("p", "RP 1 1 3");
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 2", "revertive 1 2 1", "revertive 1 3 0"));
    send("p", "RP 1 -5 99");  // cut to the router's destinations
    EXPECT_EQ(log("p").size(), 4u);
    send("p", "RP 2 1 1");  // router 2 does not answer
    EXPECT_THAT(log("p"), IsEmpty());
}

TEST_F(HostEngine, RouteChangesReachRegisteredComponentsOnly) {
    send("p", "RR 1 1 1");
    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->route(1, 1, 5, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 5"));
    EXPECT_THAT(log("q"), IsEmpty());

    send("p", "RR 1 2 2");  // replaces the registration on router 1
    ASSERT_TRUE(engine->route(1, 1, 6, error));
    ASSERT_TRUE(engine->route(1, 2, 7, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 2 7"));
    EXPECT_THAT(log("q"), ElementsAre("revertive 1 2 7"));

    send("p", "RR 1 1 1 'ADD'");  // adds to it
    ASSERT_TRUE(engine->route(1, 1, 3, error));
    ASSERT_TRUE(engine->route(1, 2, 3, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 3", "revertive 1 2 3"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->route(1, 1, 4, error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_EQ(engine->crosspoint(1, 1), 4);

    EXPECT_FALSE(engine->route(1, 5, 1, error));
    EXPECT_EQ(error, "router 1 has no destination 5");
    EXPECT_FALSE(engine->route(7, 1, 1, error));
}

TEST_F(HostEngine, SilentRouterTakesRoutesWithoutRevertives) {
    send("p", "RR 2 1 1");
    ASSERT_TRUE(engine->route(2, 1, 2, error));
    EXPECT_THAT(log("p"), IsEmpty());
    ASSERT_TRUE(engine->setAnswers(2, true, error));
    send("p", "RP 2 1 1");
    EXPECT_THAT(log("p"), ElementsAre("revertive 2 1 2"));
}

TEST_F(HostEngine, RenamingAnEntryTellsOnlyTheComponentsRegisteredOnTheDevice) {
    send("p", "RR 1 1 1");
    send("q", "RR 2 1 1");
    ASSERT_TRUE(engine->rename(1, 0, 2, "CAM 2 WIDE", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 2"));
    EXPECT_THAT(log("q"), IsEmpty());
    EXPECT_EQ(send("q", "RN 1 0 2"), "CAM 2 WIDE");

    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->rename(1, 1, 1, "MON 1", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 1 1"));
    EXPECT_THAT(log("q"), ElementsAre("database 1 1 1"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->rename(1, 0, 3, "CAM 3", error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_THAT(log("q"), ElementsAre("database 1 0 3"));
}

TEST_F(HostEngine, TimersTickOnTheVirtualClockUntilStopped) {
    send("p", "ET 1 100");
    send("q", "ET 7 250");
    ASSERT_TRUE(engine->advance(99, error)) << error;
    EXPECT_THAT(log("p"), IsEmpty());
    ASSERT_TRUE(engine->advance(401, error)) << error;
    EXPECT_EQ(engine->now(), 500u);
    EXPECT_THAT(log("p"), ElementsAre("timer 1", "timer 1", "timer 1", "timer 1", "timer 1"));
    EXPECT_THAT(log("q"), ElementsAre("timer 7", "timer 7"));
    send("p", "ET 1");
    send("q", "ET 7 50");  // restarts with the new interval
    ASSERT_TRUE(engine->advance(100, error)) << error;
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_THAT(log("q"), ElementsAre("timer 7", "timer 7"));
    trace.clear();
    send("q", "ET 7 0");
    EXPECT_THAT(trace, testing::Contains(HasSubstr("not a positive number")));
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

TEST_F(HostEngine, ReportsRepliesHandedBackTwiceNeverOrForeign) {
    parent("p", "keep:SD 'studio'");
    parent("p", "back");
    EXPECT_THAT(engine->problems(), IsEmpty());
    parent("p", "back");
    parent("p", "foreign");
    parent("q", "keep:RN 1 0 1");
    ASSERT_TRUE(engine->destroy("q", error));
    EXPECT_THAT(engine->problems(),
                ElementsAre("p: reply handed back twice: \"1 3\"", "p: handed back a text the host never gave",
                            "q: reply never handed back: \"CAM 1\""));
}

TEST_F(HostEngine, ReportsCommandsAfterAS) {
    send("p", "AS");
    send("p", "RU 1");
    EXPECT_THAT(engine->problems(), ElementsAre("p: command after \"AS\": \"RU 1\""));
}

TEST_F(HostEngine, NeverCallsIntoAComponentThatIsCallingTheHost) {
    send("p", "RR 1 1 2");
    send("p", "RP 1 1 2");
    send("p", "ET 3 1");
    ASSERT_TRUE(engine->advance(2, error)) << error;
    for (const std::string& line : log("p")) EXPECT_NE(line, "reentered");
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

TEST(SystemFiles, ReadsRoutersAndInstances) {
    temp_system system;
    system.writeDevice(3,
                       "[Router]\nName=Main\nAnswers=No\n[Database]\nDatabaseSize_1=16\n[Database_0]\n1=CAM 1\nx=bad\n"
                       "[Crosspoints]\n1=4\n2=x\n");
    system.writeFile("instances.ini", "[Instances]\nUMD_A=3 1\n");
    system.writeFile("dev_x.ini", "[Database]\nDatabaseSize_1=3\n");
    const system_description d = readSystem(system.folder());
    ASSERT_EQ(d.routers.size(), 1u);
    EXPECT_EQ(d.routers[0].device, 3);
    EXPECT_EQ(d.routers[0].name, "Main");
    EXPECT_FALSE(d.routers[0].answers);
    EXPECT_EQ(d.routers[0].databaseSizes.at(1), 16);
    EXPECT_EQ(d.routers[0].entryNames.at(0).at(1), "CAM 1");
    EXPECT_EQ(d.routers[0].crosspoints.at(1), 4);
    EXPECT_EQ(d.instances.at("umd_a"), "3 1");
    EXPECT_THAT(d.warnings, ElementsAre(HasSubstr("dev_003.ini:8: [Database_0] x: not an index"),
                                        HasSubstr("dev_003.ini:11: [Crosspoints] 2=x: not destination=source"),
                                        HasSubstr("dev_x.ini: not a device file name the component reads")));
    EXPECT_FALSE(readSystem("/nonexistent").warnings.empty());
}

// The host reads every size the way the component does (the profile
// reader keeps an inline comment in the value; the number stops at the
// first character that is not a digit), and warns about what it cannot use.
TEST(SystemFiles, ReadsSizesAsTheComponentDoes) {
    struct size_case {
        const char* value;
        int size;             // -1: not registered
        const char* warning;  // empty: none
    };
    const size_case cases[] = {
        {"64      ; database 1: destinations", 64, ""},
        {"+64", 64, ""},
        {" 12abc", 12, ""},
        {"\"16\"", 16, ""},
        {"lots", -1, "DatabaseSize_1=lots: not a number (the component reads 0)"},
        {"", -1, "DatabaseSize_1=: not a number"},
        {"-3", -1, "DatabaseSize_1=-3: negative"},
        {"99999999999", 65536, "above the 65536 entries the host holds"},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.value);
        temp_system system;
        system.writeDevice(1, std::string("[Database]\nDatabaseSize_0=4\nDatabaseSize_1=") + c.value + "\n");
        system.writeFile("instances.ini", "[Instances]\n");
        const system_description d = readSystem(system.folder());
        ASSERT_EQ(d.routers.size(), 1u);
        if (c.size < 0)
            EXPECT_EQ(d.routers[0].databaseSizes.count(1), 0u);
        else
            EXPECT_EQ(d.routers[0].databaseSizes.at(1), c.size);
        if (*c.warning)
            EXPECT_THAT(d.warnings, ElementsAre(AllOf(HasSubstr("dev_001.ini:3: "), HasSubstr(c.warning))));
        else
            EXPECT_THAT(d.warnings, IsEmpty());
    }
}

TEST(SystemFiles, NamesDeviceFilesAsTheComponentDoes) {
    temp_system system;
    system.writeDevice(2, "[Database]\nDatabaseSize_1=2\n");
    system.writeFile("dev_1.ini", "[Database]\nDatabaseSize_1=3\n");
    system.writeFile("dev_1000.ini", "[Database]\nDatabaseSize_1=3\n");
    system.writeFile("instances.ini", "[Instances]\n");
    std::filesystem::create_directories(system.folder() + "/dev_004.ini");
    const system_description d = readSystem(system.folder());
    std::vector<int> devices;
    for (const router_description& r : d.routers) devices.push_back(r.device);
    EXPECT_THAT(devices, ElementsAre(2, 1000));
    EXPECT_THAT(d.warnings, ElementsAre(HasSubstr("dev_004.ini: a folder, not a device file"),
                                        HasSubstr("dev_1.ini: the component reads device 1 from dev_001.ini")));
}

TEST(SystemFiles, WarnsAboutAMissingOrUnusableInstancesFile) {
    temp_system missing;
    EXPECT_THAT(readSystem(missing.folder()).warnings, ElementsAre(HasSubstr("instances.ini: missing")));
    temp_system folder;
    std::filesystem::create_directories(folder.folder() + "/instances.ini");
    EXPECT_THAT(readSystem(folder.folder()).warnings, ElementsAre(HasSubstr("instances.ini: a folder")));
}

}  // namespace
