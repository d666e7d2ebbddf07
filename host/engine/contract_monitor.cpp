#include "quon/engine/contract_monitor.h"

#include <algorithm>
#include <cstring>

#include "quon/common/text.h"

namespace quon {

namespace {

// Released replies remembered to recognise a second hand-back.
const size_t released_memory = 256;

}  // namespace

std::string quotedForReport(const std::string& text) { return "\"" + escaped(text) + "\""; }

contract_monitor::contract_monitor(std::function<void(const contract_violation&)> report)
    : report_(std::move(report)) {}

contract_monitor::~contract_monitor() {
    for (auto& o : outstanding_) delete[] o.first;
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
    outstanding_[copy] = given{&word, text};
    return copy;
}

void contract_monitor::keep(const char* text, const host_command_info& word) { kept_[text] = &word; }

void contract_monitor::handedBack(char* text) {
    if (!text) return;
    const auto o = outstanding_.find(text);
    if (o != outstanding_.end()) {
        if (!o->second.word->replyRead)
            report(violation_kind::unread_reply_handed_back,
                   std::string("handed back the reply to \"") + o->second.word->text + "\", which stays the host's");
        outstanding_.erase(o);
        released_.push_back(text);
        if (released_.size() > released_memory) {
            delete[] released_.front();
            released_.pop_front();
        }
        return;
    }
    if (std::find(released_.begin(), released_.end(), text) != released_.end()) {
        report(violation_kind::reply_handed_back_twice, "reply handed back twice: " + quotedForReport(text));
        return;
    }
    const auto k = kept_.find(text);
    if (k != kept_.end()) {
        report(violation_kind::unread_reply_handed_back,
               std::string("handed back the reply to \"") + k->second->text + "\", which stays the host's");
        return;
    }
    report(violation_kind::foreign_text_handed_back, "handed back a text the host never gave");
}

void contract_monitor::destroyed(bool lastCommandWasAs) {
    if (!finished_)
        report(violation_kind::no_as_at_teardown, "destroyed without sending \"AS\"");
    else if (!lastCommandWasAs)
        report(violation_kind::as_not_last, "\"AS\" was not the last command");
    for (auto& o : outstanding_) {
        if (o.second.word->replyRead)
            report(violation_kind::reply_never_handed_back, "reply never handed back: " + quotedForReport(o.second.text));
        delete[] o.first;
    }
    outstanding_.clear();
    for (char* r : released_) delete[] r;
    released_.clear();
    kept_.clear();
    finished_ = false;
}

}  // namespace quon
