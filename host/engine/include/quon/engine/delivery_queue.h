// delivery_queue: the messages waiting for a component, in the order they
// are to be delivered. The engine never calls into a component while one is
// inside a call into the host, so what a call causes (the revertives after
// "RP", a route's revertives to every watcher, a timer's tick) waits here
// until the call has returned.
//
// Threading: the host's one thread. Owned by the engine.
#ifndef QUON_ENGINE_DELIVERY_QUEUE_H
#define QUON_ENGINE_DELIVERY_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quon_records.h"

namespace quon {

// A message for one component, its record carried inside (a salvo queues
// one for each watcher, so a record shares its message's place).
struct pending_message {
    uint64_t component;  // its creation sequence
    int type;
    union {
        revertiveRecord revertive;
        databaseRecord database;
        intptr_t carried;  // a timer id, a value
    };

    static pending_message revertiveTo(uint64_t component, const revertiveRecord& r);
    static pending_message databaseTo(uint64_t component, const databaseRecord& d);
    static pending_message carrying(uint64_t component, int type, intptr_t value);

    // What the component's callback receives as its data: the record's
    // address (valid while this message lives) or the carried value.
    void* data();
    // The record's fields as the trace shows them: "device=1 index=2 info=3".
    std::string fields() const;
};

class delivery_queue {
public:
    void push(const pending_message& message) { queue_.push_back(message); }
    bool empty() const { return head_ == queue_.size(); }
    size_t size() const { return queue_.size() - head_; }
    // The next message; the queue must not be empty.
    pending_message pop() { return queue_[head_++]; }
    // Drops the messages queued for `component` (one that never came to be).
    void dropFor(uint64_t component);
    // Drops everything; the queue's memory is kept for the next action.
    void clear();

private:
    std::vector<pending_message> queue_;
    size_t head_ = 0;
};

}  // namespace quon

#endif
