#pragma once

#include <QString>
#include <cstdint>

struct AppState;
class AudioEngine;
class Dialogs;
class FrmVoice;

// What the player works on: the shared state, the engine, the dialogs and the main window.
struct PlayerContext {
    AppState &state;
    AudioEngine &engine;
    Dialogs &dialogs;
    FrmVoice &frmVoice;
};

// The text up to, not including, its first NUL; a text without NUL whole.
QString CutAtNul(const QString &text);
// "mm:ss", each part with at least two digits: 75 -> "01:15", 6000 -> "100:00".
QString FormatPlayTime(int32_t seconds);
// A sampling rate in Hz as kHz in its shortest decimal form, with the user's decimal separator.
QString formatKiloHertz(int32_t hertz);

// Hands CurrentFile to the engine and shows the track's properties. On refusal stops the playback
// tick, shows "停止" and dark bars, then the one "ErrNo : N Open Error" box; the track's property
// labels stay as they were. Returns whether the engine took the file.
bool OpenCurrentTrack(const PlayerContext &p);
