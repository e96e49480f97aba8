#include "console/Level.h"
#include "playback/PlayList.h"
#include "support/AppRig.h"
#include "support/PaintCounter.h"
#include "voice/VoiceAnimation.h"
#include "widgets/Colors.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>
#include <limits>

namespace {

using Calls = std::vector<std::string>;

uint32_t shadeOf(char c)
{
    switch (c) {
    case 'B':
        return VoiceShade::Bright;
    case 'M':
        return VoiceShade::Mid;
    case 'd':
        return VoiceShade::Dim;
    default:
        return VoiceShade::Unlit;
    }
}

// Sixty colours, arrays 1 to 6, from the pattern of the centre pair and of the outer arrays
// written index 0 to 9 as "B B M d - ...".
std::vector<uint32_t> expectedLamps(const char *centre, const char *outer)
{
    auto parse = [](const char *row) {
        std::vector<uint32_t> out;
        for (const char *c = row; *c; ++c)
            if (*c != ' ')
                out.push_back(shadeOf(*c));
        return out;
    };
    const auto c = parse(centre), o = parse(outer);
    std::vector<uint32_t> all;
    for (int a = 1; a <= 6; ++a)
        all.insert(all.end(), a == 3 || a == 4 ? c.begin() : o.begin(), a == 3 || a == 4 ? c.end() : o.end());
    return all;
}

struct TickRig : AppRig {
    QString level = QStringLiteral("  0");
    TickRig()
    {
        app->voiceAnimation().setLevelCaption([this] { return level; });
        engine->state = PlayStatePlaying;
        engine->setTrack("MPEG", "x", 2, 128, 44100, 185);
        w().lblTotalTime->setText(QStringLiteral("03:05"));
    }
    void tickWith(int32_t first, int32_t second)
    {
        engine->first[128] = first;
        engine->second[128] = second;
        app->voiceAnimation().Timer1_Timer();
    }
};

} // namespace

TEST(VoiceAnimation, PatternTable)
{
    struct Row {
        int r;
        const char *centre, *outer;
    };
    const Row rows[] = {
        {0, "B B B B B B B B B B", "d M M B B B B B B B"},  {1, "M B B B B B B B B B", "d d M M B B B B B B"},
        {2, "M M B B B B B B B B", "- d d M M B B B B B"},  {3, "d M M B B B B B B B", "- - d d M M B B B B"},
        {4, "d d M M B B B B B B", "- - - d d M M B B B"},  {5, "- d d M M B B B B B", "- - - - d d M M B B"},
        {6, "- - d d M M B B B B", "- - - - - d d M M B"},  {7, "- - - d d M M B B B", "- - - - - - d d M M"},
        {8, "- - - - d d M M B B", "- - - - - - - d d M"},  {9, "- - - - - d d M M B", "- - - - - - - - d d"},
        {10, "- - - - - - d d M M", "- - - - - - - - - d"}, {11, "- - - - - - - d d M", "- - - - - - - - - -"},
        {12, "- - - - - - - - d d", "- - - - - - - - - -"}, {13, "- - - - - - - - - d", "- - - - - - - - - -"},
        {14, "- - - - - - - - - -", "- - - - - - - - - -"}, {15, "- - - - - - - - - -", "- - - - - - - - - -"},
        {40, "- - - - - - - - - -", "- - - - - - - - - -"},
    };
    TickRig rig;
    for (const Row &row : rows) {
        // At level 0, s = 6 (14 - R) gives R exactly; below zero s / 6 + level passes 14 the other way.
        const int32_t s = 6 * (14 - row.r);
        rig.lightAllLamps(VoiceShade::Mid); // whatever the last frame left
        rig.tickWith(s, s);
        EXPECT_EQ(rig.lampColors(), expectedLamps(row.centre, row.outer)) << "R " << row.r;
    }
}

TEST(VoiceAnimation, Rounding)
{
    const std::tuple<int32_t, int32_t, int32_t> means[] = {{2, 3, 2},    {3, 4, 4},    {-3, -2, -2},
                                                           {-4, -3, -4}, {84, 84, 84}, {0, 1, 0}};
    for (const auto &[a, b, s] : means)
        EXPECT_EQ(spectrumValue(a, b), s) << a << "+" << b;
    EXPECT_EQ(spectrumValue(std::numeric_limits<int32_t>::max(), 1), std::nullopt);
    EXPECT_EQ(spectrumValue(std::numeric_limits<int32_t>::min(), -1), std::nullopt);

    const std::tuple<int32_t, int16_t, int32_t> reaches[] = {{9, 0, 12},  {84, 0, 0},  {168, 0, 14}, {0, 0, 14},
                                                             {3, 0, 14},  {15, 0, 12}, {0, -9, 23},  {84, 9, 9},
                                                             {-6, 0, 15}, {90, 0, 1}};
    for (const auto &[s, level, r] : reaches)
        EXPECT_EQ(reachIndex(s, level), r) << "s " << s << " level " << level;

    const std::pair<const char *, std::optional<int16_t>> levels[] = {{"  0", 0},
                                                                      {"  9", 9},
                                                                      {"-9", -9},
                                                                      {"-1", -1},
                                                                      {"", std::nullopt},
                                                                      {"x", std::nullopt},
                                                                      {"40000", std::nullopt}};
    for (const auto &[caption, level] : levels)
        EXPECT_EQ(readLevel(QString::fromUtf8(caption)), level) << caption;
}

TEST(VoiceAnimation, TickUsesLevelAndSkipsStepsThatFail)
{
    TickRig rig;
    rig.tickWith(9, 9); // s 9: 14 - 1.5 = 12.5 goes to 12
    EXPECT_EQ(rig.lampColors(), expectedLamps("- - - - - - - - d d", "- - - - - - - - - -"));
    rig.level = QStringLiteral("  9");
    rig.tickWith(0, 0); // level alone: R 5
    EXPECT_EQ(rig.lampColors(), expectedLamps("- d d M M B B B B B", "- - - - d d M M B B"));
    rig.level = QStringLiteral("--");
    rig.tickWith(6, 4); // unreadable level: R keeps s, 5
    EXPECT_EQ(rig.lampColors(), expectedLamps("- d d M M B B B B B", "- - - - d d M M B B"));
    rig.level = QStringLiteral("  0");
    rig.tickWith(std::numeric_limits<int32_t>::max(), 84); // the sum overflows: s stays 0, R 14
    EXPECT_EQ(rig.lampColors(), std::vector<uint32_t>(60, VoiceShade::Unlit));
}

TEST(VoiceAnimation, PausedTickAndUnknownLength)
{
    TickRig rig;
    rig.engine->state = PlayStatePaused;
    rig.engine->elapsed = 75;
    rig.w().lblState->setText(QStringLiteral("一時停止"));
    rig.tickWith(84, 84);
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("一時停止"));
    EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("01:15"));
    EXPECT_EQ(rig.lampColors(), expectedLamps("B B B B B B B B B B", "d M M B B B B B B B"));
    // Set back behind the tick's back (as STOP and FILE do) within the same second: shown again.
    rig.w().lblTime->setText(QStringLiteral("00:00"));
    rig.w().lblState->setText(QStringLiteral("停止"));
    rig.engine->state = PlayStatePlaying;
    rig.tickWith(84, 84);
    EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("01:15"));
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("再生中"));

    rig.w().lblTotalTime->setText(QStringLiteral("00:00"));
    rig.w().lblTime->setText(QStringLiteral("keep"));
    rig.tickWith(0, 0);
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("再生中"));
    EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("keep"));
    EXPECT_EQ(rig.engine->calls,
              (Calls{"getState", "getSpectrum", "getState", "getSpectrum", "getState", "getSpectrum"}));
}

// The end of a track in every play mode: the calls in order, and what is shown after.
TEST(VoiceAnimation, TrackEndRows)
{
    struct Row {
        const char *name;
        int16_t single, repeat;
        int pos;
        Calls calls;
        const char *state;
        int counter;
        bool timerOn, barsDrawn;
        int messages;
    };
    const Row rows[] = {
        {"single repeat",
         1,
         1,
         1,
         {"getState", "stop", "getState", "play", "getSpectrum"},
         "再生中?",
         2,
         true,
         true,
         0},
        {"single once", 1, 0, 1, {"getState", "stop"}, "停止", 2, false, false, 0},
        {"all moving on",
         0,
         0,
         1,
         {"getState", "open:/m/c.mp3", "getState", "play", "getSpectrum"},
         "再生中?",
         3,
         true,
         true,
         0},
        {"all repeat moving on",
         0,
         1,
         0,
         {"getState", "open:/m/b.mp3", "getState", "play", "getSpectrum"},
         "再生中?",
         2,
         true,
         true,
         0},
        {"all repeat wraps",
         0,
         1,
         2,
         {"getState", "open:/m/a.mp3", "stop", "getState", "play", "getSpectrum"},
         "再生中?",
         1,
         true,
         true,
         0},
        {"all once wraps", 0, 0, 2, {"getState", "open:/m/a.mp3", "stop"}, "停止", 1, false, false, 0},
        {"next refused", 0, 1, 1, {"getState", "open:/m/c.mp3", "getLastErrorNo", "stop"}, "停止", 3, false, false, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TickRig rig;
        rig.loadList({QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3"), QStringLiteral("/m/c.mp3")}, row.pos);
        rig.state().SingleMode = row.single;
        rig.state().RepeatOn = row.repeat;
        rig.engine->state = PlayStateStopped;
        rig.engine->elapsed = 42;
        if (row.messages)
            rig.engine->openResults = {false};
        rig.w().lblState->setText(QStringLiteral("再生中?"));
        rig.w().Timer1->setInterval(5);
        rig.w().Timer1->setEnabled(true);
        rig.lightAllLamps(VoiceShade::Mid);

        rig.tickWith(84, 84);
        EXPECT_EQ(rig.engine->calls, row.calls);
        EXPECT_EQ(rig.w().lblState->text(), QString::fromUtf8(row.state));
        EXPECT_EQ(rig.w().lblMusicCnt->text(), QString::number(row.counter));
        EXPECT_EQ(rig.w().windowTitle(), titleOf(rig.state().PlayList[size_t(row.counter - 1)]));
        EXPECT_EQ(rig.w().Timer1->isTicking(), row.timerOn);
        EXPECT_EQ(rig.dialogs->messages.size(), row.messages);
        if (row.barsDrawn) {
            EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("00:42"));
            EXPECT_EQ(rig.lampColors(), expectedLamps("B B B B B B B B B B", "d M M B B B B B B B"));
        } else {
            EXPECT_EQ(rig.lampColors(), std::vector<uint32_t>(60, VoiceShade::Unlit));
        }
        rig.w().Timer1->setEnabled(false);
    }
}

// Counted where Qt paints the lamps; where the X server fills them, a frame costs no paint at all.
TEST(VoiceAnimation, OnlyLampsThatChangeAreRepainted)
{
    Lamp::setServerDrawing(false);
    TickRig rig;
    rig.w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.w()));
    rig.tickWith(84, 84);
    QCoreApplication::processEvents();
    PaintCounter counter;
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : rig.w().voiceArray(a))
            lamp->installEventFilter(&counter);
    // The same frame again paints nothing. On a busy machine a few of the first frame's lamps can still be
    // painted late, during one of these rounds, so each round counts afresh; a lamp that repaints on every
    // frame fails them all.
    for (int round = 0; round < 5; ++round) {
        counter.paints = 0;
        rig.tickWith(84, 84);
        QCoreApplication::processEvents();
        if (counter.paints == 0)
            break;
    }
    EXPECT_EQ(counter.paints, 0);
    counter.paints = 0;
    rig.tickWith(78, 78); // R 1: centre index 0, and outer 0 to 3 change
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
    EXPECT_LE(counter.paints, 2 + 4 * 4);
    Lamp::setServerDrawing(true);
}

// What the X server shows over the sixty lamps: each lamp's own colour, edge to edge, and the window's black
// between them, through frames that light, dim and darken them.
TEST(VoiceAnimation, TheScreenShowsEachLampsColour)
{
    TickRig rig;
    FrmVoice &w = rig.w();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QRect area;
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : w.voiceArray(a))
            area |= lamp->geometry();
    area.adjust(-4, -4, 4, 4); // and a margin of the window around them
    const auto expected = [&] {
        QImage image(area.size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter p(&image);
        for (int a = 1; a <= 6; ++a)
            for (Lamp *lamp : w.voiceArray(a))
                p.fillRect(lamp->geometry().translated(-area.topLeft()), bgrColor(lamp->color()));
        return image;
    };
    const auto onScreen = [&] {
        return w.screen()
            ->grabWindow(w.winId(), area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    const struct {
        const char *name;
        int32_t s;    // the spectrum value of a tick
        uint32_t all; // or, when not 0, the shade every lamp is set to
    } frames[] = {{"as designed", 0, 0},
                  {"full", 84, 0},
                  {"R 5", 54, 0},
                  {"R 9", 30, 0},
                  {"dark", 0, 0},
                  {"all dim", 0, VoiceShade::Dim},
                  {"all mid", 0, VoiceShade::Mid},
                  {"all bright", 0, VoiceShade::Bright},
                  {"R 2", 72, 0}};
    for (const auto &frame : frames) {
        SCOPED_TRACE(frame.name);
        if (frame.all)
            rig.lightAllLamps(frame.all);
        else if (&frame != &frames[0])
            rig.tickWith(frame.s, frame.s);
        const QImage want = expected();
        EXPECT_TRUE(QTest::qWaitFor([&] { return onScreen() == want; }, 5000));
    }
}

// What the lamps show for a spectrum value and a level: U unlit, D dim, M mid, B bright, from the outer
// end (0) to the centre line (9); the side columns reach three lamps less far than the centre.
TEST(VoiceLamps, SpectrumValueAndLevelToTheSixtyLamps)
{
    const struct {
        int32_t s;
        std::optional<int16_t> level;
        const char *centre, *outer;
    } rows[] = {
        {0, 0, "UUUUUUUUUU", "UUUUUUUUUU"},            // silence: R = 14, all dark
        {84, 0, "BBBBBBBBBB", "DMMBBBBBBB"},           // full: R = 0
        {42, 0, "UUUDDMMBBB", "UUUUUUDDMM"},           // R = 7
        {42, 3, "DDMMBBBBBB", "UUUDDMMBBB"},           // the level reaches further: R = 4
        {42, -9, "UUUUUUUUUU", "UUUUUUUUUU"},          // and less far: R = 16
        {45, 0, "UUDDMMBBBB", "UUUUUDDMMB"},           // R = 6.5 rounds to even 6
        {126, 0, "UUUDDMMBBB", "UUUUUUDDMM"},          // past full the reach folds back: R = |14 - 21| = 7
        {-6, 0, "UUUUUUUUUU", "UUUUUUUUUU"},           // R = 15
        {5, std::nullopt, "UDDMMBBBBB", "UUUUDDMMBB"}, // an unreadable level leaves R = s
    };
    const auto shades = [](const std::array<uint32_t, 10> &lamps) {
        std::string out;
        for (uint32_t c : lamps)
            out += c == VoiceShade::Bright ? 'B' : c == VoiceShade::Mid ? 'M' : c == VoiceShade::Dim ? 'D' : 'U';
        return out;
    };
    for (const auto &row : rows) {
        const VoiceFrame frame = voiceLamps(row.s, row.level);
        EXPECT_EQ(shades(frame.centre), row.centre) << "s " << row.s << " level " << row.level.value_or(99);
        EXPECT_EQ(shades(frame.outer), row.outer) << "s " << row.s << " level " << row.level.value_or(99);
    }
}
