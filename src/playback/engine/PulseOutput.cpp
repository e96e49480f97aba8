#include "PulseOutput.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace {
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;

class PulseOutput : public Output {
public:
    PulseOutput(int rate, SoundSource &source) : rate_(rate), source_(source)
    {
        latency_ = rate * kPulseBufferMs / 1000;
    }
    ~PulseOutput() override { disconnect(); }

    bool connect();
    int latencyFrames() const override { return latency_; }
    bool dropsQueuedWhenIdle() const override { return true; }
    // Idle, the stream and the connection are let go: the server drops what it still holds, so that a
    // stop or a pause is not heard two fifths of a second late, and an idle program keeps nothing open there.
    void setIdle(bool idle) override
    {
        if (idle) {
            disconnect(); // first, so that the connection's thread can no longer put a stand-in in place
            silent_.reset();
            return;
        }
        if (loop_ || silent_)
            return;
        if (connect())
            return;
        // The sound server went away while nothing played. The track goes on at a device's pace, unheard, as
        // it does with no device at all, rather than standing still; the next play tries the server again.
        std::fprintf(stderr, "voicebox: the sound server did not take the stream again, playing silently\n");
        silent_ = openSilentOutput(rate_, source_);
    }

private:
    void disconnect();
    void write(size_t bytes);
    void noteLatency();

    static void onContextState(pa_context *, void *self) { static_cast<PulseOutput *>(self)->stateChanged(); }
    static void onStreamState(pa_stream *, void *self) { static_cast<PulseOutput *>(self)->stateChanged(); }
    // On the connection's thread. A server that goes away while sound plays leaves the track going on at a
    // device's pace, unheard, as a device that cannot open again does, until the output next goes idle.
    void stateChanged()
    {
        pa_threaded_mainloop_signal(loop_, 0);
        const bool lost = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
                          (stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)));
        if (!streaming_ || !lost)
            return;
        streaming_ = false;
        std::fprintf(stderr, "voicebox: the sound server went away, playing silently\n");
        silent_ = openSilentOutput(rate_, source_);
    }
    static void onTimeout(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
    {
        auto &output = *static_cast<PulseOutput *>(self);
        output.timedOut_ = true;
        pa_threaded_mainloop_signal(output.loop_, 0);
    }
    static void onWrite(pa_stream *, size_t bytes, void *self) { static_cast<PulseOutput *>(self)->write(bytes); }

    const int rate_;
    SoundSource &source_;
    std::atomic<int> latency_{0};
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    pa_time_event *timeout_ = nullptr;
    bool timedOut_ = false;
    bool streaming_ = false; // connected, and not yet lost; under the main loop's lock
    // In the stream's place while the server cannot be reached: set on the connection's thread, and read
    // or let go on the engine's only while there is no such thread.
    std::unique_ptr<Output> silent_;
    // The server's latency after each write, the last few: their median is what the source hears of, so
    // that the moment of one answer does not move the heard position on.
    std::array<int, 15> recent_{};
    size_t recentCount_ = 0;
};

bool PulseOutput::connect()
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "VORT VOICE SYSTEM");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "VORT VOICE SYSTEM", props);
    pa_proplist_free(props);
    if (!context_) {
        disconnect();
        return false;
    }
    pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        disconnect();
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    timedOut_ = false;
    timeout_ = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeout, &PulseOutput::onTimeout, this);
    bool ready = false;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            ready = true;
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(state) || timedOut_)
            break;
        pa_threaded_mainloop_wait(loop_);
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(rate_), 2};
    if (ready) {
        stream_ = pa_stream_new(context_, "Playback", &spec, nullptr);
        ready = stream_ != nullptr;
    }
    if (ready) {
        pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::onWrite, this);
        // The stream's own buffer, beside whatever latency its sink keeps for the other streams: asked
        // for a little at a time, so that what it holds stays near the whole.
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kPulseBufferMs) * PA_USEC_PER_MSEC, &spec));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(pa_frame_size(&spec) * size_t(periodFramesFor(rate_) / 2));
        attr.fragsize = uint32_t(-1);
        const auto flags =
            pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
        ready = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0;
        while (ready) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state) || timedOut_)
                ready = false;
            else
                pa_threaded_mainloop_wait(loop_);
        }
    }
    streaming_ = ready;
    pa_threaded_mainloop_unlock(loop_);
    if (!ready)
        disconnect();
    return ready;
}

void PulseOutput::disconnect()
{
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    streaming_ = false;
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_); // what the server still holds is dropped, not played out
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        if (timeout_)
            pa_threaded_mainloop_get_api(loop_)->time_free(timeout_);
        timeout_ = nullptr;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    recentCount_ = 0;
}

// Runs on the main loop's thread, whenever the server has room.
void PulseOutput::write(size_t bytes)
{
    thread_local const bool realTime = raiseToRealTime(); // once for each connection's thread
    (void)realTime;
    constexpr size_t kFrameBytes = 2 * sizeof(float);
    while (bytes >= kFrameBytes) {
        void *data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream_, &data, &size) < 0 || !data)
            return;
        const int frames = int(std::min(size, bytes) / kFrameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream_);
            return;
        }
        source_.pull(static_cast<float *>(data), frames);
        if (pa_stream_write(stream_, data, size_t(frames) * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= size_t(frames) * kFrameBytes;
    }
    noteLatency();
}

// Just after a write, the latency is what the source counts from its pull: every frame it has handed over
// and that has not yet left the sink.
void PulseOutput::noteLatency()
{
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &usec, &negative) < 0 || negative)
        return;
    const int frames = int((usec * uint64_t(rate_) + PA_USEC_PER_SEC / 2) / PA_USEC_PER_SEC);
    recent_[recentCount_ % recent_.size()] = frames;
    ++recentCount_;
    // A new stream's first answers are told of early: until then the heard position rests on a guess.
    if (recentCount_ < 5)
        return;
    const size_t count = std::min(recentCount_, recent_.size());
    std::array<int, 15> sorted = recent_;
    std::nth_element(sorted.begin(), sorted.begin() + count / 2, sorted.begin() + count);
    const int median = sorted[count / 2];
    // A change under a millisecond is the answers' own jitter.
    if (std::abs(median - latency_) * 1000 >= rate_) {
        latency_ = median;
        source_.latencyMeasured(median);
    }
}
} // namespace

std::unique_ptr<Output> openPulseOutput(int rate, SoundSource &source)
{
    auto output = std::make_unique<PulseOutput>(rate, source);
    if (!output->connect())
        return nullptr;
    return output;
}
