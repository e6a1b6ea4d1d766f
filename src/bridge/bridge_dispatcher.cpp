#include "bridge/bridge_dispatcher.hpp"

#include "core/system_log.hpp"

namespace tallowmark {

void BridgeDispatcher::receive(const BridgeCall& call, ReplyHandle reply) {
    if (!call.mainFrame || !pageGuard_ || !pageGuard_->allows(call.frameURL)) {
        logSystem("siltakutsu hylatty: " + call.name + " " + call.frameURL.value_or("?"));
        reply.fail("ei sallittu");
        return;
    }
    const auto row = rows_.find(call.name);
    if (row == rows_.end()) {
        reply.fail("tuntematon funktio: " + call.name);
        return;
    }
    runOfThisCall_.reset();
    row->second(BridgeArguments(call.body), reply);
    runOfThisCall_.reset();
}

void BridgeDispatcher::setMainView(std::weak_ptr<EventTransport> view) {
    mainView_ = view;
    mainChannel_ = view.expired() ? nullptr : EventChannel::create(std::move(view));
}

void BridgeDispatcher::setMonitorView(std::weak_ptr<EventTransport> view) {
    monitorChannel_ = view.expired() ? nullptr : EventChannel::create(std::move(view));
}

std::vector<std::shared_ptr<EventChannel>> BridgeDispatcher::channels() const {
    std::vector<std::shared_ptr<EventChannel>> targets;
    if (mainChannel_) targets.push_back(mainChannel_);
    if (monitorChannel_) targets.push_back(monitorChannel_);
    return targets;
}

void BridgeDispatcher::emit(const std::string& name, const Json& payload) {
    if (!mainChannel_ && !monitorChannel_) return;
    if (auto text = BridgeEvents::payloadText(name, payload)) emitEncoded(name, std::move(*text));
}

void BridgeDispatcher::emitToMain(const std::string& name, const Json& payload) {
    if (!mainChannel_) return;
    if (auto text = BridgeEvents::payloadText(name, payload))
        mainChannel_->send(name, std::make_shared<const std::string>(std::move(*text)));
}

void BridgeDispatcher::emitEncoded(const std::string& name, std::string payloadText) {
    auto shared = std::make_shared<const std::string>(std::move(payloadText));
    for (const auto& channel : channels()) channel->send(name, shared);
}

void BridgeDispatcher::stateChanged() {
    if (!mainChannel_ && !monitorChannel_) return;
    auto state = encodedState();
    if (!state) return;
    auto shared = std::make_shared<const std::string>(std::move(*state));
    for (const auto& channel : channels()) channel->sendState(shared);
}

// A GO changes a standby and a fired cue, not the marks: the page gets that
// much, whatever the size of the show.
void BridgeDispatcher::runChanged(const CueEngine::RunChange& change) {
    const RunDelta delta = runDelta(engine_, change);
    for (const auto& channel : channels()) channel->sendRun(delta);
    runOfThisCall_ = dumpJson(delta.toJson(), -1);
}

std::optional<std::string> BridgeDispatcher::encodedState() {
    auto state = stateEncoder_.encode(engine_);
    if (!state) logSystem("BridgeEvents.emit - failed to encode event 'cueState'");
    return state;
}

std::optional<std::string> BridgeDispatcher::withState(const Json& dict) {
    const std::optional<std::string> state = encodedState();
    if (!state) return std::nullopt;
    std::string text = dumpJson(dict, -1);
    text.pop_back();  // the closing brace
    if (text.size() > 1) text += ',';
    text += "\"state\":";
    text += *state;
    text += '}';
    return text;
}

void BridgeDispatcher::answerRun(ReplyHandle& reply) {
    if (runOfThisCall_) return reply.answerEncoded(*runOfThisCall_);
    // Nothing changed (a GO past the last cue): the run as it stands, as a
    // change of nothing, so the page reads every reply the same way.
    CueEngine::RunChange none;
    none.from = none.seq = engine_.changeCount();
    reply.answerEncoded(dumpJson(runDelta(engine_, none).toJson(), -1));
}

}  // namespace tallowmark
