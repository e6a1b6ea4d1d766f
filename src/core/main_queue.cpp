#include "core/main_queue.hpp"

#include <glib.h>

namespace tallowmark {

namespace {

gboolean runTask(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void destroyTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void postToMain(std::function<void()> task) {
    // An idle source rather than g_main_context_invoke_full: invoke runs the task
    // inline when the caller already owns the context, and then an event caused by
    // a call would overtake the call's own reply.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runTask, new std::function<void()>(std::move(task)), destroyTask);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

void drainMainQueue() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

}  // namespace tallowmark
