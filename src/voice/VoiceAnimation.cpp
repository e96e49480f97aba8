#include "VoiceAnimation.h"

#include "console/Level.h"
#include "playback/Transport.h"
#include "playback/engine/AudioEngine.h"
#include "state/AppState.h"
#include "windows/FrmVoice.h"

#include <cmath>
#include <limits>

namespace {
const QString kNoLength = QStringLiteral("00:00");
const QString kPlaying = QStringLiteral("再生中");
// R = |14 - (s / 6 + level)|: a spectrum value of 84 with level 0 reaches the outer end (R = 0), 0
// leaves every centre lamp dark (R = 14).
constexpr double kReachOffset = 14;
constexpr double kSpectrumPerStep = 6;

// Runs one step of the tick; a step that fails is skipped and the tick goes on.
template <class Step> bool attempt(Step step) noexcept
{
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}

uint32_t centreShade(int64_t i, int64_t r)
{
    if (i >= r)
        return VoiceShade::Bright;
    if (i == r - 1 || i == r - 2)
        return VoiceShade::Mid;
    if (i == r - 3 || i == r - 4)
        return VoiceShade::Dim;
    return VoiceShade::Unlit;
}
} // namespace

VoiceFrame voiceFrame(int32_t reach)
{
    VoiceFrame frame{};
    for (int i = 0; i < 10; ++i) {
        frame.centre[size_t(i)] = centreShade(i, reach);
        frame.outer[size_t(i)] = centreShade(i, int64_t(reach) + 3);
    }
    return frame;
}

double roundHalfEven(double x)
{
    const double below = std::floor(x);
    const double fraction = x - below;
    if (fraction > 0.5)
        return below + 1;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::optional<int32_t> spectrumValue(int32_t first, int32_t second)
{
    const int64_t sum = int64_t(first) + second;
    if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(roundHalfEven(double(sum) / 2));
}

int32_t reachIndex(int32_t s, int16_t level)
{
    // |s| / 6 stays far inside 32 bits, so the result always fits.
    return int32_t(roundHalfEven(std::fabs(kReachOffset - (s / kSpectrumPerStep + level))));
}

VoiceFrame voiceLamps(int32_t s, std::optional<int16_t> level)
{
    return voiceFrame(level ? reachIndex(s, *level) : s);
}

void showVoiceFrame(FrmVoice &w, const VoiceFrame &frame)
{
    for (size_t i = 0; i < 10; ++i) {
        for (int a : {1, 2, 5, 6})
            w.voiceArray(a)[i]->setColor(frame.outer[i]);
        w.lblVoice3[i]->setColor(frame.centre[i]);
        w.lblVoice4[i]->setColor(frame.centre[i]);
    }
}

VoiceAnimation::VoiceAnimation(const PlayerContext &context, Transport &transport, LevelCaption level)
    : player_(context), transport_(transport), level_(std::move(level))
{
}

void VoiceAnimation::setLevelCaption(LevelCaption level)
{
    level_ = ConsoleLevel(std::move(level));
}

void VoiceAnimation::Timer1_Timer()
{
    attempt([this] { tick(); }); // nothing escapes into the event loop
}

void VoiceAnimation::tick()
{
    int32_t elapsed = 0;
    int32_t state = PlayStateStopped;
    // A state that could not be queried is unknown, not "ended": the list does not move on it.
    if (attempt([&] { state = player_.engine.vbmp3_getState(elapsed); })) {
        if (state == PlayStateStopped) {
            if (!transport_.followTrackEnd())
                return;
        } else if (state == PlayStatePlaying && player_.frmVoice.lblState->text() != kPlaying) {
            // QLabel::setText tells accessibility of every call, even with the text it already shows.
            player_.frmVoice.lblState->setText(kPlaying);
        }
    }

    if (player_.frmVoice.lblTotalTime->text() != kNoLength)
        showElapsed(elapsed);

    std::array<int32_t, kSpectrumSize> first{}, second{};
    attempt([&] { player_.engine.vbmp3_getSpectrum(first.data(), second.data()); });
    showVoiceSpectrum(player_.frmVoice, first.data(), second.data(), level_.read());
}

void VoiceAnimation::showElapsed(int32_t elapsed)
{
    // The time changes once a second: formatting it 200 times a second was most of the tick. The label is
    // compared too, as STOP and FILE set it back to 00:00 behind the tick's back.
    QLabel &time = *player_.frmVoice.lblTime;
    if (elapsed == shownElapsed_ && time.text() == shownTime_)
        return;
    shownTime_ = FormatPlayTime(elapsed);
    shownElapsed_ = elapsed;
    time.setText(shownTime_);
}

std::optional<int16_t> ConsoleLevel::read()
{
    if (!caption_)
        return 0;
    QString caption = caption_();
    if (!parsed_ || caption != parsedCaption_) {
        level_ = readLevel(caption);
        parsedCaption_ = std::move(caption);
        parsed_ = true;
    }
    return level_;
}

void showVoiceSpectrum(FrmVoice &w, const int32_t *first, const int32_t *second, std::optional<int16_t> level)
{
    int32_t s = 0;
    if (auto value = spectrumValue(first[kVoiceBand], second[kVoiceBand]))
        s = *value;
    // Clearing and relighting folded into one pass: the same frame, without repainting unchanged lamps.
    showVoiceFrame(w, voiceLamps(s, level));
}
