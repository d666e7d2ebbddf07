// The engine's panels on their own: a layout file read once and shared,
// read again when it changes; each display's values apart.
#include "quon/engine/panel_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using namespace quon;

class PanelState : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("quon-panel-state-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    static std::vector<std::pair<std::string, std::string>> all(const panel_state& panel, int control) {
        std::vector<std::pair<std::string, std::string>> out;
        panel.forEach(control,
                      [&out](const std::string& name, const std::string& value) { out.emplace_back(name, value); });
        return out;
    }

    std::filesystem::path folder_;
    layout_library library_;
    std::string error_;
};

TEST_F(PanelState, ALayoutIsReadOnceAndSharedByEveryPanel) {
    const std::string path = write("a.quon_ui", "control myMimic\n  text =\n  height = 40\n");
    const panel_template* first = library_.load(path, error_);
    ASSERT_NE(first, nullptr) << error_;
    EXPECT_EQ(library_.load(path, error_), first);
    EXPECT_EQ(&library_.intern("1"), &library_.intern(std::string("1")));
    EXPECT_NE(&library_.intern("1"), &library_.intern("2"));
}

TEST_F(PanelState, ALayoutFileThatChangedIsReadAgainAndOldPanelsKeepTheirs) {
    const std::string path = write("a.quon_ui", "control myMimic\n  text =\n");
    const panel_template* before = library_.load(path, error_);
    ASSERT_NE(before, nullptr) << error_;
    const panel_state old(library_.intern("1"), *before);
    write("a.quon_ui", "control myMimic\n  text =\ncontrol other\n");
    const panel_template* after = library_.load(path, error_);
    ASSERT_NE(after, nullptr) << error_;
    EXPECT_NE(after, before);
    EXPECT_EQ(after->controls.size(), 2u);
    EXPECT_EQ(old.layout().controls.size(), 1u);
}

TEST_F(PanelState, AMalformedOrMissingLayoutSaysWhy) {
    EXPECT_EQ(library_.load(write("bad.quon_ui", "nonsense\n"), error_), nullptr);
    EXPECT_EQ(error_, "line 1: expected \"control ID\" or \"property = value\"");
    EXPECT_EQ(library_.load((folder_ / "missing.quon_ui").string(), error_), nullptr);
    EXPECT_EQ(error_, "cannot be read");
}

TEST_F(PanelState, EachPanelKeepsItsOwnValuesAndAddedPropertiesComeLastInOrder) {
    const panel_template* layout =
        library_.load(write("a.quon_ui", "control a\n  text = x\n  width = 1\ncontrol b\n  text = y\n"), error_);
    ASSERT_NE(layout, nullptr) << error_;
    panel_state one(library_.intern("1"), *layout), two(library_.intern("1"), *layout);
    const int a = layout->find("a"), b = layout->find("b");
    ASSERT_EQ(a, 0);
    ASSERT_EQ(b, 1);
    EXPECT_EQ(layout->find("c"), -1);

    const auto [name, value] = one.set(a, "text", "CAM 1");
    EXPECT_EQ(*name, "text");
    EXPECT_EQ(*value, "CAM 1");
    one.set(a, "lamp", "red");
    one.set(b, "extra", "1");
    one.set(a, "colour", "blue");
    one.set(a, "lamp", "green");
    // A value set back to the layout's, and set again.
    one.set(b, "text", "z");
    EXPECT_EQ(*one.set(b, "text", "y").second, "y");
    one.set(a, "width", "2");
    one.set(a, "width", "1");
    one.set(a, "width", "3");

    EXPECT_THAT(all(one, a),
                ElementsAre(Pair("text", "CAM 1"), Pair("width", "3"), Pair("lamp", "green"), Pair("colour", "blue")));
    EXPECT_THAT(all(one, b), ElementsAre(Pair("text", "y"), Pair("extra", "1")));
    EXPECT_THAT(all(two, a), ElementsAre(Pair("text", "x"), Pair("width", "1")));
    EXPECT_EQ(*one.property(a, "lamp"), "green");
    EXPECT_EQ(two.property(a, "lamp"), nullptr);
    // The first value changed, set back while others stay changed.
    one.set(a, "text", "x");
    one.set(b, "text", "w");
    EXPECT_THAT(all(one, a),
                ElementsAre(Pair("text", "x"), Pair("width", "3"), Pair("lamp", "green"), Pair("colour", "blue")));
    EXPECT_THAT(all(one, b), ElementsAre(Pair("text", "w"), Pair("extra", "1")));
}

}  // namespace
