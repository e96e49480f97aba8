#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A corpus of crafted and awkward audio files: what a folder can hold that a player must survive.
struct CorpusFile {
    enum class Outcome { Plays, Refused, Either };
    std::string name; // file name inside the corpus folder
    Outcome outcome;
    int32_t error = 0;                              // the engine's error number when refused (0: any refusal)
    int32_t channels = -1, rate = -1, seconds = -1; // expected properties when it plays (-1: not checked)
};

// Writes the corpus into folder (which must exist); sox and lame make the audio the crafted files start from.
std::vector<CorpusFile> makeCorpus(const std::string &folder);
