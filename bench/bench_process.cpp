// Runs the real program (voicebox in the build folder) as a user would, from outside, and prints:
//   first frame  time from starting the process to the main window mapped, and to its first frame on
//                screen (a voice lamp reads the unlit lamp colour and the window's corner reads black,
//                both read back from the X server);
//   instances    100 pairs started at the same moment leave exactly one running every time; 100 starts
//                after the running instance was killed with SIGKILL all run.
// Usage: bench_process [runs of the start-up] [rounds of the instance checks]. Needs an X display with
// nothing else of the program on it; uses a private runtime folder for the lock.
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

struct X11 {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t netPid = 0, netName = 0, utf8 = 0;

    X11()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            c = nullptr;
            return;
        }
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        netPid = atom("_NET_WM_PID");
        netName = atom("_NET_WM_NAME");
        utf8 = atom("UTF8_STRING");
    }
    ~X11()
    {
        if (c)
            xcb_disconnect(c);
    }
    X11(const X11 &) = delete;
    X11 &operator=(const X11 &) = delete;

    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    QByteArray property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
    {
        auto *r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 1024), nullptr);
        QByteArray out;
        if (r)
            out = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        std::free(r);
        return out;
    }

    // The viewable top-level window of pid with this title, or 0 (no window manager: the root's children).
    xcb_window_t findWindow(qint64 pid, const QByteArray &title)
    {
        auto *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        if (!tree)
            return 0;
        xcb_window_t found = 0;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t w = children[i];
            const QByteArray p = property(w, netPid, XCB_ATOM_CARDINAL);
            if (p.size() != 4 || *reinterpret_cast<const uint32_t *>(p.constData()) != uint32_t(pid))
                continue;
            auto *attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
            const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attrs);
            if (viewable && property(w, netName, utf8) == title)
                found = w;
        }
        std::free(tree);
        return found;
    }

    // The pixel at x, y of a window as 0xRRGGBB, or -1 (24-bit TrueColor screens, as Xvfb's).
    long pixel(xcb_window_t w, int x, int y)
    {
        auto *r = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
        long value = -1;
        if (r && xcb_get_image_data_length(r) >= 4) {
            uint32_t v = 0;
            std::memcpy(&v, xcb_get_image_data(r), 4);
            value = long(v & 0xFFFFFF);
        }
        std::free(r);
        return value;
    }
};

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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
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
