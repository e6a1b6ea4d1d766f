// The update manager end to end against a real HTTPS server on loopback: the
// feed and the packages are served by "openssl s_server -WWW" under a
// certificate made for the vendor's host, and the manager reaches that host
// through a connect-to mapping, so every URL is exactly the vendor's. The
// installed copy is a small fake TALLOWMARK.app whose program is a shell script.

#include "update/update_manager.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "support/temp_dir.hpp"
#include "update/bundle_signature.hpp"
#include "update/package_archive.hpp"
#include "update/release_package.hpp"
#include "zip_bytes.hpp"

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
    if (!fs::exists(fs::symlink_status(root))) return out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto status = fs::symlink_status(entry.path());
        std::string value = std::to_string(static_cast<int>(status.type())) + ":" +
                            std::to_string(static_cast<unsigned>(status.permissions())) + ":";
        if (status.type() == fs::file_type::regular) value += testing::readText(entry.path());
        out[fs::relative(entry.path(), root).string()] = value;
    }
    return out;
}

std::string infoJson(const std::string& id, const std::string& stamp, std::optional<double> buildTime) {
    std::string text = R"({"CFBundleIdentifier": ")" + id + R"(", "CFBundleVersion": ")" + stamp + "\"";
    if (buildTime) text += ", \"HFXBuildTime\": " + std::to_string(*buildTime);
    return text + "}\n";
}

// A program that answers --version the way the real one does.
std::string versionScript(const std::string& stamp, int status = 0) {
    return "#!/bin/sh\nif [ \"$1\" = --version ]; then echo " + stamp + "; exit " + std::to_string(status) + "; fi\n";
}

void makeApp(const fs::path& app, const std::string& id, const std::string& stamp, std::optional<double> buildTime,
             const std::string& program) {
    write(app / "Contents" / "Info.json", infoJson(id, stamp, buildTime));
    write(app / "Contents" / "bin" / "tallowmark", program, fs::perms(0755));
    write(app / "Contents" / "share" / "tallowmark" / "index_inlined.html", "<html>" + stamp + "</html>\n");
}

// "openssl s_server -WWW" serving a folder over TLS on a port of its choosing.
class TestServer {
public:
    bool start(const fs::path& folder, const fs::path& cert, const fs::path& key) {
        const std::string certArg = cert.string();
        const std::string keyArg = key.string();
        const char* argv[] = {"openssl", "s_server", "-WWW", "-accept", "0", "-cert", certArg.c_str(),
                              "-key", keyArg.c_str(), nullptr};
        gint out = -1;
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(folder.c_str(), const_cast<char**>(argv), nullptr,
                                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                  G_SPAWN_STDERR_TO_DEV_NULL),
                                      nullptr, nullptr, &pid_, nullptr, &out, nullptr, &error)) {
            g_clear_error(&error);
            return false;
        }
        // It names its port in a line "ACCEPT [::]:40479", after a line or two of its own.
        std::string line;
        for (int lines = 0; lines < 8 && port_ == 0; ++lines) {
            line.clear();
            char c = 0;
            while (::read(out, &c, 1) == 1 && c != '\n') line += c;
            const auto colon = line.rfind(':');
            if (line.rfind("ACCEPT", 0) == 0 && colon != std::string::npos) port_ = std::stoi(line.substr(colon + 1));
        }
        // What it prints per connection is read and dropped, so a full pipe never stops it.
        drain_ = std::thread([out] {
            char buffer[4096];
            while (::read(out, buffer, sizeof buffer) > 0) {
            }
            ::close(out);
        });
        return port_ != 0;
    }
    ~TestServer() { stop(); }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            g_spawn_close_pid(pid_);
            pid_ = 0;
        }
        if (drain_.joinable()) drain_.join();
    }
    int port() const { return port_; }

private:
    GPid pid_ = 0;
    int port_ = 0;
    std::thread drain_;
};

class UpdateInstall : public ::testing::Test {
public:
    void SetUp() override {
        gchar* openssl = g_find_program_in_path("openssl");
        if (!openssl) GTEST_SKIP() << "openssl is not installed";
        g_free(openssl);
        www_ = dir_.path() / "www";
        fs::create_directories(www_ / "updates");
        fs::create_directories(www_ / "files");
        fs::create_directories(dir_.path() / "tmp");
        const std::string cert = (dir_.path() / "cert.pem").string();
        const std::string key = (dir_.path() / "key.pem").string();
        const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                 "-subj /CN=tallowmark.org -addext subjectAltName=DNS:tallowmark.org -days 2 "
                                 "-keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0);
        ASSERT_TRUE(server_.start(www_, cert, key));
        // A release key of the test's own; the manager is given its public half.
        const auto pair = makeKeyPair();
        ASSERT_TRUE(pair);
        keys_ = *pair;

        installed_ = dir_.path() / "Applications" / "TALLOWMARK.app";
        makeApp(installed_, identifier, installedStamp, installedTime, versionScript(installedStamp));
        ASSERT_TRUE(std::holds_alternative<SignedManifest>(signRelease(installed_, {keys_.seed, identifier})));
    }

    UpdateConfig config() {
        UpdateConfig c;
        c.host = "tallowmark.org";
        c.caFile = (dir_.path() / "cert.pem").string();
        c.connectTo = "tallowmark.org:443:127.0.0.1:" + std::to_string(server_.port());
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
        std::string infoId = identifier;
        std::string signedId = identifier;
        std::string team = vendorTeam;
        int versionStatus = 0;
        std::string folderName = "TALLOWMARK.app";
        std::optional<SecretSeed> otherKey;  // signed with this instead of the release key
        std::function<void(const fs::path& app)> afterSigning;  // then packed again
    };

    std::string publish(const Package& p, const std::string& zipName) {
        const fs::path build = dir_.path() / ("build-" + zipName) / p.folderName;
        const fs::path zip = www_ / "files" / zipName;
        makeApp(build, p.infoId, p.stamp, p.buildTime, versionScript(p.stamp, p.versionStatus));
        EXPECT_EQ(makeReleasePackage(build, {p.otherKey.value_or(keys_.seed), p.signedId, p.team}, zip), std::nullopt);
        if (p.afterSigning) {
            p.afterSigning(build);
            EXPECT_FALSE(packZip(build, zip));
        }
        return "https://tallowmark.org/files/" + zipName;
    }

    // What the installs left in the temporary folder.
    std::vector<std::string> leftInTemporary() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path() / "tmp")) names.push_back(entry.path().filename());
        return names;
    }

    void publishFeed(const std::string& stamp, const std::string& zipURL, std::optional<double> buildTime) {
        std::string feed = R"({"stamp": ")" + stamp + R"(", "zip": ")" + zipURL + "\"";
        if (buildTime) feed += ", \"buildTime\": " + std::to_string(*buildTime);
        write(www_ / "updates" / "tallowmark.json", feed + "}\n");
    }

    std::optional<UpdateInfo> checkNow(UpdateManager& manager) {
        bool done = false;
        std::optional<UpdateInfo> found;
        manager.check([&](std::optional<UpdateInfo> result) {
            found = std::move(result);
            done = true;
        });
        EXPECT_TRUE(testing::pumpMainUntil([&] { return done; }, waitMs));
        return found;
    }

    struct Outcome {
        std::vector<std::string> progress;
        std::optional<std::string> failure;
        bool quit = false;
    };

    Outcome installNow(UpdateManager& manager) {
        Outcome outcome;
        manager.onQuit = [&] { outcome.quit = true; };
        manager.install([&](std::string text) { outcome.progress.push_back(std::move(text)); },
                        [&](std::string text) { outcome.failure = std::move(text); });
        EXPECT_TRUE(testing::pumpMainUntil([&] { return outcome.failure || outcome.quit; }, waitMs));
        manager.onQuit = nullptr;
        return outcome;
    }

    TempDir dir_;
    fs::path www_;
    TestServer server_;
    KeyPair keys_{};
    fs::path installed_;
    std::vector<fs::path> relaunched_;
};

TEST_F(UpdateInstall, RefusedPackagesLeaveTheInstalledCopyUntouchedAndNoWorkFolder) {
    struct Case {
        const char* name;
        Package package;
        std::string feedStamp;  // empty: the package's own
        std::function<std::string(UpdateInstall&)> publishOther;  // a package made some other way
        std::string failure;
    };
    // A file put on the server as it is (none: never put there), and its address.
    const auto served = [](const std::string& name, const std::optional<std::string>& bytes) {
        return [=](UpdateInstall& t) {
            if (bytes) write(t.www_ / "files" / name, *bytes);
            return "https://tallowmark.org/files/" + name;
        };
    };
    // The version rules each have their row in update_rules_test; here only the rows that show the
    // manager hands them the advertised stamp and the installed build time.
    std::vector<Case> cases{
        {"tampered", {.afterSigning = [](const fs::path& app) {
             write(app / "Contents" / "bin" / "tallowmark", versionScript("20261103-abc1234") + "rm -rf ~\n",
                   fs::perms(0755));
         }}, {}, {}, "Update failed: a signed file was changed: Contents/bin/tallowmark"},
        {"extra file",
         {.afterSigning = [](const fs::path& app) { write(app / "Contents" / "bin" / "helper", "#!/bin/sh\n"); }}, {}, {},
         "Update failed: the bundle holds a file that is not signed: Contents/bin/helper"},
        {"signed with another key", {.otherKey = makeKeyPair()->seed}, {}, {},
         "Update failed: the signature does not match the vendor's key"},
        {"wrong team", {.team = "AAAAAAAAAA"}, {}, {}, "Update rejected: unexpected signer"},
        {"signed for another app", {.infoId = "org.other.Viewer", .signedId = "org.other.Viewer"}, {}, {},
         "Update failed: the package is signed for org.other.Viewer, not org.tallowmark.Tallowmark"},
        {"older stamp than advertised", {.stamp = "20261020-1234567"}, "20261103-abc1234", {},
         "Update rejected: package version does not match the advertised version"},
        {"same day, earlier build", {.stamp = "20261029-aaaaaaa", .buildTime = installedTime - 1}, {}, {},
         "Update rejected: package is not newer than the installed version"},
        {"program fails --version", {.versionStatus = 3}, {}, {},
         "Update rejected: Gatekeeper did not accept the package (tallowmark exited 3)"},
        {"another folder name", {.folderName = "Tallowmark-20261103.app"}, {}, {},
         "Update package did not contain TALLOWMARK.app"},
        {"dot-dot path", {}, {},
         served("dotdot.zip", zipBytes({file("TALLOWMARK.app/Contents/Info.json", "{}"),
                                        file("TALLOWMARK.app/../../../Applications/TALLOWMARK.app/x", "owned")})),
         "Update failed: the package has a path with \"..\": TALLOWMARK.app/../../../Applications/TALLOWMARK.app/x"},
        // This server answers a missing file with an error text and status 200.
        {"error page instead of the package", {}, {}, served("gone.zip", std::nullopt),
         "Update failed: the package is not a ZIP archive (Unrecognized archive format)"},
        {"empty package", {}, {}, served("empty.zip", ""), "Download failed: no data"},
        {"server gone after the check", {}, {}, served("late.zip", "PK"), ""},
    };

    const auto before = snapshot(installed_.parent_path());
    auto manager = UpdateManager::create(config());
    const int port = server_.port();
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string zipName = "case" + std::to_string(++index) + ".zip";
        const std::string url = c.publishOther ? c.publishOther(*this) : publish(c.package, zipName);
        const std::string advertised = c.publishOther ? "20261103-abc1234" : c.package.stamp;
        publishFeed(c.feedStamp.empty() ? advertised : c.feedStamp, url, std::nullopt);
        ASSERT_TRUE(checkNow(*manager));
        if (c.failure.empty()) server_.stop();
        const Outcome outcome = installNow(*manager);
        ASSERT_TRUE(outcome.failure);
        // The server gone after the check: curl's own words follow the port.
        const std::string failure =
            c.failure.empty() ? "Download failed: Failed to connect to 127.0.0.1 port " + std::to_string(port) : c.failure;
        EXPECT_EQ(c.failure.empty() ? outcome.failure->substr(0, failure.size()) : *outcome.failure, failure);
        EXPECT_FALSE(outcome.quit);
        EXPECT_FALSE(manager->isInstalling());
        EXPECT_EQ(outcome.progress.front(), "Downloading\u2026");
        EXPECT_TRUE(relaunched_.empty());
        EXPECT_TRUE(snapshot(installed_.parent_path()) == before) << "the installed folder changed";
        EXPECT_EQ(leftInTemporary(), std::vector<std::string>{}) << "the download and its unpacked copy stay behind";
    }
}

TEST_F(UpdateInstall, GoodPackageReplacesTheInstalledCopyAndKeepsThePreviousOne) {
    const auto original = snapshot(installed_);
    auto manager = UpdateManager::create(config());
    std::vector<UpdateInfo> announced;
    manager->onAvailable = [&](const UpdateInfo& info) { announced.push_back(info); };

    struct Step {
        Package package;
        std::optional<double> feedTime;
        bool otherFileSystem;  // the work folder where a rename into place cannot work: copied instead
    };
    const Package sameDayLater{.stamp = "20261103-bbbbbbb", .buildTime = 1793400100};
    const Package nextDay{.stamp = "20261104-ccccccc"};
    // /dev/shm, a file system of its own, when it is one here.
    struct stat shmInfo {}, ownInfo {};
    const bool otherFileSystem = ::stat("/dev/shm", &shmInfo) == 0 && ::access("/dev/shm", W_OK) == 0 &&
                                 ::stat(dir_.path().c_str(), &ownInfo) == 0 && shmInfo.st_dev != ownInfo.st_dev;
    std::vector<Step> steps{{Package{}, std::nullopt, false}, {sameDayLater, 1793400100, false}};
    if (otherFileSystem) steps.push_back({nextDay, std::nullopt, true});
    std::map<std::string, std::string> previousInstall = original;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.package.stamp);
        const std::string url = publish(step.package, "good" + std::to_string(++index) + ".zip");
        publishFeed(step.package.stamp, url, step.feedTime);
        const auto found = checkNow(*manager);
        ASSERT_EQ(found, (UpdateInfo{step.package.stamp, url}));
        ASSERT_EQ(manager->available(), found);
        ASSERT_EQ(announced.back(), *found);

        fs::path work = dir_.path() / "tmp";
        if (step.otherFileSystem) {
            gchar* made = g_dir_make_tmp("tallowmark-update-XXXXXX", nullptr);  // under TMPDIR
            ASSERT_TRUE(made);
            work = fs::path("/dev/shm") / fs::path(made).filename();
            fs::remove(made);
            g_free(made);
            fs::create_directories(work);
            UpdateConfig elsewhere = config();
            elsewhere.running = BuildInfo{identifier, "20261103-bbbbbbb", 1793400100};
            elsewhere.tempDir = work;
            manager = UpdateManager::create(elsewhere);
            ASSERT_TRUE(checkNow(*manager));
        }
        const Outcome outcome = installNow(*manager);
        ASSERT_EQ(outcome.failure, std::nullopt);
        EXPECT_TRUE(outcome.quit);
        EXPECT_EQ(outcome.progress, (std::vector<std::string>{"Downloading\u2026", "Verifying\u2026",
                                                              "Installing\u2026", "Restarting\u2026"}));
        ASSERT_EQ(relaunched_.size(), static_cast<std::size_t>(index));
        EXPECT_EQ(relaunched_.back(), installed_);
        EXPECT_EQ(readBundleInfo(installed_)->at("CFBundleVersion"), step.package.stamp);
        EXPECT_TRUE(verifyBundle(installed_, keys_.publicKey).index() == 0);
        // The copy that ran before this install is kept beside it, replacing any older one.
        EXPECT_TRUE(snapshot(installed_.parent_path() / ".TALLOWMARK-previous.app") == previousInstall);
        previousInstall = snapshot(installed_);
        // The work folder is gone.
        EXPECT_TRUE(fs::is_empty(work));
        if (step.otherFileSystem) fs::remove_all(work);

        // The manager in the relaunched program starts from the new build.
        UpdateConfig next = config();
        next.running = BuildInfo{identifier, step.package.stamp, step.package.buildTime};
        manager = UpdateManager::create(next);
        manager->onAvailable = [&](const UpdateInfo& info) { announced.push_back(info); };
    }
}

TEST_F(UpdateInstall, ChecksDeliverNoneAndKeepAnEarlierFind) {
    auto manager = UpdateManager::create(config());
    EXPECT_EQ(manager->lastCheck(), UpdateManager::Clock::time_point::min());
    const std::string url = publish(Package{}, "found.zip");
    publishFeed("20261103-abc1234", url, std::nullopt);
    ASSERT_TRUE(checkNow(*manager));
    EXPECT_GT(manager->lastCheck(), UpdateManager::Clock::time_point::min());

    struct Case {
        const char* name;
        bool feedChanged;  // else the request fails on the way, and the feed still offers a newer build
        std::function<void(UpdateInstall&, UpdateConfig&)> arrange;
    };
    const int port = server_.port();
    // What makes a feed unusable is the feed reader's table; here one row for each way the manager
    // meets it: a missing feed, an older build against the running one, and each failing connection.
    const Case cases[] = {
        {"no feed", true, [](UpdateInstall& t, UpdateConfig&) { fs::remove(t.www_ / "updates" / "tallowmark.json"); }},
        {"older build", true,
         [](UpdateInstall& t, UpdateConfig&) { t.publishFeed("20261020-1234567", "https://tallowmark.org/f.zip", {}); }},
        {"no network", false, [](UpdateInstall&, UpdateConfig& c) { c.connectTo = "tallowmark.org:443:127.0.0.1:1"; }},
        {"untrusted certificate", false, [](UpdateInstall&, UpdateConfig& c) { c.caFile = "/dev/null"; }},
        {"certificate for another host", false,
         [port](UpdateInstall&, UpdateConfig& c) {
             c.host = "tallowmark.net";
             c.connectTo = "tallowmark.net:443:127.0.0.1:" + std::to_string(port);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        publishFeed("20261104-1234567", "https://tallowmark.org/files/newer.zip", std::nullopt);
        UpdateConfig settings = config();
        c.arrange(*this, settings);
        // A fresh manager sees none; the one that found an update keeps it.
        auto fresh = UpdateManager::create(settings);
        bool announced = false;
        fresh->onAvailable = [&](const UpdateInfo&) { announced = true; };
        EXPECT_EQ(checkNow(*fresh), std::nullopt);
        EXPECT_FALSE(fresh->available());
        EXPECT_FALSE(announced);
        if (c.feedChanged) {
            EXPECT_EQ(checkNow(*manager), std::nullopt);
            EXPECT_EQ(manager->available(), (UpdateInfo{"20261103-abc1234", url}));
        }
    }
    // The same manager finds the newer build once the feed offers it again.
    EXPECT_EQ(checkNow(*manager), (UpdateInfo{"20261104-1234567", "https://tallowmark.org/files/newer.zip"}));
}

TEST_F(UpdateInstall, InstallsThatCannotStartAnswerAtOnce) {
    struct Case {
        const char* name;
        bool found;
        bool bundle;
        bool alreadyInstalling;
        std::string failure;
    };
    const Case cases[] = {
        {"nothing found", false, true, false, "No update available"},
        {"not an installed folder", true, false, false,
         "Update failed: this copy of TALLOWMARK is not an installed TALLOWMARK.app"},
        {"second install", true, true, true, "Update failed: an update is already being installed"},
    };
    const std::string url = publish(Package{}, "ready.zip");
    publishFeed("20261103-abc1234", url, std::nullopt);
    const auto before = snapshot(installed_.parent_path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateConfig settings = config();
        if (!c.bundle) settings.runningBundle.reset();
        auto manager = UpdateManager::create(settings);
        if (c.found) {
            ASSERT_TRUE(checkNow(*manager));
        }
        Outcome first;
        if (c.alreadyInstalling) {
            manager->onQuit = [&] { first.quit = true; };
            manager->install([&](std::string text) { first.progress.push_back(text); },
                             [&](std::string text) { first.failure = text; });
            EXPECT_TRUE(manager->isInstalling());
        }
        std::vector<std::string> failures;
        std::vector<std::string> progress;
        manager->install([&](std::string text) { progress.push_back(text); },
                         [&](std::string text) { failures.push_back(text); });
        // Delivered on the calling thread, before the main loop turns.
        EXPECT_EQ(failures, std::vector<std::string>{c.failure});
        EXPECT_TRUE(progress.empty());
        EXPECT_EQ(manager->isInstalling(), c.alreadyInstalling);
        if (c.alreadyInstalling) {
            // The first install goes on to the end, alone.
            ASSERT_TRUE(testing::pumpMainUntil([&] { return first.quit || first.failure; }, waitMs));
            EXPECT_TRUE(first.quit);
            EXPECT_EQ(failures.size(), 1u);
        } else {
            EXPECT_TRUE(snapshot(installed_.parent_path()) == before);
        }
    }
}

// A build configured without a release key answers a check with none and
// never opens a connection to the host: anything that connected would wait in
// this listener's queue. An install answers at once.
TEST_F(UpdateInstall, ABuildWithoutAKeyNeverAsksTheHost) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    publishFeed("20261104-1234567", publish(Package{}, "unasked.zip"), std::nullopt);
    UpdateConfig settings = config();
    settings.publicKey.reset();
    settings.connectTo = "tallowmark.org:443:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    auto manager = UpdateManager::create(settings);
    bool announced = false;
    manager->onAvailable = [&](const UpdateInfo&) { announced = true; };
    EXPECT_FALSE(manager->isSetUp());
    EXPECT_EQ(checkNow(*manager), std::nullopt);
    EXPECT_FALSE(announced);
    EXPECT_FALSE(manager->available());
    std::vector<std::string> said;
    manager->install([&](std::string text) { said.push_back(text); }, [&](std::string text) { said.push_back(text); });
    EXPECT_EQ(said, std::vector<std::string>{"Updates are not set up for this build"});
    EXPECT_FALSE(manager->isInstalling());
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "the host was asked";
    EXPECT_EQ(errno, EAGAIN);
    ::close(listener);
}

// An install that ended with its program (quit or killed during it) left its
// work folder. The next install removes it, but not a folder another running
// install holds, nor anything else in the temporary folder, nor what a link of
// that name points to.
TEST_F(UpdateInstall, TheNextInstallRemovesWorkFoldersOfInstallsThatDied) {
    const fs::path tmp = dir_.path() / "tmp";
    write(tmp / "TALLOWMARK-update-dead" / "update.zip", "PK");
    write(tmp / "TALLOWMARK-update-dead" / "TALLOWMARK.app" / "Contents" / "Info.json", "{}");
    write(tmp / "TALLOWMARK-update-running" / "update.zip", "PK");
    write(tmp / "unrelated" / "keep", "x");
    write(dir_.path() / "elsewhere" / "keep", "x");
    fs::create_directory_symlink(dir_.path() / "elsewhere", tmp / "TALLOWMARK-update-link");
    const int running = ::open((tmp / "TALLOWMARK-update-running").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);  // as the other install holds it

    const Package refused{.team = "AAAAAAAAAA"};
    publishFeed(refused.stamp, publish(refused, "refused.zip"), std::nullopt);
    auto manager = UpdateManager::create(config());
    ASSERT_TRUE(checkNow(*manager));
    EXPECT_EQ(installNow(*manager).failure, "Update rejected: unexpected signer");
    auto left = leftInTemporary();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"TALLOWMARK-update-link", "TALLOWMARK-update-running", "unrelated"}));
    EXPECT_TRUE(fs::exists(tmp / "TALLOWMARK-update-running" / "update.zip"));
    EXPECT_TRUE(fs::exists(dir_.path() / "elsewhere" / "keep"));
    ::close(running);
}

TEST(UpdateAssessment, VersionRunOfThePackagedProgram) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string script;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {"prints its stamp", "#!/bin/sh\necho 20261103-abc1234\n", std::nullopt},
        {"prints it among other text", "#!/bin/sh\necho TALLOWMARK 20261103-abc1234 build\n", std::nullopt},
        {"exits 3", "#!/bin/sh\necho 20261103-abc1234\nexit 3\n", "tallowmark exited 3"},
        {"another stamp", "#!/bin/sh\necho 20261029-5e9d804\n", "tallowmark did not report version 20261103-abc1234"},
        {"killed", "#!/bin/sh\nkill -9 $$\n", "tallowmark was ended by signal 9"},
        {"hangs", "#!/bin/sh\nsleep 30\n", "tallowmark did not finish within 1 seconds"},
        {"hangs after closing its output", "#!/bin/sh\nexec >/dev/null\nsleep 30\n",
         "tallowmark did not finish within 1 seconds"},
        {"leaves a child holding its output", "#!/bin/sh\necho 20261103-abc1234\nsleep 30 &\n",
         "tallowmark did not finish within 1 seconds"},
        {"not runnable", "", "tallowmark could not be started: Exec format error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path program = dir.path() / c.name / "tallowmark";
        write(program, c.script, fs::perms(0755));
        EXPECT_EQ(assessBundleProgram(program, "20261103-abc1234", 1), c.refusal);
    }
}

}  // namespace
}  // namespace tallowmark::update
