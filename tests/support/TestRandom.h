#pragma once

#include "widgets/Random.h"

#include <deque>

// Always draws the middle of the range.
class FixedRandom : public RandomSource {
public:
    double next() override { return 0.5; }
};

// Plays back the numbers a test queues; once they run out it repeats `fallback`.
class ScriptedRandom : public RandomSource {
public:
    std::deque<double> values;
    double fallback = 0.0;
    int draws = 0;

    double next() override
    {
        ++draws;
        if (values.empty())
            return fallback;
        const double v = values.front();
        values.pop_front();
        return v;
    }

    // The number that draws `target` out of `levels`.
    static double forTarget(int target, int levels) { return (target + 0.5) / levels; }
};
