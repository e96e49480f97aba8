#pragma once

#include "playback/engine/Output.h"
#include "playback/engine/Vbmp3Engine.h"

#include <chrono>
#include <memory>
#include <vector>

// An output that pulls only when the test says so, on the test's thread, and a clock that moves only
// when the test moves it: an engine on both follows the test's script frame by frame.
class ManualSound {
public:
    using Clock = Vbmp3Engine::Clock;

    // dropsQueued: the output drops what it holds when it goes idle, as a sound server's stream does.
    explicit ManualSound(int latencyFrames, bool dropsQueued = false);
    OutputOpener opener() const;
    Vbmp3Engine::Now clock() const;

    // Pulls frames from the open output, into `into` if given; false while the engine has none open.
    bool pull(int frames, std::vector<float> *into = nullptr);
    // The open output learns that it pulls this many frames ahead of the speaker, and tells the engine.
    void measureLatency(int frames);
    // Whether the engine last told the open output it may go idle.
    bool idle() const;
    // How often the engine has told its outputs to go idle.
    int timesIdled() const;
    Clock::time_point now() const;
    Clock::time_point lastPull() const;
    void moveTo(Clock::time_point when);

    struct Shared; // with the outputs it opened

private:
    std::shared_ptr<Shared> shared_;
};
