// The wrappers through which handlers read the record of a message. Each
// holds one pointer, lives in the dispatcher's frame and is valid only
// during the handler call; a handler copies what it keeps.
#ifndef QUON_NOTIFY_H
#define QUON_NOTIFY_H

#include "quon/script/parent_command.h"
#include "quon_records.h"
#include "quon_string.h"

class revertiveNotify {
public:
    explicit revertiveNotify(const revertiveRecord* record) : record_(record) {}
    int device() const { return record_->device; }
    int index() const { return record_->index; }
    int info() const { return record_->info; }

private:
    const revertiveRecord* record_;  // the host's, valid during the call
};

class databaseNotify {
public:
    explicit databaseNotify(const databaseRecord* record) : record_(record) {}
    int device() const { return record_->device; }
    int database() const { return record_->database; }
    int index() const { return record_->index; }

private:
    const databaseRecord* record_;  // the host's, valid during the call
};

class buttonNotify {
public:
    explicit buttonNotify(const buttonRecord* record) : record_(record) {}
    quon_string id() const { return quon_string(record_->id); }
    // A record without an event reads as an empty command and value.
    quon_string command() const { return quon_string(record_->event ? record_->event->command : nullptr); }
    quon_string value() const { return quon_string(record_->event ? record_->event->value : nullptr); }

private:
    const buttonRecord* record_;  // the host's, valid during the call
};

class parentNotify {
public:
    explicit parentNotify(const parentCommand* record) : record_(record) {}
    quon_string command() const { return quon_string(record_->command); }
    quon_string value() const { return quon_string(record_->value); }
    const parentCommand* record() const { return record_; }

private:
    const parentCommand* record_;  // the dispatcher's, valid during the call
};

#endif
