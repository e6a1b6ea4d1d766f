#pragma once

// One background thread that does a component's file writes in the order they
// were asked for, so that the main thread never waits for the disk. Work for
// the same key (usually a file's path) coalesces: a job that only replaces the
// file takes the place of a queued one that did no more, so a burst of GOs
// costs one write of the newest state.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tallowmark {

class FileWriter {
public:
    enum class Merge {
        // The job's whole effect is the file at its key: it replaces a queued
        // job of the same key that was also `replaces`.
        replaces,
        // The job has other effects too (backups move): it always runs.
        keeps,
    };

    FileWriter() = default;
    // Waits for queued work like flush(shutdownWait); what is still queued
    // after that is left to the thread, which finishes it on its own.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Queues `work`; the thread starts with the first job. Jobs must not throw
    // and must hold what they need by value: they may outlive their owner.
    void submit(std::string key, std::function<void()> work, Merge merge);

    // Waits until every queued job has run; false when `timeout` passed first.
    bool flush(std::chrono::milliseconds timeout);

    // Jobs run so far (coalesced ones never run).
    std::uint64_t jobsRun() const;

    static constexpr std::chrono::milliseconds shutdownWait{2000};

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tallowmark
