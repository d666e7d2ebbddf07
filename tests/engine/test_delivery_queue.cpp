// delivery_queue on its own: messages come out in the order they went in,
// with their records, and a component that never came to be gets none.
#include "quon/engine/delivery_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quon_message_types.h"

namespace {

using quon::delivery_queue;
using quon::pending_message;

std::vector<std::string> drain(delivery_queue& queue) {
    std::vector<std::string> out;
    while (!queue.empty()) {
        const pending_message m = queue.pop();
        out.push_back(std::to_string(m.component) + ":" + std::to_string(m.type) + " " + m.fields());
    }
    return out;
}

TEST(DeliveryQueue, MessagesComeOutInTheOrderTheyWentInWithTheirFields) {
    delivery_queue queue;
    queue.push(pending_message::revertiveTo(2, revertiveRecord{1, 0, 3, 4}));
    queue.push(pending_message::databaseTo(1, databaseRecord{1, 0, 5}));
    queue.push(pending_message::carrying(1, QUON_MSG_TIMER, 7));
    queue.push(pending_message::carrying(3, QUON_MSG_VALUE, -42));
    EXPECT_EQ(queue.size(), 4u);
    EXPECT_EQ(drain(queue), (std::vector<std::string>{"2:1 device=1 index=3 info=4", "1:6 device=1 database=0 index=5",
                                                      "1:4 id=7", "3:7 -42"}));
}

TEST(DeliveryQueue, EachMessageCarriesItsOwnRecord) {
    delivery_queue queue;
    for (int destination = 1; destination <= 3; ++destination)
        queue.push(pending_message::revertiveTo(1, revertiveRecord{1, 0, destination, 9}));
    for (int destination = 1; destination <= 3; ++destination) {
        pending_message m = queue.pop();
        EXPECT_EQ(static_cast<revertiveRecord*>(m.data())->index, destination);
    }
    queue.push(pending_message::carrying(1, QUON_MSG_VALUE, 12));
    EXPECT_EQ(reinterpret_cast<intptr_t>(queue.pop().data()), 12);
}

TEST(DeliveryQueue, DroppingAComponentsMessagesLeavesTheOthersInOrder) {
    delivery_queue queue;
    queue.push(pending_message::carrying(1, QUON_MSG_VALUE, 1));
    queue.push(pending_message::carrying(2, QUON_MSG_VALUE, 2));
    queue.push(pending_message::carrying(1, QUON_MSG_VALUE, 3));
    queue.push(pending_message::carrying(2, QUON_MSG_VALUE, 4));
    queue.pop();
    queue.dropFor(2);
    EXPECT_EQ(drain(queue), std::vector<std::string>{"1:7 3"});
    queue.push(pending_message::carrying(1, QUON_MSG_VALUE, 5));
    queue.clear();
    EXPECT_TRUE(queue.empty());
}

}  // namespace
