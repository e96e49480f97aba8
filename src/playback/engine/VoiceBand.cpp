#include "VoiceBand.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kLowHz = 300.0, kHighHz = 3400.0;

// The three Q values of a sixth-order Butterworth filter split into second-order sections.
constexpr std::array<double, 3> kButterworthQ = {0.51763809, 0.70710678, 1.93185165};
} // namespace

VoiceBandFilter::VoiceBandFilter(int sampleRate)
{
    const double pi = std::acos(-1.0);
    auto section = [&](double hz, double q, bool highPass) {
        // The bilinear transform's biquads (Robert Bristow-Johnson's audio EQ cookbook).
        const double w = 2 * pi * hz / sampleRate, cosw = std::cos(w), alpha = std::sin(w) / (2 * q);
        const double a0 = 1 + alpha;
        Section s;
        s.b1 = (highPass ? -(1 + cosw) : 1 - cosw) / a0;
        s.b0 = s.b2 = (highPass ? (1 + cosw) / 2 : (1 - cosw) / 2) / a0;
        s.a1 = -2 * cosw / a0;
        s.a2 = (1 - alpha) / a0;
        return s;
    };
    for (size_t i = 0; i < 3; ++i) {
        sections_[i] = section(kLowHz, kButterworthQ[i], true);
        // At rates whose half lies below the upper edge, the stream holds nothing above it to remove.
        if (kHighHz < 0.45 * sampleRate)
            sections_[3 + i] = section(kHighHz, kButterworthQ[i], false);
    }
}

int spectrumWindowFor(int sampleRate)
{
    const double ideal = 1024.0 * sampleRate / 44100.0;
    const int exponent = std::clamp(int(std::lround(std::log2(std::max(ideal, 1.0)))), 6, 14);
    return 1 << exponent;
}

float meanSquareToDb(double meanSquare)
{
    // Relative to a full-scale sine, whose mean square is 1/2.
    const double relative = 2.0 * meanSquare;
    // Single precision is far finer than the display's steps of half a decibel, and twice as quick.
    return relative > 1e-12 ? 10.0f * std::log10(float(relative)) : -120.0f;
}
