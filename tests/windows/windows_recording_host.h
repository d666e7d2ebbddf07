// A fake host for the Windows test programs, as tests/support's
// recording_host is for the others but without the C++ standard library:
// records every command text (type 0) and hand-back (type 5) in order,
// answers scripted replies per exact command text, and reports replies
// handed back twice, never, or that it never gave.
#ifndef QUON_WINDOWS_RECORDING_HOST_H
#define QUON_WINDOWS_RECORDING_HOST_H

#include "quon_client_callback.h"
#include "text.h"

class windows_recording_host : public quon_client_callback {
public:
    windows_recording_host() = default;
    ~windows_recording_host() override;

    char* callback(void* data, int type) override;

    // Every later `command` gets a fresh copy of `reply`.
    void answer(const char* command, const char* reply);

    // Type-0 texts since the last clear, in order.
    text_list commands() const { return commands_; }
    // "0 TEXT" and "5 TEXT" lines for every event since the last clear.
    text_list transcript() const { return transcript_; }
    void clear();

    // Ownership faults seen so far and replies still not handed back.
    text_list problems() const;

private:
    enum { max_replies = 64, max_given = 256 };
    struct given_reply {
        char* reply;
        bool released;
    };

    text_list answerCommands_;
    text_list answerReplies_;
    text_list commands_;
    text_list transcript_;
    text_list faults_;
    // Released replies are kept until the end so that a second hand-back of
    // the same pointer is recognised rather than reused.
    given_reply given_[max_given] = {};
    int givenCount_ = 0;
};

#endif
