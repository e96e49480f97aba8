#include "SpectrumAnalyzer.h"

#include "VoiceBand.h"

#include <algorithm>
#include <cmath>
#include <kiss_fftr.h>

SpectrumAnalyzer::SpectrumAnalyzer(int sampleRate)
    : rate_(sampleRate), size_(spectrumWindowFor(sampleRate)), fft_(kiss_fftr_alloc(size_, 0, nullptr, nullptr)),
      window_(size_t(size_)), input_(size_t(size_)), bins_(size_t(size_ + 2)), power_(size_t(size_ / 2 + 1)),
      bandBins_(kSpectrumSize)
{
    const double pi = std::acos(-1.0);
    double sumSquares = 0;
    for (int i = 0; i < size_; ++i) {
        window_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * pi * i / size_));
        sumSquares += double(window_[size_t(i)]) * window_[size_t(i)];
    }
    // Band power over this is the band's mean square (one-sided spectrum, Hann window's energy undone);
    // the extra factor 2 puts the result relative to a full-scale sine, whose mean square is 1/2.
    scale_ = float(2.0 / (double(size_) * sumSquares) * 2.0);

    const double binHz = double(rate_) / size_;
    const int lastBin = size_ / 2;
    auto binOf = [&](double hz) { return std::clamp(int(std::lround(hz / binHz)), 1, lastBin); };
    const double low = 20.0, high = std::max(rate_ / 2.0, 40.0);
    for (int i = 0; i < kSpectrumSize; ++i) {
        double from = low * std::pow(high / low, double(i) / kSpectrumSize);
        double to = low * std::pow(high / low, double(i + 1) / kSpectrumSize);
        if (i == kVoiceBand) {
            from = 300.0;
            to = 3400.0;
        }
        int first = int(std::ceil(from / binHz));
        int last = int(std::floor(to / binHz));
        if (last < first) // narrower than a bin: the bin nearest its centre
            first = last = binOf(std::sqrt(from * to));
        bandBins_[size_t(i)] = {std::clamp(first, 1, lastBin), std::clamp(last, 1, lastBin)};
    }
}

SpectrumAnalyzer::~SpectrumAnalyzer()
{
    kiss_fftr_free(fft_);
}

void SpectrumAnalyzer::analyse(const float *samples, std::array<float, kSpectrumSize> &levelsDb)
{
    for (int i = 0; i < size_; ++i)
        input_[size_t(i)] = samples[i] * window_[size_t(i)];
    static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float));
    kiss_fftr(fft_, input_.data(), reinterpret_cast<kiss_fft_cpx *>(bins_.data()));
    for (size_t k = 0; k < power_.size(); ++k)
        power_[k] = bins_[2 * k] * bins_[2 * k] + bins_[2 * k + 1] * bins_[2 * k + 1];
    for (int b = 0; b < kSpectrumSize; ++b) {
        const auto [first, last] = bandBins_[size_t(b)];
        double sum = 0;
        for (int k = first; k <= last; ++k)
            sum += power_[size_t(k)];
        const double meanSquare = sum * scale_;
        // Single precision is far finer than the display's steps of half a decibel, and twice as quick.
        levelsDb[size_t(b)] = meanSquare > 1e-12 ? 10.0f * std::log10(float(meanSquare)) : kFloorDb;
    }
}

int32_t levelToValue(float dbfs)
{
    // Called 512 times a tick: a half added and truncated rounds a positive value as lround does, without
    // the library call.
    const float value = (dbfs + 50.0f) * (84.0f / 40.0f);
    if (!(value > 0.0f)) // at or below the floor, or not a number
        return 0;
    if (value >= 84.0f)
        return 84;
    return int32_t(value + 0.5f);
}

void LevelRelease::apply(std::array<float, kSpectrumSize> &levelsDb, double seconds)
{
    if (!primed_) {
        held_ = levelsDb;
        primed_ = true;
        return;
    }
    const float fall = float(std::max(seconds, 0.0) * kReleaseDbPerSecond);
    for (size_t i = 0; i < held_.size(); ++i) {
        held_[i] = std::max(levelsDb[i], held_[i] - fall);
        levelsDb[i] = held_[i];
    }
}

void spectrumValues(SpectrumAnalyzer &analyzer, const float *left, const float *right, double seconds,
                    LevelRelease &releaseLeft, LevelRelease &releaseRight, int32_t *first, int32_t *second)
{
    std::array<float, kSpectrumSize> leftDb, rightDb;
    analyzer.analyse(left, leftDb);
    if (std::equal(left, left + analyzer.windowSize(), right))
        rightDb = leftDb; // mono, or a stereo window with equal sides
    else
        analyzer.analyse(right, rightDb);
    releaseLeft.apply(leftDb, seconds);
    releaseRight.apply(rightDb, seconds);
    for (int i = 0; i < kSpectrumSize; ++i) {
        first[i] = levelToValue(leftDb[size_t(i)]);
        second[i] = levelToValue(rightDb[size_t(i)]);
    }
}
