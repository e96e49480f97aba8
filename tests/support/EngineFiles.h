#pragma once

#include "AudioFixtures.h"
#include "Wait.h"
#include "playback/engine/Vbmp3Engine.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

// The sound files the engine tests of one program share, each made on first use.
class Files {
public:
    static Files &get();
    std::string wav(const std::string &name, const fixtures::Wave &w);
    std::string mp3(const std::string &name, fixtures::Mp3Kind kind, double seconds = 2.5, int channels = 2);
    std::string good() { return wav("good.wav", fixtures::Wave{.seconds = 0.3}); }
    fixtures::TempFolder folder;
};

// An initialised engine on the silent output, which plays at the pace of a real device.
class Engine : public ::testing::Test {
protected:
    void SetUp() override { engine.vbmp3_init(); }
    Vbmp3Engine engine{OutputKind::Silent};
    TrackInfo info{};
};

inline int32_t stateOf(AudioEngine &engine)
{
    int32_t elapsed = 0;
    return engine.vbmp3_getState(elapsed);
}

inline std::string text(const char (&field)[128])
{
    return std::string(field, strnlen(field, sizeof field));
}

std::string readAll(const std::string &path);
// Entries of a folder, "." and ".." included: /proc/self/fd counts open descriptors, /proc/self/task threads.
int countEntries(const char *dir);
