#pragma once

#include "AudioEngine.h"
#include "Capture.h"
#include "Decoder.h"
#include "Output.h"
#include "SpectrumAnalyzer.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The engine: a worker thread decodes ahead into a ring of stereo frames, the output pulls from it,
// and every query describes the frame now leaving the speaker (the pulled position minus the device's
// buffer). The ring keeps a little of what was heard, so the spectrum can look around that frame.
//
// vbmp3_pause in state 0 leaves the state 0: nothing plays that could halt, and a later START then
// plays from the beginning. A refused open also closes the file that was open before.
class Vbmp3Engine : public AudioEngine, private SoundSource {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    explicit Vbmp3Engine(OutputKind output);
    // On any output and clock, e.g. ones a test drives by hand.
    Vbmp3Engine(OutputOpener openOutput, Now now);
    ~Vbmp3Engine() override;

    void vbmp3_init() override;
    void vbmp3_free() override;
    bool vbmp3_open(const std::string &path, TrackInfo &info) override;
    void vbmp3_play() override;
    void vbmp3_stop() override;
    void vbmp3_pause() override;
    void vbmp3_restart() override;
    int32_t vbmp3_getState(int32_t &elapsed) override;
    void vbmp3_getSpectrum(int32_t *first, int32_t *second) override;
    int32_t vbmp3_getLastErrorNo() override;
    void setFollowSource(FollowSource source) override;
    FollowStatus followStatus(FollowSource source) override;
    void getFollowSpectrum(int32_t *first, int32_t *second) override;

    // The heard position in seconds, finer than vbmp3_getState's whole seconds.
    double heardSeconds();

private:
    void pull(float *out, int frames) override;
    void run();
    void installDecoder(std::unique_ptr<Decoder> decoder, std::unique_lock<std::mutex> &lock);
    int64_t heardFrameLocked(Clock::time_point now) const;
    void finishIfHeardLocked(Clock::time_point now);
    void rewindLocked();
    bool roomToDecodeLocked() const;

    const OutputOpener openOutput_;
    const Now now_;
    bool running_ = false; // touched by the caller's thread only

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    bool quit_ = false;
    EngineError lastError_ = ErrNone;

    // Handed from the caller to the worker.
    std::unique_ptr<Decoder> pending_;
    bool swapPending_ = false;
    bool rewindPending_ = false;
    uint64_t generation_ = 0; // bumps whenever decoded frames in flight become stale

    // The ring, in absolute frame numbers from the start of the track.
    std::vector<float> ring_;
    int64_t capacity_ = 0;
    int64_t written_ = 0;
    int64_t consumed_ = 0;
    bool decodeDone_ = false;
    bool haveTrack_ = false;
    int rate_ = 0;
    int latency_ = 0;
    PlayState state_ = PlayStateStopped;
    bool ended_ = false;
    Clock::time_point pulledAt_{};   // when consumed_ last moved
    mutable int64_t heardSoFar_ = 0; // the furthest frame reported heard since the last rewind

    // Worker-only.
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<Output> output_;
    int outputRate_ = 0;

    // Caller-only: the spectrum's analysis and release state.
    std::unique_ptr<SpectrumAnalyzer> analyzer_;
    std::vector<float> windowLeft_, windowRight_;
    LevelRelease releaseLeft_, releaseRight_;
    int64_t lastSpectrumFrame_ = -1;
    uint64_t lastSpectrumGeneration_ = 0;

    // The sound the lamps follow when no track plays; made on first use.
    std::unique_ptr<Capture> capture_;
    Capture &capture();
};
