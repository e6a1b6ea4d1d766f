#pragma once

// The way in and the way out of the bridge. A call is admitted or refused,
// goes to the row of its name and is answered exactly once; events go to the
// main view and the confidence monitor, each at its own pace. Knows no call
// of its own: the rows are added by name. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "bridge/bridge_arguments.hpp"
#include "bridge/bridge_interfaces.hpp"
#include "bridge/bridge_records.hpp"
#include "bridge/navigation_guard.hpp"
#include "bridge/state_encoder.hpp"

namespace tallowmark {

struct BridgeCall {
    std::string name;
    Json body;                             // the argument list
    std::optional<std::string> frameURL;  // of the calling frame's request
    bool mainFrame = false;
};

class BridgeDispatcher {
public:
    // A row reads its arguments, does its work and answers, now or later.
    using Handler = std::function<void(const BridgeArguments&, ReplyHandle&)>;

    // The state the events and replies carry is `engine`'s, which outlives this.
    explicit BridgeDispatcher(const CueEngine& engine) : engine_(engine) {}

    void add(const std::string& name, Handler handler) { rows_[name] = std::move(handler); }
    void setPageGuard(std::shared_ptr<const PageGuard> guard) { pageGuard_ = std::move(guard); }
    // Only the main frame of the guarded page may call; anyone else is
    // refused and logged. A name with no row is an error, not a silence.
    void receive(const BridgeCall& call, ReplyHandle reply);

    // --- events ---
    void setMainView(std::weak_ptr<EventTransport> view);
    void setMonitorView(std::weak_ptr<EventTransport> view);
    bool hasMainView() const { return !mainView_.expired(); }
    // To both views, encoded once.
    void emit(const std::string& name, const Json& payload);
    // The shell's own events (menu commands, window chrome, updates), in line with the bridge's.
    void emitToMain(const std::string& name, const Json& payload);
    // A payload already encoded, to both views.
    void emitEncoded(const std::string& name, std::string payloadText);
    // The engine's callbacks: "cueState" and "runState". A run call in
    // progress answers with the same run change.
    void stateChanged();
    void runChanged(const CueEngine::RunChange& change);

    // --- replies ---
    // The state snapshot as JSON text; none (and a log line) when it has no JSON form.
    std::optional<std::string> encodedState();
    // `dict` with "state" added as it is now, as JSON text; the state is the
    // bulk of a big show's document, and its text is the encoder's.
    std::optional<std::string> withState(const Json& dict);
    // The run calls answer with their own run change.
    void answerRun(ReplyHandle& reply);

private:
    std::vector<std::shared_ptr<EventChannel>> channels() const;

    const CueEngine& engine_;
    std::unordered_map<std::string, Handler> rows_;
    std::shared_ptr<const PageGuard> pageGuard_;
    std::weak_ptr<EventTransport> mainView_;
    // One per view: each page takes its events at its own pace.
    std::shared_ptr<EventChannel> mainChannel_;
    std::shared_ptr<EventChannel> monitorChannel_;
    StateEncoder stateEncoder_;
    // The run change made by the call in progress, if any, as JSON text.
    std::optional<std::string> runOfThisCall_;
};

}  // namespace tallowmark
