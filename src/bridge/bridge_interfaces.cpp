#include "bridge/bridge_interfaces.hpp"

#include <atomic>

#include "core/main_queue.hpp"

namespace tallowmark {

struct ReplyHandle::State {
    explicit State(Sink s) : sink(std::move(s)) {}
    explicit State(TextSink s) : textSink(std::move(s)) {}
    ~State() {
        if (done.exchange(true)) return;
        postToMain([sink = std::move(sink), textSink = std::move(textSink)] {
            if (sink) sink(Json(nullptr), std::nullopt);
            if (textSink) textSink("null", std::nullopt);
        });
    }
    bool claim() { return !done.exchange(true); }

    void deliver(const Json& value, const std::optional<std::string>& error) {
        if (sink) sink(value, error);
        if (textSink) textSink(dumpJson(value, -1), error);
    }
    void deliverText(const std::string& text) {
        if (textSink) textSink(text, std::nullopt);
        // Callers that want a value (tests) pay for the parse; the page never does.
        if (sink) sink(parseJson(text).value_or(Json(nullptr)), std::nullopt);
    }

    Sink sink;
    TextSink textSink;
    std::atomic<bool> done{false};
};

ReplyHandle::ReplyHandle(Sink sink) : state_(std::make_shared<State>(std::move(sink))) {}

ReplyHandle ReplyHandle::encoded(TextSink sink) { return ReplyHandle(std::make_shared<State>(std::move(sink))); }

void ReplyHandle::answer(const Json& value) {
    if (state_->claim()) state_->deliver(value, std::nullopt);
}

void ReplyHandle::answerEncoded(const std::string& jsonText) {
    if (state_->claim()) state_->deliverText(jsonText);
}

void ReplyHandle::fail(const std::string& error, const Json& value) {
    if (state_->claim()) state_->deliver(value, error);
}

bool ReplyHandle::answered() const { return state_->done.load(); }

}  // namespace tallowmark
