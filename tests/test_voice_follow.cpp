// The lamps following the desktop's sound or a microphone while no track plays: the choice, its menu and
// setting, the command line, the hand-over to a track and back, and the real program on a sound server of
// the test's own.
#include "app/CommandLine.h"
#include "support/AppRig.h"
#include "support/AudioFixtures.h"
#include "support/SoundServer.h"
#include "support/X11Probe.h"
#include "widgets/Colors.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace fixtures;

namespace {

int litCentreLamps(AppRig &rig)
{
    int lit = 0;
    for (Lamp *lamp : rig.w().lblVoice3)
        lit += lamp->color() != VoiceShade::Unlit ? 1 : 0;
    return lit;
}

void setFollowedLevel(FakeEngine &engine, int32_t value)
{
    engine.followFirst[kVoiceBand] = engine.followSecond[kVoiceBand] = value;
}

// Lets the track's tick run a good number of times.
bool trackTicks(AppRig &rig, int ticks)
{
    auto spectra = [&] { return std::count(rig.engine->calls.begin(), rig.engine->calls.end(), "getSpectrum"); };
    const auto from = spectra();
    return QTest::qWaitFor([&] { return spectra() >= from + ticks; }, 10000);
}

} // namespace

TEST(VoiceFollow, TheFollowedSoundLightsTheLampsOnlyWhileNoTrackTicks)
{
    AppRig rig{{.start = true, .follow = FollowSource::Desktop}};
    FakeEngine &engine = *rig.engine;
    EXPECT_EQ(engine.followSource, FollowSource::Desktop);
    setFollowedLevel(engine, 84);
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == 10; }, 10000));
    setFollowedLevel(engine, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == 0; }, 10000));
    setFollowedLevel(engine, 84);
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == 10; }, 10000));

    // START: the track's tick has the lamps, and its silence keeps them dark.
    rig.loadList({QStringLiteral("/m/a.mp3")}, 0);
    rig.w().cmdStart->click();
    ASSERT_EQ(engine.state, PlayStatePlaying);
    const int followedBefore = engine.followSpectrumCalls;
    ASSERT_TRUE(trackTicks(rig, 20));
    EXPECT_EQ(engine.followSpectrumCalls, followedBefore) << "the followed sound is not even read";
    EXPECT_EQ(litCentreLamps(rig), 0);

    // PAUSE and STOP give them back; the player's labels are the track's as before.
    for (ColorButton *button : {rig.w().cmdPause, rig.w().cmdStop}) {
        if (button == rig.w().cmdStop) {
            rig.w().cmdStart->click();
            ASSERT_TRUE(trackTicks(rig, 5));
            EXPECT_EQ(litCentreLamps(rig), 0);
        }
        button->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == 10; }, 10000))
            << button->objectName().toStdString();
    }
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("停止"));

    // Off: no tick of its own, and the lamps dark.
    rig.app->voiceFollow().setSource(FollowSource::Off);
    EXPECT_FALSE(rig.app->voiceFollow().ticking());
    EXPECT_EQ(engine.followSource, FollowSource::Off);
    EXPECT_EQ(litCentreLamps(rig), 0);
}

TEST(VoiceFollow, SoundArrivingOnTheEnginesThreadTicksWithoutTheSlowLook)
{
    AppRig rig{{.start = true, .follow = FollowSource::Desktop}};
    FakeEngine &engine = *rig.engine;
    ASSERT_TRUE(engine.followListener);
    setFollowedLevel(engine, 84);
    ASSERT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == 10; }, 10000)) << "the slow look lights them";
    rig.app->voiceFollow().stop();
    for (int32_t level : {0, 84, 0}) {
        setFollowedLevel(engine, level);
        std::thread([&] { engine.followListener(); }).join();
        EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(rig) == (level ? 10 : 0); }, 10000)) << level;
    }
}

// A look at the followed sound sends the lamps it changed as it ends: read through a connection of the
// test's own, with no turn of the event loop after the look.
TEST(VoiceFollow, ALooksLampChangesReachTheScreenAsItEnds)
{
    X11 x;
    ASSERT_TRUE(x.c);
    AppRig rig{{.start = true, .follow = FollowSource::Desktop}};
    FakeEngine &engine = *rig.engine;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.w()));
    rig.app->voiceFollow().stop();
    Lamp &lamp = *rig.w().lblVoice3[0];
    ASSERT_TRUE(lamp.drawnByServer());
    const QPoint at = lamp.mapTo(&rig.w(), lamp.rect().center()) * rig.w().devicePixelRatio();
    // Another client's requests may reach the server after ours, so the pixel is looked at a while, but no
    // events are run meanwhile: nothing but the look itself can have sent the change.
    const auto shows = [&](long rgb) {
        for (int i = 0; i < 500; ++i) {
            if (x.pixel(xcb_window_t(rig.w().winId()), at.x(), at.y()) == rgb)
                return true;
            QThread::msleep(10);
        }
        return false;
    };
    for (int32_t level : {84, 0, 84}) {
        setFollowedLevel(engine, level);
        rig.app->voiceFollow().Follow_Timer();
        const uint32_t bgr = lamp.color();
        EXPECT_EQ(bgr != VoiceShade::Unlit, level != 0);
        EXPECT_TRUE(shows(long(bgrColor(bgr).rgb() & 0xFFFFFF))) << level;
    }
}

TEST(VoiceFollow, NothingTicksWhenOffAndTheLightShowKeepsItsLamps)
{
    AppRig rig{{.start = true}};
    EXPECT_EQ(rig.engine->followSource, FollowSource::Off);
    EXPECT_FALSE(rig.app->voiceFollow().ticking());

    // Chosen at start: the light show keeps the lamps until it has handed over the input.
    AppRig showing{{.follow = FollowSource::Desktop}};
    setFollowedLevel(*showing.engine, 84);
    showing.app->start();
    bool followedDuringTheShow = false;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            followedDuringTheShow |= showing.w().Timer2->isTicking() && showing.engine->followSpectrumCalls > 0;
            return showing.lightShowDone();
        },
        20000));
    EXPECT_FALSE(followedDuringTheShow);
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(showing) == 10; }, 10000));
}

TEST(VoiceFollow, TheMenuOffersTheThreeChoicesSaysWhyOneCannotBeHadAndTheChoiceIsKept)
{
    {
        AppRig rig{{.start = true}};
        VoiceFollow &follow = rig.app->voiceFollow();
        // A right click on a lamp reaches the window's menu.
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2),
                                rig.w().lblVoice3[4]->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(rig.w().lblVoice3[4], &click);
        EXPECT_TRUE(QTest::qWaitFor([&] { return follow.menu().isVisible(); }, 5000));
        follow.menu().hide();
        EXPECT_TRUE(follow.action(FollowSource::Off).isChecked());

        rig.engine->followAvailability = {false, "No sound server: Connection refused"};
        follow.refreshMenu();
        for (FollowSource source : {FollowSource::Desktop, FollowSource::Microphone}) {
            EXPECT_FALSE(follow.action(source).isEnabled());
            EXPECT_EQ(follow.action(source).toolTip(), QStringLiteral("No sound server: Connection refused"));
        }
        EXPECT_TRUE(follow.action(FollowSource::Off).isEnabled());
        rig.engine->followAvailability = {true, {}};
        follow.refreshMenu();
        EXPECT_TRUE(follow.action(FollowSource::Microphone).isEnabled());

        follow.action(FollowSource::Microphone).trigger();
        EXPECT_EQ(rig.engine->followSource, FollowSource::Microphone);
        EXPECT_TRUE(follow.ticking());
        EXPECT_TRUE(follow.action(FollowSource::Microphone).isChecked());
        EXPECT_FALSE(follow.action(FollowSource::Off).isChecked());

        // The chosen source going away: the menu says why beside the check mark.
        rig.engine->followAvailability = {false, "No sound input device"};
        follow.refreshMenu();
        auto *reason = follow.menu().findChild<QAction *>(QStringLiteral("mnuFollowReason"));
        ASSERT_NE(reason, nullptr);
        EXPECT_TRUE(reason->isVisible());
        EXPECT_EQ(reason->text(), QStringLiteral("No sound input device"));
    }
    {
        AppRig rig{{.start = true}};
        EXPECT_EQ(rig.engine->followSource, FollowSource::Microphone) << "restored at start";
    }
    {
        AppRig rig{{.start = true, .follow = FollowSource::Desktop}};
        EXPECT_EQ(rig.engine->followSource, FollowSource::Desktop) << "the command line wins for its run";
    }
    {
        AppRig rig{{.start = true}};
        EXPECT_EQ(rig.engine->followSource, FollowSource::Microphone) << "and is not saved";
        rig.app->voiceFollow().action(FollowSource::Off).trigger();
    }
    AppRig rig{{.start = true}};
    EXPECT_EQ(rig.engine->followSource, FollowSource::Off);
}

TEST(VoiceFollow, CommandLineNamesTheSource)
{
    const struct {
        QStringList arguments;
        bool accepted;
        std::optional<FollowSource> follow;
    } cases[] = {
        {{}, true, std::nullopt},
        {{QStringLiteral("--follow"), QStringLiteral("off")}, true, FollowSource::Off},
        {{QStringLiteral("--follow=desktop")}, true, FollowSource::Desktop},
        {{QStringLiteral("--follow"), QStringLiteral("Microphone")}, true, FollowSource::Microphone},
        {{QStringLiteral("--follow"), QStringLiteral("speakers")}, false, std::nullopt},
        {{QStringLiteral("--follow"), QString()}, false, std::nullopt},
    };
    for (const auto &c : cases) {
        const CommandLine line = parseCommandLine(QStringList{QStringLiteral("voicebox")} + c.arguments);
        const std::string what = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(!line.exitNow, c.accepted) << what;
        EXPECT_EQ(line.exitStatus, c.accepted ? 0 : 2) << what;
        EXPECT_EQ(line.follow, c.follow) << what;
        EXPECT_EQ(line.error.isEmpty(), c.accepted) << what;
    }
}

// The real program and engine on a sound server of the test's own.
class VoiceFollowLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        if (!server.running())
            GTEST_SKIP() << "pulseaudio is needed";
        const std::string silence = folder.file("silence.wav");
        std::string command = "sox";
        ASSERT_TRUE(writeWav(silence, Wave{.seconds = 1.2, .signal = Signal::Silence}));
        for (double dbfs : {-10.0, -25.0, -18.0}) {
            const std::string tone = folder.file("tone" + std::to_string(int(-dbfs)) + ".wav");
            ASSERT_TRUE(writeWav(tone, Wave{.seconds = 0.5, .dbfs = dbfs}));
            command += " " + shellQuote(tone) + " " + shellQuote(silence);
        }
        pulses = folder.file("pulses.wav");
        ASSERT_TRUE(runQuietly(command + " " + shellQuote(pulses))) << "sox is needed";
    }

    std::unique_ptr<AppRig> startProgram(FollowSource follow)
    {
        auto rig = std::make_unique<AppRig>(AppRig::Options{.engine = AppRig::Engine::Real,
                                                            .ownFolder = QStringLiteral(VB_BINARY_DIR),
                                                            .start = true,
                                                            .follow = follow});
        // The start-up voice is on the desktop too: wait until it has played and its lamps have gone dark.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return rig->playState() == PlayStateStopped && litCentreLamps(*rig) == 0; }, 20000));
        return rig;
    }

    // The centre column's heights seen while player plays, until it has ended and the lamps are dark.
    std::vector<int> heightsWhilePlaying(AppRig &rig, pid_t player)
    {
        std::vector<int> heights;
        const bool ended = QTest::qWaitFor(
            [&] {
                heights.push_back(litCentreLamps(rig));
                return PrivateSoundServer::finished(player) && heights.back() == 0;
            },
            30000);
        EXPECT_TRUE(ended) << "the lamps stayed lit";
        PrivateSoundServer::end(player);
        return heights;
    }

    static int litStretches(const std::vector<int> &heights)
    {
        int stretches = 0;
        for (size_t i = 0; i < heights.size(); ++i)
            stretches += heights[i] > 0 && (i == 0 || heights[i - 1] == 0) ? 1 : 0;
        return stretches;
    }

    TempFolder folder;
    PrivateSoundServer server;
    std::string pulses;
};

TEST_F(VoiceFollowLive, DesktopSoundLightsTheCentreLampsAtSeveralHeightsAndTheTrackTakesThemOver)
{
    auto rig = startProgram(FollowSource::Desktop);
    const std::vector<int> heights = heightsWhilePlaying(*rig, server.play(pulses, server.sink()));
    EXPECT_EQ(litStretches(heights), 3) << "three tones, dark in their pauses";
    EXPECT_GE(std::set<int>(heights.begin(), heights.end()).size(), 4u) << "dark and at least three heights";
    EXPECT_EQ(rig->w().lblTime->text(), QStringLiteral("00:00"));

    // A long tone on the desktop, and a silent track started over it.
    const std::string tone = folder.file("long.wav"), quiet = folder.file("quiet.wav");
    ASSERT_TRUE(writeWav(tone, Wave{.seconds = 60, .dbfs = -10}));
    ASSERT_TRUE(writeWav(quiet, Wave{.seconds = 30, .signal = Signal::Silence}));
    const pid_t player = server.play(tone, server.sink());
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(*rig) == 10; }, 10000));
    rig->choose(QString::fromStdString(quiet));
    rig->w().cmdStart->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(*rig) == 0; }, 10000)) << "the track's silence";
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig->w().lblTime->text() == QStringLiteral("00:01"); }, 10000));
    EXPECT_EQ(litCentreLamps(*rig), 0);
    rig->w().cmdStop->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(*rig) == 10; }, 10000)) << "back to the desktop";
    PrivateSoundServer::end(player);
    EXPECT_TRUE(QTest::qWaitFor([&] { return litCentreLamps(*rig) == 0; }, 10000));
    EXPECT_TRUE(rig->messages().isEmpty());
}

TEST_F(VoiceFollowLive, MicrophoneStandInLightsTheLampsAndTheDesktopDoesNot)
{
    ASSERT_TRUE(server.pactl("load-module module-null-sink sink_name=vbmic"));
    ASSERT_TRUE(server.pactl("set-default-source vbmic.monitor"));
    auto rig = startProgram(FollowSource::Microphone);
    EXPECT_EQ(litStretches(heightsWhilePlaying(*rig, server.play(pulses, server.sink()))), 0);
    const std::vector<int> heights = heightsWhilePlaying(*rig, server.play(pulses, "vbmic"));
    EXPECT_EQ(litStretches(heights), 3);
    EXPECT_GE(std::set<int>(heights.begin(), heights.end()).size(), 4u);
}

TEST(VoiceFollowNoServer, TheProgramStartsTheChoiceSaysWhyAndNothingElseChanges)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    TempFolder folder;
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray("unix:") + folder.file("nobody.sock").c_str());
    std::string said[2];
    QString labels[2];
    for (FollowSource follow : {FollowSource::Off, FollowSource::Desktop}) {
        testing::internal::CaptureStderr();
        {
            AppRig rig{{.engine = AppRig::Engine::Real,
                        .ownFolder = QStringLiteral(VB_BINARY_DIR),
                        .start = true,
                        .follow = follow}};
            EXPECT_TRUE(QTest::qWaitFor([&] { return rig.playState() == PlayStateStopped; }, 20000));
            VoiceFollow &f = rig.app->voiceFollow();
            f.refreshMenu();
            for (FollowSource source : {FollowSource::Desktop, FollowSource::Microphone}) {
                EXPECT_FALSE(f.action(source).isEnabled());
                EXPECT_TRUE(f.action(source).toolTip().contains(QStringLiteral("sound server")))
                    << f.action(source).toolTip().toStdString();
            }
            EXPECT_EQ(litCentreLamps(rig), 0);
            labels[follow == FollowSource::Off ? 0 : 1] =
                properties(rig.w()) + rig.w().lblState->text() + rig.w().lblTime->text() + rig.w().windowTitle();
        }
        said[follow == FollowSource::Off ? 0 : 1] = testing::internal::GetCapturedStderr();
    }
    // The engine says once per process that it plays silently; the following adds nothing to that.
    std::string everything = said[0] + said[1];
    const std::string once = "voicebox: no sound device, playing silently\n";
    if (const size_t at = everything.find(once); at != std::string::npos)
        everything.erase(at, once.size());
    EXPECT_EQ(everything, "");
    EXPECT_EQ(labels[1], labels[0]);
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
}
