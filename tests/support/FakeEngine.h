#pragma once

#include "playback/engine/AudioEngine.h"

#include <array>
#include <deque>
#include <string>
#include <vector>

// A scripted engine: records every call and plays back the states, times, spectra and open results
// that a test sets.
class FakeEngine : public AudioEngine {
public:
    // Calls in order, e.g. "open:/music/a.mp3", "play", "stop", "getState".
    std::vector<std::string> calls;

    int32_t state = PlayStateStopped;
    int32_t elapsed = 0;
    std::array<int32_t, kSpectrumSize> first{}, second{};
    bool openResult = true;     // used when openResults is empty
    std::deque<bool> openResults; // consumed one per open
    TrackInfo openInfo{};       // copied into the caller's record on success
    int32_t lastError = 0;
    int32_t errorOnFailure = ErrNotAudio;
    bool trackState = true;     // play/stop/pause/restart move `state` as the real engine does

    // The followed source, kept out of `calls`; its status and spectrum as the test sets them.
    FollowSource followSource = FollowSource::Off;
    FollowStatus followAvailability{true, {}};
    std::array<int32_t, kSpectrumSize> followFirst{}, followSecond{};
    int followSpectrumCalls = 0;

    // Only the calls that change playback or open files (state and spectrum queries left out).
    std::vector<std::string> commands() const;
    void clearCalls() { calls.clear(); }
    void setTrack(const char *d1, const char *d2, int channels, int bitValue, int rate, int seconds);

    void vbmp3_init() override { calls.push_back("init"); }
    void vbmp3_free() override { calls.push_back("free"); }
    bool vbmp3_open(const std::string &path, TrackInfo &info) override;
    void vbmp3_play() override;
    void vbmp3_stop() override;
    void vbmp3_pause() override;
    void vbmp3_restart() override;
    int32_t vbmp3_getState(int32_t &elapsedOut) override;
    void vbmp3_getSpectrum(int32_t *f, int32_t *s) override;
    int32_t vbmp3_getLastErrorNo() override
    {
        calls.push_back("getLastErrorNo");
        return lastError;
    }
    void setFollowSource(FollowSource source) override { followSource = source; }
    FollowStatus followStatus(FollowSource source) override
    {
        return source == FollowSource::Off ? FollowStatus{true, {}} : followAvailability;
    }
    void getFollowSpectrum(int32_t *f, int32_t *s) override;
    void setFollowListener(std::function<void()> listener) override { followListener = std::move(listener); }
    std::function<void()> followListener;
};
