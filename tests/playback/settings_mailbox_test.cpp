#include "playback/settings_mailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tarrowin {
namespace {

Settings numbered(int32_t k) {
    Settings s;
    s.global.tempo = k;
    for (auto& v : s.voices) v.param1 = v.param2 = v.offset = k;
    return s;
}

TEST(SettingsMailbox, TheTakingSideSeesWholeCopiesInTheOrderTheyCame) {
    // One thread publishes as fast as it can while the other takes: every copy taken is
    // one whole copy, never older than the one before, and the last one arrives.
    SettingsMailbox box;
    constexpr int32_t kCopies = 20000;
    std::atomic<bool> done{false};
    std::thread publisher([&] {
        for (int32_t k = 1; k <= kCopies; ++k) box.publish(numbered(k));
        done.store(true);
    });
    int32_t last = 0;
    int taken = 0;
    for (;;) {
        const bool finished = done.load();
        if (const Settings* s = box.take()) {
            ++taken;
            const int32_t k = s->global.tempo;
            EXPECT_GT(k, last);
            for (const auto& v : s->voices) ASSERT_TRUE(v.param1 == k && v.param2 == k && v.offset == k);
            last = k;
        } else if (finished) {
            break;
        }
    }
    publisher.join();
    EXPECT_EQ(last, kCopies);
    EXPECT_GT(taken, 0);
    box.release();
    box.collect();
}

}  // namespace
}  // namespace tarrowin
