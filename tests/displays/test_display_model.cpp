// The display model fed the engine's events as the engine sends them: what
// each observer is told, and what it is not.
#include "quon/displays/display_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quon::display_aspect;
using quon::display_model;
using quon::display_record;

struct recorder : quon::display_observer {
    void displayChanged(const display_record& display, display_aspect what) override {
        told.push_back(display.name + " " + std::to_string(static_cast<int>(what)) + " " +
                       display.text.value_or("(none)") + " " + display.statesheet);
    }
    void displayGone(const std::string& name) override { told.push_back(name + " gone"); }
    std::vector<std::string> told;
};

void set(display_model& model, const std::string& component, const std::string& control, const std::string& property,
         const std::string& value) {
    const std::string panel = "1";
    model.propertyChanged({component, panel, control, property, value});
}

TEST(DisplayModel, ADisplayShowsItsOwnControlOnly) {
    display_model model;
    recorder seen;
    model.subscribe(&seen);
    model.showFrom("b", {"1", "myLabel"});
    set(model, "a", "myMimic", "text", "CAM 1");
    set(model, "a", "myLabel", "text", "not shown");
    set(model, "b", "myMimic", "text", "not shown");
    set(model, "b", "myLabel", "text", "CAM 2");
    set(model, "b", "myLabel", "statesheet", "alarm");
    set(model, "b", "myLabel", "colour", "red");  // not a property a display shows
    set(model, "b", "myLabel", "text", "CAM 2");  // again: said apart
    EXPECT_EQ(seen.told, (std::vector<std::string>{"a 0 CAM 1 ", "b 0 CAM 2 ", "b 0 CAM 2 alarm", "b 1 CAM 2 alarm"}));
    ASSERT_NE(model.find("b"), nullptr);
    EXPECT_EQ(model.find("b")->shows->control, "myLabel");
    model.componentDestroyed("b");
    EXPECT_EQ(seen.told.back(), "b gone");
    EXPECT_EQ(model.find("b"), nullptr);
    model.unsubscribe(&seen);
    set(model, "a", "myMimic", "text", "CAM 3");
    EXPECT_EQ(seen.told.size(), 5u);
    EXPECT_EQ(*model.find("a")->text, "CAM 3");
}

// What the engine tells comes with its value: the tally and why, the
// first route, what it watches (a range added keeps the first), the
// notification.
TEST(DisplayModel, EachEventCarriesItsValue) {
    display_model model;
    quon::tally_graph::reason why;
    why.now = quon::tally::state::program;
    why.input = "mixer1";
    why.index = 4;
    model.tallyChanged("a", {quon::tally::state::program, true}, &why);
    model.answered("a");
    model.watched("a", 2, 14, 14, false);
    model.watched("a", 3, 1, 4, true);
    model.parentNotified("a", "sourceid=5");
    const display_record& a = *model.find("a");
    EXPECT_EQ(a.tally, (quon::tally::status{quon::tally::state::program, true}));
    ASSERT_TRUE(a.why);
    EXPECT_EQ(a.why->input, "mixer1");
    EXPECT_TRUE(a.answered);
    EXPECT_EQ(a.router, 2);
    EXPECT_EQ(a.destination, 14);
    EXPECT_EQ(a.notified, "sourceid=5");
    EXPECT_FALSE(a.text);
    model.tallyChanged("a", {}, nullptr);
    EXPECT_FALSE(model.find("a")->why);
}

}  // namespace
