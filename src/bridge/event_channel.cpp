#include "bridge/event_channel.hpp"

#include <glib.h>

#include <algorithm>

#include "core/main_queue.hpp"

namespace tallowmark {

namespace {

// A batch the page never answered is given up after this long (microseconds).
constexpr std::int64_t lostBatchAfter = 3'000'000;

Json idList(const std::set<std::string>& ids) {
    Json list = Json::array();
    for (const std::string& id : ids) list.push_back(id);
    return list;
}

}  // namespace

void RunDelta::merge(const RunDelta& later) {
    if (later.clear) {
        clear = true;
        fired = later.fired;
        unfired = later.unfired;
    } else {
        for (const std::string& id : later.fired) unfired.erase(id);
        for (const std::string& id : later.unfired) fired.erase(id);
        fired.insert(later.fired.begin(), later.fired.end());
        unfired.insert(later.unfired.begin(), later.unfired.end());
    }
    seq = later.seq;
    scalars = later.scalars;
}

Json RunDelta::toJson() const {
    Json out = scalars;
    out["from"] = from;
    out["seq"] = seq;
    out["clear"] = clear;
    out["fired"] = idList(fired);
    out["unfired"] = idList(unfired);
    return out;
}

std::shared_ptr<EventChannel> EventChannel::create(std::weak_ptr<EventTransport> view) {
    return std::shared_ptr<EventChannel>(new EventChannel(std::move(view)));
}

bool EventChannel::isFor(const std::weak_ptr<EventTransport>& view) const {
    return !view_.owner_before(view) && !view.owner_before(view_);
}

void EventChannel::send(const std::string& name, std::shared_ptr<const std::string> payloadText) {
    push(Entry{Kind::other, name, std::move(payloadText), {}});
}

void EventChannel::sendState(std::shared_ptr<const std::string> stateText) {
    std::erase_if(queue_, [](const Entry& e) { return e.kind != Kind::other; });
    push(Entry{Kind::state, "cueState", std::move(stateText), {}});
}

void EventChannel::sendRun(const RunDelta& delta) {
    // The run change waiting moves to the end with the new one folded in: the
    // log lines before it need not wait for it, nor it for them.
    auto waitingRun = std::find_if(queue_.begin(), queue_.end(), [](const Entry& e) { return e.kind == Kind::run; });
    if (waitingRun == queue_.end()) {
        push(Entry{Kind::run, "runState", nullptr, delta});
        return;
    }
    Entry merged = std::move(*waitingRun);
    queue_.erase(waitingRun);
    merged.run.merge(delta);
    push(std::move(merged));
}

void EventChannel::push(Entry entry) {
    if (view_.expired()) {
        queue_.clear();
        return;
    }
    queue_.push_back(std::move(entry));
    if (queue_.size() > maxWaiting) {
        auto oldest = std::find_if(queue_.begin(), queue_.end(), [](const Entry& e) { return e.kind == Kind::other; });
        if (oldest != queue_.end()) queue_.erase(oldest);
    }
    schedule();
}

// Always a later turn of the main loop: an event raised by a call reaches the
// page after the call's reply, and the events of one turn travel together.
void EventChannel::schedule() {
    if (scheduled_) return;
    scheduled_ = true;
    postToMain([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->scheduled_ = false;
            self->flush();
        }
    });
}

void EventChannel::flush() {
    if (queue_.empty()) return;
    if (inFlight_ && g_get_monotonic_time() - sentAt_ < lostBatchAfter) return;
    auto view = view_.lock();
    if (!view) {
        queue_.clear();
        return;
    }
    std::string batch = "[";
    for (const Entry& e : queue_) {
        if (batch.size() > 1) batch += ',';
        batch += "{\"name\":";
        batch += dumpJson(Json(e.name), -1);
        batch += ",\"payload\":";
        batch += e.kind == Kind::run ? dumpJson(e.run.toJson(), -1) : *e.text;
        batch += '}';
    }
    batch += ']';
    queue_.clear();
    inFlight_ = true;
    sentAt_ = g_get_monotonic_time();
    const std::int64_t sentAt = sentAt_;
    view->deliverEvents(batch, [weak = weak_from_this(), sentAt] {
        auto self = weak.lock();
        // An answer to a batch given up for lost does not free the one after it.
        if (!self || self->sentAt_ != sentAt) return;
        self->inFlight_ = false;
        if (!self->queue_.empty()) self->schedule();
    });
}

}  // namespace tallowmark
