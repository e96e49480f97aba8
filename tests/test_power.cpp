#include "power/PowerController.h"
#include "support/AppRig.h"
#include "support/Screenshots.h"
#include "widgets/Twips.h"
#include "widgets/Colors.h"
#include "windows/FrmPower.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace Colors;

std::vector<uint32_t> modeLamps(FrmPower &p)
{
    return {p.lblLED[27]->color(), p.lblLED[28]->color(), p.lblLED[29]->color()};
}
std::vector<uint32_t> modeFaces(FrmPower &p)
{
    return {p.cmdNormal->faceColor(), p.cmdAuto->faceColor(), p.cmdPursuit->faceColor()};
}
std::vector<uint32_t> sideLamps(FrmVoice &v)
{
    return {v.lblSide[0]->color(), v.lblSide[1]->color(), v.lblSide[2]->color()};
}
std::vector<uint32_t> panels(FrmVoice &v)
{
    return {v.lblDsp[0]->color(), v.lblDsp[1]->color(), v.lblDsp[2]->color()};
}

std::vector<uint32_t> barColors(FrmPower &p)
{
    std::vector<uint32_t> c;
    for (int i = 3; i <= 17; ++i)
        c.push_back(p.lblLED[size_t(i)]->color());
    return c;
}

} // namespace

// Both ways of choosing a mode, power window buttons and main window lamps, paint the same six
// colours on the power window and three lamps and panels on the main window.
TEST(DriveModeSelection, ButtonsAndLampsPaintBothWindows)
{
    enum Source { Button, Lamp, LampWhileUnloaded };
    struct Case {
        Source source;
        int16_t mode;
        std::vector<uint32_t> leds, faces, side, dsp;
    };
    const Case cases[] = {
        {Button, 0, {Yellow, Grey, Grey}, {Green, Grey, Grey}, {Yellow, Grey, Grey}, {Green, Grey, Grey}},
        {Button, 1, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}},
        {Button, 2, {Grey, Grey, Yellow}, {Grey, Grey, Red}, {Grey, Grey, Yellow}, {Grey, Grey, Red}},
        {Lamp, 0, {Yellow, Grey, Grey}, {Green, Grey, Grey}, {Yellow, Grey, Grey}, {Green, Grey, Grey}},
        {Lamp, 1, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}, {Grey, Yellow, Grey}},
        {Lamp, 2, {Grey, Grey, Yellow}, {Grey, Grey, Red}, {Grey, Grey, Yellow}, {Grey, Grey, Red}},
        {LampWhileUnloaded, 2, {Grey, Grey, Yellow}, {Grey, Grey, Red}, {Grey, Grey, Yellow}, {Grey, Grey, Red}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "source " << c.source << ", mode " << c.mode);
        AppRig rig{{.random = AppRig::Random::Scripted}};
        FrmVoice &voice = rig.app->frmVoice();
        if (c.source != LampWhileUnloaded) {
            FrmPower &p = rig.app->frmPower().get();
            // Start from another mode, chosen the other way, so every colour has to change.
            const int16_t other = int16_t((c.mode + 1) % 3);
            if (c.source == Button)
                QTest::mouseClick(voice.lblSide[size_t(other)], Qt::LeftButton);
            else
                (other == 0 ? p.cmdNormal : other == 1 ? p.cmdAuto : p.cmdPursuit)->click();
        }
        if (c.source == Button) {
            FrmPower &p = rig.app->frmPower().get();
            (c.mode == 0 ? p.cmdNormal : c.mode == 1 ? p.cmdAuto : p.cmdPursuit)->click();
        } else {
            QTest::mouseClick(voice.lblSide[size_t(c.mode)], Qt::LeftButton);
        }
        ASSERT_TRUE(rig.app->frmPower().isLoaded());
        FrmPower &p = rig.app->frmPower().get();
        EXPECT_EQ(modeLamps(p), c.leds);
        EXPECT_EQ(modeFaces(p), c.faces);
        EXPECT_EQ(sideLamps(voice), c.side);
        EXPECT_EQ(panels(voice), c.dsp);
        if (c.source == LampWhileUnloaded) {
            EXPECT_FALSE(p.isVisible()) << "loaded hidden";
            EXPECT_EQ(rig.app->frmPower().loadCount(), 1);
            EXPECT_EQ(p.Timer1->interval(), 70) << "its load handler ran";
        }
    }
}

TEST(PowerWindow, PowerReleasesTheEngineAndEndsWithStatusZeroWhilePlaying)
{
    AppRig rig{{.random = AppRig::Random::Scripted}};
    rig.engine->state = PlayStatePlaying;
    QSignalSpy quit(rig.app.get(), &App::quitRequested);
    rig.app->frmPower().get().cmdPower->click();
    EXPECT_EQ(rig.engine->commands(), std::vector<std::string>{"free"}) << "no stop before the release";
    ASSERT_EQ(quit.count(), 1);
    EXPECT_EQ(quit.at(0).at(0).toInt(), 0);
}

// Every load starts from dark bars and NORMAL, whatever the last load showed; the main window keeps
// its own mode.
TEST(PowerWindow, EachLoadStartsAfresh)
{
    AppRig rig{{.random = AppRig::Random::Scripted}};
    rig.random->fallback = ScriptedRandom::forTarget(5, 6);
    auto &owner = rig.app->frmPower();
    FrmPower *p = &owner.get();
    EXPECT_EQ(p->Timer1->interval(), 70);
    for (int i = 0; i < 4; ++i)
        emit p->Timer1->Timer();
    p->cmdPursuit->click();
    ASSERT_NE(barColors(*p), std::vector<uint32_t>(15, Grey));

    owner.unload();
    rig.random->values = {ScriptedRandom::forTarget(1, 6), ScriptedRandom::forTarget(2, 6),
                          ScriptedRandom::forTarget(3, 6)};
    p = &owner.get();
    EXPECT_EQ(barColors(*p), std::vector<uint32_t>(15, Grey));
    EXPECT_EQ(modeLamps(*p), (std::vector<uint32_t>{Yellow, Grey, Grey}));
    EXPECT_EQ(modeFaces(*p), (std::vector<uint32_t>{Green, Grey, Grey}));
    EXPECT_EQ(sideLamps(rig.app->frmVoice()), (std::vector<uint32_t>{Grey, Grey, Yellow}));
    const auto &bars = p->findChild<PowerController *>()->bars();
    EXPECT_EQ(bars[0].Target, 1);
    EXPECT_EQ(bars[1].Target, 2);
    EXPECT_EQ(bars[2].Target, 3);
}

// The real window on screen after its timer has run: lit bars in their colours where the lamps
// stand, the program number lit over its dim segments, NORMAL selected.
TEST(PowerWindow, ScreenshotShowsBarsProgramNumberAndNormal)
{
    AppRig rig{{.random = AppRig::Random::Scripted}};
    rig.random->fallback = ScriptedRandom::forTarget(5, 6); // every bar climbs to five and stays
    FrmPower &p = rig.app->frmPower().get();
    p.move(0, 0);
    p.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.lblLED[17]->color() == Green; }, 10000));
    const QImage shot = grabOnScreen(p);
    ASSERT_FALSE(shot.isNull());
    keepScreenshot(shot, QStringLiteral("frmPower.png"));

    const uint32_t rise[5] = {Red, Yellow, Green, Green, Green};
    for (int i = 3; i <= 17; ++i) {
        const QPoint centre = twipsRect(390 + 480 * ((i - 3) % 5), 1110 + 720 * ((i - 3) / 5), 465, 195).center();
        EXPECT_EQ(shot.pixelColor(centre), bgrColor(rise[(i - 3) % 5])) << "lamp " << i;
    }
    EXPECT_EQ(shot.pixelColor(twipsRect(2070, 3120, 465, 195).center()), bgrColor(Yellow)) << "lamp 27";
    EXPECT_EQ(shot.pixelColor(twipsRect(2070, 4050, 465, 1065).center()), bgrColor(Green)) << "NORMAL face";
    EXPECT_EQ(shot.pixelColor(twipsRect(3750, 4050, 465, 1065).center()), bgrColor(Grey)) << "AUTO face";

    // Lit segments over dim ones: the red pixels of "3725" all stand on segments of "8888".
    const QRect digits = p.Label14->geometry();
    const int lit = countPixels(shot, digits, bgrColor(Red));
    EXPECT_GT(lit, 200);
    EXPECT_GT(countPixels(shot, digits, bgrColor(DimRed)), 100);
    p.Label14->hide();
    const QImage dimOnly = grabOnScreen(p);
    int litOnDim = 0;
    for (int y = digits.top(); y <= digits.bottom(); ++y)
        for (int x = digits.left(); x <= digits.right(); ++x)
            if (shot.pixelColor(x, y) == bgrColor(Red) && dimOnly.pixelColor(x, y).red() > 80)
                ++litOnDim;
    EXPECT_GT(litOnDim, lit * 9 / 10);
}
