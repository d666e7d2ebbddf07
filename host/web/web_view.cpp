// The web view's face to the host: it feeds the model and starts and stops
// the server. The server's parts are each in a file of their own, as in
// Beast's examples: listener (accepting), http_session (a connection's
// requests), websocket_session (a page's updates), request_handler (the
// answers, without sockets) and server_state (what they share).
#include "quon/web/web_view.h"

#include <unistd.h>

#include "quon/common/text.h"

#include "connection.h"
#include "listener.h"
#include "server_state.h"
#include "tally_session.h"

namespace quon::web {

class web_view::impl {
public:
    impl(boost::asio::io_context& context, const web_settings& settings)
        : io(context), server(std::make_shared<server_state>(context, settings)) {}
    boost::asio::io_context& io;
    std::shared_ptr<server_state> server;
    std::shared_ptr<listener> accepting;  // while started
};

web_view::web_view(boost::asio::io_context& io, const web_settings& settings)
    : impl_(std::make_unique<impl>(io, settings)) {
    answerTo({});
}

std::map<std::string, std::uint64_t> web_view::refusals() const { return impl_->server->refused; }

void web_view::reportRefusals(std::function<void(const std::string&)> log) {
    impl_->server->refusalLog = std::move(log);
}

void web_view::answerTo(std::vector<std::string> names) {
    // The machine's own name, as users on its network type it.
    char own[256] = {};
    if (::gethostname(own, sizeof own - 1) == 0 && own[0]) {
        const std::string name = lowerCase(own);
        names.push_back(name);
        names.push_back(name.substr(0, name.find('.')));
    }
    impl_->server->hostNames = std::move(names);
}

void web_view::limits(const page_limits& limits) { impl_->server->settings.limits = limits; }

void web_view::viewToken(const std::string& token) {
    server_state& server = *impl_->server;
    server.viewToken = token;
    server.dropPagesWithoutAccess();
}

void web_view::serveTls(std::shared_ptr<const page_identity> identity, bool redirectPlain) {
    impl_->server->identity = std::move(identity);
    impl_->server->redirectPlain = redirectPlain;
}

web_view::~web_view() { stop(); }

bool web_view::start(std::string& error) {
    server_state& server = *impl_->server;
    if (server.running) return true;
    auto accepting = std::make_shared<listener>(impl_->io, impl_->server);
    if (!accepting->open(error)) return false;
    impl_->accepting = accepting;
    server.running = true;
    server.dirtyNames.clear();
    ++server.round;
    server.orderChanged = server.linksChanged = false;
    server.flushedEventSequence = server.model.lastEventSequence();
    accepting->run();
    server.scheduleReceivers();
    return true;
}

unsigned short web_view::port() const { return impl_->accepting ? impl_->accepting->port() : 0; }

void web_view::stop() {
    server_state& server = *impl_->server;
    server.running = false;
    if (impl_->accepting) impl_->accepting->close();
    impl_->accepting.reset();
    server.flushTimer.cancel();
    server.receiverTimer.cancel();
    server.refusalTimer.cancel();
    server.refusalReportDue = false;
    server.flushScheduled = false;
    std::vector<std::shared_ptr<connection>> sessions;
    for (const auto& entry : server.sessions)
        if (auto session = entry.second.lock()) sessions.push_back(std::move(session));
    for (const auto& session : sessions) session->close();
    const auto pages = server.pages;
    for (const auto& page : pages) page->drop();
    const auto tallyPages = server.tallyPages;
    for (const auto& page : tallyPages) page->drop();
}

void web_view::setDisplay(const display_state& state) {
    server_state& server = *impl_->server;
    // Round 0 while no page is open: nothing is listed then, and the first
    // change after a page opens counts as first in its round.
    const wall_model::display_update change = server.model.setDisplay(state, server.anyPage() ? server.round : 0);
    if (change.added) server.markOrder();
    if (change.firstInRound && server.anyPage()) server.dirtyNames.push_back(state.name);
    server.scheduleFlush();
}

void web_view::removeDisplay(const std::string& name) {
    server_state& server = *impl_->server;
    if (!server.model.removeDisplay(name)) return;
    server.markOrder();
    server.scheduleFlush();
}

void web_view::wallOrder(const std::vector<std::string>& names) {
    server_state& server = *impl_->server;
    if (!server.model.setOrder(names)) return;
    server.markOrder();
    server.scheduleFlush();
}

void web_view::link(const link_state& state) {
    server_state& server = *impl_->server;
    server.model.setLink(state);
    server.markLinks();
    server.scheduleFlush();
}

void web_view::receivers(std::vector<receiver_state> states) {
    server_state& server = *impl_->server;
    server.model.setReceivers(std::move(states));
    server.markLinks();
    server.scheduleFlush();
}

void web_view::tallyInputs(std::vector<tally_input_state> states) {
    server_state& server = *impl_->server;
    server.model.setTallyInputs(std::move(states));
    server.markLinks();
    server.scheduleFlush();
}

void web_view::followReceivers(std::function<std::vector<receiver_state>()> read, std::chrono::milliseconds every) {
    server_state& server = *impl_->server;
    server.readReceivers = std::move(read);
    server.receiverEvery = every;
    server.receiverTimer.cancel();
    server.scheduleReceivers();
}

void web_view::role(const std::string& role) {
    server_state& server = *impl_->server;
    if (server.model.role() == role) return;
    server.model.setRole(role);
    server.markLinks();
    server.scheduleFlush();
}

void web_view::lineup(const std::string& text) { impl_->server->model.setLineup(text); }

void web_view::serveMetrics(std::function<std::string()> text) { impl_->server->metrics = std::move(text); }

void web_view::control(const std::string& token, std::function<control_answer(const control_request&)> act,
                       std::function<void(const std::string&)> log) {
    server_state& server = *impl_->server;
    server.control = {token, std::move(act), std::move(log)};
    // A page let in by the control token alone is let in no longer.
    server.dropPagesWithoutAccess();
    // The pages show their controls while it is on.
    if (!server.model.setControl(!token.empty())) return;
    server.markLinks();
    server.scheduleFlush();
}

void web_view::removeLink(int device) {
    server_state& server = *impl_->server;
    if (!server.model.removeLink(device)) return;
    server.markLinks();
    server.scheduleFlush();
}

void web_view::event(const std::string& line) {
    impl_->server->model.addEvent(line);
    impl_->server->scheduleFlush();
}

void web_view::countedEvent(const std::string& line) {
    impl_->server->model.addCountedEvent(line);
    impl_->server->scheduleFlush();
}

std::size_t web_view::clientCount() const { return impl_->server->pages.size(); }

std::string web_view::displaysJson() const { return impl_->server->model.displaysJson(); }

std::string web_view::routersJson() const { return impl_->server->model.routersJson(); }

}  // namespace quon::web
