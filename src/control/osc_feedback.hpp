#pragma once

// The show's state sent back to desks, button panels and tablets over OSC:
// on every change of the run or the marks each destination gets one bundle of
// /tallowmark/standby, /tallowmark/fired, /tallowmark/next and
// /tallowmark/progress, at most ten a second with the newest state winning
// (nothing queues behind a slow network), and /tallowmark/heartbeat every
// second. A peer that asks with /tallowmark/state gets the same bundle back
// at once. Main thread only; the datagrams leave on the OSC client's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/osc_codec.hpp"
#include "cues/cue_engine.hpp"
#include "settings/settings.hpp"

namespace tallowmark {

class OSCFeedback {
public:
    // Sends one datagram; the program's goes through the OSC client.
    using Send = std::function<void(std::vector<std::uint8_t> datagram, const std::string& host, std::uint16_t port)>;

    static constexpr std::int64_t minIntervalMs = 100;  // ten bundles a second per destination
    static constexpr std::int64_t heartbeatMs = 1000;
    // A label, number or type longer than this is cut (at a character): a
    // datagram has room for far less than a label may hold.
    static constexpr std::size_t maxTextBytes = 200;

    // `engine` outlives the feedback.
    explicit OSCFeedback(const CueEngine& engine, Send send = {});
    ~OSCFeedback();
    OSCFeedback(const OSCFeedback&) = delete;
    OSCFeedback& operator=(const OSCFeedback&) = delete;

    // Replaces the destinations; each new one hears the state at once. The
    // heartbeat runs while there is any.
    void setDestinations(const std::vector<FeedbackDestination>& destinations);
    // After a change of the run or of the marks.
    void stateChanged();
    // The answer to /tallowmark/state, to the asker's address and port.
    void answer(const std::string& host, std::uint16_t port);

    // The four messages of the state as it now stands.
    std::vector<OSCMessage> stateMessages() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace tallowmark
