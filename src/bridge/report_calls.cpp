// The show report: the performances recorded for the open script, for the
// report sheet, and their export as CSV or as printed pages. The file is read
// by the report's own writer thread, after the appends queued before, and the
// reply comes back to the main thread.

#include <glib.h>

#include <algorithm>

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"
#include "core/atomic_file.hpp"
#include "core/file_identity.hpp"
#include "core/main_queue.hpp"
#include "cues/show_report.hpp"
#include "export/script_files.hpp"
#include "export/show_report_pdf.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// The sheet shows the newest performances; the CSV has them all.
constexpr std::size_t sheetPerformances = 20;
constexpr std::size_t sheetCues = 2000;

Json spanJson(const ReportSpan& span, bool act) {
    Json json = {{"start", span.startWallMs}, {"end", span.endWallMs}, {"seconds", span.seconds}};
    if (act) json["gos"] = span.goCount;
    return json;
}

// With its cues only for the performance the sheet shows: a long day's cues
// all at once would cost the sheet more than it can show.
Json performanceJson(const Performance& p, bool withCues) {
    Json acts = Json::array(), intervals = Json::array(), cues = Json::array();
    for (const ReportSpan& act : p.acts) acts.push_back(spanJson(act, true));
    for (const ReportSpan& interval : p.intervals) intervals.push_back(spanJson(interval, false));
    Json json = {{"start", p.startWallMs}, {"end", p.endWallMs}, {"running", p.runningSeconds},
                 {"resumed", p.resumed}, {"acts", std::move(acts)}, {"intervals", std::move(intervals)},
                 {"cueCount", p.cues.size()}, {"backs", p.backs}, {"standbys", p.standbys}, {"ignored", p.ignored}};
    if (!withCues) return json;
    const std::size_t shown = std::min(p.cues.size(), sheetCues);
    for (std::size_t i = 0; i < shown; ++i) {
        const ReportCue& cue = p.cues[i];
        cues.push_back({{"number", cue.number}, {"label", cue.label}, {"type", cue.type}, {"source", cue.source},
                        {"at", cue.atSeconds}, {"held", cue.heldSeconds}, {"act", cue.act}, {"wall", cue.wallMs}});
    }
    json["cues"] = std::move(cues);
    json["cuesOmitted"] = p.cues.size() - shown;
    return json;
}

std::string scriptName(const fs::path& script) { return script.stem().string(); }

// The newest performances, newest first, with the cues of the one at the
// first argument's place in that list (the newest when there is none).
void showReport(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto script = b.script().path();
    ShowReportLog* report = b.script().report();
    if (!script || !report) return r.fail("no open script");
    const std::int64_t intervalMinutes = b.settings().settings().intervalMinutes;
    const std::optional<std::int64_t> chosen = a.integer(0);
    report->readInOrder(
        [name = scriptName(*script), intervalMinutes, chosen, reply = r](const std::vector<ReportEntry>& entries) mutable {
            const std::vector<Performance> all = performancesOf(entries, intervalMinutes);
            const std::size_t count = std::min(all.size(), sheetPerformances);
            const std::size_t shown = chosen && *chosen >= 0 && static_cast<std::size_t>(*chosen) < count
                                          ? static_cast<std::size_t>(*chosen)
                                          : 0;
            Json performances = Json::array();
            for (std::size_t i = 0; i < count; ++i) performances.push_back(performanceJson(all[all.size() - 1 - i], i == shown));
            Json answer = {{"script", name}, {"intervalMinutes", intervalMinutes},
                           {"performances", std::move(performances)}};
            postToMain([reply, answer = std::move(answer)]() mutable { reply.answer(answer); });
        });
}

// Why the report may not be written to `to`: it would replace one of the
// script's own files, or the report file itself.
std::optional<std::string> reportRefusal(const fs::path& script, const fs::path& reportFile, const fs::path& to) {
    if (const auto kind = scriptFileAt(script, to))
        return kind == ScriptFileKind::script ? "That is the script itself - choose a new name or folder"
                                              : "That is one of the script's own files - choose a new name or folder";
    if (sameFile(reportFile, to)) return "That is the program's own record of the show - choose a new name or folder";
    return std::nullopt;
}

void exportShowReport(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto script = b.script().path();
    ShowReportLog* report = b.script().report();
    if (!script || !report) return r.fail("no open script");
    const std::optional<std::string> format = a.string(0);
    // Like every call, a mistyped argument answers the default: nothing written.
    if (!format || (*format != "csv" && *format != "pdf")) return r.answer(false);
    auto dialogs = b.dialogs();
    if (!dialogs) return r.answer(false);
    const bool pdf = *format == "pdf";
    const SavePanelRequest request{pdf ? "Save the show report as PDF" : "Save the show report as CSV",
                                   {pdf ? FileFilter{"PDF documents", {"pdf"}} : FileFilter{"CSV files", {"csv"}}},
                                   scriptName(*script) + (pdf ? " show report.pdf" : " show report.csv"),
                                   script->parent_path().string()};
    dialogs->savePanel(request, [weak = b.weak_from_this(), script = *script, pdf, reply = r](
                                    std::optional<std::string> chosen) mutable {
        auto bridge = weak.lock();
        if (!bridge || !chosen) return reply.answer(false);
        ShowReportLog* report = bridge->script().report();
        const auto open = bridge->script().path();
        if (!report || !open || !sameFile(*open, script)) return reply.fail("the script was closed meanwhile");
        fs::path to = *chosen;
        // "Show v1.2 report" has an extension, but not the one the file is.
        if (g_ascii_strcasecmp(to.extension().c_str(), pdf ? ".pdf" : ".csv") != 0) to += pdf ? ".pdf" : ".csv";
        const std::int64_t intervalMinutes = bridge->settings().settings().intervalMinutes;
        report->readInOrder([script, reportFile = report->file(), to, pdf,
                                                          intervalMinutes, reply](const std::vector<ReportEntry>& entries) {
            std::optional<std::string> why = reportRefusal(script, reportFile, to);
            if (!why) {
                const std::vector<Performance> all = performancesOf(entries, intervalMinutes);
                std::string error;
                if (pdf) {
                    // One page each for the performances the sheet shows.
                    const std::size_t from = all.size() > sheetPerformances ? all.size() - sheetPerformances : 0;
                    const std::span<const Performance> printed(all.data() + from, all.size() - from);
                    if (!writeShowReportPDF(printed, scriptName(script), intervalMinutes, to, &error)) why = error;
                } else if (all.empty()) {
                    why = "No performances to export";
                } else if (!writeFileAtomically(to, reportCSV(all, scriptName(script)), &error)) {
                    why = "The report could not be written - " + error;
                }
            }
            postToMain([why, reply]() mutable {
                if (why) return reply.fail(*why, false);
                reply.answer(true);
            });
        });
    });
}

}  // namespace

void addReportCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"showReport", showReport}, {"exportShowReport", exportShowReport}});
}

}  // namespace tallowmark
