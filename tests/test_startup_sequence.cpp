#include "state/AppState.h"
#include "voice/StartupSequence.h"
#include "widgets/Colors.h"
#include "windows/FrmVoice.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t Y = Colors::Yellow, G = Colors::Green, R = Colors::Red, S = Colors::Grey;

struct Look {
    int buttonsShown; // push buttons visible, counted in the order the show reveals them
    uint32_t bars;    // colour of every voice lamp
    std::array<uint32_t, 3> side, dsp;
    std::array<bool, 3> sideEnabled;
    int interval;
};

// What the window shows after each tick; the show reveals the buttons in tab order.
const Look kAfterTick[10] = {
    {2, VoiceShade::Bright, {S, S, S}, {S, S, S}, {false, false, false}, 350},
    {4, VoiceShade::Bright, {S, S, S}, {S, S, S}, {false, false, false}, 350},
    {6, VoiceShade::Bright, {Y, S, S}, {G, S, S}, {true, false, false}, 350},
    {8, VoiceShade::Bright, {S, Y, S}, {S, Y, S}, {true, true, false}, 350},
    {10, VoiceShade::Bright, {S, S, Y}, {S, S, R}, {true, true, true}, 50},
    {10, VoiceShade::Bright, {S, S, Y}, {S, S, R}, {true, true, true}, 50},
    {10, VoiceShade::Bright, {S, S, Y}, {S, S, R}, {true, true, true}, 50},
    {10, VoiceShade::Bright, {S, S, Y}, {S, S, R}, {true, true, true}, 50},
    {10, VoiceShade::Bright, {S, S, Y}, {S, S, R}, {true, true, true}, 50},
    {10, VoiceShade::Unlit, {Y, S, S}, {G, S, S}, {true, true, true}, 0},
};

// The window as the load handler leaves it before the first tick.
struct StartupFixture : ::testing::Test {
    AppState state;
    FrmVoice w;
    StartupSequence sequence{w, state};

    StartupFixture()
    {
        PrepareStartupPanel(w);
        ClearVoiceBars(w);
        w.Timer2->setInterval(350);
        w.Timer2->setEnabled(true);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    }
    ~StartupFixture() override { w.Timer2->setEnabled(false); }

    void expectLook(const Look &look, int tick)
    {
        const auto buttons = w.buttons();
        for (int b = 0; b < 10; ++b)
            EXPECT_EQ(buttons[size_t(b)]->isVisible(), b < look.buttonsShown) << "tick " << tick << " button " << b;
        for (int a = 1; a <= 6; ++a)
            for (Lamp *lamp : w.voiceArray(a))
                EXPECT_EQ(lamp->color(), look.bars) << "tick " << tick << " " << lamp->objectName().toStdString();
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(w.lblSide[i]->color(), look.side[i]) << "tick " << tick << " lblSide " << i;
            EXPECT_EQ(w.lblDsp[i]->color(), look.dsp[i]) << "tick " << tick << " lblDsp " << i;
            EXPECT_EQ(w.lblSide[i]->isEnabled(), look.sideEnabled[i]) << "tick " << tick << " lblSide " << i;
        }
        EXPECT_EQ(w.Timer2->interval(), look.interval) << "tick " << tick;
    }

    // Counts clicks that get through to START, the drive mode lamps and the keyboard.
    int clicksThrough()
    {
        int clicks = 0;
        auto c1 = QObject::connect(w.cmdStart, &QPushButton::clicked, [&] { ++clicks; });
        auto c2 = QObject::connect(&w, &FrmVoice::lblSide_Click, [&](int) { ++clicks; });
        if (w.cmdStart->isVisible())
            QTest::mouseClick(w.cmdStart, Qt::LeftButton);
        QTest::mouseClick(w.lblSide[0], Qt::LeftButton);
        QTest::keyClick(&w, Qt::Key_Return);
        QObject::disconnect(c1);
        QObject::disconnect(c2);
        return clicks;
    }
};

} // namespace

TEST_F(StartupFixture, EachTickShowsItsFrameAndTheLastSettlesOnNormal)
{
    EXPECT_TRUE(w.inputEnabled());
    for (int tick = 1; tick <= 10; ++tick) {
        sequence.Timer2_Timer();
        expectLook(kAfterTick[tick - 1], tick);
        if (tick < 10) {
            EXPECT_EQ(state.StartupStep, tick + 1);
            EXPECT_FALSE(w.inputEnabled()) << "tick " << tick;
            EXPECT_TRUE(w.Timer2->isTicking()) << "tick " << tick;
        }
    }
    EXPECT_EQ(state.StartupStep, 1);
    EXPECT_FALSE(w.Timer2->isEnabled());
    EXPECT_FALSE(w.Timer2->isTicking());
    EXPECT_TRUE(w.inputEnabled());
    EXPECT_EQ(w.focusWidget(), w.cmdStart);
}

TEST_F(StartupFixture, InputIsIgnoredFromTheFirstTickToTheLast)
{
    for (int tick = 1; tick <= 9; ++tick) {
        sequence.Timer2_Timer();
        EXPECT_EQ(clicksThrough(), 0) << "tick " << tick;
    }
    // Blocking input keeps the look: the lamps stay enabled-looking and the buttons keep their faces.
    EXPECT_TRUE(w.cmdStart->isEnabled());
    sequence.Timer2_Timer();
    EXPECT_EQ(clicksThrough(), 3); // START by mouse, lamp 0, START by Enter
}

TEST(ShowStartupStep, StepsOutsideOneToFiveChangeNothing)
{
    FrmVoice w;
    PrepareStartupPanel(w);
    ClearVoiceBars(w);
    for (int16_t step : {int16_t(0), int16_t(6), int16_t(10), int16_t(-1), int16_t(32767)}) {
        ShowStartupStep(w, step);
        for (ColorButton *b : w.buttons())
            EXPECT_TRUE(b->isHidden()) << step;
        EXPECT_EQ(w.lblVoice3[9]->color(), VoiceShade::Unlit) << step;
        EXPECT_EQ(w.lblSide[0]->color(), Colors::Grey) << step;
        EXPECT_FALSE(w.lblSide[0]->isEnabled()) << step;
        EXPECT_EQ(w.Timer2->interval(), 200) << step;
    }
}
