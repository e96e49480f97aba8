#include "support/PaintCounter.h"
#include "widgets/DesignTimer.h"
#include "widgets/Lamp.h"
#include "widgets/WindowOwner.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

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

TEST(Lamp, RepaintsOnlyWhenItsColourChanges)
{
    QWidget parent;
    parent.resize(40, 40);
    Lamp lamp(&parent, QStringLiteral("lamp"), 32);
    lamp.setGeometry(0, 0, 20, 20);
    parent.show();
    // Until the window is exposed, updates are held back and the count below would read 0.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    QCoreApplication::processEvents();
    PaintCounter counter;
    lamp.installEventFilter(&counter);
    lamp.setColor(32);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    lamp.setColor(255);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(lamp.color(), 255u);
}
