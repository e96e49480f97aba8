#pragma once

#include "AudioEngine.h"

#include <memory>

// The real engine: decoding with libmpg123 and libsndfile, output through SDL2.
std::unique_ptr<AudioEngine> createAudioEngine();
