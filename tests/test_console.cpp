#include "console/Arrangement.h"
#include "support/AppRig.h"
#include "widgets/Colors.h"
#include "widgets/RowWidth.h"
#include "widgets/Twips.h"
#include "widgets/WindowGeometry.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

constexpr float kScreen = 19200; // 1280 px
constexpr float kVoiceTop = 1500;

// The program on a screen of kScreen twips; the real screen for the tests that look at it.
AppRig::Options onScreen(
    Arrangement::ScreenWidth screen = [] { return kScreen; }, bool start = false)
{
    return {.screenWidth = std::move(screen), .start = start};
}

void click(QPushButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton);
}

// The console sits under the main window: same left edge, its top at the main window's bottom edge.
void expectDocked(App &app)
{
    FrmVoice &voice = app.frmVoice();
    FrmCtl *ctl = app.frmCtl().ifLoaded();
    ASSERT_NE(ctl, nullptr);
    EXPECT_EQ(windowLeft(ctl), windowLeft(&voice));
    EXPECT_EQ(windowTop(ctl), windowTop(&voice) + 5640);
}

} // namespace

TEST(LevelButtons, MoveTheCaptionOneStepAndStopAtNine)
{
    struct Case {
        const char *before;
        char button;
        const char *after;
    };
    const Case cases[] = {
        {"  0", '+', "  1"}, {"  8", '+', "  9"}, {"  9", '+', "  9"}, {"-1", '+', "  0"},
        {"-2", '+', "-1"},   {"-9", '+', "-8"},   {"  0", '-', "-1"},  {"  1", '-', "  0"},
        {"  9", '-', "  8"}, {"-8", '-', "-9"},   {"-9", '-', "-9"},
    };
    AppRig rig(onScreen());
    App *app = rig.app.get();
    FrmCtl &ctl = app->frmCtl().get();
    EXPECT_EQ(ctl.lblLebel->text(), QStringLiteral("  0"));
    for (const auto &c : cases) {
        ctl.lblLebel->setText(QString::fromLatin1(c.before));
        click(c.button == '+' ? ctl.cmdUP : ctl.cmdDown);
        EXPECT_EQ(ctl.lblLebel->text(), QString::fromLatin1(c.after)) << c.before << " " << c.button;
    }

    // Eighteen "+" from -9 walk every text form up to "  9"; the nineteenth changes nothing.
    ctl.lblLebel->setText(QStringLiteral("-9"));
    for (int step = 1; step <= 19; ++step) {
        click(ctl.cmdUP);
        const int n = std::min(-9 + step, 9);
        const QString expected = n < 0 ? QString::number(n) : QStringLiteral("  ") + QString::number(n);
        EXPECT_EQ(ctl.lblLebel->text(), expected) << "click " << step;
        EXPECT_EQ(app->console().level(), n);
        EXPECT_EQ(app->console().levelCaption(), expected);
    }
}

TEST(ConsoleToggle, ShowsAndHidesTheDockedConsoleAndKeepsTheLevel)
{
    AppRig rig(onScreen());
    App *app = rig.app.get();
    FrmVoice &voice = app->frmVoice();
    setWindowLeft(&voice, 390.5f);
    setWindowTop(&voice, kVoiceTop);
    click(app->frmCtl().get().cmdUP);
    click(app->frmCtl().get().cmdUP);

    click(voice.cmdCtl);
    EXPECT_EQ(app->state().ConsoleOn, -1);
    EXPECT_TRUE(app->frmCtl().get().isVisible());
    EXPECT_EQ(voice.cmdCtl->caption(), QStringLiteral("CONF\r\nOFF"));
    expectDocked(*app);

    // The console follows the main window when it is toggled again.
    setWindowLeft(&voice, 1000);
    setWindowTop(&voice, 2000);
    click(voice.cmdCtl);
    EXPECT_EQ(app->state().ConsoleOn, 0);
    EXPECT_FALSE(app->frmCtl().get().isVisible());
    EXPECT_EQ(voice.cmdCtl->caption(), QStringLiteral("CONF\r\nON"));
    expectDocked(*app);
    EXPECT_EQ(app->console().level(), 2); // read while hidden

    click(voice.cmdCtl);
    EXPECT_EQ(app->state().ConsoleOn, -1);
    EXPECT_EQ(app->frmCtl().get().lblLebel->text(), QStringLiteral("  2"));
    EXPECT_EQ(app->frmCtl().loadCount(), 1);
}

namespace {

// Sets up a display state as start-up and earlier clicks leave it: each switched-on side window loaded
// (shown unless the start-up voice failed), each button's colour matching its flag, the console hidden.
void enterState(App &app, int16_t meter, int16_t power, bool sidesShown = true)
{
    AppState &s = app.state();
    s.MeterShown = meter;
    s.PowerShown = power;
    FrmCtl &ctl = app.frmCtl().get();
    ctl.cmdMetar->setFaceColor(meter ? Colors::Red : Colors::Grey);
    ctl.cmdPower->setFaceColor(power ? Colors::Red : Colors::Grey);
    setWindowLeft(&app.frmVoice(), 123.25f);
    setWindowTop(&app.frmVoice(), kVoiceTop);
    if (meter)
        app.frmMetar().get().setVisible(sidesShown);
    if (power)
        app.frmPower().get().setVisible(sidesShown);
}

} // namespace

TEST(Arrangement, EveryTransitionOfBothButtons)
{
    enum Button { Rpm, Power };
    struct Case {
        int16_t meterBefore, powerBefore;
        Button button;
        int16_t meterAfter, powerAfter;
        float voiceLeft;
        std::optional<float> meterLeft, powerLeft;
    };
    const std::nullopt_t none = std::nullopt;
    const Case cases[] = {
        {-1, -1, Rpm, 0, -1, 4320, none, 8550},   {0, -1, Rpm, -1, -1, 390, 4620, 12480},
        {-1, 0, Rpm, 0, 0, 7485, none, none},     {0, 0, Rpm, -1, 0, 3555, 7785, none},
        {-1, -1, Power, -1, 0, 3555, 7785, none}, {-1, 0, Power, -1, -1, 390, 4620, 12480},
        {0, -1, Power, 0, 0, 7485, none, none},   {0, 0, Power, 0, -1, 4320, none, 8550},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.meterBefore << ", " << c.powerBefore << ") "
                                        << (c.button == Rpm ? "RPM DISPLAY" : "POWER DISPLAY"));
        AppRig rig(onScreen());
        App *app = rig.app.get();
        enterState(*app, c.meterBefore, c.powerBefore);
        FrmCtl &ctl = app->frmCtl().get();
        const FrmMetar *meterBefore = app->frmMetar().ifLoaded();
        const FrmPower *powerBefore = app->frmPower().ifLoaded();
        const int meterLoads = app->frmMetar().loadCount();
        const int powerLoads = app->frmPower().loadCount();

        click(c.button == Rpm ? ctl.cmdMetar : ctl.cmdPower);

        const AppState &s = app->state();
        EXPECT_EQ(s.MeterShown, c.meterAfter);
        EXPECT_EQ(s.PowerShown, c.powerAfter);
        EXPECT_EQ(ctl.cmdMetar->faceColor(), c.meterAfter ? Colors::Red : Colors::Grey);
        EXPECT_EQ(ctl.cmdPower->faceColor(), c.powerAfter ? Colors::Red : Colors::Grey);
        EXPECT_EQ(windowLeft(&app->frmVoice()), c.voiceLeft);
        EXPECT_EQ(windowTop(&app->frmVoice()), kVoiceTop);

        // A window switched on is loaded afresh and shown; one switched off is unloaded; the other stays.
        const bool meterSwitchedOn = c.meterAfter && !c.meterBefore;
        const bool powerSwitchedOn = c.powerAfter && !c.powerBefore;
        EXPECT_EQ(app->frmMetar().loadCount(), meterLoads + (meterSwitchedOn ? 1 : 0));
        EXPECT_EQ(app->frmPower().loadCount(), powerLoads + (powerSwitchedOn ? 1 : 0));
        EXPECT_EQ(app->frmMetar().isLoaded(), c.meterAfter != 0);
        EXPECT_EQ(app->frmPower().isLoaded(), c.powerAfter != 0);
        if (c.meterAfter && c.meterBefore) {
            EXPECT_EQ(app->frmMetar().ifLoaded(), meterBefore);
        }
        if (c.powerAfter && c.powerBefore) {
            EXPECT_EQ(app->frmPower().ifLoaded(), powerBefore);
        }
        if (FrmMetar *m = app->frmMetar().ifLoaded()) {
            EXPECT_TRUE(m->isVisible());
            ASSERT_TRUE(c.meterLeft);
            EXPECT_EQ(windowLeft(m), *c.meterLeft);
            EXPECT_EQ(windowTop(m), kVoiceTop);
        }
        if (FrmPower *p = app->frmPower().ifLoaded()) {
            EXPECT_TRUE(p->isVisible());
            ASSERT_TRUE(c.powerLeft);
            EXPECT_EQ(windowLeft(p), *c.powerLeft);
            EXPECT_EQ(windowTop(p), kVoiceTop);
        }

        // The hidden console is docked all the same and stays hidden.
        expectDocked(*app);
        EXPECT_FALSE(ctl.isVisible());
        EXPECT_EQ(s.ConsoleOn, 0);
    }
}

// The start-up voice failed: both side windows are loaded but were never shown, both flags read -1.
TEST(Arrangement, AfterAFailedStartUpVoiceTheFirstClickUnloadsTheHiddenWindow)
{
    for (const bool rpm : {true, false}) {
        SCOPED_TRACE(rpm ? "RPM DISPLAY" : "POWER DISPLAY");
        AppRig rig(onScreen());
        App *app = rig.app.get();
        enterState(*app, -1, -1, false);
        FrmCtl &ctl = app->frmCtl().get();
        ColorButton *button = rpm ? ctl.cmdMetar : ctl.cmdPower;
        auto isLoaded = [&](bool meter) { return meter ? app->frmMetar().isLoaded() : app->frmPower().isLoaded(); };
        auto window = [&](bool meter) -> QWidget * {
            return meter ? static_cast<QWidget *>(app->frmMetar().ifLoaded()) : app->frmPower().ifLoaded();
        };

        click(button);
        EXPECT_FALSE(isLoaded(rpm));
        ASSERT_TRUE(isLoaded(!rpm));
        EXPECT_FALSE(window(!rpm)->isVisible());
        EXPECT_EQ(windowLeft(&app->frmVoice()), rpm ? 4320 : 3555);
        EXPECT_EQ(windowLeft(window(!rpm)), rpm ? 8550 : 7785);
        EXPECT_EQ(button->faceColor(), Colors::Grey);

        click(button);
        ASSERT_TRUE(isLoaded(rpm));
        EXPECT_TRUE(window(rpm)->isVisible());
        EXPECT_FALSE(window(!rpm)->isVisible());
        EXPECT_EQ(windowLeft(&app->frmVoice()), 390);
        EXPECT_EQ(button->faceColor(), Colors::Red);
        EXPECT_EQ(rpm ? app->frmMetar().loadCount() : app->frmPower().loadCount(), 2);
        expectDocked(*app);
    }
}

TEST(Arrangement, RowWidthRoundsHalfToEvenAndClampsPastSixteenBits)
{
    struct Case {
        std::initializer_list<float> widths;
        int16_t expected;
    };
    const Case cases[] = {
        {{7860, 4230, 6330}, 18420},
        {{4230.5f}, 4230},
        {{4231.5f}, 4232},
        {{0.5f}, 0},
        {{1.5f}, 2},
        {{2.5f}, 2},
        {{-0.5f}, 0},
        {{1000.25f, 0.25f}, 1000},
        {{7860, 0.25f, 0.25f}, 7860},
        {{32767.4f}, 32767},
        {{20000, 12767}, 32767},
        {{20000, 12768}, 32767},
        {{30000, 4000}, 32767},
        {{30000, 4230, 6330}, 32767},
        {{-40000}, -32768},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RowWidth(c.widths), c.expected) << *c.widths.begin();

    // A meter window too wide for 16 bits centres the row on 32767 twips instead of a wrapped width.
    AppRig rig(onScreen());
    App *app = rig.app.get();
    enterState(*app, -1, 0);
    app->frmMetar().get().setFixedSize(twipsToPixels(30000), twipsToPixels(5640));
    click(app->frmCtl().get().cmdPower);
    EXPECT_EQ(windowLeft(&app->frmVoice()), (kScreen - 32767) / 2);
    EXPECT_EQ(windowLeft(app->frmPower().ifLoaded()), 30000 + 4230 + (kScreen - 32767) / 2);
}

namespace {

// Where the X server has the window, in px; nullopt when it cannot be asked.
std::optional<QPoint> serverPosition(const QWidget *w)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(w->winId())});
    if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0)
        return std::nullopt;
    QPoint at;
    for (const QByteArray &line : xdotool.readAllStandardOutput().split('\n')) {
        if (line.startsWith("X="))
            at.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

// The real program's start-up on the real screen, its light sequence done and the main window shown.
class ArrangementOnScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs an X screen";
        rig = std::make_unique<AppRig>(onScreen(&Arrangement::primaryScreenWidth, true));
        ASSERT_TRUE(rig->lightShowDone());
        app = rig->app.get();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->frmVoice()));
    }

    std::unique_ptr<AppRig> rig;
    App *app = nullptr;
    const float screen = Arrangement::primaryScreenWidth();
};

} // namespace

// The real program's windows on the real screen: "RPM DISPLAY" takes the meter window out of the row,
// moves the power window next to the main window and centres the two-window row.
TEST_F(ArrangementOnScreen, RpmDisplayClosesUpTheRowOfShownWindows)
{
    FrmVoice &voice = app->frmVoice();
    FrmMetar &meter = app->frmMetar().get();
    FrmPower &power = app->frmPower().get();
    const float voiceTop = windowTop(&voice);
    EXPECT_EQ(windowLeft(&voice), (screen - 18420) / 2);
    EXPECT_EQ(windowLeft(&meter), windowLeft(&voice) + 4230);
    EXPECT_EQ(windowLeft(&power), windowLeft(&meter) + 7860);
    click(voice.cmdCtl);
    FrmCtl &ctl = app->frmCtl().get();
    for (QWidget *w : {static_cast<QWidget *>(&voice), static_cast<QWidget *>(&meter), static_cast<QWidget *>(&power),
                       static_cast<QWidget *>(&ctl)})
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));

    click(ctl.cmdMetar);

    EXPECT_FALSE(app->frmMetar().isLoaded());
    const int voiceLeft = twipsToPixels((screen - 10560) / 2);
    const int powerLeft = twipsToPixels((screen - 10560) / 2 + 4230);
    const int top = twipsToPixels(voiceTop);
    const int consoleTop = twipsToPixels(voiceTop + 5640);
    EXPECT_EQ(voice.frameGeometry().topLeft(), QPoint(voiceLeft, top));
    EXPECT_EQ(power.frameGeometry().topLeft(), QPoint(powerLeft, top));
    EXPECT_EQ(ctl.frameGeometry().topLeft(), QPoint(voiceLeft, consoleTop));
    EXPECT_TRUE(power.isVisible());
    EXPECT_TRUE(ctl.isVisible());

    // The X server agrees once it has taken the moves.
    if (!serverPosition(&power))
        GTEST_SKIP() << "xdotool cannot read window positions";
    const auto placed = [&] {
        return serverPosition(&voice) == QPoint(voiceLeft, top) && serverPosition(&power) == QPoint(powerLeft, top) &&
               serverPosition(&ctl) == QPoint(voiceLeft, consoleTop);
    };
    EXPECT_TRUE(QTest::qWaitFor(placed, 5000))
        << "power window at " << serverPosition(&power)->x() << "," << serverPosition(&power)->y();
}

// Another X client moves the main window, as the user's drag or a window manager does: "CONF ON" docks
// the console under its new place, and "RPM DISPLAY" re-centres the row at the window's new Top.
TEST_F(ArrangementOnScreen, WindowMovedFromOutsideIsWhereTheProgramPlacesFrom)
{
    FrmVoice &voice = app->frmVoice();

    const QPoint moved = voice.pos() + QPoint(37, 113);
    const int status =
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(voice.winId()),
                                                      QString::number(moved.x()), QString::number(moved.y())});
    ASSERT_EQ(status, 0) << "xdotool could not move the window";
    ASSERT_TRUE(QTest::qWaitFor([&] { return voice.pos() == moved; }, 5000)) << "the move never arrived";

    click(voice.cmdCtl);
    FrmCtl &ctl = app->frmCtl().get();
    const QPoint docked(moved.x(), twipsToPixels(moved.y() * kTwipsPerPixel + 5640));
    EXPECT_EQ(ctl.pos(), docked);
    EXPECT_TRUE(QTest::qWaitFor([&] { return serverPosition(&ctl) == docked; }, 5000));

    click(ctl.cmdMetar);
    const QPoint centred(twipsToPixels((screen - 10560) / 2), moved.y());
    EXPECT_EQ(voice.pos(), centred);
    EXPECT_EQ(ctl.pos(), QPoint(centred.x(), docked.y()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return serverPosition(&voice) == centred; }, 5000));
}
