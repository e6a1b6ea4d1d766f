#include "bridge/bridge_interfaces.hpp"

#include <atomic>

#include "core/main_queue.hpp"

namespace tallowmark {

struct ReplyHandle::State {
    explicit State(Sink s) : sink(std::move(s)) {}
    ~State() {
        if (done.exchange(true)) return;
        postToMain([sink = std::move(sink)] { sink(Json(nullptr), std::nullopt); });
    }
    bool claim() { return !done.exchange(true); }

    Sink sink;
    std::atomic<bool> done{false};
};

ReplyHandle::ReplyHandle(Sink sink) : state_(std::make_shared<State>(std::move(sink))) {}

void ReplyHandle::answer(const Json& value) {
    if (state_->claim()) state_->sink(value, std::nullopt);
}

void ReplyHandle::fail(const std::string& error, const Json& value) {
    if (state_->claim()) state_->sink(value, error);
}

bool ReplyHandle::answered() const { return state_->done.load(); }

}  // namespace tallowmark
