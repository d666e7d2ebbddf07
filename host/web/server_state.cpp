#include "server_state.h"

#include "connection.h"

#include <algorithm>
#include <iterator>

namespace quon::web {

using error_code = boost::system::error_code;

void server_state::scheduleFlush() {
    if (flushScheduled || !anyPage()) return;
    flushScheduled = true;
    flushTimer.expires_after(settings.flushDelay);
    flushTimer.async_wait([self = shared_from_this()](const error_code& aborted) {
        if (aborted) return;
        self->flushScheduled = false;
        self->flush();
    });
}

void server_state::readReceiversNow() {
    if (!readReceivers) return;
    std::vector<receiver_state> now = readReceivers();
    if (now == model.receivers()) return;
    model.setReceivers(std::move(now));
    markLinks();
    scheduleFlush();
}

void server_state::scheduleReceivers() {
    if (!readReceivers || !running) return;
    receiverTimer.expires_after(receiverEvery);
    receiverTimer.async_wait([self = shared_from_this()](const error_code& aborted) {
        if (aborted || !self->running) return;
        if (!self->pages.empty()) self->readReceiversNow();
        self->scheduleReceivers();
    });
}

void server_state::flush() {
    const std::uint64_t lastEvent = model.lastEventSequence();
    std::shared_ptr<const std::string> shared;
    bool sharedBuilt = false;
    // Dropping a page edits `pages`: walk a copy.
    const std::vector<std::shared_ptr<page_connection>> targets = pages;
    for (const auto& page : targets) {
        if (!page->open()) continue;  // its full state is still to come
        if (page->inStep(flushedEventSequence)) {
            if (!sharedBuilt) {
                std::string message = updateMessage(dirtyNames, orderChanged, linksChanged, flushedEventSequence);
                if (!message.empty()) shared = std::make_shared<const std::string>(std::move(message));
                sharedBuilt = true;
            }
            if (shared) page->send(shared, lastEvent);
        } else {
            page->queue(dirtyNames, orderChanged, linksChanged);
        }
    }
    flushTally();
    dirtyNames.clear();
    ++round;
    orderChanged = linksChanged = false;
    flushedEventSequence = lastEvent;
}

void server_state::flushTally() {
    if (tallyFollowed.empty()) return;
    const bool sourcesMayChange = !dirtyNames.empty() || orderChanged;
    const auto update = [](tally_followers& followers, std::string message) {
        if (followers.shown && *followers.shown == message) return;
        followers.shown = std::make_shared<const std::string>(std::move(message));
        // Dropping a page edits the list: walk a copy.
        const std::vector<tally_connection*> targets = followers.pages;
        for (tally_connection* page : targets) page->show(followers.shown);
    };
    // A display came or went: any display followed may be the one.
    if (orderChanged) {
        for (auto& [key, followers] : tallyFollowed)
            if (!followers.target.source) update(followers, model.tallyMessage(followers.target));
    } else {
        for (const std::string& name : dirtyNames) {
            const auto found = tallyFollowed.find(tallyKey({false, name}));
            if (found != tallyFollowed.end()) update(found->second, model.tallyMessage(found->second.target));
        }
    }
    // A source moves between displays as routes change: each followed one
    // is worked out again from the displays showing it, which the model
    // finds by their text.
    if (sourcesMayChange)
        for (auto& [key, followers] : tallyFollowed)
            if (followers.target.source) update(followers, model.tallyMessage(followers.target));
}

void server_state::addTallyPage(std::shared_ptr<tally_connection> page) {
    tally_followers& followers = tallyFollowed[tallyKey(page->target())];
    if (!followers.shown) {
        followers.target = page->target();
        followers.shown = std::make_shared<const std::string>(model.tallyMessage(followers.target));
    }
    followers.pages.push_back(page.get());
    tallyPages.push_back(page);
    page->show(followers.shown);
}

void server_state::removeTallyPage(const tally_connection* page) {
    const auto followed = tallyFollowed.find(tallyKey(page->target()));
    if (followed != tallyFollowed.end()) {
        std::vector<tally_connection*>& list = followed->second.pages;
        list.erase(std::remove(list.begin(), list.end(), page), list.end());
        if (list.empty()) tallyFollowed.erase(followed);
    }
    for (auto place = tallyPages.begin(); place != tallyPages.end(); ++place)
        if (place->get() == page) {
            tallyPages.erase(place);
            return;
        }
}

std::size_t server_state::connectionsFrom(const std::string& address) const {
    std::size_t count = 0;
    for (const auto& page : tallyPages)
        if (page->address() == address) ++count;
    for (const auto& [session, alive] : sessions)
        if (session->address() == address) ++count;
    for (const auto& page : pages)
        if (page->address() == address) ++count;
    return count;
}

void server_state::refuse(const char* reason, const std::string& address) {
    ++refused[reason];
    ++refusedSince[address.empty() ? "(unknown)" : address][reason];
    if (refusalReportDue || !refusalLog) return;
    refusalReportDue = true;
    refusalTimer.expires_after(settings.refusalReportEvery);
    refusalTimer.async_wait([weak = weak_from_this()](const boost::system::error_code& aborted) {
        const std::shared_ptr<server_state> self = weak.lock();
        if (aborted || !self) return;
        self->refusalReportDue = false;
        std::map<std::string, std::map<std::string, std::uint64_t>> since;
        since.swap(self->refusedSince);
        for (const auto& [address, counts] : since) {
            std::string line = "refused from " + address + ":";
            for (const auto& [why, count] : counts) line += " " + why + " " + std::to_string(count);
            if (self->refusalLog) self->refusalLog(line);
        }
    });
}

std::size_t server_state::pagesFrom(const std::string& address) const {
    std::size_t count = 0;
    for (const auto& page : pages)
        if (page->address() == address) ++count;
    return count;
}

bool server_state::allowRequest(const std::string& address) {
    if (thisMachine(address)) return true;
    const double rate = settings.limits.requestsPerSecond;
    const double burst = 3 * rate;
    const auto now = std::chrono::steady_clock::now();
    // The allowances of clients gone quiet are full again: forget them,
    // once a second at most, so that the map holds only those seen lately.
    if (allowances.size() > 4096 && now - allowancesSwept > std::chrono::seconds(1)) {
        allowancesSwept = now;
        for (auto at = allowances.begin(); at != allowances.end();)
            at = now - at->second.filled > std::chrono::seconds(10) ? allowances.erase(at) : std::next(at);
    }
    const auto [at, fresh] = allowances.try_emplace(address, allowance{burst, now});
    allowance& a = at->second;
    if (!fresh) {
        a.left = std::min(burst, a.left + rate * std::chrono::duration<double>(now - a.filled).count());
        a.filled = now;
    }
    if (a.left < 1) return false;
    a.left -= 1;
    return true;
}

void server_state::dropPagesWithoutAccess() {
    const std::vector<std::shared_ptr<page_connection>> open = pages;
    for (const auto& page : open)
        if (!mayView(page->opening(), viewToken, control.token)) page->drop();
    const std::vector<std::shared_ptr<tally_connection>> following = tallyPages;
    for (const auto& page : following)
        if (!mayView(page->opening(), viewToken, control.token)) page->drop();
}

void server_state::removePage(const page_connection* page) {
    for (auto place = pages.begin(); place != pages.end(); ++place)
        if (place->get() == page) {
            pages.erase(place);
            return;
        }
}

std::string server_state::updateMessage(const std::vector<std::string>& names, bool order, bool links,
                                        std::uint64_t eventsAfter) const {
    const bool events = model.lastEventSequence() > eventsAfter;
    if (names.empty() && !order && !links && !events) return {};
    std::string message;
    message.reserve(64 + names.size() * 200);
    message += R"({"type":"update","displays":[)";
    bool first = true;
    for (const std::string& name : names) {
        const display_state* display = model.findDisplay(name);
        if (!display) continue;  // removed since; the order says so
        if (!first) message += ',';
        first = false;
        wall_model::appendDisplayJson(message, *display);
    }
    message += ']';
    if (order) message += R"(,"order":)" + model.orderJson();
    if (links)
        message += R"(,"routers":)" + model.routersJson() + R"(,"receivers":)" + model.receiversJson() +
                   R"(,"tallyInputs":)" + model.tallyInputsJson() +
                   R"(,"role":)" + model.roleJson() + R"(,"control":)" + (model.control() ? "true" : "false");
    if (events) message += R"(,"events":)" + model.eventsJson(eventsAfter);
    message += '}';
    return message;
}

}  // namespace quon::web
