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

#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/native_bridge.hpp"
#include "bridge/navigation_guard.hpp"
#include "bridge/page_image_server.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "page_host_http.hpp"

namespace tallowmark::page_host {
namespace {

constexpr std::size_t maxRequestBytes = 16u << 20;
// Where the page finds its page images here; the app's image scheme in the app.
constexpr std::string_view pageImagePrefix = "/page-images/";

// A page image: cacheable, unlike the host's other answers, so the <img>
// the page shows is the one it already fetched and decoded.
std::string imageResponse(const EncodedImage& image) {
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: " + image.mimeType +
                      "\r\nContent-Length: " + std::to_string(image.bytes.size()) +
                      "\r\nCache-Control: private, max-age=3600\r\nConnection: close\r\n\r\n";
    out.append(reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size());
    return out;
}

// The shim, and the page's policy opened to images from the host itself.
std::string servedPage(const std::string& page) {
    std::string out = insertShim(page, shimScript(NativeBridge::callNames()) + "\nwindow.__tallowmarkPageImages = '" +
                                           std::string(pageImagePrefix) + "';");
    if (const std::size_t at = out.find("img-src "); at != std::string::npos) out.insert(at + 8, "'self' ");
    return out;
}

class Host;

// One request on one connection; deletes itself once answered or broken.
struct Connection {
    Host* host;
    GSocketConnection* socket;
    std::string received;
    std::string answer;
    char chunk[16384];

    Connection(Host* h, GSocketConnection* s) : host(h), socket(G_SOCKET_CONNECTION(g_object_ref(s))) {}
    ~Connection() {
        g_io_stream_close(G_IO_STREAM(socket), nullptr, nullptr);
        g_object_unref(socket);
    }
    void readMore();
    void respond(std::string response);
};

class Host final : public EventTransport {
public:
    Host(std::string page, std::string pageURL, std::shared_ptr<NativeBridge> bridge)
        : page_(std::move(page)), pageURL_(std::move(pageURL)), bridge_(std::move(bridge)) {}

    // The bridge's batches wait here until the page's next poll takes them;
    // the bridge hears they were taken only then, as from a web view.
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        events_.push_back(batch);
        taken_.push_back(std::move(taken));
        if (waiter_) flushEvents(std::exchange(waiter_, nullptr));
    }

    void handle(Connection* c, const HttpRequest& request) {
        if (request.method == "GET" && (request.path == "/" || request.path == "/index.html")) {
            c->respond(httpResponse(200, "text/html; charset=utf-8", page_));
        } else if (request.method == "GET" && request.path == "/events") {
            // A page that reloaded leaves its old poll behind; it gets nothing.
            if (waiter_) std::exchange(waiter_, nullptr)->respond(httpResponse(200, "application/json", "[]"));
            if (events_.empty()) waiter_ = c;
            else flushEvents(c);
        } else if (request.method == "GET" && request.path.starts_with(pageImagePrefix)) {
            const std::string_view path = std::string_view(request.path).substr(pageImagePrefix.size() - 1);
            servePageImage(bridge_->documents(), parsePageImagePath(path), [c](PageImageAnswer answer) {
                if (answer.image) c->respond(imageResponse(*answer.image));
                else c->respond(httpResponse(404, "text/plain", answer.error));
            });
        } else if (request.method == "POST" && request.path == "/call") {
            call(c, request.body);
        } else {
            c->respond(httpResponse(404, "text/plain", "not found"));
        }
    }

    void forget(Connection* c) {
        if (waiter_ == c) waiter_ = nullptr;
    }

private:
    void flushEvents(Connection* c) {
        const std::string body = dumpJson(Json(events_), -1);
        events_.clear();
        c->respond(httpResponse(200, "application/json", body));
        for (auto& taken : std::exchange(taken_, {})) postToMain(std::move(taken));
    }

    void call(Connection* c, const std::string& body) {
        const std::optional<PageCall> parsed = parsePageCall(body);
        if (!parsed) {
            c->respond(httpResponse(400, "application/json", callReplyBody("", "malformed call")));
            return;
        }
        ReplyHandle reply = ReplyHandle::encoded([c](const std::string& text, const std::optional<std::string>& error) {
            std::string response = httpResponse(200, "application/json", callReplyBody(text, error));
            // Renders answer from the background pool; sockets stay on the main thread.
            if (g_main_context_is_owner(g_main_context_default())) c->respond(std::move(response));
            else postToMain([c, response = std::move(response)]() mutable { c->respond(std::move(response)); });
        });
        bridge_->receive(BridgeCall{parsed->name, parsed->args, pageURL_, true}, std::move(reply));
    }

    std::string page_;
    std::string pageURL_;
    std::shared_ptr<NativeBridge> bridge_;
    std::vector<std::string> events_;
    std::vector<std::function<void()>> taken_;
    Connection* waiter_ = nullptr;
};

void Connection::readMore() {
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(socket));
    g_input_stream_read_async(
        in, chunk, sizeof chunk, G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* self = static_cast<Connection*>(data);
            const gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, nullptr);
            if (n <= 0) {
                self->host->forget(self);
                delete self;
                return;
            }
            self->received.append(self->chunk, static_cast<std::size_t>(n));
            const ParseOutcome outcome = parseRequest(self->received, maxRequestBytes);
            switch (outcome.kind) {
                case ParseOutcome::Kind::incomplete: self->readMore(); break;
                case ParseOutcome::Kind::bad: self->respond(httpResponse(400, "text/plain", outcome.error)); break;
                case ParseOutcome::Kind::complete: self->host->handle(self, outcome.request); break;
            }
        },
        this);
}

void Connection::respond(std::string response) {
    answer = std::move(response);
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(socket));
    g_output_stream_write_all_async(
        out, answer.data(), answer.size(), G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, nullptr);
            delete static_cast<Connection*>(data);
        },
        this);
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
    const std::optional<std::string> page = readFile(pagePath);
    if (!page) {
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
    auto bridge = NativeBridge::create(std::move(settings), std::make_shared<NoUpdates>("page-host"));
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    auto host = std::make_shared<Host>(servedPage(*page), pageURL, bridge);
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

    GSocketService* service = g_socket_service_new();
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* address = g_inet_socket_address_new(loopback, static_cast<guint16>(port));
    GSocketAddress* bound = nullptr;
    GError* error = nullptr;
    const bool listening = g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM,
                                                         G_SOCKET_PROTOCOL_TCP, nullptr, &bound, &error);
    g_object_unref(address);
    g_object_unref(loopback);
    if (!listening) {
        std::fprintf(stderr, "cannot listen: %s\n", error ? error->message : "?");
        g_clear_error(&error);
        g_object_unref(service);
        return 1;
    }
    const unsigned boundPort = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    g_object_unref(bound);
    g_signal_connect(service, "incoming",
                     G_CALLBACK(+[](GSocketService*, GSocketConnection* socket, GObject*, gpointer data) -> gboolean {
                         (new Connection(static_cast<Host*>(data), socket))->readMore();
                         return TRUE;
                     }),
                     host.get());
    g_socket_service_start(service);
    std::printf("PORT %u\n", boundPort);
    std::fflush(stdout);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const auto quit = +[](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    g_main_loop_run(loop);
    g_socket_service_stop(service);
    g_socket_listener_close(G_SOCKET_LISTENER(service));
    g_object_unref(service);
    g_main_loop_unref(loop);
    drainMainQueue();
    return 0;
}

}  // namespace
}  // namespace tallowmark::page_host

int main(int argc, char** argv) { return tallowmark::page_host::run(argc, argv); }
