#include "meter/MeterController.h"
#include "support/AppRig.h"
#include "support/Screenshots.h"
#include "widgets/Colors.h"
#include "windows/FrmMetar.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace Colors;

// A loaded meter window whose arc and six gauges were given these first targets.
struct MeterRig {
    AppRig rig{{.random = AppRig::Random::Scripted}};
    FrmMetar *w = nullptr;
    MeterController *c = nullptr;

    explicit MeterRig(int arcTarget, int gaugeTarget = 0)
    {
        rig.random->values = {ScriptedRandom::forTarget(arcTarget, 36)};
        for (int n = 0; n < 6; ++n)
            rig.random->values.push_back(ScriptedRandom::forTarget(gaugeTarget, 8));
        w = &rig.app->frmMetar().get();
        c = w->findChild<MeterController *>();
    }
    void queueArcTarget(int target) { rig.random->values.push_back(ScriptedRandom::forTarget(target, 36)); }
    QString arcTick()
    {
        c->Timer2_Timer();
        return w->lblRPM->text();
    }
};

} // namespace

TEST(MeterReadout, CaptionForEveryLitCount)
{
    const char *captions[36] = {"000", "003", "005", "008", "010", "013", "015", "018", "021", "023", "026", "028",
                                "031", "034", "036", "039", "041", "044", "046", "049", "052", "054", "057", "059",
                                "062", "065", "067", "070", "072", "075", "077", "080", "083", "085", "088", "090"};
    for (int n = 0; n < 36; ++n)
        EXPECT_EQ(rpmCaption(n), QString::fromLatin1(captions[n])) << n;
}

TEST(MeterArc, ReadoutFollowsOnlyTheLampsThatChange)
{
    MeterRig m(10);
    EXPECT_EQ(m.w->lblRPM->text(), QStringLiteral("888"));
    for (int i = 0; i < 10; ++i)
        m.arcTick();
    ASSERT_EQ(m.w->lblRPM->text(), QStringLiteral("026"));

    // Rise from 10 to 14: the drawing tick and ten repaints leave it; four new lamps move it.
    m.queueArcTarget(14);
    for (int t = 0; t < 11; ++t)
        EXPECT_EQ(m.arcTick(), QStringLiteral("026")) << "tick " << t;
    for (const char *shown : {"028", "031", "034", "036"})
        EXPECT_EQ(m.arcTick(), QString::fromLatin1(shown));

    // Fall from 14 to 12: lamps 13 then 12 go out.
    m.queueArcTarget(12);
    EXPECT_EQ(m.arcTick(), QStringLiteral("034"));
    EXPECT_EQ(m.w->lblMetar[13]->color(), Grey);
    EXPECT_EQ(m.arcTick(), QStringLiteral("031"));
    EXPECT_EQ(m.w->lblMetar[12]->color(), Grey);
    EXPECT_EQ(m.w->lblMetar[11]->color(), Green);
}

TEST(MeterArc, FirstTargetZeroKeepsTheDesignReadout)
{
    MeterRig m(0);
    m.rig.random->fallback = ScriptedRandom::forTarget(0, 36);
    for (int t = 0; t < 5; ++t)
        EXPECT_EQ(m.arcTick(), QStringLiteral("888"));
}

TEST(MeterArc, LampsLightGreenYellowRedFromLeftToRight)
{
    MeterRig m(35);
    for (int i = 0; i < 35; ++i)
        m.arcTick();
    for (int i = 0; i < 35; ++i)
        EXPECT_EQ(m.w->lblMetar[size_t(i)]->color(), i <= 11 ? Green : i <= 22 ? Yellow : Red) << i;
    EXPECT_EQ(m.w->lblRPM->text(), QStringLiteral("090"));
}

TEST(MeterGauges, FullBarsLightInTheirOwnColour)
{
    MeterRig m(0, 7);
    for (int t = 0; t < 7; ++t)
        m.c->Timer1_Timer();
    for (int n = 0; n < 6; ++n)
        for (int k = 0; k < 7; ++k)
            EXPECT_EQ(m.w->lblLED[size_t(7 * (n + 1) + k)]->color(), n % 2 == 0 ? Red : Green)
                << "bar " << n << " lamp " << k;
    for (int i = 0; i <= 6; ++i)
        EXPECT_EQ(m.w->lblLED[size_t(i)]->color(), Yellow) << "static lamp " << i;
}

TEST(MeterWindow, ReloadingReturnsLampsToGreyAndTheReadoutTo888)
{
    MeterRig m(20, 7);
    for (int t = 0; t < 8; ++t) {
        m.c->Timer1_Timer();
        m.arcTick();
    }
    auto &owner = m.rig.app->frmMetar();
    owner.unload();
    FrmMetar &w = owner.get();
    for (Lamp *lamp : w.lblMetar)
        EXPECT_EQ(lamp->color(), Grey);
    for (int i = 7; i < 49; ++i)
        EXPECT_EQ(w.lblLED[size_t(i)]->color(), Grey) << i;
    EXPECT_EQ(w.lblRPM->text(), QStringLiteral("888"));
    EXPECT_EQ(w.Timer1->interval(), 70);
    EXPECT_EQ(w.Timer2->interval(), 120);
    EXPECT_EQ(owner.loadCount(), 2);
}

// The face must let every arc lamp show in part and change nothing of any other control.
TEST(GaugeFace, ShowsEveryArcLampAndHidesNoOtherControl)
{
    MeterRig m(0);
    FrmMetar &w = *m.w;
    const QColor marker(255, 0, 255);
    for (Lamp *lamp : w.lblMetar)
        lamp->setColor(toBgr(marker));
    const QImage withFace = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    w.Image1->hide();
    const QImage withoutFace = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    keepScreenshot(withFace, QStringLiteral("frmMetar-marker.png"));

    int coveredLamps = 0;
    for (int i = 0; i < FrmMetar::kArcLamps; ++i) {
        const QRect r = w.lblMetar[size_t(i)]->geometry();
        const int shown = countPixels(withFace, r, marker);
        EXPECT_GE(shown, r.width() * 3) << "arc lamp " << i << " shows at least a strip";
        if (shown < r.width() * r.height())
            ++coveredLamps;
    }
    EXPECT_EQ(coveredLamps, FrmMetar::kArcLamps) << "the face narrows every lamp to the band";

    for (QWidget *control : w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (control == w.Image1 || std::find(w.lblMetar.begin(), w.lblMetar.end(), control) != w.lblMetar.end())
            continue;
        const QRect r = control->geometry().intersected(w.rect());
        int differing = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                bool onArcLamp = false;
                for (Lamp *lamp : w.lblMetar)
                    onArcLamp = onArcLamp || lamp->geometry().contains(x, y);
                if (!onArcLamp && withFace.pixel(x, y) != withoutFace.pixel(x, y))
                    ++differing;
            }
        EXPECT_EQ(differing, 0) << control->objectName().toStdString();
    }
}

// The real window on screen: the arc lit through the face's opening, the readout, the gauge bars.
TEST(MeterWindow, ScreenshotShowsArcReadoutAndGauges)
{
    AppRig rig{{.random = AppRig::Random::Scripted}};
    rig.random->fallback = 0.999; // the arc climbs to 35 lamps and every gauge to 7, and they stay
    FrmMetar &w = rig.app->frmMetar().get();
    w.move(0, 0);
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.lblRPM->text() == QStringLiteral("090"); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.lblLED[48]->color() == Green; }, 5000));
    const QImage shot = grabOnScreen(w);
    ASSERT_FALSE(shot.isNull());
    keepScreenshot(shot, QStringLiteral("frmMetar.png"));

    int coveredSomewhere = 0;
    for (int i = 0; i < FrmMetar::kArcLamps; ++i) {
        const QRect r = w.lblMetar[size_t(i)]->geometry();
        const uint32_t expected = i <= 11 ? Green : i <= 22 ? Yellow : Red;
        EXPECT_GT(countPixels(shot, r, bgrColor(expected)), 0) << "arc lamp " << i;
        if (countPixels(shot, r, Qt::black) > 0)
            ++coveredSomewhere;
    }
    EXPECT_GT(coveredSomewhere, 30) << "the face stands in front of the arc";

    const QRect readout = w.lblRPM->geometry();
    EXPECT_GT(countPixels(shot, readout, bgrColor(Red)), 300);
    EXPECT_GT(countPixels(shot, readout, bgrColor(DimRed)), 100);
    for (int n = 0; n < 6; ++n)
        for (int k = 0; k < 7; ++k) {
            const QPoint centre = w.lblLED[size_t(7 * (n + 1) + k)]->geometry().center();
            EXPECT_EQ(shot.pixelColor(centre), bgrColor(n % 2 == 0 ? Red : Green)) << "bar " << n << " lamp " << k;
        }
}
