#include "quon/screens/umd_output.h"

#include <algorithm>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "receiver.h"

namespace quon {

namespace asio = boost::asio;
using boost::system::error_code;

using screens::receiver;
using screens::drain_limit;

struct umd_output::impl : std::enable_shared_from_this<impl> {
    impl(asio::io_context& context, const umd_config& settings)
        : io(context), config(settings), refreshTimer(context), drainTimer(context), lostTimer(context) {}

    void start(impl* previous) {
        std::map<umd_destination, std::shared_ptr<receiver>> byDestination;
        std::set<receiver*> kept;
        for (const umd_display& display : config.displays) {
            auto& owner = byDestination[display.to];
            if (!owner) {
                if (previous && (owner = previous->handOver(display.to, config))) {
                    kept.insert(owner.get());
                } else if (display.to.transport == umd_transport::tcp) {
                    owner = screens::makeTcpReceiver(io, display.to, config);
                } else {
                    owner = screens::makeUdpReceiver(io, display.to, config);
                }
                receivers.push_back(owner);
            }
            displays[display.name] = {owner.get(), owner->placeDisplay(display.screen, display.index, config.lostFor(display.name))};
        }
        for (receiver* r : kept) {
            std::set<size_t> used;
            for (const auto& [name, place] : displays)
                if (place.first == r) used.insert(place.second);
            r->blankUnused(used);
        }
        scheduleRefresh();
    }

    // At a reload: the open TCP receiver of `to`, taken out of this output
    // with its connection, when its codec builds packets as `next` would
    // (TSL 5: the same `batch`; TSL 3.1: the same `tally31`); else null.
    std::shared_ptr<receiver> handOver(const umd_destination& to, const umd_config& next) {
        if (stopped) return nullptr;
        const auto found = std::find_if(receivers.begin(), receivers.end(), [&](const std::shared_ptr<receiver>& r) {
            return r->to() == to && r->connects() && r->open() && r->codec().buildsAlike(*to.protocol->makeCodec(next));
        });
        if (found == receivers.end()) return nullptr;
        std::shared_ptr<receiver> taken = *found;
        receivers.erase(found);
        for (auto d = displays.begin(); d != displays.end();)
            d = d->second.first == taken.get() ? displays.erase(d) : std::next(d);
        return taken;
    }

    void scheduleRefresh() {
        if (config.refresh.count() == 0 || stopped) return;
        refreshTimer.expires_after(config.refresh);
        refreshTimer.async_wait([self = shared_from_this()](const error_code& error) {
            if (error || self->stopped) return;
            for (const auto& receiver : self->receivers) receiver->refresh();
            self->scheduleRefresh();
        });
    }

    // The displays whose blank or text is due change at the earliest due time.
    void scheduleLost() {
        if (stopped) return;
        std::optional<display_queue::clock::time_point> next;
        for (const auto& receiver : receivers)
            if (const auto due = receiver->nextChange(); due && (!next || *due < *next)) next = due;
        if (!next) {
            lostTimer.cancel();
            return;
        }
        lostTimer.expires_at(*next);
        lostTimer.async_wait([weak = weak_from_this()](const error_code& error) {
            const auto self = weak.lock();
            if (error || !self || self->stopped) return;
            const auto now = display_queue::clock::now();
            for (const auto& receiver : self->receivers) receiver->advance(now);
            self->reportTreatments();
            self->scheduleLost();
        });
    }

    // Tells of each display whose screen now shows something else of its
    // router's loss.
    void reportTreatments() {
        for (const umd_display& display : config.displays) {
            const auto& [owner, number] = displays[display.name];
            const lost_treatment now = owner->treatment(number);
            lost_treatment& told = reported[display.name];
            if (now == told) continue;
            told = now;
            if (treatmentChanged) treatmentChanged(display.name, now);
        }
    }

    // `blank`: whether to send this receiver's display (by number) blank.
    void stop(const std::function<bool(const receiver&, size_t display)>& blank) {
        if (stopped) return;
        stopped = true;
        refreshTimer.cancel();
        lostTimer.cancel();
        open = receivers.size();
        if (open != 0) {
            drainTimer.expires_after(drain_limit);
            drainTimer.async_wait([self = shared_from_this()](const error_code& error) {
                if (error) return;
                for (const auto& receiver : self->receivers) receiver->close();
            });
        }
        for (const auto& receiver : receivers) {
            const auto picks = [&blank, &r = *receiver](size_t display) { return blank(r, display); };
            receiver->finish(picks, [weak = weak_from_this()] {
                if (auto self = weak.lock(); self && --self->open == 0) self->drainTimer.cancel();
            });
        }
    }

    asio::io_context& io;
    const umd_config config;
    std::vector<std::shared_ptr<receiver>> receivers;
    // Display name to its receiver (owned by `receivers`) and its number there.
    std::unordered_map<std::string, std::pair<receiver*, size_t>> displays;
    asio::steady_timer refreshTimer;
    asio::steady_timer drainTimer;
    asio::steady_timer lostTimer;
    std::unordered_map<std::string, lost_treatment> reported;  // as last told, by display
    std::function<void(const std::string&, lost_treatment)> treatmentChanged;
    bool stopped = false;
    bool standby = false;
    size_t open = 0;  // receivers not yet closed after stop()
};

umd_output::umd_output(asio::io_context& io, const umd_config& config, umd_output* previous)
    : impl_(std::make_shared<impl>(io, config)) {
    impl_->start(previous ? previous->impl_.get() : nullptr);
}

umd_output::~umd_output() {
    impl_->stopped = true;
    impl_->refreshTimer.cancel();
    impl_->drainTimer.cancel();
    impl_->lostTimer.cancel();
    for (const auto& receiver : impl_->receivers) receiver->close();
}

void umd_output::show(const std::string& display, const std::string& text, const std::string& statesheet) {
    show(display, text, impl_->config.lampsFor(statesheet));
}

void umd_output::show(const std::string& display, const std::string& text, const tally_lamps& lamps) {
    if (impl_->stopped) return;
    const auto found = impl_->displays.find(display);
    if (found == impl_->displays.end()) return;
    found->second.first->show(found->second.second, text, lamps);
}

void umd_output::routerLost(const std::string& display, std::optional<std::chrono::steady_clock::time_point> since) {
    if (impl_->stopped) return;
    const auto found = impl_->displays.find(display);
    if (found == impl_->displays.end()) return;
    found->second.first->setRouterLost(found->second.second, since, std::chrono::steady_clock::now());
    impl_->reportTreatments();
    impl_->scheduleLost();
}

std::vector<std::pair<std::string, lost_treatment>> umd_output::treatments() const {
    std::vector<std::pair<std::string, lost_treatment>> all;
    for (const umd_display& display : impl_->config.displays) {
        // A display whose TCP screen a newer output took over is no longer here.
        const auto found = impl_->displays.find(display.name);
        if (found == impl_->displays.end()) continue;
        const auto& [owner, number] = found->second;
        if (owner->treatment(number) != lost_treatment::keep) all.emplace_back(display.name, owner->treatment(number));
    }
    return all;
}

void umd_output::onTreatmentChange(std::function<void(const std::string&, lost_treatment)> changed) {
    impl_->treatmentChanged = std::move(changed);
}

std::vector<std::string> umd_output::carryTreatments(const std::vector<std::pair<std::string, lost_treatment>>& told) {
    std::vector<std::string> gone;
    for (const auto& [display, treatment] : told) {
        if (impl_->displays.count(display))
            impl_->reported[display] = treatment;
        else
            gone.push_back(display);
    }
    return gone;
}

void umd_output::setStandby(bool standby) {
    if (impl_->standby == standby) return;
    impl_->standby = standby;
    for (const auto& receiver : impl_->receivers) receiver->setStandby(standby);
}

bool umd_output::standby() const { return impl_->standby; }

void umd_output::onReceiverChange(std::function<void(const umd_receiver_status&)> changed) {
    for (const auto& receiver : impl_->receivers) receiver->onChange(changed);
}

void umd_output::stop() {
    const bool blank = impl_->config.blank_on_exit;
    impl_->stop([blank](const receiver&, size_t) { return blank; });
}

void umd_output::retire(const std::set<std::string>& removed) {
    std::set<std::pair<const receiver*, size_t>> picked;
    for (const std::string& name : removed) {
        const auto found = impl_->displays.find(name);
        if (found != impl_->displays.end()) picked.emplace(found->second.first, found->second.second);
    }
    impl_->stop([&picked](const receiver& r, size_t display) { return picked.count({&r, display}) && r.shown(display); });
}

bool umd_output::finished() const { return impl_->stopped && impl_->open == 0; }

uint64_t umd_output::packetsSent() const {
    uint64_t total = 0;
    for (const auto& receiver : impl_->receivers) total += receiver->status().packetsSent;
    return total;
}

size_t umd_output::receiversConnected() const {
    size_t total = 0;
    for (const auto& receiver : impl_->receivers) total += receiver->status().connected ? 1 : 0;
    return total;
}

std::vector<umd_receiver_status> umd_output::receivers() const {
    std::vector<umd_receiver_status> all;
    for (const auto& receiver : impl_->receivers) all.push_back(receiver->status());
    return all;
}

}  // namespace quon
