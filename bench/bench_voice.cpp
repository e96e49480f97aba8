// Prints two figures of the playback tick with the real engine, inside the whole program's windows:
//   tick  the cost of one VoiceAnimation::Timer1_Timer call while a speech track plays, driven directly
//         every 5 ms (what it leaves to the event loop, a repaint or the lamps' requests, is timed apart), and how
//         many of those ticks change lamps, and how many lamps;
//   lag   how far the centre lamps light behind a sound's onset: a fixture of silence and then a
//         -10 dBFS 1 kHz tone at a known sample plays with the 5 ms timer running as in use; the engine's
//         heard position at the first tick that lights the centre lamps, minus the onset time;
//   end to end  the same starts seen from outside the engine: when the lamp's pixels change on the X server
//         (polled there on a connection of its own), minus when the onset is heard at the sound server (its
//         arrival at the default sink's monitor, read with parec, plus the sink's reported latency). The
//         observers run real-time where allowed; VB_BENCH_OBSERVERS_ORDINARY=1 leaves them ordinary.
// Usage: bench_voice <speech.wav or .mp3> [lag trials]. Needs a display (Xvfb will do); sound goes to
// the default device, or to the silent real-time output with VB_AUDIO_OUTPUT=silent.
#include "BenchTools.h"
#include "app/App.h"
#include "playback/engine/Vbmp3Engine.h"
#include "widgets/Colors.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <numbers>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr int kOnsetSample = 66150; // 1.5 s of silence
constexpr double kToneSeconds = 1.0;

// Answers every file dialog with the path given last; reports message boxes on stderr.
class ScriptedDialogs : public Dialogs {
public:
    QString answer;
    int messages = 0;
    QString openFileName(QWidget *, const QString &, const QString &) override { return answer; }
    void message(QWidget *, const QString &text) override
    {
        ++messages;
        std::fprintf(stderr, "bench_voice: message box: %s\n", text.toUtf8().constData());
    }
};

// Mono 16-bit: silence up to kOnsetSample, then a 1 kHz sine whose RMS is -10 dBFS (relative to a
// full-scale sine, so its peak is 10^(-10/20) of full scale).
bool writeOnsetFixture(const QString &path)
{
    const int frames = kOnsetSample + int(kToneSeconds * kRate);
    std::vector<int16_t> samples(size_t(frames), 0);
    const double peak = std::pow(10.0, -10.0 / 20.0) * 32767.0;
    for (int i = kOnsetSample; i < frames; ++i)
        samples[size_t(i)] =
            int16_t(std::lround(peak * std::sin(2.0 * std::numbers::pi * 1000.0 * (i - kOnsetSample) / kRate)));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char *>(&v), 2); };
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    f.write("RIFF");
    u32(36 + dataBytes);
    f.write("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    f.write("data");
    u32(dataBytes);
    f.write(reinterpret_cast<const char *>(samples.data()), qint64(dataBytes));
    return f.error() == QFile::NoError;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void runFor(int ms)
{
    waitFor([] { return false; }, ms);
}

bool centreLit(FrmVoice &w)
{
    return w.lblVoice3[9]->color() != VoiceShade::Unlit;
}

// Watches one pixel of a window on the X server from a thread of its own, and the default sink's monitor
// through parec from another; each notes when its signal first appears after arm().
class OutsideWatch {
public:
    OutsideWatch(xcb_window_t window, int x, int y)
    {
        x_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(x_))
            return;
        // Real-time where allowed, as the threads below: on a loaded machine an observer kept waiting dates
        // what it sees late, the sound's onset by as much as the lamp's.
        sink_ = startMonitorRecorder(parec_);
        if (parec_ < 0 || !sink_)
            return;
        // A trial's lamp may still be lit from the one before: it counts once it has been seen dark.
        const QColor dark = bgrColor(VoiceShade::Unlit);
        unlit_ = uint32_t(dark.red()) << 16 | uint32_t(dark.green()) << 8 | uint32_t(dark.blue());
        pixelThread_ = std::thread([this, window, x, y] {
            observeInRealTime();
            bool seenDark = false;
            while (!quit_) {
                const uint32_t now = pixel(window, x, y);
                if (!armed_)
                    seenDark = false;
                else if (now == unlit_)
                    seenDark = true;
                else if (seenDark && litAt_.load() == Clock::time_point{})
                    litAt_ = Clock::now();
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        // Likewise the monitor may still carry the trial before's tone when this one is armed (parec's pipe
        // runs behind on a loaded machine): the onset counts after 10 ms of quiet.
        sinkThread_ = std::thread([this] {
            observeInRealTime();
            int16_t block[64];
            size_t got;
            int quiet = 0;
            while (!quit_ && (got = std::fread(block, 2, 64, sink_)) > 0) {
                const auto now = Clock::now();
                for (size_t i = 0; i < got; ++i) {
                    const bool loud = std::abs(block[i]) > 3000;
                    quiet = !armed_ || loud ? 0 : quiet + 1;
                    if (quiet >= kRate / 100)
                        quietSeen_ = true;
                    if (armed_ && quietSeen_ && heardAt_.load() == Clock::time_point{} && loud) {
                        // The block ends now: the onset came (got - i) samples before.
                        heardAt_ = now - std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(got - i) / kRate));
                        break;
                    }
                }
            }
        });
        ok_ = true;
    }
    ~OutsideWatch()
    {
        quit_ = true;
        if (pixelThread_.joinable())
            pixelThread_.join();
        if (parec_ > 0) {
            ::kill(parec_, SIGTERM); // its pipe then ends, and so does the thread reading it
            ::waitpid(parec_, nullptr, 0);
        }
        if (sinkThread_.joinable())
            sinkThread_.join();
        if (sink_)
            std::fclose(sink_);
        if (x_)
            xcb_disconnect(x_);
    }
    bool ok() const { return ok_; }
    void arm()
    {
        litAt_ = Clock::time_point{};
        heardAt_ = Clock::time_point{};
        quietSeen_ = false;
        armed_ = true;
    }
    void disarm() { armed_ = false; }
    bool seen() const { return litAt_.load() != Clock::time_point{} && heardAt_.load() != Clock::time_point{}; }
    double lagMs(double sinkLatencyMs) const
    {
        return std::chrono::duration<double, std::milli>(litAt_.load() - heardAt_.load()).count() - sinkLatencyMs;
    }
    // From a moment in this process (the tick that lit the lamp) to the pixel's change on the X server.
    double pixelAfterMs(Clock::time_point since) const
    {
        return std::chrono::duration<double, std::milli>(litAt_.load() - since).count();
    }

private:
    static void observeInRealTime()
    {
        if (std::getenv("VB_BENCH_OBSERVERS_ORDINARY"))
            return; // to see what the observers' own waiting does to the figure
        sched_param param{};
        param.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }
    uint32_t pixel(xcb_window_t window, int x, int y)
    {
        auto *reply = xcb_get_image_reply(
            x_, xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
        uint32_t value = 0;
        if (reply && xcb_get_image_data_length(reply) >= 4)
            std::memcpy(&value, xcb_get_image_data(reply), 4);
        std::free(reply);
        return value & 0xFFFFFF;
    }

    xcb_connection_t *x_ = nullptr;
    pid_t parec_ = -1;
    std::FILE *sink_ = nullptr;
    uint32_t unlit_ = 0;
    bool ok_ = false;
    std::atomic<bool> quit_{false}, armed_{false}, quietSeen_{false};
    std::atomic<Clock::time_point> litAt_{}, heardAt_{};
    std::thread pixelThread_, sinkThread_;
};

// The default sink's latency as the sound server reports it while a stream plays, in ms; -1 if unknown.
double sinkLatencyMs()
{
    std::FILE *p = ::popen("pactl list sinks 2>/dev/null", "r");
    if (!p)
        return -1;
    char line[512];
    double ms = -1;
    while (std::fgets(line, sizeof line, p)) {
        double usec = 0;
        if (ms < 0 && std::sscanf(line, " Latency: %lf usec", &usec) == 1)
            ms = usec / 1000.0;
    }
    ::pclose(p);
    return ms;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_voice <speech file> [lag trials]\n");
        return 2;
    }
    const QString speech = QString::fromLocal8Bit(argv[1]);
    const int trials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    QTemporaryDir dir;
    const QString onset = dir.filePath(QStringLiteral("onset.wav"));
    if (!writeOnsetFixture(onset)) {
        std::fprintf(stderr, "bench_voice: could not write %s\n", qPrintable(onset));
        return 1;
    }

    auto engineOwner = std::make_unique<Vbmp3Engine>(outputKindFromEnvironment());
    Vbmp3Engine &engine = *engineOwner;
    auto dialogsOwner = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs &dialogs = *dialogsOwner;
    AppParts parts;
    parts.engine = std::move(engineOwner);
    parts.dialogs = std::move(dialogsOwner);
    parts.random = std::make_unique<ClockRandom>();
    parts.ownFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/.."); // the start-up voice
    App app(std::move(parts));
    app.start();
    FrmVoice &w = app.frmVoice();
    if (!waitFor([&] { return !w.Timer2->isEnabled() && w.inputEnabled(); }, 20000)) {
        std::fprintf(stderr, "bench_voice: the start-up light sequence did not finish\n");
        return 1;
    }
    Transport &transport = app.transport();

    // ---- tick cost --------------------------------------------------------------------------------
    dialogs.answer = speech;
    transport.cmdFile_Click();
    transport.cmdStart_Click();
    int32_t elapsed = 0;
    if (!transport.trackOpen() || engine.vbmp3_getState(elapsed) != PlayStatePlaying) {
        std::fprintf(stderr, "bench_voice: %s does not play\n", qPrintable(speech));
        return 1;
    }
    w.Timer1->setEnabled(false); // this loop drives the ticks itself
    runFor(300);
    std::vector<double> tickUs, paintUs;
    int changed = 0;
    long lampsChanged = 0;
    auto frame = [&w] {
        std::vector<uint32_t> colours;
        for (int a = 1; a <= 6; ++a)
            for (Lamp *lamp : w.voiceArray(a))
                colours.push_back(lamp->color());
        return colours;
    };
    auto next = Clock::now();
    const auto until = next + std::chrono::seconds(8);
    while (Clock::now() < until) {
        const auto before = frame();
        const auto t0 = Clock::now();
        app.voiceAnimation().Timer1_Timer();
        const auto t1 = Clock::now();
        QCoreApplication::processEvents(); // what the tick left to the event loop
        const auto t2 = Clock::now();
        tickUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        const auto after = frame();
        if (after != before) {
            ++changed;
            for (size_t i = 0; i < after.size(); ++i)
                lampsChanged += after[i] != before[i];
            paintUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        }
        next += std::chrono::milliseconds(5);
        std::this_thread::sleep_until(next);
    }
    std::printf("tick: median %.1f us, 90th percentile %.1f us, max %.1f us over %zu ticks (%d changed a lamp; "
                "the event loop's work after them: median %.1f us)\n",
                percentile(tickUs, 0.5), percentile(tickUs, 0.9), percentile(tickUs, 1.0), tickUs.size(), changed,
                paintUs.empty() ? 0.0 : percentile(paintUs, 0.5));
    std::printf("lamp changes: %d of %zu ticks changed lamps, %ld lamps in all (%.2f a changing tick)\n", changed,
                tickUs.size(), lampsChanged, changed ? double(lampsChanged) / changed : 0.0);
    transport.cmdStop_Click();

    // ---- lag of the centre lamps behind the heard onset -------------------------------------------
    dialogs.answer = onset;
    transport.cmdFile_Click();
    double heardAtFirstLight = -1;
    double heardAtTickBefore = -1;
    double heardAtLastTick = -1;
    Clock::time_point litTickAt{};
    // Runs after the tick's own slot, which was connected first.
    QObject::connect(w.Timer1, &DesignTimer::Timer, &app, [&] {
        const double heard = engine.heardSeconds();
        if (heardAtFirstLight < 0 && centreLit(w)) {
            heardAtFirstLight = heard;
            litTickAt = Clock::now();
            heardAtTickBefore = heardAtLastTick;
        }
        heardAtLastTick = heard;
    });
    const double onsetSeconds = double(kOnsetSample) / kRate;
    const QPoint lamp = w.lblVoice3[9]->geometry().center();
    OutsideWatch outside(xcb_window_t(w.winId()), lamp.x(), lamp.y());
    double serverLatencyMs = -1;
    std::vector<double> lagMs, gapMs, outsideMs, pixelMs;
    for (int trial = 0; trial < trials; ++trial) {
        heardAtFirstLight = heardAtTickBefore = heardAtLastTick = -1;
        transport.cmdStop_Click();
        runFor(50);
        outside.arm();
        transport.cmdStart_Click();
        if (!waitFor([&] { return heardAtFirstLight >= 0; }, 4000)) {
            std::fprintf(stderr, "bench_voice: trial %d: the centre lamps never lit\n", trial);
            return 1;
        }
        lagMs.push_back((heardAtFirstLight - onsetSeconds) * 1000.0);
        if (heardAtTickBefore >= 0)
            gapMs.push_back((heardAtFirstLight - heardAtTickBefore) * 1000.0);
        if (outside.ok() && waitFor([&] { return outside.seen(); }, 1000)) {
            if (serverLatencyMs < 0)
                serverLatencyMs = sinkLatencyMs(); // while this stream plays
            outsideMs.push_back(outside.lagMs(std::max(serverLatencyMs, 0.0)));
            pixelMs.push_back(outside.pixelAfterMs(litTickAt));
        }
        outside.disarm();
    }
    transport.cmdStop_Click();
    if (outsideMs.empty())
        std::printf("end to end: not measured (no X connection, parec or sound server)\n");
    else
        std::printf("end to end: median %+.1f ms, min %+.1f ms, max %+.1f ms over %zu trials (lamp's pixels on the X "
                    "server minus the onset at the sink's monitor plus the sink's reported latency, %.1f ms)\n",
                    percentile(outsideMs, 0.5), percentile(outsideMs, 0.0), percentile(outsideMs, 1.0),
                    outsideMs.size(), serverLatencyMs);
    if (!pixelMs.empty())
        std::printf("tick to pixel: median %.1f ms, min %.1f ms, max %.1f ms (the tick that lit the lamp to its pixel "
                    "changing on the X server)\n",
                    percentile(pixelMs, 0.5), percentile(pixelMs, 0.0), percentile(pixelMs, 1.0));
    std::printf("lag: median %+.1f ms, min %+.1f ms, max %+.1f ms over %d trials (negative: lit before heard; heard "
                "time between ticks: median %.1f ms)\n",
                percentile(lagMs, 0.5), percentile(lagMs, 0.0), percentile(lagMs, 1.0), trials,
                gapMs.empty() ? 0.0 : percentile(gapMs, 0.5));
    engine.vbmp3_free();
    return dialogs.messages == 0 ? 0 : 1;
}
