// What the engine opens and how it reads it: track information, lengths, refusals, mixing down.
#include "playback/engine/Decoder.h"
#include "playback/engine/FileGate.h"
#include "playback/engine/Mp3Frames.h"
#include "support/EngineFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {
// Every stereo frame the engine's own decoder yields for path, from its start to its end.
std::vector<float> decodeAll(const std::string &path, TrackInfo &info)
{
    std::vector<float> all;
    const GatedFile file = openGated(path);
    if (file.error != ErrNone)
        return all;
    OpenResult opened = openDecoder(file.fd, file.size, info);
    if (!opened.decoder)
        return all;
    std::vector<float> chunk(4096 * 2);
    while (const size_t got = opened.decoder->read(chunk.data(), 4096))
        all.insert(all.end(), chunk.begin(), chunk.begin() + ptrdiff_t(2 * got));
    return all;
}

// The frame count of the file's stream after its ID3v2 tag, as count (walk or Xing header) finds it.
Mp3FrameCount framesOf(const std::string &path, Mp3FrameCount (*count)(int, int64_t, int64_t))
{
    const GatedFile file = openGated(path);
    if (file.error != ErrNone)
        return {};
    UniqueFd fd(file.fd);
    return count(fd.get(), skipId3v2(fd.get(), file.size), file.size);
}

Mp3FrameCount walkFrames(const std::string &path)
{
    return framesOf(path, countMp3Frames);
}

Mp3FrameCount xingFrames(const std::string &path)
{
    return framesOf(path, xingMp3Frames);
}
} // namespace

TEST_F(Engine, ReportsTrackInfoForEveryFormat)
{
    Files &files = Files::get();
    struct Case {
        std::string path;
        const char *d1, *d2;
        int channels, bitValue, rate, seconds;
        int bitTolerance = 0;
    };
    auto wave = [&](int rate, int channels, int bits, bool floating = false, bool extensible = false) {
        Wave w{.rate = rate,
               .channels = channels,
               .bits = bits,
               .floating = floating,
               .extensible = extensible,
               .seconds = 2.5};
        return files.wav("info_" + std::to_string(rate) + "_" + std::to_string(channels) + "_" + std::to_string(bits) +
                             (floating ? "f" : "") + (extensible ? "x" : "") + ".wav",
                         w);
    };
    const std::string alaw = files.folder.file("alaw.wav");
    ASSERT_TRUE(soxConvert(wave(8000, 1, 16), alaw, "a-law"));
    const std::string mulaw = files.folder.file("mulaw.wav");
    ASSERT_TRUE(soxConvert(wave(8000, 1, 16), mulaw, "u-law"));
    // A data chunk claiming 10 s or 0xFFFFFFFF bytes of the 2.5 s the file holds, and a file cut 0.9 s
    // short in the middle of a frame: the length is what the file holds.
    const std::string stereo = readAll(wave(44100, 2, 16));
    auto withDataSize = [&](const std::string &name, uint32_t bytes) {
        std::string patched = stereo;
        for (int i = 0; i < 4; ++i)
            patched[size_t(40 + i)] = char((bytes >> (8 * i)) & 0xFF);
        const std::string path = files.folder.file(name);
        EXPECT_TRUE(writeText(path, patched));
        return path;
    };
    const std::string cut = files.folder.file("cut.wav");
    ASSERT_TRUE(writeText(cut, stereo.substr(0, 44 + size_t(1.6 * 44100) * 4 + 3)));
    const Case cases[] = {
        {wave(44100, 1, 8), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 8, 44100, 2},
        {wave(44100, 2, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {wave(44100, 1, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 24, 44100, 2},
        {wave(48000, 2, 8), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 8, 48000, 2},
        {wave(48000, 1, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 16, 48000, 2},
        {wave(48000, 2, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 24, 48000, 2},
        {wave(48000, 2, 32), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 32, 48000, 2},
        {wave(44100, 2, 24, false, true), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 24, 44100, 2},
        {wave(44100, 2, 32, true), "WAVE_FORMAT_IEEE_FLOAT", "WAVE_FORMAT_IEEE_FLOAT", 2, 2822, 44100, 2},
        {wave(48000, 1, 32, true, true), "WAVE_FORMAT_EXTENSIBLE", "WAVE_FORMAT_IEEE_FLOAT", 1, 1536, 48000, 2},
        {alaw, "WAVE_FORMAT_ALAW", "WAVE_FORMAT_ALAW", 1, 64, 8000, 2},
        {mulaw, "WAVE_FORMAT_MULAW", "WAVE_FORMAT_MULAW", 1, 64, 8000, 2},
        {wave(44100, 6, 16), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 6, 16, 44100, 2},
        {wave(48000, 8, 24), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 8, 24, 48000, 2},
        {withDataSize("oversized.wav", 44100 * 4 * 10), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {withDataSize("allones.wav", 0xFFFFFFFF), "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 2},
        {cut, "WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 2, 16, 44100, 1},
        {files.mp3("cbr.mp3", Mp3Kind::Cbr128), "MPEG 1 Layer 3", "Joint Stereo", 2, 128, 44100, 2},
        {files.mp3("cbr_mono.mp3", Mp3Kind::Cbr128, 2.5, 1), "MPEG 1 Layer 3", "Mono", 1, 128, 44100, 2},
        // VBR: the file's average; lame -V 4 on this material lands well inside this range.
        {files.mp3("vbr.mp3", Mp3Kind::Vbr), "MPEG 1 Layer 3", "Joint Stereo", 2, 160, 44100, 2, 100},
        {files.mp3("vbr_noxing.mp3", Mp3Kind::VbrNoXing), "MPEG 1 Layer 3", "Joint Stereo", 2, 160, 44100, 2, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::memset(&info, 0x55, sizeof info); // the engine must pad with NULs itself
        ASSERT_TRUE(engine.vbmp3_open(c.path, info)) << engine.vbmp3_getLastErrorNo();
        EXPECT_EQ(text(info.Description1), c.d1);
        EXPECT_EQ(text(info.Description2), c.d2);
        EXPECT_EQ(info.Description1[127], 0);
        EXPECT_EQ(info.Description2[127], 0);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_NEAR(info.BitValue, c.bitValue, c.bitTolerance);
        EXPECT_EQ(info.SamplingRate, c.rate);
        EXPECT_EQ(info.TotalSeconds, c.seconds);
    }
}

TEST_F(Engine, VbrLengthAndAverageMatchWithAndWithoutXingHeader)
{
    Files &files = Files::get();
    TrackInfo withXing{}, withoutXing{};
    ASSERT_TRUE(engine.vbmp3_open(files.mp3("vbr.mp3", Mp3Kind::Vbr), withXing));
    ASSERT_TRUE(engine.vbmp3_open(files.mp3("vbr_noxing.mp3", Mp3Kind::VbrNoXing), withoutXing));
    EXPECT_EQ(withXing.TotalSeconds, withoutXing.TotalSeconds);
    EXPECT_NEAR(withXing.BitValue, withoutXing.BitValue, 3);
}

TEST_F(Engine, SpeechAndJapaneseNamesOpen)
{
    Files &files = Files::get();
    const std::string speech = files.folder.file("起動音声.wav");
    ASSERT_TRUE(makeSpeech(speech, "System start. All lamps ready."));
    ASSERT_TRUE(engine.vbmp3_open(speech, info)) << engine.vbmp3_getLastErrorNo();
    EXPECT_EQ(text(info.Description1), "WAVE_FORMAT_PCM");
    EXPECT_EQ(info.Channels, 1);
    EXPECT_EQ(info.SamplingRate, 22050);
    EXPECT_EQ(info.BitValue, 16);
    EXPECT_GE(info.TotalSeconds, 1);

    // The voice moves element 128 while it is heard.
    engine.vbmp3_play();
    int32_t loudest = 0;
    int32_t first[kSpectrumSize], second[kSpectrumSize];
    waitUntil([&] {
        engine.vbmp3_getSpectrum(first, second);
        loudest = std::max(loudest, first[128]);
        EXPECT_EQ(first[128], second[128]);
        return loudest > 40;
    });
    EXPECT_GT(loudest, 40);
}

TEST_F(Engine, RefusesWhatItCannotPlayAndStaysUsable)
{
    Files &files = Files::get();
    TempFolder folder;
    const std::string fifo = folder.file("pipe.mp3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = folder.file("empty.wav");
    ASSERT_TRUE(writeText(empty, ""));
    const std::string textMp3 = folder.file("notes.mp3");
    ASSERT_TRUE(writeText(textMp3, std::string(4000, 'x') + "\nThis is not a song.\n"));
    const std::string adpcm = folder.file("adpcm.wav");
    ASSERT_TRUE(soxConvert(files.good(), adpcm, "ima-adpcm"));
    const std::string gsm = folder.file("gsm.wav");
    ASSERT_TRUE(soxConvert(files.wav("g8k.wav", Wave{.rate = 8000}), gsm, "gsm-full-rate"));
    const std::string zeroLink = folder.file("zero.mp3");
    ASSERT_EQ(symlink("/dev/zero", zeroLink.c_str()), 0);
    const std::string slowRate = folder.file("slow.wav");
    ASSERT_TRUE(writeWavHeaderOnly(slowRate, 1, 1, 500, 16));
    const std::string nineChannels = folder.file("nine.wav");
    ASSERT_TRUE(writeWavHeaderOnly(nineChannels, 1, 9, 44100, 16));
    const std::string onlyTag = folder.file("tag.mp3");
    ASSERT_TRUE(writeText(onlyTag, std::string("ID3\x03\x00\x00\x7f\x7f\x7f\x7f", 10) + "tiny"));

    const struct {
        std::string path;
        EngineError error;
    } cases[] = {
        {folder.file("missing.mp3"), ErrNotFound},
        {empty, ErrEmpty},
        {folder.path(), ErrNotRegular},
        {fifo, ErrNotRegular},
        {zeroLink, ErrNotRegular},
        {textMp3, ErrNotAudio},
        {onlyTag, ErrNotAudio},
        {adpcm, ErrUnsupported},
        {gsm, ErrUnsupported},
        {slowRate, ErrUnsupported},
        {nineChannels, ErrUnsupported},
    };
    const int openFiles = countEntries("/proc/self/fd");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        // A good file is playing when the bad one comes: it stops, and nothing of either stays open.
        ASSERT_TRUE(engine.vbmp3_open(files.good(), info));
        engine.vbmp3_play();
        EXPECT_FALSE(engine.vbmp3_open(c.path, info));
        EXPECT_EQ(engine.vbmp3_getLastErrorNo(), c.error);
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        engine.vbmp3_play(); // nothing is open: stays stopped
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        ASSERT_TRUE(waitUntil([&] { return countEntries("/proc/self/fd") <= openFiles; }));

        ASSERT_TRUE(engine.vbmp3_open(files.good(), info));
        EXPECT_EQ(engine.vbmp3_getLastErrorNo(), ErrNone);
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    }
    Vbmp3Engine uninitialised(OutputKind::Silent);
    EXPECT_FALSE(uninitialised.vbmp3_open(files.good(), info));
    EXPECT_EQ(uninitialised.vbmp3_getLastErrorNo(), ErrNotInitialised);
}

TEST_F(Engine, Mp3HeadersAreNotTakenOnTrust)
{
    const std::string cbr = Files::get().mp3("cbr.mp3", Mp3Kind::Cbr128);
    std::ifstream in(cbr, std::ios::binary);
    const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TempFolder folder;

    // An Info header claiming 2^31 frames (about 1.8 years): the length still comes from the frames.
    std::string lying = stream;
    const size_t tag = lying.find("Info");
    ASSERT_NE(tag, std::string::npos);
    lying[tag + 7] = char(lying[tag + 7] | 1); // the frame count is present
    lying.replace(tag + 8, 4, std::string("\x7f\xff\xff\xff", 4));
    const std::string lyingPath = folder.file("lying.mp3");
    ASSERT_TRUE(writeText(lyingPath, lying));

    // ID3v2 tags in front, one of them with a frame claiming far more than the tag holds.
    const std::string id3 = std::string("ID3\x03\x00\x00\x00\x00\x00\x14", 10) + "TLEN" +
                            std::string("\x7f\xff\xff\xff\x00\x00", 6) + std::string(10, '\0');
    const std::string taggedPath = folder.file("tagged.mp3");
    ASSERT_TRUE(writeText(taggedPath, id3 + id3 + stream));

    for (const std::string &path : {lyingPath, taggedPath}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(engine.vbmp3_open(path, info)) << engine.vbmp3_getLastErrorNo();
        EXPECT_EQ(info.TotalSeconds, 2);
        EXPECT_EQ(info.SamplingRate, 44100);
        EXPECT_EQ(info.BitValue, 128);
        engine.vbmp3_play();
        ASSERT_TRUE(waitUntil([&] { return engine.heardSeconds() > 0.2; }));
        int32_t first[kSpectrumSize], second[kSpectrumSize];
        engine.vbmp3_getSpectrum(first, second);
        EXPECT_NEAR(first[128], 84, 3); // the fixture's -10 dBFS 1 kHz tone
    }
}

TEST(Mp3Length, HeaderWalkCountsWhatLibmpg123Decodes)
{
    TempFolder folder;
    auto source = [&](int rate, int channels) {
        const std::string path =
            folder.file("source_" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav");
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(
                writeWav(path, Wave{.rate = rate, .channels = channels, .seconds = 1.7, .signal = Signal::Varied}));
        }
        return path;
    };
    auto lame = [&](const std::string &name, const std::string &wav, const std::string &options) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(lameEncode(wav, path, options)) << options;
        return path;
    };
    auto written = [&](const std::string &name, const std::string &bytes) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(writeText(path, bytes));
        return path;
    };
    const std::string stereo = source(44100, 2);
    const std::string cbr = readAll(lame("cbr.mp3", stereo, "-b 128"));
    const std::string bare = readAll(lame("bare.mp3", stereo, "-b 128 -t")); // no Info frame
    const std::string junk(333, 'j');

    const struct {
        std::string path;
        bool sure; // counted by the walk; otherwise libmpg123's scan counts
    } cases[] = {
        {folder.file("cbr.mp3"), true},
        {folder.file("bare.mp3"), true},
        {lame("mono.mp3", source(44100, 1), "-b 64"), true},
        {lame("vbr.mp3", stereo, "--vbr-new -V 4"), true},
        {lame("vbr_noxing.mp3", stereo, "--vbr-new -V 4 -t"), true},
        {lame("crc.mp3", stereo, "-p -b 128"), true},
        {lame("mpeg2.mp3", source(22050, 2), "--vbr-new -V 4"), true},
        {lame("mpeg25.mp3", source(8000, 1), "-b 16"), true},
        {lame("tags.mp3", stereo, "-b 128 --add-id3v2 --id3v1-only --tt Title"), true},
        {lame("tags2.mp3", stereo, "--vbr-new -V 4 --add-id3v2 --tt Title"), true},
        {lame("free.mp3", stereo, "--freeformat -b 256"), false},
        {written("garbage.mp3", bare + junk + bare), false},
        {written("garbage_xing.mp3", cbr + junk + bare), false},
        {written("cut.mp3", cbr.substr(0, cbr.size() - 100)), false},
        {written("tail.mp3", cbr + junk), false},
        {written("lead.mp3", junk + bare), false},
    };
    Vbmp3Engine engine(OutputKind::Silent);
    engine.vbmp3_init();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        TrackInfo decodedInfo{};
        const int64_t decoded = int64_t(decodeAll(c.path, decodedInfo).size() / 2);
        ASSERT_GT(decoded, 0);
        const Mp3FrameCount walked = walkFrames(c.path);
        EXPECT_EQ(walked.sure, c.sure);
        if (walked.sure) {
            EXPECT_EQ(walked.samples, decoded);
            EXPECT_EQ(walked.rate, decodedInfo.SamplingRate);
        }
        // Whichever way it was counted, the engine reports the length it plays.
        TrackInfo info{};
        ASSERT_TRUE(engine.vbmp3_open(c.path, info));
        EXPECT_EQ(info.TotalSeconds, decoded / info.SamplingRate);
    }
}

TEST(Mp3Length, XingHeaderCountsOnlyWhereTheFileBearsItOut)
{
    TempFolder folder;
    const std::string wav = folder.file("minute.wav");
    ASSERT_TRUE(writeWav(wav, Wave{.channels = 1, .seconds = 62, .signal = Signal::Varied}));
    const std::string mp3 = folder.file("minute.mp3");
    ASSERT_TRUE(lameEncode(wav, mp3, "--vbr-new -V 6"));
    const std::string stream = readAll(mp3);
    const Mp3FrameCount walked = walkFrames(mp3);
    ASSERT_TRUE(walked.sure);
    const size_t tag = stream.find("Xing");
    ASSERT_NE(tag, std::string::npos);
    auto claiming = [&](int64_t frames) {
        std::string s = stream;
        for (int i = 0; i < 4; ++i)
            s[tag + 8 + size_t(i)] = char((frames >> (24 - 8 * i)) & 0xFF);
        return s;
    };
    std::string v1(128, '\0');
    v1.replace(0, 3, "TAG");

    const struct {
        const char *name;
        std::string bytes;
        bool believed;
    } cases[] = {
        {"true.mp3", stream, true},
        {"id3v1.mp3", stream + v1, true},
        {"half_more.mp3", claiming(walked.frames * 3 / 2), false},
        {"third_fewer.mp3", claiming(walked.frames * 2 / 3), false},
        {"years.mp3", claiming(0x7fffffff), false},
        {"appended.mp3", stream + stream.substr(stream.size() / 2), false},
        {"cut.mp3", stream.substr(0, stream.size() - 5000), false},
    };
    Vbmp3Engine engine(OutputKind::Silent);
    engine.vbmp3_init();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.file(c.name);
        ASSERT_TRUE(writeText(path, c.bytes));
        const Mp3FrameCount header = xingFrames(path);
        EXPECT_EQ(header.sure, c.believed);
        if (header.sure) {
            EXPECT_EQ(header.samples, walked.samples);
        }
        // Believed or not, the length is the frames' own.
        TrackInfo info{};
        ASSERT_TRUE(engine.vbmp3_open(path, info));
        if (c.bytes.size() == stream.size() || c.believed) { // the same frames
            EXPECT_EQ(info.TotalSeconds, walked.samples / walked.rate);
        }
    }
}

TEST(MixDown, EightFullScaleChannelsGiveFullScaleStereoWithoutClipping)
{
    TempFolder folder;
    const std::string path = folder.file("eight.wav");
    // 0 dBFS: every channel swings to full scale at once, the worst case for a sum.
    ASSERT_TRUE(writeWav(path, Wave{.channels = 8, .bits = 24, .seconds = 0.2, .frequency = 440, .dbfs = 0}));
    TrackInfo info{};
    const std::vector<float> stereo = decodeAll(path, info);
    ASSERT_EQ(stereo.size(), size_t(0.2 * 44100) * 2);
    float peakLeft = 0, peakRight = 0;
    for (size_t i = 0; i < stereo.size(); i += 2) {
        EXPECT_EQ(stereo[i], stereo[i + 1]) << i; // the same sound in every channel is centred
        peakLeft = std::max(peakLeft, std::fabs(stereo[i]));
        peakRight = std::max(peakRight, std::fabs(stereo[i + 1]));
    }
    EXPECT_LE(peakLeft, 1.0f);
    EXPECT_GT(peakLeft, 0.99f);
    EXPECT_LE(peakRight, 1.0f);
    EXPECT_GT(peakRight, 0.99f);
}
