// Plays a file through the engine as the program makes it (the device when there is one, the silent
// output when not), and reports whether playback advanced: "playing <state> <elapsed>" on stdout,
// exit 0 when the state was 1 and a second had passed. The no-device test runs it with a broken
// sound set-up and reads what it wrote on stderr.

#include "playback/engine/EngineFactory.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file>\n", argv[0]);
        return 2;
    }
    auto engine = createAudioEngine();
    engine->vbmp3_init();
    TrackInfo info{};
    if (!engine->vbmp3_open(argv[1], info))
        return 3;
    engine->vbmp3_play();
    int32_t elapsed = 0, state = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limit) {
        state = engine->vbmp3_getState(elapsed);
        if (state != PlayStatePlaying || elapsed >= 1)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("playing %d %d\n", int(state), int(elapsed));
    engine->vbmp3_free();
    return state == PlayStatePlaying && elapsed >= 1 ? 0 : 1;
}
