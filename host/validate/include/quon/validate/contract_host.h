// contract_host: a host for checking components. It answers every command
// with a reply of the kind asked for, and notes every breach of the host
// contract through the same contract monitor as the engine, plus the
// breaches only a checker counts: a malformed command.
//
// Threading: one component, on the calling thread.
#ifndef QUON_VALIDATE_CONTRACT_HOST_H
#define QUON_VALIDATE_CONTRACT_HOST_H

#include <random>
#include <string>
#include <vector>

#include "quon/engine/contract_monitor.h"
#include "quon_client_callback.h"

namespace quon {

class contract_host : public quon_client_callback, private contract_reporter {
public:
    enum class replies { text, null, random };

    contract_host();
    ~contract_host() override = default;

    char* callback(void* data, int type) override;

    // `random` outlives the host while it answers at random.
    void setReplies(replies kind, std::mt19937_64* random = nullptr) {
        replies_ = kind;
        random_ = random;
    }

    // A parent command returned `reply` (the host contract's rule on
    // parent replies, as the engine checks it).
    void parentReplied(const char* command, const char* reply) { contract_.parentReplied(command, reply); }

    // The component was destroyed: "AS" must have ended its commands, and
    // every reply it reads must be back. Starts a fresh life.
    void componentDestroyed();

    const std::vector<std::string>& commands() const { return commands_; }
    const std::vector<contract_violation>& violations() const { return violations_; }
    void clearCommands() { commands_.clear(); }

private:
    std::string replyFor(const std::string& command);
    void violated(const contract_violation& v) override { violations_.push_back(v); }

    replies replies_ = replies::text;
    std::mt19937_64* random_ = nullptr;
    std::vector<std::string> commands_;
    std::vector<contract_violation> violations_;
    contract_monitor contract_;
};

}  // namespace quon

#endif
