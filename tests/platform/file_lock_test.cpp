// Run locks under contention: takers and releasers racing on one path, as
// several processes starting and stopping one workflow would.
#include "platform/files/file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

namespace {

// A release unlinks the file while other takers may have it open: whoever
// then locks that orphan must not count as a holder beside the next one.
TEST(FileLockThreads, RacingTakersNeverHoldAtOnce) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("veltrona-lock-test-" + std::to_string(std::random_device{}()) + ".running"))
                                 .string();
    std::atomic<int> holders{0}, taken{0};
    std::atomic<bool> together{false};
    auto race = [&] {
        for (int round = 0; round < 1000; ++round) {
            FileLockPtr lock = file_lock_take(path);
            if (!lock) continue;
            if (++holders > 1) together = true;
            std::this_thread::yield();
            --holders;
            ++taken;
        }
    };
    std::vector<std::thread> takers;
    for (int i = 0; i < 4; ++i) takers.emplace_back(race);
    for (std::thread& taker : takers) taker.join();
    EXPECT_FALSE(together);
    EXPECT_GT(taken.load(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));  // the last release removed it
}

}  // namespace
