#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A corpus of crafted and awkward audio files: what a folder can hold that a player must survive.
struct CorpusFile {
    enum class Outcome { Plays, Refused };
    std::string name; // file name inside the corpus folder
    Outcome outcome;
    int32_t error = 0;                  // the engine's error number when refused
    int32_t channels = 0, rate = 0;     // the properties it shows when it plays
    int32_t seconds = 0, bitValue = -1; // bitValue -1: not checked (an encoder's VBR average)
};

// Writes the corpus into folder (which must exist); sox and lame make the audio the crafted files start from.
std::vector<CorpusFile> makeCorpus(const std::string &folder);
