// Runs the real program (voicebox in the build folder) as a user would, from outside, and prints:
//   first frame  time from starting the process to the main window mapped, and to its first frame on
//                screen (a voice lamp reads the unlit lamp colour and the window's corner reads black,
//                both read back from the X server);
//   instances    100 pairs started at the same moment leave exactly one running every time; 100 starts
//                after the running instance was killed with SIGKILL all run.
// Usage: bench_process [runs of the start-up] [rounds of the instance checks]. Needs an X display with
// nothing else of the program on it; uses a private runtime folder for the lock.
#include "BenchTools.h"
#include "support/X11Probe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace {

const QByteArray kMainTitle = QByteArrayLiteral("VORT VOICE SYSTEM    Ver2.3");

bool poll(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::usleep(500);
    }
    return true;
}

// QProcess notices an end only when asked or from its event loop; this asks without waiting.
bool finished(QProcess &p)
{
    return p.state() == QProcess::NotRunning || p.waitForFinished(0);
}

double median(const std::vector<double> &v)
{
    return percentile(v, 0.5);
}

struct Runner {
    QString program;
    QTemporaryDir runtime;

    std::unique_ptr<QProcess> start()
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(program, {});
        p->waitForStarted();
        return p;
    }

    qint64 lockOwner() const
    {
        QFile f(runtime.path() + QStringLiteral("/voicebox.lock"));
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        return f.readLine().trimmed().toLongLong();
    }

    static void end(QProcess &p)
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
};

// Lamp lblVoice3(0) sits at 126, 8 (23 x 7 px) in the main window; the corner 2, 2 is background.
constexpr int kLampX = 137, kLampY = 11;
constexpr long kUnlitLamp = 0x200000; // BGR 32
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication qapp(argc, argv);
    const int startups = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    X11 x;
    if (!x.c) {
        std::fprintf(stderr, "bench_process: no X display\n");
        return 1;
    }
    Runner runner;
    runner.program = QCoreApplication::applicationDirPath() + QStringLiteral("/../voicebox");

    // ---- start to the first frame -----------------------------------------------------------------
    std::vector<double> mappedMs, paintedMs;
    for (int run = 0; run < startups; ++run) {
        QElapsedTimer clock;
        clock.start();
        auto p = runner.start();
        xcb_window_t main = 0;
        if (!poll([&] { return (main = x.findWindow(p->processId(), kMainTitle)) != 0; }, 30000)) {
            std::fprintf(stderr, "bench_process: the main window never appeared\n");
            return 1;
        }
        mappedMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!poll([&] { return x.pixel(main, kLampX, kLampY) == kUnlitLamp && x.pixel(main, 2, 2) == 0; }, 30000)) {
            std::fprintf(stderr, "bench_process: the main window was never painted\n");
            return 1;
        }
        paintedMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        Runner::end(*p);
    }
    std::printf("first frame: mapped median %.0f ms, painted median %.0f ms (min %.0f, max %.0f) over %d starts\n",
                median(mappedMs), median(paintedMs), *std::min_element(paintedMs.begin(), paintedMs.end()),
                *std::max_element(paintedMs.begin(), paintedMs.end()), startups);

    // ---- two at once ------------------------------------------------------------------------------
    int exactlyOne = 0;
    for (int round = 0; round < rounds; ++round) {
        auto a = runner.start();
        auto b = runner.start();
        const bool oneEnded = poll([&] { return finished(*a) || finished(*b); }, 30000);
        QProcess &ended = a->state() == QProcess::NotRunning ? *a : *b;
        QProcess &other = &ended == a.get() ? *b : *a;
        // The survivor holds the lock and is still running a moment later.
        const bool ok = oneEnded && ended.exitStatus() == QProcess::NormalExit && ended.exitCode() == 0 &&
                        poll([&] { return runner.lockOwner() == other.processId(); }, 10000) &&
                        !other.waitForFinished(200);
        exactlyOne += ok ? 1 : 0;
        Runner::end(*a);
        Runner::end(*b);
    }

    // ---- starts after SIGKILL ---------------------------------------------------------------------
    int restarted = 0;
    auto previous = runner.start();
    poll([&] { return runner.lockOwner() == previous->processId(); }, 30000);
    for (int round = 0; round < rounds; ++round) {
        ::kill(pid_t(previous->processId()), SIGKILL);
        previous->waitForFinished();
        auto next = runner.start();
        const bool ok =
            poll([&] { return runner.lockOwner() == next->processId(); }, 30000) && !next->waitForFinished(200);
        restarted += ok ? 1 : 0;
        previous = std::move(next);
    }
    Runner::end(*previous);
    std::printf("instances: %d of %d simultaneous pairs left exactly one running; %d of %d starts after SIGKILL "
                "ran\n",
                exactlyOne, rounds, restarted, rounds);
    return exactlyOne == rounds && restarted == rounds ? 0 : 1;
}
