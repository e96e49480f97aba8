#include "LedBar.h"

#include "widgets/Colors.h"

#include <algorithm>
#include <cmath>

int16_t drawTarget(RandomSource &random, int16_t levels)
{
    const double whole = std::floor(random.next() * levels);
    // A source that strays outside [0, 1) must not reach past the bar's lamps.
    return int16_t(std::clamp(whole, 0.0, double(levels - 1)));
}

LedBar startLedBar(RandomSource &random, int16_t levels)
{
    LedBar bar;
    bar.Target = drawTarget(random, levels);
    return bar;
}

void StepLedBar(LedBar &bar, std::span<Lamp *const> lamps, const LedBarConfig &config, RandomSource &random)
{
    auto lamp = [&](int index) { return lamps[size_t(config.Base + index)]; };

    if (bar.Phase == LedPhase::ON && bar.Step < bar.Target) {
        lamp(bar.Step)->setColor(config.riseColor(bar.Step));
        ++bar.Step;
        if (config.readout && bar.From < bar.Step)
            config.readout(bar.Step);
        return;
    }
    if (bar.Phase == LedPhase::ON) {
        bar.Phase = LedPhase::OFF;
        bar.From = bar.Target;
        bar.Target = drawTarget(random, config.Levels);
        bar.Step = 0;
    }
    if (bar.Target >= bar.From || bar.Step >= bar.From - bar.Target) {
        bar.Phase = LedPhase::ON;
        bar.Step = 0;
        return;
    }
    ++bar.Step;
    lamp(bar.From - bar.Step)->setColor(Colors::Grey);
    if (config.readout)
        config.readout(int16_t(bar.From - bar.Step));
}
