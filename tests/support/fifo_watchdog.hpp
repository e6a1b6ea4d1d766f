#pragma once

// A FIFO with no writer makes open() for reading wait for ever: a call still stuck after a while
// is released by opening the other end, so that the test fails instead of hanging.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

namespace tallowmark::testing {

// True when `call` came back on its own.
template <class Call>
bool returnsWithoutHelp(const std::filesystem::path& fifo, Call call) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::atomic<bool> helped{false};
    std::thread watchdog([&] {
        while (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            helped = true;
            // A reader stuck in open() counts as a reader, so this open succeeds and releases it.
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
    });
    call();
    done.set_value();
    watchdog.join();
    return !helped;
}

}  // namespace tallowmark::testing
