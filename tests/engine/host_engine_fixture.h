// The host engine driven through the probe module, which sends whatever
// command its parent asks for and logs every message it receives: two
// components, "p" and "q", on a system of two routers, "p" with a panel.
#ifndef QUON_TESTS_ENGINE_HOST_ENGINE_FIXTURE_H
#define QUON_TESTS_ENGINE_HOST_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/engine/system_files.h"
#include "quon/output/trace_format.h"
#include "quon/routers/built_in_routers.h"
#include "temp_system.h"

// Outside any unnamed namespace: every file of the program shares it, and
// GoogleTest wants one fixture type per test suite.
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
        engine = std::make_unique<quon::host_engine>(quon::readSystem(system.folder()), quon::builtInRouters());
        engine->addListener(&recorder);
        ASSERT_EQ(engine->components().create("p", PROBE_MODULE_PATH, "", error),
                  quon::engine_components::create_status::created)
            << error;
        ASSERT_EQ(engine->components().create("q", PROBE_MODULE_PATH, "", error),
                  quon::engine_components::create_status::created)
            << error;
        ASSERT_EQ(send("p", "send:PS '1' '" + system.folder() + "/panel.quon_ui'"), "1");
    }

    std::optional<std::string> parent(const std::string& name, const std::string& text) {
        std::optional<std::string> reply;
        EXPECT_TRUE(engine->components().parent(name, text.c_str(), reply, error)) << error;
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
    struct recording_listener : quon::host_listener {
        bool wantsTrace() const override { return true; }
        void traced(const quon::trace_event& e) override { trace.push_back(quon::formatTraceText(e)); }
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
    std::unique_ptr<quon::host_engine> engine;
};

#endif
