#include "playback/spsc_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace tarrowin {
namespace {

TEST(SpscQueue, HoldsItsRoomInOrderAndRefusesMoreAcrossTheWrapAround) {
    SpscQueue<int> queue(5);
    ASSERT_EQ(queue.capacity(), 8u);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 8; ++i) {
            EXPECT_FALSE(queue.full());
            EXPECT_TRUE(queue.push(round * 8 + i));
        }
        EXPECT_TRUE(queue.full());
        EXPECT_FALSE(queue.push(-1));
        for (int i = 0; i < 8; ++i) {
            ASSERT_NE(queue.front(), nullptr);
            EXPECT_EQ(*queue.front(), round * 8 + i);
            queue.pop();
            EXPECT_FALSE(queue.full());
        }
        EXPECT_EQ(queue.front(), nullptr);
    }
    queue.push(1);
    queue.clear();
    EXPECT_EQ(queue.front(), nullptr);
}

// Two threads, the producer often finding the queue full and the consumer empty: every
// item arrives once, in order.
TEST(SpscQueue, AProducerAndAConsumerThreadPassEveryItemInOrder) {
    constexpr int64_t kItems = 50000;
    SpscQueue<int64_t> queue(16);
    int64_t received = 0;
    int64_t outOfOrder = 0;
    std::thread consumer([&] {
        while (received < kItems) {
            const int64_t* item = queue.front();
            if (item == nullptr) {
                std::this_thread::yield();
                continue;
            }
            if (*item != received) ++outOfOrder;
            queue.pop();
            ++received;
        }
    });
    for (int64_t i = 0; i < kItems; ++i) {
        while (!queue.push(i)) std::this_thread::yield();
    }
    consumer.join();
    EXPECT_EQ(received, kItems);
    EXPECT_EQ(outOfOrder, 0);
}

}  // namespace
}  // namespace tarrowin
