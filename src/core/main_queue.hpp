#pragma once

#include <functional>

namespace tallowmark {

// Queues a task for the main thread's GLib main context (the default one).
// Safe from any thread. Tasks run in the order they were posted, always in a
// later turn of the loop, never inside the caller.
void postToMain(std::function<void()> task);

// Runs every task that is ready on the main context until nothing is left.
// For command-line modes and tests, which have no running loop of their own.
void drainMainQueue();

}  // namespace tallowmark
