// The calls on the open script itself: open and close it, draw, search and
// select in its pages, crop it, and the dictionary the page knows it by.

#include <glib.h>

#include <climits>

#include "bridge/bridge_calls.hpp"
#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "core/work_pool.hpp"

namespace tallowmark {

namespace {

constexpr int searchLimit = 300;

// Page indexes beyond int are no page at all; -1 is refused by every store call.
int pageIndex(std::int64_t index) {
    return index < INT_MIN || index > INT_MAX ? -1 : static_cast<int>(index);
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
    gchar* text = g_base64_encode(bytes.data(), bytes.size());
    std::string result(text);
    g_free(text);
    return result;
}

// Each page's crop as a frame of its whole page, y down: the page turns a frame
// drawn on any page into a crop, and back, with these. A page shown whole is
// the whole page. The store's fractions are y up; this is the one place they
// are turned.
Json cropRects(DocumentStore& store, int pageCount) {
    Json rects = Json::array();
    for (int i = 0; i < pageCount; ++i) {
        rects.push_back(numberList(store.pageCrop(i).value_or(PageCrop{0, 0, 1, 1}).list()));
    }
    return rects;
}

// Answers with `work` on page `index`'s lines: at once when the page has
// them, else on the background pool, so that laying out a page the collection
// behind the open has not reached never holds the main thread. `fallback`
// answers when the store is gone meanwhile.
template <class Work>
void withPageLines(OpenScript& script, int index, ReplyHandle& r, Json fallback, Work work) {
    if (script.store().linesReady(index)) return r.answer(work(script.store()));
    runInBackground([weak = script.weakStore(), reply = r, value = std::move(fallback), work]() mutable {
        if (auto strong = weak.lock()) value = work(*strong);
        postToMain([reply, value = std::move(value)]() mutable { reply.answer(value); });
    });
}

void openDocumentPath(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto path = a.path(0);
    if (!path) return r.answer(nullptr);
    b.openDocumentAsking(*path, [weak = b.weak_from_this(), path = *path, reply = r](
                                    NativeBridge::OpenOutcome outcome) mutable {
        if (auto bridge = weak.lock()) bridge->answerOpen(outcome, path, reply, nullptr);
    });
}

void closeDocument(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    b.script().close();
    r.answer(stateDictionary(b.engine()));
}

void currentDocument(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    if (!b.script().currentInfo()) return r.answer(nullptr);
    Json dict = *b.script().currentInfo();
    dict["visiblePage"] = b.script().visiblePage();
    if (auto text = b.dispatcher().withState(dict)) return r.answerEncoded(*text);
    r.answer(nullptr);
}

void renderPage(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto index = a.integer(0);
    if (!index) return r.answer(nullptr);
    std::int64_t width = a.integer(1).value_or(b.settings().settings().renderWidth);
    if (width > 8191) width = 8192;
    if (width < 64) width = 64;
    runInBackground([store = b.script().weakStore(), index = *index, width = static_cast<int>(width), reply = r] {
        std::optional<DocumentStore::Bytes> png;
        if (auto strong = store.lock()) png = strong->renderPage(pageIndex(index), width);
        Json value = png ? Json{{"index", index}, {"png", base64(*png)}} : Json(nullptr);
        postToMain([reply, value = std::move(value)]() mutable { reply.answer(value); });
    });
}

void searchDocument(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto query = a.string(0);
    if (!query || g_utf8_strlen(query->c_str(), static_cast<gssize>(query->size())) < 2)
        return r.answer(Json::array());
    runInBackground([store = b.script().weakStore(), query = *query, reply = r] {
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

void pageText(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    r.answer(b.script().store().pageText(pageIndex(a.integer(0).value_or(0))));
}

void textRect(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const auto page = a.integer(0);
    const auto x0 = a.number(1), y0 = a.number(2), x1 = a.number(3), y1 = a.number(4);
    if (!page || a.size() < 5 || !x0 || !y0 || !x1 || !y1) return r.answer(nullptr);
    const bool snapWords = a.boolean(5).value_or(true);
    const int index = pageIndex(*page);
    const ViewPoint from{*x0, *y0}, to{*x1, *y1};
    withPageLines(b.script(), index, r, nullptr, [=](DocumentStore& store) -> Json {
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

void pageLines(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    const int index = pageIndex(a.integer(0).value_or(0));
    withPageLines(b.script(), index, r, Json::array(), [index](DocumentStore& store) {
        Json lines = Json::array();
        for (const auto& line : store.pageLines(index)) lines.push_back(numberList(line.list()));
        return lines;
    });
}

void allPageLines(NativeBridge& b, const BridgeArguments&, ReplyHandle& r) {
    const auto all = b.script().store().allPageLines();
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

void setCrop(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    // Anything but a list of four numbers clears the crop.
    std::optional<PageCrop> crop;
    if (auto list = listOf(a.first(), [](const Json& v) { return v.is_number(); })) {
        std::vector<double> numbers;
        for (const Json& v : *list) numbers.push_back(v.get<double>());
        crop = cropFromList(numbers);
    }
    DocumentStore& store = b.script().store();
    const auto info = store.setCrop(crop);
    b.engine().setCrop(cropList(store.manualCrop()));
    if (!info) return r.answer(nullptr);
    b.script().setCurrentInfo(documentDictionary(b.script(), *info));
    b.answerDocument(r);
}

void reportPage(NativeBridge& b, const BridgeArguments& a, ReplyHandle& r) {
    b.script().setVisiblePage(a.integer(0).value_or(0));
    r.answer(true);
}

}  // namespace

Json documentDictionary(OpenScript& script, const DocumentStore::Info& info) {
    DocumentStore& store = script.store();
    Json dict = {{"path", pathToJson(info.path)},
                 {"title", info.title},
                 {"pageCount", info.pageCount},
                 {"aspects", numberList(info.aspects)},
                 {"crop", numberList(cropList(store.manualCrop()))},
                 {"autoCrop", numberList(cropList(store.automaticCrop()))},
                 {"cropRects", cropRects(store, info.pageCount)}};
    // Until the crop is known the page places and exports nothing: every
    // mark is kept in fractions of the cropped page.
    if (!store.linesComplete()) dict["linesPending"] = true;
    // Pages whose words were read from their pictures carry a badge; the
    // reading's progress shows while it runs.
    const DocumentStore::ScanStatus scans = store.scanStatus();
    if (!scans.recognisedPages.empty()) dict["recognisedPages"] = scans.recognisedPages;
    if (scans.running) dict["scanReading"] = {{"done", scans.done}, {"total", scans.total}};
    // A marks file too large to read, or one repaired: the page says so where the script opens.
    const std::string& warning = script.engine().loadWarning();
    if (!warning.empty()) dict["warning"] = warning;
    dict["locked"] = script.locked();
    return dict;
}

void addDocumentCalls(CallRows& rows) {
    rows.insert(rows.end(), {{"openDocumentPath", openDocumentPath},
                             {"closeDocument", closeDocument},
                             {"currentDocument", currentDocument},
                             {"renderPage", renderPage},
                             {"searchDocument", searchDocument},
                             {"pageText", pageText},
                             {"textRect", textRect},
                             {"pageLines", pageLines},
                             {"allPageLines", allPageLines},
                             {"setCrop", setCrop},
                             {"reportPage", reportPage}});
}

}  // namespace tallowmark
