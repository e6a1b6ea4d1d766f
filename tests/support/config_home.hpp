#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.hpp"

namespace tallowmark::testing {

// GLib reads XDG_CONFIG_HOME once per process: including this header points it at a scratch folder.
class ConfigHome : public ::testing::Environment {
public:
    void SetUp() override { g_setenv("XDG_CONFIG_HOME", dir_.path().c_str(), TRUE); }
    // Where the program reads its settings: GLib's folder, fixed at its first use, whatever a test set since.
    static std::filesystem::path folder() { return std::filesystem::path(g_get_user_config_dir()) / "TALLOWMARK"; }
    static std::filesystem::path settingsFile() { return folder() / "settings.json"; }

private:
    TempDir dir_;
};
[[maybe_unused]] inline auto* const configHome = ::testing::AddGlobalTestEnvironment(new ConfigHome);

}  // namespace tallowmark::testing
