// Message type numbers of quon_client_callback::callback. The same numbers
// serve both directions.
#ifndef QUON_MESSAGE_TYPES_H
#define QUON_MESSAGE_TYPES_H

enum quon_message_type {
    // component -> host: `data` is a NUL-terminated command text owned by
    // the component, valid only during the call. Result: the host's reply
    // (owned by the host) or null.
    QUON_MSG_COMMAND = 0,
    // host -> component: `data` points at a revertiveRecord.
    QUON_MSG_REVERTIVE = 1,
    // host -> component: `data` points at a buttonRecord.
    QUON_MSG_BUTTON = 2,
    // host -> component: `data` is a parent-panel command text (may be
    // null). Result: a text allocated by the component, or null.
    QUON_MSG_PARENT = 3,
    // host -> component: the timer id carried in `data` itself.
    QUON_MSG_TIMER = 4,
    // either side: `data` is a text the receiver returned earlier, or null;
    // the receiver releases it.
    QUON_MSG_RELEASE = 5,
    // host -> component: `data` points at a databaseRecord.
    QUON_MSG_DATABASE = 6,
    // host -> component: a 32-bit integer carried in `data` itself.
    QUON_MSG_VALUE = 7
};

#endif
