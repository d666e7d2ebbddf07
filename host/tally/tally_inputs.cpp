#include "quon/tally/tally_inputs.h"

#include <algorithm>

namespace quon::tally {

tally_inputs::tally_inputs(boost::asio::io_context& io, tally_listener::on_changes changes,
                           tally_listener::on_state state, tally_listener::on_log log)
    : io_(io), changes_(std::move(changes)), state_(std::move(state)), log_(std::move(log)) {}

bool tally_inputs::kept(const std::string& name, const std::vector<tally_input_config>& configs) const {
    const auto found = running_.find(name);
    return found != running_.end() && std::any_of(configs.begin(), configs.end(), [&](const tally_input_config& c) {
               return c.name == name && found->second->keeps(c);
           });
}

bool tally_inputs::prepare(const std::vector<tally_input_config>& configs, std::vector<std::string>& errors) {
    prepared_.clear();
    bool bound = true;
    for (const tally_input_config& config : configs) {
        if (kept(config.name, configs)) continue;
        // The socket of an input it replaces is taken over by apply().
        const bool taken = std::any_of(running_.begin(), running_.end(), [&](const auto& r) {
            return !kept(r.first, configs) && r.second->listensAt(config);
        });
        if (taken) continue;
        auto listener = std::make_unique<tally_listener>(io_, config, changes_, state_, log_);
        std::string error;
        if (!listener->bind(error)) {
            errors.push_back("tally input \"" + config.name + "\": " + error);
            bound = false;
            continue;
        }
        prepared_[config.name] = std::move(listener);
    }
    if (!bound) prepared_.clear();
    return bound;
}

void tally_inputs::apply(const std::vector<tally_input_config>& configs) {
    std::vector<lit> out;  // lamps put out
    std::map<std::string, std::unique_ptr<tally_listener>> next;
    for (const tally_input_config& config : configs)
        if (kept(config.name, configs)) {
            next[config.name] = std::move(running_[config.name]);
            running_.erase(config.name);
        }
    std::map<std::string, std::unique_ptr<tally_listener>> old = std::move(running_);
    running_.clear();
    std::vector<tally_listener*> made;
    for (const tally_input_config& config : configs) {
        if (next.count(config.name)) continue;
        const auto bound = prepared_.find(config.name);
        std::unique_ptr<tally_listener>& listener = next[config.name];
        if (bound != prepared_.end() && bound->second->keeps(config))
            listener = std::move(bound->second);
        else
            listener = std::make_unique<tally_listener>(io_, config, changes_, state_, log_);
        for (auto& [name, previous] : old)
            if (listener->takeSocket(*previous)) break;
        made.push_back(listener.get());
    }
    prepared_.clear();
    // What is not kept closes first, so that a replacement that took none
    // of its sockets can bind where it listened; its input state lives on
    // until adopted.
    for (auto& [name, listener] : old) listener->stop();
    for (tally_listener* listener : made) {
        const std::string& name = listener->config().name;
        std::string error;
        const bool bound = listener->listening() || listener->bind(error);
        const auto previous = old.find(name);
        if (previous != old.end()) {
            // One that cannot listen lights nothing: it cannot tell what
            // the mixer says now.
            if (bound) {
                listener->adopt(*previous->second, out);
            } else {
                for (lit l : previous->second->lits()) {
                    l.on = 0;
                    out.push_back(l);
                }
            }
            old.erase(previous);
        }
        listener->start(error);
    }
    for (auto& [name, listener] : old) {
        for (lit l : listener->lits()) {
            l.on = 0;
            out.push_back(l);
        }
        log_("tally input \"" + name + "\" stopped");
    }
    running_ = std::move(next);
    order_.clear();
    for (const tally_input_config& config : configs) order_.push_back(config.name);
    if (!out.empty()) changes_(out);
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
