// Another version's marks brought onto the open script: carried by their
// words when the version's script PDF is found, copied by page and position
// (saying so) when it is not. The carry runs off the main thread; the page
// hears its progress and gets the carried marks as one undoable step.

#include <atomic>
#include <chrono>
#include <filesystem>

#include "bridge/bridge_calls.hpp"
#include "bridge/bridge_records.hpp"
#include "bridge/native_bridge.hpp"
#include "carry/marks_carry.hpp"
#include "core/atomic_file.hpp"
#include "core/main_queue.hpp"
#include "core/work_pool.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// One carry at a time: a second would replace the marks the first brought.
bool carrying = false;

constexpr auto progressEvery = std::chrono::milliseconds(100);

bool isPdf(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".pdf";
}

// The script the marks file was made on, beside it: its documentName, or the
// marks file's own name as a PDF. None when neither is a file.
std::optional<fs::path> scriptBeside(const fs::path& marksFile, const CueSidecar& marks) {
    std::error_code error;
    const fs::path folder = marksFile.parent_path();
    const fs::path named = fs::path(marks.documentName).filename();
    if (!named.empty() && isPdf(named) && fs::is_regular_file(folder / named, error)) return folder / named;
    fs::path stem = marksFile;
    // Show.tallowmark.bak2 -> Show.tallowmark -> Show.pdf
    if (stem.extension().string().starts_with(".bak")) stem.replace_extension();
    stem.replace_extension(".pdf");
    if (fs::is_regular_file(stem, error)) return stem;
    return std::nullopt;
}

Json carriedDictionary(const std::string& mode, const CarryResult* result, const std::string& message) {
    return {{"mode", mode},
            {"placed", result ? result->placed : 0},
            {"changed", result ? result->changed : 0},
            {"review", result ? result->review : 0},
            {"message", message}};
}

void answerWithState(NativeBridge& b, ReplyHandle& reply, Json carried) {
    Json state = stateDictionary(b.engine());
    state["carried"] = std::move(carried);
    reply.answer(state);
}

// As the import did before carrying existed.
void copyByPosition(NativeBridge& b, const fs::path& marksFile, ReplyHandle& reply, const std::string& why) {
    if (!b.engine().importSidecar(marksFile))
        return reply.fail("could not read the marks of " + marksFile.filename().string());
    answerWithState(b, reply, carriedDictionary("positions", nullptr, why + " The marks were copied by page and position."));
}

void startCarry(NativeBridge& b, const fs::path& script, const fs::path& marksFile, CueSidecar old, ReplyHandle reply) {
    carrying = true;
    std::weak_ptr<DocumentStore> weakStore = b.script().weakStore();
    const std::int64_t generation = b.script().store().documentGeneration();
    runInBackground([weak = b.weak_from_this(), weakStore, generation, script, marksFile, old = std::move(old),
                     reply]() mutable {
        auto store = weakStore.lock();
        auto lastReport = std::chrono::steady_clock::now() - progressEvery;
        const CarryProgress progress = [&](std::string_view step, int done, int total) {
            if (!store || store->documentGeneration() != generation) return false;
            const auto now = std::chrono::steady_clock::now();
            if (now - lastReport < progressEvery && done < total) return true;
            lastReport = now;
            const char* text = step == "old" ? "reading the other version" : step == "new" ? "reading this script"
                                                                                            : "placing the marks";
            postToMain([weak, payload = Json{{"step", text}, {"done", done}, {"total", total}}] {
                if (auto bridge = weak.lock()) bridge->emitToMainView("carryProgress", payload);
            });
            return true;
        };
        CarryRun run;
        if (store) run = carryFromScript(script, old, *store, old, progress);
        postToMain([weak, generation, marksFile, run = std::move(run), reply]() mutable {
            carrying = false;
            auto bridge = weak.lock();
            if (!bridge) return reply.answer(nullptr);
            if (bridge->script().store().documentGeneration() != generation || !bridge->engine().sidecarURL())
                return reply.fail("the script was closed while the marks were carried");
            if (run.result) {
                if (!bridge->engine().carryIn(std::move(run.result->sidecar)))
                    return reply.fail("the carried marks could not be saved");
                return answerWithState(*bridge, reply, carriedDictionary("words", &*run.result, ""));
            }
            if (run.failure) return copyByPosition(*bridge, marksFile, reply, run.failure->message + ".");
            reply.answer(nullptr);
        });
    });
}

}  // namespace

void bringMarksFrom(NativeBridge& b, const fs::path& picked, ReplyHandle reply) {
    if (!b.engine().sidecarURL()) return reply.fail("no open script");
    if (carrying) return reply.fail("marks are already being carried to this script");
    const fs::path marksFile = isPdf(picked) ? sidecarPathFor(picked) : picked;
    const ReadResult read = readWholeFile(marksFile, maxSidecarBytes);
    std::optional<CueSidecar> old = read.status == ReadStatus::ok ? decodeSidecar(read.bytes) : std::nullopt;
    if (!old) return reply.fail("could not read the marks of " + picked.filename().string());
    if (isPdf(picked)) return startCarry(b, picked, marksFile, std::move(*old), std::move(reply));
    if (const auto script = scriptBeside(marksFile, *old))
        return startCarry(b, *script, marksFile, std::move(*old), std::move(reply));
    // The marks file alone: its script is asked for; without it the marks are copied.
    auto dialogs = b.dialogs();
    if (!dialogs) return copyByPosition(b, marksFile, reply, "The script of these marks was not found.");
    const OpenPanelRequest request{"Choose the script PDF these marks were made on, to carry them by their words",
                                   {{"PDF documents", {"pdf"}}},
                                   marksFile.parent_path().string(),
                                   /*allowsMultiple=*/false,
                                   /*canChooseFolders=*/false};
    dialogs->openPanel(request, [weak = b.weak_from_this(), marksFile, old = std::move(*old),
                                 reply](std::optional<std::string> chosen) mutable {
        auto bridge = weak.lock();
        if (!bridge) return reply.answer(nullptr);
        if (!bridge->engine().sidecarURL()) return reply.fail("no open script");
        if (!chosen) return copyByPosition(*bridge, marksFile, reply, "No script was chosen for these marks.");
        if (carrying) return reply.fail("marks are already being carried to this script");
        startCarry(*bridge, *chosen, marksFile, std::move(old), std::move(reply));
    });
}

}  // namespace tallowmark
