// The host contract, checked in one place for every host that runs
// components (the engine behind run, shell and serve, and the contract
// host behind validate), with one wording for each breach:
//   - a command has a text, and none follows "AS";
//   - a component hands back (type 5) exactly the replies it reads, once;
//   - a component's teardown ends with "AS", and every reply it reads is
//     back by then;
//   - only parent commands return texts, never an empty one; no exception
//     leaves callback.
//
// One monitor watches one component's life. It owns the reply texts it
// gives out until the component hands them back and a while after, so that
// a second hand-back is recognised rather than read from freed memory.
// Not thread-safe: it runs on the host's one thread.
#ifndef QUON_ENGINE_CONTRACT_MONITOR_H
#define QUON_ENGINE_CONTRACT_MONITOR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quon/engine/host_commands.h"

namespace quon {

enum class violation_kind {
    command_without_text,
    malformed_command,
    command_after_as,
    wrong_message_type,  // a type only the host sends, sent to the host
    reply_handed_back_twice,
    foreign_text_handed_back,
    unread_reply_handed_back,  // a reply that stays the host's
    reply_never_handed_back,
    no_as_at_teardown,
    as_not_last,
    text_from_message,  // a message other than a parent command returned a text
    empty_parent_reply,
    exception_left_callback,
};

struct contract_violation {
    violation_kind kind;
    std::string text;  // the whole sentence, as every host words it
};

// Who hears of each breach as it is seen (the engine's slot of the
// component, the contract host).
class contract_reporter {
public:
    virtual void violated(const contract_violation& v) = 0;

protected:
    ~contract_reporter() = default;
};

class contract_monitor {
public:
    // `report` hears of each breach; it outlives the monitor.
    explicit contract_monitor(contract_reporter& report);
    ~contract_monitor();
    contract_monitor(const contract_monitor&) = delete;
    contract_monitor& operator=(const contract_monitor&) = delete;

    // A command arrived. False when it must not be acted on (no text, or
    // after "AS"); the breach is reported.
    bool command(const char* text) { return (text && !finished_) || refuse(text); }
    // "AS" arrived.
    void finished() { finished_ = true; }
    bool isFinished() const { return finished_; }

    // A reply for a command of `word`: a copy the component may read, owned
    // by the monitor until handed back. A short reply goes into the
    // monitor's own buffer while that is free; otherwise the oldest
    // remembered released reply lends its block when it is large enough
    // (it is forgotten). A component that reads a reply on every revertive
    // thus costs no allocation, and its replies stay inside its host link.
    char* give(const host_command_info& word, std::string_view text);
    // Type 5 from the component.
    void handedBack(char* text);
    // A text the host keeps (the reply to "PS"): handing it back is a breach.
    void keep(const char* text, const host_command_info& word);

    // A parent command (`command`, null allowed) returned `reply`: null or
    // a text; an empty text is a breach, null being how a component says it
    // has no answer.
    void parentReplied(const char* command, const char* reply);

    // The component is gone: "AS" must have come, every read reply be back.
    // `lastCommandWasAs` is checked when the caller knows it.
    void destroyed(bool lastCommandWasAs = true);

    void report(violation_kind kind, const std::string& text);

private:
    struct given {
        char* text;  // owned until handed back
        const host_command_info* word;
    };
    static constexpr uint8_t released_memory = 8;
    static constexpr size_t own_reply = 24;  // the own buffer, and the smallest block given
    // A reply block other than own_ keeps its capacity just before its text,
    // so that a remembered reply is one pointer (a monitor per display).
    static char* allocate(size_t capacity);
    size_t capacityOf(const char* text) const;
    // Frees a reply block, or takes back the own buffer.
    void drop(char* text);
    // Reports why command() refuses `text`; false.
    bool refuse(const char* text);
    // Calls f(given&) for each reply out, oldest first.
    template <typename visit>
    void forEachOutstanding(const visit& f);

    // What a revertive touches comes first, in two cache lines with the
    // host link's own fields (a salvo streams every display's):
    // The latest replies handed back, still owned, so that a second
    // hand-back is recognised: a ring, `releasedNext_` the oldest (or
    // empty) place, written over by the next hand-back.
    char* released_[released_memory] = {};
    uint8_t releasedNext_ = 0;
    uint8_t releasedCount_ = 0;  // how many places before releasedNext_ hold one
    bool finished_ = false;
    bool ownLent_ = false;  // own_ is out, or remembered as released
    char own_[own_reply];
    // The replies out, oldest first: a component has one out at a time,
    // nearly always, kept here (text null: none); any others after it,
    // searched from the back. `moreOutstanding_` is empty while
    // `outstanding_` is.
    given outstanding_{nullptr, nullptr};
    std::vector<given> moreOutstanding_;
    std::vector<std::pair<const char*, const host_command_info*>> kept_;
    contract_reporter& report_;
};

// How a breach reads, for a violation that carries a text.
std::string quotedForReport(const std::string& text);

}  // namespace quon

#endif
