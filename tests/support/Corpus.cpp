#include "Corpus.h"

#include "playback/engine/AudioEngine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

using Bytes = std::vector<uint8_t>;
using Outcome = CorpusFile::Outcome;

void put16(Bytes &b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes &b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
void putTag(Bytes &b, const char *tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(tag[i]));
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &path, const Bytes &b)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

void run(const std::string &command)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// A canonical wave header with every field open to lies.
struct Wav {
    uint16_t format = 1;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint16_t bits = 16;
    int64_t blockAlign = -1; // -1: derived
    uint32_t fmtSize = 16;
    bool hasFmt = true;
    int64_t riffSize = -1; // -1: derived
    int64_t dataSize = -1; // -1: the bytes that follow
    Bytes extraFmt;        // bytes after the 16 standard ones
    Bytes beforeData;      // whole chunks placed before "data"
    size_t dataBytes = 16000;
};

Bytes build(const Wav &w)
{
    Bytes body;
    putTag(body, "WAVE");
    if (w.hasFmt) {
        putTag(body, "fmt ");
        put32(body, w.fmtSize);
        const uint16_t align = w.blockAlign >= 0 ? uint16_t(w.blockAlign) : uint16_t(w.channels * ((w.bits + 7) / 8));
        put16(body, w.format);
        put16(body, w.channels);
        put32(body, w.rate);
        put32(body, uint32_t(uint64_t(w.rate) * align));
        put16(body, align);
        put16(body, w.bits);
        body.insert(body.end(), w.extraFmt.begin(), w.extraFmt.end());
    }
    body.insert(body.end(), w.beforeData.begin(), w.beforeData.end());
    putTag(body, "data");
    put32(body, w.dataSize >= 0 ? uint32_t(w.dataSize) : uint32_t(w.dataBytes));
    // A quiet ramp, so that a file that plays is not mistaken for silence.
    for (size_t i = 0; i < w.dataBytes; ++i)
        body.push_back(uint8_t((i * 7) & 0x3f));
    Bytes out;
    putTag(out, "RIFF");
    put32(out, w.riffSize >= 0 ? uint32_t(w.riffSize) : uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes extensible(const uint8_t guidFirst2[2], uint16_t validBits)
{
    Bytes ext;
    put16(ext, 22);        // cbSize
    put16(ext, validBits); // valid bits per sample
    put32(ext, 0x4);       // channel mask: front centre
    ext.push_back(guidFirst2[0]);
    ext.push_back(guidFirst2[1]);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    ext.insert(ext.end(), tail, tail + 14);
    return ext;
}

// Offsets of the MPEG audio frames in a CBR layer III file (after any ID3v2 tag).
std::vector<size_t> frameOffsets(const Bytes &mp3)
{
    static const int kBitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kRates[4] = {44100, 48000, 32000, 0};
    std::vector<size_t> offsets;
    size_t pos = 0;
    if (mp3.size() > 10 && std::memcmp(mp3.data(), "ID3", 3) == 0)
        pos = 10 + ((size_t(mp3[6]) << 21) | (size_t(mp3[7]) << 14) | (size_t(mp3[8]) << 7) | size_t(mp3[9]));
    while (pos + 4 <= mp3.size()) {
        if (mp3[pos] != 0xFF || (mp3[pos + 1] & 0xFE) != 0xFA)
            break; // MPEG-1 layer III only
        const int bitrate = kBitrates[mp3[pos + 2] >> 4];
        const int rate = kRates[(mp3[pos + 2] >> 2) & 3];
        if (bitrate == 0 || rate == 0)
            break;
        offsets.push_back(pos);
        pos += size_t(144 * bitrate * 1000 / rate + ((mp3[pos + 2] >> 1) & 1));
    }
    return offsets;
}

Bytes pseudoRandom(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (auto &x : b) {
        seed = seed * 1664525u + 1013904223u;
        x = uint8_t(seed >> 24);
    }
    return b;
}

} // namespace

std::vector<CorpusFile> makeCorpus(const std::string &folder)
{
    const std::string d = folder + "/";
    std::vector<CorpusFile> files;
    auto add = [&](const std::string &name, const Bytes &bytes, CorpusFile entry) {
        writeFile(d + name, bytes);
        entry.name = name;
        files.push_back(entry);
    };
    auto plays = [](int channels, int rate, int seconds, int bitValue = -1) {
        return CorpusFile{{}, Outcome::Plays, 0, channels, rate, seconds, bitValue};
    };
    auto refused = [](int32_t error) { return CorpusFile{{}, Outcome::Refused, error}; };

    // Sources made by sox and lame.
    const std::string src = d + ".src-";
    run("sox -n -r 44100 -c 2 -b 16 '" + src + "tone.wav' synth 2 sine 440 gain -6");
    run("lame --quiet -b 128 '" + src + "tone.wav' '" + src + "cbr.mp3'");
    run("lame --quiet -V 4 '" + src + "tone.wav' '" + src + "vbr.mp3'");
    run("lame --quiet -t -V 4 '" + src + "tone.wav' '" + src + "vbr-noxing.mp3'");
    run("lame --quiet --freeformat -b 400 '" + src + "tone.wav' '" + src + "free.mp3'");
    run("sox -n -r 8000 -c 1 -b 16 '" + src + "tone8k.wav' synth 2 sine 440 gain -6");
    run("lame --quiet -b 16 '" + src + "tone8k.wav' '" + src + "mpeg25.mp3'");
    run("sox -n -r 44100 -c 1 -b 16 '" + src + "one.wav' synth 1s sine 440 trim 0 1s");
    run("lame --quiet -b 128 '" + src + "one.wav' '" + src + "one.mp3'");
    for (const char *enc : {"ima-adpcm", "ms-adpcm", "gsm-full-rate", "a-law", "u-law"})
        run("sox '" + src + "tone8k.wav' -e " + std::string(enc) + " '" + src + enc + ".wav'");
    run("sox '" + src + "tone.wav' -e floating-point -b 32 '" + src + "f32.wav'");
    run("sox '" + src + "tone.wav' -e floating-point -b 64 '" + src + "f64.wav'");
    run("sox '" + src + "tone.wav' -b 24 '" + src + "s24.wav'");
    run("sox -n -r 48000 -c 6 -b 16 '" + src + "six.wav' synth 1 sine 440 gain -6");

    add("empty.mp3", {}, refused(ErrEmpty));
    add("empty.wav", {}, refused(ErrEmpty));
    {
        const char *text = "This is a text file that only pretends to be an MP3.\nLine two.\n";
        add("text.mp3", Bytes(text, text + std::strlen(text)), refused(ErrNotAudio));
    }
    add("random.mp3", pseudoRandom(64 * 1024, 12345), refused(ErrNotAudio));
    add("random.wav", pseudoRandom(64 * 1024, 54321), refused(ErrNotAudio));

    const Bytes cbr = readFile(src + "cbr.mp3");
    add("cbr.mp3", cbr, plays(2, 44100, 2, 128));
    add("vbr.mp3", readFile(src + "vbr.mp3"), plays(2, 44100, 2));
    add("vbr-noxing.mp3", readFile(src + "vbr-noxing.mp3"), plays(2, 44100, 2));
    add("free-format.mp3", readFile(src + "free.mp3"), plays(2, 44100, 2));
    add("mpeg25-8k.mp3", readFile(src + "mpeg25.mp3"), plays(1, 8000, 2));
    add("one-sample.mp3", readFile(src + "one.mp3"), plays(1, 44100, 0));
    {
        Bytes tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 0};
        tag.resize(10 + 256, 0);
        add("id3-only.mp3", tag, refused(ErrNotAudio));
        // A tag that claims 256 MB, in front of 4 KB of real audio.
        Bytes huge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
        const auto frames = frameOffsets(cbr);
        const size_t start = frames.size() > 2 ? frames[1] : 0;
        huge.insert(huge.end(), cbr.begin() + long(start), cbr.begin() + long(std::min(cbr.size(), start + 4096)));
        // The tag's claim is not believed (nothing is allocated for it), and what it hides is not searched.
        add("id3-claims-256mb.mp3", huge, refused(ErrNotAudio));
    }
    {
        // Garbage between frames: 200 bytes of noise after every tenth frame.
        const auto offsets = frameOffsets(cbr);
        Bytes out(cbr.begin(), cbr.begin() + long(offsets.empty() ? cbr.size() : offsets[0]));
        for (size_t i = 0; i < offsets.size(); ++i) {
            const size_t end = i + 1 < offsets.size() ? offsets[i + 1] : cbr.size();
            out.insert(out.end(), cbr.begin() + long(offsets[i]), cbr.begin() + long(end));
            if (i % 10 == 9) {
                const Bytes noise = pseudoRandom(200, uint32_t(i));
                out.insert(out.end(), noise.begin(), noise.end());
            }
        }
        add("garbage-between-frames.mp3", out, plays(2, 44100, 2, 128));
    }
    {
        // A Xing header whose frame count claims 1.8 years.
        Bytes vbr = readFile(src + "vbr.mp3");
        for (size_t i = 0; i + 12 < vbr.size() && i < 4096; ++i) {
            if (std::memcmp(&vbr[i], "Xing", 4) == 0 || std::memcmp(&vbr[i], "Info", 4) == 0) {
                if (vbr[i + 7] & 1) {
                    vbr[i + 8] = 0x7F;
                    vbr[i + 9] = vbr[i + 10] = vbr[i + 11] = 0xFF;
                }
                break;
            }
        }
        add("xing-lies.mp3", vbr, plays(2, 44100, 2));
    }

    // Waves.
    add("pcm16.wav", build(Wav{}), plays(1, 8000, 1, 16));
    {
        Wav w;
        w.dataBytes = 2;
        add("one-sample.wav", build(w), plays(1, 8000, 0));
    }
    {
        Bytes b = build(Wav{});
        b.resize(b.size() - 9000);                           // cut inside the sample data
        add("truncated-data.wav", b, plays(1, 8000, 0, 16)); // 0.44 s left
    }
    {
        Wav w;
        w.dataSize = 0x40000000;
        add("data-larger-than-file.wav", build(w), plays(1, 8000, 1, 16)); // as long as the file holds
    }
    {
        Wav w;
        w.riffSize = 0xFFFFFFFF;
        w.dataSize = 0xFFFFFFFF;
        add("ffffffff-sizes.wav", build(w), plays(1, 8000, 1, 16)); // a streaming writer's sizes
    }
    {
        Wav w;
        w.hasFmt = false;
        add("no-fmt.wav", build(w), refused(ErrCorrupt));
    }
    {
        Bytes b = build(Wav{});
        b[16] = 8; // fmt chunk of 8 bytes: format, channels and half a rate
        add("fmt-too-short.wav", b, refused(ErrCorrupt));
        Bytes h = build(Wav{});
        h[16] = 0xF0;
        h[17] = h[18] = 0xFF;
        h[19] = 0x7F;
        add("fmt-huge.wav", h, refused(ErrCorrupt));
    }
    {
        struct Case {
            const char *name;
            uint16_t channels;
            uint32_t rate;
            uint16_t bits;
        };
        const Case cases[] = {{"channels-0.wav", 0, 8000, 16},
                              {"channels-65535.wav", 65535, 8000, 16},
                              {"rate-1hz.wav", 1, 1, 16},
                              {"rate-ffffffff.wav", 1, 0xFFFFFFFF, 16},
                              {"bits-64-int.wav", 1, 8000, 64}};
        for (const auto &c : cases) {
            Wav w;
            w.channels = c.channels;
            w.rate = c.rate;
            w.bits = c.bits;
            add(c.name, build(w), refused(ErrUnsupported));
        }
        Wav seven;
        seven.bits = 7;
        add("bits-7.wav", build(seven), refused(ErrUnsupported));
        Wav zeroAlign;
        zeroAlign.blockAlign = 0;
        add("block-align-0.wav", build(zeroAlign), refused(ErrUnsupported));
    }
    add("ima-adpcm.wav", readFile(src + "ima-adpcm.wav"), refused(ErrUnsupported));
    add("ms-adpcm.wav", readFile(src + "ms-adpcm.wav"), refused(ErrUnsupported));
    add("gsm.wav", readFile(src + "gsm-full-rate.wav"), refused(ErrUnsupported));
    add("a-law.wav", readFile(src + "a-law.wav"), plays(1, 8000, 2, 64));
    add("u-law.wav", readFile(src + "u-law.wav"), plays(1, 8000, 2, 64));
    add("float32.wav", readFile(src + "f32.wav"), plays(2, 44100, 2, 2822));
    add("float64.wav", readFile(src + "f64.wav"), plays(2, 44100, 2, 5645));
    add("extensible-24bit.wav", readFile(src + "s24.wav"), plays(2, 44100, 2, 24));
    add("six-channels.wav", readFile(src + "six.wav"), plays(6, 48000, 1, 16));
    {
        Wav w;
        w.format = 0xFFFE;
        w.fmtSize = 40;
        const uint8_t bogus[2] = {0x34, 0x12};
        w.extraFmt = extensible(bogus, 16);
        add("extensible-bogus-subformat.wav", build(w), refused(ErrUnsupported));
    }
    {
        Wav w;
        Bytes list;
        putTag(list, "LIST");
        put32(list, 0x80000000u);
        putTag(list, "INFO");
        w.beforeData = list;
        // The claim hides the data chunk inside the list: the chunks cannot be walked.
        add("list-claims-2gb.wav", build(w), refused(ErrCorrupt));
    }
    {
        // A wave file whose format is there but whose data chunk never comes.
        Bytes b = build(Wav{});
        b.resize(36);
        add("no-data-chunk.wav", b, refused(ErrCorrupt));
        // An MP3 cut in the middle of a frame: what is whole plays.
        const auto offsets = frameOffsets(cbr);
        Bytes cut(cbr.begin(), cbr.begin() + long(offsets.size() > 40 ? offsets[40] + 100 : cbr.size() / 2));
        add("cut-mid-frame.mp3", cut, plays(2, 44100, 1, 128));
        // Only an ID3v1 tag: 128 bytes starting "TAG".
        Bytes v1 = {'T', 'A', 'G'};
        v1.resize(128, ' ');
        add("id3v1-only.mp3", v1, refused(ErrNotAudio));
    }
    {
        // Ten hours of 8 kHz mono silence: a sparse file, so it costs no disk.
        Wav w;
        w.dataBytes = 0;
        w.dataSize = 8000LL * 2 * 36000;
        w.riffSize = 36 + w.dataSize;
        const std::string path = d + "ten-hours.wav";
        writeFile(path, build(w));
        if (std::FILE *f = std::fopen(path.c_str(), "r+b")) {
            std::fseek(f, long(44 + w.dataSize - 1), SEEK_SET);
            std::fputc(0, f);
            std::fclose(f);
        }
        files.push_back(CorpusFile{"ten-hours.wav", Outcome::Plays, 0, 1, 8000, 36000, 16});
    }
    run("rm -f '" + src + "'*");
    return files;
}
