#pragma once

#include <chrono>
#include <random>

// A uniform source in [0, 1). The program seeds one from the clock; tests script their own.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual double next() = 0;
    virtual void seedFromClock() {}
};

class ClockRandom : public RandomSource {
public:
    double next() override { return dist_(gen_); }
    void seedFromClock() override
    {
        gen_.seed(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    }

private:
    std::mt19937_64 gen_{uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
    std::uniform_real_distribution<double> dist_{0.0, 1.0};
};
