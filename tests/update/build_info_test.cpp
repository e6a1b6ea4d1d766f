#include "update/build_info.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "support/mode_run.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::update {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(BuildInfo, TheStampIsTheCommitDayAndIdOrZeroAndAgreesWithTheBuildTime) {
    const BuildInfo& build = runningBuild();
    EXPECT_EQ(build.identifier, "org.tallowmark.Tallowmark");
    ASSERT_TRUE(build.buildTime.has_value());
    EXPECT_GT(*build.buildTime, 1.7e9);  // after 2023: a time in seconds, not days or milliseconds
    if (build.stamp == "0") GTEST_SKIP() << "built outside git";
    ASSERT_TRUE(std::regex_match(build.stamp, std::regex("[0-9]{8}-[0-9a-f]{7}"))) << build.stamp;
    // Both come from the same commit, so the day is the build time's day in UTC.
    const std::time_t seconds = static_cast<std::time_t>(*build.buildTime);
    std::tm day{};
    gmtime_r(&seconds, &day);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &day);
    EXPECT_EQ(build.stamp.substr(0, 8), text);
}

TEST(BuildInfo, VersionModePrintsTheStampAloneBeforeAnyOtherMode) {
    TempDir dir;
    const std::string demo = (dir / "Demo").string();
    const std::vector<std::vector<std::string>> rows = {
        {"--version"},
        {"--make-demo", demo, "--version"},
        {"--render-page", "missing.pdf", "1", (dir / "x.png").string(), "--version"},
    };
    for (const auto& arguments : rows) {
        SCOPED_TRACE(arguments.front());
        const auto [status, output] = testing::runMode(arguments);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(output, runningBuild().stamp + "\n");
        EXPECT_EQ(dir.entries(), 0) << "no other mode ran";
    }
}

TEST(BuildInfo, BundleOfExecutableNeedsTheWholeLayoutAndInfoJson) {
    TempDir dir;
    struct Row {
        std::string what;
        std::string executable;  // relative to the temporary folder
        std::string infoJson;    // made when not empty
        bool isBundle;
    };
    const std::vector<Row> rows = {
        {"laid out", "A/TALLOWMARK.app/Contents/bin/tallowmark", "A/TALLOWMARK.app/Contents/Info.json", true},
        {"without Info.json", "B/TALLOWMARK.app/Contents/bin/tallowmark", "", false},
        {"Info.json a folder", "C/TALLOWMARK.app/Contents/bin/tallowmark", "C/TALLOWMARK.app/Contents/Info.json/", false},
        {"another folder name", "D/Other.app/Contents/bin/tallowmark", "D/Other.app/Contents/Info.json", false},
        {"a plain install", "E/usr/bin/tallowmark", "E/usr/Info.json", false},
        {"no Contents", "F/TALLOWMARK.app/bin/tallowmark", "F/TALLOWMARK.app/Info.json", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path executable = dir / row.executable;
        fs::create_directories(executable.parent_path());
        testing::writeText(executable, "program");
        if (!row.infoJson.empty()) {
            if (row.infoJson.back() == '/') {
                fs::create_directories(dir / row.infoJson);
            } else {
                testing::writeText(dir / row.infoJson, "{}");
            }
        }
        const std::optional<fs::path> bundle = bundleOfExecutable(executable);
        ASSERT_EQ(bundle.has_value(), row.isBundle);
        if (bundle) {
            EXPECT_EQ(*bundle, dir / "A" / "TALLOWMARK.app");
            EXPECT_EQ(bundleExecutable(*bundle), executable);
        }
    }
    // The test program itself runs from the build tree, not from a bundle.
    EXPECT_EQ(runningBundle(), std::nullopt);
}

}  // namespace
}  // namespace tallowmark::update
