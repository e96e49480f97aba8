#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The record exchanged with the engine at open: laid out byte for byte as the engine writes it.
struct TrackInfo {
    char Description1[128];
    char Description2[128];
    int32_t Channels;
    int32_t BitValue;     // kbit/s, or bits per sample for integer-PCM wave files
    int32_t SamplingRate; // Hz
    int32_t TotalSeconds;
};
static_assert(sizeof(TrackInfo) == 272, "TrackInfo is 272 bytes");

enum PlayState : int32_t {
    PlayStateStopped = 0,
    PlayStatePlaying = 1,
    PlayStatePaused = 2,
};

constexpr int kSpectrumSize = 256;
// The element that measures the voice band (300 to 3400 Hz); the lamps follow it.
constexpr int kVoiceBand = 128;

// Why an open was refused; vbmp3_getLastErrorNo() returns one of these.
enum EngineError : int32_t {
    ErrNone = 0,
    ErrNotFound = 1,      // no such file
    ErrNotRegular = 2,    // a directory, FIFO, device or socket
    ErrEmpty = 3,         // zero bytes
    ErrUnreadable = 4,    // permission or I/O error
    ErrNotAudio = 5,      // neither MP3 nor WAV
    ErrUnsupported = 6,   // a WAV codec or layout we refuse (ADPCM, GSM, rates, channel counts)
    ErrCorrupt = 7,       // recognised, but cannot be decoded
    ErrNotInitialised = 8 // vbmp3_init was not called, or vbmp3_free was
};

// What the lamps follow when no track plays.
enum class FollowSource { Off, Desktop, Microphone };

// Whether a source can be captured now, and why not when it cannot.
struct FollowStatus {
    bool available = false;
    std::string why; // one line for the user; empty when available
};

// The ten operations the player uses. Every call comes from the user-interface thread and returns at once.
class AudioEngine {
public:
    virtual ~AudioEngine() = default;

    virtual void vbmp3_init() = 0;
    virtual void vbmp3_free() = 0;
    // Opens path (UTF-8) as the one open file, replacing any earlier one; fills info.
    virtual bool vbmp3_open(const std::string &path, TrackInfo &info) = 0;
    virtual void vbmp3_play() = 0;    // from the beginning
    virtual void vbmp3_stop() = 0;    // state 0; the next play starts from the beginning
    virtual void vbmp3_pause() = 0;   // state 2, whatever the state was
    virtual void vbmp3_restart() = 0; // state 2 becomes 1
    // Returns the PlayState; elapsed receives the heard time in whole seconds.
    virtual int32_t vbmp3_getState(int32_t &elapsed) = 0;
    // Fills both arrays of kSpectrumSize values: first the left channel, second the right.
    virtual void vbmp3_getSpectrum(int32_t *first, int32_t *second) = 0;
    virtual int32_t vbmp3_getLastErrorNo() = 0;

    // The sound the lamps follow when no track plays: none, the default output's monitor or the default
    // input. Captured on the engine's own thread; the choice survives vbmp3_free.
    virtual void setFollowSource(FollowSource source) = 0;
    // Whether source can be captured. A first query may wait briefly for the sound server to answer.
    virtual FollowStatus followStatus(FollowSource source) = 0;
    // Both arrays as vbmp3_getSpectrum fills them, from the latest sound of the followed source; zeros
    // when it is off or nothing has been captured.
    virtual void getFollowSpectrum(int32_t *first, int32_t *second) = 0;
    // Called on the engine's own thread whenever newly captured sound may change what getFollowSpectrum
    // gives; no longer once the followed sound has stayed silent for a second. Empty for none. Once this
    // returns, the listener it replaced is not running and is not called again.
    virtual void setFollowListener(std::function<void()> listener) = 0;
};
