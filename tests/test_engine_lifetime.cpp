// The engine's threads and descriptors over its life, and playing on when there is no sound device.
#include "support/EngineFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {
// The process's open descriptors, each with what it refers to: a path, socket:[inode], pipe:[inode]...
std::map<int, std::string> openDescriptors()
{
    std::map<int, std::string> open;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return open;
    while (const dirent *e = readdir(d)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] == '.' || fd == dirfd(d))
            continue;
        char target[512];
        const ssize_t n = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target);
        open[fd] = n > 0 ? std::string(target, size_t(n)) : std::string("?");
    }
    closedir(d);
    return open;
}

// Silence that counts how often it is asked for.
struct CountingSource : SoundSource {
    std::atomic<int64_t> pulls{0};
    void pull(float *out, int frames) override
    {
        std::fill(out, out + 2 * frames, 0.0f);
        ++pulls;
    }
};

// Asks the sound server to end this process's playback streams, as a mixer's user may; true once it has.
bool killOwnSinkInput()
{
    struct Job {
        pa_mainloop *loop = pa_mainloop_new();
        pa_context *context = nullptr;
        std::vector<uint32_t> mine;
        int pending = 0;
        bool listed = false, failed = false;
    } job;
    job.context = pa_context_new(pa_mainloop_get_api(job.loop), "test");
    pa_context_connect(job.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    const auto until = [&](auto done) {
        for (int i = 0; i < 10000 && !done() && !job.failed; ++i)
            if (pa_mainloop_iterate(job.loop, 1, nullptr) < 0)
                job.failed = true;
        return done();
    };
    bool ok = until([&] { return pa_context_get_state(job.context) == PA_CONTEXT_READY; });
    if (ok) {
        pa_operation_unref(pa_context_get_sink_input_info_list(
            job.context,
            [](pa_context *, const pa_sink_input_info *info, int eol, void *self) {
                auto &j = *static_cast<Job *>(self);
                if (eol) {
                    j.listed = true;
                    return;
                }
                const char *pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
                if (pid && std::to_string(::getpid()) == pid)
                    j.mine.push_back(info->index);
            },
            &job));
        ok = until([&] { return job.listed; }) && !job.mine.empty();
    }
    for (const uint32_t index : ok ? job.mine : std::vector<uint32_t>{}) {
        ++job.pending;
        pa_operation_unref(pa_context_kill_sink_input(
            job.context, index,
            [](pa_context *, int success, void *self) {
                auto &j = *static_cast<Job *>(self);
                --j.pending;
                j.failed = j.failed || !success;
            },
            &job));
    }
    ok = ok && until([&] { return job.pending == 0; }) && !job.failed;
    pa_context_disconnect(job.context);
    pa_context_unref(job.context);
    pa_mainloop_free(job.loop);
    return ok;
}

// The process's threads once any that are on their way out have gone: a sound library may end a helper
// thread of its own a moment after its device is closed. A thread left for good still counts.
int settledThreads(int atMost)
{
    int n = countEntries("/proc/self/task");
    for (int i = 0; i < 100 && n > atMost; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        n = countEntries("/proc/self/task");
    }
    return n;
}
} // namespace

TEST(EngineLifetime, FreeEndsEveryThreadAndOpeningRepeatedlyLeaksNothing)
{
    Files &files = Files::get();
    const std::string wav = files.good();
    const std::string mp3 = files.mp3("cbr.mp3", Mp3Kind::Cbr128);
    const int threadsBefore = countEntries("/proc/self/task");
    const std::map<int, std::string> filesBefore = openDescriptors();
    {
        Vbmp3Engine engine(OutputKind::Silent);
        engine.vbmp3_init();
        TrackInfo info{};
        for (int i = 0; i < 1000; ++i)
            ASSERT_TRUE(engine.vbmp3_open(i % 4 == 0 ? mp3 : wav, info)) << i;
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
        engine.vbmp3_free();
        EXPECT_LE(settledThreads(threadsBefore), threadsBefore);
        EXPECT_EQ(openDescriptors(), filesBefore);
        EXPECT_EQ(stateOf(engine), PlayStateStopped);
        // Initialised again, it plays again.
        engine.vbmp3_init();
        ASSERT_TRUE(engine.vbmp3_open(wav, info));
        engine.vbmp3_play();
        EXPECT_EQ(stateOf(engine), PlayStatePlaying);
    } // destroyed while playing
    EXPECT_LE(settledThreads(threadsBefore), threadsBefore);
    EXPECT_EQ(openDescriptors(), filesBefore);
}

// The engine's whole life, a thousand times over: each cycle starts the worker and an output (every
// tenth one the real device), opens and plays a file and frees it all again.
TEST(EngineLifetime, InitPlayFreeCyclesLeaveNoThreadOrDescriptor)
{
    Files &files = Files::get();
    const std::string wav = files.good();
    const std::string mp3 = files.mp3("cbr.mp3", Mp3Kind::Cbr128);
    // Counts what the output pulls, so that a cycle on the real device waits until the device has played:
    // freed at once, the engine would mostly end before its worker had opened any device.
    struct Counted : SoundSource {
        SoundSource *engine = nullptr;
        std::atomic<int> pulls{0};
        void pull(float *out, int frames) override
        {
            engine->pull(out, frames);
            ++pulls;
        }
    };
    auto cycle = [&](int i) {
        const bool device = i % 10 == 0;
        Counted counted;
        Vbmp3Engine engine(
            [&](int rate, SoundSource &source) {
                counted.engine = &source;
                return openOutput(rate, counted, device ? OutputKind::Automatic : OutputKind::Silent);
            },
            &Vbmp3Engine::Clock::now);
        engine.vbmp3_init();
        TrackInfo info{};
        ASSERT_TRUE(engine.vbmp3_open(i % 2 == 0 ? mp3 : wav, info)) << i;
        engine.vbmp3_play();
        ASSERT_EQ(stateOf(engine), PlayStatePlaying) << i;
        if (device) {
            ASSERT_TRUE(waitUntil([&] { return counted.pulls > 0; })) << "the device never pulled, cycle " << i;
        }
        engine.vbmp3_free();
    };
    cycle(0); // libraries that set themselves up once do it here
    const int threadsBefore = countEntries("/proc/self/task");
    const std::map<int, std::string> filesBefore = openDescriptors();
    for (int i = 1; i <= 1000; ++i) {
        cycle(i);
        if (i % 100 == 0) {
            ASSERT_LE(settledThreads(threadsBefore), threadsBefore) << "after " << i << " cycles";
            ASSERT_EQ(openDescriptors(), filesBefore) << "after " << i << " cycles";
        }
    }
}

// The sound server's device, let go while nothing plays and taken up again a hundred times: each time it is
// idle, its thread and its connection to the server are gone, no more is left open than the first time,
// and each time it plays again it pulls sound.
TEST(EngineLifetime, IdleDeviceIsClosedAndReopensWithoutLeaking)
{
    if (!std::getenv("VB_PULSE_SINK"))
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    CountingSource source;
    const int threadsBefore = countEntries("/proc/self/task");
    const std::map<int, std::string> filesBefore = openDescriptors();
    {
        const std::unique_ptr<Output> output = openOutput(44100, source, OutputKind::Automatic);
        std::map<int, std::string> firstIdleFiles;
        int firstIdleThreads = 0;
        for (int i = 0; i < 100; ++i) {
            const int64_t pulled = source.pulls;
            ASSERT_TRUE(waitUntil([&] { return source.pulls > pulled + 1; })) << "nothing pulled in cycle " << i;
            const size_t playingFiles = openDescriptors().size();
            const int playingThreads = countEntries("/proc/self/task");
            output->setIdle(true);
            const std::map<int, std::string> idleFiles = openDescriptors();
            const int idleThreads = settledThreads(playingThreads - 1);
            ASSERT_LT(idleFiles.size(), playingFiles) << "the device kept its connection in cycle " << i;
            ASSERT_LT(idleThreads, playingThreads) << "the device kept its thread in cycle " << i;
            if (i == 0) {
                firstIdleFiles = idleFiles;
                firstIdleThreads = idleThreads;
            }
            ASSERT_EQ(idleFiles, firstIdleFiles) << "after " << i << " cycles";
            ASSERT_LE(idleThreads, firstIdleThreads) << "after " << i << " cycles";
            output->setIdle(false);
        }
    }
    EXPECT_LE(settledThreads(threadsBefore), threadsBefore);
    EXPECT_EQ(openDescriptors(), filesBefore);
}

// A sound server that goes away while nothing plays: the next play still moves on, at a device's pace and
// unheard, instead of standing still at its first frame.
TEST(EngineLifetime, PlayingGoesOnWhenTheDeviceCannotOpenAgain)
{
    if (!std::getenv("VB_PULSE_SINK"))
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    CountingSource source;
    const std::unique_ptr<Output> output = openOutput(44100, source, OutputKind::Automatic);
    ASSERT_TRUE(waitUntil([&] { return source.pulls > 1; }));
    output->setIdle(true);
    const std::string server = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/voicebox-test/native", 1);
    output->setIdle(false);
    server.empty() ? unsetenv("PULSE_SERVER") : setenv("PULSE_SERVER", server.c_str(), 1);
    const int64_t pulled = source.pulls;
    EXPECT_TRUE(waitUntil([&] { return source.pulls > pulled + 2; })) << "nothing pulled after the failed reopen";
    // Going idle lets the stand-in go; the next play finds the server again.
    output->setIdle(true);
    const int64_t idlePulls = source.pulls;
    output->setIdle(false);
    EXPECT_TRUE(waitUntil([&] { return source.pulls > idlePulls + 2; }));
}

// The server ends the stream while it plays (as when its sink input is killed): the track goes on at a
// device's pace, unheard, rather than standing still until the next pause.
TEST(EngineLifetime, PlayingGoesOnWhenTheServerEndsTheStream)
{
    if (!std::getenv("VB_PULSE_SINK"))
        GTEST_SKIP() << "no PulseAudio sink (VB_PULSE_SINK unset)";
    CountingSource source;
    const std::unique_ptr<Output> output = openOutput(44100, source, OutputKind::Automatic);
    ASSERT_TRUE(waitUntil([&] { return source.pulls > 1; }));
    ASSERT_TRUE(killOwnSinkInput()) << "the server did not end this process's stream";
    const int64_t killedAt = source.pulls;
    EXPECT_TRUE(waitUntil([&] { return source.pulls > killedAt + 3; })) << "nothing pulled after the stream ended";
    // Going idle lets the stand-in go; playing again, it pulls again.
    output->setIdle(true);
    output->setIdle(false);
    const int64_t resumed = source.pulls;
    EXPECT_TRUE(waitUntil([&] { return source.pulls > resumed + 2; }));
}

// With no sound device at all the program still plays, through the silent output: the state and the
// elapsed time advance, and the only word about it is one line on stderr.
TEST(EngineNoDevice, PlaysSilentlyAndSaysSoOnce)
{
    const std::string file = Files::get().wav("three.wav", Wave{.seconds = 3});
    TempFolder folder;
    const struct {
        const char *what;
        std::vector<std::string> environment;
    } cases[] = {
        {"no such SDL driver", {"SDL_AUDIODRIVER=nosuchdriver"}},
        {"sound server nowhere", {"PULSE_SERVER=unix:" + folder.file("nowhere.sock"), "SDL_AUDIODRIVER=pulseaudio"}},
        {"sound server nowhere, any driver", {"PULSE_SERVER=unix:" + folder.file("nowhere.sock")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string command = "env -u VB_AUDIO_OUTPUT -u SDL_AUDIODRIVER -u PULSE_SERVER";
        for (const auto &setting : c.environment)
            command += " " + shellQuote(setting);
        const std::string errors = folder.file("stderr.txt");
        command += " " + shellQuote(VB_BINARY_DIR "/tests/no_device_probe") + " " + shellQuote(file) + " 2>" +
                   shellQuote(errors) + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << "the state or the elapsed time did not advance";
        std::ifstream in(errors);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        EXPECT_EQ(lines, std::vector<std::string>{"voicebox: no sound device, playing silently"});
    }
}
