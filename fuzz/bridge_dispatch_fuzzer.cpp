// The page is outside input too: any call name with any argument list must be
// answered exactly once, and never crash the bridge. Dialogs always cancel, so
// nothing is written outside a scratch folder.
//
// The calls go to a small real script (two pages of text) with cues, marks,
// flags, memos and inserts, written once at start-up in a scratch folder (in
// memory under /dev/shm where there is one), where the marks and run files
// that edits and GOs hand to the writer cost little to write. Calls
// that would open or write a whole other script (open by path, the demo) stay
// out of the loop; the bridge tests cover them.
//
// The world is put back every few thousand inputs, not after each one: putting
// it back costs more than most inputs, and the state an input leaves (an undo
// step, a fired cue, another mark) is what the next one should meet. A script
// an input closed is opened again at once.
//
// Input: up to eight calls separated by 0xFE, run in order on the same marks.
// In each, the first byte picks a call name (or, past the table, the rest of
// the call up to a newline is the name); the remainder is the JSON argument
// list, or a one-string list when it is not JSON. An input that starts with
// 0xFF goes to a second bridge with no script open. (Both bytes would
// otherwise name a call by its text, which any byte past the table does.)
#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "cues/run_state.hpp"

namespace {

using namespace tallowmark;
namespace fs = std::filesystem;

class CancellingDialogs final : public BridgeDialogs {
public:
    void openPanel(const OpenPanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    void savePanel(const SavePanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    int confirm(const AlertRequest& alert) override { return static_cast<int>(alert.buttons.size()) - 1; }
    void askPassword(const PasswordRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    void reveal(const std::vector<std::string>&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
};

fs::path scratchFolder() {
    const fs::path base = ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "tallowmark-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
}

// Two pages of a play, set the way a printed script is: lines down the page
// and its number at the foot.
void writeScript(const fs::path& path) {
    const std::vector<std::vector<std::pair<double, const char*>>> pages = {
        {{40, "ACT ONE"}, {70, "KEEPER  Light the lamp, the storm is rising."}, {90, "ANNA  Is the boat in?"},
         {110, "Thunder, far out over the water."}, {370, "1"}},
        {{40, "KEEPER  Count under your breath."}, {60, "ANNA  One. Two. Three."}, {80, "Exit the keeper."},
         {370, "2"}}};
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 300, 400);
    cairo_t* cr = cairo_create(surface);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Serif 9");
    for (const auto& lines : pages) {
        for (const auto& [top, text] : lines) {
            PangoLayout* layout = pango_cairo_create_layout(cr);
            pango_layout_set_font_description(layout, font);
            pango_layout_set_text(layout, text, -1);
            cairo_move_to(cr, text[1] == '\0' ? 145 : 30, top);
            pango_cairo_show_layout(cr, layout);
            g_object_unref(layout);
        }
        cairo_show_page(cr);
    }
    pango_font_description_free(font);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
}

constexpr const char* pageURL = "file:///opt/tallowmark/web/index_inlined.html";

struct World {
    fs::path folder = scratchFolder();
    fs::path script;
    std::string startMarks;  // the marks file's text as each input finds it
    std::shared_ptr<NativeBridge> bridge;  // with the script open
    std::shared_ptr<NativeBridge> empty;   // with nothing open
    std::shared_ptr<CancellingDialogs> dialogs = std::make_shared<CancellingDialogs>();
    std::vector<std::string> names = NativeBridge::callNames();

    World() {
        script = folder / "Lantern.pdf";
        writeScript(script);
        bridge = makeBridge();
        empty = makeBridge();
        if (!bridge->openDocument(script)) std::abort();

        CueEngine& engine = bridge->engine();
        CueSidecar marks = engine.sidecar();
        const std::pair<double, double> places[] = {{0, 0.18}, {0, 0.23}, {0, 0.28}, {1, 0.1}, {1, 0.2}};
        for (int i = 0; i < 5; ++i) {
            marks.cues.push_back(Cue{.id = "c" + std::to_string(i + 1), .number = std::to_string(i + 1),
                                     .label = "L" + std::to_string(i + 1), .kind = i % 2 ? "LFX" : "SFX",
                                     .page = static_cast<std::int64_t>(places[i].first), .y = places[i].second});
        }
        marks.cues[2].insertID = "i1";
        marks.marks = {Mark{.id = "m1", .page = 0, .x = 0.1, .y = 0.2, .w = 0.3, .h = 0.02},
                       Mark{.id = "m2", .page = 1, .kind = "underline", .group = "g"}};
        marks.flags = {Flag{.id = "f1", .page = 0, .text = "LX", .role = "actor"}};
        marks.memos = {Memo{.id = "n1", .page = 1, .text = "check the haze"}};
        marks.inserts = {Insert{.id = "i1", .page = 0, .afterY = 0.3, .lineMidY = 0.32, .lineH = 0.02, .text = "added"}};
        marks.pageTexts = {{"0", "one"}};
        startMarks = encodeSidecar(marks).value();
        restore();

        // Caches and logs that fill once (page texts and lines, the hub's
        // newest lines) are filled here, so that the first inputs to read
        // them are not the only ones to pay for it.
        for (int i = 0; i < 300; ++i) {
            bridge->hub().append("warm-up", "fuzz");
            empty->hub().append("warm-up", "fuzz");
        }
        const char* reads[] = {"getState", "getSettings", "getControlStatus", "getLog", "currentDocument", "allPageLines"};
        for (NativeBridge* target : {bridge.get(), empty.get()}) {
            for (const char* name : reads) call(*target, name, Json::array());
            for (int page = 0; page < 2; ++page) {
                for (const char* name : {"pageText", "pageLines"}) call(*target, name, Json::array({page}));
            }
        }
    }

    std::shared_ptr<NativeBridge> makeBridge() {
        auto made = NativeBridge::create(std::make_shared<SettingsStore>(true), std::make_shared<NoUpdates>("20260101-1"),
                                         folder / "demo");
        made->setPageGuard(std::make_shared<PageGuard>(pageURL));
        made->setDialogs(dialogs);
        return made;
    }

    ~World() {
        bridge.reset();  // their writers finish first
        empty.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void restore() {
        CueEngine& engine = bridge->engine();
        engine.flushWrites();
        const fs::path marks = sidecarPathFor(script);
        {
            std::ofstream out(marks, std::ios::binary | std::ios::trunc);
            out << startMarks;
        }
        std::error_code ignored;
        fs::remove(runFilePathFor(marks), ignored);
        if (engine.sidecarURL()) {
            engine.loadSidecar(script);
        } else if (!bridge->openDocument(script)) {
            std::abort();
        }
    }

    void call(NativeBridge& target, std::string_view data) {
        if (data.empty()) return;
        std::string rest(data.substr(1));
        std::string name;
        if (static_cast<std::uint8_t>(data[0]) < names.size()) {
            name = names[static_cast<std::uint8_t>(data[0])];
        } else {
            const std::size_t end = rest.find('\n');
            name = rest.substr(0, end);
            rest = end == std::string::npos ? "" : rest.substr(end + 1);
        }
        if (name == "openDocumentPath" || name == "makeDemo") return;

        call(target, name, parseJson(rest).value_or(Json::array({rest})));
    }

    void call(NativeBridge& target, const std::string& name, const Json& body) {
        // Work handed to the background pool may answer after this input is done.
        auto answers = std::make_shared<int>(0);
        ReplyHandle reply([answers](const Json&, const std::optional<std::string>&) {
            if (++*answers > 1) std::abort();
        });
        target.receive(BridgeCall{name, body, pageURL, true}, reply);
        drainMainQueue();
    }
};

}  // namespace

// libFuzzer's per-input leak check runs an input again and scans the whole
// heap whenever it allocated more than it freed, which inputs here often do
// without leaking (the writer and the pool finish their work after the input,
// a cache grows). That check took about two thirds of the time. A real leak is
// still reported, and fails the run, by the sanitizer's check at exit. An
// explicit -detect_leaks on the command line still wins.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> arguments;
    static char noPerInputLeakCheck[] = "-detect_leaks=0";
    arguments.assign(*argv, *argv + *argc);
    for (char* argument : arguments) {
        if (std::string_view(argument).starts_with("-detect_leaks=")) return 0;
    }
    // After the program name, so that corpus folders stay last.
    arguments.insert(arguments.begin() + 1, noPerInputLeakCheck);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    NativeBridge* target = world.bridge.get();
    if (!input.empty() && input[0] == '\xff') {
        target = world.empty.get();
        input.remove_prefix(1);
    }
    for (int calls = 0; calls < 8; ++calls) {
        const std::size_t end = input.find('\xfe');
        world.call(*target, input.substr(0, end));
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    static std::uint64_t inputs = 0;
    if (++inputs % 4096 == 0 || !world.bridge->engine().sidecarURL()) world.restore();
    return 0;
}
