#include "SampleMix.h"

#include <cmath>

namespace {
float clean(float v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
}
} // namespace

void mixToStereo(const float *in, int channels, size_t frames, float *out)
{
    if (channels == 1) {
        for (size_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = clean(in[i]);
        return;
    }
    if (channels == 2) {
        for (size_t i = 0; i < 2 * frames; ++i)
            out[i] = clean(in[i]);
        return;
    }
    // Centre to both sides at -3 dB, LFE left out, back and side channels to their side at -3 dB;
    // each side normalised by its gains so the mix cannot clip.
    constexpr float kHalf = 0.70710678f;
    float gainLeft[8] = {}, gainRight[8] = {};
    gainLeft[0] = 1.0f;
    gainRight[1] = 1.0f;
    for (int c = 2; c < channels; ++c) {
        if (c == 2) {
            gainLeft[c] = gainRight[c] = kHalf;
        } else if (c != 3) {
            (c % 2 == 0 ? gainLeft : gainRight)[c] = kHalf;
        }
    }
    float sumLeft = 0, sumRight = 0;
    for (int c = 0; c < channels; ++c) {
        sumLeft += gainLeft[c];
        sumRight += gainRight[c];
    }
    for (size_t i = 0; i < frames; ++i) {
        const float *frame = in + i * size_t(channels);
        float left = 0, right = 0;
        for (int c = 0; c < channels; ++c) {
            const float v = clean(frame[c]);
            left += gainLeft[c] * v;
            right += gainRight[c] * v;
        }
        out[2 * i] = left / sumLeft;
        out[2 * i + 1] = right / sumRight;
    }
}
