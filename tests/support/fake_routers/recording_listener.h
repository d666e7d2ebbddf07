// recording_listener: a router_listener that keeps every call, for
// tests to inspect. Runs on the io_context's thread like the link.
#ifndef QUON_TEST_RECORDING_LISTENER_H
#define QUON_TEST_RECORDING_LISTENER_H

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "quon/routers/router_connection.h"

namespace quon::fake {

struct recording_listener : routers::router_listener {
    struct label_call {
        int database;
        int index;
        std::string text;
        bool operator==(const label_call& other) const {
            return database == other.database && index == other.index && text == other.text;
        }
    };
    std::vector<std::pair<int, int>> ups;  // (sources, destinations)
    std::vector<std::pair<std::string, std::chrono::milliseconds>> downs;
    std::vector<std::pair<int, int>> crosspoints;  // (destination, source)
    std::vector<std::pair<int, int>> changes;      // those that changed the route held
    std::vector<label_call> labels;
    std::vector<std::string> problems;
    std::vector<std::string> missingTexts;  // what did not come, as missing() said it

    void routerUp(int sources, int destinations) override { ups.emplace_back(sources, destinations); }
    void routerDown(const std::string& why, std::chrono::milliseconds retryIn) override {
        downs.emplace_back(why, retryIn);
    }
    void crosspoint(int destination, int source, bool changed) override {
        crosspoints.emplace_back(destination, source);
        if (changed) changes.emplace_back(destination, source);
    }
    void label(int database, int index, const std::string& text) override { labels.push_back({database, index, text}); }
    void problem(const std::string& text) override { problems.push_back(text); }
    void missing(const std::string& text) override { missingTexts.push_back(text); }

    bool sawCrosspoint(int destination, int source) const {
        for (const auto& seen : crosspoints)
            if (seen == std::make_pair(destination, source)) return true;
        return false;
    }
    void clearEvents() {
        crosspoints.clear();
        changes.clear();
        labels.clear();
        problems.clear();
        missingTexts.clear();
    }
};

}  // namespace quon::fake

#endif
