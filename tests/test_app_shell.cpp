#include "app/SingleInstance.h"
#include "support/AppRig.h"
#include "widgets/Controls.h"
#include "widgets/Colors.h"
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

// Tab walks the push buttons in this order and back to the first; each tells assistive technology its
// caption and its tooltip.
TEST(FrmVoiceLayout, ButtonsAreReachedInTabOrderAndExposeCaptionAndTooltip)
{
    const char *order[] = {"cmdStart", "cmdFile",   "cmdPause", "cmdStop", "cmdPrev",
                           "cmdNext",  "cmdRepeat", "cmdMode",  "cmdCtl",  "cmdClose"};
    FrmVoice w;
    const auto buttons = w.buttons();
    QWidget *expectedNext = nullptr;
    for (size_t i = 0; i < std::size(order); ++i) {
        const char *name = order[i];
        auto *b = w.findChild<ColorButton *>(QString::fromUtf8(name));
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b, buttons[i]) << name;
        EXPECT_FALSE(b->caption().isEmpty()) << name;
        EXPECT_FALSE(b->toolTip().isEmpty()) << name;
        EXPECT_EQ(accessibleText(b, QAccessible::Name), b->caption()) << name;
        EXPECT_EQ(accessibleText(b, QAccessible::Description), b->toolTip()) << name;
        if (expectedNext) {
            EXPECT_EQ(b, expectedNext) << name << " out of tab order";
        }
        // The next widget that Tab reaches.
        QWidget *next = b->nextInFocusChain();
        while (next != b && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        expectedNext = next;
    }
    EXPECT_EQ(expectedNext, w.cmdStart); // the chain closes
}

// Each frame lies around its button and behind it, transparent inside.
TEST(FrmVoiceLayout, FramesSurroundTheirButtonsFromBehind)
{
    FrmVoice w;
    // Label1 index to the button it frames.
    const char *framed[10] = {"cmdFile", "cmdStart",  "cmdPause", "cmdPrev", "cmdStop",
                              "cmdNext", "cmdRepeat", "cmdCtl",   "cmdMode", "cmdClose"};
    const QObjectList &children = w.children();
    for (size_t i = 0; i < 10; ++i) {
        auto *b = w.findChild<ColorButton *>(QString::fromUtf8(framed[i]));
        QLabel *frame = w.Label1[i];
        EXPECT_EQ(frame->geometry(), b->geometry().adjusted(-2, -2, 2, 2)) << i;
        EXPECT_TRUE(frame->text().isEmpty());
        EXPECT_FALSE(frame->autoFillBackground()) << i;
        EXPECT_NE(frame->frameShape(), QFrame::NoFrame) << i;
        EXPECT_LT(children.indexOf(frame), children.indexOf(b)) << i;
    }
}

// The information labels tell assistive technology their text, and stand in front of the panels.
TEST(FrmVoiceLayout, InformationLabelsExposeTheirTextInFrontOfThePanels)
{
    const char *names[] = {"lblMusicCnt", "Label6",  "lblTotal",     "lblRepeat", "Label3",
                           "lblTime",     "Label2",  "lblTotalTime", "lblMode",   "lblState",
                           "lblChannel",  "lblRate", "Label5",       "lblBit",    "lblBitLbl"};
    FrmVoice w;
    const QObjectList &children = w.children();
    for (const char *name : names) {
        auto *label = w.findChild<QLabel *>(QString::fromUtf8(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_FALSE(label->text().isEmpty()) << name;
        EXPECT_EQ(accessibleText(label, QAccessible::Name), label->text()) << name;
        EXPECT_FALSE(label->autoFillBackground()) << name;
        for (Lamp *panel : w.lblDsp)
            EXPECT_LT(children.indexOf(panel), children.indexOf(label)) << name << " behind a panel";
    }
}

// ---- Start-up and shutdown --------------------------------------------------------------------

namespace {

struct AppFixture : ::testing::Test {
    QTemporaryDir folder;
    std::unique_ptr<AppRig> rig;
    App *app = nullptr;
    FakeEngine *engine = nullptr; // with the fake engine
    FakeDialogs *dialogs = nullptr;

    QString voicePath() const { return folder.path() + QStringLiteral("/voice_kidou.wav"); }

    void makeApp(AppRig::Engine kind = AppRig::Engine::Fake)
    {
        rig.reset(); // one program at a time
        rig = std::make_unique<AppRig>(AppRig::Options{.engine = kind, .ownFolder = folder.path()});
        app = rig->app.get();
        engine = rig->engine;
        dialogs = rig->dialogs;
    }
    void runLightShow() { rig->runLightShow(); }
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
        makeApp(AppRig::Engine::Real);
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
        rig.reset();
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
    auto pathWith = [&] { return AppRig({.ownFolder = bin}).app->startupVoicePath(); };
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
    QSignalSpy quit(app, &App::quitRequested);
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
    QSignalSpy quit(app, &App::quitRequested);
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
        QSignalSpy quit(app, &App::quitRequested);

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
