#include "core/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>
#include <tuple>
#include <vector>

#include "core/file_identity.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
using testing::readText;
using testing::writeText;

namespace fs = std::filesystem;

// Sets the umask for one test and puts the old one back.
struct UmaskScope {
    explicit UmaskScope(mode_t mask) : old(::umask(mask)) {}
    ~UmaskScope() { ::umask(old); }
    const mode_t old;
};

TEST(AtomicFile, ReplacesWholeFileOrFailsLeavingNothingBehind) {
    TempDir dir;
    const auto path = dir / "Show.tallowmark";
    writeText(path, "old content that is longer than the new one");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "new", &error)) << error;
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(dir.entries(), 1);

    EXPECT_FALSE(writeFileAtomically(dir / "missing-folder/file.json", "x", &error));
    EXPECT_EQ(error, "No such file or directory");
    // A folder in the way: the rename fails after the temporary file was written.
    fs::create_directory(dir / "taken");
    writeText(dir / "taken" / "inside", "keep");
    error.clear();
    EXPECT_FALSE(writeFileAtomically(dir / "taken", "new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readText(dir / "taken" / "inside"), "keep");
    EXPECT_EQ(dir.entries(), 2) << "the temporary file is removed";

    EXPECT_EQ(readWholeFile(dir / "nope", 100).status, ReadStatus::missing);
    EXPECT_EQ(readWholeFile(dir / "taken", 100).status, ReadStatus::failed);
    writeText(path, std::string(101, 'x'));
    EXPECT_EQ(readWholeFile(path, 100).status, ReadStatus::tooLarge);
    EXPECT_EQ(readWholeFile(path, 101).status, ReadStatus::ok);
    EXPECT_EQ(readWholeFile(path, 101).bytes.size(), 101u);
}

// A new file takes the umask; a replaced one keeps its mode unless we could not read it (root reads anything, so that
// is judged by the owner's bits): then it is made readable under the umask, and that is logged once.
TEST(AtomicFile, FilesTakeTheUmaskOrKeepTheModeOfAFileWeCouldRead) {
    TempDir dir;
    const std::tuple<mode_t, std::optional<mode_t>, mode_t> cases[] = {  // umask, mode before, mode after
        {022, {}, 0644},   {077, {}, 0600},   {002, {}, 0664},   {027, {}, 0640},
        {022, 0640, 0640}, {022, 0000, 0644}, {022, 0200, 0644}, {022, 0044, 0644}};
    for (const auto& [mask, before, after] : cases) {
        const UmaskScope scope(mask);
        EXPECT_EQ(currentUmask(), mask);
        const auto path = dir / ("file-" + std::to_string(mask) + "-" + std::to_string(before.value_or(07777)));
        if (before) {
            writeText(path, "old");
            ::chmod(path.c_str(), *before);
        }
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(writeFileAtomically(path, "new"));
        ASSERT_TRUE(writeFileAtomically(path, "newer"));
        const std::string err = ::testing::internal::GetCapturedStderr();
        SCOPED_TRACE(::testing::Message() << "umask " << std::oct << mask << ", mode " << before.value_or(07777));
        EXPECT_EQ(fs::status(path).permissions(), fs::perms(after));
        EXPECT_EQ(readText(path), "newer");
        EXPECT_EQ(err, before && !(*before & 0400) ? "TALLOWMARK: korvattava tiedosto ei ollut luettavissa, uusi "
                                                     "tiedosto kirjoitetaan luettavaksi: " + path.string() + "\n"
                                                   : "");
    }
}

TEST(AtomicFile, OnlyStaleTemporariesOfOurOwnNamingAreSwept) {
    TempDir dir;
    const auto target = dir / "Show.tallowmark-run";
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const std::tuple<const char*, bool, bool, bool> cases[] = {  // name, old, locked, removed
        {".Show.tallowmark-run.tmp-Ab3dE9", true, false, true},    // a killed writer's leftover
        {".Show.tallowmark-run.tmp-zZ09aQ", false, false, false},  // fresh: may be mid-write
        {".Show.tallowmark-run.tmp-Lk8mN2", true, true, false},    // its writer still holds it
        {".Show.tallowmark-run.tmp-Ab3dE", true, false, false},    // five letters: not mkstemp's
        {".Show.tallowmark-run.tmp-Ab3dE9x", true, false, false},
        {".Show.tallowmark-run.tmp-Ab_dE9", true, false, false},
        {"Show.tallowmark-run.tmp-Ab3dE9", true, false, false},    // not hidden: not ours
        {".Show.tallowmark.tmp-Ab3dE9", true, false, false},       // another file's
    };
    std::vector<int> locks;
    for (const auto& [name, isOld, locked, removed] : cases) {
        writeText(dir / name, "partial");
        if (isOld) fs::last_write_time(dir / name, old);
        if (locked) {
            locks.push_back(::open((dir / name).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
        }
    }
    fs::create_directory(dir / ".Show.tallowmark-run.tmp-Dir123");
    fs::last_write_time(dir / ".Show.tallowmark-run.tmp-Dir123", old);
    // Named like debris, but another file's second name, or the file being replaced as its link leads: never taken.
    writeText(dir / "Show.pdf", "script");
    fs::create_hard_link(dir / "Show.pdf", dir / ".Show.tallowmark-run.tmp-Hard01");
    fs::last_write_time(dir / "Show.pdf", old);
    writeText(dir / ".Show.tallowmark-run.tmp-Link01", "the run as it was");
    fs::last_write_time(dir / ".Show.tallowmark-run.tmp-Link01", old);
    fs::create_symlink(".Show.tallowmark-run.tmp-Link01", target);

    ASSERT_TRUE(writeFileAtomically(target, "x"));
    for (const auto& [name, isOld, locked, removed] : cases) EXPECT_EQ(fs::exists(dir / name), !removed) << name;
    EXPECT_TRUE(fs::is_directory(dir / ".Show.tallowmark-run.tmp-Dir123"));
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Hard01"), "script");
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Link01"), "the run as it was");
    for (int fd : locks) ::close(fd);
}

TEST(AtomicFile, AStagedFileIsWholeInPlaceOnlyAfterCommitAndGoneIfNeverCommitted) {
    TempDir dir;
    writeText(dir / "source", std::string(200000, 'q'));
    {
        auto staged = StagedFile::copy(dir / "source", dir / "bak1");
        ASSERT_TRUE(staged);
        EXPECT_FALSE(fs::exists(dir / "bak1"));
        EXPECT_EQ(readText(staged->temporaryPath()), readText(dir / "source")) << "written and flushed before commit";
    }
    EXPECT_EQ(dir.entries(), 1) << "an abandoned copy leaves nothing";

    auto staged = StagedFile::copy(dir / "source", dir / "bak1");
    ASSERT_TRUE(staged && staged->commit());
    EXPECT_EQ(readText(dir / "bak1"), readText(dir / "source"));
    EXPECT_EQ(dir.entries(), 2);

    EXPECT_FALSE(StagedFile::copy(dir.path(), dir / "bak2"));
    EXPECT_FALSE(StagedFile::copy(dir / "missing", dir / "bak2"));
    EXPECT_EQ(dir.entries(), 2);
}

// Two paths that name one file under different texts, and two that look alike
// but do not: the identity rule against what path text would say.
TEST(FileIdentity, SameFileFollowsLinksFoldersAndPlacesNotYetCreated) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    testing::writeText(dir / "Show.pdf", "script");
    testing::writeText(dir / "Other.pdf", "other");
    fs::create_directory_symlink(dir.path(), dir / "link");
    fs::create_symlink(dir / "Show.pdf", dir / "Alias.pdf");
    fs::create_hard_link(dir / "Show.pdf", dir / "Hard.pdf");
    fs::create_symlink("Pending.tallowmark", dir / "Dangling.tallowmark");

    struct Row { fs::path a, b; bool same; };
    const std::vector<Row> rows = {
        {dir / "Show.pdf", dir / "link" / "Show.pdf", true},
        {dir / "Show.pdf", dir / "sub" / ".." / "Show.pdf", true},
        {dir / "Show.pdf", fs::relative(dir.path(), fs::current_path()) / "Show.pdf", true},
        {dir / "Show.pdf", dir / "Alias.pdf", true},
        {dir / "Show.pdf", dir / "Hard.pdf", true},
        {dir / "Show.pdf", dir / "Other.pdf", false},
        // Nothing there yet: the same entry of the same folder.
        {dir / "New.pdf", dir / "link" / "New.pdf", true},
        {dir / "New.pdf", dir / "sub" / "New.pdf", false},
        {dir / "New.pdf", dir / "NEW.pdf", false},  // this folder tells case apart
        // A write through a dangling link creates the file it points at.
        {dir / "Dangling.tallowmark", dir / "link" / "Pending.tallowmark", true},
        // A folder that does not exist: only the same text is the same place.
        {dir / "gone" / "x.pdf", dir / "gone" / "." / "x.pdf", true},
        {dir / "gone" / "x.pdf", dir / "gone" / "y.pdf", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sameFile(row.a, row.b), row.same) << row.a << " vs " << row.b;
        EXPECT_EQ(sameFile(row.b, row.a), row.same) << row.b << " vs " << row.a;
    }
    // findSameFile gives the first match.
    const std::vector<fs::path> files = {dir / "Show.tallowmark", dir / "Show.pdf", dir / "link" / "Show.pdf"};
    EXPECT_EQ(findSameFile(dir / "link" / "Show.pdf", files), 1u);
    EXPECT_EQ(findSameFile(dir / "link" / "Show.tallowmark", files), 0u);
    EXPECT_EQ(findSameFile(dir / "Show.tallowmark-run", files), std::nullopt);
    EXPECT_EQ(findSameFile(dir / "Show.pdf", {}), std::nullopt);
}

}  // namespace
}  // namespace tallowmark
