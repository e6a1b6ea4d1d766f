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

// Locking and unlocking answer the new state; every view hears it. The page
// asks the operator before it unlocks.
void setShowLocked(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    if (!b.script().path()) return r.fail("no open script");
    // Anything but true or false changes nothing and answers the lock as it stands.
    if (const std::optional<bool> locked = a.boolean(0); locked && *locked != b.script().locked()) {
        b.script().setLocked(*locked);
        b.showLockChanged();
    }
    r.answer(b.script().locked());
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
                             {"setShowLocked", setShowLocked},
                             {"restoreRun", restoreRun},
                             {"discardRun", discardRun}});
}

}  // namespace tallowmark
