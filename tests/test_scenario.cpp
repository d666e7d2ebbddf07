#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/scenario/scenario.h"
#include "quon/engine/system_files.h"
#include "quon/routers/built_in_routers.h"

using ::testing::HasSubstr;

using namespace quon;

namespace {

struct syntax_case {
    const char* text;
    const char* error;  // "" when the script is valid
};

TEST(ScenarioParser, RejectsBadLinesWithFileAndLine) {
    const syntax_case cases[] = {
        {"# only a comment\n\n   \n", ""},
        {"create a\ncreate b /path/Module.so\nsend a\nsend a instance=x y\nsay\nshow\n", ""},
        {"route 1 2 3\nrename 1 0 2 CAM 2 WIDE\nanswer 1 no\nadvance 500\nadvance 10s\nadvance 2m\nadvance 7ms\n", ""},
        {"button a AckAll\nbutton a ActionAll alarm=2\nvalue a -5\n", ""},
        {"expect reply null\nexpect reply a\\nb\nexpect sent a RU 1\nexpect sent a nothing\n", ""},
        {"expect property a 1 myMimic text\nexpect property a 1 myMimic text CAM 1\nexpect notify a sourceid=1\n", ""},
        {"frobnicate a", "f.quon:1: unknown command \"frobnicate\""},
        {"\n\ncreate", "f.quon:3: usage: create NAME [MODULE]"},
        {"create a b c", "f.quon:1: too many words; usage: create NAME [MODULE]"},
        {"send", "f.quon:1: usage: send NAME [TEXT]"},
        {"route 1 2", "f.quon:1: usage: route DEVICE DESTINATION SOURCE"},
        {"route 1 2 99999999999", "f.quon:1: \"99999999999\" is not a 32-bit integer"},
        {"rename 1 0 2", "f.quon:1: usage: rename DEVICE DATABASE INDEX NAME"},
        {"answer 1 maybe", "f.quon:1: answer takes yes or no"},
        {"advance soon", "f.quon:1: \"soon\" is not a duration"},
        {"advance -5", "f.quon:1: \"-5\" is not a duration"},
        {"value a x", "f.quon:1: \"x\" is not a 32-bit integer"},
        {"show now", "f.quon:1: too many words; usage: show"},
        {"expect", "f.quon:1: expect what? (reply, sent, property, notify)"},
        {"expect weather fine", "f.quon:1: unknown expectation \"weather\" (reply, sent, property, notify)"},
        {"expect reply", "f.quon:1: usage: expect reply TEXT|null"},
        {"expect sent a", "f.quon:1: usage: expect sent NAME TEXT|nothing"},
        {"expect property a 1 myMimic", "f.quon:1: usage: expect property NAME PANEL CONTROL PROPERTY [VALUE]"},
    };
    for (const syntax_case& c : cases) {
        scenario script;
        std::string error;
        EXPECT_EQ(parseScenario("f.quon", c.text, script, error), *c.error == '\0') << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(ScenarioParser, KeepsFreeTextWhole) {
    scenario script;
    std::string error;
    ASSERT_TRUE(parseScenario("f", "send a  instance=x  y\r\nrename 1 0 2 CAM  2\n", script, error));
    EXPECT_EQ(script.lines[0].rest, " instance=x  y");
    EXPECT_EQ(script.lines[1].rest, "CAM  2");
    EXPECT_EQ(unescaped("a\\nb\\\\n\\tc\\x"), "a\nb\\n\tc\\x");
}

// Scripts run on the sample system with the real module.
class ScenarioRun : public ::testing::Test {
protected:
    // The module reads the same system as the host.
    void SetUp() override {
        setenv("VX_ROOT", SAMPLE_ROOT, 1);
        setenv("VX_SYSTEM", "studio", 1);
    }

    scenario_result run(const std::string& text) {
        scenario script;
        std::string error;
        EXPECT_TRUE(parseScenario("s.quon", text, script, error)) << error;
        host_engine engine(readSystem(systemFolder(SAMPLE_ROOT, "studio")), builtInRouters());
        return runScenario(script, engine, scenario_settings{KORVANE_MODULE_PATH, "panels"},
                           [this](transcript_kind kind, const std::string& line) {
                               output.push_back(kind == transcript_kind::say ? "# " + line : "  " + line);
                           });
    }
    std::vector<std::string> output;
};

TEST_F(ScenarioRun, PassesWhenEveryExpectationHolds) {
    const scenario_result r =
        run("create a\nsend a myMatrix=1\nsend a return=myMatrix\nexpect reply myMatrix=1\n"
            "expect sent a nothing\nsay done\nshow\n");
    EXPECT_TRUE(r.passed) << r.failure;
    EXPECT_EQ(r.expectations, 2);
    EXPECT_THAT(output, ::testing::ElementsAre("  a replied null", "  a replied \"myMatrix=1\"", "# done",
                                               "  a: (no myMimic on panel 1)"));
}

TEST_F(ScenarioRun, NamesTheFailingLineAndWhatHappened) {
    struct failure_case {
        const char* script;
        const char* failure;
    };
    const failure_case cases[] = {
        {"create a\nsend a return=myMatrix\nexpect reply null\n", "s.quon:3: expect reply null\n  got: \"myMatrix=0\""},
        {"expect reply x\n", "s.quon:1: expect reply: no parent command was sent yet"},
        {"create a\nsend a myMatrix=1\nsend a myDestination=2\nexpect sent a RR 1 3 3\n",
         "s.quon:4: expect sent a RR 1 3 3\n  got: RU 1\n  commands of this step:\n    RU 1\n    RR 1 2 2\n    RP 1 2 "
         "2\n"
         "    ET 1 10000\n    ET 1\n    RN 1 0 2\n    TP 'text=CAM 2' '1' 'myMimic'\n    HN 'sourceid=2'"},
        {"create a\nsend a myStatesheet=x\nexpect sent a nothing\n",
         "s.quon:3: expect sent a nothing\n  but it also sent: TP 'statesheet=x' '1' 'myMimic'\n  commands of this "
         "step:\n"
         "    TP 'statesheet=x' '1' 'myMimic'"},
        {"create a\nexpect property a 1 myMimic text x\n",
         "s.quon:2: expect property a 1 myMimic text \"x\"\n  got: no such property"},
        {"create a\nexpect notify a sourceid=1\n", "s.quon:2: expect notify a sourceid=1\n  got: nothing"},
        {"send ghost x\n", "s.quon:1: send: no component ghost"},
        {"create a\ncreate a\n", "s.quon:2: create: component a exists already"},
        {"route 9 1 1\n", "s.quon:1: route: no router 9"},
    };
    for (const failure_case& c : cases) {
        const scenario_result r = run(c.script);
        EXPECT_FALSE(r.passed) << c.script;
        EXPECT_EQ(r.failure, c.failure);
    }
}

TEST_F(ScenarioRun, ReportsAModuleThatCannotBeLoaded) {
    const scenario_result r = run("create a /nonexistent/Module.so\n");
    EXPECT_FALSE(r.passed);
    EXPECT_TRUE(r.loadError);
    EXPECT_THAT(r.failure, HasSubstr("no such module file"));
}

}  // namespace
