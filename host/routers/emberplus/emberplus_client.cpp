// Over 500 lines, as one machine: the walk to the matrix, the requests
// waiting for answers (sent again once, then given up), the matrix and its
// labels, and going up all read and change the same state of one
// connection, in an order the provider chooses; split, each part would
// reach into the others' members.
#include "quon/routers/emberplus/emberplus_client.h"

#include <algorithm>

#include "quon/routers/label_text.h"

namespace quon::routers {

namespace {

// Bytes with no good frame among them after which the stream is taken as
// beyond resynchronising.
constexpr std::size_t max_bytes_without_frame = 16384;
// Directories asked for while looking for the first matrix: a tree larger
// than this is not walked whole.
constexpr std::size_t max_walk_directories = 4096;
// Elements remembered for the walk: a provider that keeps naming new ones
// does not grow the client past this.
constexpr std::size_t max_walk_elements = 65536;
// The most targets or sources a matrix may have here, as for the other
// protocols; and the labelsLocation nodes asked for, two for each.
constexpr std::int64_t max_signals = 65536;
constexpr std::size_t max_locations = 2 * max_signals;
// Requests waiting for an answer at a time: the rest queue, so that a
// matrix with a labelsLocation per signal does not fill the write queue.
constexpr std::size_t max_waiting = 32;

const char* const database_keys[] = {"DatabaseSize_0", "DatabaseSize_1"};

bool startsWith(const glow::path& at, const glow::path& prefix) {
    return at.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), at.begin());
}

}  // namespace

bool parseMatrixPath(const std::string& text, emberplus_matrix_path& out, std::string& why) {
    out = emberplus_matrix_path();
    out.text = text;
    if (text.empty()) return true;
    const bool numeric = text.find_first_not_of("0123456789.") == std::string::npos;
    const char separator = numeric ? '.' : '/';
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty()) {
            why = "an empty part; give numbers (0.1.0) or identifiers (router/matrices/video)";
            return false;
        }
        if (numeric) {
            if (part.size() > 10 || std::stoull(part) > 0xFFFFFFFFull) {
                why = part + " is past the numbers of a path";
                return false;
            }
            out.numbers.push_back(static_cast<std::uint32_t>(std::stoull(part)));
        } else {
            out.identifiers.push_back(part);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return true;
}

emberplus_client::emberplus_client(const router_settings& settings, const emberplus_options& options)
    : connectTimeout_(settings.connectTimeout),
      answerWait_(options.answerWait),
      keepAliveInterval_(settings.keepAliveInterval),
      known_{std::max(settings.sources, 0), std::max(settings.destinations, 0)},
      wanted_(options.matrix) {}

void emberplus_client::begin(router_clock::time_point now, router_actions& out) {
    now_ = now;
    out_ = &out;
}

void emberplus_client::sendGlow(const std::string& ber) {
    if (!open_) return;
    lastSent_ = now_;
    out_->emplace_back(std::in_place_type<act::send>, act::send{s101::message(ber)});
}

void emberplus_client::fail(const std::string& why) {
    if (!open_) return;
    out_->emplace_back(std::in_place_type<act::fail>, act::fail{why});
    closed();
}

void emberplus_client::reportProblem(const std::string& cause, const std::string& text) {
    if (open_) out_->emplace_back(std::in_place_type<act::problem>, act::problem{cause, text});
}

// One wake-up: the connect limit while not up, the end of the wait for
// more answers while reading, and the first request whose wait ends.
void emberplus_client::armTimer() {
    if (!open_) return;
    std::optional<router_clock::time_point> deadline;
    const auto consider = [&](router_clock::time_point at) {
        if (!deadline || at < *deadline) deadline = at;
    };
    if (phase_ != phase::up) consider(connectDeadline_);
    // The end of the wait for more answers, unless it passed without the
    // sizes (then only the connect limit is left).
    const router_clock::time_point quiet = lastMessage_ + answerWait_;
    if (phase_ == phase::reading && quiet > now_) consider(quiet);
    for (const auto& [at, r] : waiting_) consider(r.sentAt + answerWait_);
    if (!deadline || armed_ == deadline) return;
    armed_ = deadline;
    out_->emplace_back(std::in_place_type<act::arm_timer>, act::arm_timer{*deadline});
}

void emberplus_client::closed() {
    open_ = false;
    phase_ = phase::walking;
    resyncing_ = false;
    armed_.reset();
    waiting_.clear();
    queued_.clear();
    queuedAt_.clear();
}

void emberplus_client::connected(router_clock::time_point now, router_actions& out) {
    begin(now, out);
    open_ = true;
    phase_ = phase::walking;
    resyncing_ = false;
    reader_.reset();
    armed_.reset();
    tree_.clear();
    asked_.clear();
    givenUp_.clear();
    labelsMissing_[0] = labelsMissing_[1] = false;
    waiting_.clear();
    queued_.clear();
    queuedAt_.clear();
    matrix_.reset();
    targetCount_.reset();
    sourceCount_.reset();
    layer_.reset();
    labelsDeclared_ = false;
    locations_.clear();
    locationParameter_.clear();
    connectionsRead_ = false;
    sourceOf_.clear();
    named_[0].clear();
    named_[1].clear();
    connectDeadline_ = lastMessage_ = lastSent_ = lastHeard_ = now;
    connectDeadline_ += connectTimeout_;
    askDirectory({});
    armTimer();
}

void emberplus_client::askDirectory(const glow::path& at) {
    if (!asked_.insert(at).second) return;
    request r;
    r.at = at;
    ask(std::move(r));
}

// Sent now, or queued while max_waiting requests wait; nothing when the
// same path is already asked for.
void emberplus_client::ask(request r) {
    if (waiting_.count(r.at) || queuedAt_.count(r.at)) return;
    if (waiting_.size() >= max_waiting) {
        queuedAt_.insert(r.at);
        queued_.push_back(std::move(r));
        return;
    }
    send(waiting_.emplace(r.at, std::move(r)).first->second);
}

// One command, alone in its message.
void emberplus_client::send(request& r) {
    r.sentAt = now_;
    sendGlow(glow::getDirectory(r.at, r.what == subject::matrix ? glow::kind::matrix : glow::kind::node));
}

void emberplus_client::sendQueued() {
    while (open_ && waiting_.size() < max_waiting && !queued_.empty()) {
        request r = std::move(queued_.front());
        queued_.pop_front();
        queuedAt_.erase(r.at);
        send(waiting_.emplace(r.at, std::move(r)).first->second);
    }
}

// An element answers every request for a node above it; and the request
// at its own path when that is the matrix, or when it is a node without
// contents (how a node without children is answered). A node named with
// its contents is its parent's listing, which may come after the request.
void emberplus_client::answered(const glow::element& e) {
    if (waiting_.empty()) return;
    glow::path prefix;
    prefix.reserve(e.at.size());
    for (const std::uint32_t number : e.at) {
        waiting_.erase(prefix);
        prefix.push_back(number);
    }
    const auto own = waiting_.find(e.at);
    if (own != waiting_.end() && (own->second.what == subject::matrix || !e.hasContents)) waiting_.erase(own);
}

void emberplus_client::bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now,
                             router_actions& out) {
    if (!open_) return;
    begin(now, out);
    lastHeard_ = now;
    reader_.feed(data, size, *this);
    if (open_ && reader_.bytesSinceGoodFrame() > max_bytes_without_frame)
        fail("no valid S101 frame among " + std::to_string(max_bytes_without_frame) + " bytes");
    armTimer();
}

void emberplus_client::onKeepAliveResponse() {
    if (open_) out_->emplace_back(std::in_place_type<act::answered>);
}

void emberplus_client::onKeepAliveRequest() {
    if (!open_) return;
    lastSent_ = now_;
    out_->emplace_back(std::in_place_type<act::send>, act::send{s101::keepAliveResponse()});
}

void emberplus_client::onMessage(const std::string& ber) {
    if (!open_) return;
    lastMessage_ = now_;
    std::vector<glow::element> elements;
    std::string error;
    if (!glow::decode(ber, elements, error))
        reportProblem("a malformed Ember+ message", "a malformed Ember+ message, read up to its fault: " + error);
    for (const glow::element& e : elements)
        if (e.what != glow::kind::command) answered(e);
    if (phase_ == phase::walking) {
        for (const glow::element& e : elements) learn(e);
        walk();
    }
    if (matrix_) {
        for (const glow::element& e : elements) {
            if (!open_) return;
            apply(e);
        }
    }
    sendQueued();
    endResyncWhenAnswered();
    if (phase_ == phase::reading && connectionsRead_ && targetCount_ && sourceCount_) {
        // Without labels known yet, they may still come: up when nothing
        // more comes (readIfSettled()).
        const bool allLabels = (layer_ || !locations_.empty()) &&
                               static_cast<std::int64_t>(named_[source_labels].size()) >= *sourceCount_ &&
                               static_cast<std::int64_t>(named_[destination_labels].size()) >= *targetCount_;
        if (allLabels) goUp();
    }
}

// What the walk needs of every element: its kind and identifier.
void emberplus_client::learn(const glow::element& e) {
    if (e.what == glow::kind::command) return;
    if (tree_.size() >= max_walk_elements && !tree_.count(e.at)) {
        reportProblem("a tree too large to walk", "more than " + std::to_string(max_walk_elements) +
                                                      " elements met before the matrix; further ones are not walked");
        return;
    }
    known_element& known = tree_[e.at];
    known.what = e.what;
    if (e.identifier) known.identifier = *e.identifier;
    if (e.online) known.offline = !*e.online;
}

void emberplus_client::walk() {
    if (wanted_.first()) {
        for (const auto& [at, known] : tree_) {
            if (known.what == glow::kind::matrix) {
                found(at);
                return;
            }
        }
        for (const auto& [at, known] : tree_) {
            if (known.what != glow::kind::node || known.offline || asked_.count(at)) continue;
            if (asked_.size() >= max_walk_directories) break;
            askDirectory(at);
        }
        return;
    }
    // A provider may name the matrix by its path before its parents.
    if (!wanted_.numbers.empty()) {
        const auto known = tree_.find(wanted_.numbers);
        if (known != tree_.end() && known->second.what == glow::kind::matrix) {
            found(known->first);
            return;
        }
    }
    const std::size_t depth = wanted_.numbers.empty() ? wanted_.identifiers.size() : wanted_.numbers.size();
    glow::path parent;
    for (std::size_t level = 0; level < depth; ++level) {
        std::optional<glow::path> child;
        if (!wanted_.numbers.empty()) {
            glow::path at = parent;
            at.push_back(wanted_.numbers[level]);
            if (tree_.count(at)) child = at;
        } else {
            // The children of `parent` follow it in the map's order.
            for (auto it = tree_.upper_bound(parent); it != tree_.end() && startsWith(it->first, parent); ++it) {
                if (it->first.size() == parent.size() + 1 && it->second.identifier == wanted_.identifiers[level]) {
                    child = it->first;
                    break;
                }
            }
        }
        if (!child) return;  // not yet known: its parent's answer is still to come
        const known_element& known = tree_[*child];
        if (level + 1 == depth) {
            if (known.what == glow::kind::matrix)
                found(*child);
            else
                fail("the element at Matrix=" + wanted_.text + " (" + glow::showPath(*child) + ") is not a matrix");
            return;
        }
        if (known.what != glow::kind::node) {
            fail("Matrix=" + wanted_.text + " passes through " + glow::showPath(*child) + ", which is not a node");
            return;
        }
        askDirectory(*child);
        parent = *child;
    }
}

// How far the walk came, for the failure that ends it.
std::string emberplus_client::whereWalked() const {
    const glow::path* deepest = nullptr;
    for (const auto& [at, known] : tree_)
        if (known.what == glow::kind::node && (!deepest || at.size() > deepest->size())) deepest = &at;
    return std::to_string(tree_.size()) + " elements seen" + (deepest ? ", down to " + glow::showPath(*deepest) : "");
}

void emberplus_client::found(const glow::path& matrix) {
    matrix_ = matrix;
    phase_ = phase::reading;
    lastMessage_ = now_;
    // The rest of the walk is not needed any more.
    waiting_.clear();
    queued_.clear();
    queuedAt_.clear();
    request r;
    r.at = matrix;
    r.what = subject::matrix;
    ask(std::move(r));
}

void emberplus_client::apply(const glow::element& e) {
    if (e.what == glow::kind::matrix && e.at == *matrix_) {
        applyMatrix(e);
        return;
    }
    if (e.what != glow::kind::parameter || !e.text || e.at.empty()) return;
    if (layer_ && e.at.size() == layer_->basePath.size() + 2 && startsWith(e.at, layer_->basePath)) {
        const std::uint32_t which = e.at[e.at.size() - 2];
        if (which == 1) applyLabel(destination_labels, e.at.back(), *e.text);
        if (which == 2) applyLabel(source_labels, e.at.back(), *e.text);
        return;
    }
    if (locations_.empty()) return;
    const glow::path parent(e.at.begin(), e.at.end() - 1);
    const auto location = locations_.find(parent);
    if (location == locations_.end()) return;
    // The node may hold several strings; the lowest-numbered one is shown.
    const auto chosen = locationParameter_.find(parent);
    if (chosen != locationParameter_.end() && chosen->second < e.at.back()) return;
    locationParameter_[parent] = e.at.back();
    applyLabel(location->second.first, location->second.second, *e.text);
}

void emberplus_client::applyMatrix(const glow::element& e) {
    for (const auto& [count, what] : {std::make_pair(e.targetCount, "targets"), std::make_pair(e.sourceCount, "sources")}) {
        if (count && (*count < 0 || *count > max_signals)) {
            fail("the matrix at " + glow::showPath(*matrix_) + " has " + std::to_string(*count) + " " + what +
                 "; the link takes 0 to " + std::to_string(max_signals));
            return;
        }
    }
    if (e.targetCount) targetCount_ = *e.targetCount;
    if (e.sourceCount) {
        const bool first = !sourceCount_;
        sourceCount_ = *e.sourceCount;
        if (first && known_[source_labels] > 0 && *sourceCount_ != known_[source_labels])
            reportProblem("source count", "the matrix has " + std::to_string(*sourceCount_) +
                                              " sources (sourceCount); the device file says " +
                                              std::to_string(known_[source_labels]) + " (" +
                                              database_keys[source_labels] + "), which is what components use");
    }
    if (e.labels && !e.labels->empty() && !layer_) {
        layer_ = e.labels->front();
        labelsDeclared_ = true;
        askLabels();
    }
    const auto locate = [&](const std::optional<std::vector<glow::signal>>& signals, int database) {
        if (!signals) return;
        for (const glow::signal& s : *signals) {
            if (!s.labelsLocation || s.labelsLocation->empty()) continue;
            labelsDeclared_ = true;
            if (locations_.size() >= max_locations) {
                reportProblem("too many labelsLocation nodes", "more labelsLocation nodes than the matrix has "
                                                               "signals; further ones are not asked for");
                break;
            }
            if (locations_.emplace(*s.labelsLocation, std::make_pair(database, s.number)).second) {
                request r;
                r.at = *s.labelsLocation;
                r.what = subject::labels;
                r.database = database;
                r.signal = s.number;
                ask(std::move(r));
            }
        }
    };
    locate(e.targets, destination_labels);
    locate(e.sources, source_labels);
    if (e.connections) {
        if (!e.connections->empty() && phase_ == phase::reading) connectionsRead_ = true;
        for (const glow::connection& c : *e.connections) applyConnection(c);
    }
}

void emberplus_client::applyConnection(const glow::connection& c) {
    // What a pending connection names is not in effect yet; and until the
    // matrix's sizes are known a connection cannot be checked (the answer
    // to the GetDirectory brings both).
    if (c.disposition == glow::disposition_pending || !targetCount_ || !sourceCount_) return;
    if (c.target < 0 || c.target >= *targetCount_) {
        reportProblem("a connection outside the matrix",
                      "a connection of target " + std::to_string(c.target) + ", outside the matrix's targets");
        return;
    }
    int source = 0;
    if (!c.sources.empty()) {
        const std::uint32_t lowest = *std::min_element(c.sources.begin(), c.sources.end());
        if (lowest >= *sourceCount_) {
            reportProblem("a connection outside the matrix",
                          "a connection of source " + std::to_string(lowest) + ", outside the matrix's sources");
            return;
        }
        source = static_cast<int>(lowest) + 1;
    }
    sourceOf_[c.target] = source;
    // Before up, the routes wait for the labels (goUp()): a display shown a
    // route asks for its name at once.
    if (phase_ != phase::up) return;
    // What the provider repeats (a resync, a tally of a request) is news
    // only when it changes what is held.
    out_->emplace_back(std::in_place_type<act::crosspoint>,
                       act::crosspoint{static_cast<int>(c.target) + 1, source, true});
}

void emberplus_client::applyLabel(int database, std::int64_t signal, const std::string& raw) {
    const std::optional<std::int64_t>& count = database == source_labels ? sourceCount_ : targetCount_;
    const char* const what = database == source_labels ? "source " : "target ";
    if (!count) return;  // the label layer is named with the sizes: only a stray parameter comes before them
    if (signal < 0 || signal >= *count) {
        reportProblem("a label outside the matrix",
                      std::string("a label of ") + what + std::to_string(signal) + ", outside the matrix");
        return;
    }
    const cleaned_label cleaned = cleanLabel(raw);
    if (cleaned.repaired)
        reportProblem("a label with control characters or bytes that are not UTF-8",
                      repairedLabelText(what + std::to_string(signal) + "'s label", raw, cleaned));
    named_[database].insert(signal);
    out_->emplace_back(std::in_place_type<act::label>, act::label{database, static_cast<int>(signal) + 1, cleaned.text});
}

void emberplus_client::timer(router_clock::time_point now, router_actions& out) {
    if (!open_ || !armed_ || now < *armed_) return;
    begin(now, out);
    armed_.reset();
    giveUp(now);
    if (!open_) return;
    sendQueued();
    endResyncWhenAnswered();
    readIfSettled();
    if (phase_ == phase::reading && now >= connectDeadline_ && targetCount_ && sourceCount_) {
        // What still waits goes on waiting while up.
        settle();
    } else if (phase_ != phase::up && now >= connectDeadline_) {
        const std::string limit = std::to_string(connectTimeout_.count()) + " ms";
        if (phase_ == phase::walking)
            fail((wanted_.first() ? std::string("no matrix found") : "no matrix at Matrix=" + wanted_.text) +
                 " within " + limit + " (" + whereWalked() + ")");
        else
            fail("the matrix at " + glow::showPath(*matrix_) + " gave no targetCount and sourceCount within " + limit);
        return;
    }
    armTimer();
}

// Each request whose wait is over: sent again once, then given up. Where
// nothing at all came since it was sent again, the provider is asked for a
// keep-alive first: one that answers it is alive and passed the request
// over, as providers in use do, and the request is given up; one that
// answers nothing hung, and the connection fails. Gone on without, the link
// would show what it holds of the last connection beside this one's state.
void emberplus_client::giveUp(router_clock::time_point now) {
    std::vector<request> lost;
    bool probe = false;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        request& r = it->second;
        if (now < r.sentAt + answerWait_) {
            ++it;
        } else if (!r.repeated) {
            r.repeated = true;
            send(r);
            ++it;
        } else if (lastHeard_ < r.sentAt && !r.probed) {
            r.probed = true;
            r.sentAt = now;
            probe = true;
            ++it;
        } else if (lastHeard_ < r.sentAt) {
            fail("nothing came from the provider, not even the answer to a keep-alive, within " +
                 std::to_string(answerWait_.count()) + " ms of asking again for " +
                 (r.at.empty() ? std::string("the root") : glow::showPath(r.at)));
            return;
        } else {
            lost.push_back(std::move(r));
            it = waiting_.erase(it);
        }
    }
    if (probe) {
        lastSent_ = now;
        out_->emplace_back(std::in_place_type<act::send>, act::send{s101::keepAliveRequest()});
    }
    // Each labelsLocation node is a request of its own: those lost together
    // are said once. A resync's request lost again is not said again.
    std::size_t locations = 0;
    for (const request& r : lost) {
        if (!givenUp_.insert(r.at).second) continue;
        if (r.what == subject::labels) labelsMissing_[r.database] = true;
        if (r.signal && locations++ > 0) continue;
        std::string text = missingText(r);
        out_->emplace_back(std::in_place_type<act::missing>, act::missing{std::move(text)});
    }
    if (locations > 1)
        out_->emplace_back(std::in_place_type<act::missing>,
                           act::missing{std::to_string(locations - 1) + " other labelsLocation nodes did not come either"});
}

// What did not come, its path, and what is shown instead.
std::string emberplus_client::missingText(const request& r) const {
    const std::string at = " (path " + (r.at.empty() ? std::string("root") : glow::showPath(r.at)) + ") did not come";
    const bool targets = r.database == destination_labels;
    switch (r.what) {
        case subject::node:
            return (r.at.empty() ? std::string("the top-level elements") : "the children of node " + glow::showPath(r.at)) +
                   at + "; walking on without them";
        case subject::matrix:
            return "the matrix's connections" + at +
                   (phase_ == phase::up ? "; keeping the routes held" : "; a target without a route shows none");
        case subject::labels:
            if (r.signal)
                return std::string(targets ? "target " : "source ") + std::to_string(*r.signal) + "'s labels" + at +
                       (named_[r.database].count(*r.signal) ? "; keeping its name" : "; showing its number");
            // Names this connection already gave (a resync's request) stay.
            return std::string(targets ? "the targets' labels" : "the sources' labels") + at +
                   (named_[r.database].empty() ? "; showing numbers" : "; keeping the names held");
    }
    return {};
}

// While reading: up once no request waits and nothing more came for
// answerWait.
void emberplus_client::readIfSettled() {
    if (phase_ != phase::reading || !targetCount_ || !sourceCount_) return;
    if (!waiting_.empty() || !queued_.empty() || now_ < lastMessage_ + answerWait_) return;
    settle();
}

void emberplus_client::settle() {
    if (!layer_ && locations_.empty() && !labelsDeclared_)
        reportProblem("missing labels", "the matrix at " + glow::showPath(*matrix_) + " declares no labels: showing numbers");
    goUp();
}

// A signal without a label on this connection shows its number: a display
// is never left blank for want of a name.
void emberplus_client::nameTheUnnamed() {
    for (const int database : {source_labels, destination_labels}) {
        const std::int64_t count = database == source_labels ? *sourceCount_ : *targetCount_;
        const std::set<std::int64_t>& named = named_[database];
        // Said already when a label request did not come; and nothing to
        // say of a matrix that declares no labels (settle()).
        if (labelsDeclared_ && !labelsMissing_[database] && static_cast<std::int64_t>(named.size()) < count)
            reportProblem(database == source_labels ? "unlabelled sources" : "unlabelled targets",
                          std::string("labels came for ") + std::to_string(named.size()) + " of the matrix's " +
                              std::to_string(count) + (database == source_labels ? " sources" : " targets") +
                              "; the others show their numbers");
        for (std::int64_t signal = 0; signal < count; ++signal)
            if (!named.count(signal))
                out_->emplace_back(std::in_place_type<act::label>,
                                   act::label{database, static_cast<int>(signal) + 1, std::to_string(signal + 1)});
    }
}

void emberplus_client::goUp() {
    if (phase_ != phase::reading) return;
    phase_ = phase::up;
    nameTheUnnamed();
    // Every route read, after the labels; a target the provider did not
    // list has nothing connected.
    for (std::int64_t target = 0; target < *targetCount_; ++target) {
        const int source = sourceOf_.emplace(target, 0).first->second;
        out_->emplace_back(std::in_place_type<act::crosspoint>,
                           act::crosspoint{static_cast<int>(target) + 1, source, false});
    }
    out_->emplace_back(std::in_place_type<act::up>,
                       act::up{static_cast<int>(*sourceCount_), static_cast<int>(*targetCount_)});
}

void emberplus_client::keepAlive(router_clock::time_point now, router_actions& out) {
    if (!open_ || phase_ != phase::up) return;
    begin(now, out);
    // A provider may close a connection it has not heard from for a while,
    // and may never ask itself: quiet either way, ask.
    if (now - lastSent_ < keepAliveInterval_ && now - lastHeard_ < keepAliveInterval_) return;
    lastSent_ = now;
    out.emplace_back(std::in_place_type<act::send>, act::send{s101::keepAliveRequest()});
}

void emberplus_client::resync(router_clock::time_point now, router_actions& out) {
    if (!open_ || phase_ != phase::up) return;
    begin(now, out);
    // One read: whole once every request of it is answered or given up.
    out.emplace_back(std::in_place_type<act::read_start>);
    resyncing_ = true;
    askState();
}

void emberplus_client::endResyncWhenAnswered() {
    if (!open_ || !resyncing_ || !waiting_.empty() || !queued_.empty()) return;
    resyncing_ = false;
    out_->emplace_back(std::in_place_type<act::read_end>);
}

// The whole state again: the matrix, and the nodes of its labels.
void emberplus_client::askState() {
    request r;
    r.at = *matrix_;
    r.what = subject::matrix;
    ask(std::move(r));
    if (layer_) askLabels();
    for (const auto& [location, signal] : locations_) {
        request l;
        l.at = location;
        l.what = subject::labels;
        l.database = signal.first;
        l.signal = signal.second;
        ask(std::move(l));
    }
    armTimer();
}

// The label layer's targets (basePath.1) and sources (basePath.2).
void emberplus_client::askLabels() {
    for (const int database : {destination_labels, source_labels}) {
        request r;
        r.at = layer_->basePath;
        r.at.push_back(database == destination_labels ? 1 : 2);
        r.what = subject::labels;
        r.database = database;
        ask(std::move(r));
    }
}

bool emberplus_client::requestRoute(int destination, int source, router_actions& out) {
    if (!open_ || phase_ != phase::up || destination < 1 || source < 1) return false;
    if (destination > *targetCount_ || source > *sourceCount_) return false;
    out_ = &out;
    sendGlow(glow::connectionRequest(*matrix_, destination - 1, static_cast<std::uint32_t>(source - 1)));
    return true;
}

// The provider pushes every change it was subscribed to: the answer is what
// it last reported.
void emberplus_client::poll(int firstDestination, int lastDestination, router_actions& out) {
    if (!open_ || phase_ != phase::up) return;
    for (auto it = sourceOf_.lower_bound(std::max(firstDestination, 1) - 1);
         it != sourceOf_.end() && it->first <= static_cast<std::int64_t>(lastDestination) - 1; ++it)
        out.emplace_back(std::in_place_type<act::crosspoint>,
                         act::crosspoint{static_cast<int>(it->first) + 1, it->second, false});
}

}  // namespace quon::routers
