#pragma once

#include "AudioEngine.h"
#include "SpectrumAnalyzer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_server_info;

// Records the followed source from the sound server the output plays through (PulseAudio, or the
// PulseAudio layer of PipeWire) on the server library's own thread, and analyses its latest window on
// request. It records the default output's monitor or the default input as they are now: a change of
// default, a device that goes and comes back, or a server that restarts is followed without a restart.
// Nothing runs and nothing connects until a source is chosen or a status is asked for.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    void setSource(FollowSource source);
    FollowStatus status(FollowSource source);
    // Both spectrum arrays from the latest window recorded; zeros when nothing is being recorded.
    void spectrum(int32_t *first, int32_t *second);
    // Called on the library's thread after each recorded fragment while the sound is, or was within the
    // last second, loud enough to light anything; not after this returns with another one.
    void setListener(std::function<void()> listener);

private:
    using Clock = std::chrono::steady_clock;
    enum class Server { None, Connecting, Ready, Failed };

    void ensureLoop();
    // The rest run with the server library's lock held: from its callbacks, or under lock() from the caller.
    void connectLocked();
    void dropContextLocked();
    void refreshLocked();
    void retargetLocked();
    void openStreamLocked(const std::string &device);
    void closeStreamLocked();
    void scheduleRetryLocked();
    std::string targetLocked(FollowSource source) const;
    void settle();

    void onContextStateLocked();
    void onServerInfoLocked(const pa_server_info *info);
    void onStreamStateLocked();
    void onReadLocked();

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    pa_time_event *retry_ = nullptr;
    Server server_ = Server::None;
    bool haveServerInfo_ = false;
    std::string serverWhy_, streamWhy_;
    std::string defaultSink_, defaultSource_, streamDevice_;
    FollowSource source_ = FollowSource::Off;

    // Lets status() wait a moment for the server's first answer without holding the library's lock.
    std::mutex settleMutex_;
    std::condition_variable settled_;
    std::atomic<bool> settling_{false};

    // What was recorded, stereo frames; written on the library's thread, read by spectrum().
    std::mutex ringMutex_;
    std::vector<float> ring_;
    int64_t written_ = 0;
    int rate_ = 0;
    Clock::time_point lastDataAt_{};

    // Under the library's lock.
    std::function<void()> listener_;
    int64_t quietFrames_ = 0;  // recorded since the last audible sample
    int64_t untoldFrames_ = 0; // recorded since the listener was last called

    // The caller's analysis.
    std::unique_ptr<SpectrumAnalyzer> analyzer_;
    std::vector<float> left_, right_;
    LevelRelease releaseLeft_, releaseRight_;
    int64_t lastWritten_ = -1;
    Clock::time_point lastSpectrumAt_{};
};
