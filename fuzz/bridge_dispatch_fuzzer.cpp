// The page is outside input too: any call name with any argument list must be
// answered exactly once, and never crash the bridge. Dialogs always cancel, so
// nothing is written outside a scratch folder.
//
// Input: the first byte picks a call name (or, past the table, the rest of the
// input up to a newline is the name); the remainder is the JSON argument list,
// or a one-string list when it is not JSON.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"

namespace {

using namespace tallowmark;

class CancellingDialogs final : public BridgeDialogs {
public:
    void openPanel(const OpenPanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    void savePanel(const SavePanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    int confirm(const AlertRequest& alert) override { return static_cast<int>(alert.buttons.size()) - 1; }
    void reveal(const std::vector<std::string>&) override {}
};

struct World {
    std::shared_ptr<NativeBridge> bridge;
    std::shared_ptr<CancellingDialogs> dialogs = std::make_shared<CancellingDialogs>();
    std::vector<std::string> names = NativeBridge::callNames();

    World() {
        auto settings = std::make_shared<SettingsStore>(true);
        bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
        bridge->setPageGuard(std::make_shared<PageGuard>("file:///opt/tallowmark/web/index_inlined.html"));
        bridge->setDialogs(dialogs);
        bridge->setDemoFolderForTesting(std::filesystem::temp_directory_path() / "tallowmark-fuzz-demo");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    if (size == 0) return 0;
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string name;
    if (data[0] < world.names.size()) {
        name = world.names[data[0]];
    } else {
        const std::size_t end = rest.find('\n');
        name = rest.substr(0, end);
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
    }
    // Opening a path would reach files of this machine; the fuzzer keeps to the page's own world.
    if (name == "openDocumentPath") return 0;

    Json body = parseJson(rest).value_or(Json::array({rest}));
    // Work handed to the background pool may answer after this input is done.
    auto answers = std::make_shared<int>(0);
    ReplyHandle reply([answers](const Json&, const std::optional<std::string>&) {
        if (++*answers > 1) std::abort();
    });
    world.bridge->receive(BridgeCall{name, body, "file:///opt/tallowmark/web/index_inlined.html", true}, reply);
    drainMainQueue();
    return 0;
}
