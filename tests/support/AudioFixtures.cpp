#include "AudioFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace fixtures {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vbfix.XXXXXX").string();
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
}

TempFolder::~TempFolder()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::vector<float> samplesOf(const Wave &wave)
{
    const size_t frames = size_t(std::llround(wave.seconds * wave.rate));
    std::vector<float> out(frames * size_t(wave.channels));
    const double amplitude = std::pow(10.0, wave.dbfs / 20.0); // 0 dBFS is a full-scale sine
    const double rms = amplitude / std::sqrt(2.0);
    const double pi = std::acos(-1.0);
    std::mt19937 random(12345);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const size_t piece = size_t(wave.rate / 10);
    for (size_t i = 0; i < frames; ++i) {
        double v = 0.0;
        const bool noise = wave.signal == Signal::Noise || (wave.signal == Signal::Varied && (i / piece) % 2 == 1);
        if (wave.signal == Signal::Silence)
            v = 0.0;
        else if (noise)
            v = std::clamp(gauss(random) * rms, -1.0, 1.0);
        else
            v = amplitude * std::sin(2 * pi * wave.frequency * double(i) / wave.rate);
        for (int c = 0; c < wave.channels; ++c)
            out[i * size_t(wave.channels) + size_t(c)] = float(v);
    }
    return out;
}

namespace {
void put16(std::ofstream &f, uint32_t v)
{
    const char b[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
    f.write(b, 2);
}
void put32(std::ofstream &f, uint32_t v)
{
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

void writeHeader(std::ofstream &f, int tag, bool extensible, int channels, int rate, int bits, uint32_t dataBytes)
{
    const uint32_t fmtSize = extensible ? 40 : 16;
    f.write("RIFF", 4);
    put32(f, 4 + 8 + fmtSize + 8 + dataBytes);
    f.write("WAVEfmt ", 8);
    put32(f, fmtSize);
    put16(f, extensible ? 0xFFFE : uint32_t(tag));
    put16(f, uint32_t(channels));
    put32(f, uint32_t(rate));
    put32(f, uint32_t(rate * channels * bits / 8));
    put16(f, uint32_t(channels * bits / 8));
    put16(f, uint32_t(bits));
    if (extensible) {
        put16(f, 22);
        put16(f, uint32_t(bits));
        put32(f, channels == 1 ? 0x4 : 0x3); // front centre, or front left and right
        put16(f, uint32_t(tag));
        const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        f.write(reinterpret_cast<const char *>(tail), sizeof tail);
    }
    f.write("data", 4);
    put32(f, dataBytes);
}
} // namespace

bool writeWav(const std::string &path, const Wave &wave)
{
    const std::vector<float> samples = samplesOf(wave);
    const int bytes = wave.bits / 8;
    std::ofstream f(path, std::ios::binary);
    writeHeader(f, wave.floating ? 3 : 1, wave.extensible, wave.channels, wave.rate, wave.bits,
                uint32_t(samples.size() * size_t(bytes)));
    for (float s : samples) {
        if (wave.floating) {
            f.write(reinterpret_cast<const char *>(&s), 4);
            continue;
        }
        const double full = std::ldexp(1.0, wave.bits - 1);
        const int64_t q = std::clamp<int64_t>(std::llround(s * full), int64_t(-full), int64_t(full) - 1);
        if (wave.bits == 8) {
            f.put(char(uint8_t(q + 128)));
        } else {
            for (int b = 0; b < bytes; ++b)
                f.put(char((uint64_t(q) >> (8 * b)) & 0xFF));
        }
    }
    return bool(f);
}

bool writeWavHeaderOnly(const std::string &path, int formatTag, int channels, int rate, int bits)
{
    std::ofstream f(path, std::ios::binary);
    const uint32_t dataBytes = uint32_t(channels * bits / 8 * 1000);
    writeHeader(f, formatTag, false, channels, rate, bits, dataBytes);
    f << std::string(dataBytes, '\0');
    return bool(f);
}

std::string shellQuote(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool runQuietly(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool makeMp3(const std::string &wavPath, const std::string &mp3Path, Mp3Kind kind)
{
    const char *options = kind == Mp3Kind::Cbr128 ? "-b 128"
                          : kind == Mp3Kind::Vbr  ? "--vbr-new -V 4"
                                                  : "--vbr-new -V 4 -t";
    return lameEncode(wavPath, mp3Path, options);
}

bool lameEncode(const std::string &wavPath, const std::string &mp3Path, const std::string &options)
{
    return runQuietly("lame --quiet " + options + " " + shellQuote(wavPath) + " " + shellQuote(mp3Path));
}

bool makeSpeech(const std::string &path, const std::string &text)
{
    return runQuietly("espeak-ng -w " + shellQuote(path) + " " + shellQuote(text));
}

bool soxConvert(const std::string &inPath, const std::string &outPath, const std::string &encoding)
{
    return runQuietly("sox " + shellQuote(inPath) + " -e " + encoding + " " + shellQuote(outPath));
}

bool writeText(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
    return bool(f);
}

} // namespace fixtures
