#pragma once

// The menu bar as a GMenu with one GAction per item, built from the table in
// model/menu_model. The actions' enabled states and ticks are set from the
// bridge's MenuState whenever it or the shell's own state changes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/model/menu_model.hpp"

namespace tallowmark {

class AppMenu {
public:
    struct Handlers {
        std::function<void(const MenuItem&)> onItem;
        std::function<void(const std::string& path)> onRecent;
        std::function<void()> onClearRecents;
    };

    AppMenu(GtkApplication* app, Handlers handlers);
    ~AppMenu();
    AppMenu(const AppMenu&) = delete;
    AppMenu& operator=(const AppMenu&) = delete;

    GMenuModel* model() const { return G_MENU_MODEL(menubar_); }

    // Enabled states and ticks at once; the recent scripts' existence is
    // looked up on the background pool whenever the list changed, so a slow
    // disk never holds up the main thread during a show.
    void refresh(const MenuState& state, const MenuContext& context, const std::vector<std::string>& recents);
    // Looks again whether the recent scripts exist (the window came to the front).
    void recheckRecents();

private:
    struct Entry {
        AppMenu* owner;
        MenuItem item;
        GSimpleAction* action;
    };
    static void onActivate(GSimpleAction* action, GVariant* parameter, gpointer data);
    void checkRecents(const std::vector<std::string>& recents);
    void rebuildRecents(const std::vector<std::string>& recents, const std::vector<bool>& exists);

    GtkApplication* app_;
    Handlers handlers_;
    GMenu* menubar_ = nullptr;
    GMenu* recentItems_ = nullptr;
    std::vector<std::unique_ptr<Entry>> entries_;
    GSimpleAction* openRecent_ = nullptr;
    GSimpleAction* missingRecent_ = nullptr;
    GSimpleAction* clearRecents_ = nullptr;
    std::vector<std::string> recents_;  // the list last asked for
    std::uint64_t recentsGeneration_ = 0;
    // Background checks post back only while the menu lives.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tallowmark
