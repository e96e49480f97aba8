#include "Capture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <utility>

namespace {
constexpr uint32_t kRate = 44100; // asked for; the device's own rate is taken (no resampling)
constexpr pa_usec_t kFragmentUsec = 10000;
constexpr int64_t kRingFrames = 1 << 15; // more than any analysis window
constexpr pa_usec_t kRetryUsec = 2000000;
// Recording that stops (a suspended device) reads as silence after this, so the lamps fall dark.
constexpr std::chrono::milliseconds kStale{60};
constexpr std::chrono::milliseconds kFirstAnswer{500};
// Far below the quietest sound the lamps show (-50 dBFS), so a fragment below it on every sample cannot
// light them; the listener hears of fragments until the release has run down after the last audible one.
constexpr float kAudible = 1e-4f;
constexpr double kListenAfterSeconds = 1.0;
// The server hands over the monitor's sound in blocks as small as the sink's other clients ask for (a few
// milliseconds); the listener hears of it at most this often, and at once on an onset after quiet.
constexpr double kTellEverySeconds = 0.010;

class Locked {
public:
    explicit Locked(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Locked() { pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

std::string why(const std::string &what, pa_context *context)
{
    return what + ": " + pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN);
}
} // namespace

Capture::Capture() = default;

Capture::~Capture()
{
    if (!loop_)
        return;
    {
        Locked lock(loop_);
        source_ = FollowSource::Off;
        closeStreamLocked();
        dropContextLocked();
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void Capture::ensureLoop()
{
    if (loop_)
        return;
    loop_ = pa_threaded_mainloop_new();
    if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

void Capture::setSource(FollowSource source)
{
    ensureLoop();
    if (!loop_)
        return;
    Locked lock(loop_);
    source_ = source;
    if (server_ == Server::Ready)
        retargetLocked();
    else if (source != FollowSource::Off && server_ != Server::Connecting)
        connectLocked();
}

FollowStatus Capture::status(FollowSource source)
{
    if (source == FollowSource::Off)
        return {true, {}};
    ensureLoop();
    if (!loop_)
        return {false, "The sound server cannot be reached from this program"};
    {
        Locked lock(loop_);
        if (server_ == Server::None || (server_ == Server::Failed && !retry_))
            connectLocked();
    }
    {
        std::unique_lock wait(settleMutex_);
        settled_.wait_for(wait, kFirstAnswer, [this] { return !settling_.load(); });
    }
    Locked lock(loop_);
    switch (server_) {
    case Server::None:
    case Server::Connecting:
        return {false, "The sound server does not answer"};
    case Server::Failed:
        return {false, serverWhy_};
    case Server::Ready:
        break;
    }
    if (targetLocked(source).empty())
        return {false, source == FollowSource::Desktop ? "No sound output device" : "No sound input device"};
    if (source == source_ && !streamWhy_.empty())
        return {false, streamWhy_};
    return {true, {}};
}

void Capture::settle()
{
    {
        std::lock_guard guard(settleMutex_);
        settling_ = false;
    }
    settled_.notify_all();
}

void Capture::connectLocked()
{
    dropContextLocked();
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "VORT VOICE SYSTEM");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(api, "VORT VOICE SYSTEM", props);
    pa_proplist_free(props);
    if (!context_) {
        server_ = Server::Failed;
        serverWhy_ = "The sound server cannot be reached from this program";
        return;
    }
    settling_ = true;
    server_ = Server::Connecting;
    haveServerInfo_ = false;
    pa_context_set_state_callback(
        context_, [](pa_context *, void *self) { static_cast<Capture *>(self)->onContextStateLocked(); }, this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context *, pa_subscription_event_type_t type, uint32_t, void *self) {
            const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
            // A new default, or a device that came or went: what to record may have changed.
            if (facility == PA_SUBSCRIPTION_EVENT_SERVER || kind != PA_SUBSCRIPTION_EVENT_CHANGE)
                static_cast<Capture *>(self)->refreshLocked();
        },
        this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        server_ = Server::Failed;
        serverWhy_ = why("No sound server", context_);
        dropContextLocked();
        scheduleRetryLocked();
        settle();
    }
}

void Capture::dropContextLocked()
{
    closeStreamLocked();
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void Capture::onContextStateLocked()
{
    switch (pa_context_get_state(context_)) {
    case PA_CONTEXT_READY: {
        server_ = Server::Ready;
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK |
                                                 PA_SUBSCRIPTION_MASK_SOURCE);
        if (pa_operation *op = pa_context_subscribe(context_, mask, nullptr, nullptr))
            pa_operation_unref(op);
        refreshLocked();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        server_ = Server::Failed;
        serverWhy_ = why("No sound server", context_);
        closeStreamLocked();
        scheduleRetryLocked();
        settle();
        break;
    default:
        break;
    }
}

void Capture::refreshLocked()
{
    if (server_ != Server::Ready)
        return;
    pa_operation *op = pa_context_get_server_info(
        context_,
        [](pa_context *, const pa_server_info *info, void *self) {
            static_cast<Capture *>(self)->onServerInfoLocked(info);
        },
        this);
    if (op)
        pa_operation_unref(op);
}

void Capture::onServerInfoLocked(const pa_server_info *info)
{
    defaultSink_ = info && info->default_sink_name ? info->default_sink_name : "";
    defaultSource_ = info && info->default_source_name ? info->default_source_name : "";
    haveServerInfo_ = true;
    retargetLocked();
    settle();
}

std::string Capture::targetLocked(FollowSource source) const
{
    switch (source) {
    case FollowSource::Desktop:
        return defaultSink_.empty() ? std::string() : defaultSink_ + ".monitor";
    case FollowSource::Microphone:
        return defaultSource_;
    case FollowSource::Off:
        break;
    }
    return {};
}

void Capture::retargetLocked()
{
    const std::string device = targetLocked(source_);
    if (stream_ && device == streamDevice_)
        return;
    closeStreamLocked();
    streamWhy_.clear();
    if (source_ == FollowSource::Off || server_ != Server::Ready || !haveServerInfo_)
        return;
    if (device.empty()) {
        streamWhy_ = source_ == FollowSource::Desktop ? "No sound output device" : "No sound input device";
        return;
    }
    openStreamLocked(device);
}

void Capture::openStreamLocked(const std::string &device)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 2};
    stream_ = pa_stream_new(context_, "Lamps", &spec, nullptr);
    if (!stream_) {
        streamWhy_ = why("Cannot record", context_);
        scheduleRetryLocked();
        return;
    }
    streamDevice_ = device;
    pa_stream_set_state_callback(
        stream_, [](pa_stream *, void *self) { static_cast<Capture *>(self)->onStreamStateLocked(); }, this);
    pa_stream_set_read_callback(
        stream_, [](pa_stream *, size_t, void *self) { static_cast<Capture *>(self)->onReadLocked(); }, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // the server's choice for everything but the fragment
    attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUsec, &spec));
    // The device's own rate, and no moving: a device that goes away ends the stream, and the default's
    // new choice is recorded instead of whatever the server would move it to.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_FIX_RATE | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, device.c_str(), &attr, flags) < 0) {
        streamWhy_ = why("Cannot record", context_);
        closeStreamLocked();
        scheduleRetryLocked();
    }
}

void Capture::closeStreamLocked()
{
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    streamDevice_.clear();
    std::lock_guard guard(ringMutex_);
    rate_ = 0;
}

void Capture::onStreamStateLocked()
{
    switch (pa_stream_get_state(stream_)) {
    case PA_STREAM_READY: {
        const pa_sample_spec *spec = pa_stream_get_sample_spec(stream_);
        std::lock_guard guard(ringMutex_);
        ring_.assign(size_t(kRingFrames) * 2, 0.0f);
        written_ = 0;
        rate_ = spec ? int(spec->rate) : int(kRate);
        lastDataAt_ = Clock::now();
        break;
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        // The device went away or refused us: wait for it, or another default, to come.
        streamWhy_ = why("Cannot record " + streamDevice_, context_);
        closeStreamLocked();
        scheduleRetryLocked();
        break;
    default:
        break;
    }
}

void Capture::setListener(std::function<void()> listener)
{
    if (!loop_) {
        listener_ = std::move(listener);
        return;
    }
    std::function<void()> replaced;
    {
        Locked lock(loop_);
        replaced = std::exchange(listener_, std::move(listener));
    }
}

void Capture::onReadLocked()
{
    const void *data = nullptr;
    size_t bytes = 0;
    int64_t got = 0;
    bool audible = false;
    while (stream_ && pa_stream_peek(stream_, &data, &bytes) == 0 && bytes > 0) {
        if (data) { // not a hole
            const auto *samples = static_cast<const float *>(data);
            const int64_t frames = int64_t(bytes / (2 * sizeof(float)));
            got += frames;
            for (int64_t i = 0; i < 2 * frames && !audible; ++i)
                audible = std::fabs(samples[i]) > kAudible;
            std::lock_guard guard(ringMutex_);
            if (!ring_.empty()) {
                for (int64_t i = 0; i < frames; ++i) {
                    float *p = &ring_[size_t(((written_ + i) & (kRingFrames - 1)) * 2)];
                    p[0] = samples[2 * i];
                    p[1] = samples[2 * i + 1];
                }
                written_ += frames;
                lastDataAt_ = Clock::now();
            }
        }
        pa_stream_drop(stream_);
    }
    if (got == 0 || rate_ <= 0)
        return;
    const bool onset = audible && quietFrames_ > 0;
    quietFrames_ = audible ? 0 : std::min(quietFrames_ + got, int64_t(1) << 40);
    untoldFrames_ += got;
    if (listener_ && double(quietFrames_) < kListenAfterSeconds * rate_ &&
        (onset || double(untoldFrames_) >= kTellEverySeconds * rate_)) {
        untoldFrames_ = 0;
        listener_();
    }
}

void Capture::scheduleRetryLocked()
{
    if (retry_ || source_ == FollowSource::Off)
        return;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), kRetryUsec);
    retry_ = api->time_new(
        api, &when,
        [](pa_mainloop_api *a, pa_time_event *e, const timeval *, void *userdata) {
            auto *self = static_cast<Capture *>(userdata);
            a->time_free(e);
            self->retry_ = nullptr;
            if (self->source_ == FollowSource::Off)
                return;
            if (self->server_ == Server::Failed)
                self->connectLocked();
            else if (!self->stream_)
                self->refreshLocked();
        },
        this);
}

void Capture::spectrum(int32_t *first, int32_t *second)
{
    std::fill(first, first + kSpectrumSize, 0);
    std::fill(second, second + kSpectrumSize, 0);
    const auto now = Clock::now();
    int64_t written = 0;
    bool stale = false;
    {
        std::lock_guard guard(ringMutex_);
        if (rate_ <= 0) {
            lastWritten_ = -1;
            return;
        }
        if (!analyzer_ || analyzer_->sampleRate() != rate_) {
            analyzer_ = std::make_unique<SpectrumAnalyzer>(rate_);
            left_.assign(size_t(analyzer_->windowSize()), 0.0f);
            right_.assign(size_t(analyzer_->windowSize()), 0.0f);
            lastWritten_ = -1;
        }
        written = written_;
        stale = now - lastDataAt_ > kStale;
        const int64_t size = analyzer_->windowSize();
        const int64_t from = written - size;
        for (int64_t i = 0; i < size; ++i) {
            const int64_t frame = from + i;
            if (!stale && frame >= 0 && frame >= written - kRingFrames) {
                const float *p = &ring_[size_t((frame & (kRingFrames - 1)) * 2)];
                left_[size_t(i)] = p[0];
                right_[size_t(i)] = p[1];
            } else {
                left_[size_t(i)] = right_[size_t(i)] = 0.0f;
            }
        }
    }
    if (lastWritten_ < 0 || written < lastWritten_) {
        releaseLeft_.reset();
        releaseRight_.reset();
    }
    // The release follows the recorded sound; when recording has stopped, the clock.
    const double seconds = lastWritten_ < 0 ? 0.0
                           : stale          ? std::chrono::duration<double>(now - lastSpectrumAt_).count()
                                            : double(written - lastWritten_) / analyzer_->sampleRate();
    lastWritten_ = written;
    lastSpectrumAt_ = now;
    spectrumValues(*analyzer_, left_.data(), right_.data(), seconds, releaseLeft_, releaseRight_, first, second);
}
