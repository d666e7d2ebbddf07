// emberplus_client: an Ember+ matrix consumer over S101, without I/O
// (router_client.h).
//
// On connect it walks the provider's tree from the root with GetDirectory
// to the matrix the settings name (by numbers or identifiers; with none,
// the first matrix the walk meets), then sends GetDirectory inside the
// matrix, which brings its contents and connections and subscribes to
// their changes, and GetDirectory on the nodes that hold its labels (the
// matrix's first label layer, basePath.1 for targets and basePath.2 for
// sources, or each signal's labelsLocation), which subscribes to renames.
//
// Every request is one command in a message of its own: a provider may act
// on the first element of a message only. A request is answered by any
// element under its path (or the matrix, or an empty node, at it); one not
// answered within answerWait is sent
// again once, and then given up: the client carries on without it and says
// what did not come (act::missing), once per connection. At most
// max_waiting requests wait for an answer at a time; the rest queue.
//
// It goes up when the connections came and every label came, or when no
// request waits and nothing more came for answerWait, reporting the labels
// as they come and the routes when it goes up (a display shown a route
// asks for its name at once). A signal the provider gave no label on this
// connection is labelled with its number as the host counts (from 1).
// Providers answer in any shape (qualified or nested, in one message or
// several, unasked), so every element is applied by its path, never
// matched to a request; a connection update carries only the targets that
// changed. A target connected to several sources (N:N) shows the
// lowest-numbered one; one connected to none shows source 0.
//
// Numbering: host destination d is target d-1, source s is source s-1.
// Keep-alive: a request is always answered; one is sent when either side
// has been quiet for the keep-alive interval. Resync: the matrix and the
// labels asked for again; only what differs reaches the listener.
#ifndef QUON_ROUTERS_EMBERPLUS_CLIENT_H
#define QUON_ROUTERS_EMBERPLUS_CLIENT_H

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quon/routers/emberplus/emberplus_glow.h"
#include "quon/routers/emberplus/emberplus_s101.h"
#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"

namespace quon::routers {

// Where the matrix is, as the device file's Matrix= gives it.
struct emberplus_matrix_path {
    std::string text;                      // as given, for messages
    std::vector<std::uint32_t> numbers;    // "0.1.0"
    std::vector<std::string> identifiers;  // "router/matrices/video"
    bool first() const { return numbers.empty() && identifiers.empty(); }
};
// False with what is wrong ("an empty part; ...") when `text` is neither
// form; empty text is the first matrix.
bool parseMatrixPath(const std::string& text, emberplus_matrix_path& out, std::string& why);

// What an Ember+ client reads besides the router_settings: the device
// file's Matrix and AnswerWait (emberplus_descriptor.h).
struct emberplus_options {
    emberplus_matrix_path matrix;  // none: the first matrix found from the root
    // At connect, the wait for further answers; and each request's wait
    // for its answer before it is sent again, once.
    std::chrono::milliseconds answerWait{1000};
};

class emberplus_client final : public router_client, private s101::frame_sink {
public:
    emberplus_client(const router_settings& settings, const emberplus_options& options);

    void connected(router_clock::time_point now, router_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) override;
    void timer(router_clock::time_point now, router_actions& out) override;
    void keepAlive(router_clock::time_point now, router_actions& out) override;
    void resync(router_clock::time_point now, router_actions& out) override;
    void closed() override;
    bool requestRoute(int destination, int source, router_actions& out) override;
    void poll(int firstDestination, int lastDestination, router_actions& out) override;

private:
    enum class phase { walking, reading, up };

    // What a GetDirectory asks for: a node of the walk, the matrix, or the
    // node of labels of one database (of one signal, through labelsLocation).
    enum class subject { node, matrix, labels };
    struct request {
        glow::path at;
        subject what = subject::node;
        int database = source_labels;
        std::optional<std::int64_t> signal;  // labelsLocation only
        router_clock::time_point sentAt;
        bool repeated = false;
        bool probed = false;  // sent again, nothing came, and a keep-alive asked
    };

    void begin(router_clock::time_point now, router_actions& out);
    void sendGlow(const std::string& ber);
    void fail(const std::string& why);
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    void armTimer();

    void onMessage(const std::string& ber) override;
    void onKeepAliveRequest() override;
    void onKeepAliveResponse() override;
    void onFrameProblem(s101::problem p) override { reportProblem(s101::describe(p)); }

    void learn(const glow::element& e);
    void walk();
    void askDirectory(const glow::path& at);
    void ask(request r);
    void send(request& r);
    void sendQueued();
    void answered(const glow::element& e);
    void giveUp(router_clock::time_point now);
    std::string missingText(const request& r) const;
    void readIfSettled();
    void found(const glow::path& matrix);
    void apply(const glow::element& e);
    void applyMatrix(const glow::element& e);
    void applyConnection(const glow::connection& c);
    void applyLabel(int database, std::int64_t signal, const std::string& raw);
    void askState();
    void endResyncWhenAnswered();
    void askLabels();
    void settle();
    void nameTheUnnamed();
    void goUp();
    std::string whereWalked() const;

    const std::chrono::milliseconds connectTimeout_;
    const std::chrono::milliseconds answerWait_;
    const std::chrono::milliseconds keepAliveInterval_;
    const int known_[2];  // by database: the device file's size, 0 when it gives none
    const emberplus_matrix_path wanted_;

    // The current event's list; owned by the caller of that event, set for
    // its duration only.
    router_actions* out_ = nullptr;
    router_clock::time_point now_;
    bool open_ = false;
    phase phase_ = phase::walking;
    bool resyncing_ = false;  // up, and a resync's requests are not all answered yet
    s101::reader reader_;
    router_clock::time_point connectDeadline_;
    router_clock::time_point lastMessage_;
    router_clock::time_point lastSent_;
    router_clock::time_point lastHeard_;
    std::optional<router_clock::time_point> armed_;

    // The walk: what each path is, and which nodes were asked for.
    struct known_element {
        glow::kind what = glow::kind::node;
        std::string identifier;
        bool offline = false;
    };
    std::map<glow::path, known_element> tree_;
    std::set<glow::path> asked_;

    // Requests sent and not yet answered, by path; and those waiting for
    // their turn, in order, with their paths.
    std::map<glow::path, request> waiting_;
    std::deque<request> queued_;
    std::set<glow::path> queuedAt_;
    std::set<glow::path> givenUp_;  // said on this connection: said once
    bool labelsMissing_[2] = {false, false};  // by database: a label request of it was given up

    // The matrix, on this connection.
    std::optional<glow::path> matrix_;
    std::optional<std::int64_t> targetCount_;
    std::optional<std::int64_t> sourceCount_;
    std::optional<glow::label_layer> layer_;  // the first label layer
    bool labelsDeclared_ = false;
    std::map<glow::path, std::pair<int, std::int64_t>> locations_;  // labelsLocation -> (database, signal)
    std::map<glow::path, std::uint32_t> locationParameter_;  // labelsLocation -> the parameter whose value is shown
    bool connectionsRead_ = false;
    std::map<std::int64_t, int> sourceOf_;  // target -> host source (0: none)
    std::set<std::int64_t> named_[2];  // by database: the signals given a label on this connection
};

}  // namespace quon::routers

#endif
