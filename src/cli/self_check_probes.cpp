// The self-checks of the hidden title bar, the marked-script export and the
// update rules. Each drives the real code (the state machine, the export mode,
// the feed parser) and prints one line per step for the technician.

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/model/title_bar_state.hpp"
#include "cli/command_line.hpp"
#include "cli/self_checks.hpp"
#include "core/atomic_file.hpp"
#include "core/json_helpers.hpp"
#include "cues/cue_sidecar.hpp"
#include "demo/demo_script_maker.hpp"
#include "document/document_store.hpp"
#include "update/build_info.hpp"
#include "update/bundle_signature.hpp"
#include "update/update_rules.hpp"

namespace tallowmark {

namespace {

// The conditions of one step that did not hold, said together as the reason.
class Faults {
public:
    void expect(bool holds, const std::string& otherwise) {
        if (!holds) why_ += (why_.empty() ? "" : "; ") + otherwise;
    }
    bool none() const { return why_.empty(); }
    const std::string& why() const { return why_; }

private:
    std::string why_;
};

std::string number(double value) {
    char text[32];
    g_ascii_formatd(text, sizeof text, "%g", value);
    return text;
}

// What a call printed, kept in memory so that only a failure shows it.
class Captured {
public:
    Captured() : file_(open_memstream(&buffer_, &size_)) {}
    ~Captured() {
        if (file_) std::fclose(file_);
        std::free(buffer_);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* file() { return file_ ? file_ : stderr; }
    // The text on one line, for a "VIRHE" line's reason.
    std::string line() {
        if (!file_) return {};
        std::fflush(file_);
        std::string text(buffer_, size_);
        std::replace(text.begin(), text.end(), '\n', ' ');
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// ---- The hidden title bar ----

// A window that records what the machine asks of it, with its timers on a
// clock the probe moves, so the delays are checked without waiting for them.
class RecordingWindow final : public TitleBarSurface {
public:
    double clock = 0;
    bool fullScreen = false, overlays = false, controls = false;
    TitleBarSaved state{true, true};
    std::map<TitleBarTimer, double> timers;  // kind -> due time
    std::function<double()> reserveNow;
    std::optional<double> reserveAtApply;  // what the page had been told when the header bar went

    bool isFullScreen() const override { return fullScreen; }
    bool isVisible() const override { return true; }
    TitleBarSaved capture() const override { return state; }
    void applyMode() override {
        reserveAtApply = reserveNow ? reserveNow() : 0;
        state = {false, false};
    }
    void restore(const TitleBarSaved& saved) override { state = saved; }
    void installOverlays() override { overlays = true; }
    void removeOverlays() override { overlays = false; }
    void showControls(bool shown, bool) override { controls = shown; }
    bool pointerInTrigger() const override { return false; }
    bool anyButtonPressed() const override { return false; }
    void startTimer(TitleBarTimer timer, double seconds) override { timers[timer] = clock + seconds; }
    void cancelTimer(TitleBarTimer timer) override { timers.erase(timer); }

    // Moves the clock on, firing the timers that fall due in their order, as the main loop would.
    void advance(TitleBarState& machine, double seconds) {
        const double end = clock + seconds;
        for (;;) {
            const auto next = std::min_element(timers.begin(), timers.end(),
                                               [](const auto& a, const auto& b) { return a.second < b.second; });
            if (next == timers.end() || next->second > end) break;
            clock = next->second;
            const TitleBarTimer kind = next->first;
            timers.erase(next);
            machine.timerFired(kind);
        }
        clock = end;
    }
};

}  // namespace

int titleBarSelfCheck(std::FILE* out) {
    CheckReport report(out);
    report.info("Otsikkopalkin piilotus: tilakone kirjaavalla ikkunalla ja siirrettavalla kellolla");
    RecordingWindow window;
    TitleBarState machine(window, [&window] { return window.clock; });
    window.reserveNow = [&machine] { return machine.reportedReserve(); };
    const TitleBarSaved before = window.state;
    const double early = 0.05;  // this much before a delay ends nothing may have happened yet

    machine.setWanted(true);
    {
        Faults f;
        f.expect(!window.state.headerBarVisible, "otsikkopalkki nakyy yha");
        f.expect(window.overlays, "ylareunan kaistaa ei asetettu");
        f.expect(!window.controls, "ikkunan painikkeet esilla heti");
        f.expect(window.reserveAtApply == titlebar::reserve,
                 "sivulle ei ilmoitettu " + number(titlebar::reserve) + " px ennen otsikkopalkin piilotusta");
        report.check(f.none(), "tila paalle: otsikkopalkki piiloon, sivu tekee tilaa ensin", f.why());
    }

    machine.triggerEntered();
    window.advance(machine, titlebar::revealDelay - early);
    {
        Faults f;
        f.expect(!window.controls, "painikkeet esiin ennen viivetta");
        window.advance(machine, 2 * early);
        f.expect(window.controls, "painikkeet eivat tulleet esiin viiveen jalkeen");
        report.check(f.none(),
                     "osoitin lepaa ylareunassa: painikkeet esiin " + number(titlebar::revealDelay) + " s jalkeen",
                     f.why());
    }

    machine.triggerLeft();
    window.advance(machine, titlebar::hideDelay - early);
    {
        Faults f;
        f.expect(window.controls, "painikkeet piiloon ennen viivetta");
        window.advance(machine, 2 * early);
        f.expect(!window.controls, "painikkeet jaivat esiin");
        report.check(f.none(), "osoitin poistuu: painikkeet piiloon " + number(titlebar::hideDelay) + " s jalkeen",
                     f.why());
    }

    machine.beginFullScreenTransition();
    {
        Faults f;
        f.expect(machine.transitionPending() && machine.inFullScreen(), "siirtyma ei kay koko nayttona");
        f.expect(!window.overlays, "kaista jai koko nayton paalle");
        f.expect(machine.reportedReserve() == 0, "sivulle jai varaus " + number(machine.reportedReserve()) + " px");
        window.fullScreen = true;
        machine.fullScreenChanged();
        f.expect(!machine.transitionPending(), "ilmoitettu siirtyma jai kesken");
        f.expect(!window.overlays && !window.state.headerBarVisible, "koko naytto muutti tilan omat asetukset");
        window.fullScreen = false;
        machine.beginFullScreenTransition();
        machine.fullScreenChanged();
        f.expect(!machine.inFullScreen() && window.overlays, "kaista ei palannut koko nayton jalkeen");
        f.expect(machine.reportedReserve() == titlebar::reserve, "varaus ei palannut koko nayton jalkeen");
        report.check(f.none(), "koko naytto ilmoitettu: kaista pois ja takaisin", f.why());
    }

    // A request the window manager never answers: stale after the deadline, and the mode comes back.
    machine.beginFullScreenTransition();
    window.advance(machine, titlebar::transitionDeadline - early);
    {
        Faults f;
        f.expect(machine.transitionPending() && !window.overlays, "siirtyma raukesi ennen maaraaikaa");
        window.advance(machine, titlebar::transitionRecheck + 2 * early);
        f.expect(!machine.transitionPending(), "vanhentunut siirtyma jai voimaan");
        f.expect(window.overlays && machine.reportedReserve() == titlebar::reserve,
                 "tila ei palannut maaraajan jalkeen");
        report.check(f.none(),
                     "vastaamaton koko nayton pyynto vanhenee " + number(titlebar::transitionDeadline) + " s jalkeen",
                     f.why());
    }

    machine.triggerEntered();
    window.advance(machine, titlebar::revealDelay + early);
    machine.setWanted(false);
    {
        Faults f;
        f.expect(window.state == before, "otsikkopalkki tai valikkopalkki ei palannut");
        f.expect(!window.overlays && !window.controls, "kaista tai painikkeet jaivat");
        f.expect(window.timers.empty(), "ajastin jai odottamaan");
        f.expect(machine.reportedReserve() == 0, "sivulle jai varaus");
        report.check(f.none(), "tila pois: otsikkopalkki palautuu ennalleen", f.why());
    }
    return report.finish();
}

namespace {

// ---- The marked-script export ----

// Screen measures the layout is given in, as the page would report them.
constexpr double layoutPageWpx = 800;
constexpr double layoutGutterPx = 420;  // wide enough that every demo label fits on one row
constexpr double labelFontPx = 12;
constexpr double labelLineH = 1.2;
constexpr double labelPadX = 4;
constexpr double labelPadY = 1;
constexpr double labelEdge = 2;
constexpr int renderWidth = 300;

// The label the page gives a cue: kind, number and name.
std::string labelTextOf(const Cue& cue) {
    std::string tag = cue.kind;
    if (!cue.number.empty()) tag += (tag.empty() ? "" : " ") + cue.number;
    if (tag.empty()) tag = "?";
    return cue.label.empty() ? tag : tag + " " + cue.label;
}

// White space folded to single spaces, so that a label still matches where
// the text reader breaks or spaces it differently.
std::string folded(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = g_ascii_isspace(c);
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The layout the page would measure for `sidecar`: every page measured, each
// cue boxed, its label in the gutter right of the page on the cue's line,
// stacked where lines are close.
std::string demoLayout(const CueSidecar& sidecar, const std::vector<double>& aspects) {
    Json pages = Json::array();
    const double rowPx = labelFontPx * labelLineH + 2 * labelPadY;
    for (std::size_t index = 0; index < aspects.size(); ++index) {
        const double hpx = layoutPageWpx / (aspects[index] > 0 ? aspects[index] : DocumentStore::fallbackAspect);
        std::vector<const Cue*> cues;
        for (const Cue& cue : sidecar.cues)
            if (cue.page == static_cast<std::int64_t>(index)) cues.push_back(&cue);
        std::stable_sort(cues.begin(), cues.end(), [](const Cue* a, const Cue* b) { return a->y < b->y; });
        Json boxes = Json::array(), labels = Json::array();
        double freeFrom = 0;  // px: the next label starts no higher
        for (const Cue* cue : cues) {
            boxes.push_back({{"id", cue->id}, {"color", cue->color}, {"x", cue->x}, {"w", cue->w}, {"dy", cue->y},
                             {"dh", cue->h}, {"padL_px", 0}, {"padR_px", 0}, {"outlineOffset_px", -1.5}});
            const double top = std::max((cue->y + cue->h / 2) * hpx - rowPx / 2, freeFrom);
            freeFrom = top + rowPx + labelEdge;
            const double left = layoutPageWpx + labelEdge, width = layoutGutterPx - 2 * labelEdge;
            labels.push_back({{"id", cue->id}, {"text", labelTextOf(*cue)}, {"color", cue->color},
                              {"x", left / layoutPageWpx}, {"w", width / layoutPageWpx}, {"dy", top / hpx},
                              {"dh", rowPx / hpx}, {"rows", 1}, {"padL_px", 0}, {"measuredWpx", width},
                              {"leader", {cue->x + cue->w, cue->y + cue->h / 2, left / layoutPageWpx,
                                          (top + rowPx / 2) / hpx}}});
        }
        pages.push_back({{"index", index}, {"extra", 0}, {"pageWpx", layoutPageWpx}, {"pageHpx", hpx},
                         {"cues", boxes}, {"labels", labels}, {"gutter", {{"side", "right"}, {"px", layoutGutterPx}}}});
    }
    const Json layout = {{"labelFontPx", labelFontPx},
                         {"labelLineH", labelLineH},
                         {"labelPadX_px", labelPadX},
                         {"labelPadY_px", labelPadY},
                         {"resolvedFonts", Json::array({"Liberation Mono"})},
                         {"pages", pages}};
    return dumpJson(layout, -1);
}

// The demo's files are a few hundred kilobytes; this bounds what is read to hash them.
constexpr std::size_t maxHashedBytes = 64u << 20;

// SHA-256 of a file's bytes; none when it cannot be read.
std::optional<std::string> fileHash(const std::filesystem::path& path) {
    const ReadResult file = readWholeFile(path, maxHashedBytes);
    if (file.status != ReadStatus::ok) return std::nullopt;
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(file.bytes.data()),
                                             file.bytes.size());
    std::string text = hex;
    g_free(hex);
    return text;
}

// A fresh folder under the temporary folder, removed with what is in it.
class ScratchFolder {
public:
    ScratchFolder() {
        // The process in the name tells one run's folder from another's running beside it.
        const std::string pattern = "tallowmark-export-test-" + std::to_string(getpid()) + "-XXXXXX";
        if (gchar* made = g_dir_make_tmp(pattern.c_str(), nullptr)) {
            path_ = made;
            g_free(made);
        } else {
            problem_ = std::string("ei voitu luoda kansioon ") + g_get_tmp_dir();
        }
    }
    ~ScratchFolder() { remove(); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::string& problem() const { return problem_; }
    bool remove() {
        if (path_.empty()) return true;
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        const bool gone = !std::filesystem::exists(path_, error);
        if (gone) path_.clear();
        return gone;
    }

private:
    std::filesystem::path path_;
    std::string problem_;
};

void runExportCheck(CheckReport& report, const std::filesystem::path& folder) {
    Captured made;
    DemoScriptMaker maker(made.file());
    if (!report.check(maker.run(folder) == 0 && maker.lastWrittenPDF(), "esimerkkikasikirjoitus ja sen cuet",
                      made.line()))
        return;
    const std::filesystem::path pdf = *maker.lastWrittenPDF();
    const std::filesystem::path marks = sidecarPathFor(pdf);
    const ReadResult marksFile = readWholeFile(marks, maxSidecarBytes);
    const std::optional<CueSidecar> sidecar =
        marksFile.status == ReadStatus::ok ? decodeSidecar(marksFile.bytes) : std::nullopt;
    if (!report.check(sidecar && !sidecar->cues.empty(), "esimerkin sivutiedosto", "ei luettavissa tai ilman cueja"))
        return;
    const std::optional<std::string> pdfBefore = fileHash(pdf), marksBefore = fileHash(marks);

    DocumentStore script;
    const std::optional<DocumentStore::Info> scriptInfo = script.open(pdf);
    if (!report.check(scriptInfo && scriptInfo->pageCount > 0, "esimerkkikasikirjoitus aukeaa")) return;
    const std::filesystem::path layout = folder / "ladonta.json";
    if (!report.check(writeFileAtomically(layout, demoLayout(*sidecar, scriptInfo->aspects)), "ruudun ladonta",
                      "tiedostoa ei voitu kirjoittaa"))
        return;

    // Through the command-line mode itself, so the check covers what a technician's export runs.
    const std::filesystem::path exported = folder / "merkitty.pdf";
    Captured exportText;
    const std::optional<int> status =
        runCommandLineMode({"--export-marked", pdf.string(), exported.string(), layout.string()}, exportText.file());
    if (!report.check(status == 0 && std::filesystem::exists(exported), "vienti kuten --export-marked",
                      exportText.line()))
        return;

    DocumentStore result;
    const std::optional<DocumentStore::Info> info = result.open(exported);
    if (!report.check(info.has_value(), "viety PDF aukeaa", "DocumentStore ei avaa sita")) return;
    report.check(info->pageCount == scriptInfo->pageCount,
                 "sivumaara " + std::to_string(scriptInfo->pageCount) + " kuten kasikirjoituksessa",
                 "viedyssa " + std::to_string(info->pageCount) + " sivua");

    std::string unrendered;
    for (int i = 0; i < info->pageCount; ++i) {
        const auto png = result.renderPage(i, renderWidth);
        if (!png || png->empty()) unrendered += (unrendered.empty() ? "sivu " : ", ") + std::to_string(i + 1);
    }
    report.check(unrendered.empty() && info->pageCount > 0, "viedyn PDF:n sivut renderoituvat",
                 unrendered.empty() ? "ei sivuja" : unrendered + " ei renderoidy");

    std::map<std::int64_t, std::string> pageTexts;
    std::string missing;
    int missingCount = 0;
    for (const Cue& cue : sidecar->cues) {
        if (!pageTexts.contains(cue.page)) pageTexts[cue.page] = folded(result.pageText(static_cast<int>(cue.page)));
        const std::string label = folded(labelTextOf(cue));
        if (pageTexts[cue.page].find(label) != std::string::npos) continue;
        if (++missingCount <= 3) missing += (missing.empty() ? "" : ", ") + ("'" + label + "'");
    }
    if (missingCount > 3) missing += " ja " + std::to_string(missingCount - 3) + " muuta";
    report.check(missingCount == 0,
                 "kaikkien " + std::to_string(sidecar->cues.size()) + " cuen tunnus ja nimi viedyssa tekstissa",
                 "puuttuu " + missing);

    const bool unchanged = pdfBefore && marksBefore && fileHash(pdf) == pdfBefore && fileHash(marks) == marksBefore;
    report.check(unchanged, "kasikirjoitus ja sivutiedosto ennallaan (SHA-256)", "tiedosto muuttui viennissa");
}

}  // namespace

int exportSelfCheck(std::FILE* out) {
    CheckReport report(out);
    report.info("Merkityn kasikirjoituksen vienti: esimerkki valiaikaiskansiossa");
    {
        ScratchFolder folder;
        if (!report.check(!folder.path().empty(), "valiaikainen kansio", folder.problem())) return report.finish();
        runExportCheck(report, folder.path());
        const std::filesystem::path where = folder.path();
        report.check(folder.remove(), "valiaikainen kansio poistettu", where.string());
    }
    return report.finish();
}

namespace {

// ---- The update rules ----

// A stamp of the day `days` from `stamp`'s day, "YYYYMMDD-" and `commit`;
// none when the stamp carries no calendar day.
std::optional<std::string> stampDaysFrom(const std::string& stamp, int days, const std::string& commit) {
    const std::optional<long> day = update::buildDay(stamp);
    if (!day || *day < 10000101 || *day > 99991231) return std::nullopt;
    GDate date;
    g_date_clear(&date, 1);
    const auto month = static_cast<GDateMonth>(*day / 100 % 100);
    const auto dayOfMonth = static_cast<GDateDay>(*day % 100);
    const auto year = static_cast<GDateYear>(*day / 10000);
    if (!g_date_valid_dmy(dayOfMonth, month, year)) return std::nullopt;
    g_date_set_dmy(&date, dayOfMonth, month, year);
    if (days >= 0) g_date_add_days(&date, static_cast<guint>(days));
    else g_date_subtract_days(&date, static_cast<guint>(-days));
    char text[16];
    g_snprintf(text, sizeof text, "%04u%02u%02u", g_date_get_year(&date),
               static_cast<unsigned>(g_date_get_month(&date)), static_cast<unsigned>(g_date_get_day(&date)));
    return std::string(text) + "-" + commit;
}

// Why a feed is not offered, in the order the parser decides it: what the
// technician reads, where the parser itself only says no.
std::string refusalOf(const std::string& bytes, const std::string& localStamp, std::optional<double> localTime,
                      const std::set<std::string>& hosts) {
    if (bytes.empty()) return "syote on tyhja";
    if (bytes.size() > update::maxFeedBytes)
        return "syote on yli " + std::to_string(update::maxFeedBytes / 1024) + " kt";
    const Json feed = Json::parse(bytes, nullptr, false);
    if (feed.is_discarded() || !feed.is_object()) return "syote ei ole JSON-olio";
    const auto stamp = feed.find("stamp"), zip = feed.find("zip");
    if (stamp == feed.end() || !stamp->is_string() || zip == feed.end() || !zip->is_string())
        return "syotteesta puuttuu versio tai latausosoite";
    const std::string url = zip->get<std::string>();
    const std::optional<update::URLParts> parts = update::parseURL(url);
    if (!parts) return "latausosoite ei ole kelvollinen";
    if (g_ascii_strcasecmp(parts->scheme.c_str(), "https") != 0) return "lataus ei ole https-yhteydella";
    if (!update::isAllowedDownloadURL(url, hosts)) return "latauspalvelin " + parts->host + " ei ole valmistajan";
    if (!update::isNewer(stamp->get<std::string>(), update::manifestBuildTime(&feed), localStamp, localTime))
        return "versio ei ole asennettua uudempi";
    return "syy ei selvinnyt";
}

// A build time of NaN stands for none (GCC misreads an optional passed on here).
Json feedOf(const std::string& stamp, const std::string& zip, double buildTime) {
    Json feed = {{"stamp", stamp}, {"zip", zip}};
    if (!std::isnan(buildTime)) feed["buildTime"] = buildTime;
    return feed;
}

}  // namespace

int updateSelfCheck(std::FILE* out) {
    CheckReport report(out);
    const update::BuildInfo& running = update::runningBuild();
    const std::string& host = update::defaultUpdateHost();
    report.info("Paivityssaannot ilman verkkoa: kaannos " + running.stamp + ", palvelin " + host);
    if (!update::buildPublicKey())
        report.note("kaannoksessa ei ole julkaisuavainta: se ei hae paivityksia (saannot tarkistetaan silti)");
    if (!update::runningBundle())
        report.note("ohjelma ei toimi asennetusta TALLOWMARK.app-kansiosta: se ei voi korvata itseaan");

    // Against the running build when its stamp carries a day; a build from
    // outside git has none, and a day of reference stands in for it.
    std::string local = running.stamp;
    std::optional<double> localTime = running.buildTime;
    if (!stampDaysFrom(local, 0, "0000000")) {
        report.note("kaannoksen leimassa ei ole paivaa: vertailuna 20260101-0000000");
        local = "20260101-0000000";
        localTime = std::nullopt;
    }
    const std::string newer = *stampDaysFrom(local, 1, "f00d001"), older = *stampDaysFrom(local, -1, "f00d002");
    const double none = std::nan("");
    const double later = localTime ? *localTime + 86400 : none;
    const double earlier = localTime ? *localTime - 86400 : none;
    const std::string package = "/updates/TALLOWMARK-" + newer + ".zip";
    const std::string zip = "https://" + host + package;
    const std::set<std::string> hosts{host};

    report.check(update::isAllowedDownloadURL(update::feedURLFor(host), hosts),
                 "syote haetaan https-yhteydella valmistajan palvelimelta", update::feedURLFor(host));

    const std::string feed = feedOf(newer, zip, later).dump();
    const std::string oversized = [&] {
        Json padded = feedOf(newer, zip, later);
        padded["notes"] = std::string(update::maxFeedBytes, 'x');
        return padded.dump();
    }();
    struct Row {
        std::string what;
        std::string bytes;
        std::string refusal;  // empty: offered
    };
    const std::vector<Row> rows = {
        {"uudempi versio valmistajan palvelimella tarjotaan", feed, ""},
        {"sama versio ei ole paivitys", feedOf(local, zip, localTime.value_or(none)).dump(), "versio ei ole asennettua uudempi"},
        {"vanhempi versio ei ole paivitys", feedOf(older, zip, earlier).dump(), "versio ei ole asennettua uudempi"},
        {"lataus toiselta palvelimelta hylataan",
         feedOf(newer, "https://downloads.example.net" + package, later).dump(),
         "latauspalvelin downloads.example.net ei ole valmistajan"},
        {"lataus valmistajan nimea jatkavalta palvelimelta hylataan",
         feedOf(newer, "https://" + host + ".example.net" + package, later).dump(),
         "latauspalvelin " + host + ".example.net ei ole valmistajan"},
        {"lataus ilman salausta (http) hylataan", feedOf(newer, "http://" + host + package, later).dump(),
         "lataus ei ole https-yhteydella"},
        {"virheellinen syote hylataan", "<html>404</html>", "syote ei ole JSON-olio"},
        {"katkennut syote hylataan", feed.substr(0, feed.size() / 2), "syote ei ole JSON-olio"},
        {"ylisuuri syote hylataan", oversized,
         "syote on yli " + std::to_string(update::maxFeedBytes / 1024) + " kt"},
    };
    for (const Row& row : rows) {
        const std::optional<update::UpdateInfo> offer = update::parseFeed(row.bytes, local, localTime, hosts);
        if (row.refusal.empty()) {
            report.check(offer == update::UpdateInfo{newer, zip}, row.what + " (" + newer + ")",
                         offer ? "tarjottiin " + offer->stamp + " " + offer->zipURL
                               : "ei tarjottu: " + refusalOf(row.bytes, local, localTime, hosts));
            continue;
        }
        const std::string refusal = offer ? std::string() : refusalOf(row.bytes, local, localTime, hosts);
        report.check(!offer && refusal == row.refusal, row.what + ": " + row.refusal,
                     offer ? "tarjottiin " + offer->stamp : "syy: " + refusal);
    }
    return report.finish();
}

}  // namespace tallowmark
