#pragma once

// The events on their way to one web view. The page takes one batch at a
// time; whatever arrives while it is busy waits here, where the newest state
// wins: run changes merge into one, and a whole state replaces every state
// still waiting. So a burst of GOs from a desk costs the page one batch, not
// one render per GO, and the screen is never minutes behind the engine.
// Main thread only.

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>

#include "bridge/bridge_interfaces.hpp"
#include "core/json_helpers.hpp"

namespace tallowmark {

// A run change as the page applies it: the fired set becomes (clear ? empty :
// the old set) minus `unfired` plus `fired`; the rest replaces what the page
// had. Valid on any state the page holds from `from` up to `seq`, so two
// changes merge into one without losing anything.
struct RunDelta {
    std::uint64_t from = 0;
    std::uint64_t seq = 0;
    bool clear = false;
    std::set<std::string> fired;
    std::set<std::string> unfired;
    // standbyID, lastFiredID, firedCount, total, savedRun: as they are after `seq`.
    Json scalars = Json::object();

    // `later` follows this one: the two as one change.
    void merge(const RunDelta& later);
    Json toJson() const;
};

class EventChannel : public std::enable_shared_from_this<EventChannel> {
public:
    static std::shared_ptr<EventChannel> create(std::weak_ptr<EventTransport> view);

    // Any event, its payload already compact JSON text.
    void send(const std::string& name, std::shared_ptr<const std::string> payloadText);
    // A whole "cueState": the states still waiting are superseded.
    void sendState(std::shared_ptr<const std::string> stateText);
    // A "runState": merged with the run change still waiting, if any.
    void sendRun(const RunDelta& delta);

    bool isFor(const std::weak_ptr<EventTransport>& view) const;
    std::size_t waiting() const { return queue_.size(); }

    // Events of one kind that may pile up while the page is busy (a desk
    // flooding the log): the oldest go first. A page keeps no more log lines.
    static constexpr std::size_t maxWaiting = 1000;

private:
    explicit EventChannel(std::weak_ptr<EventTransport> view) : view_(std::move(view)) {}

    enum class Kind { other, state, run };
    struct Entry {
        Kind kind = Kind::other;
        std::string name;
        std::shared_ptr<const std::string> text;  // kinds other and state
        RunDelta run;                             // kind run
    };

    void push(Entry entry);
    void schedule();
    void flush();

    std::weak_ptr<EventTransport> view_;
    std::deque<Entry> queue_;
    bool inFlight_ = false;
    bool scheduled_ = false;
    // When the batch in flight left; one that is never answered (a page that
    // hung and was reloaded) must not stop every later event.
    std::int64_t sentAt_ = 0;
};

}  // namespace tallowmark
