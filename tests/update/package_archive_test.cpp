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

// Every name under `root`, links not followed.
std::vector<std::string> namesUnder(const fs::path& root) {
    std::vector<std::string> names;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it)
        names.push_back(it->path().lexically_relative(root).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

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
    const std::vector<Row> rows = {
        {"absolute path", {folder("TALLOWMARK.app/"), file(outsideAbsolute, "x")}, "absolute path"},
        {"dot-dot at the front", {file("../outside/evil", "x")}, "\"..\""},
        {"dot-dot in the middle", {file("TALLOWMARK.app/../../outside/evil", "x")}, "\"..\""},
        {"link pointing out", {link("TALLOWMARK.app/up", "../../outside"), file("TALLOWMARK.app/up/evil", "x")},
         "link that points outside: TALLOWMARK.app/up"},
        {"absolute link", {link("TALLOWMARK.app/abs", (dir / "outside").string())}, "link that points outside"},
        // Each link alone stays inside by name; followed on disk, "t" climbs out.
        {"chain of links climbing out",
         {folder("a/"), link("a/t", "s/../.."), link("a/s", ".")},
         "link that points outside: a/t"},
        {"file written through a link", {folder("a/b/"), link("a/l", "b"), file("a/l/evil", "x")},
         "through a link"},
        // Devices and sockets share one branch: any type but file, folder and link.
        {"character device entry", {file("TALLOWMARK.app/tty", "", 020644)}, "device, pipe or socket"},
        {"same name twice", {file("a", "1"), file("a", "2")}, "twice"},
        {"files together over the unpacked limit",
         {file("one", std::string(60, 'a')), file("two", std::string(60, 'b'))},
         "more than 100 bytes",
         {.maxUnpackedBytes = 100}},
        {"too many entries", {file("1", ""), file("2", ""), file("3", ""), file("4", "")}, "more than 3 entries",
         {.maxEntries = 3}},
        {"archive over its own limit", {file("big", std::string(400, 'z'))}, "larger than 300 bytes",
         {.maxArchiveBytes = 300}},
        {"not a zip", {}, "not a ZIP", {}, [](const fs::path& zip) { testing::writeText(zip, "just text, no ZIP"); }},
        {"a folder given as the zip", {}, "not a file", {}, [](const fs::path& zip) { fs::create_directory(zip); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const char* name : {"outside", "work", "p.zip"}) fs::remove_all(dir / name);
        for (const char* name : {"outside", "work"}) fs::create_directories(dir / name);
        const fs::path zip = dir / "p.zip";
        row.makeZip ? row.makeZip(zip) : testing::writeText(zip, zipBytes(row.entries));

        const std::optional<std::string> failed = unpackZip(zip, dir / "work", row.limits);

        ASSERT_TRUE(failed.has_value());
        EXPECT_NE(failed->find(row.reason), std::string::npos) << *failed;
        EXPECT_TRUE(namesUnder(dir / "outside").empty());
        EXPECT_EQ(dir.entries(), 3);  // outside, work, p.zip
        EXPECT_TRUE(namesUnder(dir / "work").empty()) << "a refused package is not left half unpacked";
    }
}

// The ZIP reader hands a pipe entry over as a plain file; it must land as one,
// never as a pipe that would block whoever reads the bundle.
TEST(PackageArchive, APipeEntryBecomesAnEmptyPlainFile) {
    TempDir dir;
    fs::create_directory(dir / "work");
    testing::writeText(dir / "p.zip", zipBytes({folder("TALLOWMARK.app/"), file("TALLOWMARK.app/pipe", "", 010755)}));
    ASSERT_EQ(unpackZip(dir / "p.zip", dir / "work"), std::nullopt);
    const fs::file_status status = fs::symlink_status(dir / "work" / "TALLOWMARK.app" / "pipe");
    EXPECT_EQ(status.type(), fs::file_type::regular);
    EXPECT_EQ(static_cast<unsigned>(status.permissions()), 0755u);
}

TEST(PackageArchive, PackAndUnpackKeepModesLinksAndContents) {
    TempDir dir;
    const fs::path app = dir / "TALLOWMARK.app";
    fs::create_directories(app / "Contents" / "bin");
    fs::create_directories(app / "Contents" / "share" / "tallowmark" / "empty");
    testing::writeText(app / "Contents" / "bin" / "tallowmark", "#!/bin/sh\necho hi\n");
    fs::permissions(app / "Contents" / "bin" / "tallowmark", fs::perms(0755));
    std::string large;
    for (int i = 0; i < 300000; ++i) large += static_cast<char>((i * 7919) % 251);
    testing::writeText(app / "Contents" / "share" / "tallowmark" / "page.html", large);
    testing::writeText(app / "Contents" / "Info.json", "{}\n");
    testing::writeText(app / "Contents" / "share" / "zero", "");
    fs::create_symlink("bin/tallowmark", app / "Contents" / "program");
    fs::create_directory_symlink("../bin", app / "Contents" / "share" / "bin-again");
    // A setuid bit and write for others are not carried into an install.
    testing::writeText(app / "Contents" / "share" / "loose", "x");
    fs::permissions(app / "Contents" / "share" / "loose", fs::perms(04777));

    ASSERT_EQ(packZip(app, dir / "p.zip"), std::nullopt);
    fs::create_directory(dir / "work");
    ASSERT_EQ(unpackZip(dir / "p.zip", dir / "work"), std::nullopt);

    const fs::path out = dir / "work" / "TALLOWMARK.app";
    EXPECT_EQ(namesUnder(out), namesUnder(app));
    struct Row {
        std::string path;
        fs::file_type type;
        unsigned mode;  // permission bits of files; 0 for links
        std::string content;
    };
    const std::vector<Row> rows = {
        {"Contents/bin/tallowmark", fs::file_type::regular, 0755, "#!/bin/sh\necho hi\n"},
        {"Contents/share/tallowmark/page.html", fs::file_type::regular, 0644, large},
        {"Contents/Info.json", fs::file_type::regular, 0644, "{}\n"},
        {"Contents/share/zero", fs::file_type::regular, 0644, ""},
        {"Contents/share/loose", fs::file_type::regular, 0755, "x"},
        {"Contents/share/tallowmark/empty", fs::file_type::directory, 0, ""},
        {"Contents/program", fs::file_type::symlink, 0, "bin/tallowmark"},
        {"Contents/share/bin-again", fs::file_type::symlink, 0, "../bin"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const fs::file_status status = fs::symlink_status(out / row.path);
        ASSERT_EQ(status.type(), row.type);
        if (row.type == fs::file_type::symlink) {
            EXPECT_EQ(fs::read_symlink(out / row.path).string(), row.content);
        } else if (row.type == fs::file_type::regular) {
            EXPECT_EQ(static_cast<unsigned>(status.permissions()) & 07777, row.mode);
            EXPECT_EQ(testing::readText(out / row.path), row.content);
        }
    }
    EXPECT_EQ(testing::readText(out / "Contents" / "share" / "bin-again" / "tallowmark"), "#!/bin/sh\necho hi\n");
}

TEST(PackageArchive, PackRefusesAPipeAndLeavesNoPartialZip) {
    TempDir dir;
    fs::create_directories(dir / "TALLOWMARK.app");
    ASSERT_EQ(::mkfifo((dir / "TALLOWMARK.app" / "pipe").c_str(), 0644), 0);
    const std::optional<std::string> failed = packZip(dir / "TALLOWMARK.app", dir / "p.zip");
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->find("pipe"), std::string::npos) << *failed;
    EXPECT_EQ(dir.entries(), 1);
}

}  // namespace
}  // namespace tallowmark::update
