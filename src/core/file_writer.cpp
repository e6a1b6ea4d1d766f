#include "core/file_writer.hpp"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "core/system_log.hpp"

namespace tallowmark {

// Shared with the thread, so that a thread left to finish on its own after the
// owner is gone still has its queue.
struct FileWriter::Shared {
    struct Job {
        std::string key;
        std::function<void()> work;
        Merge merge;
    };

    std::mutex mutex;
    std::condition_variable wake;  // a job was queued, or stopping was set
    std::condition_variable idle;  // the queue ran dry
    std::deque<Job> queue;         // guarded by mutex
    bool busy = false;             // guarded by mutex: a job is running outside the lock
    bool stopping = false;         // guarded by mutex
    std::atomic<std::uint64_t> ran{0};
    std::thread thread;            // touched by the owner only

    static void run(const std::shared_ptr<Shared>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || !self->queue.empty(); });
            if (self->queue.empty()) return;  // stopping, and everything is written
            Job job = std::move(self->queue.front());
            self->queue.pop_front();
            self->busy = true;
            lock.unlock();
            try {
                job.work();
            } catch (const std::exception& e) {
                logSystem(std::string("tiedoston kirjoitus keskeytyi: ") + e.what());
            }
            job.work = nullptr;  // what the job held goes before the next one starts
            lock.lock();
            self->busy = false;
            self->ran.fetch_add(1, std::memory_order_relaxed);
            if (self->queue.empty()) self->idle.notify_all();
        }
    }
};

FileWriter::~FileWriter() {
    if (!shared_) return;
    const bool finished = flush(shutdownWait);
    {
        std::scoped_lock lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_all();
    if (finished) {
        shared_->thread.join();
        return;
    }
    logSystem("tiedostojen kirjoitus ei valmistunut " + std::to_string(shutdownWait.count() / 1000) +
              " sekunnissa; loput kirjoitetaan taustalla");
    shared_->thread.detach();
}

void FileWriter::submit(std::string key, std::function<void()> work, Merge merge) {
    if (!shared_) {
        shared_ = std::make_shared<Shared>();
        shared_->thread = std::thread([shared = shared_] { Shared::run(shared); });
    }
    {
        std::scoped_lock lock(shared_->mutex);
        auto& queue = shared_->queue;
        // Only the newest queued job of the key may be replaced: an older one
        // may sit before a `keeps` job whose effect depends on it.
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) {
            if (it->key != key) continue;
            if (merge == Merge::replaces && it->merge == Merge::replaces) {
                it->work = std::move(work);
                return;
            }
            break;
        }
        queue.push_back({std::move(key), std::move(work), merge});
    }
    shared_->wake.notify_one();
}

bool FileWriter::flush(std::chrono::milliseconds timeout) {
    if (!shared_) return true;
    std::unique_lock lock(shared_->mutex);
    return shared_->idle.wait_for(lock, timeout, [&] { return shared_->queue.empty() && !shared_->busy; });
}

std::uint64_t FileWriter::jobsRun() const { return shared_ ? shared_->ran.load(std::memory_order_relaxed) : 0; }

}  // namespace tallowmark
