// The update manager end to end against "openssl s_server -WWW" on loopback, under a certificate made for
// the vendor's host, reached through a connect-to mapping so every URL is exactly the vendor's. The
// installed copy is a small fake TALLOWMARK.app whose program is a shell script.

#include "update/update_manager.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "support/temp_dir.hpp"
#include "update/release_package.hpp"

namespace tallowmark::update {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr const char* identifier = "org.tallowmark.Tallowmark";
constexpr const char* installedStamp = "20261029-5e9d804";
constexpr double installedTime = 1793000000;
constexpr int waitMs = 60000;  // a hang guard only; every step is local

void write(const fs::path& path, const std::string& text, fs::perms mode = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, mode);
}

// Every name below `root` with its kind, mode and bytes: "untouched" means equal.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto status = fs::symlink_status(entry.path());
        std::string value = std::to_string(static_cast<int>(status.type())) + ":" +
                            std::to_string(static_cast<unsigned>(status.permissions())) + ":";
        if (status.type() == fs::file_type::regular) value += testing::readText(entry.path());
        out[fs::relative(entry.path(), root).string()] = value;
    }
    return out;
}

void makeApp(const fs::path& app, const std::string& id, const std::string& stamp, std::optional<double> buildTime,
             int versionStatus = 0) {
    const std::string time = buildTime ? ", \"HFXBuildTime\": " + std::to_string(*buildTime) : "";
    write(app / "Contents" / "Info.json",
          R"({"CFBundleIdentifier": ")" + id + R"(", "CFBundleVersion": ")" + stamp + "\"" + time + "}\n");
    // A program that answers --version the way the real one does.
    write(app / "Contents" / "bin" / "tallowmark",
          "#!/bin/sh\nif [ \"$1\" = --version ]; then echo " + stamp + "; exit " + std::to_string(versionStatus) + "; fi\n",
          fs::perms(0755));
    // What a pack and unpack must carry over whole: a file of many blocks, an empty one, links to a file and to a
    // folder, an empty folder; and a file whose setuid bit and write for others are dropped.
    std::string large;
    for (int i = 0; i < 300000; ++i) large += static_cast<char>((i * 7919) % 251);
    write(app / "Contents" / "share" / "page.html", large);
    write(app / "Contents" / "share" / "zero", "");
    fs::create_symlink("bin/tallowmark", app / "Contents" / "program");
    fs::create_directory_symlink("../bin", app / "Contents" / "share" / "bin-again");
    fs::create_directories(app / "Contents" / "share" / "empty");
    write(app / "Contents" / "share" / "loose", "x", fs::perms(04777));
}

// "openssl s_server -WWW" serving a folder over TLS on a port of its choosing, which it names in a
// line "ACCEPT [::]:40479" of its output.
struct TestServer {
    bool start(const fs::path& folder, const std::string& cert, const std::string& key) {
        const std::string out = (folder.parent_path() / "server.out").string();
        const std::string command =
            "exec openssl s_server -WWW -accept 0 -cert '" + cert + "' -key '" + key + "' >'" + out + "' 2>&1";
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (!g_spawn_async(folder.c_str(), const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                           nullptr, &pid, nullptr))
            return false;
        std::string said;
        std::size_t end = std::string::npos;
        testing::pumpMainUntil([&] {
            said = testing::readText(out);
            const auto at = said.find("ACCEPT");
            return at != std::string::npos && (end = said.find('\n', at)) != std::string::npos;
        }, 10000);
        port = end == std::string::npos ? 0 : std::atoi(said.c_str() + said.rfind(':', end) + 1);
        return port != 0;
    }
    ~TestServer() { stop(); }
    void stop() {
        if (pid > 0 && ::kill(pid, SIGTERM) == 0) ::waitpid(pid, nullptr, 0);
        pid = 0;
    }
    GPid pid = 0;
    int port = 0;
};

class UpdateInstall : public ::testing::Test {
public:
    void SetUp() override {
        g_autofree gchar* openssl = g_find_program_in_path("openssl");
        if (!openssl) GTEST_SKIP() << "openssl is not installed";
        www_ = dir_.path() / "www";
        fs::create_directories(www_ / "files");
        fs::create_directories(dir_.path() / "tmp");
        const std::string cert = (dir_.path() / "cert.pem").string(), key = (dir_.path() / "key.pem").string();
        const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                 "-subj /CN=tallowmark.org -addext subjectAltName=DNS:tallowmark.org -days 2 "
                                 "-keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0);
        ASSERT_TRUE(server_.start(www_, cert, key));
        // A release key of the test's own; the manager is given its public half.
        keys_ = makeKeyPair().value();
        installed_ = dir_.path() / "Applications" / "TALLOWMARK.app";
        makeApp(installed_, identifier, installedStamp, installedTime);
    }

    UpdateConfig config(const std::string& host = "tallowmark.org") {
        UpdateConfig c;
        c.host = host;
        c.caFile = (dir_.path() / "cert.pem").string();
        c.connectTo = host + ":443:127.0.0.1:" + std::to_string(server_.port);
        c.publicKey = keys_.publicKey;
        c.running = BuildInfo{identifier, installedStamp, installedTime};
        c.runningBundle = installed_;
        c.tempDir = dir_.path() / "tmp";
        c.relaunch = [this](const fs::path& bundle) { relaunched_.push_back(bundle); };
        return c;
    }

    // What a package is made of; each field changes one thing from a good one.
    struct Package {
        std::string stamp = "20261103-abc1234";
        std::optional<double> buildTime = 1793400000;
        std::string id = identifier;  // in Info.json and signed for
        std::string team = vendorTeam;
        int versionStatus = 0;
        std::string folderName = "TALLOWMARK.app";
        std::optional<SecretSeed> otherKey{};  // signed with this instead of the release key
    };

    std::string publish(const Package& p, const std::string& zipName) {
        const fs::path build = dir_.path() / ("build-" + zipName) / p.folderName;
        makeApp(build, p.id, p.stamp, p.buildTime, p.versionStatus);
        EXPECT_EQ(makeReleasePackage(build, {p.otherKey.value_or(keys_.seed), p.id, p.team},
                                     www_ / "files" / zipName),
                  std::nullopt);
        return "https://tallowmark.org/files/" + zipName;
    }

    std::vector<std::string> leftInTemporary() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path() / "tmp")) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    void publishFeed(const std::string& stamp, const std::string& zipURL, std::optional<double> buildTime = {}) {
        const std::string time = buildTime ? ", \"buildTime\": " + std::to_string(*buildTime) : "";
        write(www_ / "updates" / "tallowmark.json",
              R"({"stamp": ")" + stamp + R"(", "zip": ")" + zipURL + "\"" + time + "}\n");
    }

    std::optional<UpdateInfo> checkNow(UpdateManager& manager) {
        std::optional<std::optional<UpdateInfo>> found;
        manager.check([&](std::optional<UpdateInfo> result) { found.emplace(std::move(result)); });
        EXPECT_TRUE(testing::pumpMainUntil([&] { return found.has_value(); }, waitMs));
        return found.value_or(std::nullopt);
    }

    struct Outcome {
        std::vector<std::string> progress;
        std::optional<std::string> failure;
        bool quit = false;
    };

    // Starts an install; `outcome` fills in as it goes.
    static void startInstall(UpdateManager& manager, Outcome& outcome) {
        manager.onQuit = [&] { outcome.quit = true; };
        manager.install([&](std::string text) { outcome.progress.push_back(std::move(text)); },
                        [&](std::string text) { outcome.failure = std::move(text); });
    }

    TempDir dir_;
    fs::path www_;
    TestServer server_;
    KeyPair keys_{};
    fs::path installed_;
    std::vector<fs::path> relaunched_;
};

// Whatever stops an update leaves the installed copy as it was and relaunches nothing. A check that finds nothing
// makes the install answer at once; a refused package fails after its download. What makes a feed or a package
// unusable has its row at the lowest layer (update rules, bundle signature, package archive); here one row for each
// way the manager meets it, and its own checks. An install that ended with its program (quit or killed during it)
// left its work folder: the next install removes it, but not a folder another running install holds, nor anything
// else in the temporary folder, nor what a link of that name points to.
TEST_F(UpdateInstall, WhatStopsAnUpdateLeavesTheInstalledCopyUntouchedAndNoWorkFolder) {
    using Arrange = std::function<void(UpdateInstall&, UpdateConfig&)>;
    struct Case {
        const char* name;
        std::string failure;  // empty: the server is gone after the check
        Package package{};
        Arrange arrange = nullptr;  // before the check
        bool found = true;
        std::string feedStamp{};  // empty: the package's own
        std::optional<std::optional<std::string>> served{};  // instead of a package: these bytes (none: no file)
    };
    const std::string none = "No update available";
    const std::vector<Case> cases{
        {"signed with another key", "Update failed: the signature does not match the vendor's key",
         {.otherKey = makeKeyPair()->seed}},
        {"wrong team", "Update rejected: unexpected signer", {.team = "AAAAAAAAAA"}},
        {"signed for another app",
         "Update failed: the package is signed for org.other.Viewer, not org.tallowmark.Tallowmark",
         {.id = "org.other.Viewer"}},
        {"older stamp than advertised", "Update rejected: package version does not match the advertised version",
         {.stamp = "20261020-1234567"}, nullptr, true, "20261103-abc1234"},
        {"same day, earlier build", "Update rejected: package is not newer than the installed version",
         {.stamp = "20261029-aaaaaaa", .buildTime = installedTime - 1}},
        {"program fails --version", "Update rejected: Gatekeeper did not accept the package (tallowmark exited 3)",
         {.versionStatus = 3}},
        {"another folder name", "Update package did not contain TALLOWMARK.app",
         {.folderName = "Tallowmark-20261103.app"}},
        // This server answers a missing file with an error text and status 200.
        {"error page instead of the package",
         "Update failed: the package is not a ZIP archive (Unrecognized archive format)", {}, nullptr, true, {},
         std::optional<std::string>()},
        {"empty package", "Download failed: no data", {}, nullptr, true, {}, ""},
        {"older build", none, {}, nullptr, false, "20261020-1234567"},
        {"untrusted certificate", none, {}, [](UpdateInstall&, UpdateConfig& c) { c.caFile = "/dev/null"; }, false},
        {"certificate for another host", none, {},
         [](UpdateInstall& t, UpdateConfig& c) { c = t.config("tallowmark.net"); }, false},
        // A build without a release key never asks the host, though the feed offers a newer build.
        {"no release key", "Updates are not set up for this build", {},
         [](UpdateInstall&, UpdateConfig& c) { c.publicKey.reset(); }, false},
        {"not an installed folder", "Update failed: this copy of TALLOWMARK is not an installed TALLOWMARK.app", {},
         [](UpdateInstall&, UpdateConfig& c) { c.runningBundle.reset(); }},
        {"server gone after the check", "", {}, nullptr, true, {}, "PK"},
    };
    const fs::path tmp = dir_.path() / "tmp";
    write(tmp / "TALLOWMARK-update-dead" / "TALLOWMARK.app" / "Contents" / "Info.json", "{}");
    write(tmp / "TALLOWMARK-update-running" / "update.zip", "PK");
    write(tmp / "unrelated" / "keep", "x");
    write(dir_.path() / "elsewhere" / "keep", "x");
    fs::create_directory_symlink(dir_.path() / "elsewhere", tmp / "TALLOWMARK-update-link");
    const int running = ::open((tmp / "TALLOWMARK-update-running").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);  // as the other install holds it
    const std::vector<std::string> kept{"TALLOWMARK-update-link", "TALLOWMARK-update-running", "unrelated"};

    const auto before = snapshot(installed_.parent_path());
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string zipName = "case" + std::to_string(++index) + ".zip";
        if (c.served && *c.served) write(www_ / "files" / zipName, **c.served);
        const std::string url = c.served ? "https://tallowmark.org/files/" + zipName : publish(c.package, zipName);
        publishFeed(c.feedStamp.empty() ? c.package.stamp : c.feedStamp, url);
        UpdateConfig settings = config();
        if (c.arrange) c.arrange(*this, settings);
        auto manager = UpdateManager::create(settings);
        EXPECT_EQ(checkNow(*manager).has_value(), c.found);
        if (c.failure.empty()) server_.stop();
        Outcome outcome;
        startInstall(*manager, outcome);
        // Refused before the download: delivered on the calling thread, before the main loop turns.
        const bool atOnce = outcome.failure.has_value();
        EXPECT_EQ(atOnce, !c.found || !settings.runningBundle);
        ASSERT_TRUE(testing::pumpMainUntil([&] { return outcome.failure || outcome.quit; }, waitMs) && outcome.failure);
        // With the server gone, curl's own words follow the port.
        const std::string failure = c.failure.empty() ? "Download failed: Failed to connect to 127.0.0.1 port " +
                                                            std::to_string(server_.port) : c.failure;
        EXPECT_EQ(c.failure.empty() ? outcome.failure->substr(0, failure.size()) : *outcome.failure, failure);
        EXPECT_FALSE(outcome.quit || manager->isInstalling() || !relaunched_.empty());
        EXPECT_EQ(outcome.progress.empty() ? "" : outcome.progress.front(), atOnce ? "" : "Downloading\u2026");
        EXPECT_TRUE(snapshot(installed_.parent_path()) == before) << "the installed folder changed";
        EXPECT_EQ(leftInTemporary(), kept) << "the download and its unpacked copy stay behind";
    }
    EXPECT_TRUE(fs::exists(tmp / "TALLOWMARK-update-running" / "update.zip"));
    EXPECT_TRUE(fs::exists(dir_.path() / "elsewhere" / "keep"));
    ::close(running);
}

TEST_F(UpdateInstall, GoodPackageReplacesTheInstalledCopyAndKeepsThePreviousOne) {
    std::vector<std::pair<Package, fs::path>> steps{{Package{}, dir_ / "tmp"},
                                                    {{.stamp = "20261103-bbbbbbb", .buildTime = 1793400100}, dir_ / "tmp"}};
    // A work folder on a file system of its own, when /dev/shm is one here: a rename into place cannot work.
    struct stat shmInfo {}, ownInfo {};
    char shm[] = "/dev/shm/tallowmark-update-XXXXXX";
    if (::stat("/dev/shm", &shmInfo) == 0 && ::stat(dir_.path().c_str(), &ownInfo) == 0 &&
        shmInfo.st_dev != ownInfo.st_dev && g_mkdtemp(shm))
        steps.push_back({{.stamp = "20261104-ccccccc"}, shm});
    const std::shared_ptr<void> removeShm(nullptr, [&](void*) { if (steps.size() == 3) fs::remove_all(shm); });
    BuildInfo running{identifier, installedStamp, installedTime};
    auto previousInstall = snapshot(installed_);
    int index = 0;
    for (const auto& [package, work] : steps) {
        SCOPED_TRACE(package.stamp);
        UpdateConfig settings = config();
        settings.running = running;  // the relaunched program's manager starts from the new build
        settings.tempDir = work;
        auto manager = UpdateManager::create(settings);
        std::optional<UpdateInfo> announced;
        manager->onAvailable = [&](const UpdateInfo& info) { announced = info; };
        const std::string url = publish(package, "good" + std::to_string(++index) + ".zip");
        publishFeed(package.stamp, url, package.buildTime);
        const auto found = checkNow(*manager);
        ASSERT_EQ(found, (UpdateInfo{package.stamp, url}));
        ASSERT_EQ(announced, found);
        // A later check that finds nothing keeps the find.
        publishFeed(installedStamp, url);
        EXPECT_EQ(checkNow(*manager), std::nullopt);
        ASSERT_EQ(manager->available(), found);

        Outcome outcome;
        startInstall(*manager, outcome);
        // A second install while this one runs is refused at once; this one goes on alone.
        std::vector<std::string> second;
        manager->install(nullptr, [&](std::string text) { second.push_back(std::move(text)); });
        EXPECT_EQ(second, std::vector<std::string>{"Update failed: an update is already being installed"});
        ASSERT_TRUE(testing::pumpMainUntil([&] { return outcome.failure || outcome.quit; }, waitMs));
        ASSERT_EQ(outcome.failure, std::nullopt);
        EXPECT_TRUE(outcome.quit);
        EXPECT_EQ(outcome.progress, (std::vector<std::string>{"Downloading\u2026", "Verifying\u2026",
                                                              "Installing\u2026", "Restarting\u2026"}));
        ASSERT_EQ(relaunched_.size(), static_cast<std::size_t>(index));
        EXPECT_EQ(relaunched_.back(), installed_);
        EXPECT_EQ(readBundleInfo(installed_)->at("CFBundleVersion"), package.stamp);
        EXPECT_TRUE(verifyBundle(installed_, keys_.publicKey).index() == 0);  // every file's bytes, every link
        EXPECT_TRUE(fs::is_empty(installed_ / "Contents" / "share" / "empty"));
        EXPECT_EQ(fs::status(installed_ / "Contents" / "share" / "loose").permissions(), fs::perms(0755));
        // The copy that ran before this install is kept beside it, replacing any older one.
        EXPECT_TRUE(snapshot(installed_.parent_path() / ".TALLOWMARK-previous.app") == previousInstall);
        previousInstall = snapshot(installed_);
        EXPECT_TRUE(fs::is_empty(work)) << "the work folder is gone";
        running = BuildInfo{identifier, package.stamp, package.buildTime};
    }
}

TEST(UpdateAssessment, VersionRunOfThePackagedProgram) {
    TempDir dir;
    const std::string late = "tallowmark did not finish within 1 seconds";
    const std::pair<const char*, std::optional<std::string>> cases[] = {  // the script, and its refusal
        {"echo 20261103-abc1234", std::nullopt},
        {"echo TALLOWMARK 20261103-abc1234 build", std::nullopt},
        {"echo 20261103-abc1234\nexit 3", "tallowmark exited 3"},
        {"echo 20261029-5e9d804", "tallowmark did not report version 20261103-abc1234"},
        {"kill -9 $$", "tallowmark was ended by signal 9"},
        {"sleep 30", late},
        {"exec >/dev/null\nsleep 30", late},                 // hangs after closing its output
        {"echo 20261103-abc1234\nsleep 30 &", late},         // leaves a child holding its output
        {nullptr, "tallowmark could not be started: Exec format error"},  // an empty file
    };
    int index = 0;
    for (const auto& [script, refusal] : cases) {
        SCOPED_TRACE(script ? script : "empty");
        const fs::path program = dir / std::to_string(++index) / "tallowmark";
        write(program, script ? std::string("#!/bin/sh\n") + script + "\n" : "", fs::perms(0755));
        EXPECT_EQ(assessBundleProgram(program, "20261103-abc1234", 1), refusal);
    }
}

}  // namespace
}  // namespace tallowmark::update
