// "Share to Screens": the sharing sheet's calls. Sharing is on or off and
// its address pinned or not; every answer is the sheet's whole status.

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"

namespace tallowmark {

namespace {

void shareStatus(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) { r.answer(b.share().status()); }

void setSharing(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    // Like every call, a mistyped argument changes nothing.
    if (const std::optional<bool> on = a.boolean(0)) b.share().setSharing(*on);
    r.answer(b.share().status());
}

void pinShareAddress(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    if (const std::optional<bool> pinned = a.boolean(0)) b.share().setPinned(*pinned);
    r.answer(b.share().status());
}

}  // namespace

void addShareCalls(CallRows& rows) {
    rows.insert(rows.end(),
                {{"shareStatus", shareStatus}, {"setSharing", setSharing}, {"pinShareAddress", pinShareAddress}});
}

}  // namespace tallowmark
