// The voice bars on screen with the real engine: a spoken track with a pause in it, played through
// FILE and START on the real windows, and the centre column read back from the window's pixels.
#include "playback/engine/Vbmp3Engine.h"
#include "support/AppRig.h"
#include "support/AudioFixtures.h"

#include <QImage>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>

using namespace fixtures;

namespace {

// A sound file's length in seconds as sox reads it, or -1.
double secondsOf(const std::string &path)
{
    FILE *p = popen(("soxi -D " + shellQuote(path) + " 2>/dev/null").c_str(), "r");
    if (!p)
        return -1;
    double seconds = -1;
    if (std::fscanf(p, "%lf", &seconds) != 1)
        seconds = -1;
    pclose(p);
    return seconds;
}

// Lit lamps of a centre column in a picture of the main window: lblVoice3 runs down from y 8 and
// lblVoice4 up from y 198, 10 px apart, both at x 126 (23 x 7 px). Unlit is RGB 32, 0, 0.
int litLamps(const QImage &image, bool upper)
{
    int lit = 0;
    for (int i = 0; i < 10; ++i) {
        const int y = upper ? 8 + 10 * i + 3 : 198 - 10 * i + 3;
        const QColor c = image.pixelColor(137, y);
        lit += c.red() > 50 && c.green() < 20 ? 1 : 0;
    }
    return lit;
}

struct Grab {
    double heard; // seconds into the track
    int upper, lower;
};

} // namespace

TEST(VoiceLive, CentreColumnFollowsTheSpokenWordsAndGoesDarkInThePause)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    TempFolder folder;
    const std::string one = folder.file("one.wav"), rest = folder.file("rest.wav"), gap = folder.file("gap.wav");
    const std::string track = folder.file("speech.wav");
    constexpr double kPause = 1.5; // longer than the lamps' release from a spoken level
    ASSERT_TRUE(makeSpeech(one, "One.") && makeSpeech(rest, "Two three four. Five six seven."))
        << "espeak-ng is needed";
    ASSERT_TRUE(runQuietly("sox -n -r 22050 -c 1 -b 16 " + shellQuote(gap) + " trim 0 " + std::to_string(kPause)));
    ASSERT_TRUE(runQuietly("sox " + shellQuote(one) + " " + shellQuote(gap) + " " + shellQuote(rest) + " " +
                           shellQuote(track)));
    const double pauseStart = secondsOf(one), length = secondsOf(track);
    ASSERT_GT(pauseStart, 0.2);
    const double pauseEnd = pauseStart + kPause;

    AppRig rig{{.engine = AppRig::Engine::Real, .ownFolder = QStringLiteral(VB_BINARY_DIR), .start = true}};
    ASSERT_TRUE(rig.lightShowDone());
    auto &engine = dynamic_cast<Vbmp3Engine &>(rig.app->engine());
    FakeDialogs &dialogs = *rig.dialogs;
    FrmVoice &w = rig.w();

    dialogs.fileAnswers.push_back(QString::fromStdString(track));
    QTest::mouseClick(w.cmdFile, Qt::LeftButton);
    QTest::mouseClick(w.cmdStart, Qt::LeftButton);
    int32_t elapsed = 0;
    ASSERT_EQ(engine.vbmp3_getState(elapsed), PlayStatePlaying) << dialogs.messages.join(u'\n').toStdString();

    std::vector<Grab> grabs;
    while (engine.vbmp3_getState(elapsed) == PlayStatePlaying && engine.heardSeconds() < length - 0.1 &&
           grabs.size() < 2000) {
        QTest::qWait(15);
        const double heard = engine.heardSeconds();
        const QImage image = w.grab().toImage();
        grabs.push_back({heard, litLamps(image, true), litLamps(image, false)});
    }
    engine.vbmp3_free();

    // Lamps light in the phrases' steady middles, and at several heights; none late in the pause.
    std::set<int> speakingHeights;
    int speaking = 0, speakingLit = 0, late = 0, lateLit = 0;
    for (const Grab &g : grabs) {
        EXPECT_EQ(g.upper, g.lower) << "at " << g.heard << " s the two centre columns differ";
        const bool inFirst = g.heard > 0.1 && g.heard < pauseStart - 0.1;
        const bool inRest = g.heard > pauseEnd + 0.1 && g.heard < length - 0.3;
        if (inFirst || inRest) {
            ++speaking;
            speakingLit += g.upper > 0 ? 1 : 0;
            speakingHeights.insert(g.upper);
        }
        // The release takes the lamps down from a spoken level within a second.
        if (g.heard > pauseStart + 1.0 && g.heard < pauseEnd - 0.03) {
            ++late;
            lateLit += g.upper > 0 ? 1 : 0;
        }
    }
    ASSERT_GT(speaking, 20);
    ASSERT_GT(late, 5);
    EXPECT_GT(speakingLit, speaking / 2);
    EXPECT_GE(speakingHeights.size(), 4u);
    EXPECT_EQ(lateLit, 0);
}
