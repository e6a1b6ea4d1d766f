#include "core/file_writer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/main_queue.hpp"
#include "core/work_pool.hpp"
#include "support/temp_dir.hpp"
#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

using namespace std::chrono_literals;
using Merge = FileWriter::Merge;

// What the jobs did, in order. Jobs run on the writer's thread, one at a time; the test reads the trail only
// while the gate holds that thread or once a flush or the writer's end has waited for it.
struct Trail {
    std::vector<std::string> steps;
    std::function<void()> step(std::string name) { return [this, name] { steps.push_back(name); }; }
};

TEST(FileWriter, ABurstForOneKeyCostsOneJobKeepsJobsAlwaysRunInOrderAndFlushWaitsForThem) {
    Trail trail;
    FileWriter writer;
    EXPECT_TRUE(writer.flush(0ms)) << "nothing queued, no thread";
    testing::WriterGate gate(writer);
    for (int i = 1; i <= 100; ++i) writer.submit("run", trail.step("run " + std::to_string(i)), Merge::replaces);
    // Marks: a rotating save must run even with a newer plain one behind it,
    // and a plain one before it must not be folded into a later one.
    for (const auto& [name, merge] : {std::pair{"plain 1", Merge::replaces}, {"rotate 2", Merge::keeps},
                                      {"plain 3", Merge::replaces}, {"plain 4", Merge::replaces},
                                      {"rotate 5", Merge::keeps}, {"rotate 6", Merge::keeps}})
        writer.submit("marks", trail.step(name), merge);
    EXPECT_FALSE(writer.flush(20ms)) << "the gate is still shut";
    EXPECT_TRUE(trail.steps.empty());
    gate.open();
    ASSERT_TRUE(writer.flush(10s));
    EXPECT_EQ(trail.steps, (std::vector<std::string>{"run 100", "plain 1", "rotate 2", "plain 4", "rotate 5", "rotate 6"}));
    EXPECT_EQ(writer.jobsRun(), 7u) << "the gate and six jobs";

    // Once a job has started it is no longer queued: the next one runs too.
    writer.submit("run", trail.step("run 101"), Merge::replaces);
    ASSERT_TRUE(writer.flush(10s));
    EXPECT_EQ(trail.steps.back(), "run 101");
}

TEST(FileWriter, DestructionFinishesQueuedWorkAndAThrowingJobIsLoggedNotFatal) {
    Trail trail;
    ::testing::internal::CaptureStderr();
    {
        FileWriter writer;
        writer.submit("slow", [] { std::this_thread::sleep_for(100ms); }, Merge::keeps);
        writer.submit("bad", [] { throw std::runtime_error("levy taynna"); }, Merge::keeps);
        writer.submit("run", trail.step("last"), Merge::replaces);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(trail.steps, std::vector<std::string>{"last"}) << "queued work is written before the owner goes";
    EXPECT_NE(err.find("TALLOWMARK: tiedoston kirjoitus keskeytyi: levy taynna"), std::string::npos) << err;
}

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
    std::atomic<int> ranOffMain{0};
    std::vector<int> results;
    for (int i = 0; i < 32; ++i)
        runInBackground([&, i, mainThread = g_thread_self()] {
            if (g_thread_self() != mainThread) ++ranOffMain;
            postToMain([&, i] { results.push_back(i); });
        });
    ASSERT_TRUE(testing::pumpMainUntil([&] { return results.size() == 32u; }));
    EXPECT_EQ(ranOffMain.load(), 32);
}

}  // namespace
}  // namespace tallowmark
