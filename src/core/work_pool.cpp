#include "core/work_pool.hpp"

#include <glib.h>

#include <algorithm>
#include <string>

#include "core/system_log.hpp"

namespace tallowmark {

namespace {

void runPooledTask(gpointer data, gpointer) {
    auto* task = static_cast<std::function<void()>*>(data);
    (*task)();
    delete task;
}

GThreadPool* sharedPool() {
    static GThreadPool* pool = [] {
        // At least two workers, so one long export never holds back a page render.
        const int threads = std::max(2, static_cast<int>(g_get_num_processors()));
        return g_thread_pool_new(runPooledTask, nullptr, threads, FALSE, nullptr);
    }();
    return pool;
}

}  // namespace

void runInBackground(std::function<void()> task) {
    auto* boxed = new std::function<void()>(std::move(task));
    GError* error = nullptr;
    if (!g_thread_pool_push(sharedPool(), boxed, &error)) {
        // The pool could not start a thread; doing the work here is better than losing it.
        logSystem(std::string("taustatyo ajettiin paasaikeessa: ") + (error ? error->message : "?"));
        g_clear_error(&error);
        runPooledTask(boxed, nullptr);
    }
}

}  // namespace tallowmark
