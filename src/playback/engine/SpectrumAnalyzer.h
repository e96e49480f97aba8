#pragma once

#include "AudioEngine.h"

#include <array>
#include <cstdint>
#include <vector>

struct kiss_fftr_state;

// The pure analysis core: a window of samples in, 256 band levels out. Element kVoiceBand is the
// RMS level of 300..3400 Hz; the others are log-spaced bands from 20 Hz to half the rate.
// Levels are dBFS, RMS relative to a full-scale sine (so that sine reads 0 dBFS).
class SpectrumAnalyzer {
public:
    static constexpr int kVoiceBand = ::kVoiceBand;
    static constexpr float kFloorDb = -120.0f;

    explicit SpectrumAnalyzer(int sampleRate);
    ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer &) = delete;
    SpectrumAnalyzer &operator=(const SpectrumAnalyzer &) = delete;

    int sampleRate() const { return rate_; }
    // About 23 ms: 1024 samples at 44.1 kHz, the nearest power of two at other rates.
    int windowSize() const { return size_; }
    // samples holds windowSize() values of one channel.
    void analyse(const float *samples, std::array<float, kSpectrumSize> &levelsDb);

private:
    int rate_;
    int size_;
    kiss_fftr_state *fft_;
    std::vector<float> window_, input_;
    std::vector<float> bins_; // the transform's complex output, re and im interleaved
    std::vector<float> power_;
    std::vector<std::array<int, 2>> bandBins_; // first and last bin of each element
    float scale_;
};

// dBFS to the display scale: -50 dBFS is 0, -10 dBFS is 84, clamped to 0..84.
int32_t levelToValue(float dbfs);

// Instant attack, release of 60 dB per second of heard sound.
class LevelRelease {
public:
    static constexpr float kReleaseDbPerSecond = 60.0f;
    void reset() { primed_ = false; }
    // seconds: heard time since the previous call.
    void apply(std::array<float, kSpectrumSize> &levelsDb, double seconds);

private:
    std::array<float, kSpectrumSize> held_{};
    bool primed_ = false;
};

// One window of each channel to the values of both spectrum arrays: analysed, held by the releases over
// the seconds of sound since the previous window, and mapped to the display scale.
void spectrumValues(SpectrumAnalyzer &analyzer, const float *left, const float *right, double seconds,
                    LevelRelease &releaseLeft, LevelRelease &releaseRight, int32_t *first, int32_t *second);
