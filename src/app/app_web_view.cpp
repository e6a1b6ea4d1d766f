#include "app/app_web_view.hpp"

#include "app/model/launch_rules.hpp"
#include "bridge/page_image_server.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

// The page's reply may come from a later turn (a render answers from the
// background pool through the main queue), so the reply object and the value
// context it answers in are kept until then.
struct PendingReply {
    PendingReply(WebKitScriptMessageReply* r, JSCContext* c)
        : reply(webkit_script_message_reply_ref(r)), context(JSC_CONTEXT(g_object_ref(c))) {}
    ~PendingReply() {
        webkit_script_message_reply_unref(reply);
        g_object_unref(context);
    }
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;

    void deliver(const std::string& jsonText, const std::optional<std::string>& error) {
        if (error) {
            webkit_script_message_reply_return_error_message(reply, error->c_str());
            return;
        }
        JSCValue* value = jsc_value_new_from_json(context, jsonText.c_str());
        if (!value) value = jsc_value_new_null(context);
        webkit_script_message_reply_return_value(reply, value);
        g_object_unref(value);
    }

    WebKitScriptMessageReply* reply;
    JSCContext* context;
};

bool onMainThread() { return g_main_context_is_owner(g_main_context_default()); }

// Which AppWebView a WebKitWebView belongs to, for the image scheme's requests.
constexpr const char* ownerKey = "tallowmark-app-web-view";

void refuseImage(WebKitURISchemeRequest* request, const std::string& why) {
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, why.c_str());
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

void answerImage(WebKitURISchemeRequest* request, const PageImageAnswer& answer) {
    if (!answer.image) return refuseImage(request, answer.error);
    // The bytes stay the cache's: the stream keeps the image alive until WebKit has read it.
    const std::vector<std::uint8_t>& data = answer.image->bytes;
    GBytes* bytes = g_bytes_new_with_free_func(
        data.data(), data.size(), +[](gpointer keep) { delete static_cast<std::shared_ptr<const EncodedImage>*>(keep); },
        new std::shared_ptr<const EncodedImage>(answer.image));
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(data.size()));
    webkit_uri_scheme_response_set_content_type(response, answer.image->mimeType.c_str());
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
    g_bytes_unref(bytes);
}

}  // namespace

AppWebView::AppWebView(std::weak_ptr<NativeBridge> bridge, const std::vector<std::string>& userScripts)
    : bridge_(std::move(bridge)) {
    manager_ = webkit_user_content_manager_new();
    for (const std::string& name : NativeBridge::callNames()) {
        if (!webkit_user_content_manager_register_script_message_handler_with_reply(manager_, name.c_str(),
                                                                                    nullptr)) {
            logSystem("viestinkasittelijaa ei voitu rekisteroida: " + name);
            continue;
        }
        handlers_.push_back(std::make_unique<Handler>(Handler{this, name}));
        const std::string signal = "script-message-with-reply-received::" + name;
        handlerIds_.push_back(g_signal_connect(manager_, signal.c_str(), G_CALLBACK(onMessage), handlers_.back().get()));
    }
    for (const std::string& source : userScripts) addUserScript(source);
    addUserScript("window.__tallowmarkPageImages = '" + std::string(pageImageScheme) + "://" +
                  std::string(pageImageHost) + "/';");
    if (auto trace = traceUserScript(g_getenv("TALLOWMARK_TRACE"))) addUserScript(*trace);

    // The page fetches and decodes each page image before it shows it; the
    // <img> it then shows takes that one only from the memory cache, which
    // the document-viewer model turns off (every image went over twice). The
    // document-browser model keeps the smallest memory cache that is on; its
    // byte bound, and an address of its own for each request, keep it from
    // holding the images of every page the show has passed.
    webkit_web_context_set_cache_model(webkit_web_context_get_default(), WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    // Page images travel as bytes by address, not as Base64 text in a reply
    // (encoding, parsing and decoding that text cost more than drawing the
    // page). One scheme for the process, served for every view of ours.
    static const bool schemeRegistered = [] {
        WebKitWebContext* context = webkit_web_context_get_default();
        const std::string scheme(pageImageScheme);
        webkit_web_context_register_uri_scheme(context, scheme.c_str(), onPageImageRequest, nullptr, nullptr);
        // Local: only local pages (the page's own file) may name it at all.
        webkit_security_manager_register_uri_scheme_as_local(webkit_web_context_get_security_manager(context),
                                                             scheme.c_str());
        return true;
    }();
    (void)schemeRegistered;
    GtkWidget* widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager_, nullptr));
    WebKitWebView* view = WEBKIT_WEB_VIEW(widget);
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    // The page draws its own background; a transparent view avoids a white
    // flash on the dark themes before the first frame.
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(view, &clear);
    g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    // A crashed page would leave the operator a blank window mid-show; the
    // page comes back with the engine's state, which lives on this side.
    g_signal_connect(view, "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView* v, WebKitWebProcessTerminationReason reason, gpointer) {
                         if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
                         logSystem("sivun prosessi paattyi odottamatta, sivu ladataan uudelleen");
                         webkit_web_view_reload(v);
                     }),
                     this);
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);
    g_weak_ref_init(&view_, view);
    g_object_set_data(G_OBJECT(view), ownerKey, this);
}

AppWebView::~AppWebView() {
    for (gulong id : handlerIds_) g_signal_handler_disconnect(manager_, id);
    if (WebKitWebView* view = this->view()) {
        g_signal_handlers_disconnect_by_data(view, this);
        g_object_set_data(G_OBJECT(view), ownerKey, nullptr);
        g_object_unref(view);
    }
    g_weak_ref_clear(&view_);
    g_object_unref(manager_);
}

void AppWebView::addUserScript(const std::string& source) {
    WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager_, script);
    webkit_user_script_unref(script);
}

GtkWidget* AppWebView::widget() const {
    WebKitWebView* view = this->view();
    if (!view) return nullptr;
    g_object_unref(view);  // the widget tree keeps it alive; callers only borrow it
    return GTK_WIDGET(view);
}

WebKitWebView* AppWebView::view() const { return WEBKIT_WEB_VIEW(g_weak_ref_get(const_cast<GWeakRef*>(&view_))); }

void AppWebView::loadPage(const std::string& path) {
    WebKitWebView* view = this->view();
    if (!view) return;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri) webkit_web_view_load_uri(view, uri);
    g_free(uri);
    g_object_unref(view);
}

void AppWebView::reload() {
    if (WebKitWebView* view = this->view()) {
        webkit_web_view_reload(view);
        g_object_unref(view);
    }
}

void AppWebView::deliverEvents(const std::string& batch, std::function<void()> taken) {
    WebKitWebView* view = this->view();
    if (!view) {
        postToMain(std::move(taken));
        return;
    }
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&arguments, "{sv}", "batch", g_variant_new_string(batch.c_str()));
    // The same body every time: the web process compiles it once, where a
    // script per event made it keep every source it was ever sent.
    webkit_web_view_call_async_javascript_function(
        view, BridgeEvents::hookBody, -1, g_variant_builder_end(&arguments), nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(data));
            GError* error = nullptr;
            if (JSCValue* value =
                    webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error))
                g_object_unref(value);
            g_clear_error(&error);
            (*fn)();
        },
        new std::function<void()>(std::move(taken)));
    g_object_unref(view);
}

void AppWebView::evaluate(const std::string& script, std::function<void()> done) {
    WebKitWebView* view = this->view();
    if (!view) {
        if (done) postToMain(std::move(done));
        return;
    }
    auto* callback = done ? new std::function<void()>(std::move(done)) : nullptr;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        callback ? +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* fn = static_cast<std::function<void()>*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr))
                g_object_unref(value);
            (*fn)();
            delete fn;
        }
                 : nullptr,
        callback);
    g_object_unref(view);
}

gboolean AppWebView::onMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply, gpointer data) {
    auto* handler = static_cast<Handler*>(data);
    AppWebView* self = handler->owner;
    auto pending = std::make_shared<PendingReply>(reply, jsc_value_get_context(value));
    ReplyHandle handle = ReplyHandle::encoded([pending](const std::string& text, const std::optional<std::string>& error) {
        if (onMainThread()) pending->deliver(text, error);
        else postToMain([pending, text, error] { pending->deliver(text, error); });
    });

    auto bridge = self->bridge_.lock();
    if (!bridge) {
        handle.fail("ei yhteytta");
        return TRUE;
    }
    BridgeCall call;
    call.name = handler->name;
    gchar* json = jsc_value_to_json(value, 0);
    call.body = (json ? parseJson(json) : std::nullopt).value_or(Json::array());
    g_free(json);
    // WebKitGTK does not say which frame posted. The page has no frames of its
    // own and the guard keeps every frame on the page's files, so the call is
    // taken as the main frame's, at the view's current address.
    if (WebKitWebView* view = self->view()) {
        if (const gchar* uri = webkit_web_view_get_uri(view)) call.frameURL = uri;
        g_object_unref(view);
    }
    call.mainFrame = true;
    bridge->receive(call, std::move(handle));
    // Handled: the reply is given through the handle, now or later.
    return TRUE;
}

void AppWebView::onPageImageRequest(WebKitURISchemeRequest* request, gpointer) {
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    auto* self = view ? static_cast<AppWebView*>(g_object_get_data(G_OBJECT(view), ownerKey)) : nullptr;
    const gchar* page = view ? webkit_web_view_get_uri(view) : nullptr;
    const std::shared_ptr<NativeBridge> bridge = self ? self->bridge_.lock() : nullptr;
    // Only for the app's own page as the guard allows it: a view of ours that
    // was somehow led elsewhere gets no script pages. (A top-level navigation
    // to the scheme never gets here: the guard refuses every scheme but file
    // and about:blank.)
    if (!bridge || !self->guard_ || !self->guard_->allows(page ? std::optional<std::string>(page) : std::nullopt)) {
        logSystem(std::string("sivukuva estetty: ") + webkit_uri_scheme_request_get_uri(request));
        return refuseImage(request, "ei sallittu");
    }
    g_object_ref(request);
    // The technician's trace: how long each image took on this side, and its size.
    const bool trace = g_strcmp0(g_getenv("TALLOWMARK_TRACE"), "1") == 0;
    const gint64 asked = g_get_monotonic_time();
    servePageImage(bridge->documents(), parsePageImageURL(webkit_uri_scheme_request_get_uri(request)),
                   [request, trace, asked](PageImageAnswer answer) {
                       if (trace)
                           logSystem("sivukuva " + std::string(webkit_uri_scheme_request_get_uri(request)) + " " +
                                     std::to_string((g_get_monotonic_time() - asked) / 1000) + " ms " +
                                     std::to_string(answer.image ? answer.image->bytes.size() : 0) + " B");
                       answerImage(request, answer);
                       g_object_unref(request);
                   });
}

gboolean AppWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* self = static_cast<AppWebView*>(data);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const gchar* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    const std::optional<std::string> url = uri ? std::optional<std::string>(uri) : std::nullopt;
    if (self->guard_ && self->guard_->allows(url)) {
        webkit_policy_decision_use(decision);
    } else {
        logSystem("navigointi estetty: " + url.value_or("?"));
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

}  // namespace tallowmark
