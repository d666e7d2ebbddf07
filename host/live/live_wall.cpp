#include "quon/live/live_wall.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <map>
#include <set>

#include "quon/common/text.h"
#include "quon/live/display_lamps.h"

namespace quon {

namespace {

// A display that shows another module, or another control of it, is made
// anew: what its screen showed came from what it no longer shows.
bool remade(const wall_display& before, const wall_display& after) {
    return before.module != after.module || before.shows != after.shows;
}

}  // namespace

live_wall::live_wall(boost::asio::io_context& loop, host_engine& engine, display_model& displays,
                     std::string defaultModule, std::string layoutFolder, checker check,
                     std::function<void(const std::string&)> warn)
    : loop_(loop),
      engine_(engine),
      displays_(displays),
      defaultModule_(std::move(defaultModule)),
      layoutFolder_(std::move(layoutFolder)),
      check_(std::move(check)),
      warn_(std::move(warn)),
      inputs_(
          loop, [this](const std::vector<tally::lit>& lits) { engine_.tally().setLits(lits); },
          [this](const tally::tally_input_status& status) {
              if (watchInputs_) watchInputs_(status);
          },
          [this](const std::string& line) {
              if (inputLog_)
                  inputLog_(line);
              else
                  warn_(line);
          }),
      lineupTimer_(loop) {
    engine_.addListener(&routerWatch_);
    displays_.subscribe(&screenFeed_);
}

live_wall::~live_wall() {
    displays_.unsubscribe(&screenFeed_);
    engine_.removeListener(&routerWatch_);
}

void live_wall::router_watch::routerChanged(const router_change& change) {
    const bool up = routerUp(change.status.state);
    const auto known = wall.routerUp_.find(change.device);
    const bool wasUp = known != wall.routerUp_.end() && known->second;
    wall.routerUp_[change.device] = up;
    int& size = wall.routerSize_[change.device];
    const bool resized = size != change.status.size;
    size = change.status.size;
    bool lostChanged = false;
    if (up) {
        lostChanged = wall.lostSince_.erase(change.device) != 0;
    } else if (wasUp) {
        wall.lostSince_[change.device] = std::chrono::steady_clock::now();
        lostChanged = true;
    }
    if (lostChanged || resized) wall.tellLostOn(change.device);
}

void live_wall::router_watch::routerRemoved(int device) {
    wall.routerUp_.erase(device);
    wall.routerSize_.erase(device);
    if (wall.lostSince_.erase(device) != 0) wall.tellLostOn(device);
}

std::string live_wall::problemOf(const engine_components::watch_place& place) const {
    const std::string router = "router " + std::to_string(place.router);
    if (place.absent) return "watches " + router + ", which this system does not have";
    const auto size = routerSize_.find(place.router);
    if (size != routerSize_.end() && size->second > 0 && place.destination > size->second)
        return "watches destination " + std::to_string(place.destination) + "; " + router + " reports " +
               std::to_string(size->second);
    return "";
}

void live_wall::tellLost(const std::string& name) {
    const std::optional<engine_components::watch_place> place = engine_.components().watchPlace(name);
    std::optional<std::chrono::steady_clock::time_point> since;
    if (place && !place->absent)
        if (const auto lost = lostSince_.find(place->router); lost != lostSince_.end()) since = lost->second;
    const std::string now = place ? problemOf(*place) : std::string();
    if (!now.empty()) {
        auto known = problems_.find(name);
        if (known == problems_.end()) {
            known = problems_.emplace(name, problem{now, std::chrono::steady_clock::now()}).first;
            if (watchProblems_) watchProblems_(name, now);
        } else if (known->second.text != now) {
            known->second.text = now;
            if (watchProblems_) watchProblems_(name, now);
        }
        if (!since || known->second.since < *since) since = known->second.since;
    } else if (!problems_.empty() && problems_.erase(name) != 0 && watchProblems_) {
        watchProblems_(name, "");
    }
    if (output_) output_->routerLost(name, since);
}

void live_wall::tellLostOn(int device) {
    // Every display, not only those with screens: a problem shows on the
    // page too.
    for (const wall_display& d : wall_.displays)
        if (engine_.components().watchedRouter(d.name) == device) tellLost(d.name);
}

void live_wall::watchProblems(std::function<void(const std::string&, const std::string&)> watch) {
    watchProblems_ = std::move(watch);
}

void live_wall::watchTreatments(std::function<void(const std::string&, lost_treatment)> watch) {
    watchTreatments_ = std::move(watch);
    if (output_) output_->onTreatmentChange(watchTreatments_);
}

std::vector<std::pair<std::string, lost_treatment>> live_wall::treatments() const {
    return output_ ? output_->treatments() : std::vector<std::pair<std::string, lost_treatment>>{};
}

bool live_wall::read(const std::string& path, wall& out, std::vector<std::string>& errors,
                     const checker& check) const {
    // As `quon-host check`: what of a wrong file could be read is checked
    // against the system too, so every error is said at once.
    const std::string& file = path.empty() ? path_ : path;
    wall next, readable;
    const size_t before = errors.size();
    const bool read = readWallFile(file, next, errors, &readable);
    if (read || !readable.displays.empty()) {
        if (check)
            check(read ? next : readable, errors);
        else if (check_)
            check_(read ? next : readable, errors);
        sortErrorsByPlace(errors.begin() + static_cast<std::ptrdiff_t>(before), errors.end(), file);
    }
    if (!read || errors.size() != before) return false;
    out = std::move(next);
    return true;
}

namespace {

// Displays made in one turn of the loop: a few milliseconds' work, so that
// the routers' answers and the screens are not kept waiting long.
const size_t slice_size = 1000;
// Turns in a row a slice waits while routers' bytes wait unread.
const int max_waits = 16;

}  // namespace

bool live_wall::start(const std::string& path, std::vector<std::string>& errors, pace how) {
    if (!read(path, wall_, errors)) return false;
    inputs_.apply(wall_.tallyInputs);
    engine_.tally().setTies(wall_.ties);
    engine_.tally().setCascade(wall_.cascade);
    path_ = path;
    // Nothing goes to a screen before the kernel has said whose turn it is.
    if (wall_.pair) standby_ = true;
    startOutput(nullptr);
    next_ = 0;
    engine_.components().reserve(wall_.displays.size());
    displays_.reserve(wall_.displays.size());
    createSlice(how == pace::at_once ? wall_.displays.size() : slice_size);
    if (creating()) createLater();
    return true;
}

bool live_wall::prepare(const wall& next, std::vector<std::string>& errors) {
    return inputs_.prepare(next.tallyInputs, errors);
}

void live_wall::createSlice(size_t count) {
    const size_t end = std::min(wall_.displays.size(), next_ + count);
    engine_.components().openBatch();
    while (next_ < end) create(wall_.displays[next_++]);
    engine_.components().closeBatch();
}

void live_wall::createLater() {
    boost::asio::post(loop_, [self = std::weak_ptr<live_wall*>(self_)] {
        const std::shared_ptr<live_wall*> wall = self.lock();
        if (!wall || !(*wall)->creating()) return;
        // A router's bytes are read first: the displays made so far show
        // nothing until their routers' names and routes are read, and the
        // next can wait for that, a few turns at most (a router that keeps
        // sending does not hold the wall back).
        if ((*wall)->engine_.routers().unread() && (*wall)->waits_ < max_waits) {
            ++(*wall)->waits_;
            (*wall)->createLater();
            return;
        }
        (*wall)->waits_ = 0;
        (*wall)->createSlice(slice_size);
        if ((*wall)->creating()) (*wall)->createLater();
    });
}

live_wall::changes live_wall::apply(wall next) {
    createSlice(wall_.displays.size());
    changes result;
    std::map<std::string, wall_display> before;
    for (const wall_display& d : wall_.displays) before[d.name] = d;
    std::map<std::string, const wall_display*> after;
    for (const wall_display& d : next.displays) after[d.name] = &d;
    std::string error;
    std::set<std::string> removed;
    for (const auto& [name, d] : before) {
        const auto kept = after.find(name);
        if (kept == after.end() || remade(d, *kept->second)) engine_.components().destroy(name, error);
        if (kept == after.end()) removed.insert(name);
    }
    result.removed = static_cast<int>(removed.size());
    inputs_.apply(next.tallyInputs);
    engine_.tally().setTies(next.ties);
    engine_.tally().setCascade(next.cascade);
    wall_ = std::move(next);
    // A removed display's screen would keep its last text for ever.
    startOutput(&removed);
    next_ = wall_.displays.size();
    engine_.components().openBatch();
    for (const wall_display& d : wall_.displays) {
        const auto old = before.find(d.name);
        if (old == before.end()) ++result.added;
        if (old == before.end() || remade(old->second, d)) {
            if (old != before.end()) ++result.changed;
            create(d);
            continue;
        }
        if (!(old->second == d)) ++result.changed;
        // The same display: only what changed is sent.
        const std::vector<std::string> was = old->second.startCommands();
        for (const std::string& command : d.startCommands())
            if (std::find(was.begin(), was.end(), command) == was.end()) send(d.name, command);
        resend(d.name);
        tellLost(d.name);
    }
    engine_.components().closeBatch();
    return result;
}

void live_wall::stop() {
    next_ = wall_.displays.size();
    lineupTimer_.cancel();
    inputs_.stop();
    if (output_) output_->stop();
}

void live_wall::watchInputs(tally::tally_listener::on_state watch, tally::tally_listener::on_log log) {
    watchInputs_ = std::move(watch);
    inputLog_ = std::move(log);
}

std::vector<tally::tally_input_status> live_wall::inputs() const { return inputs_.statuses(); }

void live_wall::startOutput(const std::set<std::string>* removed) {
    // A stopped output may still be sending its blanks; it is kept until
    // it has closed (at most a second).
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [](const std::unique_ptr<umd_output>& o) { return o->finished(); }),
                   retired_.end());
    // The new output takes over the TCP screens it still sends to, with
    // their connections; the old one then blanks the removed displays of
    // the others and closes.
    // What the old output told is read before the new one takes its TCP
    // screens (and their displays) away from it.
    std::vector<std::pair<std::string, lost_treatment>> told;
    if (output_) told = output_->treatments();
    std::unique_ptr<umd_output> next = std::make_unique<umd_output>(loop_, wall_.umd, output_.get());
    if (output_) {
        if (removed)
            output_->retire(*removed);
        else
            output_->stop();
        retired_.push_back(std::move(output_));
    }
    output_ = std::move(next);
    // The new output tells only of what changes; a display it does not
    // send shows nothing of a router's loss any more.
    for (const std::string& gone : output_->carryTreatments(told))
        if (watchTreatments_) watchTreatments_(gone, lost_treatment::keep);
    output_->setStandby(standby_);
    if (watch_) output_->onReceiverChange(watch_);
    if (watchTreatments_) output_->onTreatmentChange(watchTreatments_);
}

void live_wall::setStandby(bool standby) {
    standby_ = standby;
    if (output_) output_->setStandby(standby);
    // A retired output still sending its blanks stops at once too.
    if (standby)
        for (const auto& retired : retired_) retired->setStandby(true);
}

void live_wall::show(const display_record& display) {
    const std::string* text = displayText(display);
    // A line-up shows every display it names, answered or not.
    if (output_ && text && (display.answered || display.lineup != lineup_mode::none))
        output_->show(display.name, *text, displayLamps(&wall_.umd, display));
}

bool live_wall::lineup(lineup_mode mode, std::chrono::milliseconds lasting, const std::vector<std::string>& names,
                       std::string& error) {
    std::vector<std::string> chosen = names;
    if (chosen.empty())
        for (const wall_display& d : wall_.displays) chosen.push_back(d.name);
    for (const std::string& name : chosen)
        if (!displays_.find(name)) {
            error = "no display \"" + name + "\"";
            return false;
        }
    endLineup();
    if (mode == lineup_mode::none) return true;
    linedUp_ = chosen;
    lineup_ = {mode, chosen.size(), std::chrono::system_clock::now() + lasting};
    for (const std::string& name : linedUp_) displays_.setLineup(name, mode);
    lineupTimer_.expires_after(lasting);
    lineupTimer_.async_wait([this](const boost::system::error_code& ec) {
        if (!ec) endLineup();
    });
    if (watchLineup_) watchLineup_(lineup_);
    return true;
}

void live_wall::endLineup() {
    if (lineup_.mode == lineup_mode::none) return;
    lineupTimer_.cancel();
    // A display a reload removed meanwhile is no longer met.
    for (const std::string& name : linedUp_) displays_.setLineup(name, lineup_mode::none);
    linedUp_.clear();
    lineup_ = {};
    if (watchLineup_) watchLineup_(lineup_);
}

std::string live_wall::lineupText(const lineup_status& status) {
    if (status.mode == lineup_mode::none) return "";
    return std::string(status.mode == lineup_mode::lamps ? "every lamp lit" : "each name shown") + " on " +
           std::to_string(status.displays) + (status.displays == 1 ? " display" : " displays") + " until " +
           utcText(status.until);
}

void live_wall::watchLineup(std::function<void(const lineup_status&)> watch) { watchLineup_ = std::move(watch); }

void live_wall::resend(const std::string& name) {
    if (const display_record* display = displays_.find(name)) show(*display);
}

void live_wall::watchReceivers(std::function<void(const umd_receiver_status&)> watch) {
    watch_ = std::move(watch);
    if (output_) output_->onReceiverChange(watch_);
}

std::vector<umd_receiver_status> live_wall::receivers() const {
    return output_ ? output_->receivers() : std::vector<umd_receiver_status>{};
}

void live_wall::create(const wall_display& d) {
    displays_.showFrom(d.name, d.shows);
    std::string error;
    const std::string module = d.module.empty() ? defaultModule_ : d.module;
    if (engine_.components().create(d.name, module, layoutFolder_, error) !=
        engine_components::create_status::created) {
        warn_("display " + d.name + ": " + error);
        return;
    }
    for (const std::string& command : d.startCommands()) send(d.name, command);
}

void live_wall::send(const std::string& name, const std::string& command) {
    std::optional<std::string> reply;
    std::string error;
    if (!engine_.components().parent(name, command.c_str(), reply, error)) warn_(error);
}

}  // namespace quon
