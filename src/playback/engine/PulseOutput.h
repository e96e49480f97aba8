#pragma once

#include "Output.h"

#include <memory>

// The sound server's own playback stream, where the server speaks PulseAudio's protocol (PulseAudio, or
// PipeWire's pulse server): nothing if there is none to connect to. The server holds two fifths of a second
// of sound, so that a busy machine is not heard as a gap when it keeps this program, or the server's own
// thread that asks it for more, off the processor for a while. Going idle drops what it holds, so a stop or
// a pause is heard at once. Its latency is what the server says.
std::unique_ptr<Output> openPulseOutput(int rate, SoundSource &source);

// What the server is asked to hold for the stream, in milliseconds.
constexpr int kPulseBufferMs = 400;
