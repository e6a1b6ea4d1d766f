// The calls that involve the operator or the file system directly: panels,
// alerts, copies of the script and its marks, the demo and the marked export.
// Every outcome is a reply.

#include <glib.h>

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "core/work_pool.hpp"
#include "demo/demo_script_maker.hpp"
#include "export/markup_exporter.hpp"
#include "export/script_files.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

const FileFilter pdfFilter{"PDF documents", {"pdf"}};

bool hasExtension(const fs::path& path, const char* extension) {
    return g_ascii_strcasecmp(path.extension().string().c_str(), extension) == 0;
}

std::string stem(const std::string& path) { return fs::path(path).stem().string(); }

// Removes `path` when something is there; the platform's description on failure.
std::optional<std::string> removeIfPresent(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) return std::nullopt;
    if (!fs::remove(path, error) && error) return error.message();
    return std::nullopt;
}

std::optional<std::string> copyFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) return error.message();
    return std::nullopt;
}

std::string describe(ScriptFileKind kind) {
    switch (kind) {
        case ScriptFileKind::script: return "the script";
        case ScriptFileKind::marks: return "the script's marks file";
        case ScriptFileKind::marksBackup: return "a backup of the script's marks";
        case ScriptFileKind::runFile: return "the script's run file";
    }
    return "a file of the script";
}

// Why a copy of `script` may not go to `copy`: the copy, or the marks file
// beside it, would replace one of the script's own files. Same file is decided
// by identity: a folder reached through a link, or a name that differs only in
// case and so shares the marks file, is caught as well as the same text.
std::optional<std::string> copyRefusal(const fs::path& script, const fs::path& copy, const fs::path& copyMarks) {
    if (const auto kind = scriptFileAt(script, copy)) {
        if (*kind == ScriptFileKind::script) return "That is the current script - choose a new name or folder";
        return "That is " + describe(*kind) + " - choose a new name or folder";
    }
    if (const auto kind = scriptFileAt(script, copyMarks))
        return "The copy's marks file " + copyMarks.filename().string() + " would replace " + describe(*kind) +
               " - choose a new name or folder";
    return std::nullopt;
}

// Why the marked export of `script` may not be written to `to`: it would
// replace one of the script's own files.
std::optional<std::string> exportRefusal(const fs::path& script, const fs::path& to) {
    if (const auto kind = scriptFileAt(script, to))
        return "The marked script would replace " + describe(*kind) + " (" + script.filename().string() +
               ") - choose a new name or folder";
    return std::nullopt;
}

void openDocumentPanel(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    auto dialogs = b.dialogs();
    if (!dialogs) return r.answer(nullptr);
    dialogs->openPanel({.message = "Choose a script (PDF)", .filters = {pdfFilter}, .folder = std::nullopt,
                        .allowsMultiple = false, .canChooseFolders = false},
                       [weak = b.weak_from_this(), reply = r](std::optional<std::string> path) mutable {
                           auto bridge = weak.lock();
                           if (!bridge || !path) return reply.answer(nullptr);
                           bridge->openDocumentAsking(*path, [weak, path = *path, reply](
                                                                 NativeBridge::OpenOutcome outcome) mutable {
                               if (auto bridge = weak.lock()) bridge->answerOpen(outcome, path, reply, nullptr);
                           });
                       });
}

void revealSidecar(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    std::vector<std::string> paths;
    if (auto script = b.script().path()) paths.push_back(script->string());
    std::error_code error;
    if (b.engine().sidecarURL() && fs::exists(*b.engine().sidecarURL(), error))
        paths.push_back(b.engine().sidecarURL()->string());
    auto dialogs = b.dialogs();
    if (!dialogs || paths.empty()) return r.answer(true);
    // Answered once the file viewer has said whether it could: a failure
    // reaches the page as the call's error, which it shows like any other.
    dialogs->reveal(paths, [name = fs::path(paths.front()).filename().string(),
                            reply = r](std::optional<std::string> failure) mutable {
        if (failure) return reply.fail("Couldn't show " + name + " in Files - " + *failure);
        reply.answer(true);
    });
}

void saveSidecar(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    if (!b.engine().sidecarURL()) return r.answer("");
    const std::string name = b.engine().sidecarURL()->filename().string();
    // Answered when the writer is done; the main thread goes on meanwhile.
    b.engine().saveSidecarInBackground([name, reply = r](bool written) mutable { reply.answer(written ? name : ""); });
}

void saveScriptAs(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    const auto script = b.script().path();
    auto dialogs = b.dialogs();
    if (!script || !b.engine().sidecarURL() || !dialogs) return r.answer("");
    // The copy must take the latest marks.
    b.engine().saveSidecar(false);
    const SavePanelRequest request{"Save the script and its marks as a new copy", {pdfFilter},
                                   script->filename().string(), script->parent_path().string()};
    // A copy of a locked script is locked with the same password; it opens
    // with the one already given.
    dialogs->savePanel(request, [weak = b.weak_from_this(), script = *script, marks = *b.engine().sidecarURL(),
                                 password = b.script().store().password(),
                                 reply = r](std::optional<std::string> chosen) mutable {
        auto bridge = weak.lock();
        if (!bridge || !chosen) return reply.answer("");
        fs::path destination = *chosen;
        if (!hasExtension(destination, ".pdf")) destination += ".pdf";
        const fs::path destinationMarks = sidecarPathFor(destination);
        if (auto refusal = copyRefusal(script, destination, destinationMarks)) return reply.fail(*refusal);
        std::error_code error;
        std::optional<std::string> failure = removeIfPresent(destination);
        if (!failure) failure = copyFile(script, destination);
        if (!failure) failure = removeIfPresent(destinationMarks);
        if (!failure && fs::exists(marks, error)) failure = copyFile(marks, destinationMarks);
        if (failure) return reply.fail(*failure);
        bridge->openDocumentAsking(
            destination,
            [weak, destination, reply](NativeBridge::OpenOutcome outcome) mutable {
                if (auto bridge = weak.lock()) bridge->answerOpen(outcome, destination, reply, "");
            },
            std::move(password));
    });
}

void importSidecar(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    if (!b.script().path() || !b.engine().sidecarURL()) return r.fail("no open script");
    auto dialogs = b.dialogs();
    if (!dialogs) return r.answer(nullptr);
    const OpenPanelRequest request{"Choose the script version to take the marks from",
                                   {pdfFilter,
                                    {"Marks files", {"tallowmark"}},
                                    {"Marks backups", {"bak1", "bak2", "bak3", "bak4", "bak5"}}},
                                   b.engine().sidecarURL()->parent_path().string(),
                                   /*allowsMultiple=*/false,
                                   /*canChooseFolders=*/false};
    dialogs->openPanel(request, [weak = b.weak_from_this(), reply = r](std::optional<std::string> chosen) mutable {
        auto bridge = weak.lock();
        if (!bridge || !chosen) return reply.answer(nullptr);
        const fs::path picked = *chosen;
        // A script stands for the marks file beside it.
        const fs::path source = hasExtension(picked, ".pdf") ? sidecarPathFor(picked) : picked;
        std::error_code error;
        if (!fs::exists(source, error)) return reply.fail(picked.filename().string() + " has no marks");
        auto dialogs = bridge->dialogs();
        const AlertRequest alert{AlertStyle::warning,
                                 "Replace all marks in this script with the marks of " + stem(*chosen) + "?",
                                 "Each mark moves to its own words in this script; what cannot be placed is listed "
                                 "for review. Your current marks are backed up first.",
                                 {"Replace", "Cancel"}};
        if (!dialogs || dialogs->confirm(alert) != 0) return reply.answer(nullptr);
        bringMarksFrom(*bridge, picked, std::move(reply));
    });
}

void offerMarks(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto path = a.path(0);
    auto dialogs = b.dialogs();
    if (!path || !b.engine().sidecarURL() || !dialogs) return r.answer(nullptr);
    // Nothing to bring: the operator is not asked a question that can only fail.
    std::error_code error;
    if (!fs::is_regular_file(*path, error)) return r.answer(nullptr);
    const AlertRequest alert{AlertStyle::informational,
                             "This script has no marks yet. Bring the marks of " + stem(*path) + "?",
                             "Cues, labels, memos and flags move to their own words in this script; what cannot "
                             "be placed is listed for review. The other script is not changed.",
                             {"Bring Marks", "Not Now"}};
    if (dialogs->confirm(alert) != 0) return r.answer(nullptr);
    bringMarksFrom(b, *path, r);
}

void makeDemo(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    // Progress lines go to the log stream, not to the program's output.
    DemoScriptMaker maker(stderr);
    if (maker.run(b.demoFolder()) != 0 || !maker.lastWrittenPDF()) return r.fail("demo creation failed");
    if (b.openDocument(*maker.lastWrittenPDF())) return b.answerDocument(r);
    r.answer(nullptr);
}

void exportMarkedPDF(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto script = b.script().path();
    if (!script) return r.fail("no open script");
    const Json* dict = a.dict(0);
    std::optional<Layout> layout = dict ? Layout::fromJson(*dict) : std::nullopt;
    if (!layout) return r.fail("no layout");
    auto dialogs = b.dialogs();
    if (!dialogs) return r.answer(false);
    // The script and a copy of its marks are taken together, now: the layout
    // the page just measured belongs to them. Another script opened while the
    // panel is open changes neither; the export is of what the operator asked
    // for, and edits made meanwhile do not reach the file.
    // Beside the script, where its other files are, not wherever the program started.
    const SavePanelRequest request{"Save marked script as PDF", {pdfFilter},
                                   script->stem().string() + " (marked)", script->parent_path().string()};
    // The password goes with the script: the export opens the file again.
    dialogs->savePanel(request, [weak = b.weak_from_this(), script = *script,
                                 password = b.script().store().password(), sidecar = b.engine().sidecar(), layout = std::move(*layout),
                                 reply = r](std::optional<std::string> chosen) mutable {
        auto bridge = weak.lock();
        if (!bridge || !chosen) return reply.answer(false);
        const fs::path to = *chosen;
        const std::optional<fs::path> open = bridge->script().path();
        const Settings& settings = bridge->settings().settings();
        runInBackground([weak, script, password = std::move(password), open, sidecar = std::move(sidecar),
                         layout = std::move(layout), to, memos = settings.memosVisible,
                         drop = settings.dropPageNumbers, reply]() mutable {
            // Neither the exported script's files nor those of a script opened
            // since may be written over. Looked up here, off the main thread.
            std::optional<std::string> refusal = exportRefusal(script, to);
            if (!refusal && open) refusal = exportRefusal(*open, to);
            // Label measurements (TALLOWMARK_EXPORT_DEBUG) go to standard output.
            const bool written = !refusal && MarkupExporter::exportMarkedScript(script, sidecar, layout, to, memos,
                                                                                 drop, stdout, password);
            postToMain([weak, to, written, refusal, reply]() mutable {
                if (refusal) return reply.fail(*refusal, false);
                if (!written) return reply.fail("vienti epaonnistui", false);
                auto bridge = weak.lock();
                auto dialogs = bridge ? bridge->dialogs() : nullptr;
                if (!dialogs) return reply.answer(true);
                // The file is written either way; the value says so to shells that pass one with an error.
                dialogs->reveal({to.string()}, [name = to.filename().string(),
                                                reply](std::optional<std::string> failure) mutable {
                    if (failure)
                        return reply.fail("The marked script was saved as " + name +
                                              " but couldn't be shown in Files - " + *failure,
                                          true);
                    reply.answer(true);
                });
            });
        });
    });
}

}  // namespace

void addFileCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"openDocumentPanel", openDocumentPanel},
                             {"revealSidecar", revealSidecar},
                             {"saveSidecar", saveSidecar},
                             {"saveScriptAs", saveScriptAs},
                             {"importSidecar", importSidecar},
                             {"offerMarks", offerMarks},
                             {"makeDemo", makeDemo},
                             {"exportMarkedPDF", exportMarkedPDF}});
}

}  // namespace tallowmark
