// serve_metrics: what a running serve exposes at /metrics, in the
// Prometheus text format, through prometheus-cpp's registry and text
// serializer. Events (router changes, reloads) are counted as they happen;
// levels and the counts others keep (the engine's, the receivers') are
// read at each scrape. docs/web.md lists every metric.
//
// Threading: the host's thread only. Ownership: holds its registry; reads
// the engine and the receivers it is given for the call only.
#ifndef QUON_METRICS_SERVE_METRICS_H
#define QUON_METRICS_SERVE_METRICS_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/engine_components.h"
#include "quon/engine/engine_routers.h"
#include "quon/engine/engine_tally.h"
#include "quon/screens/umd_output.h"
#include "quon/tally/tally_listener.h"

namespace prometheus {
class Registry;
}

namespace quon {

class serve_metrics {
public:
    serve_metrics();
    ~serve_metrics();
    serve_metrics(const serve_metrics&) = delete;
    serve_metrics& operator=(const serve_metrics&) = delete;

    // Counts the link's reconnects; whether each router is up is read
    // from the engine at each scrape.
    void routerChanged(const router_change& change);
    void reloaded(bool refused);
    // A component broke the host contract.
    void violated();
    // The host's role in a pair (a host alone is active).
    void setActive(bool active);

    // The text of a scrape, with the levels as they stand now; `marked`:
    // the displays whose screens show their router's loss; `tallyInputs`:
    // every tally input's state and counts; `pageRefusals`: what the page's
    // limits and Host check refused since start, by reason.
    std::string scrape(const engine_components& components, const engine_routers& routers, const engine_tally& tally,
                       const std::vector<umd_receiver_status>& receivers,
                       const std::vector<std::pair<std::string, lost_treatment>>& marked,
                       const std::vector<tally::tally_input_status>& tallyInputs = {},
                       const std::map<std::string, std::uint64_t>& pageRefusals = {});

private:
    struct families;
    std::shared_ptr<prometheus::Registry> registry_;
    std::unique_ptr<families> families_;
    std::map<int, bool> everConnected_;  // device -> connected once
    std::map<int, bool> connected_;      // device -> connected at its last change
};

}  // namespace quon

#endif
