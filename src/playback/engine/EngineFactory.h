#pragma once

#include "AudioEngine.h"
#include "Output.h"

#include <memory>

// The real engine: decoding with libmpg123 and libsndfile, output through PulseAudio or SDL2.
// Plays through the silent output when VB_AUDIO_OUTPUT=silent is set or no sound device opens.
std::unique_ptr<AudioEngine> createAudioEngine();
std::unique_ptr<AudioEngine> createAudioEngine(OutputKind output);
