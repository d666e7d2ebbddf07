#include "quon/engine/contract_monitor.h"

#include <algorithm>
#include <cstring>

#include "quon/common/text.h"

namespace quon {

// Released replies are remembered, per component, to recognise a second
// hand-back (which comes, when it comes, right after the first).
std::string quotedForReport(const std::string& text) { return "\"" + escaped(text) + "\""; }

contract_monitor::contract_monitor(contract_reporter& report) : report_(report) {}

contract_monitor::~contract_monitor() {
    forEachOutstanding([this](given& o) { drop(o.text); });
    for (char* r : released_) drop(r);
}

template <typename visit>
void contract_monitor::forEachOutstanding(const visit& f) {
    if (!outstanding_.text) return;
    f(outstanding_);
    for (given& o : moreOutstanding_) f(o);
}

char* contract_monitor::allocate(size_t capacity) {
    char* block = new char[sizeof capacity + capacity];
    std::memcpy(block, &capacity, sizeof capacity);
    return block + sizeof capacity;
}

size_t contract_monitor::capacityOf(const char* text) const {
    if (text == own_) return own_reply;
    size_t capacity = 0;
    std::memcpy(&capacity, text - sizeof capacity, sizeof capacity);
    return capacity;
}

void contract_monitor::drop(char* text) {
    if (text == own_)
        ownLent_ = false;
    else if (text)
        delete[](text - sizeof(size_t));
}

void contract_monitor::report(violation_kind kind, const std::string& text) {
    report_.violated(contract_violation{kind, text});
}

bool contract_monitor::refuse(const char* text) {
    if (!text)
        report(violation_kind::command_without_text, "command without a text");
    else
        report(violation_kind::command_after_as, "command after \"AS\": " + quotedForReport(text));
    return false;
}

char* contract_monitor::give(const host_command_info& word, std::string_view text) {
    // The oldest remembered reply lends its block: its second hand-back,
    // if any, came right after the first and has been seen by now. The
    // remembered ones are the `releasedCount_` places before releasedNext_
    // (only the oldest is ever taken out).
    char** oldest =
        releasedCount_ ? &released_[(releasedNext_ + released_memory - releasedCount_) % released_memory] : nullptr;
    char* copy = nullptr;
    if (!ownLent_ && text.size() < own_reply) {
        copy = own_;
        ownLent_ = true;
    } else if (oldest && capacityOf(*oldest) > text.size()) {
        copy = *oldest;
        *oldest = nullptr;
        --releasedCount_;
    } else {
        copy = allocate(std::max(text.size() + 1, own_reply));
    }
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    if (!outstanding_.text)
        outstanding_ = given{copy, &word};
    else
        moreOutstanding_.push_back(given{copy, &word});
    return copy;
}

void contract_monitor::keep(const char* text, const host_command_info& word) {
    for (auto& k : kept_)
        if (k.first == text) return;
    kept_.emplace_back(text, &word);
}

void contract_monitor::handedBack(char* text) {
    if (!text) return;
    // The newest first: the one in place is the oldest.
    const host_command_info* word = nullptr;
    if (!moreOutstanding_.empty()) {
        for (auto o = moreOutstanding_.rbegin(); o != moreOutstanding_.rend(); ++o)
            if (o->text == text) {
                word = o->word;
                moreOutstanding_.erase(std::next(o).base());
                break;
            }
    }
    if (!word && outstanding_.text == text) {
        word = outstanding_.word;
        if (moreOutstanding_.empty()) {
            outstanding_ = given{nullptr, nullptr};
        } else {
            outstanding_ = moreOutstanding_.front();
            moreOutstanding_.erase(moreOutstanding_.begin());
        }
    }
    if (word) {
        if (!word->replyRead)
            report(violation_kind::unread_reply_handed_back,
                   std::string("handed back the reply to \"") + word->text + "\", which stays the host's");
        char*& place = released_[releasedNext_];
        drop(place);
        place = text;
        releasedNext_ = static_cast<uint8_t>((releasedNext_ + 1) % released_memory);
        releasedCount_ = std::min<uint8_t>(static_cast<uint8_t>(releasedCount_ + 1), released_memory);
        return;
    }
    for (const char* r : released_)
        if (r == text) {
            report(violation_kind::reply_handed_back_twice, "reply handed back twice: " + quotedForReport(text));
            return;
        }
    for (const auto& k : kept_) {
        if (k.first != text) continue;
        report(violation_kind::unread_reply_handed_back,
               std::string("handed back the reply to \"") + k.second->text + "\", which stays the host's");
        return;
    }
    report(violation_kind::foreign_text_handed_back, "handed back a text the host never gave");
}

void contract_monitor::parentReplied(const char* command, const char* reply) {
    if (!reply || *reply) return;
    // Checkers send parent commands of a megabyte: the start says which.
    const std::string to =
        command ? "to " + quotedForReport(std::string(std::string_view(command).substr(0, 60))) : "to a null command";
    report(violation_kind::empty_parent_reply, "parent command returned an empty text instead of null (" + to + ")");
}

void contract_monitor::destroyed(bool lastCommandWasAs) {
    if (!finished_)
        report(violation_kind::no_as_at_teardown, "destroyed without sending \"AS\"");
    else if (!lastCommandWasAs)
        report(violation_kind::as_not_last, "\"AS\" was not the last command");
    forEachOutstanding([this](given& o) {
        if (o.word->replyRead)
            report(violation_kind::reply_never_handed_back, "reply never handed back: " + quotedForReport(o.text));
        drop(o.text);
    });
    outstanding_ = given{nullptr, nullptr};
    moreOutstanding_.clear();
    for (char*& r : released_) {
        drop(r);
        r = nullptr;
    }
    releasedNext_ = 0;
    releasedCount_ = 0;
    kept_.clear();
    finished_ = false;
}

}  // namespace quon
