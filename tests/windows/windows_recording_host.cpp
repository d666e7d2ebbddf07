#include "windows_recording_host.h"

#include <string.h>

#include "quon_message_types.h"

windows_recording_host::~windows_recording_host() {
    for (int i = 0; i < givenCount_; ++i) delete[] given_[i].reply;
}

void windows_recording_host::answer(const char* command, const char* reply) {
    answerCommands_.push_back(command);
    answerReplies_.push_back(reply);
}

void windows_recording_host::clear() {
    commands_ = text_list();
    transcript_ = text_list();
}

char* windows_recording_host::callback(void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        const text command(static_cast<const char*>(data));
        char* reply = nullptr;
        // The latest answer for a command counts.
        for (size_t i = answerCommands_.size(); i-- > 0;) {
            if (answerCommands_[i] != command) continue;
            if (givenCount_ == max_given) {
                faults_.push_back("more replies than the test host keeps");
                break;
            }
            reply = new char[answerReplies_[i].size() + 1];
            memcpy(reply, answerReplies_[i].c_str(), answerReplies_[i].size() + 1);
            given_[givenCount_++] = given_reply{reply, false};
            break;
        }
        commands_.push_back(command);
        transcript_.push_back("0 " + command);
        return reply;
    }
    if (type == QUON_MSG_RELEASE) {
        given_reply* found = nullptr;
        for (int i = 0; i < givenCount_; ++i)
            if (given_[i].reply == data) found = &given_[i];
        if (data && found && !found->released) {
            found->released = true;
        } else if (data && found) {
            faults_.push_back(text("reply handed back twice: ") + found->reply);
        } else if (data) {
            faults_.push_back("handed back a text the host never gave");
        }
        transcript_.push_back(text("5 ") + (found ? found->reply : ""));
        return nullptr;
    }
    faults_.push_back("message type " + decimal(type) + " sent to the host");
    return nullptr;
}

text_list windows_recording_host::problems() const {
    text_list all = faults_;
    for (int i = 0; i < givenCount_; ++i)
        if (!given_[i].released) all.push_back(text("reply never handed back: ") + given_[i].reply);
    return all;
}
