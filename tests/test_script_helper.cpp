// The base class driven as a host drives it: through `callback`, with a
// tiny component that records which handlers ran.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "quon_message_types.h"
#include "quon/script/quon_script_helper.h"
#include "recording_host.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class probe_component : public quon_script_helper {
public:
    probe_component(quon_client_callback* host, const char* path) : quon_script_helper(host, path) {}

    void buttonCallback(buttonNotify* n) override {
        calls.push_back("button " + std::string(n->id()) + " " + std::string(n->command()) + "=" +
                        std::string(n->value()));
    }
    int revertiveCallback(revertiveNotify* n) override {
        calls.push_back("revertive " + std::to_string(n->device()) + " " + std::to_string(n->index()) + " " +
                        std::to_string(n->info()));
        return 7;
    }
    quon_string parentCallback(parentNotify* n) override {
        calls.push_back("parent " + std::string(n->command()) + "=" + std::string(n->value()));
        if (n->command() == "throw") throw std::runtime_error("refused");
        return reply;
    }
    void valueCallback(int* value) override {
        calls.push_back("value " + std::to_string(*value));
        quon_script_helper::valueCallback(value);
    }
    void timerCallback(int id) override { calls.push_back("timer " + std::to_string(id)); }
    void databaseCallback(databaseNotify* n) override {
        calls.push_back("database " + std::to_string(n->device()) + " " + std::to_string(n->database()) + " " +
                        std::to_string(n->index()));
    }

    void setAlarmHandling(bool on) { alarmHandling = on; }

    std::vector<std::string> calls;
    quon_string reply;
};

void* carried(intptr_t value) { return reinterpret_cast<void*>(value); }

class ScriptHelper : public ::testing::Test {
protected:
    recording_host host;
    probe_component component{&host, "panels"};
};

TEST_F(ScriptHelper, IgnoresUnknownMessageTypes) {
    for (int type : {0, -1, 8, 1000, INT32_MIN}) {
        EXPECT_EQ(component.callback(const_cast<char*>("x"), type), nullptr) << type;
    }
    EXPECT_THAT(component.calls, IsEmpty());
    EXPECT_THAT(host.commands(), IsEmpty());
}

TEST_F(ScriptHelper, DeliversRecordsToTheirHandlers) {
    revertiveRecord revertive{12, 99, 40, 5};
    databaseRecord database{12, 0, 5};
    EXPECT_EQ(component.callback(&revertive, QUON_MSG_REVERTIVE), nullptr);
    EXPECT_EQ(component.callback(&database, QUON_MSG_DATABASE), nullptr);
    EXPECT_EQ(component.callback(carried(1), QUON_MSG_TIMER), nullptr);
    EXPECT_EQ(component.callback(carried(42), QUON_MSG_VALUE), nullptr);
    EXPECT_EQ(component.callback(carried(-3), QUON_MSG_VALUE), nullptr);
    EXPECT_THAT(component.calls,
                ElementsAre("revertive 12 40 5", "database 12 0 5", "timer 1", "value 42", "value -3"));
}

TEST_F(ScriptHelper, IgnoresRecordMessagesWithoutARecord) {
    for (int type : {QUON_MSG_REVERTIVE, QUON_MSG_BUTTON, QUON_MSG_DATABASE})
        EXPECT_EQ(component.callback(nullptr, type), nullptr);
    EXPECT_THAT(component.calls, IsEmpty());
}

TEST_F(ScriptHelper, ParentCommandReplyIsAModuleTextReleasedOnHandBack) {
    component.reply = "abc";
    char* reply = component.callback(const_cast<char*>("myMatrix=12"), QUON_MSG_PARENT);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "abc");
    EXPECT_EQ(component.callback(reply, QUON_MSG_RELEASE), nullptr);
    EXPECT_THAT(component.calls, ElementsAre("parent myMatrix=12"));
}

TEST_F(ScriptHelper, EmptyParentReplyIsNull) {
    EXPECT_EQ(component.callback(const_cast<char*>("x"), QUON_MSG_PARENT), nullptr);
    EXPECT_EQ(component.callback(nullptr, QUON_MSG_PARENT), nullptr);
    EXPECT_EQ(component.callback(const_cast<char*>(""), QUON_MSG_PARENT), nullptr);
    EXPECT_THAT(component.calls, ElementsAre("parent x=", "parent =", "parent ="));
    EXPECT_EQ(component.callback(nullptr, QUON_MSG_RELEASE), nullptr);
}

TEST_F(ScriptHelper, NothingThrownReachesTheHost) {
    component.reply = "never";
    EXPECT_EQ(component.callback(const_cast<char*>("throw"), QUON_MSG_PARENT), nullptr);
}

TEST_F(ScriptHelper, AlarmButtonsReachTheComponentWhenHandlingIsOff) {
    const parentCommand event("alarm=2");
    buttonRecord ack{{}, "AckAll", &event};
    buttonRecord action{{}, "ActionAll", &event};
    component.callback(&ack, QUON_MSG_BUTTON);
    component.callback(&action, QUON_MSG_BUTTON);
    EXPECT_THAT(component.calls, ElementsAre("button AckAll alarm=2", "button ActionAll alarm=2"));
    EXPECT_THAT(host.commands(), IsEmpty());
}

TEST(ScriptHelperLifecycle, TeardownSendsASLastAndNothingWithoutHost) {
    recording_host host;
    {
        probe_component component(&host, "");
        component.routerUnregister(3);
    }
    EXPECT_THAT(host.commands(), ElementsAre("RU 3", "AS"));
    {
        probe_component orphan(nullptr, "x");
        orphan.routerUnregister(3);
    }
}

// A component whose construction fails after it has spoken to the host.
class failing_component : public probe_component {
public:
    failing_component(quon_client_callback* host, const char* path) : probe_component(host, path) {
        routerUnregister(3);
        throw std::runtime_error("cannot be built");
    }
};

// A component that fails before its quon_script_helper is built, as one
// for which no memory can be had does.
struct refusing_part {
    refusing_part() { throw std::bad_alloc(); }
};
class early_failing_component : private refusing_part, public probe_component {
public:
    using probe_component::probe_component;
};

TEST(ScriptHelperLifecycle, OnlyAComponentHandedToTheHostSendsAS) {
    recording_host host;
    EXPECT_EQ(quon_script_helper::createForHost<failing_component>(&host, ""), nullptr);
    EXPECT_THAT(host.commands(), ElementsAre("RU 3"));

    host.clear();
    quon_client_callback* component = quon_script_helper::createForHost<probe_component>(&host, "");
    ASSERT_NE(component, nullptr);
    delete component;
    EXPECT_THAT(host.commands(), ElementsAre("AS"));

    // A creation that fails before any base is built is not held against
    // the next component, which is not for the host.
    host.clear();
    EXPECT_EQ(quon_script_helper::createForHost<early_failing_component>(&host, ""), nullptr);
    { probe_component direct(&host, ""); }
    EXPECT_THAT(host.commands(), ElementsAre("AS"));
}

TEST(ScriptHelperLifecycle, KeepsItsOwnCopyOfThePath) {
    recording_host host;
    char* path = new char[8];
    std::strcpy(path, "panels");
    probe_component component(&host, path);
    delete[] path;
    component.panelShow("1", "umdMimic.quon_ui", "");
    EXPECT_THAT(host.commands(), ElementsAre("PS '1' 'panels/umdMimic.quon_ui'"));
}

// Each operation's text, byte for byte.
TEST_F(ScriptHelper, SendsExactCommandTexts) {
    probe_component bare(&host, "");
    component.panelShow("1", "umdMimic.quon_ui", "");
    bare.panelShow("1", "umdMimic.quon_ui", "");
    bare.panelShow("1", "umdMimic.quon_ui", "x");
    component.textPut("text", "abc", "1", "myMimic");
    component.textPut("text", "it's", "1", "myMimic");
    component.hostNotify("sourceid=12");
    component.routerRegister(12, 40, 40, false);
    component.routerRegister(12, 40, 40, true);
    component.routerUnregister(12);
    component.routerPoll(12, 40, 40);
    component.routerPoll(-1, 0, 7);
    component.timerStart(1, 10000);
    component.timerStart(5, 0);
    component.timerStop(5);
    component.routerRegister(INT32_MIN, INT32_MIN, INT32_MIN, true);
    EXPECT_THAT(host.commands(), ElementsAre("PS '1' 'panels/umdMimic.quon_ui'", "PS '1' 'umdMimic.quon_ui'",
                                             "PS '1' 'umdMimic.quon_ui' 'x'", "TP 'text=abc' '1' 'myMimic'",
                                             "TP 'text=it's' '1' 'myMimic'", "HN 'sourceid=12'", "RR 12 40 40",
                                             "RR 12 40 40 'ADD'", "RU 12", "RP 12 40 40", "RP -1 0 7", "ET 1 10000",
                                             "ET 5", "ET 5", "RR -2147483648 -2147483648 -2147483648 'ADD'"));
    EXPECT_EQ(host.commands().back().size(), 44u);
}

TEST_F(ScriptHelper, LongTextsAreSentWhole) {
    const std::string value(5000, 'v');
    component.textPut("text", value.c_str(), "1", "myMimic");
    EXPECT_EQ(host.commands().at(0), "TP 'text=" + value + "' '1' 'myMimic'");
}

TEST_F(ScriptHelper, CommandsWithoutReplyAreNotHandedBack) {
    for (const char* text :
         {"PS '1' 'panels/l'", "TP 'a=b' '1' 'c'", "HN 'n'", "RR 1 2 2", "RU 1", "RP 1 2 2", "ET 1 5"})
        host.answer(text, "ok");
    EXPECT_TRUE(component.panelShow("1", "l", ""));
    component.textPut("a", "b", "1", "c");
    component.hostNotify("n");
    component.routerRegister(1, 2, 2, false);
    component.routerUnregister(1);
    component.routerPoll(1, 2, 2);
    component.timerStart(1, 5);
    for (const host_event& e : host.events()) EXPECT_EQ(e.type, QUON_MSG_COMMAND) << e.text;
    host.clear();
    EXPECT_FALSE(component.panelShow("1", "missing", ""));
    EXPECT_THAT(host.commands(), ElementsAre("PS '1' 'panels/missing'"));
}

TEST_F(ScriptHelper, TextGetReadsTheMatchingPropertyAndHandsBackOnce) {
    quon_string value("old");
    host.answer("TG '1' 'alm_3' 'value'", "value=2");
    component.textGet("value", "1", "alm_3", value);
    EXPECT_STREQ(value, "2");
    EXPECT_THAT(host.transcript(), ElementsAre("0 TG '1' 'alm_3' 'value'", "5 value=2"));
    EXPECT_EQ(host.events()[0].pointer, host.events()[1].pointer);

    host.answer("TG '1' 'm' 'all'", "text=a=b statesheet=x");
    component.textGet("all", "1", "m", value);
    EXPECT_STREQ(value, "text=a=b statesheet=x");
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST_F(ScriptHelper, TextGetRefusesAnotherPropertyWithADiagnostic) {
    struct mismatch {
        const char* reply;
        const char* key;
    };
    for (const mismatch m : {mismatch{"state=2", "state"}, mismatch{"Value=2", "Value"}, mismatch{"value", "value"}}) {
        // "value" without "=" splits into key "value", so it matches.
        host.answer("TG '1' 'alm_3' 'value'", m.reply);
        quon_string value("old");
        ::testing::internal::CaptureStderr();
        component.textGet("value", "1", "alm_3", value);
        const std::string diagnostics = ::testing::internal::GetCapturedStderr();
        EXPECT_STREQ(value, "");
        if (std::string(m.reply) == "value") {
            EXPECT_EQ(diagnostics, "");
        } else {
            EXPECT_EQ(diagnostics, "textGet: value returned \"" + std::string(m.key) +
                                       "\" was not the value requested \"value\" (value returned was \"" + m.reply +
                                       "\" from control \"alm_3\", on panel \"1\")\n");
        }
    }
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST_F(ScriptHelper, GetDevDecodesDeviceAndIndex) {
    struct lookup {
        const char* reply;
        bool result;
        int device;
        int index;
    };
    const lookup cases[] = {
        {"12 40", true, 12, 40}, {"12", true, 12, 0},      {"'12' 40", true, 0, 12},
        {"x y", true, 0, 0},     {"  7   9 ", true, 0, 7}, {"99999999999 -99999999999", true, INT32_MAX, INT32_MIN},
        {nullptr, false, 0, 0},
    };
    for (const lookup& c : cases) {
        SCOPED_TRACE(c.reply ? c.reply : "(null)");
        if (c.reply)
            host.answer("SD 'router_a'", c.reply);
        else
            host.silence("SD 'router_a'");
        host.clear();
        int device = -5, index = -5;
        EXPECT_EQ(component.getDev("router_a", &device, &index), c.result);
        EXPECT_EQ(device, c.device);
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(host.events().size(), c.reply ? 2u : 1u);
    }
    host.answer("SD 'a'", "1 2");
    EXPECT_TRUE(component.getDev("a", nullptr, nullptr));
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST_F(ScriptHelper, GetIdListSplitsTheReplyAtCommas) {
    host.answer("XI '1' 'alm_'", "alm_1,alm_2");
    const quon_stringlist ids = component.getIdList("1", "alm_");
    EXPECT_STREQ(ids.toString('|'), "alm_1|alm_2");
    EXPECT_THAT(host.transcript(), ElementsAre("0 XI '1' 'alm_'", "5 alm_1,alm_2"));
    EXPECT_STREQ(component.getIdList("1", "none").toString('|'), "");
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST_F(ScriptHelper, RouterNameHandsBackEveryReplyEvenNull) {
    quon_string name("kept");
    component.routerName(12, 0, 5, name);
    EXPECT_STREQ(name, "kept");
    EXPECT_THAT(host.transcript(), ElementsAre("0 RN 12 0 5", "5 "));
    EXPECT_EQ(host.events()[1].pointer, nullptr);

    host.clear();
    host.answer("RN 12 0 5", "CAM 5");
    component.routerName(12, 0, 5, name);
    EXPECT_STREQ(name, "CAM 5");
    ASSERT_EQ(host.events().size(), 2u);
    EXPECT_EQ(host.events()[0].pointer, host.events()[1].pointer);
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST(ScriptHelperWithoutHost, SendsNothingAndYieldsEmptyResults) {
    probe_component component(nullptr, "panels");
    EXPECT_TRUE(component.panelShow("1", "l", ""));
    quon_string value("old"), name("kept");
    component.textGet("value", "1", "c", value);
    EXPECT_STREQ(value, "");
    int device = 3, index = 4;
    EXPECT_FALSE(component.getDev("a", &device, &index));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(index, 0);
    EXPECT_STREQ(component.getIdList("1", "alm_").toString(','), "");
    component.routerName(1, 0, 1, name);
    EXPECT_STREQ(name, "kept");
    component.textPut("a", "b", "1", "c");
    component.hostNotify("x");
    component.routerRegister(1, 1, 1, true);
    component.routerUnregister(1);
    component.routerPoll(1, 1, 1);
    component.timerStart(1, 1);
    component.timerStop(1);
}

TEST(ScriptHelperDebug, FillsNineMarkersAndWritesOneLine) {
    probe_component component(nullptr, "");
    ::testing::internal::CaptureStderr();
    component.debug("%1%2%3%4%5%6%7%8%9 %1", "a", "b", "c", "d", "e", "f", "g", "h", "i");
    component.debug("only %1", "x");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "abcdefghi a\nonly x\n");
}

TEST(ScriptHelperLocale, NumbersIgnoreTheProcessLocale) {
    recording_host host;
    probe_component component(&host, "");
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) std::setlocale(LC_ALL, name);
    component.routerRegister(1234567, -1234567, 10000, false);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_THAT(host.commands(), ElementsAre("RR 1234567 -1234567 10000"));
}

// The alarm filter, with a host that knows three alarm controls.
class AlarmActions : public ScriptHelper {
protected:
    void SetUp() override {
        component.setAlarmHandling(true);
        host.answer("XI '1' 'alm_'", "alm_1,alm_2,alm_3");
        host.answer("TG '1' 'alm_1' 'value'", "value=1");
        host.answer("TG '1' 'alm_2' 'value'", "value=3");
        host.answer("TG '1' 'alm_3' 'value'", "value=-2");
    }
    void press(const char* id, const char* eventText) {
        const parentCommand event(eventText);
        buttonRecord record{{}, id, &event};
        component.callback(&record, QUON_MSG_BUTTON);
    }
    std::vector<std::string> expectedAcknowledge(const char* action) {
        const std::string a = action;
        return {"XI '1' 'alm_'",
                "TP 'alarm=" + a + "' '1' 'alm_1'",
                "TG '1' 'alm_1' 'value'",
                "TP 'value=4' '1' 'alm_1'",
                "TP 'alarm=" + a + "' '1' 'alm_2'",
                "TG '1' 'alm_2' 'value'",
                "TP 'alarm=" + a + "' '1' 'alm_3'",
                "TG '1' 'alm_3' 'value'",
                "TP 'value=4' '1' 'alm_3'"};
    }
};

TEST_F(AlarmActions, AckAllAcknowledgesStatesOneNegativeAndAboveFive) {
    press("AckAll", "anything");
    EXPECT_EQ(host.commands(), expectedAcknowledge("4"));
    EXPECT_THAT(component.calls, IsEmpty());
    EXPECT_THAT(host.problems(), IsEmpty());
}

struct alarm_state_case {
    const char* reply;  // the "TG" reply for alm_2; nullptr: no reply
    bool acknowledged;
};

// What the acknowledgement does with the state alm_2 reports: a state that
// cannot be read is left alone, as state 0 is; a readable one is judged.
TEST_F(AlarmActions, AckAllLeavesAControlWhoseStateCannotBeReadAlone) {
    const alarm_state_case cases[] = {
        {nullptr, false},    {"state=1", false}, {"value", false},   {"value=", false},  {"value=abc", false},
        {"value=x1", false}, {"value=-", false}, {"value=+", false}, {"value= ", false}, {"value=0", false},
        {"value=1", true},   {"value=-1", true}, {"value= 1", true}, {"value=+1", true}, {"value=1 x", true},
        {"value=6", true},   {"value=2", false}, {"value=5", false},
    };
    for (const alarm_state_case& c : cases) {
        SCOPED_TRACE(c.reply ? c.reply : "(null)");
        if (c.reply)
            host.answer("TG '1' 'alm_2' 'value'", c.reply);
        else
            host.silence("TG '1' 'alm_2' 'value'");
        host.clear();
        ::testing::internal::CaptureStderr();  // the diagnostic of a foreign reply
        press("AckAll", "");
        ::testing::internal::GetCapturedStderr();
        std::vector<std::string> expected = expectedAcknowledge("4");
        if (c.acknowledged) expected.insert(expected.begin() + 6, "TP 'value=4' '1' 'alm_2'");
        EXPECT_EQ(host.commands(), expected);
    }
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST_F(AlarmActions, ActionAllWithAckOrFourAcknowledges) {
    press("ActionAll", "alarm=ack");
    EXPECT_EQ(host.commands(), expectedAcknowledge("ack"));
    host.clear();
    press("ActionAll", "alarm=4");
    EXPECT_EQ(host.commands(), expectedAcknowledge("4"));
}

TEST_F(AlarmActions, ActionAllWithOneDigitSetsEveryValue) {
    press("ActionAll", "alarm=2");
    EXPECT_THAT(host.commands(), ElementsAre("XI '1' 'alm_'", "TP 'alarm=2' '1' 'alm_1'", "TP 'value=2' '1' 'alm_1'",
                                             "TP 'alarm=2' '1' 'alm_2'", "TP 'value=2' '1' 'alm_2'",
                                             "TP 'alarm=2' '1' 'alm_3'", "TP 'value=2' '1' 'alm_3'"));
}

TEST_F(AlarmActions, OtherActionsOnlySetTheAlarmProperty) {
    for (const char* eventText : {"alarm=12", "alarm=", "alarm=x"}) {
        host.clear();
        press("ActionAll", eventText);
        const std::string action = std::string(eventText).substr(6);
        EXPECT_THAT(host.commands(),
                    ElementsAre("XI '1' 'alm_'", "TP 'alarm=" + action + "' '1' 'alm_1'",
                                "TP 'alarm=" + action + "' '1' 'alm_2'", "TP 'alarm=" + action + "' '1' 'alm_3'"));
    }
}

TEST_F(AlarmActions, OtherEventsReachTheComponent) {
    press("ActionAll", "blink=2");
    press("Other", "alarm=2");
    EXPECT_THAT(component.calls, ElementsAre("button ActionAll blink=2", "button Other alarm=2"));
    EXPECT_THAT(host.commands(), IsEmpty());
}

TEST_F(AlarmActions, EmptyIdListSendsOnlyTheQuery) {
    host.silence("XI '1' 'alm_'");
    press("AckAll", "");
    EXPECT_THAT(host.commands(), ElementsAre("XI '1' 'alm_'"));
    EXPECT_THAT(component.calls, IsEmpty());
}

}  // namespace
