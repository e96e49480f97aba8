#include "support/PaintCounter.h"
#include "support/X11Probe.h"
#include "widgets/Colors.h"
#include "widgets/DesignTimer.h"
#include "widgets/Lamp.h"
#include "widgets/ServerFill.h"
#include "widgets/WindowOwner.h"
#include "windows/FrmMetar.h"
#include "windows/FrmPower.h"
#include "windows/FrmVoice.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QRegion>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <random>

TEST(DesignTimer, TicksOnlyWhenEnabledWithAnInterval)
{
    struct Case {
        int interval;
        bool enabled;
        bool ticking;
    };
    const Case cases[] = {{0, true, false}, {0, false, false}, {5, false, false}, {5, true, true}};
    for (const auto &c : cases) {
        DesignTimer t(nullptr, QStringLiteral("t"), 60, false);
        t.setInterval(c.interval);
        t.setEnabled(c.enabled);
        EXPECT_EQ(t.isTicking(), c.ticking) << c.interval << " " << c.enabled;
    }
    DesignTimer created(nullptr, QStringLiteral("t"), 0, true); // created enabled at interval 0
    EXPECT_FALSE(created.isTicking());
    created.setInterval(70);
    EXPECT_TRUE(created.isTicking());
}

TEST(WindowOwner, LoadsOnFirstUseAndAfreshAfterUnload)
{
    int loads = 0;
    WindowOwner<QWidget> owner([] { return std::make_unique<QWidget>(); }, [&](QWidget &) { ++loads; });
    EXPECT_FALSE(owner.isLoaded());
    QWidget *first = &owner.get();
    owner.get();
    EXPECT_EQ(loads, 1);
    owner.unload();
    EXPECT_EQ(owner.ifLoaded(), nullptr);
    owner.get();
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(owner.loadCount(), 2);
    (void)first;
}

namespace {
// A lamp of colour 32 (dark red), 20 x 20 at (5, 5) in a white window, shown; at() reads the screen's pixel
// at a point in logical pixels through the test's own connection.
struct LampOnWhite {
    X11 &x;
    QWidget parent;
    Lamp lamp{&parent, QStringLiteral("lamp"), 32};

    explicit LampOnWhite(X11 &probe) : x(probe)
    {
        parent.setPalette(QPalette(Qt::white));
        parent.setAutoFillBackground(true);
        parent.setGeometry(40, 40, 40, 40);
        lamp.setGeometry(5, 5, 20, 20);
        parent.show();
    }
    long at(int px, int py)
    {
        const qreal ratio = parent.devicePixelRatio();
        return x.pixel(xcb_window_t(parent.winId()), qRound(px * ratio), qRound(py * ratio));
    }
};
} // namespace

// A lamp changes colour at most once per change: through the X server, with no paint here at all, or, where
// it is not drawn by the server, by one repaint. Read back through a connection of the test's own, so what
// was asked must really have been sent.
TEST(Lamp, ShowsEachNewColourAndOnlyThen)
{
    X11 x;
    ASSERT_TRUE(x.c);
    for (bool server : {true, false}) {
        SCOPED_TRACE(server ? "drawn by the server" : "painted by Qt");
        Lamp::setServerDrawing(server);
        LampOnWhite shown(x);
        Lamp &lamp = shown.lamp;
        // Until the window is exposed, updates are held back and the count below would read 0.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.parent));
        QCoreApplication::processEvents();
        EXPECT_EQ(lamp.drawnByServer(), server);
        const auto at = [&](int px, int py) { return shown.at(px, py); };
        const auto shows = [&](long rgb) { return QTest::qWaitFor([&] { return at(14, 14) == rgb; }, 5000); };
        EXPECT_TRUE(shows(0x200000));
        EXPECT_EQ(at(4, 4), 0xFFFFFF) << "the window around it";
        PaintCounter counter;
        lamp.installEventFilter(&counter);
        lamp.setColor(32);
        QCoreApplication::processEvents();
        EXPECT_EQ(counter.paints, 0);
        lamp.setColor(255);
        EXPECT_TRUE(shows(0xFF0000));
        EXPECT_EQ(counter.paints, server ? 0 : 1);
        EXPECT_EQ(lamp.color(), 255u);
        lamp.hide();
        EXPECT_TRUE(shows(0xFFFFFF)) << "a hidden lamp leaves the window's own colour";
        lamp.setColor(Colors::Green);
        lamp.move(10, 10);
        lamp.show();
        EXPECT_TRUE(shows(0x00FF00));
        EXPECT_EQ(at(8, 8), 0xFFFFFF) << "moved off its old place";
    }
    Lamp::setServerDrawing(true);
}

// A timer's tick sends the lamps it changed as it ends, with no further turn of the event loop; a dialog's
// loop run from inside a tick is not held back by it.
TEST(Lamp, ATicksChangesGoOutAsItEndsAndADialogInsideItIsNotHeldBack)
{
    X11 x;
    ASSERT_TRUE(x.c);
    LampOnWhite window(x);
    Lamp &lamp = window.lamp;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window.parent));
    QCoreApplication::processEvents();
    ASSERT_TRUE(lamp.drawnByServer());
    const auto at = [&](int px, int py) { return window.at(px, py); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return at(14, 14) == 0x200000; }, 5000));

    { // a tick
        const ServerFill::Batch batch;
        lamp.setColor(255);
    }
    bool shown = false; // events are not run while waiting
    for (int i = 0; i < 500 && !shown; ++i) {
        shown = at(14, 14) == 0xFF0000;
        if (!shown)
            QThread::msleep(10);
    }
    EXPECT_TRUE(shown);

    {
        const ServerFill::Batch batch;
        QEventLoop dialog;
        QTimer::singleShot(20, &dialog, [&] { lamp.setColor(Colors::Green); });
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &dialog, [&] {
            if (at(14, 14) == 0x00FF00)
                dialog.quit();
        });
        look.start(10);
        QTimer::singleShot(5000, &dialog, [&] { dialog.exit(1); });
        EXPECT_EQ(dialog.exec(), 0) << "the change made in the dialog's loop did not reach the screen";
    }
}

// What the X server shows of every window with lamps equals Qt's own rendering of it, through rounds of
// colours on every lamp: the server's lamps lie where Qt would paint them, in their colours, and hide
// nothing that is drawn over them. The sixty voice lamps, lit two hundred times a second, are all the server's.
TEST(Lamp, EveryWindowShowsWhatQtWouldPaint)
{
    X11 x;
    ASSERT_TRUE(x.c);
    FrmVoice voice;
    FrmMetar metar;
    FrmPower power;
    std::mt19937 random(7);
    const uint32_t colours[] = {VoiceShade::Unlit, VoiceShade::Dim, VoiceShade::Mid, VoiceShade::Bright,
                                Colors::Green,     Colors::Yellow,  Colors::Grey};
    for (QWidget *window : std::initializer_list<QWidget *>{&voice, &metar, &power}) {
        SCOPED_TRACE(window->objectName().toStdString());
        // One at a time in the corner: the server shows nothing of a window where another covers it.
        window->move(0, 0);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const QList<Lamp *> lamps = window->findChildren<Lamp *>();
        if (window == &voice) {
            for (int a = 1; a <= 6; ++a)
                for (Lamp *lamp : voice.voiceArray(a))
                    EXPECT_TRUE(lamp->drawnByServer()) << lamp->objectName().toStdString();
        }
        // Each lamp and a pixel around it, in the screen's pixels; elsewhere Qt's own rendering of large
        // text differs between the screen and grab() by a few edge pixels, lamps or none.
        QRegion places;
        const qreal ratio = window->devicePixelRatio();
        for (Lamp *lamp : lamps) {
            const QRect r = lamp->geometry();
            places += QRect(QPoint(qRound(r.x() * ratio), qRound(r.y() * ratio)),
                            QSize(qRound(r.width() * ratio), qRound(r.height() * ratio)))
                          .adjusted(-1, -1, 1, 1);
        }
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(round);
            if (round > 0)
                for (Lamp *lamp : lamps)
                    lamp->setColor(colours[random() % std::size(colours)]);
            const QImage qt = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const auto differs = [&](const QImage &screen) {
                if (screen.size() != qt.size())
                    return true;
                for (const QRect &r : places)
                    for (int py = r.top(); py <= r.bottom(); ++py)
                        for (int px = r.left(); px <= r.right(); ++px)
                            if (screen.rect().contains(px, py) && screen.pixel(px, py) != qt.pixel(px, py))
                                return true;
                return false;
            };
            QImage screen;
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return !differs(screen = x.image(xcb_window_t(window->winId()), qt.size())); }, 5000));
            if (differs(screen)) {
                qt.save(QStringLiteral(VB_BINARY_DIR "/lamps_%1_qt.png").arg(window->objectName()));
                screen.save(QStringLiteral(VB_BINARY_DIR "/lamps_%1_screen.png").arg(window->objectName()));
            }
        }
        window->hide();
    }
}
