#include "PulseLatency.h"

#include <cstring>
#include <pulse/pulseaudio.h>
#include <string>
#include <unistd.h>

namespace {
struct Listing {
    std::string pid = std::to_string(::getpid());
    bool done = false;
    bool found = false;
    uint32_t index = 0;
    pa_usec_t queued = 0;
};
} // namespace

PulseLatency::PulseLatency(std::chrono::milliseconds timeout)
{
    loop_ = pa_mainloop_new();
    if (!loop_)
        return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "VORT VOICE SYSTEM");
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    iterateUntil(
        [this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        Clock::now() + timeout);
}

PulseLatency::~PulseLatency()
{
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_mainloop_free(loop_);
}

bool PulseLatency::connected() const
{
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

template <typename Done> bool PulseLatency::iterateUntil(Done done, Clock::time_point deadline)
{
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (pa_mainloop_prepare(loop_, int(left.count())) < 0 || pa_mainloop_poll(loop_) < 0 ||
            pa_mainloop_dispatch(loop_) < 0)
            return false;
    }
    return true;
}

std::optional<PulseLatency::Answer> PulseLatency::ask(std::chrono::milliseconds timeout)
{
    if (!connected())
        return std::nullopt;
    Listing listing;
    const auto asked = Clock::now();
    pa_operation *op = pa_context_get_sink_input_info_list(
        context_,
        [](pa_context *, const pa_sink_input_info *info, int eol, void *data) {
            auto &l = *static_cast<Listing *>(data);
            if (eol != 0) {
                l.done = true;
                return;
            }
            const char *pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
            // The newest of ours: an output just closed may still be listed.
            if (pid && l.pid == pid && (!l.found || info->index > l.index)) {
                l.found = true;
                l.index = info->index;
                l.queued = info->buffer_usec + info->sink_usec;
            }
        },
        &listing);
    if (!op)
        return std::nullopt;
    const bool answered = iterateUntil([&listing] { return listing.done; }, asked + timeout);
    const auto back = Clock::now();
    if (!answered) {
        pa_operation_cancel(op); // its callback is not called again
        pa_operation_unref(op);
        return std::nullopt;
    }
    pa_operation_unref(op);
    if (!listing.found)
        return std::nullopt;
    return Answer{std::chrono::microseconds(listing.queued), asked + (back - asked) / 2,
                  std::chrono::duration_cast<std::chrono::microseconds>(back - asked)};
}
