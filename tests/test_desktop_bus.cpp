// The player on the session bus, driven the way the desktop does it: playerctl and gdbus, as separate
// processes. The windows' labels and the sound heard on the sound server's monitor must follow.
#include "app/DesktopBus.h"
#include "support/AppRig.h"
#include "support/AudioFixtures.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>

// Failures show the text, not its code units.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kPatienceMs = 20000;
const QString kPlaying = QStringLiteral("再生中");
const QString kPaused = QStringLiteral("一時停止");
const QString kStopped = QStringLiteral("停止");

// A tool run to its end while the program under test keeps answering the bus (the event loop runs).
QString run(const QString &tool, const QStringList &args)
{
    QProcess p;
    p.start(tool, args);
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, kPatienceMs)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("<no answer>");
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString playerctl(const QStringList &args)
{
    return run(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("voicebox")} + args);
}

QString gdbus(const QString &method, const QStringList &args = {})
{
    return run(QStringLiteral("gdbus"),
               QStringList{QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                           DesktopBus::kServiceName, QStringLiteral("--object-path"), DesktopBus::kObjectPath,
                           QStringLiteral("--method"), method} +
                   args);
}

// The sound server's null sink as heard: its monitor recorded in mono, the last 100 ms looked at.
class Monitor {
public:
    explicit Monitor(const QString &sink)
    {
        recorder_.start(QStringLiteral("parec"), {QStringLiteral("--device=") + sink + QStringLiteral(".monitor"),
                                                  QStringLiteral("--format=float32le"), QStringLiteral("--rate=44100"),
                                                  QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
        QObject::connect(&recorder_, &QProcess::readyReadStandardOutput, [this] {
            recorded_ += recorder_.readAllStandardOutput();
            const qsizetype keep = kFrames * qsizetype(sizeof(float)) * 4;
            if (recorded_.size() > 2 * keep)
                recorded_.remove(0, recorded_.size() - keep - recorded_.size() % qsizetype(sizeof(float)));
        });
    }
    ~Monitor()
    {
        recorder_.terminate();
        recorder_.waitForFinished();
    }
    bool recording()
    {
        return QTest::qWaitFor([&] { return recorded_.size() > kFrames * 4; }, kPatienceMs);
    }

    // A tone near hz is heard (counted by its zero crossings), or silence.
    bool hears(double hz)
    {
        const auto [rms, frequency] = lastStretch();
        return rms > 0.05 && std::abs(frequency - hz) < hz * 0.15;
    }
    bool silent() { return lastStretch().first < 0.001; }
    std::pair<double, double> lastStretch()
    {
        const qsizetype whole = recorded_.size() / qsizetype(sizeof(float));
        if (whole < kFrames)
            return {-1, 0};
        std::vector<float> s(kFrames);
        std::memcpy(s.data(), recorded_.constData() + (whole - kFrames) * qsizetype(sizeof(float)),
                    size_t(kFrames) * sizeof(float));
        double power = 0;
        int crossings = 0;
        for (qsizetype i = 0; i < kFrames; ++i) {
            power += double(s[size_t(i)]) * s[size_t(i)];
            if (i > 0 && (s[size_t(i - 1)] < 0) != (s[size_t(i)] < 0))
                ++crossings;
        }
        return {std::sqrt(power / double(kFrames)), crossings / 2.0 / (double(kFrames) / 44100.0)};
    }

private:
    static constexpr qsizetype kFrames = 4410;
    QProcess recorder_;
    QByteArray recorded_;
};

struct DesktopBusTest : ::testing::Test {
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (scripts/run-tests runs the tests under dbus-run-session)";
        for (const char *tool : {"playerctl", "gdbus"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
    }
};

} // namespace

// playerctl opens a file, reads status and metadata, and drives play, pause, next, previous, loop and
// stop; the window's labels and the sound heard follow each command, and a follower of the bus hears
// of every change, also of those made on the window.
TEST_F(DesktopBusTest, MediaControlsDriveThePlayerAndTheWindowsAndSoundFollow)
{
    QTemporaryDir music;
    struct Track {
        const char *name;
        double hz;
    };
    const Track tracks[] = {{"a.wav", 440}, {"b.wav", 880}, {"c.wav", 1760}};
    for (const Track &t : tracks)
        ASSERT_TRUE(fixtures::writeWav(music.filePath(QString::fromLatin1(t.name)).toStdString(),
                                       fixtures::Wave{.channels = 2, .seconds = 60.0, .frequency = t.hz}));
    const QString sink = qEnvironmentVariable("VB_PULSE_SINK");
    std::unique_ptr<Monitor> monitor;
    if (!sink.isEmpty()) {
        monitor = std::make_unique<Monitor>(sink);
        ASSERT_TRUE(monitor->recording()) << "parec recorded nothing";
    }
    auto hears = [&](double hz) {
        return !monitor || QTest::qWaitFor([&] { return monitor->hears(hz); }, kPatienceMs);
    };
    auto silent = [&] { return !monitor || QTest::qWaitFor([&] { return monitor->silent(); }, kPatienceMs); };

    AppRig rig({.engine = AppRig::Engine::Real, .ownFolder = QStringLiteral(VB_BINARY_DIR), .start = true});
    rig.app->engine().vbmp3_stop(); // the start-up voice
    ASSERT_TRUE(rig.app->publishOnDesktopBus());
    FrmVoice &w = rig.w();
    auto shows = [&](const QString &state) {
        return QTest::qWaitFor([&] { return w.lblState->text() == state; }, kPatienceMs);
    };

    QProcess follower;
    follower.start(QStringLiteral("playerctl"),
                   {QStringLiteral("-p"), QStringLiteral("voicebox"), QStringLiteral("--follow"),
                    QStringLiteral("metadata"), QStringLiteral("--format"),
                    QStringLiteral("{{status}} {{xesam:title}} {{loop}}")});
    QByteArray followed;
    QObject::connect(&follower, &QProcess::readyReadStandardOutput,
                     [&] { followed += follower.readAllStandardOutput(); });
    // Each line is looked for after the one found before it, so that an earlier announcement cannot meet a
    // later check.
    qsizetype heardUpTo = 0;
    auto followerSays = [&](const QByteArray &line) {
        return QTest::qWaitFor(
            [&] {
                const qsizetype at = followed.indexOf(line + '\n', heardUpTo);
                if (at >= 0)
                    heardUpTo = at + line.size() + 1;
                return at >= 0;
            },
            kPatienceMs);
    };

    // The bus's signals as a desktop sees them.
    QProcess monitorBus;
    monitorBus.start(QStringLiteral("gdbus"), {QStringLiteral("monitor"), QStringLiteral("--session"),
                                               QStringLiteral("--dest"), DesktopBus::kServiceName});
    QByteArray signalled;
    QObject::connect(&monitorBus, &QProcess::readyReadStandardOutput,
                     [&] { signalled += monitorBus.readAllStandardOutput(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !signalled.isEmpty(); }, kPatienceMs)); // it names the owner first

    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    // OpenUri: as FILE, then START.
    const QString a = music.filePath(QStringLiteral("a.wav"));
    const QString url = QString::fromLatin1(QUrl::fromLocalFile(a).toEncoded());
    playerctl({QStringLiteral("open"), url});
    ASSERT_TRUE(shows(kPlaying));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("a.wav"));
    EXPECT_TRUE(hears(440));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                         QStringLiteral("{{xesam:title}}|{{mpris:length}}|{{xesam:url}}|{{mpris:trackid}}")}),
              QStringLiteral("a.wav|60000000|") + url +
                  QStringLiteral("|'/io/github/vortvoice/VoiceBox/track/0'")); // playerctl quotes object paths
    EXPECT_TRUE(followerSays("Playing a.wav None"));

    playerctl({QStringLiteral("pause")});
    EXPECT_TRUE(shows(kPaused));
    EXPECT_TRUE(silent());
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"));
    EXPECT_TRUE(followerSays("Paused a.wav None"));

    playerctl({QStringLiteral("play")});
    EXPECT_TRUE(shows(kPlaying));
    EXPECT_TRUE(hears(440));

    playerctl({QStringLiteral("next")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.windowTitle() == QStringLiteral("b.wav"); }, kPatienceMs));
    EXPECT_EQ(w.lblMusicCnt->text(), QStringLiteral("2"));
    EXPECT_TRUE(hears(880));
    EXPECT_TRUE(followerSays("Playing b.wav None"));

    playerctl({QStringLiteral("previous")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.windowTitle() == QStringLiteral("a.wav"); }, kPatienceMs));
    EXPECT_EQ(w.lblMusicCnt->text(), QStringLiteral("1"));
    EXPECT_TRUE(hears(440));

    // LoopStatus: REPEAT and MODE, set by pressing them.
    struct Loop {
        const char *status, *mode;
        bool repeat;
    };
    for (const Loop &l : {Loop{"Track", "SINGLE", true}, Loop{"Playlist", "ALL PLAY", true},
                          Loop{"None", "ALL PLAY", false}, Loop{"Track", "SINGLE", true}}) {
        playerctl({QStringLiteral("loop"), QString::fromLatin1(l.status)});
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.lblMode->text() == QString::fromLatin1(l.mode); }, kPatienceMs))
            << l.status;
        EXPECT_EQ(w.lblRepeat->isVisible(), l.repeat) << l.status;
        EXPECT_EQ(rig.state().RepeatOn, l.repeat ? 1 : 0) << l.status;
        EXPECT_EQ(playerctl({QStringLiteral("loop")}), QString::fromLatin1(l.status));
        EXPECT_TRUE(followerSays(QByteArray("Playing a.wav ") + l.status));
    }
    EXPECT_TRUE(hears(440)); // the play mode changed nothing that plays

    // The window's own buttons: the bus reads what they set and announces it.
    w.cmdRepeat->click();
    EXPECT_EQ(playerctl({QStringLiteral("loop")}), QStringLiteral("None"));
    EXPECT_TRUE(followerSays("Playing a.wav None"));
    w.cmdRepeat->click();
    w.cmdMode->click();
    EXPECT_EQ(playerctl({QStringLiteral("loop")}), QStringLiteral("Playlist"));
    EXPECT_TRUE(followerSays("Playing a.wav Playlist"));
    w.cmdPause->click();
    EXPECT_TRUE(followerSays("Paused a.wav Playlist"));

    playerctl({QStringLiteral("play-pause")});
    EXPECT_TRUE(shows(kPlaying));
    EXPECT_TRUE(hears(440));

    // Nothing so far jumped within a track: new tracks are announced by their metadata, not as seeks.
    // Two seconds in, so that the stop's return to 00:00 is a jump the bus has seen the start of.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            int32_t elapsed = 0;
            rig.app->engine().vbmp3_getState(elapsed);
            return elapsed >= 2;
        },
        kPatienceMs));
    EXPECT_FALSE(signalled.contains("Seeked")) << signalled.toStdString();
    playerctl({QStringLiteral("stop")});
    EXPECT_TRUE(shows(kStopped));
    EXPECT_EQ(w.lblTime->text(), QStringLiteral("00:00"));
    EXPECT_TRUE(silent());
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    EXPECT_TRUE(followerSays("Stopped a.wav Playlist"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return signalled.contains("Player.Seeked (int64 0,)"); }, kPatienceMs))
        << signalled.toStdString();
    // With nothing playing, what the window's own buttons change is still announced.
    w.cmdRepeat->click();
    EXPECT_TRUE(followerSays("Stopped a.wav None"));
    monitorBus.terminate();
    monitorBus.waitForFinished();

    follower.terminate();
    follower.waitForFinished();
}

// The root interface: what the desktop shows of the program, Raise, and Quit as CLOSE.
TEST_F(DesktopBusTest, RootInterfaceDescribesTheProgramAndQuitIsClose)
{
    AppRig rig({.start = true});
    ASSERT_TRUE(rig.app->publishOnDesktopBus());
    const QString root =
        gdbus(QStringLiteral("org.freedesktop.DBus.Properties.GetAll"), {QStringLiteral("org.mpris.MediaPlayer2")});
    for (const char *expected :
         {"'Identity': <'VORT VOICE SYSTEM'>", "'DesktopEntry': <'io.github.vortvoice.VoiceBox'>", "'CanQuit': <true>",
          "'CanRaise': <true>", "'HasTrackList': <false>", "'SupportedUriSchemes': <['file']>",
          "'SupportedMimeTypes': <['audio/mpeg', 'audio/x-wav', 'audio/wav']>"})
        EXPECT_TRUE(root.contains(QString::fromLatin1(expected))) << expected << " in " << root.toStdString();
    const QString player = gdbus(QStringLiteral("org.freedesktop.DBus.Properties.GetAll"),
                                 {QStringLiteral("org.mpris.MediaPlayer2.Player")});
    for (const char *expected :
         {"'CanControl': <true>", "'CanSeek': <false>", "'CanPlay': <false>", "'Rate': <1.0>", "'Volume': <1.0>",
          "'mpris:trackid': <objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'>"})
        EXPECT_TRUE(player.contains(QString::fromLatin1(expected))) << expected << " in " << player.toStdString();

    rig.w().hide();
    gdbus(QStringLiteral("org.mpris.MediaPlayer2.Raise"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.w().isVisible(); }, kPatienceMs));

    QSignalSpy quit(rig.app.get(), &App::quitRequested);
    rig.engine->clearCalls();
    gdbus(QStringLiteral("org.mpris.MediaPlayer2.Quit"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return quit.size() == 1; }, kPatienceMs));
    EXPECT_EQ(quit.first().first().toInt(), 0);
    // CLOSE's own path: the engine freed without the close box's stop.
    EXPECT_EQ(rig.engine->commands(), std::vector<std::string>{"free"});
}
