#include "support/TestRandom.h"
#include "widgets/Colors.h"
#include "widgets/LedBar.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr int16_t kBase = 2; // a bar that does not start at the array's first lamp
constexpr int16_t kLevels = 6;

uint32_t rise(int16_t step)
{
    return step == 0 ? Colors::Red : step == 1 ? Colors::Yellow : Colors::Green;
}

// A lamp array with one bar in it that records which lamps each tick changes.
struct BarRig {
    QWidget parent;
    std::vector<Lamp *> lamps;
    LedBar bar;
    ScriptedRandom random;
    std::vector<int> readouts;
    bool withReadout = true;

    BarRig()
    {
        for (int i = 0; i < kBase + kLevels; ++i)
            lamps.push_back(new Lamp(&parent, QStringLiteral("l%1").arg(i), Colors::Grey));
    }

    std::vector<uint32_t> colors() const
    {
        std::vector<uint32_t> c;
        for (int k = 0; k < kLevels - 1; ++k)
            c.push_back(lamps[size_t(kBase + k)]->color());
        return c;
    }

    // Runs one tick; returns the bar's lamps whose colour changed.
    std::vector<int> tick()
    {
        const auto before = colors();
        LedBarConfig config{kBase, kLevels, rise, {}};
        if (withReadout)
            config.readout = [this](int16_t lit) { readouts.push_back(lit); };
        StepLedBar(bar, lamps, config, random);
        std::vector<int> changed;
        const auto after = colors();
        for (size_t k = 0; k < after.size(); ++k)
            if (after[k] != before[k])
                changed.push_back(int(k));
        return changed;
    }

    // Ticks until the bar has finished rising to its target and holds there.
    void settleAt(int level)
    {
        bar = LedBar{};
        bar.Target = int16_t(level);
        for (int i = 0; i < level; ++i)
            tick();
        readouts.clear();
    }
};

using Colors_ = std::vector<uint32_t>;
constexpr uint32_t R = Colors::Red, Y = Colors::Yellow, G = Colors::Green, o = Colors::Grey;

} // namespace

TEST(StepLedBar, RisesOneLampPerTickInTheRiseColours)
{
    struct Case {
        int target;
        Colors_ shown;
    };
    const Case cases[] = {{5, {R, Y, G, G, G}}, {1, {R, o, o, o, o}}, {3, {R, Y, G, o, o}}};
    for (const auto &c : cases) {
        BarRig rig;
        rig.bar.Target = int16_t(c.target);
        for (int i = 0; i < c.target; ++i)
            EXPECT_EQ(rig.tick(), std::vector<int>{i}) << "target " << c.target << " tick " << i;
        EXPECT_EQ(rig.colors(), c.shown) << "target " << c.target;
        EXPECT_EQ(rig.lamps[0]->color(), o) << "lamps before Base stay untouched";
        EXPECT_EQ(rig.random.draws, 0) << "no new target while rising";
        std::vector<int> counts;
        for (int n = 1; n <= c.target; ++n)
            counts.push_back(n);
        EXPECT_EQ(rig.readouts, counts) << "a rise from dark reports every lamp";
    }
}

// Each scenario starts from a bar that holds at `from`, then ticks with the next target queued.
TEST(StepLedBar, ScenariosFromAHeldLevel)
{
    struct Case {
        const char *name;
        int from;
        int next;
        std::vector<std::vector<int>> changedPerTick; // lamps changed by each tick after the hold
        std::vector<int> readouts;
        Colors_ shownAfter;
        int draws;
    };
    const Case cases[] = {
        // The drawing tick already puts out the top lamp; the fall ends on the tick after the last.
        {"fall 5 to 2", 5, 2, {{4}, {3}, {2}, {}}, {4, 3, 2}, {R, Y, o, o, o}, 1},
        // Equal level: the drawing tick and the L repaint ticks change nothing; the next tick draws
        // again (the fallback, 1) and starts to fall.
        {"equal level 3", 3, 3, {{}, {}, {}, {}, {2}}, {2}, {R, Y, o, o, o}, 2},
        // Repainting the lit lamps tells the readout nothing; only lamps beyond the old level do.
        {"rise 2 to 4", 2, 4, {{}, {}, {}, {2}, {3}}, {3, 4}, {R, Y, G, G, o}, 1},
        // Dark at 0, the bar draws again on the tick after its fall ends.
        {"fall to 0, then draw", 2, 0, {{1}, {0}, {}, {}}, {1, 0}, {o, o, o, o, o}, 2},
    };
    for (const auto &c : cases) {
        BarRig rig;
        rig.settleAt(c.from);
        rig.random.values = {ScriptedRandom::forTarget(c.next, kLevels)};
        rig.random.fallback = ScriptedRandom::forTarget(1, kLevels);
        for (size_t t = 0; t < c.changedPerTick.size(); ++t)
            EXPECT_EQ(rig.tick(), c.changedPerTick[t]) << c.name << ", tick " << t;
        EXPECT_EQ(rig.random.draws, c.draws) << c.name;
        EXPECT_EQ(rig.readouts, c.readouts) << c.name;
        EXPECT_EQ(rig.colors(), c.shownAfter) << c.name;
    }
}

TEST(StepLedBar, ARandomNumberOutsideTheUnitRangeStaysInsideTheBar)
{
    for (double r : {1.0, 7.5, -0.5}) {
        ScriptedRandom random;
        random.values = {r};
        const int16_t target = drawTarget(random, kLevels);
        EXPECT_GE(target, 0) << r;
        EXPECT_LT(target, kLevels) << r;
    }
}
