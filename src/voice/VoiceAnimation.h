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

// The console's level read through its caption, parsed again only when the caption changes: the ticks ask
// for it up to 200 times a second. Without a caption the level is 0.
class ConsoleLevel {
public:
    using Caption = std::function<QString()>;
    explicit ConsoleLevel(Caption caption = {}) : caption_(std::move(caption)) {}

    std::optional<int16_t> read();

private:
    Caption caption_;
    bool parsed_ = false;
    QString parsedCaption_;
    std::optional<int16_t> level_;
};

// The playback timer's tick: follows the engine (the play mode at a track's end is the transport's),
// shows the elapsed time and lights the bars from the spectrum.
class VoiceAnimation : public QObject {
    Q_OBJECT
public:
    using LevelCaption = ConsoleLevel::Caption;
    VoiceAnimation(const PlayerContext &context, Transport &transport, LevelCaption level = {});

    void setLevelCaption(LevelCaption level);

public slots:
    void Timer1_Timer();

private:
    void tick();
    void showElapsed(int32_t elapsed);

    PlayerContext player_;
    Transport &transport_;
    ConsoleLevel level_;
    int32_t shownElapsed_ = 0;
    QString shownTime_;
};

// Sets every lamp once to its colour in the frame, so a lamp that keeps its colour is not repainted.
void showVoiceFrame(FrmVoice &w, const VoiceFrame &frame);
// Lights the lamps from element kVoiceBand of both spectrum arrays and the console's level.
void showVoiceSpectrum(FrmVoice &w, const int32_t *first, const int32_t *second, std::optional<int16_t> level);
