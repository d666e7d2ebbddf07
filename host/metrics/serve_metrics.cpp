#include "quon/metrics/serve_metrics.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <optional>
#include <set>
#include <vector>

#include "quon/screens/receiver_state.h"
#include "quon/screens/umd_config.h"

namespace quon {

namespace {

// A counter that follows a count kept elsewhere, which may start over (a
// reload makes the receivers anew): it only ever grows.
void follow(prometheus::Counter& counter, double& last, double now) {
    counter.Increment(now >= last ? now - last : now);
    last = now;
}

}  // namespace

struct serve_metrics::families {
    explicit families(prometheus::Registry& r)
        : routerUp(prometheus::BuildGauge()
                       .Name("quon_router_up")
                       .Help("1 while the router's link is up (connected, or a simulated router answering)")
                       .Register(r)),
          routerReconnects(prometheus::BuildCounter()
                               .Name("quon_router_reconnects_total")
                               .Help("Times the router's link came up again after its first connection")
                               .Register(r)),
          receiverState(prometheus::BuildGauge()
                            .Name("quon_receiver_state")
                            .Help("1 for the state the TSL receiver's link is in, 0 for the others")
                            .Register(r)),
          receiverUp(prometheus::BuildGauge()
                         .Name("quon_receiver_up")
                         .Help("0 from a failure of the TSL receiver's link until it is up again")
                         .Register(r)),
          receiverPackets(prometheus::BuildCounter()
                              .Name("quon_receiver_packets_total")
                              .Help("TSL packets handed to the receiver's socket")
                              .Register(r)),
          receiverErrors(prometheus::BuildCounter()
                             .Name("quon_receiver_errors_total")
                             .Help("Failed resolves, connects and sends of the receiver")
                             .Register(r)),
          tallyInputUp(prometheus::BuildGauge()
                           .Name("quon_tally_input_up")
                           .Help("1 while the tally input has had a packet within its timeout")
                           .Register(r)),
          tallyInputPackets(prometheus::BuildCounter()
                                .Name("quon_tally_input_packets_total")
                                .Help("Datagrams or packets the tally input read")
                                .Register(r)),
          tallyInputUnmapped(prometheus::BuildCounter()
                                 .Name("quon_tally_input_unmapped_total")
                                 .Help("Messages of the tally input that lit an index no mapping names")
                                 .Register(r)),
          tallyInputUnreadable(prometheus::BuildCounter()
                                   .Name("quon_tally_input_unreadable_total")
                                   .Help("Datagrams or packets the tally input could not read")
                                   .Register(r)),
          displayMarked(prometheus::BuildGauge()
                            .Name("quon_display_marked")
                            .Help("1 while the display's screen shows that its router is lost (on_router_lost "
                                  "mark, blank or text); no series otherwise")
                            .Register(r)),
          displaysMarked(prometheus::BuildGauge()
                             .Name("quon_displays_marked")
                             .Help("Displays whose screens show that their router is lost, by treatment")
                             .Register(r)),
          displays(prometheus::BuildGauge().Name("quon_displays").Help("Displays running").Register(r)),
          revertives(prometheus::BuildCounter()
                         .Name("quon_revertives_total")
                         .Help("Revertives (routes) delivered to displays")
                         .Register(r)
                         .Add({})),
          commands(prometheus::BuildCounter()
                       .Name("quon_commands_total")
                       .Help("Commands the displays sent to the host")
                       .Register(r)
                       .Add({})),
          parentCommands(prometheus::BuildCounter()
                             .Name("quon_parent_commands_total")
                             .Help("Parent commands sent to the displays")
                             .Register(r)
                             .Add({})),
          tallyChanges(prometheus::BuildCounter()
                           .Name("quon_tally_changes_total")
                           .Help("Changes of a mapped index's tally reported by the tally input")
                           .Register(r)),
          reloads(prometheus::BuildCounter()
                      .Name("quon_reloads_total")
                      .Help("Reloads (SIGHUP) by outcome")
                      .Register(r)),
          pageRefused(prometheus::BuildCounter()
                          .Name("quon_page_refused_total")
                          .Help("Connections and requests the page refused, by reason: connections (its limit), "
                                "client (one address's share), pages (open pages), client pages (one address's "
                                "share), rate (requests a second), slow (a header not in time), host (a Host it does "
                                "not answer to), token (no or a wrong token), tls (a failed handshake)")
                          .Register(r)),
          violations(prometheus::BuildCounter()
                         .Name("quon_contract_violations_total")
                         .Help("Breaches of the host contract by the displays' components")
                         .Register(r)
                         .Add({})),
          reloadsApplied(reloads.Add({{"outcome", "applied"}})),
          reloadsRefused(reloads.Add({{"outcome", "refused"}})),
          displayCount(displays.Add({})),
          active(prometheus::BuildGauge()
                     .Name("quon_active")
                     .Help("1 while this host drives the screens: alone, or the active host of a pair; 0 on standby")
                     .Register(r)
                     .Add({})) {
        active.Set(1);
    }

    prometheus::Family<prometheus::Gauge>& routerUp;
    prometheus::Family<prometheus::Counter>& routerReconnects;
    prometheus::Family<prometheus::Gauge>& receiverState;
    prometheus::Family<prometheus::Gauge>& receiverUp;
    prometheus::Family<prometheus::Counter>& receiverPackets;
    prometheus::Family<prometheus::Counter>& receiverErrors;
    prometheus::Family<prometheus::Gauge>& tallyInputUp;
    prometheus::Family<prometheus::Counter>& tallyInputPackets;
    prometheus::Family<prometheus::Counter>& tallyInputUnmapped;
    prometheus::Family<prometheus::Counter>& tallyInputUnreadable;
    prometheus::Family<prometheus::Gauge>& displayMarked;
    prometheus::Family<prometheus::Gauge>& displaysMarked;
    prometheus::Family<prometheus::Gauge>& displays;
    prometheus::Counter& revertives;
    prometheus::Counter& commands;
    prometheus::Counter& parentCommands;
    prometheus::Family<prometheus::Counter>& tallyChanges;
    prometheus::Family<prometheus::Counter>& reloads;
    prometheus::Family<prometheus::Counter>& pageRefused;
    prometheus::Counter& violations;
    prometheus::Counter& reloadsApplied;
    prometheus::Counter& reloadsRefused;
    prometheus::Gauge& displayCount;
    prometheus::Gauge& active;

    // What the followed counters were last told, by receiver and kind.
    std::map<std::string, double> lastPackets, lastErrors, lastTally;
    // The same of the tally inputs, by input.
    std::map<std::string, double> lastTallyPackets, lastUnmapped, lastUnreadable;
    std::map<std::string, double> lastRefused;  // by reason
    std::map<std::string, prometheus::Gauge*> marked;  // by display: its series of quon_display_marked
    std::vector<prometheus::Gauge*> routers;           // the series of quon_router_up
    std::set<std::string> tallyInputs;                 // the inputs of the last scrape
    double lastRevertives = 0, lastCommands = 0, lastParentCommands = 0;
};

serve_metrics::serve_metrics()
    : registry_(std::make_shared<prometheus::Registry>()), families_(std::make_unique<families>(*registry_)) {}

serve_metrics::~serve_metrics() = default;

void serve_metrics::routerChanged(const router_change& change) {
    prometheus::Counter& reconnects = families_->routerReconnects.Add({{"device", std::to_string(change.device)}});
    // A change that keeps the link connected (a part of its state that did
    // not come) is no reconnect.
    const bool connected = change.status.state == router_state::connected;
    if (connected && !connected_[change.device]) {
        bool& ever = everConnected_[change.device];
        if (ever) reconnects.Increment();
        ever = true;
    }
    connected_[change.device] = connected;
}

void serve_metrics::setActive(bool active) { families_->active.Set(active ? 1 : 0); }

void serve_metrics::violated() { families_->violations.Increment(); }

void serve_metrics::reloaded(bool refused) { (refused ? families_->reloadsRefused : families_->reloadsApplied).Increment(); }

std::string serve_metrics::scrape(const engine_components& components, const engine_routers& routers,
                                  const engine_tally& tally, const std::vector<umd_receiver_status>& receivers,
                                  const std::vector<std::pair<std::string, lost_treatment>>& marked,
                                  const std::vector<tally::tally_input_status>& tallyInputs,
                                  const std::map<std::string, std::uint64_t>& pageRefusals) {
    families& f = *families_;
    for (const auto& [reason, count] : pageRefusals)
        follow(f.pageRefused.Add({{"reason", reason}}), f.lastRefused[reason], static_cast<double>(count));
    for (const auto& [display, gauge] : f.marked) f.displayMarked.Remove(gauge);
    f.marked.clear();
    std::map<std::string, double> counts{{"mark", 0}, {"blank", 0}, {"text", 0}};
    for (const auto& [display, treatment] : marked) {
        const char* name = lostTreatmentName(treatment);
        prometheus::Gauge& gauge = f.displayMarked.Add({{"display", display}, {"treatment", name}});
        gauge.Set(1);
        f.marked[display] = &gauge;
        ++counts[name];
    }
    for (const auto& [treatment, count] : counts) f.displaysMarked.Add({{"treatment", treatment}}).Set(count);
    f.displayCount.Set(static_cast<double>(components.count()));
    // Every router the engine has, as it is now: one that never changed
    // since it was made (a simulated router answering from the start) has
    // told no change, and one a reload renamed or removed keeps no series.
    for (prometheus::Gauge* gauge : f.routers) f.routerUp.Remove(gauge);
    f.routers.clear();
    for (int router : routers.numbers()) {
        const router_description* description = routers.description(router);
        const std::optional<router_status> status = routers.status(router);
        prometheus::Gauge& gauge = f.routerUp.Add({{"device", std::to_string(router)},
                                                   {"name", description ? description->name : std::string()},
                                                   {"protocol", description ? description->protocol : std::string()}});
        gauge.Set(status && routerUp(status->state) ? 1 : 0);
        f.routers.push_back(&gauge);
    }
    const engine_components::totals& totals = components.counts();
    follow(f.revertives, f.lastRevertives, static_cast<double>(totals.revertives));
    follow(f.commands, f.lastCommands, static_cast<double>(totals.commands));
    follow(f.parentCommands, f.lastParentCommands, static_cast<double>(totals.parentCommands));
    for (const auto& [input, count] : tally.changes())
        follow(f.tallyChanges.Add({{"input", input}}), f.lastTally[input], static_cast<double>(count));
    for (const umd_receiver_status& r : receivers) {
        const std::string to = umdDestinationText(r.to);
        // Every state a link can be in, one series each: 1 for the one it is in.
        for (const umd_receiver_state_name& state : umd_receiver_states)
            f.receiverState.Add({{"to", to}, {"state", state.name}}).Set(r.state == state.state ? 1 : 0);
        f.receiverUp.Add({{"to", to}}).Set(r.down ? 0 : 1);
        follow(f.receiverPackets.Add({{"to", to}}), f.lastPackets[to], static_cast<double>(r.packetsSent));
        follow(f.receiverErrors.Add({{"to", to}}), f.lastErrors[to], static_cast<double>(r.errors));
    }
    // An input gone at a reload is no longer up, nor counting.
    std::set<std::string> listed;
    for (const tally::tally_input_status& t : tallyInputs) listed.insert(t.name);
    for (const std::string& gone : f.tallyInputs) {
        if (listed.count(gone)) continue;
        const prometheus::Labels labels{{"input", gone}};
        f.tallyInputUp.Remove(&f.tallyInputUp.Add(labels));
        f.tallyInputPackets.Remove(&f.tallyInputPackets.Add(labels));
        f.tallyInputUnmapped.Remove(&f.tallyInputUnmapped.Add(labels));
        f.tallyInputUnreadable.Remove(&f.tallyInputUnreadable.Add(labels));
        f.lastTallyPackets.erase(gone);
        f.lastUnmapped.erase(gone);
        f.lastUnreadable.erase(gone);
    }
    f.tallyInputs = std::move(listed);
    for (const tally::tally_input_status& t : tallyInputs) {
        f.tallyInputUp.Add({{"input", t.name}}).Set(t.up ? 1 : 0);
        follow(f.tallyInputPackets.Add({{"input", t.name}}), f.lastTallyPackets[t.name], static_cast<double>(t.packets));
        follow(f.tallyInputUnmapped.Add({{"input", t.name}}), f.lastUnmapped[t.name], static_cast<double>(t.unmapped));
        follow(f.tallyInputUnreadable.Add({{"input", t.name}}), f.lastUnreadable[t.name],
               static_cast<double>(t.unreadable));
    }
    return prometheus::TextSerializer().Serialize(registry_->Collect());
}

}  // namespace quon
