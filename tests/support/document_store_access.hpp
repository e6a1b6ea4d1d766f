#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "document/document_store.hpp"

namespace tallowmark::testing {

// The store's settings that only tests change.
struct DocumentStoreAccess {
    // Lowers the page count above which Lines::inBackground collects behind the open.
    static void setCollectAtOnceUpTo(DocumentStore& store, int pages) {
        const std::scoped_lock lock(store.lock_);
        store.collectAtOnceUpTo_ = pages;
    }
    // Runs after a page is drawn, before its image is stored (set while no render runs).
    static void setAfterDraw(DocumentStore& store, std::function<void()> hook) {
        store.afterDrawHook_ = std::move(hook);
    }
};

}  // namespace tallowmark::testing
