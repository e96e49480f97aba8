#pragma once

#include <chrono>
#include <optional>

struct pa_mainloop;
struct pa_context;

// Asks a PulseAudio server, over a connection of its own, how long the sound of this process's newest
// playback stream waits there before it is heard: what the stream has queued on the server plus its
// sink's latency. Used on one thread.
class PulseLatency {
public:
    using Clock = std::chrono::steady_clock;
    struct Answer {
        std::chrono::microseconds queued;
        Clock::time_point at; // the middle of the request's round trip
        std::chrono::microseconds roundTrip;
    };

    // Connects to the default server, giving up after timeout.
    explicit PulseLatency(std::chrono::milliseconds timeout);
    ~PulseLatency();
    PulseLatency(const PulseLatency &) = delete;
    PulseLatency &operator=(const PulseLatency &) = delete;

    bool connected() const;
    // Nothing if the server does not answer in time or lists no playback stream of this process.
    std::optional<Answer> ask(std::chrono::milliseconds timeout);

private:
    template <typename Done> bool iterateUntil(Done done, Clock::time_point deadline);

    pa_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
};
