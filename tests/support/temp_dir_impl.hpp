#pragma once

#include <glib.h>

namespace tallowmark::testing {

template <class Predicate>
bool pumpMainUntil(Predicate done, int timeoutMs) {
    const gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        // Blocks at most until a source is ready; background work posts to this context.
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

}  // namespace tallowmark::testing
