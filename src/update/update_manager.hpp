#pragma once

// Finds a newer published build and replaces the installed TALLOWMARK.app with
// it. The network, the unpacking, the checks and the swap run on a worker
// thread; results, progress and failures arrive on the main loop. Main thread
// only, apart from that worker.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "update/build_info.hpp"
#include "update/bundle_signature.hpp"
#include "update/update_rules.hpp"

namespace tallowmark::update {

// What the operator reads when the build was configured without a release key.
inline constexpr const char* updatesNotSetUp = "Updates are not set up for this build";

struct UpdateConfig {
    std::string host = defaultUpdateHost();
    std::string caFile;     // extra trust anchor for the host (tests); empty: the system's
    std::string connectTo;  // "host:443:addr:port" (tests); empty: none
    // The key packages must be signed with. None: updates are not set up, and
    // neither a check nor an install ever reaches the network.
    std::optional<PublicKey> publicKey = buildPublicKey();
    BuildInfo running = runningBuild();
    std::optional<std::filesystem::path> runningBundle = update::runningBundle();
    std::filesystem::path tempDir;  // empty: the system's temporary folder
    // Starts the freshly installed program; by default, detached in its own session.
    std::function<void(const std::filesystem::path& installedBundle)> relaunch;
    // How long the package's program may take to print its version.
    int assessmentSeconds = 10;
};

class UpdateManager : public std::enable_shared_from_this<UpdateManager> {
public:
    using Info = UpdateInfo;
    using Clock = std::chrono::system_clock;

    // The process-wide manager, over the compiled-in host, key and build.
    static const std::shared_ptr<UpdateManager>& shared();
    static std::shared_ptr<UpdateManager> create(UpdateConfig config);

    const std::optional<Info>& available() const { return available_; }
    bool isInstalling() const { return installing_; }
    Clock::time_point lastCheck() const { return lastCheck_; }
    const std::string& currentStamp() const { return config_.running.stamp; }
    // Only a copy running from an installed TALLOWMARK.app can replace itself.
    bool canInstall() const { return config_.runningBundle.has_value(); }
    // False in a build configured without a release key.
    bool isSetUp() const { return config_.publicKey.has_value(); }

    // Called on the main thread when a check finds an update.
    std::function<void(const Info&)> onAvailable;
    // Ends the application after a successful install (its quit handshake).
    std::function<void()> onQuit;

    // Fetches the feed; the completion (optional) gets the update or none, on
    // the main loop. Without a key nothing is fetched and the answer is none.
    void check(std::function<void(std::optional<Info>)> completion = {});

    // Downloads, verifies and installs `available`, then relaunches and quits.
    // `completion` runs only on failure, with the operator's text. The work
    // folder in the temporary folder is gone before the outcome arrives, and
    // an install whose manager is destroyed stops at its next step.
    void install(std::function<void(std::string)> progress, std::function<void(std::string)> completion);

private:
    explicit UpdateManager(UpdateConfig config);

    UpdateConfig config_;
    std::optional<Info> available_;
    bool installing_ = false;
    Clock::time_point lastCheck_ = Clock::time_point::min();
};

// A package's program run with "--version": what a refusal names, or none
// when it exited 0 and printed `expectedStamp`.
std::optional<std::string> assessBundleProgram(const std::filesystem::path& executable,
                                               const std::string& expectedStamp, int timeoutSeconds);

}  // namespace tallowmark::update
