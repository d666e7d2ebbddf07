// recording_host: a fake host for tests. It records every command text
// (type 0) and every hand-back (type 5) in order, with pointer identity;
// answers scripted replies per exact command text; and reports replies
// handed back twice, never, or that it never gave.
#ifndef QUON_TEST_RECORDING_HOST_H
#define QUON_TEST_RECORDING_HOST_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "quon_client_callback.h"

struct host_event {
    int type;             // 0 or 5
    std::string text;     // the command text, or the handed-back text ("" for null)
    const void* pointer;  // the reply given (type 0) or handed back (type 5)
};

class recording_host : public quon_client_callback {
public:
    ~recording_host() override;

    char* callback(void* data, int type) override;

    // Every later `command` gets a fresh copy of `reply`.
    void answer(const std::string& command, const std::string& reply) { replies_[command] = reply; }
    void silence(const std::string& command) { replies_.erase(command); }

    // Type-0 texts since the last clear, in order.
    std::vector<std::string> commands() const;
    // "0 TEXT" and "5 TEXT" lines for every event since the last clear.
    std::vector<std::string> transcript() const;
    const std::vector<host_event>& events() const { return events_; }
    void clear() { events_.clear(); }

    // Ownership faults seen so far and replies still not handed back.
    std::vector<std::string> problems() const;

private:
    std::map<std::string, std::string> replies_;
    std::vector<host_event> events_;
    std::set<const void*> outstanding_;
    std::set<const void*> released_;
    std::vector<std::string> faults_;
};

#endif
