#include "quon/validate/contract_host.h"

#include "quon/engine/command_parser.h"
#include "quon_message_types.h"

namespace quon {

contract_host::contract_host() : contract_(*this) {}

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
        if (!contract_.command(static_cast<const char*>(data))) {
            if (data) commands_.push_back(static_cast<const char*>(data));
            return nullptr;
        }
        const std::string text = static_cast<const char*>(data);
        commands_.push_back(text);
        host_command parsed;
        std::string error;
        if (!parseHostCommand(text, parsed, error)) {
            contract_.report(violation_kind::malformed_command, "malformed command \"" + text + "\": " + error);
            return nullptr;
        }
        if (parsed.info->word == host_word::AS) {
            contract_.finished();
            return nullptr;
        }
        if (replies_ == replies::null || (replies_ == replies::random && (*random_)() % 5 == 0)) return nullptr;
        return contract_.give(*parsed.info, replyFor(text));
    }
    if (type == QUON_MSG_RELEASE) {
        contract_.handedBack(static_cast<char*>(data));
        return nullptr;
    }
    contract_.report(violation_kind::wrong_message_type, "message type " + std::to_string(type) + " sent to the host");
    return nullptr;
}

void contract_host::componentDestroyed() {
    contract_.destroyed(!commands_.empty() && commands_.back() == "AS");
}

}  // namespace quon
