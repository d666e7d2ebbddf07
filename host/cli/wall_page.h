// --http ADDR:PORT: the monitor wall in the browser, served on the host's
// event loop beside whatever else the host does.
#ifndef QUON_CLI_WALL_PAGE_H
#define QUON_CLI_WALL_PAGE_H

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/live/live_wall.h"
#include "quon/live/wall_file.h"
#include "quon/live/web_listener.h"
#include "quon/screens/umd_output.h"
#include "quon/tally/tally_listener.h"
#include "quon/web/web_view.h"

namespace quon {

class wall_page {
public:
    // Binds the page; false with a message printed when the address is
    // bad or cannot be bound. Warns when it is not a loopback address.
    // Says where the page is, or, with `configuredLater`, leaves that to
    // the first configure(), which knows whether it is HTTPS.
    bool open(boost::asio::io_context& loop, const std::string& address, bool configuredLater = false);
    // Shows `engine` and its `displays` from now on; they and `tallies`
    // outlive that.
    void show(host_engine& engine, display_model& displays, const umd_config& tallies);
    // Stops showing the engine (before it goes away).
    void hide();
    // A line among the page's latest events; nothing without a page.
    void event(const std::string& text);
    // The control API with `token` (empty: off): parent commands and button
    // events for `engine`'s components, and line-ups of `wall` (POST
    // /api/lineup); every request goes to `log`. Nothing without a page.
    void control(const std::string& token, host_engine& engine, live_wall& wall,
                 std::function<void(const std::string&)> log);
    // A line-up began or ended: /healthz says so, and the page's events.
    void lineup(const live_wall::lineup_status& status);
    // The wall file's [page]: the names the page answers to besides its
    // addresses, the view token, the limits; HTTPS with `identity` (null:
    // plain HTTP). Says where the page is when that changes to or from
    // HTTPS, and the certificate's subject and expiry when it is another.
    // Nothing without a page.
    void configure(const wall_page_settings& page, std::shared_ptr<const web::page_identity> identity);
    // What the page's limits and Host check refused since start, by reason
    // (web_view::refusals); none without a page.
    std::map<std::string, std::uint64_t> refusals() const;
    // Each minute that saw refusals, a line per client address to `log`;
    // nothing without a page.
    void reportRefusals(std::function<void(const std::string&)> log);
    // Serves /metrics from `text`; nothing without a page.
    void serveMetrics(std::function<std::string()> text);
    // The host's role in a pair, "active" or "standby"; nothing without a page.
    void role(const std::string& role);
    // What a display's screen shows of its router's loss; nothing without a page.
    void marked(const std::string& display, lost_treatment now);
    // Why a display's router cannot show it what it watches ("" when it
    // can); nothing without a page.
    void watchProblem(const std::string& display, const std::string& problem);
    // The TSL receivers as they stand; nothing without a page.
    void receivers(const std::vector<umd_receiver_status>& receivers);
    // The tally inputs as they stand; nothing without a page.
    void tallyInputs(const std::vector<tally::tally_input_status>& inputs);
    // Reads the receivers' figures at each /api/receivers request and, for
    // the pages, every receiver_push_interval; nothing without a page.
    void followReceivers(std::function<std::vector<umd_receiver_status>()> read);
    static constexpr std::chrono::milliseconds receiver_push_interval{1000};
    std::string url() const { return url_; }
    web_listener* listener() { return listener_.get(); }

private:
    std::unique_ptr<web::web_view> view_;
    std::unique_ptr<web_listener> listener_;
    host_engine* engine_ = nullptr;
    std::string url_;
    std::string address_;  // as bound: "127.0.0.1:8080", "[::1]:8080"
    std::string served_;   // the identity's summary, while on HTTPS
    bool announced_ = false;  // where the page is was said
};

}  // namespace quon

#endif
