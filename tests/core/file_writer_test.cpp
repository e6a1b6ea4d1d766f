#include "core/file_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

using namespace std::chrono_literals;
using Merge = FileWriter::Merge;

// What the jobs did, in order; jobs run on the writer's thread.
struct Trail {
    std::mutex mutex;
    std::vector<std::string> steps;
    std::function<void()> step(std::string name) {
        return [this, name] {
            std::scoped_lock lock(mutex);
            steps.push_back(name);
        };
    }
};

TEST(FileWriter, ABurstForOneKeyCostsOneJobKeepsJobsAlwaysRunInOrderAndFlushWaitsForThem) {
    Trail trail;
    FileWriter writer;
    EXPECT_TRUE(writer.flush(0ms)) << "nothing queued, no thread";
    testing::WriterGate gate(writer);
    for (int i = 1; i <= 100; ++i) writer.submit("run", trail.step("run " + std::to_string(i)), Merge::replaces);
    // Marks: a rotating save must run even with a newer plain one behind it,
    // and a plain one before it must not be folded into a later one.
    writer.submit("marks", trail.step("plain 1"), Merge::replaces);
    writer.submit("marks", trail.step("rotate 2"), Merge::keeps);
    writer.submit("marks", trail.step("plain 3"), Merge::replaces);
    writer.submit("marks", trail.step("plain 4"), Merge::replaces);
    writer.submit("marks", trail.step("rotate 5"), Merge::keeps);
    writer.submit("marks", trail.step("rotate 6"), Merge::keeps);
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

}  // namespace
}  // namespace tallowmark
