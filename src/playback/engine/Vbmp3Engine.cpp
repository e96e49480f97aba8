#include "Vbmp3Engine.h"

#include "FileGate.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr int64_t kChunkFrames = 1024;
} // namespace

Vbmp3Engine::Vbmp3Engine(OutputKind output)
    : Vbmp3Engine([output](int rate, SoundSource &source) { return openOutput(rate, source, output); }, &Clock::now)
{
}

Vbmp3Engine::Vbmp3Engine(OutputOpener openOutput, Now now) : openOutput_(std::move(openOutput)), now_(std::move(now)) {}

Vbmp3Engine::~Vbmp3Engine()
{
    vbmp3_free();
}

void Vbmp3Engine::vbmp3_init()
{
    if (running_)
        return;
    quit_ = false;
    worker_ = std::thread([this] { run(); });
    running_ = true;
}

void Vbmp3Engine::vbmp3_free()
{
    if (!running_)
        return;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        state_ = PlayStateStopped;
        haveTrack_ = false;
    }
    wake_.notify_all();
    worker_.join();
    running_ = false;
    pending_.reset();
    swapPending_ = false;
}

bool Vbmp3Engine::vbmp3_open(const std::string &path, TrackInfo &info)
{
    if (!running_) {
        lastError_ = ErrNotInitialised;
        return false;
    }
    // The old sound stops before the new file is read.
    {
        std::lock_guard lock(mutex_);
        state_ = PlayStateStopped;
        ended_ = false;
        ++generation_;
    }
    OpenResult result;
    GatedFile file = openGated(path);
    if (file.error != ErrNone)
        result.error = file.error;
    else
        result = openDecoder(file.fd, file.size, info);

    std::unique_ptr<Decoder> replaced;
    {
        std::lock_guard lock(mutex_);
        lastError_ = result.error;
        replaced = std::move(pending_);
        pending_ = std::move(result.decoder);
        haveTrack_ = pending_ != nullptr;
        swapPending_ = true;
        rewindLocked();
    }
    wake_.notify_all();
    return lastError_ == ErrNone;
}

void Vbmp3Engine::vbmp3_play()
{
    {
        std::lock_guard lock(mutex_);
        if (!haveTrack_)
            return;
        // Frames decoded from the start since the last stop or open are kept; anything else starts over.
        if (state_ != PlayStateStopped || ended_ || consumed_ != 0)
            rewindLocked();
        state_ = PlayStatePlaying;
        pulledAt_ = now_();
    }
    wake_.notify_all();
}

void Vbmp3Engine::vbmp3_stop()
{
    {
        std::lock_guard lock(mutex_);
        if (state_ != PlayStateStopped || ended_ || consumed_ != 0)
            rewindLocked();
        state_ = PlayStateStopped;
    }
    wake_.notify_all();
}

void Vbmp3Engine::vbmp3_pause()
{
    std::lock_guard lock(mutex_);
    finishIfHeardLocked(now_());
    if (state_ == PlayStatePlaying)
        state_ = PlayStatePaused;
}

void Vbmp3Engine::vbmp3_restart()
{
    std::lock_guard lock(mutex_);
    if (state_ == PlayStatePaused)
        state_ = PlayStatePlaying;
}

int32_t Vbmp3Engine::vbmp3_getState(int32_t &elapsed)
{
    std::lock_guard lock(mutex_);
    const auto now = now_();
    finishIfHeardLocked(now);
    elapsed = 0;
    if (rate_ > 0 && (state_ != PlayStateStopped || ended_))
        elapsed = int32_t(std::min<int64_t>(heardFrameLocked(now) / rate_, INT32_MAX));
    return state_;
}

int32_t Vbmp3Engine::vbmp3_getLastErrorNo()
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

double Vbmp3Engine::heardSeconds()
{
    std::lock_guard lock(mutex_);
    const auto now = now_();
    finishIfHeardLocked(now);
    if (rate_ <= 0 || (state_ == PlayStateStopped && !ended_))
        return 0.0;
    return double(heardFrameLocked(now)) / rate_;
}

void Vbmp3Engine::vbmp3_getSpectrum(int32_t *first, int32_t *second)
{
    std::fill(first, first + kSpectrumSize, 0);
    std::fill(second, second + kSpectrumSize, 0);
    int rate = 0;
    {
        std::lock_guard lock(mutex_);
        rate = state_ == PlayStatePlaying ? rate_ : 0;
    }
    if (rate <= 0) {
        lastSpectrumFrame_ = -1;
        return;
    }
    if (!analyzer_ || analyzer_->sampleRate() != rate) {
        analyzer_ = std::make_unique<SpectrumAnalyzer>(rate);
        windowLeft_.assign(size_t(analyzer_->windowSize()), 0.0f);
        windowRight_.assign(size_t(analyzer_->windowSize()), 0.0f);
    }
    const int64_t size = analyzer_->windowSize();
    int64_t heard = 0;
    uint64_t generation = 0;
    {
        // Only a copy of one window happens under the lock; the analysis runs outside it.
        std::lock_guard lock(mutex_);
        const auto now = now_();
        finishIfHeardLocked(now);
        if (state_ != PlayStatePlaying || rate_ != rate) {
            lastSpectrumFrame_ = -1;
            return;
        }
        heard = heardFrameLocked(now);
        generation = generation_;
        const int64_t validFrom = std::max<int64_t>(0, written_ - capacity_);
        const int64_t start = heard - size / 2;
        for (int64_t i = 0; i < size; ++i) {
            const int64_t frame = start + i;
            if (frame >= validFrom && frame < written_) {
                const float *p = &ring_[size_t((frame & (capacity_ - 1)) * 2)];
                windowLeft_[size_t(i)] = p[0];
                windowRight_[size_t(i)] = p[1];
            } else {
                windowLeft_[size_t(i)] = windowRight_[size_t(i)] = 0.0f;
            }
        }
    }
    if (generation != lastSpectrumGeneration_ || lastSpectrumFrame_ < 0 || heard < lastSpectrumFrame_) {
        releaseLeft_.reset();
        releaseRight_.reset();
    }
    // The release follows the heard clock, however often the caller asks.
    const double seconds = lastSpectrumFrame_ < 0 ? 0.0 : double(heard - lastSpectrumFrame_) / rate;
    lastSpectrumFrame_ = heard;
    lastSpectrumGeneration_ = generation;

    spectrumValues(*analyzer_, windowLeft_.data(), windowRight_.data(), seconds, releaseLeft_, releaseRight_, first,
                   second);
}

// Runs on the output's thread.
void Vbmp3Engine::pull(float *out, int frames)
{
    std::unique_lock lock(mutex_);
    const auto now = now_();
    if (state_ != PlayStatePlaying || capacity_ == 0) {
        std::memset(out, 0, sizeof(float) * 2 * size_t(frames));
        return;
    }
    const int64_t available = std::clamp<int64_t>(written_ - consumed_, 0, frames);
    for (int64_t i = 0; i < available; ++i) {
        const float *p = &ring_[size_t(((consumed_ + i) & (capacity_ - 1)) * 2)];
        out[2 * i] = p[0];
        out[2 * i + 1] = p[1];
    }
    std::memset(out + 2 * available, 0, sizeof(float) * 2 * size_t(frames - available));
    // Past the end the silence counts as heard, so the last frames reach the speaker; an underrun does not.
    consumed_ += decodeDone_ ? frames : available;
    pulledAt_ = now;
    finishIfHeardLocked(now);
    lock.unlock();
    wake_.notify_all();
}

int64_t Vbmp3Engine::heardFrameLocked(Clock::time_point now) const
{
    // The frame leaving the speaker: the device's buffer behind what it pulled, moving on at the rate
    // since the pull, never beyond what it pulled.
    if (rate_ <= 0)
        return 0;
    if (ended_)
        return written_;
    const int64_t behind = consumed_ - latency_;
    int64_t heard = behind;
    if (state_ == PlayStatePlaying || state_ == PlayStatePaused) {
        const double since = std::chrono::duration<double>(now - pulledAt_).count();
        heard = behind + int64_t(since * rate_);
    }
    heard = std::clamp(heard, behind, consumed_);
    if (decodeDone_)
        heard = std::min(heard, written_);
    // After a pause the device has played its buffer out; the first frames pulled on restart are heard
    // a whole buffer later, so the estimate above drops below what was already heard. It never goes back.
    heard = std::max<int64_t>({heard, heardSoFar_, 0});
    heardSoFar_ = heard;
    return heard;
}

void Vbmp3Engine::finishIfHeardLocked(Clock::time_point now)
{
    if (state_ == PlayStatePlaying && decodeDone_ && heardFrameLocked(now) >= written_) {
        state_ = PlayStateStopped;
        ended_ = true;
    }
}

void Vbmp3Engine::rewindLocked()
{
    ++generation_;
    written_ = consumed_ = 0;
    heardSoFar_ = 0;
    decodeDone_ = false;
    ended_ = false;
    rewindPending_ = true;
}

bool Vbmp3Engine::roomToDecodeLocked() const
{
    // A quarter of the ring stays behind the output for the spectrum to look back into.
    return written_ - consumed_ + kChunkFrames <= capacity_ - capacity_ / 4;
}

void Vbmp3Engine::installDecoder(std::unique_ptr<Decoder> decoder, std::unique_lock<std::mutex> &lock)
{
    const int rate = decoder ? decoder->rate() : 0;
    std::unique_ptr<Decoder> old = std::move(decoder_);
    decoder_ = std::move(decoder);
    lock.unlock();
    old.reset(); // closing a file may touch the disk: not under the lock
    int64_t capacity = 1 << 14;
    while (capacity < rate)
        capacity *= 2;
    std::vector<float> ring(decoder_ ? size_t(capacity) * 2 : 0);
    if (decoder_ && rate != outputRate_) {
        output_.reset(); // joins the output's thread, which takes the lock
        output_ = openOutput_(rate, *this);
        outputRate_ = rate;
    }
    lock.lock();
    ring_.swap(ring);
    capacity_ = decoder_ ? capacity : 0;
    rate_ = rate;
    latency_ = output_ ? output_->latencyFrames() : 0;
    pulledAt_ = now_();
    lock.unlock();
    ring.clear(); // the old ring, freed outside the lock
    lock.lock();
}

void Vbmp3Engine::run()
{
    std::vector<float> chunk(size_t(kChunkFrames) * 2);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] {
            return quit_ || swapPending_ || (decoder_ && (rewindPending_ || (!decodeDone_ && roomToDecodeLocked())));
        });
        if (quit_)
            break;
        if (swapPending_) {
            swapPending_ = false;
            installDecoder(std::move(pending_), lock);
            continue;
        }
        const uint64_t generation = generation_;
        if (rewindPending_) {
            rewindPending_ = false;
            lock.unlock();
            const bool rewound = decoder_->rewind();
            lock.lock();
            if (!rewound && generation == generation_)
                decodeDone_ = true;
            continue;
        }
        lock.unlock();
        const size_t got = decoder_->read(chunk.data(), size_t(kChunkFrames));
        lock.lock();
        if (generation != generation_)
            continue; // a stop, play or open came in meanwhile: these frames are stale
        if (got == 0) {
            decodeDone_ = true;
            continue;
        }
        for (size_t i = 0; i < got; ++i) {
            float *p = &ring_[size_t(((written_ + int64_t(i)) & (capacity_ - 1)) * 2)];
            p[0] = chunk[2 * i];
            p[1] = chunk[2 * i + 1];
        }
        written_ += int64_t(got);
    }
    lock.unlock();
    output_.reset();
    outputRate_ = 0;
    decoder_.reset();
}

Capture &Vbmp3Engine::capture()
{
    if (!capture_)
        capture_ = std::make_unique<Capture>();
    return *capture_;
}

void Vbmp3Engine::setFollowSource(FollowSource source)
{
    if (source == FollowSource::Off && !capture_)
        return;
    capture().setSource(source);
}

FollowStatus Vbmp3Engine::followStatus(FollowSource source)
{
    return capture().status(source);
}

void Vbmp3Engine::getFollowSpectrum(int32_t *first, int32_t *second)
{
    if (!capture_) {
        std::fill(first, first + kSpectrumSize, 0);
        std::fill(second, second + kSpectrumSize, 0);
        return;
    }
    capture_->spectrum(first, second);
}
