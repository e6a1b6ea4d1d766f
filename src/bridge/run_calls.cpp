// The calls that run the show. GO, BACK and RESET answer with their own run
// change, which the page also gets as "runState", never the whole state.

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"

namespace tallowmark {

namespace {

// The command's source is the page's unless it names another.
std::string source(const BridgeArguments& a) { return a.string(0).value_or("ui"); }

void go(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().go(source(a));
    b.dispatcher().answerRun(r);
}

void back(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().back(source(a));
    b.dispatcher().answerRun(r);
}

void reset(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.engine().reset(source(a));
    b.dispatcher().answerRun(r);
}

void restoreRun(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) { r.answer(b.engine().restoreRun()); }

void discardRun(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    b.engine().discardSavedRun();
    r.answer(true);
}

}  // namespace

void addRunCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"go", go},
                             {"back", back},
                             {"reset", reset},
                             {"restoreRun", restoreRun},
                             {"discardRun", discardRun}});
}

}  // namespace tallowmark
