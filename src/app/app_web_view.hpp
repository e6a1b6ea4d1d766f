#pragma once

// One web view showing the page: the bridge's call handlers, the scripts run
// at document start, the navigation guard and the event path into the page.
// The main window and the confidence monitor each own one.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <webkit/webkit.h>

#include "bridge/bridge_interfaces.hpp"
#include "bridge/native_bridge.hpp"
#include "bridge/navigation_guard.hpp"

namespace tallowmark {

class AppWebView final : public EventTransport {
public:
    // `userScripts` run at document start in the main frame, in order.
    AppWebView(std::weak_ptr<NativeBridge> bridge, const std::vector<std::string>& userScripts);
    ~AppWebView() override;
    AppWebView(const AppWebView&) = delete;
    AppWebView& operator=(const AppWebView&) = delete;

    GtkWidget* widget() const;
    // Null once GTK has destroyed the view.
    WebKitWebView* view() const;

    // Without a guard every navigation is refused, the page's own included.
    void setGuard(std::shared_ptr<const PageGuard> guard) { guard_ = std::move(guard); }
    // Takes effect from the next load.
    void addUserScript(const std::string& source);
    // Loads the page file; the guard keeps later navigation inside its folder.
    void loadPage(const std::string& path);
    void reload();
    // Runs `script` in the page; `done` runs on the main thread once it settled
    // (also when it failed, and when the view is gone).
    void evaluate(const std::string& script, std::function<void()> done);

    void deliverEvents(const std::string& batch, std::function<void()> taken) override;

private:
    static gboolean onMessage(WebKitUserContentManager* manager, JSCValue* value, WebKitScriptMessageReply* reply,
                          gpointer data);
    static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    // The page images the page names by address (bridge/page_image_server.hpp).
    static void onPageImageRequest(WebKitURISchemeRequest* request, gpointer data);

    std::weak_ptr<NativeBridge> bridge_;
    std::shared_ptr<const PageGuard> guard_;
    GWeakRef view_;
    // One per handler, so the signal tells which call name it was.
    struct Handler {
        AppWebView* owner;
        std::string name;
    };
    std::vector<std::unique_ptr<Handler>> handlers_;
    std::vector<gulong> handlerIds_;
    WebKitUserContentManager* manager_ = nullptr;
};

}  // namespace tallowmark
