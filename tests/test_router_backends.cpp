// A router backend added the way docs/architecture.md says: one
// implementation of router_backend and one line in a registry. The
// scripted router answers polls only when the test says so, as a router on
// the network does, and its link comes and goes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/routers/built_in_routers.h"
#include "temp_system.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using namespace quon;

class scripted_router : public router_backend {
public:
    scripted_router(const router_description& d, router_events& events) : device_(d.device), events_(events) {}

    router_status status() const override { return status_; }
    int destinations() const override { return 8; }
    void poll(int first, int last, uint64_t requester) override {
        if (status_.state == router_state::connected) polls_.push_back({first, last, requester});
    }
    const std::string* name(int, int index) const override { return index == 3 ? &name_ : nullptr; }
    int crosspoint(int) const override { return 3; }
    bool route(int destination, int source, std::string&) override {
        requested_.push_back(std::to_string(destination) + "<-" + std::to_string(source));
        return true;
    }
    bool rename(int, int, const std::string&, std::string& error) override {
        error = "the scripted router keeps its names";
        return false;
    }
    bool setAnswers(bool, std::string& error) override {
        error = "a scripted router answers when the script says";
        return false;
    }

    // What the script makes the router do.
    void answerPolls() {
        for (const auto& p : polls_)
            for (int d = p.first; d <= p.last; ++d) events_.revertive(device_, d, 3, p.requester);
        polls_.clear();
    }
    void operatorRoute(int destination, int source) { events_.revertive(device_, destination, source, 0); }
    void link(router_state state, const std::string& detail) {
        status_.state = state;
        status_.detail = detail;
        events_.statusChanged(device_);
    }

    std::vector<std::string> requested_;

private:
    struct poll_request {
        int first, last;
        uint64_t requester;
    };
    int device_;
    router_events& events_;
    router_status status_{router_state::connected, 8, "", {}};
    std::vector<poll_request> polls_;
    std::string name_ = "CAM 3";
};

struct router_log : host_listener {
    void routerChanged(const router_change& c) override {
        changes.push_back(std::to_string(c.device) + " " + c.protocol + " " + routerStateName(c.status.state) + " " +
                          c.status.detail);
    }
    std::vector<std::string> changes;
};

class RouterBackends : public ::testing::Test {
protected:
    void SetUp() override {
        system.writeDevice(5, "[Router]\nProtocol=scripted\n[Database]\nDatabaseSize_1=8\n");
        system.writeDevice(6, "[Router]\nProtocol=carrier-pigeon\n[Database]\nDatabaseSize_1=8\n");
        system.writeFile("instances.ini", "[Instances]\n");
        router_registry routers = builtInRouters();
        routers.add("scripted", [this](const router_description& d, router_events& events, std::string&) {
            auto r = std::make_unique<scripted_router>(d, events);
            router = r.get();
            return r;
        }, {});
        engine = std::make_unique<host_engine>(readSystem(system.folder()), routers);
        engine->addListener(&log);
        ASSERT_EQ(engine->components().create("p", PROBE_MODULE_PATH, "", error),
                  engine_components::create_status::created)
            << error;
    }
    void TearDown() override { engine->components().destroyAll(); }

    std::string send(const std::string& command) {
        std::optional<std::string> reply;
        EXPECT_TRUE(engine->components().parent("p", ("send:" + command).c_str(), reply, error)) << error;
        return reply.value_or("(none)");
    }
    std::vector<std::string> received() {
        std::optional<std::string> text;
        engine->components().parent("p", "log", text, error);
        std::vector<std::string> lines;
        for (size_t start = 0; text && start < text->size();) {
            const size_t end = text->find('\n', start);
            lines.push_back(text->substr(start, end - start));
            start = end == std::string::npos ? text->size() : end + 1;
        }
        return lines;
    }

    temp_system system;
    router_log log;
    scripted_router* router = nullptr;  // owned by the engine
    std::unique_ptr<host_engine> engine;
    std::string error;
};

TEST_F(RouterBackends, AProtocolIsChosenByTheDeviceFile) {
    ASSERT_NE(router, nullptr);
    EXPECT_THAT(engine->routers().numbers(), ElementsAre(5));
    EXPECT_THAT(engine->routers().warnings(),
                ElementsAre(HasSubstr("Protocol=carrier-pigeon is not one this host speaks")));
}

TEST_F(RouterBackends, AnswersToAPollReachThePollerWhenTheRouterAnswers) {
    send("RR 5 1 2");
    send("RP 5 1 2");
    EXPECT_THAT(received(), IsEmpty());
    router->answerPolls();
    EXPECT_THAT(received(), ElementsAre("revertive 5 1 3", "revertive 5 2 3"));
    EXPECT_EQ(send("RN 5 0 3"), "CAM 3");
}

TEST_F(RouterBackends, PushedRoutesReachRegisteredComponents) {
    send("RR 5 2 2");
    router->operatorRoute(2, 7);
    router->operatorRoute(1, 7);
    EXPECT_THAT(received(), ElementsAre("revertive 5 2 7"));
}

TEST_F(RouterBackends, OperatorActionsGoToTheRouter) {
    ASSERT_TRUE(engine->routers().route(5, 4, 2, error)) << error;
    EXPECT_THAT(router->requested_, ElementsAre("4<-2"));
    EXPECT_FALSE(engine->routers().rename(5, 0, 1, "X", error));
    EXPECT_EQ(error, "the scripted router keeps its names");
}

TEST_F(RouterBackends, ListenersHearOfTheLink) {
    router->link(router_state::lost, "connection reset");
    send("RP 5 1 1");  // nothing while the link is down
    router->answerPolls();
    router->link(router_state::connected, "");
    EXPECT_THAT(received(), IsEmpty());
    EXPECT_THAT(log.changes, ElementsAre("5 scripted lost connection reset", "5 scripted connected "));
}

}  // namespace
