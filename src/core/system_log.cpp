#include "core/system_log.hpp"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace tallowmark {

void logSystem(std::string_view line) {
    std::string text = "TALLOWMARK: ";
    text.append(line);
    logSystemLine(text);
}

void logSystemLine(std::string_view line) {
    const std::string text(line);
    static std::mutex mutex;  // keeps lines from different threads whole on stderr
    std::scoped_lock lock(mutex);
    syslog(LOG_NOTICE, "%s", text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace tallowmark
