#include "cli/carry_mode.hpp"

#include <filesystem>

#include "carry/marks_carry.hpp"
#include "cli/command_line.hpp"
#include "cli/document_modes.hpp"
#include "core/atomic_file.hpp"
#include "core/file_identity.hpp"
#include "cues/cue_engine.hpp"
#include "cues/run_state.hpp"
#include "document/document_store.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

namespace {

namespace fs = std::filesystem;

// What NEW's marks file would be if it were written: a file of OLD's, or NEW itself.
std::optional<std::string> clashOf(const fs::path& newMarks, const fs::path& oldPdf, const fs::path& newPdf) {
    const fs::path oldMarks = sidecarPathFor(oldPdf);
    if (sameFile(newMarks, newPdf)) return "uuden PDF:n";
    if (sameFile(newMarks, oldPdf)) return "vanhan PDF:n";
    if (sameFile(newMarks, oldMarks)) return "vanhan version merkintojen";
    if (sameFile(newMarks, runFilePathFor(oldMarks))) return "vanhan version ajotiedoston";
    for (int n = 1; n <= CueEngine::backupCount; ++n)
        if (sameFile(newMarks, CueEngine::backupPath(oldMarks, n))) return "vanhan version varmuuskopion";
    return std::nullopt;
}

}  // namespace

int carryMarksMode(const std::vector<std::string>& operands, bool replace, const std::string& password,
                   std::FILE* out) {
    if (operands.size() < 2) {
        std::fputs("virhe: --carry-marks <vanha.pdf> <uusi.pdf> [--replace]\n", out);
        return 1;
    }
    const fs::path oldPdf = expandPathOperand(operands[0]);
    const fs::path newPdf = expandPathOperand(operands[1]);
    const fs::path oldMarks = sidecarPathFor(oldPdf);
    const fs::path newMarks = sidecarPathFor(newPdf);
    if (sameFile(oldPdf, newPdf) || sameFile(oldMarks, newMarks)) {
        std::fputs("virhe: vanha ja uusi versio ovat sama tiedosto\n", out);
        return 1;
    }
    if (const auto clash = clashOf(newMarks, oldPdf, newPdf)) {
        std::fprintf(out, "virhe: merkinnat kirjoittaisivat %s paalle: %s\n", clash->c_str(), newMarks.c_str());
        return 1;
    }
    std::error_code error;
    const fs::file_status existing = fs::symlink_status(newMarks, error);
    if (fs::exists(existing)) {
        if (!fs::is_regular_file(fs::status(newMarks, error))) {
            std::fprintf(out, "virhe: ei tavallinen tiedosto: %s\n", newMarks.c_str());
            return 1;
        }
        if (!replace) {
            std::fprintf(out, "virhe: uudella versiolla on jo merkinnat: %s - korvaa valitsimella --replace\n",
                         newMarks.c_str());
            return 1;
        }
    }

    const ReadResult marks = readWholeFile(oldMarks, maxSidecarBytes);
    FileNotes notes;
    const std::optional<CueSidecar> old = marks.status == ReadStatus::ok ? decodeSidecar(marks.bytes, notes)
                                                                          : std::nullopt;
    if (!old) {
        std::fprintf(out, "virhe: vanhan version merkintoja ei loytynyt tai ne eivat jasenny: %s\n", oldMarks.c_str());
        return 1;
    }

    DocumentStore target;
    SettingsStore settings(false);
    target.setDropPageNumbers(settings.settings().dropPageNumbers);
    if (!openForMode(target, {newPdf, password}, out)) return 1;
    CueEngine engine;
    engine.loadSidecar(newPdf);
    if (!engine.sidecar().crop.empty()) target.setCrop(cropFromList(engine.sidecar().crop));

    const CarryRun run = carryFromScript(oldPdf, *old, target, engine.sidecar());
    if (!run.result) {
        std::fprintf(out, "virhe: %s\n", run.failure ? run.failure->message.c_str() : "keskeytetty");
        return 1;
    }
    const CarryResult& result = *run.result;
    for (const CarriedRecord& record : result.records) {
        if (record.outcome == CarryOutcome::placed) continue;
        std::fprintf(out, "%s: %s, sivu %lld: %s\n",
                     record.outcome == CarryOutcome::changed ? "muuttunut" : "tarkistettava", record.name.c_str(),
                     static_cast<long long>((record.outcome == CarryOutcome::changed ? record.newPage
                                                                                      : record.oldPage) + 1),
                     record.snippet.c_str());
    }
    if (!engine.carryIn(result.sidecar) || !engine.saveSidecar(false)) {
        std::fprintf(out, "virhe: merkintoja ei voitu kirjoittaa: %s\n", newMarks.c_str());
        return 1;
    }
    std::fprintf(out, "siirretty: %d paikallaan, %d muuttunut, %d tarkistettavana\n", result.placed, result.changed,
                 result.review);
    std::fprintf(out, "kirjoitettu: %s\n", newMarks.c_str());
    return 0;
}

}  // namespace tallowmark
