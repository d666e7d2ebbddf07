// serve: the live host put together (engine, wall, routers, page, metrics,
// the role in a pair, signals, the watchdog) and the lines it prints. Just
// over 500 lines, kept whole: every part here is wiring of parts that live
// in their own folders, and the printer is the one thing it would give up.
#include "serve.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUON_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUON_ADDRESS_SANITIZER 1
#endif
#if defined(QUON_ADDRESS_SANITIZER)
// The sanitizer runtime's count of what its allocator holds (GCC ships no
// header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes(void);
#endif

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>

#include "quon/common/text.h"
#include "quon/displays/display_model.h"
#include "quon/routers/network_routers.h"
#include "quon/live/live_wall.h"
#include "quon/live/wall_check.h"
#include "quon/metrics/serve_metrics.h"
#include "quon/output/display_lines.h"
#include "quon/output/json_lines.h"
#include "quon/output/repeat_limit.h"
#include "quon/output/trace_printer.h"
#include "quon/pair/role_watcher.h"
#include "quon/routers/built_in_routers.h"
#include "run_files.h"
#include "service_notify.h"
#include "wall_clock.h"
#include "wall_page.h"

namespace quon {

namespace {

namespace asio = boost::asio;

constexpr std::chrono::milliseconds output_delay{50};
// How long a shutdown waits for the screens to take what is queued for them.
constexpr std::chrono::milliseconds shutdown_limit{2000};

// The bytes of every block in use, mapped ones included. Under
// AddressSanitizer its own allocator holds them, and glibc's counts none.
std::size_t heapInUse() {
#if defined(QUON_ADDRESS_SANITIZER)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
#endif
}

// A page of memory first touched costs the kernel a fault. For a large
// wall the heap is grown once, before anything is read, by about what the
// wall will take, and kept (not given back to the system) for the life of
// serve; what is never touched costs no memory. Whether huge pages are
// worth asking for there depends on the machine (docs/performance.md, "The
// heap's reserve and huge pages"): where a small page's fault is dear (7
// to 10 us on some virtual machines) one fault for 2 MiB saves a quarter
// of a start's processor time; where it is cheap (about 1 us), a huge page the
// hypervisor has taken back while the machine was quiet costs 3 ms to
// touch, and a start after a quiet while doubles its time to the first
// display. So the reserve's first 2 MiB are touched a small page at a
// time, and the rest asked to be huge pages if that took more than
// `dear_small_pages`, small ones otherwise.
void reserveHeap(const std::string& wallFile) {
#if !defined(QUON_ADDRESS_SANITIZER)
    std::error_code failed;
    const std::uintmax_t fileBytes = std::filesystem::file_size(wallFile, failed);
    if (failed) return;
    // About what serve holds a byte of wall file, at its peak.
    constexpr std::uintmax_t held_per_byte = 40;
    constexpr std::size_t block = std::size_t{16} << 20;  // under the largest mmap threshold: from the heap
    constexpr std::uintptr_t small_page = 4096, huge_page = std::uintptr_t{2} << 20;
    // 512 faults in 1.5 ms: 3 us a fault, between the two kinds of machine.
    constexpr double dear_small_pages = 1.5e-3;
    const std::size_t bytes =
        static_cast<std::size_t>(std::min<std::uintmax_t>(fileBytes * held_per_byte, std::uintmax_t{1} << 30));
    if (bytes < 4 * block) return;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * block));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(bytes + block));
    std::vector<char*> blocks;
    for (std::size_t taken = 0; taken < bytes; taken += block)
        if (char* b = static_cast<char*>(std::malloc(block))) blocks.push_back(b);
    if (!blocks.empty()) {
        const auto [low, high] = std::minmax_element(blocks.begin(), blocks.end());
        // The probe: a whole huge page's worth inside the lowest block, which
        // the heap uses first. The processor time of this thread, so that
        // another program's turn on the processor is not counted.
        const std::uintptr_t probe = (reinterpret_cast<std::uintptr_t>(*low) + huge_page - 1) & ~(huge_page - 1);
        madvise(reinterpret_cast<void*>(probe), huge_page, MADV_NOHUGEPAGE);
        timespec before{}, after{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
        for (std::uintptr_t at = probe; at < probe + huge_page; at += small_page)
            *reinterpret_cast<volatile char*>(at) = 0;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
        const double took =
            static_cast<double>(after.tv_sec - before.tv_sec) + static_cast<double>(after.tv_nsec - before.tv_nsec) / 1e9;
        // Both ways: a kernel set to `always` gives huge pages unasked.
        // Advice only: where it is not taken the heap is as it was.
        const std::uintptr_t first = probe + huge_page;
        const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(*high) + block) & ~(small_page - 1);
        if (end > first)
            madvise(reinterpret_cast<void*>(first), end - first,
                    took > dear_small_pages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    }
    for (char* b : blocks) std::free(b);
#else
    (void)wallFile;
#endif
}

// A display's tally in words, and why: "CAM 3 on air: router 1
// destination 2 <- source 5; studioA index 3 lights ...".
std::string tallyLine(const display_record& display) {
    const char* const words[] = {"off", "in preview", "hot (in a program that is not on air)", "on air"};
    std::string line = display.name + " " + words[static_cast<int>(display.tally.now)];
    if (display.tally.iso) line += display.tally.now == tally::state::off ? " but on ISO" : ", and on ISO";
    if (display.why) {
        const std::string why = reasonText(*display.why);
        if (!why.empty()) line += ": " + why;
    }
    return line;
}

// The lines serve prints unless quiet: a display that changed, its tally,
// a router link that changed, a warning, a breach of the contract.
class serve_printer : public host_listener, public display_observer {
public:
    serve_printer(display_model& displays, output_format format, bool quiet)
        : format_(format), quiet_(quiet), displays_(displays) {
        displays_.subscribe(this);
    }
    ~serve_printer() override { displays_.unsubscribe(this); }

    // A display's line when it changed (the model says when).
    void displayChanged(const display_record& display, display_aspect what) override {
        if (quiet_) return;
        if (what == display_aspect::shown) print("display", displayLine(display));
        if (what == display_aspect::tally) print("tally", tallyLine(display));
    }
    void routerChanged(const router_change& c) override {
        if (quiet_) return;
        std::string line = "router " + std::to_string(c.device);
        if (!c.name.empty()) line += " (" + c.name + ")";
        line += ": " + std::string(routerStateName(c.status.state));
        if (c.status.size > 0) line += ", " + std::to_string(c.status.size) + " destinations";
        if (!c.status.detail.empty()) line += "; " + c.status.detail;
        print("router", line);
    }
    void warning(const std::string& component, const std::string& text) override {
        const std::optional<std::string> line = repeats_.admit(component, text, std::chrono::steady_clock::now());
        if (line) printWarning(format_, component.empty() ? *line : component + ": " + *line);
    }
    // A TSL receiver's link, as router links are shown; a link that is
    // down says when it last sent.
    void receiverChanged(const umd_receiver_status& r) {
        if (quiet_) return;
        std::string line = "receiver " + umdDestinationText(r.to) + ": " + umdReceiverStateName(r.state);
        if (!r.detail.empty()) line += "; " + r.detail;
        if (r.down) line += r.lastSent == std::chrono::system_clock::time_point{} ? "; nothing sent yet"
                                                                                    : "; last sent " + utcText(r.lastSent);
        print("receiver", line);
    }
    // A display's screen starts or stops showing that its router is lost.
    void markChanged(const std::string& display, lost_treatment now) {
        if (quiet_) return;
        print("display", now == lost_treatment::keep ? display + ": screen shows its name again"
                                                     : display + ": screen shows its router lost (" +
                                                           lostTreatmentName(now) + ")");
    }
    // A display starts or stops watching what its router cannot show it.
    void problemChanged(const std::string& display, const std::string& problem) {
        if (quiet_) return;
        print("display", display + ": " + (problem.empty() ? "watches what its router has again" : problem));
    }
    void violation(const std::string& component, const contract_violation& v) override {
        print("violation", component + ": " + v.text);
    }

    void print(const char* kind, const std::string& text) {
        if (format_ == output_format::json)
            std::printf("%s\n", jsonLine({{"kind", kind}, {"time", now()}, {"text", text}}).c_str());
        else
            std::fputs((lineStamp() + escapedControls(text) + '\n').c_str(), stdout);
    }
    static std::string now() { return utcMillisText(std::chrono::system_clock::now()); }

    // Said on request (SIGUSR1), quiet or not: what the host holds, which
    // is what a leak grows; the pages the kernel maps also follow queues
    // and the allocator's caching. The time since start dates the figure
    // for a reader that reads the output late.
    void printMemory() {
        const std::size_t inUse = heapInUse();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        char text[96];
        std::snprintf(text, sizeof text, "memory: %zu bytes of heap in use at %.3f s", inUse, seconds);
        if (format_ == output_format::json)
            std::printf("%s\n", jsonLine({{"kind", "memory"},
                                          {"time", now()},
                                          {"text", text},
                                          {"heap_bytes", inUse},
                                          {"seconds", seconds}})
                                   .c_str());
        else
            std::printf("%s%s\n", lineStamp().c_str(), text);
    }

private:
    output_format format_;
    bool quiet_;
    repeat_limit repeats_;
    display_model& displays_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// What the metrics and systemd's STATUS follow of the engine: a router
// link that changes, a breach of the contract (counted whether or not a
// trace is printed).
struct engine_watch : host_listener {
    engine_watch(std::function<void(const router_change&)> changed, std::function<void()> violated)
        : routerChangedTo(std::move(changed)), violated(std::move(violated)) {}
    void routerChanged(const router_change& change) override { routerChangedTo(change); }
    void violation(const std::string&, const contract_violation&) override { violated(); }
    std::function<void(const router_change&)> routerChangedTo;
    std::function<void()> violated;
};

class server {
public:
    server(const host_options& options, const serve_options& serve)
        : options_(options),
          serve_(serve),
          routers_(builtInRouters()),
          signals_(loop_, SIGINT, SIGTERM, SIGHUP),
          flushTimer_(loop_),
          watchdogTimer_(loop_) {
        signals_.add(SIGUSR1);
        addNetworkRouters(routers_, loop_);
    }

    // The page as the wall file has it: its control API, every request
    // logged with its client; its [page], HTTPS with `identity`.
    void applyPage(std::shared_ptr<const web::page_identity> identity) {
        const std::optional<wall_control>& control = wall_->current().control;
        page_.control(control ? control->token : std::string(), *engine_, *wall_,
                      [this](const std::string& line) { printer_->print("control", "control: " + line); });
        page_.configure(wall_->current().page, std::move(identity));
    }

    // The page's certificate and key, read at each start and reload, so
    // that renewed files are taken up; an error when they cannot be used.
    std::shared_ptr<const web::page_identity> pageIdentity(const wall& w, std::vector<std::string>& errors) const {
        if (options_.http.empty() || w.page.certificate.empty()) return nullptr;
        std::string error;
        std::shared_ptr<const web::page_identity> identity = web::loadPageIdentity(w.page.certificate, w.page.key, error);
        if (!identity) errors.push_back("[page]: " + error);
        return identity;
    }

    int run() {
        if (!options_.http.empty() && !page_.open(loop_, options_.http, true)) return 2;
        system_ = readConfiguredSystem(options_.format);
        engine_ = std::make_unique<host_engine>(system_, routers_, options_.modules);
        for (const std::string& warning : engine_->routers().warnings()) printWarning(options_.format, warning);
        if (!engine_->routers().errors().empty()) {
            for (const std::string& e : engine_->routers().errors())
                std::fprintf(stderr, "%s\n", escapedControls(e).c_str());
            return 2;
        }
        engine_->addListener(&displays_);
        printer_ = std::make_unique<serve_printer>(displays_, options_.format, serve_.quiet);
        trace_ = std::make_unique<trace_printer>(stdout, options_.format);
        engine_->addListener(printer_.get());
        engine_->addListener(&engineWatch_);
        if (options_.trace) engine_->addListener(trace_.get());
        clock_ = std::make_unique<wall_clock_driver>(
            loop_, *engine_, nullptr, [this](const std::string& e) { printWarning(options_.format, "clock: " + e); });
        wall_ = std::make_unique<live_wall>(
            loop_, *engine_, displays_, options_.settings.module, options_.settings.layoutFolder,
            [this](const wall& w, std::vector<std::string>& errors) {
                checkWall(w, system_, engine_->routers(), options_.settings.module, errors);
                for (const std::string& warning : wallWarnings(w)) printWarning(options_.format, warning);
            },
            [this](const std::string& w) { printWarning(options_.format, w); });
        // The page watches from the start, so that it sees every display's
        // first notification too.
        if (!options_.http.empty()) {
            page_.show(*engine_, displays_, wall_->current().umd);
            page_.serveMetrics([this] {
                return metrics_.scrape(engine_->components(), engine_->routers(), engine_->tally(), wall_->receivers(),
                                       wall_->treatments(), wall_->inputs(), page_.refusals());
            });
            // Warned, so that a flood from the network is seen where the
            // operator looks; once a minute at most per address.
            page_.reportRefusals([this](const std::string& line) { printWarning(options_.format, "page: " + line); });
            page_.followReceivers([this] { return wall_->receivers(); });
        }
        wall_->watchReceivers([this](const umd_receiver_status& r) {
            printer_->receiverChanged(r);
            page_.receivers(wall_->receivers());
            if (ready_) notifyService("STATUS=" + status());
        });
        wall_->watchInputs(
            [this](const tally::tally_input_status& input) {
                page_.tallyInputs(wall_->inputs());
                // STATUS tells up, down and not listening: a packet read is
                // no news to it.
                const std::string now = (input.up ? "up " : "down ") + input.problem;
                const auto [told, first] = inputStates_.try_emplace(input.name, now);
                if (!first && told->second == now) return;
                told->second = now;
                if (ready_) notifyService("STATUS=" + status());
            },
            [this](const std::string& line) { printer_->print("tally", line); });
        wall_->watchTreatments([this](const std::string& display, lost_treatment now) {
            printer_->markChanged(display, now);
            page_.marked(display, now);
        });
        wall_->watchProblems([this](const std::string& display, const std::string& problem) {
            printer_->problemChanged(display, problem);
            page_.watchProblem(display, problem);
        });
        wall_->watchLineup([this](const live_wall::lineup_status& status) {
            page_.lineup(status);
            printer_->print("lineup", status.mode == lineup_mode::none
                                          ? "line-up over: every display shows what it did"
                                          : "line-up: " + live_wall::lineupText(status));
        });
        engine_->routers().start();
        std::vector<std::string> errors;
        if (!wall_->start(serve_.wallFile, errors, live_wall::pace::in_slices)) {
            for (const std::string& e : errors) std::fprintf(stderr, "%s\n", escapedControls(e).c_str());
            engine_->routers().stop();
            return 2;
        }
        std::shared_ptr<const web::page_identity> identity = pageIdentity(wall_->current(), errors);
        if (!errors.empty()) {
            for (const std::string& e : errors) std::fprintf(stderr, "%s\n", escapedControls(e).c_str());
            engine_->routers().stop();
            wall_->stop();
            return 2;
        }
        if (!followPair(false)) {
            engine_->routers().stop();
            wall_->stop();
            return 2;
        }
        applyPage(std::move(identity));
        page_.receivers(wall_->receivers());
        page_.tallyInputs(wall_->inputs());
        clock_->catchUp();
        waitForSignal();
        flushOutputSoon();
        notifyService("READY=1\nSTATUS=" + status());
        ready_ = true;
        feedWatchdog(watchdogInterval() / 2);
        loop_.run();
        if (stopping_) {
            loop_.restart();
            loop_.run_for(shutdown_limit);  // returns as soon as nothing is left to do
        }
        return 0;
    }

private:
    // The device files, instances.ini and the wall file, read again and
    // checked together; applied only when all of them can be used.
    void reload() {
        system_description system = readConfiguredSystem(options_.format);
        // Says which routers can be set up; it connects nothing.
        host_engine trial(system, routers_);
        for (const std::string& warning : trial.routers().warnings()) printWarning(options_.format, warning);
        std::vector<std::string> errors = trial.routers().errors();
        wall next;
        const bool read = wall_->read("", next, errors, [&](const wall& w, std::vector<std::string>& found) {
            checkWall(w, system, trial.routers(), options_.settings.module, found);
            for (const std::string& warning : wallWarnings(w)) printWarning(options_.format, warning);
        });
        // The tally inputs' sockets are bound last, when nothing else
        // refuses the reload: binding is the one step that touches the
        // machine.
        std::shared_ptr<const web::page_identity> identity;
        if (read && errors.empty()) identity = pageIdentity(next, errors);
        const bool usable = read && errors.empty() && wall_->prepare(next, errors);
        metrics_.reloaded(!usable);
        if (!usable) {
            lastReloadRefused_ = true;
            printWarning(options_.format, "the wall file was not reloaded; the running wall stays as it was:");
            for (const std::string& e : errors) printWarning(options_.format, e);
            std::string shown = "reload refused: " + counted(errors.size(), "error");
            for (size_t i = 0; i < errors.size() && i < 3; ++i) shown += "\n" + errors[i];
            page_.event(shown);
            notifyService("STATUS=" + status());
            return;
        }
        lastReloadRefused_ = false;
        const engine_routers::system_changes routers = engine_->routers().applySystem(system, routers_);
        system_ = std::move(system);
        const live_wall::changes displays = wall_->apply(std::move(next));
        followPair(true);
        applyPage(std::move(identity));
        // The page's displays that were kept as they were still hold the old
        // file's lamps and TSL indices.
        if (web_listener* listener = page_.listener()) listener->refresh();
        page_.receivers(wall_->receivers());
        page_.tallyInputs(wall_->inputs());
        clock_->catchUp();
        std::string summary = "wall file reloaded: " + std::to_string(wall_->current().displays.size()) +
                              " displays (" + std::to_string(displays.added) + " added, " +
                              std::to_string(displays.removed) + " removed, " + std::to_string(displays.changed) +
                              " changed)";
        const auto list = [](const std::vector<int>& devices) {
            std::string text;
            for (int device : devices) text += (text.empty() ? "" : ", ") + std::to_string(device);
            return text;
        };
        const std::pair<const char*, const std::vector<int>*> kinds[] = {{"added", &routers.added},
                                                                          {"changed", &routers.changed},
                                                                          {"renamed", &routers.renamed},
                                                                          {"removed", &routers.removed}};
        std::string routerText;
        for (const auto& [word, devices] : kinds)
            if (!devices->empty())
                routerText += (routerText.empty() ? "" : "; ") + std::string(word) + " " + list(*devices);
        summary += "; routers " + (routerText.empty() ? std::string("unchanged") : routerText);
        printer_->print("reload", summary);
        page_.event(summary);
        notifyService("STATUS=" + status());
    }

    // [pair]: the role follows the address from the kernel; without it the
    // host is active. At a reload that adds or changes [pair] the role
    // stays as it is until the kernel has answered for the new address.
    // False when the addresses cannot be watched at start.
    bool followPair(bool reloading) {
        const std::optional<wall_pair>& settings = wall_->current().pair;
        if (!settings) {
            if (roleWatcher_ || wall_->standby()) {
                roleWatcher_.reset();
                setRole(true, "no [pair] in the wall file any more", " after the reload");
            }
            return true;
        }
        const asio::ip::address address = asio::ip::make_address(settings->activeAddress);
        if (roleWatcher_ && roleWatcher_->address() == address) return true;
        const char* when = reloading ? " after the reload" : " at start";
        roleWatcher_ = std::make_unique<pair::role_watcher>(
            loop_, address,
            [this, when](bool active, const std::string& cause, bool first) {
                setRole(active, cause, first ? when : "");
            },
            [this](const std::string& w) { printWarning(options_.format, w); });
        showRole();
        std::string error;
        if (roleWatcher_->start(error)) return true;
        roleWatcher_.reset();
        if (!reloading) {
            std::fprintf(stderr, "quon-host: %s\n", error.c_str());
            return false;
        }
        setRole(false, error, " after the reload");
        return true;
    }

    // Every change of role is said, with its cause, on standard error and
    // among the page's events.
    void setRole(bool active, const std::string& cause, const char* when) {
        wall_->setStandby(!active);
        const std::string line = std::string("role: ") + (active ? "active" : "standby") + when + " (" + cause + ")";
        std::fprintf(stderr, "%s%s\n", lineStamp().c_str(), escapedControls(line).c_str());
        page_.event(line);
        showRole();
        if (ready_) notifyService("STATUS=" + status());
    }

    void showRole() {
        page_.role(wall_->standby() ? "standby" : "active");
        metrics_.setActive(!wall_->standby());
    }

    void shutdown() {
        notifyService("STOPPING=1");
        roleWatcher_.reset();
        clock_->stop();
        engine_->components().destroyAll();
        page_.hide();
        engine_->routers().stop();
        wall_->stop();
        signals_.cancel();
        flushTimer_.cancel();
        watchdogTimer_.cancel();
        // run() gives the screens what is queued for them (the blanks of
        // blank_on_exit among it), for at most shutdown_limit.
        stopping_ = true;
        loop_.stop();
    }

    void waitForSignal() {
        signals_.async_wait([this](boost::system::error_code error, int signal) {
            if (error) return;
            if (signal == SIGHUP || signal == SIGUSR1) {
                if (signal == SIGHUP)
                    reload();
                else
                    printer_->printMemory();
                waitForSignal();
                return;
            }
            shutdown();
        });
    }

    // A live host's output is read as it happens (a pipe to a log, to
    // grep), but a trace can be tens of thousands of lines a second: lines
    // gather in the buffer and leave together, at most output_delay after
    // they are written.
    void flushOutputSoon() {
        flushTimer_.expires_after(output_delay);
        flushTimer_.async_wait([this](boost::system::error_code error) {
            if (error) return;
            std::fflush(stdout);
            flushOutputSoon();
        });
    }

    // WATCHDOG=1 from the loop itself, twice per WatchdogSec: a loop that
    // hangs stops sending it, and systemd restarts the host.
    void feedWatchdog(std::chrono::microseconds every) {
        if (every.count() <= 0) return;
        watchdogTimer_.expires_after(every);
        watchdogTimer_.async_wait([this, every](boost::system::error_code error) {
            if (error || stopping_) return;
            notifyService("WATCHDOG=1");
            feedWatchdog(every);
        });
    }

    std::string status() const {
        int routersDown = 0;
        for (int device : engine_->routers().numbers()) {
            const std::optional<router_status> s = engine_->routers().status(device);
            if (s && !routerUp(s->state)) ++routersDown;
        }
        const std::vector<umd_receiver_status> receivers = wall_ ? wall_->receivers() : std::vector<umd_receiver_status>{};
        const auto receiversDown = std::count_if(receivers.begin(), receivers.end(),
                                                 [](const umd_receiver_status& r) { return r.down; });
        std::string text = wall_ && wall_->current().pair ? (wall_->standby() ? "standby: " : "active: ") : "";
        text += std::to_string(engine_->components().count()) + " displays, " +
                std::to_string(engine_->routers().numbers().size()) + " routers (" + std::to_string(routersDown) +
                " down), " + std::to_string(receivers.size()) + " receivers (" + std::to_string(receiversDown) +
                " down)";
        const std::vector<tally::tally_input_status> inputs =
            wall_ ? wall_->inputs() : std::vector<tally::tally_input_status>{};
        if (!inputs.empty()) {
            const auto inputsDown = std::count_if(inputs.begin(), inputs.end(),
                                                  [](const tally::tally_input_status& t) { return !t.up; });
            text += ", " + std::to_string(inputs.size()) + " tally inputs (" + std::to_string(inputsDown) + " down)";
        }
        if (lastReloadRefused_) text += "; the last reload was refused";
        return text;
    }

    const host_options& options_;
    const serve_options& serve_;
    asio::io_context loop_;
    router_registry routers_;
    asio::signal_set signals_;
    asio::steady_timer flushTimer_;
    asio::steady_timer watchdogTimer_;
    bool stopping_ = false;
    bool ready_ = false;  // systemd was told READY
    std::unordered_map<std::string, std::string> inputStates_;  // each tally input's, as STATUS last heard
    serve_metrics metrics_;
    engine_watch engineWatch_{[this](const router_change& change) {
                                  metrics_.routerChanged(change);
                                  if (ready_) notifyService("STATUS=" + status());
                              },
                              [this] { metrics_.violated(); }};
    bool lastReloadRefused_ = false;
    // Before the page and the engine: both are rid of it before it goes.
    display_model displays_;
    wall_page page_;
    system_description system_;
    std::unique_ptr<host_engine> engine_;
    std::unique_ptr<serve_printer> printer_;
    std::unique_ptr<trace_printer> trace_;
    std::unique_ptr<wall_clock_driver> clock_;
    std::unique_ptr<live_wall> wall_;
    std::unique_ptr<pair::role_watcher> roleWatcher_;  // while the wall has [pair]
};

}  // namespace

int runCheck(const host_options& options, const std::string& wallFile) {
    asio::io_context loop;  // never run: the routers are made, not started
    router_registry routers = builtInRouters();
    addNetworkRouters(routers, loop);
    const system_description system = readConfiguredSystem(options.format);
    host_engine engine(system, routers, options.modules);
    // A file that is TOML is checked against the system even when some of
    // it is wrong: every error is said in one run.
    wall good, readable;
    std::vector<std::string> errors = engine.routers().errors();
    const bool read = readWallFile(wallFile, good, errors, &readable);
    const wall& checked = read ? good : readable;
    if (read || !readable.displays.empty()) {
        checkWall(checked, system, engine.routers(), options.settings.module, errors);
        checkLayouts(checked, engine, options.settings.module, options.settings.layoutFolder, errors);
        for (const std::string& warning : wallWarnings(checked)) printWarning(options.format, warning);
        sortErrorsByPlace(errors.begin(), errors.end(), wallFile);
    }
    // A router left out that the wall uses is an error, said there once.
    for (const std::string& warning : engine.routers().warnings())
        if (std::none_of(errors.begin(), errors.end(),
                         [&warning](const std::string& e) { return e.find(warning) != std::string::npos; }))
            printWarning(options.format, warning);
    for (const std::string& e : errors) std::printf("%s\n", escapedControls(e).c_str());
    if (errors.empty())
        std::printf("%s: %s, no errors\n", escapedControls(wallFile).c_str(),
                    counted(checked.displays.size(), "display").c_str());
    else
        std::printf("%s: %s\n", escapedControls(wallFile).c_str(), counted(errors.size(), "error").c_str());
    return errors.empty() ? 0 : 1;
}

int runServe(const host_options& options, const serve_options& serve) {
    reserveHeap(serve.wallFile);
    stampOutput(true);
    // Written out by the server every output_delay, or when full.
    std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    server s(options, serve);
    return s.run();
}

}  // namespace quon
