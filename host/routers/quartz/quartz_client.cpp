#include "quon/routers/quartz/quartz_client.h"

#include <algorithm>

#include "quon/routers/label_text.h"

namespace quon::routers {

using namespace quartz;

namespace {

// Bytes without one whole message among them after which the stream is
// taken as beyond reading.
constexpr std::size_t max_bytes_without_message = 16384;

// Requests of a read sent and not yet answered, at most: a router of 65,536
// names a side would otherwise be sent 1.5 MB at once, past what the
// connection queues, and a router behind a serial line would lose them.
constexpr int max_in_flight = 256;

const char* const size_keys[] = {"DatabaseSize_0", "DatabaseSize_1"};
const char* const kinds[] = {"source", "destination"};

// A vector of flags grown to hold index `n` (1-based).
void grow(std::vector<bool>& flags, int n) {
    if (static_cast<int>(flags.size()) < n) flags.resize(static_cast<std::size_t>(n), false);
}

}  // namespace

quartz_client::quartz_client(const router_settings& settings, const quartz_options& options)
    : options_(options), known_{std::max(settings.sources, 0), std::max(settings.destinations, 0)} {}

void quartz_client::begin(router_clock::time_point now, router_actions& out) {
    now_ = now;
    out_ = &out;
}

void quartz_client::send(std::string bytes) {
    if (open_ && !bytes.empty()) out_->emplace_back(std::in_place_type<act::send>, act::send{std::move(bytes)});
}

void quartz_client::fail(const std::string& why) {
    if (!open_) return;
    out_->emplace_back(std::in_place_type<act::fail>, act::fail{why});
    closed();
}

void quartz_client::reportProblem(const std::string& cause, const std::string& text) {
    if (open_) out_->emplace_back(std::in_place_type<act::problem>, act::problem{cause, text});
}

void quartz_client::armTimer() {
    if (!open_ || deadline_ == now_ + options_.answerWait) return;  // already asked for
    deadline_ = now_ + options_.answerWait;
    out_->emplace_back(std::in_place_type<act::arm_timer>, act::arm_timer{*deadline_});
}

void quartz_client::closed() {
    open_ = up_ = reading_ = testing_ = false;
    deadline_.reset();
}

void quartz_client::connected(router_clock::time_point now, router_actions& out) {
    begin(now, out);
    open_ = true;
    up_ = reading_ = testing_ = heard_ = false;
    testsOut_ = 0;
    deadline_.reset();
    reader_.reset();
    bytesWithoutMessage_ = 0;
    for (int d : {0, 1}) {
        namePending_[d].clear();
        namesLeft_[d] = 0;
        highestNamed_[d] = 0;
    }
    routePending_.clear();
    answerIsNews_.clear();
    routesLeft_ = 0;
    highestAnswered_ = 0;
    if (!isLevel(options_.level)) {
        fail(std::string("the level must be a letter from A to Z, not '") + options_.level + "'");
        return;
    }
    read(true);
}

void quartz_client::read(bool initial) {
    // A read while up (a resync, the router's restart) is one whole: what
    // it reports is taken together at its end.
    if (up_ && !reading_) out_->emplace_back(std::in_place_type<act::read_start>);
    reading_ = true;
    readIsInitial_ = initial;
    readNext_ = 0;
    inFlight_ = 0;
    for (int d : {0, 1}) {
        namePending_[d].assign(static_cast<std::size_t>(known_[d]), false);
        namesLeft_[d] = known_[d];
    }
    // Polls still open stay open, and keep their answers news.
    routesAsked_ = routesLeft_;
    sendMore();
    if (initial && known_[0] <= 0 && known_[1] <= 0) {
        // Nothing to read: whether the router answers at all decides.
        testing_ = true;
        send(testConnection());
    }
    armTimer();
}

// The read's requests in order: every source name, every destination name,
// every destination's route; sent up to max_in_flight unanswered.
void quartz_client::sendMore() {
    const int total = known_[0] + known_[1] + known_[1];
    std::string requests;
    int firstRoute = 0, lastRoute = -1;
    while (readNext_ < total && inFlight_ < max_in_flight) {
        const int at = readNext_++;
        ++inFlight_;
        if (at < known_[0] + known_[1]) {
            const int d = at < known_[0] ? 0 : 1;
            const int n = at < known_[0] ? at + 1 : at - known_[0] + 1;
            namePending_[d][static_cast<std::size_t>(n - 1)] = true;
            requests += readName(d == 0, n);
        } else {
            const int destination = at - known_[0] - known_[1] + 1;
            if (lastRoute < firstRoute) firstRoute = destination;
            lastRoute = destination;
        }
    }
    send(std::move(requests));
    if (lastRoute >= firstRoute) interrogate(firstRoute, lastRoute, readIsInitial_);
}

void quartz_client::interrogate(int first, int last, bool news) {
    std::string requests;
    for (int d = std::max(first, 1); d <= std::min(last, max_number); ++d) {
        grow(routePending_, d);
        grow(answerIsNews_, d);
        const std::size_t i = static_cast<std::size_t>(d - 1);
        const bool open = routePending_[i];
        if (!open) {
            ++routesLeft_;
            ++routesAsked_;
        }
        routePending_[i] = true;
        answerIsNews_[i] = news || (open && answerIsNews_[i]);
        requests += quartz::interrogate(options_.level, d);
    }
    send(std::move(requests));
}

// A request of the read was answered: room for more.
void quartz_client::answered() {
    if (inFlight_ > 0) --inFlight_;
    if (reading_ && inFlight_ <= max_in_flight / 2) sendMore();
}

bool quartz_client::readDone() const {
    return !testing_ && readNext_ == known_[0] + known_[1] + known_[1] && namesLeft_[0] == 0 && namesLeft_[1] == 0 &&
           routesLeft_ == 0;
}

int quartz_client::highestNumber(int database) const {
    const int known = database == 0 ? known_[0] : known_[1];
    const int seen = database == 0 ? highestNamed_[0] : std::max(highestNamed_[1], highestAnswered_);
    return std::max(known, seen);
}

// The read is over: everything came, or nothing more came for answerWait.
void quartz_client::endRead() {
    // Names and then not one route of the read: the router hung or lost the
    // interrogates. Ended here, the read would tell this read's names beside
    // the routes of before (of the last connection, at connect), and the
    // answers that came later would be told as they came. The next
    // connection reads both again, as one read.
    if (known_[1] > 0 && routesLeft_ == routesAsked_) {
        fail("no answer to the interrogates after the names");
        return;
    }
    reading_ = false;
    deadline_.reset();
    for (int d : {0, 1}) {
        const int known = d == 0 ? known_[0] : known_[1];
        if (namesLeft_[d] > 0)
            reportProblem(std::string("few names ") + kinds[d], "the router named " +
                                                                    std::to_string(known - namesLeft_[d]) + " of the " +
                                                                    std::to_string(known) + " " + kinds[d] +
                                                                    "s the device file gives (" + size_keys[d] + ")");
        namePending_[d].assign(namePending_[d].size(), false);
        namesLeft_[d] = 0;
    }
    if (routesLeft_ > 0)
        reportProblem("few routes", "the router answered " + std::to_string(routesAsked_ - routesLeft_) + " of the " +
                                        std::to_string(routesAsked_) + " destinations interrogated on level " +
                                        options_.level);
    routePending_.assign(routePending_.size(), false);
    routesLeft_ = 0;
    if (up_) {
        out_->emplace_back(std::in_place_type<act::read_end>);
        return;
    }
    up_ = true;
    out_->emplace_back(std::in_place_type<act::up>, act::up{highestNumber(0), highestNumber(1)});
}

void quartz_client::timer(router_clock::time_point now, router_actions& out) {
    if (!open_ || !deadline_ || now < *deadline_) return;
    begin(now, out);
    deadline_.reset();
    if (!reading_) return;
    // A router that sent nothing is not answering; taken as up it would
    // stay without names or routes after it answers again.
    if (!up_ && !heard_) {
        fail("no answer within " + std::to_string(options_.answerWait.count()) + " ms (AnswerWait)");
        return;
    }
    testing_ = false;
    if (readNext_ < known_[0] + known_[1] + known_[1]) {
        // What is in flight did not come: it will not, the rest may.
        for (int d : {0, 1}) std::fill(namePending_[d].begin(), namePending_[d].end(), false);
        inFlight_ = 0;
        sendMore();
        armTimer();
        return;
    }
    endRead();
}

void quartz_client::keepAlive(router_clock::time_point now, router_actions& out) {
    if (!open_ || !up_) return;
    begin(now, out);
    send(testConnection());
    ++testsOut_;
}

void quartz_client::resync(router_clock::time_point now, router_actions& out) {
    if (!open_ || !up_) return;
    begin(now, out);
    read(false);
}

bool quartz_client::requestRoute(int destination, int source, router_actions& out) {
    const auto within = [](int number, int known) { return number >= 1 && number <= (known > 0 ? known : max_number); };
    if (!open_ || !up_ || !within(destination, known_[1]) || !within(source, known_[0])) return false;
    out_ = &out;
    send(setRoute(options_.level, destination, source));
    return true;
}

void quartz_client::poll(int firstDestination, int lastDestination, router_actions& out) {
    if (!open_ || !up_) return;
    out_ = &out;
    const int last = known_[1] > 0 ? std::min(lastDestination, known_[1]) : lastDestination;
    interrogate(firstDestination, last, true);
}

void quartz_client::bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now,
                          router_actions& out) {
    if (!open_) return;
    begin(now, out);
    messagesInFeed_ = 0;
    reader_.feed(std::string_view(reinterpret_cast<const char*>(data), size), *this);
    if (!open_) return;
    bytesWithoutMessage_ = messagesInFeed_ > 0 ? 0 : bytesWithoutMessage_ + size;
    if (bytesWithoutMessage_ > max_bytes_without_message) {
        fail("no valid message among " + std::to_string(max_bytes_without_message) + " bytes");
        return;
    }
    if (reading_ && messagesInFeed_ > 0) armTimer();  // answers are still coming: wait for more
}

void quartz_client::onReaderProblem(reader_problem problem) { reportProblem(describe(problem)); }

void quartz_client::onMessage(std::string_view body) {
    if (!open_) return;
    heard_ = true;
    ++messagesInFeed_;
    const parsed message = parse(body);
    if (const auto* routes = std::get_if<message::routes>(&message)) {
        for (const message::route& route : routes->items) takeRoute(route);
    } else if (const auto* name = std::get_if<message::name>(&message)) {
        takeName(*name);
    } else if (std::holds_alternative<message::acknowledge>(message)) {
        testing_ = false;
        if (testsOut_ > 0) {
            --testsOut_;
            out_->emplace_back(std::in_place_type<act::answered>);
        }
    } else if (std::holds_alternative<message::error>(message)) {
        reportProblem("the router answered .E: it did not take a request (further refusals are not reported)");
    } else if (std::holds_alternative<message::power_up>(message)) {
        // Requests sent before the restart may be lost, and its routes and
        // names may be new.
        if (up_ || reading_) read(!up_);
    } else if (const auto* unknown = std::get_if<message::unknown>(&message)) {
        const std::string shown = std::string(body.substr(0, 16)) + (body.size() > 16 ? "..." : "");
        if (unknown->malformed)
            reportProblem("malformed", "a malformed message ." + cleanLabel(shown).text +
                                           " (further malformed messages are not reported)");
        else
            reportProblem("unknown", "an unknown message ." + cleanLabel(shown).text +
                                         " (further unknown messages are not reported)");
    }
    // The read ends with the message that completes it.
    if (reading_ && readDone()) endRead();
}

void quartz_client::takeRoute(const message::route& route) {
    if (route.levels.find(options_.level) == std::string::npos) return;  // another level's
    if (known_[1] > 0 && route.destination > known_[1]) {
        reportProblem("destination past the size",
                      "the router reported destination " + std::to_string(route.destination) + ", past the " +
                          std::to_string(known_[1]) +
                          " the device file gives (DatabaseSize_1); such routes are not followed");
        return;
    }
    int source = route.source;
    // An old controller's tie-line: the level of the source in the upper bits.
    // Lower bits of 0 name no source (there is no source 0): such a number is
    // no tie-line, and is followed as sent.
    if (source > tieline_source_mask && source > known_[0] && (source & tieline_source_mask) != 0)
        source &= tieline_source_mask;
    bool news = true;
    const std::size_t index = static_cast<std::size_t>(route.destination - 1);
    if (!route.update && index < routePending_.size() && routePending_[index]) {
        routePending_[index] = false;
        --routesLeft_;
        answered();
        news = answerIsNews_[index];
    }
    highestAnswered_ = std::max(highestAnswered_, route.destination);
    out_->emplace_back(std::in_place_type<act::crosspoint>, act::crosspoint{route.destination, source, !news});
}

void quartz_client::takeName(const message::name& name) {
    const int database = name.source ? source_labels : destination_labels;
    const std::size_t d = static_cast<std::size_t>(database);
    std::vector<bool>& pending = namePending_[d];
    int number = 0;
    if (name.number) {
        number = *name.number;
    } else {
        // Without its number a name answers the oldest request still open.
        const auto oldest = std::find(pending.begin(), pending.end(), true);
        if (oldest == pending.end()) {
            reportProblem(std::string("a ") + kinds[d] +
                          " name without its number that answers no request was dropped");
            return;
        }
        number = static_cast<int>(oldest - pending.begin()) + 1;
    }
    const int known = name.source ? known_[0] : known_[1];
    if (known > 0 && number > known) {
        reportProblem(std::string("name past the size ") + kinds[d],
                      "the router named " + std::string(kinds[d]) + " " + std::to_string(number) + ", past the " +
                          std::to_string(known) + " the device file gives (" + size_keys[d] +
                          "); such names are not shown");
        return;
    }
    if (static_cast<std::size_t>(number) <= pending.size() && pending[static_cast<std::size_t>(number - 1)]) {
        pending[static_cast<std::size_t>(number - 1)] = false;
        --namesLeft_[d];
        answered();
    }
    highestNamed_[d] = std::max(highestNamed_[d], number);
    const cleaned_label cleaned = cleanLabel(name.text);
    if (cleaned.repaired)
        reportProblem(
            "a name with control characters or bytes that are not UTF-8",
            repairedLabelText(std::string(kinds[d]) + " " + std::to_string(number) + "'s name", name.text, cleaned));
    out_->emplace_back(std::in_place_type<act::label>, act::label{database, number, cleaned.text});
}

}  // namespace quon::routers
