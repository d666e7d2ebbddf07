#include "quon/engine/delivery_queue.h"

#include <algorithm>

#include "quon_message_types.h"

namespace quon {

namespace {

std::string field(const char* name, int32_t value) { return std::string(name) + "=" + std::to_string(value); }

}  // namespace

pending_message pending_message::revertiveTo(uint64_t component, const revertiveRecord& r) {
    pending_message p{component, QUON_MSG_REVERTIVE, {}};
    p.revertive = r;
    return p;
}

pending_message pending_message::databaseTo(uint64_t component, const databaseRecord& d) {
    pending_message p{component, QUON_MSG_DATABASE, {}};
    p.database = d;
    return p;
}

pending_message pending_message::carrying(uint64_t component, int type, intptr_t value) {
    pending_message p{component, type, {}};
    p.carried = value;
    return p;
}

void* pending_message::data() {
    switch (type) {
        case QUON_MSG_REVERTIVE: return &revertive;
        case QUON_MSG_DATABASE: return &database;
        default: return reinterpret_cast<void*>(carried);
    }
}

std::string pending_message::fields() const {
    switch (type) {
        case QUON_MSG_REVERTIVE:
            return field("device", revertive.device) + " " + field("index", revertive.index) + " " +
                   field("info", revertive.info);
        case QUON_MSG_DATABASE:
            return field("device", database.device) + " " + field("database", database.database) + " " +
                   field("index", database.index);
        case QUON_MSG_TIMER: return field("id", static_cast<int32_t>(carried));
        default: return std::to_string(carried);
    }
}

void delivery_queue::dropFor(uint64_t component) {
    queue_.erase(std::remove_if(queue_.begin() + static_cast<std::ptrdiff_t>(head_), queue_.end(),
                                [component](const pending_message& p) { return p.component == component; }),
                 queue_.end());
}

void delivery_queue::clear() {
    queue_.clear();
    head_ = 0;
}

}  // namespace quon
