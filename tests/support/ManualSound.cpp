#include "ManualSound.h"

#include <atomic>
#include <mutex>
#include <vector>

struct ManualSound::Shared {
    std::atomic<int> latency{0};
    std::atomic<Clock::rep> ticks{std::chrono::duration_cast<Clock::duration>(std::chrono::hours(1)).count()};
    std::mutex mutex;
    SoundSource *source = nullptr; // the open output's
    std::atomic<bool> idle{false}; // what the engine last told it
    std::atomic<int> timesIdled{0};
    bool dropsQueued = false;
    Clock::time_point lastPull{};
};

namespace {
class ManualOutput : public Output {
public:
    ManualOutput(std::shared_ptr<ManualSound::Shared> shared, SoundSource &source) : shared_(std::move(shared))
    {
        std::lock_guard lock(shared_->mutex);
        shared_->source = &source;
    }
    ~ManualOutput() override
    {
        std::lock_guard lock(shared_->mutex);
        shared_->source = nullptr;
    }
    int latencyFrames() const override { return shared_->latency; }
    void setIdle(bool idle) override
    {
        shared_->idle = idle;
        if (idle)
            ++shared_->timesIdled;
    }
    bool dropsQueuedWhenIdle() const override { return shared_->dropsQueued; }

private:
    std::shared_ptr<ManualSound::Shared> shared_;
};
} // namespace

ManualSound::ManualSound(int latencyFrames, bool dropsQueued) : shared_(std::make_shared<Shared>())
{
    shared_->latency = latencyFrames;
    shared_->dropsQueued = dropsQueued;
}

OutputOpener ManualSound::opener() const
{
    return [shared = shared_](int, SoundSource &source) { return std::make_unique<ManualOutput>(shared, source); };
}

Vbmp3Engine::Now ManualSound::clock() const
{
    return [shared = shared_] { return Clock::time_point(Clock::duration(shared->ticks.load())); };
}

bool ManualSound::pull(int frames, std::vector<float> *into)
{
    std::vector<float> buffer(size_t(frames) * 2);
    std::lock_guard lock(shared_->mutex);
    if (!shared_->source)
        return false;
    shared_->lastPull = now();
    shared_->source->pull(buffer.data(), frames);
    if (into)
        into->swap(buffer);
    return true;
}

void ManualSound::measureLatency(int frames)
{
    std::lock_guard lock(shared_->mutex);
    shared_->latency = frames;
    if (shared_->source)
        shared_->source->latencyMeasured(frames);
}

bool ManualSound::idle() const
{
    return shared_->idle;
}

int ManualSound::timesIdled() const
{
    return shared_->timesIdled;
}

ManualSound::Clock::time_point ManualSound::now() const
{
    return clock()();
}

ManualSound::Clock::time_point ManualSound::lastPull() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->lastPull;
}

void ManualSound::moveTo(Clock::time_point when)
{
    shared_->ticks.store(when.time_since_epoch().count());
}
