// The records a host passes with message types 1, 2 and 6, and the layout
// of a parsed command text. The host builds them and keeps them valid for
// the duration of the call; the component reads them only during the call.
#ifndef QUON_RECORDS_H
#define QUON_RECORDS_H

#include <stddef.h>
#include <stdint.h>

// Number of dot-separated sub-parts a parsed command text can hold.
enum { QUON_COMMAND_MAX_SUBS = 32 };

// A command text split into command, sub-parts and value. Every text field
// points either into `buffer` or at a shared constant empty text, never at
// null. `buffer` is the record's own copy of the text, or null when the
// text was null or empty.
struct parentCommandRecord {
    const char* command;
    const char* sub[QUON_COMMAND_MAX_SUBS];
    const char* value;
    int32_t subCount;
    bool hasValue;
    char* buffer;
};

// Message type 1: the state of one index of a device.
struct revertiveRecord {
    int32_t device;
    int32_t reserved;  // not read by components
    int32_t index;     // for a router: the destination
    int32_t info;      // for a router: the source now routed to it
};

// Message type 6: an entry of one of a device's databases changed.
struct databaseRecord {
    int32_t device;
    int32_t database;
    int32_t index;
};

// Message type 2: an event raised by a control.
struct buttonRecord {
    unsigned char reserved[12];        // not read by components
    const char* id;                    // the control id, NUL-terminated
    const parentCommandRecord* event;  // the event text, split
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's own interface is 32-bit; these offsets are what it relies on.
static_assert(sizeof(parentCommandRecord) == 148, "parentCommandRecord is 148 bytes");
static_assert(offsetof(parentCommandRecord, command) == 0, "command at 0");
static_assert(offsetof(parentCommandRecord, sub) == 4, "sub at 4");
static_assert(offsetof(parentCommandRecord, value) == 132, "value at 132");
static_assert(offsetof(parentCommandRecord, subCount) == 136, "subCount at 136");
static_assert(offsetof(parentCommandRecord, hasValue) == 140, "hasValue at 140");
static_assert(offsetof(parentCommandRecord, buffer) == 144, "buffer at 144");
static_assert(sizeof(revertiveRecord) == 16, "revertiveRecord is 16 bytes");
static_assert(offsetof(revertiveRecord, index) == 8, "index at 8");
static_assert(offsetof(revertiveRecord, info) == 12, "info at 12");
static_assert(sizeof(databaseRecord) == 12, "databaseRecord is 12 bytes");
static_assert(offsetof(buttonRecord, id) == 12, "id at 12");
static_assert(offsetof(buttonRecord, event) == 16, "event at 16");
#endif

#endif
