#include "quon/script/quon_script_helper.h"

#include <stdint.h>
#include <string.h>

#include "quon/script/parent_command.h"
#include "quon_message_types.h"

// The library's signature record: found in the module's initialised data by
// tools that inspect a built module; no code reads it.
#if defined(__GNUC__)
#define QUON_KEEP __attribute__((used))
#else
#define QUON_KEEP
#endif
extern const char quon_script_helper_signature[];
QUON_KEEP const char quon_script_helper_signature[] =
    "QUON_SIG,name=quon_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=Korvane developers";

namespace {

// Set by createForHost until the base of its component has been built.
// Components are created on one thread at a time, the host's, so one flag
// serves them all. (A thread_local one would put a block on the heap of a
// module loaded with dlopen that is never given back.)
bool nextIsForHandOver = false;

}  // namespace

quon_script_helper::quon_script_helper(quon_client_callback* hostLink, const char* pathText)
    : host(hostLink), path(pathText), alarmHandling(false), awaitingHandOver(nextIsForHandOver) {
    nextIsForHandOver = false;
}

quon_script_helper::~quon_script_helper() {
    // The base of a component whose construction failed is destroyed too;
    // the host never had that component, so no teardown is announced.
    if (host && !awaitingHandOver) host->callback(const_cast<char*>("AS"), QUON_MSG_COMMAND);
}

void quon_script_helper::expectHandOver() { nextIsForHandOver = true; }

void quon_script_helper::completeHandOver(quon_script_helper* component) { component->awaitingHandOver = false; }

void quon_script_helper::cancelHandOver() { nextIsForHandOver = false; }

void quon_script_helper::valueCallback(int*) {}

void quon_script_helper::databaseCallback(databaseNotify*) {}

namespace {

// An integer that the host carries in the message's pointer itself.
int32_t carriedInteger(void* data) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(data)); }

}  // namespace

char* quon_script_helper::callback(void* data, int type) {
    try {
        return dispatch(data, type);
    } catch (...) {
        // Nothing may unwind into the host; the message is dropped.
        return nullptr;
    }
}

char* quon_script_helper::dispatch(void* data, int type) {
    switch (type) {
        case QUON_MSG_REVERTIVE: {
            // A record is required to read anything; a null one is ignored.
            if (!data) return nullptr;
            revertiveNotify notify(static_cast<const revertiveRecord*>(data));
            revertiveCallback(&notify);
            return nullptr;
        }
        case QUON_MSG_BUTTON: {
            if (!data) return nullptr;
            buttonNotify notify(static_cast<const buttonRecord*>(data));
            if (!alarmHandling || !filterAlarmEvent(notify)) buttonCallback(&notify);
            return nullptr;
        }
        case QUON_MSG_PARENT: {
            const parentCommand command(static_cast<const char*>(data));
            parentNotify notify(&command);
            const quon_string reply = parentCallback(&notify);
            if (reply.length() == 0) return nullptr;
            const size_t length = strlen(reply);
            char* result = new char[length + 1];
            memcpy(result, static_cast<const char*>(reply), length + 1);
            return result;
        }
        case QUON_MSG_TIMER: timerCallback(carriedInteger(data)); return nullptr;
        case QUON_MSG_RELEASE: delete[] static_cast<char*>(data); return nullptr;
        case QUON_MSG_DATABASE: {
            if (!data) return nullptr;
            databaseNotify notify(static_cast<const databaseRecord*>(data));
            databaseCallback(&notify);
            return nullptr;
        }
        case QUON_MSG_VALUE: {
            int value = carriedInteger(data);
            valueCallback(&value);
            return nullptr;
        }
        default: return nullptr;
    }
}
