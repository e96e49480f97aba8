#include "EngineFactory.h"

#include <cstring>

namespace {
// Placeholder until the real engine lands: refuses every file.
class PlaceholderEngine : public AudioEngine {
public:
    void vbmp3_init() override {}
    void vbmp3_free() override {}
    bool vbmp3_open(const std::string &, TrackInfo &) override { return false; }
    void vbmp3_play() override {}
    void vbmp3_stop() override {}
    void vbmp3_pause() override {}
    void vbmp3_restart() override {}
    int32_t vbmp3_getState(int32_t &elapsed) override
    {
        elapsed = 0;
        return PlayStateStopped;
    }
    void vbmp3_getSpectrum(int32_t *first, int32_t *second) override
    {
        std::memset(first, 0, sizeof(int32_t) * kSpectrumSize);
        std::memset(second, 0, sizeof(int32_t) * kSpectrumSize);
    }
    int32_t vbmp3_getLastErrorNo() override { return ErrNotAudio; }
};
} // namespace

std::unique_ptr<AudioEngine> createAudioEngine()
{
    return std::make_unique<PlaceholderEngine>();
}
