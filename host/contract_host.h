// contract_host: a host for checking components. It answers every command
// with a reply of the kind asked for, and notes every breach of the host
// contract: a malformed command, a command after "AS", a message type a
// component must not send, a reply handed back twice, never, or that the
// component was not meant to read, a text the host never gave.
#ifndef QUON_HOST_CONTRACT_HOST_H
#define QUON_HOST_CONTRACT_HOST_H

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "quon_client_callback.h"

class contract_host : public quon_client_callback {
public:
    enum class replies { text, null, random };

    contract_host() = default;
    ~contract_host() override;

    char* callback(void* data, int type) override;

    void setReplies(replies kind, std::mt19937_64* random = nullptr) {
        replies_ = kind;
        random_ = random;
    }

    // The component was destroyed: "AS" must have ended its commands, and
    // every reply it reads must be back. Starts a fresh life.
    void componentDestroyed();

    const std::vector<std::string>& commands() const { return commands_; }
    const std::vector<std::string>& violations() const { return violations_; }
    void clearCommands() { commands_.clear(); }

private:
    struct given {
        std::string command;
        bool read;  // the component reads it and must hand it back
    };
    std::string replyFor(const std::string& command);

    replies replies_ = replies::text;
    std::mt19937_64* random_ = nullptr;
    bool asSeen_ = false;
    std::vector<std::string> commands_;
    std::vector<std::string> violations_;
    std::map<char*, given> outstanding_;
    std::set<char*> released_;  // freed only when the component is gone
};

#endif
