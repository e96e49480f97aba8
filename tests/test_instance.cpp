// Runs the real program: one instance at a time, and a clean end by the close box, POWER and SIGTERM.
#include "support/AudioFixtures.h"
#include "support/X11Probe.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <xcb/xcb.h>

namespace {

constexpr int kPatienceMs = 30000; // generous: sanitizer builds start slowly on a busy machine

// Each test gets a runtime folder of its own, so tests running side by side do not share the lock.
struct Instances : ::testing::Test {
    QTemporaryDir runtime;
    std::vector<std::unique_ptr<QProcess>> started;

    QString lockPath() const { return runtime.path() + QStringLiteral("/voicebox.lock"); }

    // home: where the file dialog starts; the user's own when empty. bus: the session bus's address; the
    // one inherited when empty.
    QProcess &start(const QString &home = {}, const QStringList &args = {}, const QString &bus = {})
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        if (!home.isEmpty())
            env.insert(QStringLiteral("HOME"), home);
        if (!bus.isEmpty())
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(VB_BINARY_DIR "/voicebox"), args);
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
    // The killed one's socket was left too; the next one listens in its place and answers a later start.
    QProcess &later = start();
    ASSERT_TRUE(later.waitForFinished(kPatienceMs));
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_TRUE(later.readAllStandardError().isEmpty()) << later.readAllStandardError().toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);
}

// A program that holds the lock but never answers: a later start says so once and still ends with 0,
// rather than hang or start a second program.
TEST_F(Instances, LaterStartGivesUpOnAProgramThatDoesNotAnswer)
{
    QTemporaryDir music;
    const QString track = music.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(fixtures::writeWav(track.toStdString(), fixtures::Wave{}));
    const int lock = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    // Connections are taken by the kernel, but nothing reads them.
    QLocalServer deaf;
    ASSERT_TRUE(deaf.listen(runtime.filePath(QStringLiteral("voicebox.socket"))));

    for (const QStringList &args : {QStringList{track}, QStringList{}}) {
        QProcess &later = start({}, args);
        ASSERT_TRUE(later.waitForFinished(kPatienceMs));
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0);
        const QByteArray said = later.readAllStandardError();
        EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
        EXPECT_TRUE(said.contains("did not answer")) << said.toStdString();
        EXPECT_EQ(said.contains("tone.wav"), !args.isEmpty()) << said.toStdString();
    }
    ::close(lock);
}

// ---- The close box, through the X server as a window manager would send it ---------------------

namespace {

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

namespace {

// The mouse and keyboard of a user, through the X server's test extension.
bool xdotool(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

bool clickAt(xcb_window_t w, int x, int y)
{
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(w), QString::number(x),
                    QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

// Stream ids PulseAudio holds for the process, one a line; empty without a server.
QByteArray soundStreamsOf(qint64 pid)
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    if (!pactl.waitForFinished(10000))
        return {};
    QByteArray streams;
    QByteArray current;
    for (const QByteArray &line : pactl.readAllStandardOutput().split('\n')) {
        if (line.startsWith("Sink Input #"))
            current = line.mid(12);
        else if (line.trimmed() == "application.process.id = \"" + QByteArray::number(pid) + '"')
            streams += current + '\n';
    }
    return streams;
}

const QByteArray kMainTitle = QByteArrayLiteral("VORT VOICE SYSTEM    Ver2.3");

// The main window once it takes input: the light sequence's last step shows START's yellow face with
// the voice lamps cleared, and lets input in at the same step. Until then either START is hidden or the
// lamps are lit; lblVoice3(0) sits at 126, 8.
xcb_window_t waitForReadyMainWindow(X11 &x, QProcess &p)
{
    xcb_window_t main = 0;
    const bool ready = QTest::qWaitFor(
        [&] {
            main = x.findWindow(p.processId(), kMainTitle);
            const long face = main ? x.pixel(main, 37, 36) : -1;
            const bool startShows = face >= 0 && (face >> 16) > 192 && ((face >> 8) & 0xFF) > 192 && (face & 0xFF) < 64;
            return (startShows && x.pixel(main, 137, 11) == 0x200000) || p.state() == QProcess::NotRunning;
        },
        kPatienceMs);
    return ready && p.state() != QProcess::NotRunning ? main : 0;
}

// What the focused text field holds, read back as a user would see it pasted: select all, copy, and ask
// the clipboard once the program has taken it.
QByteArray focusedFieldText(X11 &x)
{
    x.takeClipboard();
    if (!xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")}) ||
        !QTest::qWaitFor([&] { return x.clipboardTaken(); }, 5000))
        return {};
    return x.clipboardText(5000);
}

// Types text into the focused field over whatever it holds, until the field reads back exactly that.
bool typeIntoFocusedField(X11 &x, const QString &text)
{
    return QTest::qWaitFor(
        [&] {
            return xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}) &&
                   xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}) &&
                   focusedFieldText(x) == text.toUtf8();
        },
        kPatienceMs);
}

} // namespace

// POWER ends the program at once while a track plays: status 0, nothing said, its sound stream gone.
TEST_F(Instances, PowerEndsTheProgramWhileATrackPlays)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    X11 x;
    ASSERT_NE(x.c, nullptr);
    QTemporaryDir home;
    ASSERT_TRUE(fixtures::writeWav(home.filePath(QStringLiteral("tone.wav")).toStdString(),
                                   fixtures::Wave{.channels = 2, .seconds = 60.0}));
    QProcess &p = start(home.path());
    const xcb_window_t main = waitForReadyMainWindow(x, p);
    ASSERT_NE(main, 0u) << p.readAllStandardError().toStdString();

    // FILE, the file name typed into the dialog that starts in the home folder, START. Keys go where the
    // X server sends them: the name is typed once the dialog has the keyboard, and read back before Return.
    const QByteArray dialogTitle = QByteArrayLiteral("Open");
    ASSERT_TRUE(clickAt(main, 237, 36));
    xcb_window_t dialog = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (dialog = x.findWindow(p.processId(), dialogTitle)) != 0; }, kPatienceMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.hasFocus(dialog); }, kPatienceMs));
    ASSERT_TRUE(typeIntoFocusedField(x, QStringLiteral("tone.wav")));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.findWindow(p.processId(), "tone.wav") == main; }, kPatienceMs));
    ASSERT_TRUE(clickAt(main, 37, 36));
    // The tone lights the centre lamp lblVoice3(9) bright red: the track is heard.
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.pixel(main, 137, 101) == 0xFF0000; }, kPatienceMs));
    const bool pulse = !qEnvironmentVariableIsEmpty("VB_PULSE_SINK");
    if (pulse) {
        EXPECT_FALSE(soundStreamsOf(p.processId()).isEmpty());
    }

    const xcb_window_t power = x.findWindow(p.processId(), QStringLiteral("ＰＯＷＥＲ　ＤＩＳＰＬＡＹ").toUtf8());
    ASSERT_NE(power, 0u);
    ASSERT_TRUE(clickAt(power, 26 + 15, 270 + 35)); // cmdPower, 31 x 71 px
    ASSERT_TRUE(p.waitForFinished(kPatienceMs));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().isEmpty()) << p.readAllStandardError().toStdString();
    if (pulse) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return soundStreamsOf(p.processId()).isEmpty(); }, 5000));
    }
}

// The program ends on SIGTERM, as a session's end or a service manager asks, once its sound is open.
TEST_F(Instances, TerminationSignalEndsTheProgram)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    X11 x;
    ASSERT_NE(x.c, nullptr);
    QProcess &p = start();
    ASSERT_NE(waitForReadyMainWindow(x, p), 0u) << p.readAllStandardError().toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(kPatienceMs)) << "SIGTERM was ignored";
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit); // ended by the signal's default action
}

// A file on the command line plays once the start-up show has run; a later start with another file
// hands it over and ends at once with 0, and the running program plays it.
TEST_F(Instances, FileOnTheCommandLinePlaysAndALaterStartHandsItsFileOver)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    X11 x;
    ASSERT_NE(x.c, nullptr);
    QTemporaryDir music;
    const QString first = music.filePath(QStringLiteral("first.wav"));
    const QString second = music.filePath(QStringLiteral("second.wav"));
    for (const QString &f : {first, second})
        ASSERT_TRUE(fixtures::writeWav(f.toStdString(), fixtures::Wave{.channels = 2, .seconds = 60.0}));

    QProcess &p = start(music.path(), {first});
    xcb_window_t main = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (main = x.findWindow(p.processId(), "first.wav")) != 0 || p.state() == QProcess::NotRunning; },
        kPatienceMs));
    ASSERT_NE(main, 0u) << p.readAllStandardError().toStdString();
    // The tone lights the centre lamp lblVoice3(9) bright red: the track is heard.
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.pixel(main, 137, 101) == 0xFF0000; }, kPatienceMs));
    // PAUSE (cmdPause at 10, 90 px) darkens the lamps, so that only the handed-over file can light them.
    ASSERT_TRUE(clickAt(main, 37, 106));
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.pixel(main, 137, 101) == 0x200000; }, kPatienceMs));

    // Handed over relative to the later start's own folder.
    auto later = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    later->setProcessEnvironment(env);
    later->setWorkingDirectory(music.path());
    later->start(QStringLiteral(VB_BINARY_DIR "/voicebox"), {QStringLiteral("second.wav")});
    ASSERT_TRUE(later->waitForFinished(kPatienceMs));
    EXPECT_EQ(later->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later->exitCode(), 0);
    EXPECT_TRUE(later->readAllStandardError().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.findWindow(p.processId(), "second.wav") == main; }, kPatienceMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return x.pixel(main, 137, 101) == 0xFF0000; }, kPatienceMs));
    EXPECT_EQ(p.state(), QProcess::Running);
    EXPECT_EQ(lockOwner(), p.processId());
}

// Without a session bus the program runs as before and says so once.
TEST_F(Instances, WithoutASessionBusTheProgramRunsAndSaysSoOnce)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    X11 x;
    ASSERT_NE(x.c, nullptr);
    QProcess &p = start({}, {}, QStringLiteral("unix:path=") + runtime.filePath(QStringLiteral("no-bus")));
    ASSERT_NE(waitForReadyMainWindow(x, p), 0u) << p.readAllStandardError().toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(kPatienceMs));
    const QByteArray said = p.readAllStandardError();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("no session bus")) << said.toStdString();
}
