// The rows of the call table: read the arguments, do the work, reply.

#include <glib.h>

#include <algorithm>
#include <climits>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "core/work_pool.hpp"

namespace tallowmark {

namespace {

constexpr int searchLimit = 300;

// Page indexes beyond int are no page at all; -1 is refused by every store call.
int pageIndex(std::int64_t index) {
    return index < INT_MIN || index > INT_MAX ? -1 : static_cast<int>(index);
}

// A list whose every element satisfies `isKind`; none when one does not or
// the value is no list, as the page then sent something else entirely.
template <class IsKind>
std::optional<std::vector<Json>> listOf(const Json& value, IsKind isKind) {
    if (!value.is_array()) return std::nullopt;
    if (!std::all_of(value.begin(), value.end(), isKind)) return std::nullopt;
    return std::vector<Json>(value.begin(), value.end());
}

std::vector<std::string> idList(const Json& value) {
    std::vector<std::string> ids;
    if (auto list = listOf(value, [](const Json& v) { return v.is_string(); }))
        for (const Json& v : *list) ids.push_back(v.get<std::string>());
    return ids;
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
    gchar* text = g_base64_encode(bytes.data(), bytes.size());
    std::string result(text);
    g_free(text);
    return result;
}

// Answers with `work` on page `index`'s lines: at once when the page has
// them, else on the background pool, so that laying out a page the collection
// behind the open has not reached never holds the main thread. `fallback`
// answers when the store is gone meanwhile.
template <class Work>
void withPageLines(const std::shared_ptr<DocumentStore>& store, int index, ReplyHandle& r, Json fallback, Work work) {
    if (store->linesReady(index)) return r.answer(work(*store));
    runInBackground([weak = std::weak_ptr<DocumentStore>(store), reply = r, value = std::move(fallback), work]() mutable {
        if (auto strong = weak.lock()) value = work(*strong);
        postToMain([reply, value = std::move(value)]() mutable { reply.answer(value); });
    });
}

}  // namespace

const std::vector<NativeBridge::Row>& NativeBridge::rows() {
    static const std::vector<Row> table = {
        {"openDocumentPanel", &NativeBridge::openDocumentPanelCall},
        {"openDocumentPath", &NativeBridge::openDocumentPathCall},
        {"closeDocument", &NativeBridge::closeDocumentCall},
        {"currentDocument", &NativeBridge::currentDocumentCall},
        {"renderPage", &NativeBridge::renderPageCall},
        {"searchDocument", &NativeBridge::searchDocumentCall},
        {"pageText", &NativeBridge::pageTextCall},
        {"textRect", &NativeBridge::textRectCall},
        {"pageLines", &NativeBridge::pageLinesCall},
        {"allPageLines", &NativeBridge::allPageLinesCall},
        {"setCrop", &NativeBridge::setCropCall},
        {"ensureWindowWidth", &NativeBridge::ensureWindowWidthCall},
        {"windowChrome", &NativeBridge::windowChromeCall},
        {"getState", &NativeBridge::getStateCall},
        {"getSettings", &NativeBridge::getSettingsCall},
        {"setSettings", &NativeBridge::setSettingsCall},
        {"getControlStatus", &NativeBridge::getControlStatusCall},
        {"getLog", &NativeBridge::getLogCall},
        {"upsertCue", &NativeBridge::upsertCueCall},
        {"removeCue", &NativeBridge::removeCueCall},
        {"upsertCues", &NativeBridge::upsertCuesCall},
        {"removeCues", &NativeBridge::removeCuesCall},
        {"renumberCues", &NativeBridge::renumberCuesCall},
        {"upsertMarks", &NativeBridge::upsertMarksCall},
        {"removeMarks", &NativeBridge::removeMarksCall},
        {"standbyCue", &NativeBridge::standbyCueCall},
        {"setSpreadOffset", &NativeBridge::setSpreadOffsetCall},
        {"restoreRun", &NativeBridge::restoreRunCall},
        {"discardRun", &NativeBridge::discardRunCall},
        {"upsertMark", &NativeBridge::upsertMarkCall},
        {"removeMark", &NativeBridge::removeMarkCall},
        {"upsertFlag", &NativeBridge::upsertFlagCall},
        {"removeFlag", &NativeBridge::removeFlagCall},
        {"upsertMemo", &NativeBridge::upsertMemoCall},
        {"removeMemo", &NativeBridge::removeMemoCall},
        {"upsertInsert", &NativeBridge::upsertInsertCall},
        {"removeInsert", &NativeBridge::removeInsertCall},
        {"setPageLabelOffset", &NativeBridge::setPageLabelOffsetCall},
        {"setPageText", &NativeBridge::setPageTextCall},
        {"go", &NativeBridge::goCall},
        {"back", &NativeBridge::backCall},
        {"reset", &NativeBridge::resetCall},
        {"undo", &NativeBridge::undoCall},
        {"redo", &NativeBridge::redoCall},
        {"reportPage", &NativeBridge::reportPageCall},
        {"revealSidecar", &NativeBridge::revealSidecarCall},
        {"saveSidecar", &NativeBridge::saveSidecarCall},
        {"saveScriptAs", &NativeBridge::saveScriptAsCall},
        {"importSidecar", &NativeBridge::importSidecarCall},
        {"offerMarks", &NativeBridge::offerMarksCall},
        {"makeDemo", &NativeBridge::makeDemoCall},
        {"exportMarkedPDF", &NativeBridge::exportMarkedPDFCall},
        {"menuState", &NativeBridge::menuStateCall},
        {"debugLog", &NativeBridge::debugLogCall},
        {"updateStatus", &NativeBridge::updateStatusCall},
        {"installUpdate", &NativeBridge::installUpdateCall},
    };
    return table;
}

// --- documents and pages ---

void NativeBridge::openDocumentPathCall(const BridgeArguments& a, ReplyHandle& r) {
    const auto path = a.path(0);
    if (!path) return r.answer(nullptr);
    openDocumentAsking(*path, [weak = weak_from_this(), path = *path, reply = r](OpenOutcome outcome) mutable {
        if (auto bridge = weak.lock()) bridge->answerOpen(outcome, path, reply, nullptr);
    });
}

void NativeBridge::closeDocumentCall(const BridgeArguments&, ReplyHandle& r) {
    documentStore_->close();
    currentInfo_.reset();
    engine_.unload();
    r.answer(stateDictionary());
}

void NativeBridge::currentDocumentCall(const BridgeArguments&, ReplyHandle& r) {
    if (!currentInfo_) return r.answer(nullptr);
    Json dict = *currentInfo_;
    dict["visiblePage"] = visiblePage_;
    if (auto text = documentText(dict)) return r.answerEncoded(*text);
    r.answer(nullptr);
}

void NativeBridge::renderPageCall(const BridgeArguments& a, ReplyHandle& r) {
    const auto index = a.integer(0);
    if (!index) return r.answer(nullptr);
    std::int64_t width = a.integer(1).value_or(settingsStore_->settings().renderWidth);
    if (width > 8191) width = 8192;
    if (width < 64) width = 64;
    runInBackground([store = std::weak_ptr<DocumentStore>(documentStore_), index = *index,
                     width = static_cast<int>(width), reply = r] {
        std::optional<DocumentStore::Bytes> png;
        if (auto strong = store.lock()) png = strong->renderPage(pageIndex(index), width);
        Json value = png ? Json{{"index", index}, {"png", base64(*png)}} : Json(nullptr);
        postToMain([reply, value = std::move(value)]() mutable { reply.answer(value); });
    });
}

void NativeBridge::searchDocumentCall(const BridgeArguments& a, ReplyHandle& r) {
    const auto query = a.string(0);
    if (!query || g_utf8_strlen(query->c_str(), static_cast<gssize>(query->size())) < 2)
        return r.answer(Json::array());
    runInBackground([store = std::weak_ptr<DocumentStore>(documentStore_), query = *query, reply = r] {
        Json hits = Json::array();
        if (auto strong = store.lock()) {
            for (const auto& hit : strong->search(query, searchLimit))
                hits.push_back({{"page", hit.page},
                                {"rect", numberList(hit.rect.list())},
                                {"snippet", hit.snippet},
                                {"lineEnd", hit.lineEnd}});
        }
        postToMain([reply, hits = std::move(hits)]() mutable { reply.answer(hits); });
    });
}

void NativeBridge::pageTextCall(const BridgeArguments& a, ReplyHandle& r) {
    r.answer(documentStore_->pageText(pageIndex(a.integer(0).value_or(0))));
}

void NativeBridge::textRectCall(const BridgeArguments& a, ReplyHandle& r) {
    const auto page = a.integer(0);
    const auto x0 = a.number(1), y0 = a.number(2), x1 = a.number(3), y1 = a.number(4);
    if (!page || a.size() < 5 || !x0 || !y0 || !x1 || !y1) return r.answer(nullptr);
    const bool snapWords = a.boolean(5).value_or(true);
    const int index = pageIndex(*page);
    const ViewPoint from{*x0, *y0}, to{*x1, *y1};
    withPageLines(documentStore_, index, r, nullptr, [=](DocumentStore& store) -> Json {
        const std::optional<DocumentStore::Selection> selection = store.textSelection(index, from, to, snapWords);
        if (!selection) return nullptr;
        Json lines = Json::array();
        for (const auto& line : selection->lines) lines.push_back(numberList(line.list()));
        return {{"rect", numberList(selection->rect.list())},
                {"text", selection->text},
                {"lineEnd", selection->lineEnd},
                {"gapL", selection->gapL},
                {"gapR", selection->gapR},
                {"lines", std::move(lines)}};
    });
}

void NativeBridge::pageLinesCall(const BridgeArguments& a, ReplyHandle& r) {
    const int index = pageIndex(a.integer(0).value_or(0));
    withPageLines(documentStore_, index, r, Json::array(), [index](DocumentStore& store) {
        Json lines = Json::array();
        for (const auto& line : store.pageLines(index)) lines.push_back(numberList(line.list()));
        return lines;
    });
}

void NativeBridge::allPageLinesCall(const BridgeArguments&, ReplyHandle& r) {
    const auto all = documentStore_->allPageLines();
    if (!all) return r.answer(nullptr);
    Json pages = Json::array();
    for (const auto& page : *all) {
        Json lines = Json::array();
        // The fifth number is 1 for a page number, 0 for any other line.
        for (const auto& line : page)
            lines.push_back(numberList(std::array{line.rect.x, line.rect.y, line.rect.width, line.rect.height,
                                                  line.pageNumber ? 1.0 : 0.0}));
        pages.push_back(std::move(lines));
    }
    r.answer(pages);
}

void NativeBridge::setCropCall(const BridgeArguments& a, ReplyHandle& r) {
    // Anything but a list of four numbers clears the crop.
    std::optional<PageCrop> crop;
    if (auto list = listOf(a.first(), [](const Json& v) { return v.is_number(); })) {
        std::vector<double> numbers;
        for (const Json& v : *list) numbers.push_back(v.get<double>());
        crop = cropFromList(numbers);
    }
    const auto info = documentStore_->setCrop(crop);
    engine_.setCrop(cropList(documentStore_->manualCrop()));
    if (!info) return r.answer(nullptr);
    currentInfo_ = documentDictionary(*info);
    answerDocument(r);
}

void NativeBridge::ensureWindowWidthCall(const BridgeArguments& a, ReplyHandle& r) {
    r.answer(ensureWindowWidth(a.integer(0).value_or(0)));
}

void NativeBridge::windowChromeCall(const BridgeArguments&, ReplyHandle& r) {
    auto titleBar = titleBar_.lock();
    r.answer({{"reserve", titleBar ? titleBar->reportedReserve() : 0.0}});
}

void NativeBridge::reportPageCall(const BridgeArguments& a, ReplyHandle& r) {
    visiblePage_ = a.integer(0).value_or(0);
    r.answer(true);
}

// --- settings, status and logs ---

void NativeBridge::getStateCall(const BridgeArguments&, ReplyHandle& r) { r.answer(stateDictionary()); }

void NativeBridge::getSettingsCall(const BridgeArguments&, ReplyHandle& r) { r.answer(settingsDictionary()); }

void NativeBridge::setSettingsCall(const BridgeArguments& a, ReplyHandle& r) {
    const Json* dict = a.dict(0);
    if (!dict) return r.answer(false);
    applySettings(*dict);
    r.answer(settingsDictionary());
}

void NativeBridge::getControlStatusCall(const BridgeArguments&, ReplyHandle& r) { r.answer(hub_->status()); }

void NativeBridge::getLogCall(const BridgeArguments&, ReplyHandle& r) {
    Json entries = Json::array();
    for (const LogEntry& entry : hub_->log()) entries.push_back(toJson(entry));
    r.answer(entries);
}

void NativeBridge::menuStateCall(const BridgeArguments& a, ReplyHandle& r) {
    if (const Json* dict = a.dict(0)) {
        menuState_ = readMenuState(*dict, settingsStore_->settings());
        // Also when unchanged: the page reports after every open, and the
        // recent scripts in the menu follow the settings then.
        if (onMenuStateChange) onMenuStateChange();
    }
    r.answer(true);
}

void NativeBridge::debugLogCall(const BridgeArguments& a, ReplyHandle& r) {
    logSystemLine("TALLOWMARK JS: " + a.string(0).value_or(""));
    r.answer(true);
}

void NativeBridge::updateStatusCall(const BridgeArguments&, ReplyHandle& r) {
    const auto available = updates_->availableStamp();
    Json status{{"available", available ? Json(*available) : Json(nullptr)}, {"current", updates_->currentStamp()}};
    if (const auto why = updates_->unavailable()) status["unavailable"] = *why;
    r.answer(status);
}

void NativeBridge::installUpdateCall(const BridgeArguments&, ReplyHandle& r) {
    r.answer(true);
    updates_->install();
}

// --- editing ---

void NativeBridge::upsertCueCall(const BridgeArguments& a, ReplyHandle& r) {
    const Json* dict = a.dict(0);
    if (!dict) return r.answer(false);
    const Cue cue = decodeCue(*dict);
    engine_.upsert(cue);
    r.answer(cue.id);
}

void NativeBridge::upsertCuesCall(const BridgeArguments& a, ReplyHandle& r) {
    std::vector<Cue> cues;
    Json ids = Json::array();
    if (auto list = listOf(a.first(), [](const Json& v) { return v.is_object(); })) {
        for (const Json& dict : *list) {
            cues.push_back(decodeCue(dict));
            ids.push_back(cues.back().id);
        }
    }
    if (!cues.empty()) engine_.upsert(cues);
    r.answer(ids);
}

void NativeBridge::removeCueCall(const BridgeArguments& a, ReplyHandle& r) {
    if (auto id = a.string(0)) engine_.remove(*id);
    r.answer(true);
}

void NativeBridge::removeCuesCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.remove(idList(a.first()));
    r.answer(true);
}

void NativeBridge::renumberCuesCall(const BridgeArguments&, ReplyHandle& r) {
    engine_.renumberCues();
    r.answer(stateDictionary());
}

void NativeBridge::standbyCueCall(const BridgeArguments& a, ReplyHandle& r) {
    if (auto id = a.string(0)) engine_.standbyByID(*id);
    r.answer(true);
}

void NativeBridge::upsertMarkCall(const BridgeArguments& a, ReplyHandle& r) {
    const Json* dict = a.dict(0);
    if (!dict) return r.answer(false);
    const Mark mark = decodeMark(*dict);
    engine_.upsert(mark);
    r.answer(mark.id);
}

void NativeBridge::upsertMarksCall(const BridgeArguments& a, ReplyHandle& r) {
    std::vector<Mark> marks;
    Json ids = Json::array();
    if (auto list = listOf(a.first(), [](const Json& v) { return v.is_object(); })) {
        for (const Json& dict : *list) {
            marks.push_back(decodeMark(dict));
            ids.push_back(marks.back().id);
        }
    }
    if (!marks.empty()) engine_.upsert(marks);
    r.answer(ids);
}

void NativeBridge::removeMarkCall(const BridgeArguments& a, ReplyHandle& r) {
    if (auto id = a.string(0)) engine_.removeMark(*id);
    r.answer(true);
}

void NativeBridge::removeMarksCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.removeMarks(idList(a.first()));
    r.answer(true);
}

void NativeBridge::upsertFlagCall(const BridgeArguments& a, ReplyHandle& r) {
    const Json* dict = a.dict(0);
    if (!dict) return r.answer(false);
    const Flag flag = decodeFlag(*dict);
    engine_.upsert(flag);
    r.answer(flag.id);
}

void NativeBridge::removeFlagCall(const BridgeArguments& a, ReplyHandle& r) {
    if (auto id = a.string(0)) engine_.removeFlag(*id);
    r.answer(true);
}

void NativeBridge::upsertMemoCall(const BridgeArguments& a, ReplyHandle& r) {
    if (!a.first().is_object()) return r.answer(nullptr);
    const Memo memo = decodeMemo(a.first());
    engine_.upsert(memo);
    r.answer(memo.id);
}

void NativeBridge::removeMemoCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.removeMemo(a.string(0).value_or(""));
    r.answer(true);
}

void NativeBridge::upsertInsertCall(const BridgeArguments& a, ReplyHandle& r) {
    if (!a.first().is_object()) return r.answer(nullptr);
    const Insert insert = decodeInsert(a.first());
    engine_.upsert(insert);
    r.answer(insert.id);
}

void NativeBridge::removeInsertCall(const BridgeArguments& a, ReplyHandle& r) {
    r.answer(engine_.removeInsert(a.string(0).value_or("")));
}

void NativeBridge::setPageTextCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.setPageText(a.integer(0).value_or(0), a.string(1).value_or(""));
    r.answer(true);
}

void NativeBridge::setPageLabelOffsetCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.setPageLabelOffset(a.integer(0).value_or(0));
    r.answer(true);
}

void NativeBridge::setSpreadOffsetCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.setSpreadOffset(a.integer(0).value_or(0));
    r.answer(engine_.sidecar().spreadOffset);
}

void NativeBridge::undoCall(const BridgeArguments&, ReplyHandle& r) {
    engine_.undo();
    r.answer(stateDictionary());
}

void NativeBridge::redoCall(const BridgeArguments&, ReplyHandle& r) {
    engine_.redo();
    r.answer(stateDictionary());
}

// --- running the show ---

void NativeBridge::goCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.go(a.string(0).value_or("ui"));
    answerRun(r);
}

void NativeBridge::backCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.back(a.string(0).value_or("ui"));
    answerRun(r);
}

void NativeBridge::resetCall(const BridgeArguments& a, ReplyHandle& r) {
    engine_.reset(a.string(0).value_or("ui"));
    answerRun(r);
}

void NativeBridge::restoreRunCall(const BridgeArguments&, ReplyHandle& r) { r.answer(engine_.restoreRun()); }

void NativeBridge::discardRunCall(const BridgeArguments&, ReplyHandle& r) {
    engine_.discardSavedRun();
    r.answer(true);
}

}  // namespace tallowmark
