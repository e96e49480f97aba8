#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Makers of audio files for tests and benchmarks: wave files written in code, MP3s through lame,
// speech through espeak-ng, codecs we refuse through sox. Each returns false when its tool failed.
namespace fixtures {

// A fresh folder under the temp folder, removed with its contents on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

enum class Signal {
    Sine,    // frequency at level
    Silence, // digital zero
    Noise,   // white noise at level (RMS), the same every time
    Varied,  // 100 ms pieces alternating sine and noise: makes a VBR encoder vary its rate
};

struct Wave {
    int rate = 44100;
    int channels = 1;
    int bits = 16;           // 8, 16, 24 or 32 integer bits; with floating, 32
    bool floating = false;   // IEEE float samples
    bool extensible = false; // WAVE_FORMAT_EXTENSIBLE header
    double seconds = 0.5;
    Signal signal = Signal::Sine;
    double frequency = 1000.0;
    double dbfs = -10.0; // RMS relative to a full-scale sine
};

// The samples a Wave holds, interleaved, as floats in -1..1 (what writeWav quantises).
std::vector<float> samplesOf(const Wave &wave);
bool writeWav(const std::string &path, const Wave &wave);
// A wave header with any rate and channel count, for formats that must be refused.
bool writeWavHeaderOnly(const std::string &path, int formatTag, int channels, int rate, int bits);

enum class Mp3Kind {
    Cbr128,   // 128 kbit/s with an Info header
    Vbr,      // lame --vbr-new with a Xing header
    VbrNoXing // the same without one (lame -t)
};
bool makeMp3(const std::string &wavPath, const std::string &mp3Path, Mp3Kind kind);
// lame with any options, e.g. "--freeformat -b 256" or "-p -b 128".
bool lameEncode(const std::string &wavPath, const std::string &mp3Path, const std::string &options);

// espeak-ng's voice: 22050 Hz mono 16-bit.
bool makeSpeech(const std::string &path, const std::string &text);

// A wave file in a codec we refuse ("ima-adpcm", "gsm-full-rate", "a-law", ...), converted by sox.
bool soxConvert(const std::string &inPath, const std::string &outPath, const std::string &encoding);

bool writeText(const std::string &path, const std::string &text);

// Runs a shell command quietly; true when it exits with 0.
bool runQuietly(const std::string &command);
std::string shellQuote(const std::string &text);

} // namespace fixtures
