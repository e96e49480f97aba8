#include "Vbmp3Engine.h"

#include "FileGate.h"

#include <algorithm>
#include <cstring>
#include <utility>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {
constexpr int64_t kChunkFrames = 1024;
constexpr std::chrono::milliseconds kShortestLook{5}, kLongestLook{1000};
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
    {
        std::lock_guard lock(mutex_);
        const auto now = now_();
        finishIfHeardLocked(now);
        if (state_ == PlayStatePlaying) {
            state_ = PlayStatePaused;
            if (outputDropsQueued_) {
                // What the output still holds is dropped rather than heard after the pause: play goes on
                // from the frame being heard now, which the heard position then stays at.
                consumed_ = heardFrameLocked(now);
                dropPending_ = true;
            }
        }
    }
    wake_.notify_all(); // the output may go idle
}

void Vbmp3Engine::vbmp3_restart()
{
    {
        std::lock_guard lock(mutex_);
        if (state_ == PlayStatePaused)
            state_ = PlayStatePlaying;
    }
    wake_.notify_all();
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

int64_t Vbmp3Engine::starvedFrames()
{
    std::lock_guard lock(mutex_);
    return starvedFrames_;
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
    std::array<float, kSpectrumSize> left, right;
    std::array<double, 2> voiceMeanSquare{};
    int64_t heard = 0;
    uint64_t generation = 0;
    int rate = 0;
    bool copied = false;
    {
        std::lock_guard lock(mutex_);
        const auto now = now_();
        finishIfHeardLocked(now);
        if (state_ != PlayStatePlaying || rate_ <= 0 || window_ == 0) {
            std::fill(first, first + kSpectrumSize, 0);
            std::fill(second, second + kSpectrumSize, 0);
            lastSpectrumFrame_ = -1;
            return;
        }
        rate = rate_;
        heard = heardFrameLocked(now);
        generation = generation_;
        // The worker's window whose centre is nearest the heard frame.
        const int64_t index = std::max<int64_t>(0, heard - window_ / 2 + hop_ / 2) / hop_;
        const Snapshot &snapshot = snapshots_[size_t(index) % snapshots_.size()];
        if (snapshot.index == index && snapshot.generation == generation) {
            left = snapshot.left;
            right = snapshot.right;
            copied = true;
        }
        // The voice band over one window ending an eighth of a window after the heard frame: the 5 ms tick
        // then lights the lamps as often a little before a sound is heard as after.
        const int64_t end = heard + window_ / 8, start = end - window_;
        for (int c = 0; c < 2; ++c)
            voiceMeanSquare[size_t(c)] =
                (voiceEnergyBeforeLocked(end, c) - voiceEnergyBeforeLocked(start, c)) / double(window_);
    }
    if (!copied)
        analyseOnCaller(heard, rate, left, right);
    left[kVoiceBand] = meanSquareToDb(voiceMeanSquare[0]);
    right[kVoiceBand] = meanSquareToDb(voiceMeanSquare[1]);

    if (generation != lastSpectrumGeneration_ || lastSpectrumFrame_ < 0 || heard < lastSpectrumFrame_) {
        releaseLeft_.reset();
        releaseRight_.reset();
    }
    // The release follows the heard clock, however often the caller asks.
    const double seconds = lastSpectrumFrame_ < 0 ? 0.0 : double(heard - lastSpectrumFrame_) / rate;
    lastSpectrumFrame_ = heard;
    lastSpectrumGeneration_ = generation;
    releaseLeft_.apply(left, seconds);
    releaseRight_.apply(right, seconds);
    for (int i = 0; i < kSpectrumSize; ++i) {
        first[i] = levelToValue(left[size_t(i)]);
        second[i] = levelToValue(right[size_t(i)]);
    }
}

void Vbmp3Engine::analyseOnCaller(int64_t heard, int rate, std::array<float, kSpectrumSize> &left,
                                  std::array<float, kSpectrumSize> &right)
{
    if (!analyzer_ || analyzer_->sampleRate() != rate) {
        analyzer_ = std::make_unique<SpectrumAnalyzer>(rate);
        windowLeft_.assign(size_t(analyzer_->windowSize()), 0.0f);
        windowRight_.assign(size_t(analyzer_->windowSize()), 0.0f);
    }
    const int64_t size = analyzer_->windowSize();
    {
        // Only a copy of one window happens under the lock; the analysis runs outside it.
        std::lock_guard lock(mutex_);
        const int64_t validFrom = std::max<int64_t>(0, written_ - capacity_);
        const int64_t start = heard - size / 2;
        for (int64_t i = 0; i < size; ++i) {
            const int64_t frame = start + i;
            if (capacity_ > 0 && frame >= validFrom && frame < written_) {
                const float *p = &ring_[size_t((frame & (capacity_ - 1)) * 2)];
                windowLeft_[size_t(i)] = p[0];
                windowRight_[size_t(i)] = p[1];
            } else {
                windowLeft_[size_t(i)] = windowRight_[size_t(i)] = 0.0f;
            }
        }
    }
    analyzer_->analyse(windowLeft_.data(), left);
    if (windowLeft_ == windowRight_)
        right = left; // mono, or a stereo window with equal sides
    else
        analyzer_->analyse(windowRight_.data(), right);
}

double Vbmp3Engine::voiceEnergyBeforeLocked(int64_t frame, int channel) const
{
    if (frame <= 0 || capacity_ == 0)
        return 0.0;
    if (frame >= written_)
        return voiceTotal_[size_t(channel)];
    // Frames the ring no longer holds count as silence, as they do in a window.
    frame = std::max<int64_t>(frame, written_ - capacity_);
    return voiceEnergy_[size_t((frame & (capacity_ - 1)) * 2 + channel)];
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
    if (!decodeDone_ && consumed_ > 0) // the start waiting for its first frames is no gap
        starvedFrames_ += frames - available;
    pulledAt_ = now;
    finishIfHeardLocked(now);
    // No notify here: a condition variable's own mutex lends no priority, so the output's thread could
    // wait on it behind an ordinary thread. While sound plays the worker wakes when room is due.
}

// Runs on a thread of the output's.
void Vbmp3Engine::latencyMeasured(int frames)
{
    std::lock_guard lock(mutex_);
    latency_ = frames;
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
        ended_ = true; // the worker, waking when the end is due, lets the output go idle
    }
}

void Vbmp3Engine::rewindLocked()
{
    ++generation_;
    written_ = consumed_ = 0;
    voiceTotal_ = {};
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

std::chrono::milliseconds Vbmp3Engine::playingLookLocked() const
{
    if (rate_ <= 0 || capacity_ == 0)
        return kLongestLook;
    // Until the last frame is heard, or until what is decoded ahead falls to three quarters of what the
    // ring holds ahead: a worker then kept off the processor still has most of a second before a gap.
    const int64_t frames =
        decodeDone_ ? written_ - heardFrameLocked(now_()) : written_ - consumed_ - (capacity_ - capacity_ / 4) * 3 / 4;
    const auto due = std::chrono::milliseconds(frames * 1000 / rate_);
    return std::clamp(due, kShortestLook, kLongestLook);
}

void Vbmp3Engine::installDecoder(std::unique_ptr<Decoder> decoder, std::unique_lock<PiMutex> &lock)
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
    std::vector<double> energy(ring.size());
    const int window = decoder_ ? spectrumWindowFor(rate) : 0;
    std::vector<Snapshot> snapshots(decoder_ ? size_t(capacity / (window / 2)) : 0);
    if (decoder_) {
        if (!workerAnalyzer_ || workerAnalyzer_->sampleRate() != rate)
            workerAnalyzer_ = std::make_unique<SpectrumAnalyzer>(rate);
        for (auto &filter : voiceFilters_)
            filter = std::make_unique<VoiceBandFilter>(rate);
    }
    if (decoder_ && rate != outputRate_) {
        output_.reset(); // joins the output's thread, which takes the lock
        output_ = openOutput_(rate, *this);
        outputRate_ = rate;
        outputIdle_ = false;
    }
    lock.lock();
    ring_.swap(ring);
    voiceEnergy_.swap(energy);
    snapshots_.swap(snapshots);
    capacity_ = decoder_ ? capacity : 0;
    window_ = window;
    hop_ = window / 2;
    rate_ = rate;
    latency_ = output_ ? output_->latencyFrames() : 0;
    outputDropsQueued_ = output_ && output_->dropsQueuedWhenIdle();
    pulledAt_ = now_();
    lock.unlock();
    // The old buffers, freed outside the lock.
    ring.clear();
    energy.clear();
    snapshots.clear();
    lock.lock();
}

void Vbmp3Engine::analyseDecoded(std::unique_lock<PiMutex> &lock)
{
    // The ring is written on this thread only, so its frames are read here without the lock.
    while (workerAnalyzer_ && window_ > 0 && nextSnapshot_ * hop_ + window_ <= written_) {
        const int64_t index = nextSnapshot_;
        const int64_t start = index * hop_;
        const uint64_t generation = generation_;
        const int64_t capacity = capacity_;
        if (start < written_ - capacity) {
            ++nextSnapshot_; // decoded past it before it could be looked at
            continue;
        }
        lock.unlock();
        analysisLeft_.resize(size_t(window_));
        analysisRight_.resize(size_t(window_));
        for (int64_t i = 0; i < window_; ++i) {
            const float *p = &ring_[size_t(((start + i) & (capacity - 1)) * 2)];
            analysisLeft_[size_t(i)] = p[0];
            analysisRight_[size_t(i)] = p[1];
        }
        Snapshot result;
        result.index = index;
        result.generation = generation;
        workerAnalyzer_->analyse(analysisLeft_.data(), result.left);
        if (analysisLeft_ == analysisRight_)
            result.right = result.left;
        else
            workerAnalyzer_->analyse(analysisRight_.data(), result.right);
        lock.lock();
        if (generation != generation_)
            return;
        snapshots_[size_t(index) % snapshots_.size()] = result;
        ++nextSnapshot_;
    }
}

void Vbmp3Engine::run()
{
#ifdef __linux__
    // Ahead of ordinary threads where the system allows it (root, or a raised RLIMIT_NICE), so that a busy
    // machine does not hold the decoding back until the output runs dry; the work comes in short bursts.
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), -10);
#endif
    std::vector<float> chunk(size_t(kChunkFrames) * 2);
    std::vector<double> squares(size_t(kChunkFrames) * 2);
    std::unique_lock lock(mutex_);
    const auto work = [this] {
        return quit_ || swapPending_ || (output_ && outputIdle_ != outputIdleWantedLocked()) ||
               (decoder_ && (rewindPending_ || (!decodeDone_ && roomToDecodeLocked())));
    };
    for (;;) {
        // While sound plays the output makes room and may end the track without a word (see pull), so
        // the worker also wakes when that is due; otherwise it sleeps until called.
        if (state_ != PlayStatePlaying)
            wake_.wait(lock, work);
        else if (!wake_.wait_for(lock, playingLookLocked(), work))
            continue;
        if (quit_)
            break;
        if (swapPending_) {
            swapPending_ = false;
            installDecoder(std::move(pending_), lock);
            continue;
        }
        if (output_ && outputIdle_ != outputIdleWantedLocked()) {
            // Opening or closing a device takes the output's thread, which takes the lock: not under it.
            outputIdle_ = !outputIdle_;
            dropPending_ = false;
            const bool idle = outputIdle_;
            lock.unlock();
            output_->setIdle(idle);
            lock.lock();
            continue;
        }
        const uint64_t generation = generation_;
        if (rewindPending_) {
            rewindPending_ = false;
            lock.unlock();
            const bool rewound = decoder_->rewind();
            for (auto &filter : voiceFilters_)
                if (filter)
                    filter->reset();
            lock.lock();
            nextSnapshot_ = 0;
            if (!rewound && generation == generation_)
                decodeDone_ = true;
            continue;
        }
        lock.unlock();
        const size_t got = decoder_->read(chunk.data(), size_t(kChunkFrames));
        for (size_t i = 0; i < got; ++i) {
            for (size_t c = 0; c < 2; ++c) {
                const double band = voiceFilters_[c]->process(chunk[2 * i + c]);
                squares[2 * i + c] = band * band;
            }
        }
        lock.lock();
        if (generation != generation_)
            continue; // a stop, play or open came in meanwhile: these frames are stale
        if (got == 0) {
            decodeDone_ = true;
            continue;
        }
        for (size_t i = 0; i < got; ++i) {
            const size_t slot = size_t((written_ + int64_t(i)) & (capacity_ - 1)) * 2;
            float *p = &ring_[slot];
            p[0] = chunk[2 * i];
            p[1] = chunk[2 * i + 1];
            for (size_t c = 0; c < 2; ++c) {
                voiceEnergy_[slot + c] = voiceTotal_[c];
                voiceTotal_[c] += squares[2 * i + c];
            }
        }
        written_ += int64_t(got);
        analyseDecoded(lock);
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

void Vbmp3Engine::setFollowListener(std::function<void()> listener)
{
    if (!listener && !capture_)
        return;
    capture().setListener(std::move(listener));
}
