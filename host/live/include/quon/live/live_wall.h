// A wall file running on an engine: its displays created with their start
// commands, its TSL output fed as a listener, and a reload that applies
// only the difference. serve runs one; the shell may run one.
//
// Threading: on the host's thread. Ownership: the engine and the loop
// outlive the wall; the wall removes its listener when it goes.
#ifndef QUON_LIVE_LIVE_WALL_H
#define QUON_LIVE_LIVE_WALL_H

#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/live/umd_listener.h"
#include "quon/live/wall_file.h"
#include "quon/umd/umd_output.h"

namespace quon {

class live_wall {
public:
    // `warn` hears of what could not be done (a display whose module does
    // not load, a refused reload with its errors).
    live_wall(boost::asio::io_context& loop, host_engine& engine, std::string defaultModule, std::string layoutFolder,
              std::function<void(const std::string&)> warn);
    ~live_wall();
    live_wall(const live_wall&) = delete;
    live_wall& operator=(const live_wall&) = delete;

    // Reads `path` and creates its displays. False, with every error in
    // `errors`, when the file cannot be used; nothing is created then.
    bool start(const std::string& path, std::vector<std::string>& errors);
    // Reads the file again and applies the difference: new displays are
    // created, removed ones destroyed, changed ones get the parent commands
    // whose value changed. A file that cannot be used changes nothing.
    bool reload(std::vector<std::string>& errors);
    // At shutdown: the output stops (blanking only when asked to).
    void stop();

    const wall& current() const { return wall_; }

private:
    void startOutput();
    void create(const wall_display& display);
    void send(const std::string& name, const std::string& command);

    boost::asio::io_context& loop_;
    host_engine& engine_;
    std::string defaultModule_;
    std::string layoutFolder_;
    std::function<void(const std::string&)> warn_;
    std::string path_;
    wall wall_;
    std::unique_ptr<umd_output> output_;
    std::unique_ptr<umd_listener> listener_;
};

}  // namespace quon

#endif
