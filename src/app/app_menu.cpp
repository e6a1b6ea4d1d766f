#include "app/app_menu.hpp"

#include <filesystem>
#include <memory>
#include <set>

#include "core/main_queue.hpp"
#include "core/work_pool.hpp"

namespace tallowmark {

namespace {

GSimpleAction* addAction(GtkApplication* app, const char* name, const GVariantType* parameter, bool stateful) {
    GSimpleAction* action = stateful ? g_simple_action_new_stateful(name, parameter, g_variant_new_boolean(FALSE))
                                     : g_simple_action_new(name, parameter);
    g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
    return action;
}

}  // namespace

AppMenu::AppMenu(GtkApplication* app, Handlers handlers) : app_(app), handlers_(std::move(handlers)) {
    menubar_ = g_menu_new();
    recentItems_ = g_menu_new();
    std::set<std::string> added;
    for (const MenuDefinition& definition : mainMenu("TALLOWMARK")) {
        GMenu* menu = g_menu_new();
        for (const MenuSection& section : definition.sections) {
            GMenu* part = g_menu_new();
            for (const MenuItem& item : section.items) {
                const std::string name = actionName(item);
                if (item.role == MenuRole::recentScripts) {
                    g_menu_append_submenu(part, item.label.c_str(), G_MENU_MODEL(recentItems_));
                    continue;
                }
                const std::string detailed = "app." + name;
                g_menu_append(part, item.label.c_str(), detailed.c_str());
                if (!added.insert(name).second) continue;
                const bool ticks = validateMenuItem(item, MenuState{}, MenuContext{true, false}).checked.has_value();
                auto entry = std::make_unique<Entry>(Entry{this, item, addAction(app, name.c_str(), nullptr, ticks)});
                g_signal_connect(entry->action, "activate", G_CALLBACK(onActivate), entry.get());
                if (!item.keys.empty()) {
                    std::vector<const char*> keys;
                    for (const std::string& key : item.keys) keys.push_back(key.c_str());
                    keys.push_back(nullptr);
                    gtk_application_set_accels_for_action(app, detailed.c_str(), keys.data());
                }
                entries_.push_back(std::move(entry));
            }
            g_menu_append_section(menu, nullptr, G_MENU_MODEL(part));
            g_object_unref(part);
        }
        g_menu_append_submenu(menubar_, definition.title.c_str(), G_MENU_MODEL(menu));
        g_object_unref(menu);
    }

    // Paths are bytes: a name that is not UTF-8 still opens.
    openRecent_ = addAction(app, "open-recent", G_VARIANT_TYPE_BYTESTRING, false);
    g_signal_connect(openRecent_, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* p, gpointer data) {
                         auto* self = static_cast<AppMenu*>(data);
                         if (p && self->handlers_.onRecent) self->handlers_.onRecent(g_variant_get_bytestring(p));
                     }),
                     this);
    // Items of files that are gone point here: a disabled action greys them out.
    missingRecent_ = addAction(app, "open-missing-recent", G_VARIANT_TYPE_BYTESTRING, false);
    g_simple_action_set_enabled(missingRecent_, FALSE);
    clearRecents_ = addAction(app, "clear-recents", nullptr, false);
    g_signal_connect(clearRecents_, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
                         auto* self = static_cast<AppMenu*>(data);
                         if (self->handlers_.onClearRecents) self->handlers_.onClearRecents();
                     }),
                     this);
    rebuildRecents({}, {});
}

AppMenu::~AppMenu() {
    for (const auto& entry : entries_) {
        g_signal_handlers_disconnect_by_data(entry->action, entry.get());
        g_action_map_remove_action(G_ACTION_MAP(app_), g_action_get_name(G_ACTION(entry->action)));
        g_object_unref(entry->action);
    }
    for (GSimpleAction* action : {openRecent_, missingRecent_, clearRecents_}) {
        g_signal_handlers_disconnect_by_data(action, this);
        g_action_map_remove_action(G_ACTION_MAP(app_), g_action_get_name(G_ACTION(action)));
        g_object_unref(action);
    }
    g_object_unref(recentItems_);
    g_object_unref(menubar_);
}

void AppMenu::onActivate(GSimpleAction*, GVariant*, gpointer data) {
    auto* entry = static_cast<Entry*>(data);
    if (entry->owner->handlers_.onItem) entry->owner->handlers_.onItem(entry->item);
}

void AppMenu::refresh(const MenuState& state, const MenuContext& context, const std::vector<std::string>& recents) {
    for (const auto& entry : entries_) {
        const MenuItemState wanted = validateMenuItem(entry->item, state, context);
        if (g_action_get_enabled(G_ACTION(entry->action)) != gboolean(wanted.enabled))
            g_simple_action_set_enabled(entry->action, wanted.enabled);
        if (wanted.checked) {
            GVariant* current = g_action_get_state(G_ACTION(entry->action));
            const bool ticked = current && g_variant_get_boolean(current);
            if (current) g_variant_unref(current);
            if (ticked != *wanted.checked) g_simple_action_set_state(entry->action, g_variant_new_boolean(*wanted.checked));
        }
    }
    g_simple_action_set_enabled(openRecent_, context.webViewExists);
    g_simple_action_set_enabled(clearRecents_, context.webViewExists && clearRecentsEnabled(recents));
    if (recents != recents_) checkRecents(recents);
}

void AppMenu::recheckRecents() { checkRecents(recents_); }

void AppMenu::checkRecents(const std::vector<std::string>& recents) {
    recents_ = recents;
    const std::uint64_t generation = ++recentsGeneration_;
    runInBackground([recents, generation, alive = std::weak_ptr<int>(alive_), self = this] {
        std::vector<bool> exists;
        for (const std::string& path : recents) {
            std::error_code error;
            exists.push_back(std::filesystem::exists(path, error));
        }
        postToMain([recents, exists = std::move(exists), generation, alive, self] {
            // A newer list may have been asked for meanwhile; only its answer counts.
            if (alive.expired() || generation != self->recentsGeneration_) return;
            self->rebuildRecents(recents, exists);
        });
    });
}

void AppMenu::rebuildRecents(const std::vector<std::string>& recents, const std::vector<bool>& exists) {
    g_menu_remove_all(recentItems_);
    GMenu* files = g_menu_new();
    for (std::size_t i = 0; i < recents.size(); ++i) {
        gchar* label = g_filename_display_basename(recents[i].c_str());
        GMenuItem* item = g_menu_item_new(label, nullptr);
        g_free(label);
        const char* action = exists[i] ? "app.open-recent" : "app.open-missing-recent";
        g_menu_item_set_action_and_target_value(item, action, g_variant_new_bytestring(recents[i].c_str()));
        g_menu_append_item(files, item);
        g_object_unref(item);
    }
    if (!recents.empty()) g_menu_append_section(recentItems_, nullptr, G_MENU_MODEL(files));
    g_object_unref(files);
    GMenu* clear = g_menu_new();
    g_menu_append(clear, "Clear Menu", "app.clear-recents");
    g_menu_append_section(recentItems_, nullptr, G_MENU_MODEL(clear));
    g_object_unref(clear);
}

}  // namespace tallowmark
