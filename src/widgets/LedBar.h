#pragma once

#include "widgets/Lamp.h"
#include "widgets/Random.h"

#include <cstdint>
#include <functional>
#include <span>

enum class LedPhase : int16_t { ON, OFF };

// One animated LED bar: rises to a random level, holds, and falls one lamp per tick.
struct LedBar {
    int16_t Target = 0; // lamps to be lit, 0 to Levels - 1
    int16_t Step = 0;   // lamps lit in this rise, or put out in this fall
    LedPhase Phase = LedPhase::ON;
    int16_t From = 0; // the level the current fall starts from
};

// Where a bar lives in its lamp array and how it lights.
struct LedBarConfig {
    int16_t Base = 0;   // index of the bar's first lamp
    int16_t Levels = 1; // number of possible targets
    std::function<uint32_t(int16_t step)> riseColor;
    std::function<void(int16_t lit)> readout; // optional: told the lit count when it changes
};

// A whole number from 0 to levels - 1, each equally likely.
int16_t drawTarget(RandomSource &random, int16_t levels);

// A fresh bar heading for a random target, as each load starts it.
LedBar startLedBar(RandomSource &random, int16_t levels);

// One tick of one bar.
void StepLedBar(LedBar &bar, std::span<Lamp *const> lamps, const LedBarConfig &config, RandomSource &random);
