#pragma once

#include "playback/TrackOpening.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class Transport;
class FrmVoice;

// The colours of one frame of the bars, index 0 (outer end) to 9 (centre line).
struct VoiceFrame {
    std::array<uint32_t, 10> centre; // lblVoice3 and lblVoice4
    std::array<uint32_t, 10> outer;  // lblVoice1, 2, 5 and 6
};

// The bars for reach index R: the centre pair bright from 9 down to R, the side columns as the
// centre at R + 3; indices past either end are left out.
VoiceFrame voiceFrame(int32_t reach);
// Nearest integer, a half going to the even neighbour.
double roundHalfEven(double x);
// s of two spectrum values: their mean rounded half to even; nothing when the sum leaves 32 bits.
std::optional<int32_t> spectrumValue(int32_t first, int32_t second);
// R = |14 - (s / 6 + level)| rounded half to even.
int32_t reachIndex(int32_t s, int16_t level);
// The sixty lamps for one tick: spectrum value s and the console's level; a level that could not be
// read leaves R at s, as the tick skips the step that failed.
VoiceFrame voiceLamps(int32_t s, std::optional<int16_t> level);

// The playback timer's tick: follows the engine (the play mode at a track's end is the transport's),
// shows the elapsed time and lights the bars from the spectrum.
class VoiceAnimation : public QObject {
    Q_OBJECT
public:
    using LevelCaption = std::function<QString()>;
    VoiceAnimation(const PlayerContext &context, Transport &transport, LevelCaption level = {});

    void setLevelCaption(LevelCaption level);

public slots:
    void Timer1_Timer();

private:
    void tick();
    void showElapsed(int32_t elapsed);
    // The console's level, parsed again only when its caption changes.
    std::optional<int16_t> level();

    PlayerContext player_;
    Transport &transport_;
    LevelCaption level_;
    int32_t shownElapsed_ = 0;
    QString shownTime_;
    QString readCaption_;
    std::optional<int16_t> readLevel_;
};

// Sets every lamp once to its colour in the frame, so a lamp that keeps its colour is not repainted.
void showVoiceFrame(FrmVoice &w, const VoiceFrame &frame);
// Lights the lamps from element kVoiceBand of both spectrum arrays and the console's level caption.
void showVoiceSpectrum(FrmVoice &w, const int32_t *first, const int32_t *second, const QString &levelCaption);
