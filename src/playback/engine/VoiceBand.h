#pragma once

#include <array>
#include <cstddef>

// The voice band (300 to 3400 Hz) of one channel in the time domain: sixth-order Butterworth high- and
// low-pass sections, run on every decoded sample, so that its level over any stretch is a difference of
// two running sums of squares rather than a transform at every look.
class VoiceBandFilter {
public:
    explicit VoiceBandFilter(int sampleRate);
    void reset() { state_ = {}; }
    float process(float x)
    {
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            const Section &s = sections_[i];
            std::array<double, 2> &z = state_[i];
            // Transposed direct form II, in double: the sections' poles near 1 at low cut-offs need it.
            const double y = s.b0 * x + z[0];
            z[0] = s.b1 * x - s.a1 * y + z[1];
            z[1] = s.b2 * x - s.a2 * y;
            x = float(y);
        }
        return x;
    }

private:
    struct Section {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    };
    std::array<Section, 6> sections_{}; // three high-pass, then three low-pass (or pass-through)
    std::array<std::array<double, 2>, 6> state_{};
};

// The window the spectrum's levels are taken over: about 23 ms, 1024 samples at 44.1 kHz, the nearest
// power of two at other rates.
int spectrumWindowFor(int sampleRate);

// Mean square of a stretch to dBFS (a full-scale sine reads 0), with the analyser's floor for silence.
float meanSquareToDb(double meanSquare);
