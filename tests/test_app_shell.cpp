#include "app/App.h"
#include "app/SingleInstance.h"
#include "playback/engine/EngineFactory.h"
#include "support/FakeDialogs.h"
#include "support/FakeEngine.h"
#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/RowWidth.h"
#include "widgets/WindowGeometry.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QRect px(int l, int t, int w, int h)
{
    return QRect(l / 15, t / 15, w / 15, h / 15);
}

QString accessibleText(QWidget *w, QAccessible::Text which)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(which) : QString();
}

QSizeF screenTwips()
{
    const QSize s = QGuiApplication::primaryScreen()->geometry().size();
    return QSizeF(s.width() * 15.0, s.height() * 15.0);
}

} // namespace

// ---- The main window as created -------------------------------------------------------------

TEST(FrmVoiceLayout, WindowIsFixedWithTitleBarCloseAndMinimiseOnly)
{
    FrmVoice w;
    EXPECT_EQ(w.objectName(), QStringLiteral("frmVoice"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("VORT VOICE SYSTEM    Ver2.3"));
    EXPECT_EQ(w.minimumSize(), QSize(276, 351));
    EXPECT_EQ(w.maximumSize(), QSize(276, 351));
    const Qt::WindowFlags f = w.windowFlags();
    EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Window); // a taskbar entry, unlike the tool windows beside it
    EXPECT_TRUE(f & Qt::WindowTitleHint);
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f & Qt::FramelessWindowHint);
    EXPECT_EQ(toBgr(w.palette().color(QPalette::Window)), 0u);
    EXPECT_EQ(QFontInfo(w.font()).family(), QStringLiteral("IPAPGothic"));
}

TEST(FrmVoiceLayout, PushButtonsMatchTheTableInTabOrder)
{
    struct Row {
        const char *name, *caption;
        int left, top;
        uint32_t face;
        int pixelSize; // points at 96 dpi
        const char *tooltip;
    };
    const Row rows[] = {
        {"cmdStart", "START", 150, 300, 65535, 12, "再生"},
        {"cmdFile", "FILE", 3150, 300, 65535, 12, "音声ﾌｧｲﾙｵｰﾌﾟﾝ"},
        {"cmdPause", "PAUSE", 150, 1350, 65535, 12, "一時停止"},
        {"cmdStop", "STOP", 3150, 1350, 65535, 12, "停止"},
        {"cmdPrev", "SKIP PREV", 150, 2400, 255, 12, "前の曲"},
        {"cmdNext", "SKIP NEXT", 3150, 2400, 255, 12, "次の曲"},
        {"cmdRepeat", "REPEAT", 150, 3450, 255, 11, "リピート"},
        {"cmdMode", "MODE", 3150, 3450, 255, 12, "再生ﾓｰﾄﾞ"},
        {"cmdCtl", "CTL ON", 150, 4500, 255, 13, "常に表示"},
        {"cmdClose", "CLOSE", 3150, 4500, 255, 12, "閉じる"},
    };
    FrmVoice w;
    const auto buttons = w.buttons();
    QWidget *expectedNext = nullptr;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &r = rows[i];
        auto *b = w.findChild<ColorButton *>(QString::fromUtf8(r.name));
        ASSERT_NE(b, nullptr) << r.name;
        EXPECT_EQ(b, buttons[i]) << r.name;
        EXPECT_EQ(b->caption(), QString::fromUtf8(r.caption)) << r.name;
        EXPECT_EQ(b->geometry(), px(r.left, r.top, 825, 495)) << r.name;
        EXPECT_EQ(b->faceColor(), r.face) << r.name;
        EXPECT_EQ(b->font().pixelSize(), r.pixelSize) << r.name;
        EXPECT_EQ(b->font().weight(), QFont::Bold) << r.name;
        EXPECT_EQ(QFontInfo(b->font()).family(), QStringLiteral("IPAPGothic")) << r.name;
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(r.tooltip)) << r.name;
        EXPECT_EQ(accessibleText(b, QAccessible::Name), QString::fromUtf8(r.caption)) << r.name;
        EXPECT_EQ(accessibleText(b, QAccessible::Description), QString::fromUtf8(r.tooltip)) << r.name;
        if (expectedNext) {
            EXPECT_EQ(b, expectedNext) << r.name << " out of tab order";
        }
        // The next widget that Tab reaches.
        QWidget *next = b->nextInFocusChain();
        while (next != b && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        expectedNext = next;
    }
    EXPECT_EQ(expectedNext, w.cmdStart); // the chain closes
}

TEST(FrmVoiceLayout, FramesLampsAndPanelsStandWhereDesigned)
{
    FrmVoice w;
    // Label1 index to the button it frames; each frame lies behind its button.
    const char *framed[10] = {"cmdFile", "cmdStart",  "cmdPause", "cmdPrev", "cmdStop",
                              "cmdNext", "cmdRepeat", "cmdCtl",   "cmdMode", "cmdClose"};
    const QObjectList &children = w.children();
    for (size_t i = 0; i < 10; ++i) {
        auto *b = w.findChild<ColorButton *>(QString::fromUtf8(framed[i]));
        QLabel *frame = w.Label1[i];
        EXPECT_EQ(frame->geometry(), b->geometry().adjusted(-2, -2, 2, 2)) << i;
        EXPECT_TRUE(frame->text().isEmpty());
        EXPECT_FALSE(frame->autoFillBackground()) << i; // transparent inside
        EXPECT_NE(frame->frameShape(), QFrame::NoFrame) << i;
        EXPECT_LT(children.indexOf(frame), children.indexOf(b)) << i;
    }

    // Design colours, outer end (index 0) to the centre line (index 9).
    const uint32_t outer[10] = {32, 32, 32, 32, 131146, 131146, 786581, 786581, 255, 255};
    const uint32_t upperCentre[10] = {32, 32, 131146, 131146, 786581, 786581, 255, 255, 255, 255};
    const uint32_t lowerCentre[10] = {32, 32, 131146, 131146, 786581, 852132, 255, 255, 255, 255};
    for (int a = 1; a <= 6; ++a) {
        const int left = a <= 2 ? 1260 : a <= 4 ? 1890 : 2520;
        const uint32_t *colours = a == 3 ? upperCentre : a == 4 ? lowerCentre : outer;
        for (int i = 0; i < 10; ++i) {
            Lamp *lamp = w.voiceArray(a)[size_t(i)];
            const int top = a % 2 ? 120 + 150 * i : 2970 - 150 * i;
            EXPECT_EQ(lamp->geometry(), px(left, top, 345, 105)) << a << "," << i;
            EXPECT_EQ(lamp->color(), colours[i]) << a << "," << i;
        }
    }
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(w.lblSide[i]->geometry(), px(1170, 3150 + 660 * int(i), 285, 645));
        EXPECT_EQ(w.lblDsp[i]->geometry(), px(1710, 3150 + 660 * int(i), 1245, 645));
        EXPECT_EQ(w.lblSide[i]->color(), Colors::Grey);
        EXPECT_EQ(w.lblDsp[i]->color(), Colors::Grey);
        EXPECT_TRUE(w.lblSide[i]->isEnabled());
    }
    EXPECT_EQ(QFontInfo(w.lblDsp[0]->font()).family(), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(w.lblDsp[0]->font().pixelSize(), 15);
    EXPECT_EQ(w.Timer1->interval(), 60);
    EXPECT_FALSE(w.Timer1->isEnabled());
    EXPECT_EQ(w.Timer2->interval(), 200);
    EXPECT_TRUE(w.Timer2->isEnabled());
}

TEST(FrmVoiceLayout, InformationLabelsMatchTheTable)
{
    struct Row {
        const char *name, *caption;
        int left, top, width, height;
        Qt::Alignment align;
        int pixelSize; // 0: the window's default font
    };
    const auto R = Qt::AlignRight, L = Qt::AlignLeft, C = Qt::AlignHCenter;
    const Row rows[] = {
        {"lblMusicCnt", "99", 1740, 3150, 255, 195, R, 13},    {"Label6", "/", 1980, 3180, 135, 165, L, 0},
        {"lblTotal", "99", 2100, 3150, 225, 195, L, 13},       {"lblRepeat", "REPEAT", 2340, 3180, 615, 165, C, 11},
        {"Label3", "再生時間", 1740, 3390, 765, 195, L, 0},    {"lblTime", "00:00", 1770, 3570, 495, 195, C, 13},
        {"Label2", "/", 2280, 3570, 135, 195, C, 13},          {"lblTotalTime", "00:00", 2430, 3570, 495, 195, C, 13},
        {"lblMode", "ALL PLAY", 1710, 3840, 1245, 195, C, 15}, {"lblState", "停止", 1710, 4170, 1245, 285, C, 16},
        {"lblChannel", "STEREO", 1740, 4500, 765, 165, C, 0},  {"lblRate", "0", 1770, 4680, 495, 195, R, 0},
        {"Label5", "kHz", 2340, 4680, 405, 195, L, 0},         {"lblBit", "0", 1770, 4890, 495, 195, R, 0},
        {"lblBitLbl", "kbit/s", 2310, 4890, 645, 195, L, 0},
    };
    FrmVoice w;
    const QObjectList &children = w.children();
    for (const Row &r : rows) {
        auto *label = w.findChild<QLabel *>(QString::fromUtf8(r.name));
        ASSERT_NE(label, nullptr) << r.name;
        EXPECT_EQ(label->text(), QString::fromUtf8(r.caption)) << r.name;
        EXPECT_EQ(accessibleText(label, QAccessible::Name), QString::fromUtf8(r.caption)) << r.name;
        EXPECT_EQ(label->geometry(), px(r.left, r.top, r.width, r.height)) << r.name;
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, r.align) << r.name;
        EXPECT_FALSE(label->autoFillBackground()) << r.name;
        EXPECT_EQ(label->frameShape(), QFrame::NoFrame) << r.name;
        EXPECT_EQ(labelTextColor(label), 0u) << r.name;
        EXPECT_EQ(QFontInfo(label->font()).family(), QStringLiteral("IPAPGothic")) << r.name;
        EXPECT_EQ(label->font().weight(), QFont::Normal) << r.name;
        EXPECT_EQ(label->font().pixelSize(), r.pixelSize ? r.pixelSize : w.font().pixelSize()) << r.name;
        for (Lamp *panel : w.lblDsp)
            EXPECT_LT(children.indexOf(panel), children.indexOf(label)) << r.name << " behind a panel";
    }
}

// ---- Start-up and shutdown --------------------------------------------------------------------

namespace {

struct AppFixture : ::testing::Test {
    QTemporaryDir folder;
    FakeEngine *engine = nullptr;
    FakeDialogs *dialogs = nullptr;
    std::unique_ptr<App> app;

    QString voicePath() const { return folder.path() + QStringLiteral("/voice_kidou.wav"); }

    void makeApp(std::unique_ptr<AudioEngine> realEngine = nullptr)
    {
        AppParts parts;
        if (realEngine) {
            parts.engine = std::move(realEngine);
        } else {
            auto fake = std::make_unique<FakeEngine>();
            engine = fake.get();
            parts.engine = std::move(fake);
        }
        auto fakeDialogs = std::make_unique<FakeDialogs>();
        dialogs = fakeDialogs.get();
        parts.dialogs = std::move(fakeDialogs);
        parts.random = std::make_unique<ClockRandom>();
        parts.ownFolder = folder.path();
        app = std::make_unique<App>(std::move(parts));
    }

    void runLightShow()
    {
        for (int tick = 0; tick < 10; ++tick)
            emit app->frmVoice().Timer2->Timer();
    }
};

} // namespace

TEST_F(AppFixture, StartUpPlacesTheRowPlaysTheVoiceAndSetsStartValues)
{
    makeApp();
    app->state().RepeatOn = 1; // the load handler gives every flag its start value
    app->state().ConsoleOn = -1;
    app->start();
    FrmVoice &v = app->frmVoice();

    EXPECT_EQ(engine->commands(), (std::vector<std::string>{"init", "open:" + voicePath().toStdString(), "play"}));
    EXPECT_TRUE(dialogs->messages.isEmpty());

    // The row of three windows is centred on the screen, the main window also vertically.
    const QSizeF screen = screenTwips();
    const float left = float((screen.width() - 18420) / 2.0), top = float((screen.height() - 5640) / 2.0);
    EXPECT_EQ(windowLeft(&v), left);
    EXPECT_EQ(windowTop(&v), top);
    EXPECT_EQ(windowWidth(&v), 4230.0f);
    EXPECT_EQ(windowHeight(&v), 5640.0f);
    FrmMetar *metar = app->frmMetar().ifLoaded();
    FrmPower *power = app->frmPower().ifLoaded();
    FrmCtl *ctl = app->frmCtl().ifLoaded();
    ASSERT_TRUE(metar && power && ctl);
    EXPECT_EQ(windowLeft(metar), left + 4230);
    EXPECT_EQ(windowLeft(power), left + 4230 + 7860);
    EXPECT_EQ(windowTop(metar), top);
    EXPECT_EQ(windowTop(power), top);
    EXPECT_TRUE(metar->isVisible());
    EXPECT_TRUE(power->isVisible());
    EXPECT_EQ(windowLeft(ctl), left);
    EXPECT_EQ(windowTop(ctl), top + 5640);
    EXPECT_FALSE(ctl->isVisible());
    EXPECT_TRUE(v.isVisible());
    // Without a window manager the client area stands at the outer corner (1280 x 1024: 26, 324).
    EXPECT_EQ(v.geometry(), QRect(qRound(left / 15), qRound(top / 15), 276, 351));
    EXPECT_EQ(metar->pos(), QPoint(qRound((left + 4230) / 15), qRound(top / 15)));
    EXPECT_EQ(power->pos(), QPoint(qRound((left + 12090) / 15), qRound(top / 15)));

    const AppState &s = app->state();
    EXPECT_EQ(s.StartupStep, 1);
    EXPECT_EQ(s.ListLoaded, 0);
    EXPECT_EQ(s.SingleMode, 0);
    EXPECT_EQ(s.RepeatOn, 0);
    EXPECT_EQ(s.ConsoleOn, 0);
    EXPECT_EQ(s.MeterShown, -1);
    EXPECT_EQ(s.PowerShown, -1);
    EXPECT_TRUE(s.CurrentFile.isEmpty());
    EXPECT_EQ(s.PlayCount, 0);

    EXPECT_EQ(v.cmdCtl->caption(), QStringLiteral("CONF\r\nON"));
    EXPECT_EQ(v.cmdMode->caption(), QStringLiteral("MODE"));
    EXPECT_EQ(v.cmdNext->caption(), QStringLiteral("SKIP\r\nNEXT"));
    EXPECT_EQ(v.cmdPrev->caption(), QStringLiteral("SKIP\r\nPREV"));
    EXPECT_EQ(v.lblMode->text(), QStringLiteral("ALL PLAY"));
    EXPECT_EQ(v.lblMusicCnt->text(), QStringLiteral("0"));
    EXPECT_EQ(v.lblTotal->text(), QStringLiteral("0"));
    EXPECT_TRUE(v.lblRepeat->isHidden());
    EXPECT_EQ(v.windowTitle(), QStringLiteral("VORT VOICE SYSTEM    Ver2.3"));
    for (ColorButton *b : v.buttons())
        EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(v.lblVoice4[5]->color(), VoiceShade::Unlit);
    EXPECT_EQ(v.Timer1->interval(), 0);
    EXPECT_FALSE(v.Timer1->isEnabled());
    EXPECT_EQ(v.Timer2->interval(), 350);
    EXPECT_TRUE(v.Timer2->isTicking());

    for (QWidget *w : {static_cast<QWidget *>(&v), static_cast<QWidget *>(metar), static_cast<QWidget *>(power)})
        EXPECT_FALSE(w->windowIcon().pixmap(32).isNull()) << w->objectName().toStdString();
}

TEST_F(AppFixture, RefusedVoiceShowsOneBoxAndTheMainWindowAlone)
{
    for (int32_t error : {ErrNotFound, ErrEmpty, ErrNotAudio}) {
        makeApp();
        engine->openResult = false;
        engine->errorOnFailure = error;
        app->start();
        EXPECT_EQ(dialogs->messages.join(u'|').toStdString(),
                  QStringLiteral("ErrNo : %1 Open Error").arg(error).toStdString());
        EXPECT_EQ(engine->commands(), (std::vector<std::string>{"init", "open:" + voicePath().toStdString()}));
        // The side windows were loaded by the placement, but are neither placed nor shown.
        ASSERT_TRUE(app->frmMetar().isLoaded());
        EXPECT_FALSE(app->frmMetar().ifLoaded()->isVisible());
        EXPECT_FALSE(app->frmPower().ifLoaded()->isVisible());
        EXPECT_TRUE(app->frmVoice().isVisible());
        EXPECT_EQ(app->state().MeterShown, -1);
        EXPECT_EQ(app->state().PowerShown, -1);
    }
}

TEST_F(AppFixture, MissingEmptyOrForeignVoiceFailsWithTheRealEngine)
{
    struct Case {
        const char *what;
        QByteArray content; // empty with create false: no file at all
        bool create;
    };
    const Case cases[] = {{"missing", {}, false}, {"empty", {}, true}, {"not audio", "just some text\n", true}};
    for (const Case &c : cases) {
        QFile::remove(voicePath());
        if (c.create) {
            QFile f(voicePath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
        }
        makeApp(createAudioEngine());
        app->start();
        ASSERT_EQ(dialogs->messages.size(), 1) << c.what;
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^ErrNo : [0-9]+ Open Error$"))
                        .match(dialogs->messages.front())
                        .hasMatch())
            << c.what << ": " << dialogs->messages.front().toStdString();
        EXPECT_FALSE(app->frmMetar().ifLoaded()->isVisible()) << c.what;
        EXPECT_FALSE(app->frmPower().ifLoaded()->isVisible()) << c.what;
        runLightShow();
        EXPECT_EQ(app->frmVoice().focusWidget(), app->frmVoice().cmdStart) << c.what;
        app.reset();
    }
}

TEST_F(AppFixture, VoiceIsFoundBesideTheProgramOrInTheInstalledDataFolder)
{
    QDir root(folder.path());
    root.mkpath(QStringLiteral("bin"));
    root.mkpath(QStringLiteral("share/voicebox"));
    const QString bin = folder.path() + QStringLiteral("/bin");
    const QString beside = bin + QStringLiteral("/voice_kidou.wav");
    const QString installed = folder.path() + QStringLiteral("/share/voicebox/voice_kidou.wav");
    auto pathWith = [&] {
        AppParts parts;
        parts.engine = std::make_unique<FakeEngine>();
        parts.dialogs = std::make_unique<FakeDialogs>();
        parts.random = std::make_unique<ClockRandom>();
        parts.ownFolder = bin;
        return App(std::move(parts)).startupVoicePath();
    };
    EXPECT_EQ(pathWith(), beside); // neither: the open reports the missing file
    QFile(installed).open(QIODevice::WriteOnly);
    EXPECT_EQ(pathWith(), installed);
    QFile(beside).open(QIODevice::WriteOnly);
    EXPECT_EQ(pathWith(), beside);
}

TEST_F(AppFixture, CloseBoxStopsFreesUnloadsAndEnds)
{
    makeApp();
    app->start();
    runLightShow();
    QSignalSpy quit(app.get(), &App::quitRequested);
    engine->clearCalls();
    app->frmVoice().close();
    EXPECT_EQ(engine->commands(), (std::vector<std::string>{"stop", "free"}));
    EXPECT_FALSE(app->frmMetar().isLoaded());
    EXPECT_FALSE(app->frmPower().isLoaded());
    ASSERT_EQ(quit.size(), 1);
    EXPECT_EQ(quit.front().front().toInt(), 0);
}

TEST_F(AppFixture, CloseButtonFreesAndEndsAtOnceDuringPlayback)
{
    makeApp();
    app->start();
    runLightShow();
    ASSERT_EQ(engine->state, PlayStatePlaying);
    QSignalSpy quit(app.get(), &App::quitRequested);
    engine->clearCalls();
    QTest::mouseClick(app->frmVoice().cmdClose, Qt::LeftButton);
    EXPECT_EQ(engine->commands(), std::vector<std::string>{"free"});
    EXPECT_TRUE(app->frmMetar().isLoaded()); // no unloading: the end closes them
    ASSERT_EQ(quit.size(), 1);
    EXPECT_EQ(quit.front().front().toInt(), 0);
}

// Every end stops every timer before it frees the engine: the event loop still runs the events already
// queued, and a tick then would query the freed engine or open a message box.
TEST_F(AppFixture, NothingRunsAfterAnyEndFreesTheEngine)
{
    const struct {
        const char *name;
        std::function<void(App &)> end;
    } ends[] = {
        {"close box", [](App &a) { a.frmVoice().close(); }},
        {"CLOSE", [](App &a) { a.frmVoice().cmdClose->click(); }},
        {"POWER", [](App &a) { a.frmPower().get().cmdPower->click(); }},
    };
    for (const auto &row : ends) {
        SCOPED_TRACE(row.name);
        makeApp();
        app->start();
        runLightShow();
        app->state().ListLoaded = 1;
        app->frmVoice().cmdStart->click();
        ASSERT_TRUE(app->frmVoice().Timer1->isTicking());
        QSignalSpy quit(app.get(), &App::quitRequested);

        row.end(*app);
        runEventsAsAModalBoxWould(200);

        ASSERT_EQ(quit.size(), 1);
        const auto freed = std::find(engine->calls.begin(), engine->calls.end(), "free");
        ASSERT_NE(freed, engine->calls.end());
        EXPECT_EQ(freed + 1, engine->calls.end()) << "called after free: " << *(freed + 1);
        EXPECT_TRUE(dialogs->messages.isEmpty());
        for (QWidget *w : std::initializer_list<QWidget *>{&app->frmVoice(), app->frmMetar().ifLoaded(),
                                                           app->frmPower().ifLoaded(), app->frmCtl().ifLoaded()})
            for (DesignTimer *timer : w ? w->findChildren<DesignTimer *>() : QList<DesignTimer *>())
                EXPECT_FALSE(timer->isTicking())
                    << w->objectName().toStdString() << " " << timer->objectName().toStdString();
    }
}

TEST_F(AppFixture, AfterTheLightShowTheScreenShowsButtonsNormalAndDarkLamps)
{
    makeApp();
    app->start();
    FrmVoice &v = app->frmVoice();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    runLightShow();
    // The window's own rendering: other tests' windows may cover the same place on the shared screen.
    const QImage shot = v.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(276, 351));
    auto at = [&](QWidget *w, int x, int y) { return toBgr(shot.pixelColor(w->mapTo(&v, QPoint(x, y)))); };

    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : v.voiceArray(a))
            EXPECT_EQ(at(lamp, lamp->width() / 2, lamp->height() / 2), VoiceShade::Unlit) << a;
    EXPECT_EQ(at(v.lblSide[0], 9, 21), Colors::Yellow);
    EXPECT_EQ(at(v.lblSide[1], 9, 21), Colors::Grey);
    EXPECT_EQ(at(v.lblSide[2], 9, 21), Colors::Grey);
    // Corners of the panels that no label covers.
    EXPECT_EQ(at(v.lblDsp[0], 2, 41), Colors::Green);
    EXPECT_EQ(at(v.lblDsp[1], 1, 1), Colors::Grey);
    EXPECT_EQ(at(v.lblDsp[2], 80, 41), Colors::Grey);
    for (ColorButton *b : v.buttons()) {
        EXPECT_EQ(at(b, 6, 5), b->faceColor()) << b->objectName().toStdString();
        EXPECT_EQ(at(b, b->width() - 7, b->height() - 6), b->faceColor()) << b->objectName().toStdString();
    }
    EXPECT_EQ(at(v.lblVoice1[0], -20, 2), 0u); // the black window between lamps and buttons
    if (::testing::Test::HasFailure())
        shot.save(QStringLiteral(VB_BINARY_DIR "/app_shell_after_light_show.png"));
}

TEST(RowWidth, SumsInFloatAndRoundsHalvesToEvenIntoSixteenBits)
{
    struct Case {
        std::array<float, 3> widths; // unused places hold 0, which the sum ignores
        int16_t expected;
    };
    const Case cases[] = {
        {{7860, 4230, 6330}, 18420}, {{0.5f}, 0},  {{1.5f}, 2},         {{2.5f}, 2},
        {{1000.25f, 0.25f}, 1000},   {{-0.5f}, 0}, {{32767.4f}, 32767}, {{30000, 4000}, 32767},
        {{-40000}, -32768},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RowWidth({c.widths[0], c.widths[1], c.widths[2]}), c.expected) << c.widths[0];
}

// Without a runtime folder the lock goes in a folder under the temporary folder that only this user
// owns; one that another user made first, a link, a file or a folder open to others is passed over
// for one under the user's cache folder, so no one else can keep the program from starting.
TEST(SingleInstanceLock, FolderIsOnlyEverThisUsersOwn)
{
    QTemporaryDir root;
    const QString temp = root.path() + QStringLiteral("/tmp"), cache = root.path() + QStringLiteral("/cache"),
                  runtime = root.path() + QStringLiteral("/run");
    const QString own = temp + QStringLiteral("/voicebox-%1").arg(::getuid()),
                  fallback = cache + QStringLiteral("/voicebox");
    ASSERT_TRUE(QDir().mkpath(temp) && QDir().mkpath(runtime) &&
                QDir().mkpath(root.path() + QStringLiteral("/elsewhere")));
    const QByteArray ownName = QFile::encodeName(own);
    const struct {
        const char *name;
        std::function<bool()> prepare; // false: cannot be set up here
        QString runtime, expected;
    } cases[] = {
        {"runtime folder", [] { return true; }, runtime, runtime},
        {"made afresh", [] { return true; }, QString(), own},
        {"another user's",
         [&] { return ::mkdir(ownName, 0700) == 0 && ::geteuid() == 0 && ::chown(ownName, 65534, 65534) == 0; },
         QString(), fallback},
        {"open to others", [&] { return ::mkdir(ownName, 0700) == 0 && ::chmod(ownName, 0777) == 0; }, QString(),
         fallback},
        {"a link", [&] { return QFile::link(root.path() + QStringLiteral("/elsewhere"), own); }, QString(), fallback},
        {"a file", [&] { return QFile(own).open(QIODevice::WriteOnly); }, QString(), fallback},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(own).removeRecursively();
        QFile::remove(own);
        QDir(cache).removeRecursively();
        if (!c.prepare()) {
            if (::geteuid() == 0) // only root can give a folder to another user
                ADD_FAILURE() << "could not set the case up";
            continue;
        }
        EXPECT_EQ(SingleInstance::lockFolder(c.runtime, temp, cache), c.expected);
        QFileInfo chosen(c.expected);
        EXPECT_TRUE(chosen.isDir() && !chosen.isSymLink());
        if (c.expected != runtime) {
            EXPECT_EQ(chosen.permissions() & 0x0077, 0) << "open to the group or others";
            SingleInstance instance(c.expected);
            EXPECT_TRUE(instance.acquire());
            EXPECT_TRUE(QFile::exists(c.expected + QStringLiteral("/voicebox.lock")));
        }
    }
}
