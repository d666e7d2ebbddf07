// tally_inputs: every tally input of a wall, each a tally_listener, kept in
// step with the wall file through reloads: an unchanged input is kept as it
// runs (sockets, senders, lamps), a changed one is replaced by one that
// takes over its lamps, one no longer listed is stopped and its lamps put
// out.
//
// Threading: the io_context's thread only; every callback runs there.
// Ownership: the owner (serve) holds it; it holds the listeners.
#ifndef QUON_TALLY_TALLY_INPUTS_H
#define QUON_TALLY_TALLY_INPUTS_H

#include <boost/asio/io_context.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quon/tally/tally_listener.h"

namespace quon::tally {

class tally_inputs {
public:
    // The callbacks of every input (tally_listener's); `changes` also
    // hears of lamps put out by apply().
    tally_inputs(boost::asio::io_context& io, tally_listener::on_changes changes, tally_listener::on_state state,
                 tally_listener::on_log log);

    // Before a reload changes anything: binds every input of `configs`
    // that apply() would make anew and that cannot take over the socket
    // of an input it replaces (one listening where it is to). False with
    // an error for each that cannot bind ("tally input \"mixer1\": cannot
    // bind 127.0.0.1:8910: Address already in use"), letting go of what
    // it bound; nothing running changes either way.
    bool prepare(const std::vector<tally_input_config>& configs, std::vector<std::string>& errors);
    // Makes the running inputs those of `configs` (unique names). One
    // made anew listens on what prepare() bound for it, or on the socket
    // of an input it replaces, or binds; one that cannot bind yet lights
    // nothing and keeps trying (tally_listener::start).
    void apply(const std::vector<tally_input_config>& configs);
    void stop() { apply({}); }

    // In the order of the last apply().
    std::vector<tally_input_status> statuses() const;
    // Every lit index of every input.
    std::vector<lit> lits() const;

private:
    // The running input of that name stays as it runs under `configs`.
    bool kept(const std::string& name, const std::vector<tally_input_config>& configs) const;

    boost::asio::io_context& io_;
    tally_listener::on_changes changes_;
    tally_listener::on_state state_;
    tally_listener::on_log log_;
    std::vector<std::string> order_;
    std::map<std::string, std::unique_ptr<tally_listener>> running_;
    std::map<std::string, std::unique_ptr<tally_listener>> prepared_;  // bound by prepare(), for apply()
};

}  // namespace quon::tally

#endif
