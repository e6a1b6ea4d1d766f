// The page against the real core, without GTK, on 127.0.0.1 only: the built page with a shim that
// carries each native call to the bridge over HTTP and its events back by long polling.
//
//   tallowmark_page_host [--panels DIR] PAGE PORT [SCRIPT.pdf]
//
// With --panels the panels answer from files in DIR: a save panel DIR/save-path, else
// DIR/<proposed name>.pdf; an open panel DIR/open-path (none: cancelled); a confirmation the
// button in DIR/confirm (none: 0); a password DIR/password; a reveal appends to DIR/revealed.
// PORT 0 picks a free one, printed as "PORT n". Settings live in a file under an absolute
// XDG_CONFIG_HOME, as the app's do, else only in memory.

#include <glib-unix.h>
#include <libsoup/soup.h>

#include <algorithm>
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

// Answers a request now, or a paused one later; only page images may be cached.
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

    // A batch waits for the page's next poll; only then does the bridge hear it was taken.
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

// The operator's answers from the test's files; panels answer later, as real ones do.
class ScriptedDialogs final : public BridgeDialogs {
public:
    using Done = std::function<void(std::optional<std::string>)>;
    explicit ScriptedDialogs(std::filesystem::path dir) : dir_(std::move(dir)) {}

    void openPanel(const OpenPanelRequest&, Done done) override { later(std::move(done), line("open-path")); }
    void savePanel(const SavePanelRequest& request, Done done) override {
        later(std::move(done), line("save-path").value_or((dir_ / (request.proposedName + ".pdf")).string()));
    }
    int confirm(const AlertRequest&) override { return std::atoi(line("confirm").value_or("0").c_str()); }
    void askPassword(const PasswordRequest&, Done done) override { later(std::move(done), line("password")); }
    void reveal(const std::vector<std::string>& paths, Done done) override {
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
        return text.empty() ? std::nullopt : std::optional(text);
    }
    static void later(Done done, std::optional<std::string> path) {
        postToMain([done = std::move(done), path = std::move(path)]() { done(path); });
    }

    std::filesystem::path dir_;
};

int run(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::optional<std::filesystem::path> panels;
    if (const auto at = std::find(args.begin() + 1, args.end(), std::string_view("--panels")); args.end() - at > 1) {
        panels = std::filesystem::absolute(*(at + 1));
        args.erase(at, at + 2);
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    const auto fail = [](int status, const std::string& message) {
        std::fputs(message.c_str(), stderr);
        return status;
    };
    if (argc < 3 || argc > 4) return fail(2, "usage: " + std::string(argv[0]) + " [--panels DIR] PAGE PORT [SCRIPT.pdf]\n");
    const std::string pagePath = std::filesystem::absolute(argv[1]).string();
    gchar* page = nullptr;
    gsize pageSize = 0;
    if (!g_file_get_contents(pagePath.c_str(), &page, &pageSize, nullptr))
        return fail(1, "cannot read the page " + pagePath + "\n");
    char* end = nullptr;
    const long port = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || port < 0 || port > 65535) return fail(2, "bad port " + std::string(argv[2]) + "\n");

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
    // Follower screens are served the same page, as the program serves them its own.
    bridge->share().setPageFile(pagePath);
    auto host = std::make_shared<Host>(servedPage({page, pageSize}), pageURL, bridge);
    g_free(page);
    bridge->setWebView(host);
    const auto dialogs = panels ? std::make_shared<ScriptedDialogs>(*panels) : nullptr;
    if (dialogs) bridge->setDialogs(dialogs);
    if (argc == 4 && !bridge->openDocument(argv[3])) return fail(1, "cannot open the script " + std::string(argv[3]) + "\n");

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
