#include "wall_page.h"

#include "run_files.h"

#include <algorithm>
#include <cstdio>

#include "quon/common/duration.h"
#include "quon/common/text.h"
#include "quon/screens/umd_config.h"
#include "quon/web/http_address.h"

namespace quon {

bool wall_page::open(boost::asio::io_context& loop, const std::string& text, bool configuredLater) {
    web::web_settings settings;
    std::string error;
    if (!web::parseHttpAddress(text, settings.address, settings.port, error)) {
        std::fprintf(stderr, "quon-host: --http %s: %s\n", text.c_str(), error.c_str());
        return false;
    }
    // A name was resolved, once: say to what.
    if (text.find(settings.address) == std::string::npos &&
        text.find_first_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
        std::fprintf(stderr, "quon-host: --http %s: resolved once, to %s\n", escapedControls(text).c_str(),
                     settings.address.c_str());
    view_ = std::make_unique<web::web_view>(loop, settings);
    if (!view_->start(error)) {
        std::fprintf(stderr, "quon-host: --http %s: %s\n", text.c_str(), error.c_str());
        return false;
    }
    const bool v6 = settings.address.find(':') != std::string::npos;
    address_ = (v6 ? "[" + settings.address + "]" : settings.address) + ":" + std::to_string(view_->port());
    url_ = "http://" + address_ + "/";
    if (!web::isLoopbackAddress(settings.address))
        std::fprintf(stderr, "%squon-host: warning: the wall page at %s is visible on the network\n",
                     lineStamp().c_str(), url_.c_str());
    if (!configuredLater) {
        std::fprintf(stderr, "%squon-host: the wall is at %s\n", lineStamp().c_str(), url_.c_str());
        announced_ = true;
    }
    return true;
}

void wall_page::show(host_engine& engine, display_model& displays, const umd_config& tallies) {
    hide();
    if (!view_) return;
    engine_ = &engine;
    listener_ = std::make_unique<web_listener>(engine.routers(), displays, *view_, tallies);
    engine.addListener(listener_.get());
    listener_->showRouters();
    for (const std::string& name : engine.components().names()) listener_->componentCreated(name);
}

void wall_page::hide() {
    if (engine_ && listener_) engine_->removeListener(listener_.get());
    listener_.reset();
    engine_ = nullptr;
}

namespace {

std::vector<web::receiver_state> receiverStates(const std::vector<umd_receiver_status>& receivers) {
    std::vector<web::receiver_state> states;
    for (const umd_receiver_status& r : receivers) {
        web::receiver_state s;
        s.to = umdDestinationText(r.to);
        s.state = umdReceiverStateName(r.state);
        s.detail = r.detail;
        s.lastSent = utcText(r.lastSent);
        s.packets = r.packetsSent;
        s.errors = r.errors;
        s.down = r.down;
        states.push_back(std::move(s));
    }
    return states;
}

}  // namespace

void wall_page::receivers(const std::vector<umd_receiver_status>& receivers) {
    if (view_) view_->receivers(receiverStates(receivers));
}

void wall_page::tallyInputs(const std::vector<tally::tally_input_status>& inputs) {
    if (!view_) return;
    std::vector<web::tally_input_state> states;
    for (const tally::tally_input_status& input : inputs) {
        web::tally_input_state s;
        s.name = input.name;
        s.listen = input.listen;
        s.up = input.up;
        s.problem = input.problem;
        if (input.lastPacket != std::chrono::system_clock::time_point{}) s.lastPacket = utcMillisText(input.lastPacket);
        s.packets = input.packets;
        s.unmapped = input.unmapped;
        s.unreadable = input.unreadable;
        if (engine_) {
            const std::map<std::string, uint64_t>& changes = engine_->tally().changes();
            const auto found = changes.find(input.name);
            if (found != changes.end()) s.changes = found->second;
        }
        states.push_back(std::move(s));
    }
    view_->tallyInputs(std::move(states));
}

void wall_page::followReceivers(std::function<std::vector<umd_receiver_status>()> read) {
    if (view_) view_->followReceivers([read = std::move(read)] { return receiverStates(read()); }, receiver_push_interval);
}

void wall_page::marked(const std::string& display, lost_treatment now) {
    if (listener_) listener_->marked(display, now);
}

void wall_page::watchProblem(const std::string& display, const std::string& problem) {
    if (listener_) listener_->watchProblem(display, problem);
}

void wall_page::role(const std::string& role) {
    if (view_) view_->role(role);
}

std::map<std::string, std::uint64_t> wall_page::refusals() const {
    return view_ ? view_->refusals() : std::map<std::string, std::uint64_t>();
}

void wall_page::reportRefusals(std::function<void(const std::string&)> log) {
    if (view_) view_->reportRefusals(std::move(log));
}

void wall_page::configure(const wall_page_settings& page, std::shared_ptr<const web::page_identity> identity) {
    if (!view_) return;
    view_->answerTo(page.names);
    view_->limits(page.limits);
    view_->viewToken(page.viewToken);
    const std::string served = identity ? identity->summary() : std::string();
    view_->serveTls(std::move(identity), page.redirectPlain);
    if (announced_ && served == served_) return;
    announced_ = true;
    if (served.empty())
        std::fprintf(stderr, "%squon-host: the wall is at %s\n", lineStamp().c_str(), url_.c_str());
    else
        std::fprintf(stderr, "%squon-host: the wall is at https://%s/ (%s)\n", lineStamp().c_str(), address_.c_str(),
                     escapedControls(served).c_str());
    served_ = served;
}

namespace {

// "lamps 30s", "name 2m" or "off", then the displays' names (none: every
// display), each one word as the wall file has them.
web::control_answer lineupAnswer(live_wall& wall, const std::string& body) {
    std::vector<std::string> words;
    for (std::size_t start = 0; start < body.size();) {
        const std::size_t end = std::min(body.find(' ', start), body.size());
        if (end > start) words.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    const std::string mode = words.empty() ? std::string() : words[0];
    std::chrono::milliseconds duration{0};
    const lineup_mode how = mode == "lamps" ? lineup_mode::lamps : mode == "name" ? lineup_mode::name : lineup_mode::none;
    if (mode == "off") {
        if (words.size() > 1) return {400, "\"off\" ends the line-up of every display\n"};
    } else if (how == lineup_mode::none || words.size() < 2 || !parseDuration(words[1], duration) ||
               duration.count() == 0) {
        return {400, "\"lamps DURATION [DISPLAY...]\", \"name DURATION [DISPLAY...]\" or \"off\" (a duration such "
                     "as 30s or 2m)\n"};
    }
    std::string error;
    const std::vector<std::string> names(words.begin() + std::min<std::size_t>(words.size(), 2), words.end());
    if (!wall.lineup(how, duration, names, error)) return {404, error + "\n"};
    return {200, ""};
}

}  // namespace

void wall_page::lineup(const live_wall::lineup_status& status) {
    if (!view_) return;
    const std::string text = live_wall::lineupText(status);
    view_->lineup(text);
    view_->event(text.empty() ? "line-up over" : "line-up: " + text);
}

void wall_page::control(const std::string& token, host_engine& engine, live_wall& wall,
                        std::function<void(const std::string&)> log) {
    if (!view_) return;
    view_->control(
        token,
        [&engine, &wall](const web::control_request& request) {
            std::string error;
            if (request.action == "lineup") return lineupAnswer(wall, request.body);
            if (request.action == "parent") {
                std::optional<std::string> reply;
                if (!engine.components().parent(request.display, request.body.c_str(), reply, error))
                    return web::control_answer{409, error + "\n"};
                // No reply (null) is an empty body.
                return web::control_answer{200, reply.value_or("")};
            }
            // "ID[ EVENT]", as a scenario's button line.
            const auto blank = request.body.find(' ');
            const std::string id = request.body.substr(0, blank);
            const std::string event = blank == std::string::npos ? std::string() : request.body.substr(blank + 1);
            if (!engine.components().button(request.display, id, event, error))
                return web::control_answer{409, error + "\n"};
            return web::control_answer{200, ""};
        },
        std::move(log));
}

void wall_page::serveMetrics(std::function<std::string()> text) {
    if (view_) view_->serveMetrics(std::move(text));
}

void wall_page::event(const std::string& text) {
    if (view_) view_->event(text);
}

}  // namespace quon
