#include "quon/tally/tally_inputs.h"

#include <algorithm>

namespace quon::tally {

tally_inputs::tally_inputs(boost::asio::io_context& io, tally_listener::on_changes changes,
                           tally_listener::on_state state, tally_listener::on_log log)
    : io_(io), changes_(std::move(changes)), state_(std::move(state)), log_(std::move(log)) {}

bool tally_inputs::apply(const std::vector<tally_input_config>& configs, std::vector<std::string>& errors) {
    std::vector<lit> out;  // lamps put out
    std::map<std::string, std::unique_ptr<tally_listener>> next;
    std::map<std::string, std::unique_ptr<tally_listener>> previous;
    for (const tally_input_config& config : configs) {
        auto found = running_.find(config.name);
        if (found != running_.end() && found->second->keeps(config)) {
            next[config.name] = std::move(found->second);
            running_.erase(found);
        }
    }
    // What is not kept closes first, so that its replacement can bind
    // where it listened; its input state lives on until adopted.
    for (auto& [name, listener] : running_) {
        const bool listed = std::any_of(configs.begin(), configs.end(),
                                        [&name = name](const tally_input_config& c) { return c.name == name; });
        if (listed) {
            previous[name] = std::move(listener);
        } else {
            for (lit l : listener->lits()) {
                l.now = state::off;
                out.push_back(l);
            }
            log_("tally input \"" + name + "\" stopped");
        }
    }
    running_.clear();
    bool started = true;
    for (const tally_input_config& config : configs) {
        if (next.count(config.name)) continue;
        auto listener = std::make_unique<tally_listener>(io_, config, changes_, state_, log_);
        const auto old = previous.find(config.name);
        if (old != previous.end()) {
            listener->adopt(*old->second, out);
            old->second.reset();  // its sockets close before the new ones bind
        }
        std::string error;
        if (!listener->start(error)) {
            errors.push_back("tally input \"" + config.name + "\": " + error);
            started = false;
            for (lit l : listener->lits()) {
                l.now = state::off;
                out.push_back(l);
            }
            continue;
        }
        next[config.name] = std::move(listener);
    }
    running_ = std::move(next);
    order_.clear();
    for (const tally_input_config& config : configs)
        if (running_.count(config.name)) order_.push_back(config.name);
    if (!out.empty()) changes_(out);
    return started;
}

std::vector<tally_input_status> tally_inputs::statuses() const {
    std::vector<tally_input_status> all;
    for (const std::string& name : order_) all.push_back(running_.at(name)->status());
    return all;
}

std::vector<lit> tally_inputs::lits() const {
    std::vector<lit> all;
    for (const std::string& name : order_) {
        const std::vector<lit> some = running_.at(name)->lits();
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

}  // namespace quon::tally
