#include "core/main_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "core/work_pool.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

TEST(MainQueue, PostedTasksRunLaterAndInOrder) {
    std::vector<int> order;
    postToMain([&] { order.push_back(1); });
    postToMain([&] {
        order.push_back(2);
        postToMain([&] { order.push_back(4); });  // posted while running: after 3
    });
    postToMain([&] { order.push_back(3); });
    EXPECT_TRUE(order.empty()) << "posting never runs the task inside the caller";
    drainMainQueue();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(WorkPool, BackgroundTasksReportOnTheMainThread) {
    constexpr int tasks = 32;
    std::atomic<int> ranOffMain{0};
    std::vector<int> results;
    GThread* mainThread = g_thread_self();
    for (int i = 0; i < tasks; ++i) {
        runInBackground([&, i] {
            if (g_thread_self() != mainThread) ++ranOffMain;
            postToMain([&, i] { results.push_back(i); });
        });
    }
    ASSERT_TRUE(testing::pumpMainUntil([&] { return results.size() == tasks; }));
    EXPECT_EQ(ranOffMain.load(), tasks);
}

}  // namespace
}  // namespace tallowmark
