#include "update/package_archive.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"
#include "zip_bytes.hpp"

namespace tallowmark::update {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(PackageArchive, RefusesWhatCouldEscapeOrFillTheDiskAndWritesNothingOutside) {
    TempDir dir;
    const std::string outsideAbsolute = (dir / "outside" / "absolute").string();
    struct Row {
        std::string what;
        std::vector<ZipEntry> entries;
        std::string reason;
        UnpackLimits limits{};
        // Instead of the entries: the "zip" is a folder, or plain text.
        std::function<void(const fs::path&)> makeZip = nullptr;
    };
    const std::string out = "the package has a link that points outside: ", dotdot = "the package has a path with \"..\": ";
    const std::vector<Row> rows = {
        {"absolute path", {folder("TALLOWMARK.app/"), file(outsideAbsolute, "x")},
         "the package has an absolute path: " + outsideAbsolute},
        {"dot-dot at the front", {file("../outside/evil", "x")}, dotdot + "../outside/evil"},
        {"dot-dot in the middle", {file("TALLOWMARK.app/../../outside/evil", "x")}, dotdot + "TALLOWMARK.app/../../outside/evil"},
        {"link pointing out", {link("TALLOWMARK.app/up", "../../outside"), file("TALLOWMARK.app/up/evil", "x")},
         out + "TALLOWMARK.app/up"},
        {"absolute link", {link("TALLOWMARK.app/abs", (dir / "outside").string())}, out + "TALLOWMARK.app/abs"},
        // Each link alone stays inside by name; followed on disk, "t" climbs out.
        {"chain of links climbing out", {folder("a/"), link("a/t", "s/../.."), link("a/s", ".")}, out + "a/t"},
        {"file written through a link", {folder("a/b/"), link("a/l", "b"), file("a/l/evil", "x")},
         "the package writes through a link or a file: l"},
        // Devices and sockets share one branch: any type but file, folder and link.
        {"character device entry", {file("TALLOWMARK.app/tty", "", 020644)},
         "the package has a device, pipe or socket entry: TALLOWMARK.app/tty"},
        {"same name twice", {file("a", "1"), file("a", "2")}, "the package holds a twice"},
        {"files together over the unpacked limit", {file("one", std::string(60, 'a')), file("two", std::string(60, 'b'))},
         "the package unpacks to more than 100 bytes", {.maxUnpackedBytes = 100}},
        {"too many entries", {file("1", ""), file("2", ""), file("3", ""), file("4", "")},
         "the package has more than 3 entries", {.maxEntries = 3}},
        {"archive over its own limit", {file("big", std::string(400, 'z'))}, "the package is larger than 300 bytes",
         {.maxArchiveBytes = 300}},
        {"not a zip", {}, "the package is not a ZIP archive (Unrecognized archive format)", {},
         [](const fs::path& zip) { testing::writeText(zip, "just text, no ZIP"); }},
        {"a folder given as the zip", {}, "the package is not a file", {},
         [](const fs::path& zip) { fs::create_directory(zip); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const char* name : {"outside", "work", "p.zip"}) fs::remove_all(dir / name);
        for (const char* name : {"outside", "work"}) fs::create_directories(dir / name);
        const fs::path zip = dir / "p.zip";
        row.makeZip ? row.makeZip(zip) : testing::writeText(zip, zipBytes(row.entries));

        EXPECT_EQ(unpackZip(zip, dir / "work", row.limits), row.reason);
        EXPECT_TRUE(fs::is_empty(dir / "outside"));
        EXPECT_EQ(dir.entries(), 3);  // outside, work, p.zip
        EXPECT_TRUE(fs::is_empty(dir / "work")) << "a refused package is not left half unpacked";
    }
}

// The ZIP reader hands a pipe entry over as a plain file; it must land as one, never as a pipe that would block
// whoever reads the bundle. A pipe in a folder being packed is refused, and no partial ZIP is left.
TEST(PackageArchive, PipesNeverPassAsPipes) {
    TempDir dir;
    fs::create_directory(dir / "work");
    testing::writeText(dir / "p.zip", zipBytes({folder("TALLOWMARK.app/"), file("TALLOWMARK.app/pipe", "", 010755)}));
    ASSERT_EQ(unpackZip(dir / "p.zip", dir / "work"), std::nullopt);
    const fs::file_status status = fs::symlink_status(dir / "work" / "TALLOWMARK.app" / "pipe");
    EXPECT_EQ(status.type(), fs::file_type::regular);
    EXPECT_EQ(static_cast<unsigned>(status.permissions()), 0755u);

    fs::create_directories(dir / "TALLOWMARK.app");
    ASSERT_EQ(::mkfifo((dir / "TALLOWMARK.app" / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(packZip(dir / "TALLOWMARK.app", dir / "q.zip"),
              "cannot pack " + (dir / "TALLOWMARK.app" / "pipe").string() + ": not a file, folder or link");
    EXPECT_FALSE(fs::exists(dir / "q.zip"));
}

}  // namespace
}  // namespace tallowmark::update
