// The page against the real core, without GTK: serves the built page on the
// loopback with a shim in front of it that carries each native call to the
// bridge over HTTP, and carries the bridge's events back by long polling.
// A test tool only; it listens on 127.0.0.1 and nowhere else.
//
//   tallowmark_page_host [--panels DIR] PAGE PORT [SCRIPT.pdf]
//
// With --panels the bridge's panels answer from files in DIR, for the tests:
// a save panel gives the path written in DIR/save-path, else DIR/<proposed
// name>.pdf; an open panel the path in DIR/open-path (cancelled without it);
// a confirmation the button index in DIR/confirm (0 without it); a reveal
// adds its paths to DIR/revealed, one a line.
//
// PORT 0 picks a free one; the port in use is printed as "PORT n". With
// XDG_CONFIG_HOME set to an absolute folder the settings live in a file there,
// as the app's do, and survive a restart; otherwise only in memory.

#include <glib-unix.h>
#include <libsoup/soup.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/native_bridge.hpp"
#include "bridge/navigation_guard.hpp"
#include "bridge/page_image_server.hpp"
#include "core/main_queue.hpp"
#include "page_host_http.hpp"

namespace tallowmark::page_host {
namespace {

constexpr std::size_t maxRequestBytes = 16u << 20;
// Where the page finds its page images here; the app's image scheme in the app.
constexpr std::string_view pageImagePrefix = "/page-images/";

// The shim, and the page's policy opened to images from the host itself.
std::string servedPage(const std::string& page) {
    std::string out = insertShim(page, shimScript(NativeBridge::callNames()) + "\nwindow.__tallowmarkPageImages = '" +
                                           std::string(pageImagePrefix) + "';");
    if (const std::size_t at = out.find("img-src "); at != std::string::npos) out.insert(at + 8, "'self' ");
    return out;
}

// The client of a paused request may be gone by the time it is answered.
bool finished(SoupServerMessage* msg) { return g_object_get_data(G_OBJECT(msg), "finished") != nullptr; }

// Answers a request now, or a paused one later, and lets it go. Only page
// images may be cached, so the <img> shown is the one the page already fetched.
void answer(SoupServerMessage* msg, int status, const char* type, std::string_view body, bool paused,
            bool cacheable = false) {
    if (!finished(msg)) {
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Cache-Control",
                                     cacheable ? "private, max-age=3600" : "no-store");
        soup_server_message_set_status(msg, static_cast<guint>(status), nullptr);
        soup_server_message_set_response(msg, type, SOUP_MEMORY_COPY, body.data(), body.size());
        if (paused) soup_server_message_unpause(msg);
    }
    if (paused) g_object_unref(msg);
}

// Holds a request until it is answered on its own time.
SoupServerMessage* pause(SoupServerMessage* msg) {
    g_object_ref(msg);
    soup_server_message_pause(msg);
    return msg;
}

class Host final : public EventTransport {
public:
    Host(std::string page, std::string pageURL, std::shared_ptr<NativeBridge> bridge)
        : page_(std::move(page)), pageURL_(std::move(pageURL)), bridge_(std::move(bridge)) {}

    // The bridge's batches wait here until the page's next poll takes them;
    // the bridge hears they were taken only then, as from a web view.
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        events_.push_back(batch);
        taken_.push_back(std::move(taken));
        if (waiter_ && !finished(waiter_)) flushEvents(std::exchange(waiter_, nullptr));
    }

    void handle(SoupServerMessage* msg, std::string_view path) {
        const std::string_view method = soup_server_message_get_method(msg);
        if (method == "GET" && (path == "/" || path == "/index.html")) {
            answer(msg, 200, "text/html; charset=utf-8", page_, false);
        } else if (method == "GET" && path == "/events") {
            // A page that reloaded leaves its old poll behind; it gets nothing.
            if (waiter_) answer(std::exchange(waiter_, nullptr), 200, "application/json", "[]", true);
            if (events_.empty()) waiter_ = pause(msg);
            else flushEvents(pause(msg));
        } else if (method == "GET" && path.starts_with(pageImagePrefix)) {
            servePageImage(bridge_->documents(), parsePageImagePath(path.substr(pageImagePrefix.size() - 1)),
                           [msg = pause(msg)](PageImageAnswer image) {
                               if (!image.image) return answer(msg, 404, "text/plain", image.error, true);
                               const auto& bytes = image.image->bytes;
                               answer(msg, 200, image.image->mimeType.c_str(),
                                      {reinterpret_cast<const char*>(bytes.data()), bytes.size()}, true, true);
                           });
        } else if (method == "POST" && path == "/call") {
            SoupMessageBody* body = soup_server_message_get_request_body(msg);
            call(msg, {body->data ? body->data : "", static_cast<std::size_t>(body->length)});
        } else {
            answer(msg, 404, "text/plain", "not found", false);
        }
    }

private:
    void flushEvents(SoupServerMessage* msg) {
        const std::string body = dumpJson(Json(events_), -1);
        events_.clear();
        answer(msg, 200, "application/json", body, true);
        for (auto& taken : std::exchange(taken_, {})) postToMain(std::move(taken));
    }

    void call(SoupServerMessage* msg, std::string_view body) {
        const std::optional<PageCall> parsed = parsePageCall(body);
        if (!parsed) return answer(msg, 400, "application/json", callReplyBody("", "malformed call"), false);
        ReplyHandle reply =
            ReplyHandle::encoded([msg = pause(msg)](const std::string& text, const std::optional<std::string>& error) {
                auto send = [msg, body = callReplyBody(text, error)] { answer(msg, 200, "application/json", body, true); };
                // Renders answer from the background pool; the server stays on the main thread.
                if (g_main_context_is_owner(g_main_context_default())) send();
                else postToMain(send);
            });
        bridge_->receive(BridgeCall{parsed->name, parsed->args, pageURL_, true}, std::move(reply));
    }

    std::string page_;
    std::string pageURL_;
    std::shared_ptr<NativeBridge> bridge_;
    std::vector<std::string> events_;
    std::vector<std::function<void()>> taken_;
    SoupServerMessage* waiter_ = nullptr;
};

// The operator's answers, read from files the test wrote beforehand.
class ScriptedDialogs final : public BridgeDialogs {
public:
    explicit ScriptedDialogs(std::filesystem::path dir) : dir_(std::move(dir)) {}

    void openPanel(const OpenPanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        answerLater(std::move(done), line("open-path"));
    }
    void savePanel(const SavePanelRequest& request, std::function<void(std::optional<std::string>)> done) override {
        std::optional<std::string> path = line("save-path");
        if (!path) path = (dir_ / (request.proposedName + ".pdf")).string();
        answerLater(std::move(done), path);
    }
    int confirm(const AlertRequest&) override {
        const std::optional<std::string> text = line("confirm");
        return text ? std::atoi(text->c_str()) : 0;
    }
    void askPassword(const PasswordRequest&, std::function<void(std::optional<std::string>)> done) override {
        answerLater(std::move(done), line("password"));
    }
    void reveal(const std::vector<std::string>& paths, std::function<void(std::optional<std::string>)> done) override {
        std::ofstream out(dir_ / "revealed", std::ios::app);
        for (const std::string& p : paths) out << p << '\n';
        done(std::nullopt);
    }

private:
    // The first line of DIR/name, without its line end; none when absent or empty.
    std::optional<std::string> line(const char* name) const {
        std::ifstream in(dir_ / name);
        std::string text;
        if (!in || !std::getline(in, text)) return std::nullopt;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
        if (text.empty()) return std::nullopt;
        return text;
    }
    // As a real panel, the answer comes later on the main thread.
    static void answerLater(std::function<void(std::optional<std::string>)> done, std::optional<std::string> path) {
        postToMain([done = std::move(done), path = std::move(path)]() { done(path); });
    }

    std::filesystem::path dir_;
};

int run(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::optional<std::filesystem::path> panels;
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
        if (std::string_view(args[i]) != "--panels") continue;
        panels = std::filesystem::absolute(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s [--panels DIR] PAGE PORT [SCRIPT.pdf]\n", argv[0]);
        return 2;
    }
    const std::string pagePath = std::filesystem::absolute(argv[1]).string();
    gchar* page = nullptr;
    gsize pageSize = 0;
    if (!g_file_get_contents(pagePath.c_str(), &page, &pageSize, nullptr)) {
        std::fprintf(stderr, "cannot read the page %s\n", pagePath.c_str());
        return 1;
    }
    char* end = nullptr;
    const long port = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || port < 0 || port > 65535) {
        std::fprintf(stderr, "bad port %s\n", argv[2]);
        return 2;
    }

    // The page's own guard wants the page's file address from its caller.
    gchar* uri = g_filename_to_uri(pagePath.c_str(), nullptr, nullptr);
    const std::string pageURL = uri ? uri : "";
    g_free(uri);

    const std::optional<std::filesystem::path> settingsFile = settingsFileUnder(g_getenv("XDG_CONFIG_HOME"));
    auto settings = settingsFile ? std::make_shared<SettingsStore>(*settingsFile) : std::make_shared<SettingsStore>(true);
    // The scenarios press GO faster than any operator; the guard has tests of its own.
    if (!g_getenv("TALLOWMARK_PAGE_HOST_GO_GUARD")) {
        Settings unguarded = settings->settings();
        unguarded.goGuardMs = 0;
        settings->setSettings(unguarded);
    }
    auto bridge = NativeBridge::create(std::move(settings), std::make_shared<NoUpdates>("page-host"));
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    auto host = std::make_shared<Host>(servedPage({page, pageSize}), pageURL, bridge);
    g_free(page);
    bridge->setWebView(host);
    std::shared_ptr<ScriptedDialogs> dialogs;
    if (panels) {
        dialogs = std::make_shared<ScriptedDialogs>(*panels);
        bridge->setDialogs(dialogs);
    }
    if (argc == 4 && !bridge->openDocument(argv[3])) {
        std::fprintf(stderr, "cannot open the script %s\n", argv[3]);
        return 1;
    }

    SoupServer* server = soup_server_new(nullptr, nullptr);
    // Before a body is read: a body without a length, or beyond the bound, ends the connection.
    soup_server_add_early_handler(
        server, nullptr,
        +[](SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer) {
            g_signal_connect(msg, "finished", G_CALLBACK(+[](SoupServerMessage* m, gpointer) {
                                 g_object_set_data(G_OBJECT(m), "finished", GINT_TO_POINTER(1));
                             }), nullptr);
            SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
            if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CHUNKED ||
                static_cast<std::size_t>(soup_message_headers_get_content_length(headers)) > maxRequestBytes) {
                soup_server_message_set_status(msg, 413, nullptr);
                GIOStream* connection = soup_server_message_steal_connection(msg);
                g_io_stream_close(connection, nullptr, nullptr);
                g_object_unref(connection);
            }
        },
        nullptr, nullptr);
    soup_server_add_handler(
        server, nullptr,
        +[](SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer host) {
            static_cast<Host*>(host)->handle(msg, path);
        },
        host.get(), nullptr);
    GError* error = nullptr;
    if (!soup_server_listen_local(server, static_cast<guint>(port), SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
        std::fprintf(stderr, "cannot listen: %s\n", error->message);
        g_clear_error(&error);
        g_object_unref(server);
        return 1;
    }
    GSList* uris = soup_server_get_uris(server);
    std::printf("PORT %d\n", g_uri_get_port(static_cast<GUri*>(uris->data)));
    std::fflush(stdout);
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const auto quit = +[](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    g_main_loop_run(loop);
    soup_server_disconnect(server);
    g_object_unref(server);
    g_main_loop_unref(loop);
    drainMainQueue();
    return 0;
}

}  // namespace
}  // namespace tallowmark::page_host

int main(int argc, char** argv) { return tallowmark::page_host::run(argc, argv); }
