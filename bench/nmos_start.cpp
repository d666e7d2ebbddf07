// The start of an NMOS link to a registry of 10,000 senders and 10,000
// receivers (a fake one on loopback): from the link's start to the link up,
// every sender and receiver read page by page and every label and route
// reported; then to the subscription's WebSocket open and its sync grain
// of 10,000 receivers taken. Pages of 100 and of 1,000 (the registry's
// choice, whatever the link asks).
#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <string>
#include <optional>

#include "fake_routers.h"
#include "loop_until.h"
#include "quon/routers/nmos/nmos_client.h"
#include "recording_listener.h"

using namespace quon;

namespace {

constexpr int kResources = 10000;

void nmosStart(benchmark::State& state) {
    boost::asio::io_context loop;
    auto registry = fake::makeFakeNmos(loop, fake::numberedState(kResources, kResources), 0,
                                       static_cast<std::size_t>(state.range(0)));
    double upMs = 0, followingMs = 0;
    int round = 0;
    for (auto _ : state) {
        routers::router_settings settings;
        settings.port = registry->port();
        settings.sources = settings.destinations = kResources;
        settings.connectTimeout = std::chrono::seconds(30);
        fake::recording_listener listener;
        auto link = routers::connectOverTcp(loop, settings, listener,
                                            std::make_unique<routers::nmos::nmos_client>(settings, routers::nmos::nmos_options{}));
        const auto start = std::chrono::steady_clock::now();
        link->start();
        if (!bench::runUntil(loop, [&] { return !listener.ups.empty() || !listener.downs.empty(); }) ||
            listener.ups.empty())
            return state.SkipWithError("the link did not come up");
        upMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (listener.crosspoints.size() != kResources || listener.labels.size() != 2 * kResources)
            return state.SkipWithError("the start did not report every route and label");
        // The WebSocket followed: a route pushed now arrives through it (or
        // through its sync grain). Numbers are in label order: "Output 1"
        // is destination 1, "Input 7" is not source 7.
        const std::optional<int> before = link->source(1);
        registry->route(1, 7 + round++);
        if (!bench::runUntil(loop, [&] { return link->source(1) != before; }))
            return state.SkipWithError(("the WebSocket did not follow: " +
                                        (listener.downs.empty() ? std::string("up") : listener.downs.back().first) +
                                        (listener.problems.empty() ? "" : "; " + listener.problems.back()))
                                           .c_str());
        followingMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        link->stop();
    }
    state.counters["up_ms"] = upMs;
    state.counters["following_ms"] = followingMs;
}

BENCHMARK(nmosStart)->Arg(100)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
