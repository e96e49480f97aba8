#pragma once

#include <functional>
#include <memory>

// What an output pulls its sound from, on its own thread, one device period at a time.
class SoundSource {
public:
    virtual ~SoundSource() = default;
    // Fills frames interleaved stereo float frames.
    virtual void pull(float *out, int frames) = 0;
    // The output has learnt anew how many frames it pulls ahead of the speaker (see Output::latencyFrames).
    // Called on a thread of the output's own, while it runs.
    virtual void latencyMeasured(int /*frames*/) {}
};

// A running output: started on creation, stopped (its thread joined) on destruction.
class Output {
public:
    virtual ~Output() = default;
    // Frames pulled but not yet heard, at most: the device's buffer and what its sound server queues. Where
    // the sound server can be asked, this is what it last answered, and the source hears of each change.
    virtual int latencyFrames() const = 0;
    // While idle nothing is pulled and the output may let its device go, so that a program with nothing
    // to play does not wake to pass on silence; false takes it up again. Called on the engine's worker.
    virtual void setIdle(bool) {}
    // Whether going idle drops the frames pulled and not yet heard, rather than playing them out.
    virtual bool dropsQueuedWhenIdle() const { return false; }
};

enum class OutputKind {
    Automatic, // SDL's device; the silent output when there is none
    Silent,    // consumes samples in real time and plays nothing
};

// The output chosen by VB_AUDIO_OUTPUT=silent, otherwise Automatic.
OutputKind outputKindFromEnvironment();

// Device period in frames: 2048 up to 48 kHz (46 ms at 44.1 kHz), 4096 above. Through SDL a server keeps
// about as much again, and a loaded machine that holds the server up for longer than that is heard as a
// gap: at 1024 frames there were three times as many under stress-ng as at 2048.
int periodFramesFor(int rate);

// Called on an output's own thread. SDL gives its audio thread the highest ordinary priority; where the
// system allows it (root, or a raised RLIMIT_RTPRIO) the thread runs round-robin real-time instead, below the
// sound server's own threads, so that on a loaded machine it is not kept waiting behind ordinary threads.
// Together with the engine's lock, which lends its holder the priority of the thread waiting for it, a
// period is never late for long. False where the system does not allow it.
bool raiseToRealTime();

// A PulseAudio server's own stream where there is one (see PulseOutput.h), otherwise SDL's device, otherwise
// the silent output.
std::unique_ptr<Output> openOutput(int rate, SoundSource &source, OutputKind kind);
std::unique_ptr<Output> openSilentOutput(int rate, SoundSource &source);

// Opens the output for a track's rate; the engine calls it on its worker thread.
using OutputOpener = std::function<std::unique_ptr<Output>(int rate, SoundSource &source)>;
