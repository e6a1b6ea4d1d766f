#pragma once

// What the bridge needs from the world around it, as small interfaces: the
// desktop shell provides the real ones, tests provide scripted ones. Nothing here
// knows of a toolkit.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark {

// One web view, as far as events go.
class EventTransport {
public:
    virtual ~EventTransport() = default;
    // Hands the page a batch of events: `batch` is a JSON array of
    // {"name": .., "payload": ..}, given as the argument `batch` to one fixed
    // function (BridgeEvents::hookBody), never as new script source, so the
    // page's memory stays flat however long the show runs. `taken` runs on
    // the main thread once the page has handled the batch, or failed to, or
    // is gone.
    virtual void deliverEvents(const std::string& batch, std::function<void()> taken) = 0;
};

struct FileFilter {
    std::string name;                     // "PDF documents"
    std::vector<std::string> extensions;  // without the dot, compared without regard to case
};

struct OpenPanelRequest {
    std::string message;
    std::vector<FileFilter> filters;
    std::optional<std::string> folder;  // where the panel starts
    // Every panel of the bridge takes one file and no folders; said here so a
    // shell cannot fall back to its toolkit's default.
    bool allowsMultiple = false;
    bool canChooseFolders = false;
    std::string title{};  // empty: the shell's own ("Open")
};

struct SavePanelRequest {
    std::string message;
    std::vector<FileFilter> filters;
    std::string proposedName;
    std::optional<std::string> folder;
};

// The question for a script that is locked with a password.
struct PasswordRequest {
    std::string message;      // names the script
    std::string informative;  // what to do, or that the last password was wrong
};

enum class AlertStyle { informational, warning };

struct AlertRequest {
    AlertStyle style = AlertStyle::informational;
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;  // the first is the default
};

// Asks the operator. Panels and the password question do not block: their
// completion runs later on the main thread with the chosen path or the password
// given, or none when cancelled. The confirmation alert blocks and answers the
// index of the pressed button.
class BridgeDialogs {
public:
    virtual ~BridgeDialogs() = default;
    virtual void openPanel(const OpenPanelRequest& request,
                           std::function<void(std::optional<std::string> path)> done) = 0;
    virtual void savePanel(const SavePanelRequest& request,
                           std::function<void(std::optional<std::string> path)> done) = 0;
    virtual int confirm(const AlertRequest& alert) = 0;
    virtual void askPassword(const PasswordRequest& request,
                             std::function<void(std::optional<std::string> password)> done) = 0;
    // Shows the files selected together in the file viewer; `done` runs once
    // on the main thread with none, or with why the viewer could not show them.
    virtual void reveal(const std::vector<std::string>& paths,
                        std::function<void(std::optional<std::string> failure)> done) = 0;
};

// The window around the main page, as far as the page's calls reach it. The
// desktop shell sizes the window and keeps the hidden title bar.
class BridgeShell {
public:
    virtual ~BridgeShell() = default;
    // Widens the main window to at least `width` points within its screen,
    // never narrowing it; whether it is now that wide.
    virtual bool ensureWindowWidth(std::int64_t width) = 0;
    // Points the page keeps clear at the top for the title bar, as last reported.
    virtual double titleBarReserve() const = 0;
    // The maximised-text setting changed: the window's minimum size and the
    // title bar follow it.
    virtual void maxTextChanged(bool maxText) = 0;
};

class UpdateSource {
public:
    virtual ~UpdateSource() = default;
    virtual std::optional<std::string> availableStamp() const = 0;
    virtual std::string currentStamp() const = 0;
    // Why this build takes no updates at all, for the operator; none when it can.
    virtual std::optional<std::string> unavailable() const { return std::nullopt; }
    // Progress comes back as "updateProgress" events sent by the shell.
    virtual void install() = 0;
};

// The source for builds that cannot update themselves: nothing is ever available.
class NoUpdates final : public UpdateSource {
public:
    explicit NoUpdates(std::string currentStamp) : current_(std::move(currentStamp)) {}
    std::optional<std::string> availableStamp() const override { return std::nullopt; }
    std::string currentStamp() const override { return current_; }
    void install() override {}

private:
    std::string current_;
};

// Answers one call exactly once. Copies share the answer: the first one wins,
// later ones are ignored, and when the last copy goes unanswered the call is
// answered null, so the page's promise always settles. The answer is given
// where answer() is called; the dropped-handle null goes through the main queue
// because the last copy may die on a worker.
class ReplyHandle {
public:
    using Sink = std::function<void(const Json& value, const std::optional<std::string>& error)>;
    // The web view takes a reply as JSON text; a sink of this kind receives it
    // already encoded, so a large state snapshot is encoded once, not per reply.
    using TextSink = std::function<void(const std::string& jsonText, const std::optional<std::string>& error)>;

    explicit ReplyHandle(Sink sink);
    static ReplyHandle encoded(TextSink sink);

    void answer(const Json& value);
    // `jsonText` must be one well-formed JSON value.
    void answerEncoded(const std::string& jsonText);
    // The page's call fails with `error`; `value` goes along for the shells
    // that pass one with a failure.
    void fail(const std::string& error, const Json& value = nullptr);
    bool answered() const;

private:
    struct State;
    explicit ReplyHandle(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace tallowmark
