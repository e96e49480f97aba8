// Runs the real program: one instance at a time, and a clean end by the close box.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace {

constexpr int kPatienceMs = 30000; // generous: sanitizer builds start slowly on a busy machine

// Each test gets a runtime folder of its own, so tests running side by side do not share the lock.
struct Instances : ::testing::Test {
    QTemporaryDir runtime;
    std::vector<std::unique_ptr<QProcess>> started;

    QString lockPath() const { return runtime.path() + QStringLiteral("/voicebox.lock"); }

    QProcess &start()
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(VB_BINARY_DIR "/voicebox"), {});
        EXPECT_TRUE(p->waitForStarted());
        started.push_back(std::move(p));
        return *started.back();
    }

    // The pid written in the lock file, 0 while there is none.
    qint64 lockOwner() const
    {
        QFile f(lockPath());
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        return f.readLine().trimmed().toLongLong();
    }

    bool waitForLockOwner(qint64 pid)
    {
        return QTest::qWaitFor([&] { return lockOwner() == pid; }, kPatienceMs);
    }

    ~Instances() override
    {
        for (auto &p : started)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    }
};

} // namespace

TEST_F(Instances, SecondStartEndsSilentlyWhileTheFirstRunsOn)
{
    QProcess &first = start();
    ASSERT_TRUE(waitForLockOwner(first.processId()));
    QProcess &second = start();
    ASSERT_TRUE(second.waitForFinished(kPatienceMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(lockOwner(), first.processId());
}

TEST_F(Instances, TwoStartedTogetherLeaveExactlyOne)
{
    for (int round = 0; round < 3; ++round) {
        QProcess &a = start();
        QProcess &b = start();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; }, kPatienceMs))
            << "round " << round;
        QProcess &ended = a.state() == QProcess::NotRunning ? a : b;
        QProcess &running = &ended == &a ? b : a;
        EXPECT_EQ(ended.exitCode(), 0) << "round " << round;
        EXPECT_EQ(running.state(), QProcess::Running)
            << "round " << round << ": the other ended with status " << running.exitStatus() << ", code "
            << running.exitCode() << ", saying " << running.readAllStandardError().toStdString();
        EXPECT_TRUE(waitForLockOwner(running.processId()))
            << "round " << round << ": the lock names " << lockOwner() << ", the running instance is "
            << running.processId() << ", the one that ended was " << ended.processId();
        running.terminate();
        running.waitForFinished();
    }
}

TEST_F(Instances, LockOfAKilledInstanceDoesNotBlockTheNextStart)
{
    QProcess &killed = start();
    ASSERT_TRUE(waitForLockOwner(killed.processId()));
    ::kill(pid_t(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(kPatienceMs));
    ASSERT_TRUE(QFile::exists(lockPath())); // left behind
    QProcess &next = start();
    EXPECT_TRUE(waitForLockOwner(next.processId()));
    EXPECT_EQ(next.state(), QProcess::Running);
}

// ---- The close box, through the X server as a window manager would send it ---------------------

namespace {

struct X11 {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;

    X11()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            c = nullptr;
            return;
        }
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~X11()
    {
        if (c)
            xcb_disconnect(c);
    }

    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }

    QByteArray property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
    {
        auto *r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 1024), nullptr);
        QByteArray out;
        if (r)
            out = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        free(r);
        return out;
    }

    // A mapped top-level window of the process with exactly this title, or 0. Without a window manager
    // the top-level windows are the root's children.
    xcb_window_t findWindow(qint64 pid, const QByteArray &title)
    {
        const xcb_atom_t netPid = atom("_NET_WM_PID"), netName = atom("_NET_WM_NAME"), utf8 = atom("UTF8_STRING");
        auto *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        xcb_window_t found = 0;
        if (!tree)
            return 0;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t w = children[i];
            const QByteArray p = property(w, netPid, XCB_ATOM_CARDINAL);
            if (p.size() != 4 || *reinterpret_cast<const uint32_t *>(p.constData()) != uint32_t(pid))
                continue;
            auto *attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
            const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attrs);
            if (viewable && property(w, netName, utf8) == title)
                found = w;
        }
        free(tree);
        return found;
    }

    QRect geometry(xcb_window_t w)
    {
        auto *g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        auto *t = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr);
        QRect r = g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
        free(g);
        free(t);
        return r;
    }

    void sendClose(xcb_window_t w)
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = atom("WM_PROTOCOLS");
        ev.data.data32[0] = atom("WM_DELETE_WINDOW");
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(c);
    }
};

} // namespace

TEST_F(Instances, CloseBoxEndsTheProgramWithStatusZero)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    X11 x;
    ASSERT_NE(x.c, nullptr);
    QProcess &p = start();
    const QByteArray mainTitle = QByteArrayLiteral("VORT VOICE SYSTEM    Ver2.3");
    const QByteArray boxTitle = QByteArrayLiteral("VORT VOICE SYSTEM");
    xcb_window_t main = 0;
    // A start-up voice the engine refuses brings its message box first; closing it answers it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (xcb_window_t box = x.findWindow(p.processId(), boxTitle))
                x.sendClose(box);
            main = x.findWindow(p.processId(), mainTitle);
            return main != 0 || p.state() == QProcess::NotRunning;
        },
        kPatienceMs));
    ASSERT_NE(main, 0u) << p.readAllStandardError().toStdString();

    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data;
    if (screen->width_in_pixels == 1280 && screen->height_in_pixels == 1024) {
        EXPECT_EQ(x.geometry(main), QRect(26, 324, 276, 351));
    }

    x.sendClose(main);
    ASSERT_TRUE(p.waitForFinished(kPatienceMs));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().isEmpty()) << p.readAllStandardError().toStdString();
}

// Log-out and system shutdown send SIGTERM; the program must end on it, also while sound plays.
TEST_F(Instances, TerminationSignalEndsTheProgramWhileItPlays)
{
    QProcess &p = start();
    ASSERT_TRUE(waitForLockOwner(p.processId()));
    QTest::qWait(500); // the start-up voice is playing by now
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(kPatienceMs));
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit); // ended by the signal's default action
}
