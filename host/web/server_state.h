// What the web view and every connection's handlers share: the model, the
// open connections, the changes not yet sent to the pages and the host's
// hooks. Held by shared_ptr, so that a handler that runs after the view is
// gone finds it still valid. Lives on the io_context's thread.
#ifndef QUON_WEB_SERVER_STATE_H
#define QUON_WEB_SERVER_STATE_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/web/web_view.h"
#include "request_handler.h"
#include "wall_model.h"

namespace quon::web {

class connection;
class page_connection;
class tally_connection;

struct server_state : std::enable_shared_from_this<server_state> {
    server_state(boost::asio::io_context& context, const web_settings& options)
        : settings(options),
          model(options.maxEvents),
          flushTimer(context),
          receiverTimer(context),
          refusalTimer(context) {}

    // Sends the pages what changed, after settings.flushDelay, once.
    void scheduleFlush();
    void flush();
    // Note what the pages have to be sent; nothing when none is open, as a
    // page that connects later gets the full state.
    void markOrder() { orderChanged = orderChanged || anyPage(); }
    void markLinks() { linksChanged = linksChanged || !pages.empty(); }
    // A wall page or a tally page is open.
    bool anyPage() const { return !pages.empty() || !tallyPages.empty(); }
    std::size_t connections() const { return sessions.size() + pages.size() + tallyPages.size(); }
    // Those from `address` (clientAddress()).
    std::size_t connectionsFrom(const std::string& address) const;
    std::size_t pagesFrom(const std::string& address) const;
    // 127.0.0.1 or ::1: this machine's own clients, held to no limit per
    // client.
    static bool thisMachine(const std::string& address) { return address == "127.0.0.1" || address == "::1"; }
    // Whether a request from `address` is within its rate (page_limits::
    // requestsPerSecond), and counts it if so.
    bool allowRequest(const std::string& address);
    // Counts a refusal of `reason` (web_view::refusals) of a client at
    // `address`, said in the next report.
    void refuse(const char* reason, const std::string& address);
    void removePage(const page_connection* page);
    // A tally page joins the followers of its target and is sent its state.
    void addTallyPage(std::shared_ptr<tally_connection> page);
    void removeTallyPage(const tally_connection* page);
    // Drops the pages let in by a token no longer in force.
    void dropPagesWithoutAccess();
    // {"type":"update", ...} of these changes; empty when there is nothing to say.
    std::string updateMessage(const std::vector<std::string>& names, bool order, bool links,
                              std::uint64_t eventsAfter) const;
    // What a request from `peer` is answered from, now.
    request_context requestContext(std::string peer, bool tls) const {
        return {model, pages.size(), metrics, readReceivers, control, viewToken, tls, std::move(peer)};
    }
    void scheduleReceivers();
    // Takes the receivers' figures of now; the pages get them if they changed.
    void readReceiversNow();

    web_settings settings;  // limits may change (web_view::limits)
    wall_model model;
    boost::asio::steady_timer flushTimer;
    boost::asio::steady_timer receiverTimer;
    boost::asio::steady_timer refusalTimer;
    std::map<std::string, std::uint64_t> refused;                                // by reason, since start
    std::map<std::string, std::map<std::string, std::uint64_t>> refusedSince;   // address -> reason -> count
    std::function<void(const std::string&)> refusalLog;
    bool refusalReportDue = false;
    bool running = false;
    bool flushScheduled = false;

    std::function<std::string()> metrics;  // the text of /metrics; none: 404
    // The names a request's Host may give besides an address and
    // "localhost" (answersTo): the machine's own, and web_view::answerTo's.
    std::vector<std::string> hostNames;
    control_settings control;
    std::string viewToken;  // empty: anyone may look
    // HTTPS while set (web_view::serveTls).
    std::shared_ptr<const page_identity> identity;
    bool redirectPlain = true;

    // Each client's allowance of requests (a token bucket): what is left,
    // and when it was last filled.
    struct allowance {
        double left = 0;
        std::chrono::steady_clock::time_point filled;
    };
    std::unordered_map<std::string, allowance> allowances;
    std::chrono::steady_clock::time_point allowancesSwept;
    // The receivers as they stand now; none: as last given.
    std::function<std::vector<receiver_state>()> readReceivers;
    std::chrono::milliseconds receiverEvery{1000};

    // What changed since the last flush: the displays, each once (the round
    // counts flushes; see wall_model::setDisplay).
    std::uint64_t round = 1;
    std::vector<std::string> dirtyNames;
    bool orderChanged = false;
    bool linksChanged = false;
    std::uint64_t flushedEventSequence = 0;

    // Connections: the HTTP sessions own themselves through their handlers;
    // the pages' WebSockets are owned here until they close or are dropped.
    std::unordered_map<connection*, std::weak_ptr<connection>> sessions;
    std::vector<std::shared_ptr<page_connection>> pages;
    std::vector<std::shared_ptr<tally_connection>> tallyPages;
    // The tally pages by what they follow, with the message each was sent
    // last: a change is worked out once per target and sent only to its
    // own pages, and only when it changed what they show.
    struct tally_followers {
        wall_model::tally_target target;
        std::shared_ptr<const std::string> shown;
        std::vector<tally_connection*> pages;
    };
    std::map<std::string, tally_followers> tallyFollowed;  // by tallyKey()
    static std::string tallyKey(const wall_model::tally_target& target) {
        return (target.source ? "s:" : "d:") + target.name;
    }

private:
    // After the wall pages' flush: the changed targets' states to their pages.
    void flushTally();
};

}  // namespace quon::web

#endif
