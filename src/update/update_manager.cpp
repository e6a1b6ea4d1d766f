#include "update/update_manager.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>
#include <variant>

#include "core/main_queue.hpp"
#include "update/http_fetch.hpp"
#include "update/package_archive.hpp"

extern char** environ;

namespace tallowmark::update {

namespace {

namespace fs = std::filesystem;

constexpr long feedTimeoutSeconds = 8;
constexpr std::uint64_t maxPackageBytes = 512ull << 20;
constexpr std::size_t maxVersionOutput = 64 * 1024;

const std::string downloading = "Downloading\u2026";
const std::string verifying = "Verifying\u2026";
const std::string installingText = "Installing\u2026";
const std::string restarting = "Restarting\u2026";

FetchConfig fetchConfigOf(const UpdateConfig& config) {
    return FetchConfig{config.host, config.caFile, config.connectTo};
}

std::string expectedIdentifier(const BuildInfo& running) {
    return running.identifier.empty() ? std::string(fallbackIdentifier) : running.identifier;
}

std::string describe(const std::error_code& error) { return error.message(); }

fs::path temporaryFolder(const fs::path& configured) {
    if (!configured.empty()) return configured;
    std::error_code error;
    fs::path system = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : system;
}

// Holds an exclusive lock on a file beside the installed folder, so two
// processes of this program never swap the folder at the same time.
class SwapLock {
public:
    explicit SwapLock(const fs::path& file) {
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SwapLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    SwapLock(const SwapLock&) = delete;
    SwapLock& operator=(const SwapLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Moves the new folder into the place of the installed one, keeping the
// installed one as ".TALLOWMARK-previous.app" beside it.
std::optional<std::string> swapBundles(const fs::path& current, const fs::path& fresh) {
    const fs::path previous = current.parent_path() / ".TALLOWMARK-previous.app";
    SwapLock lock(current.parent_path() / ".TALLOWMARK-update.lock");
    if (!lock.held()) return "Update failed: another TALLOWMARK is installing an update";
    std::error_code error;
    fs::remove_all(previous, error);  // an old copy that will not go only blocks the rename below
    error.clear();
    fs::rename(current, previous, error);
    if (error) return "Update failed: " + describe(error);
    fs::rename(fresh, current, error);
    if (!error) return std::nullopt;
    // Across file systems a rename cannot work; a copy can.
    std::error_code copyError;
    fs::copy(fresh, current, fs::copy_options::recursive | fs::copy_options::copy_symlinks, copyError);
    if (!copyError) return std::nullopt;
    std::error_code ignored;
    fs::remove_all(current, ignored);
    fs::rename(previous, current, ignored);
    return "Install failed: " + describe(copyError);
}

// Starts the installed program once this process has gone: a second instance
// started earlier would hand itself over to this one, which is quitting. The
// helper shell waits for the end of a pipe only this process holds open.
void relaunchDetached(const fs::path& installedBundle) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const std::string program = bundleExecutable(installedBundle).string();
    // The pause after the end lets the session bus let go of the old instance's name.
    const char* script = "read _ignored; sleep 1; exec \"$0\" </dev/null";
    const char* argv[] = {"/bin/sh", "-c", script, program.c_str(), nullptr};
    GError* error = nullptr;
    g_spawn_async_with_fds(
        nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DEFAULT, [](gpointer) { ::setsid(); }, nullptr, nullptr,
        fds[0], -1, -1, &error);
    if (error) g_error_free(error);
    ::close(fds[0]);
    // fds[1] stays open on purpose until the process ends.
}

constexpr std::string_view workPrefix = "TALLOWMARK-update-";

// The folder one install downloads and unpacks into: made fresh under the
// temporary folder, locked while the install runs, and removed with all it
// holds when the install ends, whatever the outcome. A package is up to 512 MB
// and its unpacked copy more, so none may be left behind.
class WorkFolder {
public:
    explicit WorkFolder(const fs::path& temporary) {
        gchar* uuid = g_uuid_string_random();
        const std::string name = std::string(workPrefix) + uuid;
        g_free(uuid);
        // Made under a name no sweep looks at and locked before it takes its
        // own name, so another install's sweep never sees it unlocked.
        const fs::path staging = temporary / ("." + name);
        std::error_code error;
        fs::create_directories(temporary, error);
        const bool made = !error && fs::create_directory(staging, error);
        if (!made && !error) error = std::make_error_code(std::errc::file_exists);
        if (error) {
            error_ = describe(error);
            return;
        }
        fd_ = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
            error_ = std::strerror(errno);
        } else {
            fs::rename(staging, temporary / name, error);
            if (error) error_ = describe(error);
        }
        if (!error_.empty()) {
            fs::remove_all(staging, error);
            return;
        }
        path_ = temporary / name;
    }
    ~WorkFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
        if (fd_ >= 0) ::close(fd_);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Empty when it could not be made; error() says why.
    const fs::path& path() const { return path_; }
    const std::string& error() const { return error_; }

    // Work folders of installs that ended without their cleanup (the program
    // quit or was killed during one) are removed; a folder another running
    // install holds locked, and any folder of another user, is left alone.
    static void removeLeftovers(const fs::path& temporary) {
        constexpr int maxEntries = 100000;  // a temporary folder can be huge; the rest waits for the next install
        int seen = 0;
        std::error_code error;
        for (fs::directory_iterator it(temporary, error), end; !error && it != end && ++seen <= maxEntries;
             it.increment(error)) {
            const fs::path& path = it->path();
            if (!path.filename().string().starts_with(workPrefix)) continue;
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
            const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) continue;
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                std::error_code ignored;
                fs::remove_all(path, ignored);
            }
            ::close(fd);
        }
    }

private:
    fs::path path_;
    std::string error_;
    int fd_ = -1;
};

struct InstallJob {
    UpdateConfig config;
    UpdateInfo update;
};

// Steps after the download, on the worker thread. None on success.
std::optional<std::string> verifyAndSwap(const InstallJob& job, const fs::path& work,
                                         const std::function<void(const std::string&)>& post) {
    const fs::path zip = work / "update.zip";
    post(verifying);
    if (auto error = unpackZip(zip, work)) return "Update failed: " + *error;
    const fs::path app = work / "TALLOWMARK.app";
    std::error_code error;
    if (!fs::is_directory(app, error)) return "Update package did not contain TALLOWMARK.app";

    const auto signature = verifyBundle(app, *job.config.publicKey);
    if (const auto* reason = std::get_if<std::string>(&signature)) return "Update failed: " + *reason;
    const auto& manifest = std::get<SignedManifest>(signature);
    const std::string identifier = expectedIdentifier(job.config.running);
    if (manifest.identifier != identifier) {
        return "Update failed: the package is signed for " + manifest.identifier + ", not " + identifier;
    }
    if (manifest.team != vendorTeam) return "Update rejected: unexpected signer";

    std::string packageStamp;
    if (auto info = readBundleInfo(app)) {
        if (auto it = info->find("CFBundleVersion"); it != info->end() && it->is_string()) {
            packageStamp = it->get<std::string>();
        }
    }
    if (auto refusal = assessBundleProgram(bundleExecutable(app), packageStamp, job.config.assessmentSeconds)) {
        return "Update rejected: Gatekeeper did not accept the package (" + *refusal + ")";
    }
    if (auto refusal = verifyPackageVersion(app, job.update.stamp, job.config.running.stamp,
                                            job.config.running.buildTime, job.config.running.identifier)) {
        return refusal;
    }

    post(installingText);
    return swapBundles(*job.config.runningBundle, app);
}

// Everything an install does on its worker thread; none on success. The work
// folder is gone when this returns.
std::optional<std::string> runInstall(const InstallJob& job, const std::function<void(const std::string&)>& post) {
    const fs::path temporary = temporaryFolder(job.config.tempDir);
    WorkFolder::removeLeftovers(temporary);
    const WorkFolder work(temporary);
    if (work.path().empty()) return "Update failed: " + work.error();
    auto downloaded = fetchToFile(job.update.zipURL, work.path() / "update.zip", fetchConfigOf(job.config),
                                  maxPackageBytes);
    if (const auto* problem = std::get_if<FetchError>(&downloaded)) {
        return "Download failed: " + (problem->description.empty() ? "no data" : problem->description);
    }
    if (std::get<std::uint64_t>(downloaded) == 0) return std::string("Download failed: no data");
    return verifyAndSwap(job, work.path(), post);
}

}  // namespace

std::optional<std::string> assessBundleProgram(const fs::path& executable, const std::string& expectedStamp,
                                               int timeoutSeconds) {
    const std::string name = executable.filename().string();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return name + " could not be started: " + std::strerror(errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so a time-out ends whatever it started too.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const std::string path = executable.string();
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--version"), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return name + " could not be started: " + std::strerror(spawned);
    }

    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    std::string output;
    bool ended = false;   // its output
    bool exited = false;  // the process
    int status = 0;
    bool timedOut = false;
    while (!ended || !exited) {
        pollfd fds[2];
        nfds_t count = 0;
        if (!ended) fds[count++] = pollfd{out[0], POLLIN, 0};
        if (!exited && pidfd >= 0) fds[count++] = pollfd{pidfd, POLLIN, 0};
        if (count == 0) {  // no process handle: its output has ended, so it is ending
            ::waitpid(pid, &status, 0);
            exited = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        const int ready = ::poll(fds, count, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            if (!timedOut) break;
            continue;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == out[0]) {
                char buffer[4096];
                const ssize_t got = ::read(out[0], buffer, sizeof buffer);
                if (got > 0) {
                    if (output.size() < maxVersionOutput) output.append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    ended = true;
                }
            } else if (::waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
            }
        }
    }
    // On a time-out its whole group goes, also what it left behind holding the output open.
    if (timedOut || !exited) ::kill(-pid, SIGKILL);
    if (!exited) ::waitpid(pid, &status, 0);
    if (pidfd >= 0) ::close(pidfd);
    ::close(out[0]);
    if (timedOut || !exited) return name + " did not finish within " + std::to_string(timeoutSeconds) + " seconds";
    if (WIFSIGNALED(status)) return name + " was ended by signal " + std::to_string(WTERMSIG(status));
    if (!WIFEXITED(status)) return name + " did not exit";
    if (WEXITSTATUS(status) != 0) return name + " exited " + std::to_string(WEXITSTATUS(status));
    if (expectedStamp.empty() || output.find(expectedStamp) == std::string::npos) {
        return name + " did not report version " + (expectedStamp.empty() ? std::string("(none)") : expectedStamp);
    }
    return std::nullopt;
}

const std::shared_ptr<UpdateManager>& UpdateManager::shared() {
    static const std::shared_ptr<UpdateManager> manager = create(UpdateConfig{});
    return manager;
}

std::shared_ptr<UpdateManager> UpdateManager::create(UpdateConfig config) {
    return std::shared_ptr<UpdateManager>(new UpdateManager(std::move(config)));
}

UpdateManager::UpdateManager(UpdateConfig config) : config_(std::move(config)) {
    if (!config_.relaunch) config_.relaunch = relaunchDetached;
}

void UpdateManager::check(std::function<void(std::optional<Info>)> completion) {
    lastCheck_ = Clock::now();
    if (!isSetUp()) {
        // Nothing could be installed, so the host is not asked.
        postToMain([completion = std::move(completion)] {
            if (completion) completion(std::nullopt);
        });
        return;
    }
    std::thread([weak = weak_from_this(), fetch = fetchConfigOf(config_), url = feedURLFor(config_.host),
                 running = config_.running, completion = std::move(completion)]() mutable {
        std::optional<Info> result;
        auto body = fetchToMemory(url, fetch, feedTimeoutSeconds, maxFeedBytes);
        if (const auto* bytes = std::get_if<std::string>(&body)) {
            result = parseFeed(*bytes, running.stamp, running.buildTime, {fetch.allowedHost});
        }
        postToMain([weak, result = std::move(result), completion = std::move(completion)] {
            if (auto self = weak.lock(); self && result) {
                self->available_ = result;
                if (self->onAvailable) self->onAvailable(*result);
            }
            if (completion) completion(result);
        });
    }).detach();
}

void UpdateManager::install(std::function<void(std::string)> progress, std::function<void(std::string)> completion) {
    auto fail = [&completion](std::string text) {
        if (completion) completion(std::move(text));
    };
    if (!isSetUp()) return fail(updatesNotSetUp);
    if (!available_) return fail("No update available");
    // One install at a time: a second one would swap the folder under the first.
    if (installing_) return fail("Update failed: an update is already being installed");
    if (!config_.runningBundle) {
        return fail("Update failed: this copy of TALLOWMARK is not an installed TALLOWMARK.app");
    }
    installing_ = true;
    if (progress) progress(downloading);

    InstallJob job{config_, *available_};
    std::thread([weak = weak_from_this(), job = std::move(job), progress = std::move(progress),
                 completion = std::move(completion)]() {
        auto post = [&progress](const std::string& text) {
            postToMain([progress, text] {
                if (progress) progress(text);
            });
        };
        const std::optional<std::string> failed = runInstall(job, post);
        postToMain([weak, failed, progress, completion, job] {
            auto self = weak.lock();
            if (failed) {
                if (self) self->installing_ = false;
                if (completion) completion(*failed);
                return;
            }
            if (progress) progress(restarting);
            job.config.relaunch(*job.config.runningBundle);
            if (self && self->onQuit) self->onQuit();
        });
    }).detach();
}

}  // namespace tallowmark::update
