#include "recording_host.h"

#include <cstring>

#include "quon_message_types.h"

recording_host::~recording_host() {
    for (const void* reply : outstanding_) delete[] static_cast<const char*>(reply);
    for (const void* reply : released_) delete[] static_cast<const char*>(reply);
}

char* recording_host::callback(void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        const std::string text = data ? static_cast<const char*>(data) : "";
        char* reply = nullptr;
        const auto scripted = replies_.find(text);
        if (scripted != replies_.end()) {
            reply = new char[scripted->second.size() + 1];
            std::memcpy(reply, scripted->second.c_str(), scripted->second.size() + 1);
            outstanding_.insert(reply);
        }
        events_.push_back({type, text, reply});
        return reply;
    }
    if (type == QUON_MSG_RELEASE) {
        // Released replies are kept until the end so that a second hand-back
        // of the same pointer is recognised rather than reused.
        if (data && outstanding_.erase(data)) {
            released_.insert(data);
        } else if (data && released_.count(data)) {
            faults_.push_back("reply handed back twice: " + std::string(static_cast<const char*>(data)));
        } else if (data) {
            faults_.push_back("handed back a text the host never gave");
        }
        events_.push_back({type, data && released_.count(data) ? static_cast<const char*>(data) : "", data});
        return nullptr;
    }
    faults_.push_back("message type " + std::to_string(type) + " sent to the host");
    return nullptr;
}

std::vector<std::string> recording_host::commands() const {
    std::vector<std::string> texts;
    for (const host_event& e : events_)
        if (e.type == QUON_MSG_COMMAND) texts.push_back(e.text);
    return texts;
}

std::vector<std::string> recording_host::transcript() const {
    std::vector<std::string> lines;
    for (const host_event& e : events_) lines.push_back(std::to_string(e.type) + " " + e.text);
    return lines;
}

std::vector<std::string> recording_host::problems() const {
    std::vector<std::string> all = faults_;
    for (const void* reply : outstanding_)
        all.push_back("reply never handed back: " + std::string(static_cast<const char*>(reply)));
    return all;
}
