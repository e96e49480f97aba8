#pragma once

#include "AudioEngine.h"
#include "Capture.h"
#include "Decoder.h"
#include "Output.h"
#include "PiMutex.h"
#include "SpectrumAnalyzer.h"
#include "VoiceBand.h"

#include <array>
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
// The worker also analyses what it decodes: the voice band's running sums of squares for every frame,
// and the band levels of windows half a window apart, so a spectrum query copies what is there.
// While nothing plays, the output is told it may let its device go.
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
    void setFollowListener(std::function<void()> listener) override;

    // The heard position in seconds, finer than vbmp3_getState's whole seconds.
    double heardSeconds();
    // Frames the output was given silence for while the track had more to decode: gaps of the engine's own.
    int64_t starvedFrames();

private:
    void pull(float *out, int frames) override;
    void latencyMeasured(int frames) override;
    void run();
    void installDecoder(std::unique_ptr<Decoder> decoder, std::unique_lock<PiMutex> &lock);
    int64_t heardFrameLocked(Clock::time_point now) const;
    void finishIfHeardLocked(Clock::time_point now);
    // On the worker. A pause with an output that drops what it holds takes it idle, even if play goes on
    // before the worker comes to it, so that nothing pulled before the pause is heard twice.
    bool outputIdleWantedLocked() const { return state_ != PlayStatePlaying || (dropPending_ && !outputIdle_); }
    void analyseDecoded(std::unique_lock<PiMutex> &lock);
    double voiceEnergyBeforeLocked(int64_t frame, int channel) const;
    void analyseOnCaller(int64_t heard, int rate, std::array<float, kSpectrumSize> &left,
                         std::array<float, kSpectrumSize> &right);
    void rewindLocked();
    bool roomToDecodeLocked() const;
    std::chrono::milliseconds playingLookLocked() const;

    const OutputOpener openOutput_;
    const Now now_;
    bool running_ = false; // touched by the caller's thread only

    PiMutex mutex_;
    std::condition_variable_any wake_;
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
    int64_t starvedFrames_ = 0;
    bool outputDropsQueued_ = false; // see Output::dropsQueuedWhenIdle
    bool dropPending_ = false;       // paused, and the output has not yet let go of what it held

    // The worker's analysis, read by the caller under the lock. voiceEnergy_ holds, for each frame in the
    // ring and each side, the sum of squares of the voice band over every frame before it.
    std::vector<double> voiceEnergy_;
    std::array<double, 2> voiceTotal_{}; // the same before written_
    struct Snapshot {
        int64_t index = -1; // the window from index * hop
        uint64_t generation = 0;
        std::array<float, kSpectrumSize> left{}, right{};
    };
    std::vector<Snapshot> snapshots_;
    int window_ = 0, hop_ = 0;

    // Worker-only.
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<Output> output_;
    int outputRate_ = 0;
    bool outputIdle_ = false;
    std::array<std::unique_ptr<VoiceBandFilter>, 2> voiceFilters_;
    std::unique_ptr<SpectrumAnalyzer> workerAnalyzer_;
    int64_t nextSnapshot_ = 0;
    std::vector<float> analysisLeft_, analysisRight_;

    // Caller-only: the spectrum's analysis and release state.
    std::unique_ptr<SpectrumAnalyzer> analyzer_; // only where the worker has no snapshot yet
    std::vector<float> windowLeft_, windowRight_;
    LevelRelease releaseLeft_, releaseRight_;
    int64_t lastSpectrumFrame_ = -1;
    uint64_t lastSpectrumGeneration_ = 0;

    // The sound the lamps follow when no track plays; made on first use.
    std::unique_ptr<Capture> capture_;
    Capture &capture();
};
