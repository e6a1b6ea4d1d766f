#pragma once

#include <functional>

namespace tallowmark {

// Runs a task on the shared background pool (rendering, search, export).
// Results go back to the main thread through postToMain.
void runInBackground(std::function<void()> task);

}  // namespace tallowmark
