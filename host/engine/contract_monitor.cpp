#include "quon/engine/contract_monitor.h"

#include <algorithm>
#include <cstring>

#include "quon/common/text.h"

namespace quon {

namespace {

// Released replies remembered, per component, to recognise a second
// hand-back (which comes, when it comes, right after the first).
const size_t released_memory = 8;

}  // namespace

std::string quotedForReport(const std::string& text) { return "\"" + escaped(text) + "\""; }

contract_monitor::contract_monitor(std::function<void(const contract_violation&)> report)
    : report_(std::move(report)) {}

contract_monitor::~contract_monitor() {
    for (const given& o : outstanding_) delete[] o.text;
    for (char* r : released_) delete[] r;
}

void contract_monitor::report(violation_kind kind, const std::string& text) {
    if (report_) report_(contract_violation{kind, text});
}

bool contract_monitor::command(const char* text) {
    if (!text) {
        report(violation_kind::command_without_text, "command without a text");
        return false;
    }
    if (finished_) {
        report(violation_kind::command_after_as, "command after \"AS\": " + quotedForReport(text));
        return false;
    }
    return true;
}

char* contract_monitor::give(const host_command_info& word, const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    outstanding_.push_back(given{copy, &word});
    return copy;
}

void contract_monitor::keep(const char* text, const host_command_info& word) {
    for (auto& k : kept_)
        if (k.first == text) return;
    kept_.emplace_back(text, &word);
}

void contract_monitor::handedBack(char* text) {
    if (!text) return;
    for (auto o = outstanding_.rbegin(); o != outstanding_.rend(); ++o) {
        if (o->text != text) continue;
        if (!o->word->replyRead)
            report(violation_kind::unread_reply_handed_back,
                   std::string("handed back the reply to \"") + o->word->text + "\", which stays the host's");
        outstanding_.erase(std::next(o).base());
        if (released_.size() < released_memory) {
            released_.push_back(text);
        } else {
            delete[] released_[releasedNext_];
            released_[releasedNext_] = text;
            releasedNext_ = (releasedNext_ + 1) % released_memory;
        }
        return;
    }
    if (std::find(released_.begin(), released_.end(), text) != released_.end()) {
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

void contract_monitor::destroyed(bool lastCommandWasAs) {
    if (!finished_)
        report(violation_kind::no_as_at_teardown, "destroyed without sending \"AS\"");
    else if (!lastCommandWasAs)
        report(violation_kind::as_not_last, "\"AS\" was not the last command");
    for (const given& o : outstanding_) {
        if (o.word->replyRead)
            report(violation_kind::reply_never_handed_back, "reply never handed back: " + quotedForReport(o.text));
        delete[] o.text;
    }
    outstanding_.clear();
    for (char* r : released_) delete[] r;
    released_.clear();
    releasedNext_ = 0;
    kept_.clear();
    finished_ = false;
}

}  // namespace quon
