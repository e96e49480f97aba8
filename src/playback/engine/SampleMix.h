#pragma once

#include <cstddef>

// Interleaved samples of 1 to 8 channels (wave order: FL FR FC LFE BL BR SL SR) to interleaved stereo,
// non-finite samples silenced and everything clamped to full scale.
void mixToStereo(const float *in, int channels, size_t frames, float *out);
