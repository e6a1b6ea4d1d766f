// The calls that reach past the page to the shell: the main window's width,
// the room its title bar takes, and updates of the program.

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"

namespace tallowmark {

namespace {

void ensureWindowWidth(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const std::int64_t width = a.integer(0).value_or(0);
    auto shell = b.shell();
    r.answer(width > 0 && shell && b.dispatcher().hasMainView() && shell->ensureWindowWidth(width));
}

void windowChrome(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    auto shell = b.shell();
    r.answer({{"reserve", shell ? shell->titleBarReserve() : 0.0}});
}

void updateStatus(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    const auto available = b.updates().availableStamp();
    Json status{{"available", available ? Json(*available) : Json(nullptr)}, {"current", b.updates().currentStamp()}};
    if (const auto why = b.updates().unavailable()) status["unavailable"] = *why;
    r.answer(status);
}

void installUpdate(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    r.answer(true);
    b.updates().install();
}

}  // namespace

void addShellCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"ensureWindowWidth", ensureWindowWidth},
                             {"windowChrome", windowChrome},
                             {"updateStatus", updateStatus},
                             {"installUpdate", installUpdate}});
}

}  // namespace tallowmark
