#include "contract_host.h"

#include <cstring>

#include "command_parser.h"
#include "quon_message_types.h"

namespace {

// Commands whose replies a component reads and hands back.
bool isRead(const std::string& word) { return word == "TG" || word == "SD" || word == "XI" || word == "RN"; }

}  // namespace

contract_host::~contract_host() {
    for (auto& o : outstanding_) delete[] o.first;
    for (char* r : released_) delete[] r;
}

std::string contract_host::replyFor(const std::string& command) {
    if (replies_ == replies::text) {
        if (command.compare(0, 2, "SD") == 0) return "1 1";
        if (command.compare(0, 2, "TG") == 0) return "value=1";
        if (command.compare(0, 2, "XI") == 0) return "alm_1,alm_2";
        return "reply";
    }
    std::mt19937_64& r = *random_;
    switch (r() % 8) {
        case 0: return "";
        case 1: return std::to_string(static_cast<int32_t>(r())) + " " + std::to_string(static_cast<int32_t>(r()));
        case 2: return std::to_string(1 + r() % 3) + " " + std::to_string(1 + r() % 20);
        case 3: return std::string(1 + r() % 70000, static_cast<char>('a' + r() % 26));
        case 4: {
            std::string garbage(r() % 40, ' ');
            for (char& c : garbage) c = static_cast<char>(1 + r() % 255);
            return garbage;
        }
        case 5: return "value=" + std::to_string(static_cast<int>(r() % 9) - 2);
        case 6: return "'' 'a b' = , %1 %2";
        default: return "name " + std::to_string(r() % 100);
    }
}

char* contract_host::callback(void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        if (!data) {
            violations_.push_back("a command without a text");
            return nullptr;
        }
        const std::string text = static_cast<const char*>(data);
        commands_.push_back(text);
        if (asSeen_) {
            violations_.push_back("command after \"AS\": " + text);
            return nullptr;
        }
        host_command parsed;
        std::string error;
        if (!parseHostCommand(text, parsed, error)) {
            violations_.push_back("malformed command \"" + text + "\": " + error);
            return nullptr;
        }
        if (parsed.word == "AS") {
            asSeen_ = true;
            return nullptr;
        }
        if (replies_ == replies::null || (replies_ == replies::random && (*random_)() % 5 == 0)) return nullptr;
        const std::string reply = replyFor(text);
        char* copy = new char[reply.size() + 1];
        std::memcpy(copy, reply.c_str(), reply.size() + 1);
        outstanding_[copy] = given{text, isRead(parsed.word)};
        return copy;
    }
    if (type == QUON_MSG_RELEASE) {
        char* text = static_cast<char*>(data);
        if (!text) return nullptr;
        const auto o = outstanding_.find(text);
        if (o != outstanding_.end()) {
            if (!o->second.read)
                violations_.push_back("handed back the reply to \"" + o->second.command + "\", which it does not read");
            released_.insert(text);
            outstanding_.erase(o);
        } else if (released_.count(text)) {
            violations_.push_back("handed a reply back twice");
        } else {
            violations_.push_back("handed back a text the host never gave");
        }
        return nullptr;
    }
    violations_.push_back("sent message type " + std::to_string(type) + " to the host");
    return nullptr;
}

void contract_host::componentDestroyed() {
    if (!asSeen_)
        violations_.push_back("teardown did not send \"AS\"");
    else if (commands_.empty() || commands_.back() != "AS")
        violations_.push_back("\"AS\" was not the last command");
    for (auto& o : outstanding_) {
        if (o.second.read) violations_.push_back("the reply to \"" + o.second.command + "\" was never handed back");
        delete[] o.first;
    }
    outstanding_.clear();
    for (char* r : released_) delete[] r;
    released_.clear();
    asSeen_ = false;
}
